// The `provider` class: one authentication provider of the server, and the
// server's provider list.
//
// A type filter is a wildcard pattern for the providers' `type` texts.  A
// filter that no provider matches still yields one provider, of defaults,
// whose type is the filter text, so that a caller asking for one kind of
// provider always gets one to work with (the filter "CV_NULL", which names
// no type, is refused).
#include <cstring>
#include <string_view>

#include "uac/cv_uac_memory_heap.h"
#include "uac/cv_uac_server_classes.h"

#include "parse_config_options_server_list.h"

namespace {

using cv_uac_config_impl::list_builder;

/* set_by_name reads a text that begins with "?" as a condition ("?X:T"
 * applies T when the value reads X).  A filter that begins with "?" is
 * set behind the condition "not ?", which a provider without a type always
 * meets, so that the whole filter is the value. */
constexpr std::string_view kUnconditional = "?!?:";

void provider_release(cv_uac_config_object *object) {
    cv_uac_config_impl::release_list_after(reinterpret_cast<cv_uac_provider *>(object));
}

/* Sets the type of the provider `object` (which has none) to `filter`
 * exactly.  The text "CV_NULL" would restore the no-value default and is
 * refused (22). */
cv_status set_type(cv_uac_config_object *object, const char *filter) {
    if (std::strcmp(filter, "CV_NULL") == 0) return CV_E_INVALID;
    if (filter[0] != '?')
        return cv_uac_config_set_by_name(object, "type", filter, &object->warnings);
    const std::size_t length = std::strlen(filter);
    auto *text = static_cast<char *>(
        CV_UAC_MALLOC(kUnconditional.size() + length + 1, "Provider type filter"));
    if (!text) return CV_E_NO_MEMORY;
    std::memcpy(text, kUnconditional.data(), kUnconditional.size());
    std::memcpy(text + kUnconditional.size(), filter, length + 1);
    const cv_status status = cv_uac_config_set_by_name(object, "type", text, &object->warnings);
    cv_uac_free(text);
    return status;
}

/* The list without matches: one provider of defaults with type `filter`. */
cv_status default_provider(const cv_uac_conf_set *set, cv_btree *variables, const char *filter,
                           cv_uac_provider **head) {
    const cv_uac_load_request request{set, nullptr, variables, nullptr, 0};
    cv_uac_config_object *object = nullptr;
    if (cv_status status = cv_uac_config_load(&cv_uac_provider_class, &request, &object);
        status != CV_OK || !object)
        return status != CV_OK ? status : CV_E_NO_MEMORY;
    if (const cv_status status = set_type(object, filter); status != CV_OK) {
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
