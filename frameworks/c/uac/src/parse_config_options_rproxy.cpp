// The `rproxy` class: one reverse-proxy rule (the port it listens on, the
// host or balanced hosts it forwards to, and how), and the server's rule
// list.
//
// A rule forwards to its one `host`, or, with load balancing, to its
// `hosts`; a rule that has neither a host nor balancing over some hosts
// forwards nowhere, which validation reports.
#include "uac/cv_uac_server_classes.h"

#include "parse_config_options_server_list.h"

namespace {

cv_uac_rproxy *as_rproxy(cv_uac_config_object *object) {
    return reinterpret_cast<cv_uac_rproxy *>(object);
}

bool has_text(const char *text) { return text && text[0] != '\0'; }

cv_status rproxy_validate(cv_uac_config_object *object, cv_uac_warning **warnings,
                          std::int32_t strictness) {
    const cv_uac_rproxy *rule = as_rproxy(object);
    cv_status status = CV_OK;
    if (strictness < 0) return status;
    const bool balanced = has_text(rule->balancing) && cv_uac_string_list_first(rule->hosts);
    if (!balanced && !has_text(rule->host))
        report_setting(3 - strictness, &status, warnings, "%s", CV_UAC_RPROXY_NO_HOST_TEXT);
    return status;
}

void rproxy_release(cv_uac_config_object *object) {
    cv_uac_config_impl::release_list_after(as_rproxy(object));
}

}  // namespace

CV_UAC_DEFINE_CLASS(rproxy, CV_UAC_RPROXY_CLASS_FLAGS, cv_uac_base_class, nullptr, nullptr,
                    .validate = rproxy_validate, .release_hook = rproxy_release);

cv_status cv_uac_get_rproxy_rules(const cv_uac_conf_set *set, cv_btree *variables,
                                  cv_uac_rproxy **head) {
    if (!head) return CV_E_INVALID;
    *head = nullptr;
    cv_uac_config_impl::list_builder<cv_uac_rproxy> builder(&cv_uac_rproxy_class, set, variables,
                                                            head);
    cv_uac_config_impl::take_matches(set, builder, PARSE_XML_TAG_server, PARSE_XML_TAG_rproxy,
                                     PARSE_XML_TAG_rules, PARSE_XML_TAG_rule, PARSE_XML_END);
    return builder.status();
}
