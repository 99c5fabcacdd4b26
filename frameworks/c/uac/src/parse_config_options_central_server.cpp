// The `central_server` class: the central management service, with its
// persistent store and transfer list paths expanded once the object is
// read.
//
// A path that cannot be expanded is logged and its buffer left empty; the
// option keeps the text as configured, so the object stays usable.
#include "cvplatform/cv_log.h"
#include "cvplatform/cv_str.h"
#include "uac/cv_uac_server_classes.h"

#include "parse_config_options_server_list.h"

namespace {

/* Expands `text` (null: the empty text) into `buffer`; false, with the
 * buffer empty, when it cannot be expanded. */
bool expand_into(const char *text, cv_btree *variables, char *buffer, std::size_t size) {
    buffer[0] = '\0';
    if (cv_parse_variables_into_string(text ? text : "", buffer, size, variables, nullptr) ==
        CV_OK)
        return true;
    buffer[0] = '\0';
    return false;
}

/* The defaults object (no request) and an object without a variable tree
 * keep their buffers empty. */
cv_status central_server_build(cv_uac_config_object *object, const cv_uac_load_request *request) {
    auto *server = reinterpret_cast<cv_uac_central_server *>(object);
    if (!request || !object->variables) return CV_OK;
    if (!expand_into(server->persistent_store_path, object->variables,
                     server->expanded_persistent_store_path,
                     sizeof server->expanded_persistent_store_path))
        cv_log_error("Unable to parse persistent store path %s.",
                     server->persistent_store_path ? server->persistent_store_path : "");
    if (!expand_into(server->transfer_list_path, object->variables,
                     server->expanded_transfer_list_path,
                     sizeof server->expanded_transfer_list_path))
        cv_log_error("Unable to parse transfer list path %s.",
                     server->transfer_list_path ? server->transfer_list_path : "");
    return CV_OK;
}

}  // namespace

CV_UAC_DEFINE_CLASS(central_server, CV_UAC_CENTRAL_SERVER_CLASS_FLAGS, cv_uac_base_class,
                    nullptr, nullptr, .build = central_server_build);

cv_status cv_uac_load_central_server(const cv_uac_conf_set *set, xmlNode *const *entries,
                                     cv_btree *variables, std::int32_t alternates,
                                     cv_uac_central_server **out) {
    return cv_uac_config_impl::load_single(&cv_uac_central_server_class, set, entries, variables,
                                           alternates, out);
}
