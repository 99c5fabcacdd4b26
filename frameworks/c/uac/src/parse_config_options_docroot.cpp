// The `docroot` class: its catalogue, its descriptor, the post-processing
// of a docroot read from the configuration and the building of a user's
// docroot list.
//
// Post-processing turns the configured texts into the paths the transfer
// tools compare with: the real path and the shown path with their variables
// expanded and brought into canonical form (the shown path also rooted, so
// that a docroot without `show_as` is shown as "/"), the separator that
// joins the real path with a path below it, and the filter's depth.
//
// The list is kept ordered by decreasing length of the shown path by
// insertion: a new docroot goes before the first one whose shown path is
// shorter, so docroots of equal length keep entry order.  Every docroot of
// the same length or longer is passed on the way, so a docroot shown as the
// path of an earlier one (ignoring letter case, which has the same length)
// is always met and dropped there.
#include <cstring>

#include "cvplatform/cv_log.h"
#include "cvplatform/cv_path.h"
#include "cvplatform/cv_str.h"
#include "uac/cv_uac_docroot.h"
#include "uac/cv_uac_memory_heap.h"

namespace {

constexpr std::string_view kSchemeEnd = "://";

cv_uac_docroot *as_docroot(cv_uac_config_object *object) {
    return reinterpret_cast<cv_uac_docroot *>(object);
}

char fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equal_ignoring_case(const char *a, const char *b) {
    for (; *a && fold(*a) == fold(*b); ++a, ++b) {
    }
    return fold(*a) == fold(*b);
}

bool is_scheme_character(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '+' || c == '-' || c == '.';
}

/* The length of the URL prefix of `path` that canonicalisation leaves as
 * it is (scheme, "://" and one "/" after it), or 0 when `path` is no URL. */
std::size_t url_prefix_length(std::string_view path) {
    const std::size_t end = path.find(kSchemeEnd);
    if (end == std::string_view::npos || end < 2) return 0;
    const char first = path[0];
    if (!((first >= 'a' && first <= 'z') || (first >= 'A' && first <= 'Z'))) return 0;
    for (std::size_t i = 1; i < end; ++i)
        if (!is_scheme_character(path[i])) return 0;
    std::size_t length = end + kSchemeEnd.size();
    if (length < path.size() && path[length] == '/') ++length;
    return length;
}

/* Expands the variables of `text` into `buffer`; without a variable tree the
 * text is taken as it is.  False (the buffer as the expansion left it) when
 * it cannot be expanded. */
bool expand(const char *text, cv_btree *variables, char *buffer, std::size_t size) {
    if (!text) text = "";
    if (!variables) return cv_str_copy(buffer, text, size) == CV_OK;
    return cv_parse_variables_into_string(text, buffer, size, variables, nullptr) == CV_OK;
}

void set_real_path(cv_uac_docroot *docroot) {
    const char *absolute = docroot->absolute ? docroot->absolute : "";
    if (cv_uac_docroot_path_refused(absolute, CV_UAC_NATIVE_PATH_RULES))
        add_warning(&docroot->object.warnings, CV_UAC_DOCROOT_REFUSED_STATUS, "%s",
                    CV_UAC_DOCROOT_REFUSED_TEXT);
    if (!expand(absolute, docroot->object.variables, docroot->expanded_absolute,
                sizeof docroot->expanded_absolute))
        cv_log_error("Unable to parse docroot absolute path %s.", absolute);
    if (cv_uac_docroot_canonicalize(docroot->expanded_absolute,
                                    sizeof docroot->expanded_absolute) < 0)
        cv_log_error("Unable to canonicalize docroot absolute path %s.", absolute);
    docroot->separator = cv_path_is_relative(docroot->expanded_absolute) ? '\0' : '/';
}

void set_shown_path(cv_uac_docroot *docroot) {
    const char *show_as = docroot->show_as ? docroot->show_as : "";
    if (!expand(show_as, docroot->object.variables, docroot->expanded_show_as,
                sizeof docroot->expanded_show_as))
        cv_log_error("Unable to parse docroot show as path %s.", show_as);
    if (cv_uac_rooted_path(docroot->expanded_show_as, docroot->expanded_show_as,
                           sizeof docroot->expanded_show_as) < 0)
        cv_log_error("Unable to canonicalize docroot show as path %s.", show_as);
}

/* The filter's copy and depth: a Directory filter spans one component more
 * for each "/" after its first character. */
void set_filter(cv_uac_docroot *docroot) {
    const char *filter = docroot->filter;
    if (!filter) return;
    const std::size_t length = std::strlen(filter);
    if (length >= CV_UAC_DOCROOT_FILTER_SIZE) {
        add_warning(&docroot->object.warnings, CV_E_INVALID,
                    "Docroot filter is longer than %zu bytes.  It will be ignored.",
                    CV_UAC_DOCROOT_FILTER_SIZE - 1);
        return;
    }
    std::uint64_t count = 1;
    if (docroot->filter_scope == CV_UAC_DOCROOT_FILTER_DIRECTORY)
        for (std::size_t i = 1; i < length; ++i)
            if (filter[i] == '/') ++count;
    docroot->filter_component_count = count;
    docroot->filter_copy =
        CV_UAC_STRDUP(filter, "Docroot filter copy.  The filter will be ignored.");
}

/* Restrictions compare with lower-cased names. */
void lower_restrictions(cv_uac_docroot *docroot) {
    const cv_uac_docroot *defaults = cv_uac_docroot_defaults();
    // The defaults' list is shared by every docroot that sets none.
    if (!docroot->file_restriction ||
        (defaults && docroot->file_restriction == defaults->file_restriction))
        return;
    for (const char *item = cv_uac_string_list_first(docroot->file_restriction); item;
         item = cv_uac_string_list_next(item))
        for (char *c = const_cast<char *>(item); *c; ++c) *c = fold(*c);
}

cv_status docroot_build(cv_uac_config_object *object, const cv_uac_load_request *request) {
    cv_uac_docroot *docroot = as_docroot(object);
    set_real_path(docroot);
    set_shown_path(docroot);
    set_filter(docroot);
    // Without a request the object is the defaults, whose list is shared.
    if (request) lower_restrictions(docroot);
    docroot->next = nullptr;
    return CV_OK;
}

/* Frees the filter copy and lets go of the rest of the list.  The rest is
 * walked here rather than through each docroot's own release, so that a
 * long list does not nest one release per docroot; a docroot that someone
 * else still holds keeps its tail. */
void docroot_release(cv_uac_config_object *object) {
    cv_uac_docroot *docroot = as_docroot(object);
    cv_uac_free(docroot->filter_copy);
    docroot->filter_copy = nullptr;
    cv_uac_docroot *rest = docroot->next;
    docroot->next = nullptr;
    while (rest) {
        cv_uac_docroot *after = rest->next;
        const bool last_hold = rest->object.header.lock_count <= 1;
        if (last_hold) rest->next = nullptr;
        cv_uac_config_release(&rest->object);
        if (!last_hold) break;
        rest = after;
    }
}

/* Puts `docroot` into the list at `*head` by its shown path, or releases
 * it when an earlier docroot is shown as the same path. */
void insert(cv_uac_docroot **head, cv_uac_docroot *docroot) {
    const std::size_t length = std::strlen(docroot->expanded_show_as);
    cv_uac_docroot **link = head;
    for (; *link; link = &(*link)->next) {
        if (std::strlen((*link)->expanded_show_as) < length) break;
        if (equal_ignoring_case((*link)->expanded_show_as, docroot->expanded_show_as)) {
            cv_uac_config_release(&docroot->object);
            return;
        }
    }
    docroot->next = *link;
    *link = docroot;
}

}  // namespace

CV_UAC_DEFINE_CLASS(docroot, CV_UAC_DOCROOT_CLASS_FLAGS, cv_uac_base_class, nullptr, nullptr,
                    .build = docroot_build, .release_hook = docroot_release);

bool cv_uac_docroot_path_refused(const char *absolute, cv_uac_path_rules rules) {
    if (rules != cv_uac_path_rules::windows || !absolute) return false;
    return absolute[0] == '/' && absolute[1] != '/';
}

int cv_uac_docroot_canonicalize(char *path, std::size_t size) {
    if (!path || size == 0) return -1;
    const std::string_view text(path);
    const std::size_t prefix = url_prefix_length(text);
    if (prefix == 0) return cv_path_canonicalize(path, path, size);

    // The part after the prefix is canonicalised on its own, its query
    // kept aside so that a "/" or ".." in it is never taken for a step.
    const std::size_t query = text.find('?', prefix);
    char rest[CV_UAC_DOCROOT_PATH_SIZE];
    char tail[CV_UAC_DOCROOT_PATH_SIZE];
    const std::string_view rest_text =
        text.substr(prefix, query == std::string_view::npos ? std::string_view::npos
                                                            : query - prefix);
    const std::string_view tail_text =
        text.substr(query == std::string_view::npos ? text.size() : query);
    if (rest_text.size() >= sizeof rest || tail_text.size() >= sizeof tail) {
        path[0] = '\0';
        return -1;
    }
    std::memcpy(rest, rest_text.data(), rest_text.size());
    rest[rest_text.size()] = '\0';
    std::memcpy(tail, tail_text.data(), tail_text.size());
    tail[tail_text.size()] = '\0';
    if (rest[0] != '\0' && cv_path_canonicalize(rest, rest, sizeof rest) < 0) {
        path[0] = '\0';
        return -1;
    }
    const std::size_t rest_length = std::strlen(rest);
    if (prefix + rest_length + tail_text.size() >= size) {
        path[0] = '\0';
        return -1;
    }
    // The prefix stays where it is; the rest and the query follow it.
    std::memcpy(path + prefix, rest, rest_length);
    std::memcpy(path + prefix + rest_length, tail, tail_text.size() + 1);
    return 0;
}

bool cv_uac_docroot_is_root(const cv_uac_docroot *docroot) {
    return docroot && std::strcmp(docroot->expanded_show_as, "/") == 0;
}

cv_status cv_uac_get_docroots(xmlNode *const *entries, cv_btree *variables, void *context,
                              cv_uac_docroot **head) {
    if (!head) return CV_E_INVALID;
    *head = nullptr;
    if (!entries) return CV_OK;
    cv_status status = CV_OK;
    parse_xml_search_handle *handle = nullptr;
    for (xmlNode *node = parse_xml_get_first_matching_node_args(
             entries, &handle, PARSE_XML_TAG_file_system, PARSE_XML_TAG_access,
             PARSE_XML_TAG_paths, PARSE_XML_TAG_path, PARSE_XML_END);
         node; node = parse_xml_get_next_matching_node(handle, nullptr)) {
        xmlNode *start[2] = {node, nullptr};
        const cv_uac_load_request request{nullptr, start, variables, context, 0};
        cv_uac_config_object *object = nullptr;
        if (cv_status loaded = cv_uac_config_load(&cv_uac_docroot_class, &request, &object);
            loaded != CV_OK || !object) {
            if (status == CV_OK) status = loaded != CV_OK ? loaded : CV_E_NO_MEMORY;
            continue;
        }
        insert(head, as_docroot(object));
    }
    if (handle) (void)parse_xml_free_search_handle(handle);

    bool has_root = false;
    for (const cv_uac_docroot *docroot = *head; docroot && !has_root; docroot = docroot->next)
        has_root = cv_uac_docroot_is_root(docroot);
    if (*head && !has_root)
        add_warning_kind(&(*head)->object.warnings, CV_UAC_DOCROOT_NO_ROOT_STATUS,
                         CV_UAC_DOCROOT_NO_ROOT_KIND, "%s",
                         "Docroot list has no root (\"/\") show_as member.");
    return status;
}
