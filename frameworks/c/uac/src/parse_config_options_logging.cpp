// The `logging` class: its catalogue, its descriptor and the selection of
// the logging elements that apply to a logging class.
//
// Selection reads only the `classes` option of each candidate, with the
// same variables and fitness the object itself would use, so a candidate's
// other values are read once, from the selected elements, and a bad value
// is reported once.  The candidates under the user's entries come before
// those at the configuration's root, so a user's or group's own logging
// settings win over the server-wide ones.  A logging override file holds a
// server-wide `logging/log_setting` element with the object's classes: it
// applies to every logging class those select.
#include <cstring>

#include "cvplatform/cv_containers.h"
#include "cvplatform/cv_str.h"
#include "parse_config_options_internal.h"
#include "uac/cv_uac_classes.h"
#include "uac/cv_uac_memory_heap.h"

namespace {

constexpr const auto &kCatalogue = cv_uac_logging_catalogue;

constexpr std::size_t row_of(const char *key) {
    for (std::size_t i = 0; i < std::size(kCatalogue); ++i)
        if (std::string_view(kCatalogue[i].key) == key) return i;
    return std::size(kCatalogue);
}
constexpr std::size_t kClassesRow = row_of("classes");
static_assert(kClassesRow < std::size(kCatalogue), "the logging catalogue names its classes");

/* A logging override goes where the server-wide settings are, with the
 * classes that select it. */
constexpr std::int32_t kConfDPath[] = {PARSE_XML_TAG_logging, PARSE_XML_TAG_log_setting,
                                       PARSE_XML_END};
constexpr const char *kConfDKeys[] = {"classes", nullptr};

/* The elements chosen so far, null-terminated. */
struct selection {
    xmlNode *elements[CV_UAC_LOGGING_MAX_SELECTED + 1] = {};
    std::size_t count = 0;
    bool full() const { return count == CV_UAC_LOGGING_MAX_SELECTED; }
};

/* True when one ";"-separated part of `classes` matches `wanted`. */
bool classes_match(char *classes, const char *wanted) {
    for (char *part = classes;;) {
        char *separator = std::strchr(part, ';');
        if (separator) *separator = '\0';
        if (cv_wildcard_match(part, wanted) == 0) return true;
        if (!separator) return false;
        part = separator + 1;
    }
}

void consider(xmlNode *candidate, const char *wanted, const cv_uac_logging *defaults,
              cv_btree *variables, selection *chosen) {
    const cv_uac_option &row = kCatalogue[kClassesRow];
    xmlNode *start[2] = {candidate, nullptr};
    char *classes = nullptr;
    (void)cv_uac_read_option(row.type, &defaults->classes, &classes, row.path, start, row.lookup,
                             nullptr, nullptr, nullptr, variables);
    char *copy = CV_UAC_STRDUP(classes ? classes : "",
                               "Logging application list.  This one will be ignored.");
    (void)cv_uac_type_free(row.type, &classes, &defaults->classes);
    if (!copy) return;
    if (classes_match(copy, wanted)) chosen->elements[chosen->count++] = candidate;
    cv_uac_free(copy);
}

/* Considers every match of the path after `start` until the selection is
 * full. */
template <typename... Tags>
void consider_all(xmlNode *const *start, const char *wanted, const cv_uac_logging *defaults,
                  cv_btree *variables, selection *chosen, Tags... tags) {
    if (!start || chosen->full()) return;
    parse_xml_search_handle *handle = nullptr;
    for (xmlNode *node = parse_xml_get_first_matching_node_args(
             start, &handle, static_cast<int>(tags)..., static_cast<int>(PARSE_XML_END));
         node && !chosen->full(); node = parse_xml_get_next_matching_node(handle, nullptr))
        consider(node, wanted, defaults, variables, chosen);
    if (handle) (void)parse_xml_free_search_handle(handle);
}

}  // namespace

CV_UAC_DEFINE_CLASS(logging, CV_UAC_LOGGING_CLASS_FLAGS, cv_uac_base_class, kConfDPath, kConfDKeys);

cv_status cv_uac_get_logging(const cv_uac_conf_set *set, const char *class_name,
                             cv_btree *variables, xmlNode *const *entries,
                             cv_uac_logging **logging) {
    if (!logging) return CV_E_INVALID;
    *logging = nullptr;
    const char *wanted = class_name;
    if (!wanted &&
        (!variables || cv_btree_get(variables, CV_UAC_LOGGING_CLASS_VARIABLE, &wanted) != CV_OK))
        wanted = nullptr;
    if (!wanted) wanted = "";
    const auto *defaults =
        reinterpret_cast<const cv_uac_logging *>(cv_uac_class_defaults(&cv_uac_logging_class));
    if (!defaults) return CV_E_NO_MEMORY;

    // The candidates' `classes` are read with the variables a logging object
    // would have; without them (out of memory) they are read unexpanded.
    cv_btree *candidate_variables = nullptr;
    (void)cv_uac_config_impl::make_variable_tree(variables, &candidate_variables);
    selection chosen;
    consider_all(entries, wanted, defaults, candidate_variables, &chosen, PARSE_XML_TAG_logging);
    consider_all(set ? set->roots : nullptr, wanted, defaults, candidate_variables, &chosen,
                 PARSE_XML_TAG_logging, PARSE_XML_TAG_log_setting);
    (void)cv_btree_destroy(candidate_variables, nullptr);

    const cv_uac_load_request request{set, chosen.count > 0 ? chosen.elements : nullptr, variables,
                                      nullptr, 0};
    cv_uac_config_object *object = nullptr;
    const cv_status status = cv_uac_config_load(&cv_uac_logging_class, &request, &object);
    *logging = reinterpret_cast<cv_uac_logging *>(object);
    return status;
}
