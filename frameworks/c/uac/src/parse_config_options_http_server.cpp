// The `http_server` class: the HTTP and HTTPS transfer service.  Both
// listeners may be enabled at once, so their ports must differ.
#include "uac/cv_uac_server_classes.h"

#include "parse_config_options_server_list.h"

namespace {

cv_status http_server_validate(cv_uac_config_object *object, cv_uac_warning **warnings,
                               std::int32_t strictness) {
    const auto *server = reinterpret_cast<const cv_uac_http_server *>(object);
    cv_status status = CV_OK;
    if (strictness >= 0 && server->http_port == server->https_port)
        report_setting(3 - strictness, &status, warnings, CV_UAC_HTTP_SERVER_SAME_PORTS_FORMAT,
                       server->http_port);
    return status;
}

}  // namespace

CV_UAC_DEFINE_CLASS(http_server, CV_UAC_HTTP_SERVER_CLASS_FLAGS, cv_uac_base_class, nullptr,
                    nullptr, .validate = http_server_validate);

cv_status cv_uac_load_http_server(const cv_uac_conf_set *set, xmlNode *const *entries,
                                  cv_btree *variables, std::int32_t alternates,
                                  cv_uac_http_server **out) {
    return cv_uac_config_impl::load_single(&cv_uac_http_server_class, set, entries, variables,
                                           alternates, out);
}
