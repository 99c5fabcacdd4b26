// The `provider` class: one authentication provider of the server, and the
// server's provider list.
//
// A type filter is a wildcard pattern for the providers' `type` texts.  A
// filter that no provider matches still yields one provider, of defaults,
// whose type is the filter text, so that a caller asking for one kind of
// provider always gets one to work with.
#include <cstring>

#include "uac/cv_uac_server_classes.h"

#include "parse_config_options_server_list.h"

namespace {

using cv_uac_config_impl::list_builder;

/* Bytes of the filter text made ready for set_by_name, terminator
 * included: what an override can hold. */
constexpr std::size_t kFilterTextSize = CV_UAC_OVERRIDE_XML_SIZE;

/* The character reference that stands for a leading "?" or "C", so that
 * set_by_name reads the text as a value, never as a condition ("?X:T") or
 * as the no-value marker "CV_NULL". */
constexpr const char *kQuestionMark = "&#63;";
constexpr const char *kLetterC = "&#67;";

void provider_release(cv_uac_config_object *object) {
    cv_uac_config_impl::release_list_after(reinterpret_cast<cv_uac_provider *>(object));
}

/* `filter` as the override text that sets `type` to exactly that text:
 * XML-escaped, a leading "?" or the marker "CV_NULL" written as character
 * references.  0; 28677 when it does not fit `size`. */
cv_status filter_as_override(const char *filter, char *text, std::size_t size) {
    const char *reference = filter[0] == '?'                       ? kQuestionMark
                            : std::strcmp(filter, "CV_NULL") == 0 ? kLetterC
                                                                   : nullptr;
    std::size_t used = 0;
    if (reference) {
        used = std::strlen(reference);
        if (used >= size) return CV_E_BUFFER_SPACE;
        std::memcpy(text, reference, used);
        ++filter;
    }
    if (filter[0] == '\0') {
        text[used] = '\0';
        return CV_OK;
    }
    return cv_uac_escape_string_for_xml(text + used, filter, size - used);
}

/* The list without matches: one provider of defaults with type `filter`. */
cv_status default_provider(const cv_uac_conf_set *set, cv_btree *variables, const char *filter,
                           cv_uac_provider **head) {
    const cv_uac_load_request request{set, nullptr, variables, nullptr, 0};
    cv_uac_config_object *object = nullptr;
    if (cv_status status = cv_uac_config_load(&cv_uac_provider_class, &request, &object);
        status != CV_OK || !object)
        return status != CV_OK ? status : CV_E_NO_MEMORY;
    char text[kFilterTextSize];
    cv_status status = filter_as_override(filter, text, sizeof text);
    if (status == CV_OK)
        status = cv_uac_config_set_by_name(object, "type", text, &object->warnings);
    if (status != CV_OK) {
        cv_uac_config_release(object);
        return status;
    }
    *head = reinterpret_cast<cv_uac_provider *>(object);
    return CV_OK;
}

}  // namespace

CV_UAC_DEFINE_CLASS(provider, CV_UAC_PROVIDER_CLASS_FLAGS, cv_uac_base_class, nullptr, nullptr,
                    .release_hook = provider_release);

cv_status cv_uac_get_provider_list(const cv_uac_conf_set *set, cv_btree *variables,
                                   const char *type_filter, cv_uac_provider **head) {
    if (!head) return CV_E_INVALID;
    *head = nullptr;
    list_builder<cv_uac_provider> builder(&cv_uac_provider_class, set, variables, head);
    if (!type_filter) {
        cv_uac_config_impl::take_matches(set, builder, PARSE_XML_TAG_server,
                                         PARSE_XML_TAG_authentication, PARSE_XML_TAG_provider,
                                         PARSE_XML_END);
        return builder.status();
    }
    cv_uac_config_impl::take_matches(set, builder, PARSE_XML_TAG_server,
                                     PARSE_XML_TAG_authentication, PARSE_XML_TAG_provider,
                                     PARSE_XML_TRIM, PARSE_XML_VALUE_IS_PATTERN, type_filter,
                                     PARSE_XML_TAG_type, PARSE_XML_TAG_Move_Up_to_Parent,
                                     PARSE_XML_END);
    if (*head || builder.status() != CV_OK) return builder.status();
    return default_provider(set, variables, type_filter, head);
}
