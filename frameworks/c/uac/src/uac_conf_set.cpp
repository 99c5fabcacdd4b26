// Loading, searching and releasing a configuration set.
//
// The main file is read first and fixes the set's version; then the conf.d
// folder beside it is walked depth-first, in the order the platform walk
// gives, and every regular file is added.  When the main file does not
// exist, the first conf.d file that loads founds the set instead, so a
// configuration may live in conf.d alone.  A conf.d file that cannot be read
// is logged by the XML layer and left out; it never costs the others their
// place.  All the set's bookkeeping (the record, the trackers of every
// root) lives in one heap of its own, released with the set.
#include <cstring>

#include "cvplatform/cv_file.h"
#include "cvplatform/cv_log.h"
#include "cvplatform/cv_path.h"
#include "cvplatform/cv_str.h"
#include "uac_internal.h"

namespace {

constexpr const char *kNotFoundFormat = "conf file %s not found.  Using default settings.";

bool is_xml_text(const char *source) { return source[0] == '<'; }

cv_uac_conf_set *create_set() {
    cv_uac_heap *heap = nullptr;
    if (cv_uac_heap_create(&heap, nullptr, nullptr) != CV_OK) return nullptr;
    auto *set = static_cast<cv_uac_conf_set *>(
        cv_uac_heap_calloc(heap, sizeof(cv_uac_conf_set), alignof(cv_uac_conf_set)));
    if (!set) {
        (void)cv_uac_heap_release(&heap);
        return nullptr;
    }
    set->version = PARSE_XML_ANY_VERSION;
    set->heap = heap;
    return set;
}

/* Puts a parsed file into the next slot.  An undecorated root stays in the
 * set: searches simply find nothing in it. */
void add_document(cv_uac_conf_set *set, xmlDoc *document, xmlNode *root) {
    set->documents[set->count] = document;
    set->roots[set->count] = root;
    if (parse_xml_decorate_tree(root, &set->decoration, set->heap) != CV_OK)
        cv_log_error("Unable to decorate XML tree.  Config information will not be available");
    ++set->count;
}

enum class main_file_result { loaded, no_set, give_up };

/* Reads the main file into a new set.  Only a file that is missing lets the
 * load go on to conf.d; one that exists but cannot be read ends it, so that
 * a damaged configuration is never silently replaced by its overrides. */
main_file_result load_main_file(const char *path, cv_uac_conf_set **loaded) {
    *loaded = nullptr;
    cv_uac_conf_set *set = create_set();
    if (!set) return main_file_result::give_up;
    xmlDoc *document = nullptr;
    const cv_status status = parse_xml_load_document(path, &set->version, &document);
    if (status != CV_OK) {
        (void)cv_uac_release_conf_file_set(set);
        if (status == CV_E_FILE_NOT_FOUND && !is_xml_text(path) && !cv_file_exists(path)) {
            cv_log_error(kNotFoundFormat, path);
            return main_file_result::no_set;
        }
        return main_file_result::give_up;
    }
    xmlNode *root = parse_xml_get_root(document);
    if (!root) {
        parse_xml_free_document(document);
        (void)cv_uac_release_conf_file_set(set);
        return main_file_result::no_set;
    }
    add_document(set, document, root);
    *loaded = set;
    return main_file_result::loaded;
}

/* Adds every regular file of the conf.d folder beside `main_path` to `set`,
 * or founds the set with the first one that loads when there is none. */
cv_uac_conf_set *load_conf_d(const char *main_path, cv_uac_conf_set *set) {
    char parent[CV_PATH_SIZE];
    char folder[CV_PATH_SIZE];
    if (cv_path_get_parent(main_path, parent, sizeof parent) < 0 ||
        cv_path_join(parent, CV_UAC_CONF_D_NAME, folder, sizeof folder) != 0)
        return set;
    cv_dir_walk *walk = nullptr;
    if (cv_dir_walk_open(&walk, folder) != CV_OK) return set;

    char entry[CV_PATH_SIZE];
    std::uint32_t type = 0;
    for (;;) {
        const cv_status status = cv_dir_walk_next(walk, entry, sizeof entry, &type);
        if (status == CV_E_END_REACHED || status == CV_E_INVALID) break;
        // Entries the walk could not read or name are passed over; the walk
        // itself moves on.
        if (status != CV_OK || type != CV_WALK_FILE) continue;
        if (!set) {
            set = cv_uac_load_conf_file(entry, CV_UAC_LOAD_NO_CONF_D);
        } else {
            if (set->count >= static_cast<std::int32_t>(CV_UAC_MAX_CONF_FILES)) break;
            (void)cv_uac_load_additional_conf_file(entry, set);
        }
    }
    (void)cv_dir_walk_close(&walk);
    return set;
}

}  // namespace

cv_status cv_uac_find_conf_file(const char *exe_path, char *dst, std::size_t size) {
    if (!exe_path || !dst || size == 0) return CV_E_INVALID;
    if (cv_path_find_conf_file(CV_UAC_CONF_FILE_NAME, exe_path, dst, size) >= 0) return CV_OK;
    char folder[CV_PATH_SIZE];
    char parent[CV_PATH_SIZE];
    if (cv_path_find_conf_file(CV_UAC_CONF_D_NAME, exe_path, folder, sizeof folder) >= 0 &&
        cv_path_get_parent(folder, parent, sizeof parent) >= 0 &&
        cv_path_join(parent, CV_UAC_CONF_FILE_NAME, dst, size) == 0)
        return CV_OK;
    dst[0] = '\0';
    cv_log_info("Unable to find either corvane.conf or a conf.d folder");
    return CV_E_FILE_NOT_FOUND;
}

cv_uac_conf_set *cv_uac_load_conf_file(const char *path, std::uint32_t flags) {
    char located[CV_PATH_SIZE];
    if (!path) {
        char exe_path[CV_PATH_SIZE];
        if (cv_path_get_exe_path(exe_path, sizeof exe_path) < 0) {
            cv_log_error("Unable to determine executable path");
            return nullptr;
        }
        if (cv_uac_find_conf_file(exe_path, located, sizeof located) != CV_OK) return nullptr;
        path = located;
    }

    cv_uac_conf_set *set = nullptr;
    if (load_main_file(path, &set) == main_file_result::give_up) return nullptr;
    if (!(flags & CV_UAC_LOAD_NO_CONF_D) && !is_xml_text(path)) set = load_conf_d(path, set);
    if (!set) cv_log_error(kNotFoundFormat, path);
    return set;
}

std::int32_t cv_uac_load_additional_conf_file(const char *path, cv_uac_conf_set *set) {
    if (!set) {
        cv_log_error("cv_uac_load_additional_conf_file: Conf set is NULL.  Nothing to do!");
        return 0;
    }
    if (!path || set->count < 0 ||
        set->count >= static_cast<std::int32_t>(CV_UAC_MAX_CONF_FILES))
        return 0;
    xmlDoc *document = nullptr;
    if (parse_xml_load_document(path, &set->version, &document) != CV_OK) return 0;
    xmlNode *root = parse_xml_get_root(document);
    if (!root) {
        parse_xml_free_document(document);
        return 0;
    }
    add_document(set, document, root);
    return 1;
}

std::int32_t cv_uac_get_conf_version(const cv_uac_conf_set *set) { return set ? set->version : 0; }

cv_status cv_uac_release_conf_file_set(cv_uac_conf_set *set) {
    if (!set) return CV_OK;
    if (uac_state().master_groups_source == set) uac_discard_master_group_set();
    cv_status first = CV_OK;
    for (std::int32_t i = 0; i < set->count; ++i) {
        const cv_status status = parse_xml_undecorate_tree(set->roots[i]);
        if (first == CV_OK) first = status;
        parse_xml_free_document(set->documents[i]);
    }
    // The record lives in the heap it names.
    cv_uac_heap *heap = set->heap;
    const cv_status status = cv_uac_heap_release(&heap);
    return first != CV_OK ? first : status;
}

xmlNode **cv_uac_find_nodes(const cv_uac_conf_set *set, const std::int32_t *path) {
    if (!set || !path) return nullptr;
    auto **table = static_cast<xmlNode **>(CV_UAC_MALLOC(
        (CV_UAC_MAX_FOUND_NODES + 1) * sizeof(xmlNode *), "UAC Root node.  Config file unusable"));
    if (!table) return nullptr;
    parse_xml_search_handle *handle = nullptr;
    std::size_t found = 0;
    for (xmlNode *node = parse_xml_get_first_matching_node(set->roots, &handle, path, nullptr,
                                                           nullptr, nullptr);
         node; node = parse_xml_get_next_matching_node(handle, nullptr)) {
        table[found++] = node;
        if (found == CV_UAC_MAX_FOUND_NODES) break;
    }
    if (handle) (void)parse_xml_free_search_handle(handle);
    table[found] = nullptr;
    if (found == 0) {
        cv_uac_free(table);
        return nullptr;
    }
    return table;
}

int cv_uac_rooted_path(const char *path, char *output, std::size_t size) {
    if (!path || !output || size == 0) return -1;
    // A path cut to fit would be rooted and canonicalised into another path.
    char rooted[CV_PATH_SIZE];
    if (cv_str_copy(rooted, path, sizeof rooted) != CV_OK ||
        cv_path_make_rooted(rooted, sizeof rooted) != CV_OK) {
        output[0] = '\0';
        return -1;
    }
    return cv_path_canonicalize(rooted, output, size);
}
