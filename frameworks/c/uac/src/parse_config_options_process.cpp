// The `process` class: one process the init daemon manages (how to start,
// stop, query and set it up), and the server's process list.
#include "uac/cv_uac_server_classes.h"

#include "parse_config_options_server_list.h"

namespace {

void process_release(cv_uac_config_object *object) {
    cv_uac_config_impl::release_list_after(reinterpret_cast<cv_uac_process *>(object));
}

}  // namespace

CV_UAC_DEFINE_CLASS(process, CV_UAC_PROCESS_CLASS_FLAGS, cv_uac_base_class, nullptr, nullptr,
                    .release_hook = process_release);

cv_status cv_uac_get_process_list(const cv_uac_conf_set *set, cv_btree *variables,
                                  cv_uac_process **head) {
    if (!head) return CV_E_INVALID;
    *head = nullptr;
    cv_uac_config_impl::list_builder<cv_uac_process> builder(&cv_uac_process_class, set,
                                                             variables, head);
    cv_uac_config_impl::take_matches(set, builder, PARSE_XML_TAG_server, PARSE_XML_TAG_initd,
                                     PARSE_XML_TAG_processes, PARSE_XML_TAG_process,
                                     PARSE_XML_END);
    return builder.status();
}
