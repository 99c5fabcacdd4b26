// The `user` class: its descriptor, its loader, the rule that ties the
// storage layer's chunk size to the protocol's, and the release of what a
// user object holds besides its values.
//
// Everything else a user object does is the option model's (cv_uac_config.h)
// working from the catalogue: the defaults object parses each default text
// once for the process and every object falls back on it.  A duplicate is
// the option model's (the object serialized, wrapped as
// "<CONF version=\"2\">%s</CONF>" in a buffer that grows past 20480 bytes
// rather than cut the text, and read back with the CONF element as its only
// entry) with the realm carried over by value.  The build and validate
// steps live in parse_config_options_user_build.cpp.
#include <string_view>

#include "uac/cv_uac_user.h"

#include "parse_config_options_internal.h"

namespace {

constexpr std::size_t row_of(std::string_view key) {
    for (std::size_t i = 0; i < cv_uac_user_option_count; ++i)
        if (key == cv_uac_user_catalogue[i].key) return i;
    return cv_uac_user_option_count;
}
constexpr std::size_t kStglChunkSizeRow = row_of("stgl_chunk_size");
static_assert(kStglChunkSizeRow < cv_uac_user_option_count,
              "the user catalogue has stgl_chunk_size");

/* An override of a user's option goes where the user's entries are, with
 * the user's name and, when the user has one, its realm (two levels up). */
constexpr std::int32_t kConfDPath[] = {PARSE_XML_TAG_aaa,   PARSE_XML_TAG_realms,
                                       PARSE_XML_TAG_realm, PARSE_XML_TAG_users,
                                       PARSE_XML_TAG_user,  PARSE_XML_END};
constexpr const char *kConfDKeys[] = {"name", "?realm", nullptr};

/* Whether the configuration or an override gave `stgl_chunk_size` a value
 * of its own. */
bool stgl_chunk_size_given(cv_uac_config_object *object) {
    if (*cv_uac_config_impl::source_word(object, kStglChunkSizeRow)) return true;
    return object->generic_form && object->generic_form[kStglChunkSizeRow].is_set;
}

/* The storage layer moves data in the protocol's chunks unless it is told
 * otherwise. */
cv_status user_on_change(cv_uac_config_object *object) {
    auto *user = reinterpret_cast<cv_uac_user *>(object);
    if (stgl_chunk_size_given(object)) return CV_OK;
    user->stgl_chunk_size = user->transfer_protocol_options_chunk_size;
    if (object->generic_form)
        object->generic_form[kStglChunkSizeRow].value_copy = user->stgl_chunk_size;
    return CV_OK;
}

bool climbs(const std::int32_t *path) {
    for (; *path != PARSE_XML_END; ++path)
        if (*path == PARSE_XML_TAG_Move_Up_to_Parent) return true;
    return false;
}

/* The serialized text holds no option whose path climbs out of the entry
 * (the realm, two levels up): a duplicate gets those by value, so that it
 * holds every value the original does.  Without them, no duplicate. */
cv_status user_duplicate(cv_uac_config_object *object, cv_uac_config_object **copy) {
    if (cv_status status = cv_uac_config_impl::base_duplicate(object, copy); status != CV_OK)
        return status;
    const cv_uac_generic_entry *form = cv_uac_user_class.get_generic_form(object, nullptr);
    cv_status status = form ? CV_OK : CV_E_NO_MEMORY;
    for (std::size_t i = 0; status == CV_OK && i < cv_uac_user_option_count; ++i) {
        if (!climbs(cv_uac_user_catalogue[i].path) || !form[i].is_set) continue;
        char *text = nullptr;
        status = cv_uac_type_write_alloc(form[i].type, form[i].value, form[i].lookup, &text);
        if (status == CV_OK)
            status = cv_uac_config_set_by_name(*copy, form[i].name, text, nullptr);
        cv_uac_free(text);
    }
    if (status != CV_OK) {
        cv_uac_config_release(*copy);
        *copy = nullptr;
    }
    return status;
}

template <typename T>
void release_attached(T *&attached) {
    cv_uac_config_release(reinterpret_cast<cv_uac_config_object *>(attached));
    attached = nullptr;
}

/* The attachments of the build step, in the order they are let go. */
void user_release(cv_uac_config_object *object) {
    auto *user = reinterpret_cast<cv_uac_user *>(object);
    release_attached(user->logging);
    release_attached(user->docroots);
    release_attached(user->in_trunk);
    release_attached(user->out_trunk);
}

}  // namespace

CV_UAC_DEFINE_CLASS(user, CV_UAC_USER_CLASS_FLAGS, cv_uac_base_class, kConfDPath, kConfDKeys,
                    .validate = cv_uac_config_impl::user_validate, .duplicate = user_duplicate,
                    .build = cv_uac_config_impl::user_build, .release_hook = user_release,
                    .on_change = user_on_change);

cv_status cv_uac_load_user(const cv_uac_conf_set *set, xmlNode *const *entries,
                           cv_btree *variables, void *context, std::int32_t alternates,
                           cv_uac_user **user) {
    if (!user) return CV_E_INVALID;
    *user = nullptr;
    const cv_uac_load_request request{set, entries, variables, context, alternates};
    cv_uac_config_object *object = nullptr;
    const cv_status status = cv_uac_config_load(&cv_uac_user_class, &request, &object);
    *user = reinterpret_cast<cv_uac_user *>(object);
    return status;
}
