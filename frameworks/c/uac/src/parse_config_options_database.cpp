// The `database` class: the connection to the activity database and what
// is recorded in it.
#include "uac/cv_uac_server_classes.h"

#include "parse_config_options_server_list.h"

CV_UAC_DEFINE_CLASS(database, CV_UAC_DATABASE_CLASS_FLAGS, cv_uac_base_class, nullptr, nullptr);

cv_status cv_uac_load_database(const cv_uac_conf_set *set, xmlNode *const *entries,
                               cv_btree *variables, std::int32_t alternates,
                               cv_uac_database **out) {
    return cv_uac_config_impl::load_single(&cv_uac_database_class, set, entries, variables,
                                           alternates, out);
}
