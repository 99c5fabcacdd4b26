// The `client` class: the cipher and key defaults of the transfer client,
// with the default SSH key's path expanded whenever the object changes.
//
// A key path that begins with "~/" lies in the home folder: the "~" stands
// for the variable home, so "~/.ssh/id" is expanded as "$(home)/.ssh/id".
#include <cstring>

#include "cvplatform/cv_str.h"
#include "uac/cv_uac_server_classes.h"

#include "parse_config_options_server_list.h"

namespace {

constexpr const char *kHomePrefix = "~/";
constexpr const char *kHomeFormat = "$(home)%s";

/* Empties the key path buffer, or fills it with `ssh_key` expanded; a key
 * path that cannot be expanded leaves it empty and adds a warning. */
cv_status client_on_change(cv_uac_config_object *object) {
    auto *client = reinterpret_cast<cv_uac_client *>(object);
    client->expanded_ssh_key[0] = '\0';
    if (!client->ssh_key) return CV_OK;

    char path[CV_UAC_SERVER_PATH_SIZE];
    const char *source = client->ssh_key;
    if (std::strncmp(source, kHomePrefix, std::strlen(kHomePrefix)) == 0) {
        // The rewritten text must fit whole: a cut path would name another file.
        if (std::strlen(kHomeFormat) - 2 + std::strlen(source + 1) >= sizeof path ||
            cv_snprintf(path, sizeof path, kHomeFormat, source + 1) < 0) {
            add_warning(&object->warnings, CV_E_BUFFER_SPACE, "%s", CV_UAC_CLIENT_KEY_PATH_TEXT);
            return CV_OK;
        }
        source = path;
    }
    const cv_status status = cv_parse_variables_into_string(
        source, path, sizeof path, object->variables, nullptr);
    if (status != CV_OK) {
        add_warning(&object->warnings, status, "%s", CV_UAC_CLIENT_KEY_PATH_TEXT);
        return CV_OK;
    }
    std::memcpy(client->expanded_ssh_key, path, std::strlen(path) + 1);
    return CV_OK;
}

}  // namespace

CV_UAC_DEFINE_CLASS(client, CV_UAC_CLIENT_CLASS_FLAGS, cv_uac_base_class, nullptr, nullptr,
                    .on_change = client_on_change);

cv_status cv_uac_load_client(const cv_uac_conf_set *set, xmlNode *const *entries,
                             cv_btree *variables, std::int32_t alternates, cv_uac_client **out) {
    return cv_uac_config_impl::load_single(&cv_uac_client_class, set, entries, variables,
                                           alternates, out);
}
