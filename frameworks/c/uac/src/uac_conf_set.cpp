// Loading, searching and releasing a configuration set.
//
// The main file is read first and fixes the set's version; then every
// regular file of the conf.d folder beside it, sub-folders included, is
// read in the byte order of its path relative to conf.d ("B.conf" before
// "a.conf", "a/z.conf" before "b.conf"), whatever order the file system
// lists them in, so that the precedence among them is the same on every
// machine.  The limit of CV_UAC_MAX_CONF_FILES applies in that order.  When
// the main file does not exist, the first conf.d file that loads founds the
// set instead, so a configuration may live in conf.d alone.  A conf.d file
// that cannot be read is logged by the XML layer and left out; it never
// costs the others their place.
//
// Searches visit the roots in the set's search order: the conf.d files
// first, in that byte order, then the main file, then any file added from
// elsewhere.  A search that takes the first match therefore finds a conf.d
// override before the main file's value, as an sshd_config whose Include
// comes first.  A file added again (an override rewritten in place) takes
// the slot it had; the document it replaces stays alive, retired, until the
// set is released, because objects read from the set may still point into
// it.  All the set's bookkeeping (the record, the paths, the trackers of
// every root, the retired list) lives in one heap of its own, released with
// the set.
#include <algorithm>
#include <cstring>

#include "cvplatform/cv_file.h"
#include "cvplatform/cv_log.h"
#include "cvplatform/cv_path.h"
#include "cvplatform/cv_str.h"
#include "uac_internal.h"

/* A document that left the set's slots while the set was in use. */
struct cv_uac_retired_file {
    xmlDoc *document;
    xmlNode *root;
    cv_uac_retired_file *next;
};

namespace {

constexpr const char *kNotFoundFormat = "conf file %s not found.  Using default settings.";
constexpr const char *kListingLabel = "conf.d file list.  conf.d will not be read";

constexpr std::int32_t kMaxFiles = static_cast<std::int32_t>(CV_UAC_MAX_CONF_FILES);

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

/* The part of `path` below the set's conf.d folder, or null when the path
 * does not lie in it. */
const char *conf_d_relative(const cv_uac_conf_set *set, const char *path) {
    if (!set->conf_d || !path) return nullptr;
    const std::size_t length = std::strlen(set->conf_d);
    if (std::strncmp(path, set->conf_d, length) != 0 || path[length] != '/') return nullptr;
    return path + length + 1;
}

/* The slot a new file of canonical `path` goes to: a conf.d file before the
 * first slot that is no conf.d file or sorts after it, anything else last. */
std::int32_t insertion_slot(const cv_uac_conf_set *set, const char *path) {
    const char *relative = conf_d_relative(set, path);
    if (!relative) return set->count;
    for (std::int32_t slot = 0; slot < set->count; ++slot) {
        const char *other = conf_d_relative(set, set->paths[slot]);
        if (!other || std::strcmp(other, relative) > 0) return slot;
    }
    return set->count;
}

/* The slot read from canonical `path`, or -1. */
std::int32_t slot_of(const cv_uac_conf_set *set, const char *path) {
    for (std::int32_t slot = 0; slot < set->count; ++slot)
        if (set->paths[slot] && std::strcmp(set->paths[slot], path) == 0) return slot;
    return -1;
}

/* Decorates a root with the set's shared tracker.  An undecorated root
 * stays in the set: searches simply find nothing in it. */
void decorate(cv_uac_conf_set *set, xmlNode *root) {
    if (parse_xml_decorate_tree(root, &set->decoration, set->heap) != CV_OK)
        cv_log_error("Unable to decorate XML tree.  Config information will not be available");
}

/* Moves the document of `slot` to the retired list.  False when the list
 * record cannot be had (nothing changed). */
bool retire_slot(cv_uac_conf_set *set, std::int32_t slot) {
    auto *retired = static_cast<cv_uac_retired_file *>(cv_uac_heap_alloc(
        set->heap, sizeof(cv_uac_retired_file), alignof(cv_uac_retired_file)));
    if (!retired) return false;
    *retired = {set->documents[slot], set->roots[slot], set->retired};
    set->retired = retired;
    return true;
}

/* Puts a parsed file into `slot`, moving the later slots up by one. */
void insert_document(cv_uac_conf_set *set, std::int32_t slot, const char *path, xmlDoc *document,
                     xmlNode *root) {
    for (std::int32_t i = set->count; i > slot; --i) {
        set->documents[i] = set->documents[i - 1];
        set->roots[i] = set->roots[i - 1];
        set->paths[i] = set->paths[i - 1];
    }
    set->documents[slot] = document;
    set->roots[slot] = root;
    set->paths[slot] = path;
    ++set->count;
    set->roots[set->count] = nullptr;
    decorate(set, root);
}

/* Parses `path` against the set's version: 0 with the document and its
 * root, or the parse status (28687 for a document without a usable root).
 * Only a file that joins the set may fix the version of an empty set. */
cv_status parse_file(cv_uac_conf_set *set, const char *path, xmlDoc **document, xmlNode **root) {
    *document = nullptr;
    *root = nullptr;
    const std::int32_t version = set->version;
    cv_status status = parse_xml_load_document(path, &set->version, document);
    if (status == CV_OK && !(*root = parse_xml_get_root(*document))) {
        parse_xml_free_document(*document);
        *document = nullptr;
        status = CV_E_INVALID_USER_NAME;
    }
    if (status != CV_OK && set->count == 0) set->version = version;
    return status;
}

/* Adds (or re-reads in place) the file at canonical `path`; 1 when the set
 * holds it afterwards as read now. */
std::int32_t add_file(cv_uac_conf_set *set, const char *path) {
    const std::int32_t existing = slot_of(set, path);
    if (existing < 0 && set->count >= kMaxFiles) return 0;
    xmlDoc *document = nullptr;
    xmlNode *root = nullptr;
    if (parse_file(set, path, &document, &root) != CV_OK) return 0;
    if (existing >= 0) {
        if (!retire_slot(set, existing)) {
            parse_xml_free_document(document);
            return 0;
        }
        set->documents[existing] = document;
        set->roots[existing] = root;
        decorate(set, root);
        return 1;
    }
    const char *kept_path = cv_uac_heap_strdup(set->heap, path);
    if (!kept_path) {
        parse_xml_free_document(document);
        return 0;
    }
    insert_document(set, insertion_slot(set, path), kept_path, document, root);
    return 1;
}

/* Adds an XML text as the last slot; 1 when added. */
std::int32_t add_text(cv_uac_conf_set *set, const char *text) {
    if (set->count >= kMaxFiles) return 0;
    xmlDoc *document = nullptr;
    xmlNode *root = nullptr;
    if (parse_file(set, text, &document, &root) != CV_OK) return 0;
    insert_document(set, set->count, nullptr, document, root);
    return 1;
}

/* The canonical form of `path` in `canonical`; false when it has none. */
bool canonical_path(const char *path, char (&canonical)[CV_PATH_SIZE]) {
    return cv_path_canonicalize(path, canonical, sizeof canonical) >= 0 && canonical[0] != '\0';
}

enum class main_file_result { loaded, missing, give_up };

/* Reads the main file into the empty `set`.  Only a file that is missing (or
 * holds no usable root) lets the load go on to conf.d; one that exists but
 * cannot be read ends it, so that a damaged configuration is never silently
 * replaced by its overrides. */
main_file_result load_main_file(cv_uac_conf_set *set, const char *path) {
    xmlDoc *document = nullptr;
    xmlNode *root = nullptr;
    const cv_status status = parse_file(set, path, &document, &root);
    if (status == CV_E_INVALID_USER_NAME) return main_file_result::missing;
    if (status != CV_OK) {
        if (status == CV_E_FILE_NOT_FOUND && !is_xml_text(path) && !cv_file_exists(path)) {
            cv_log_error(kNotFoundFormat, path);
            return main_file_result::missing;
        }
        return main_file_result::give_up;
    }
    const char *kept_path = nullptr;
    char canonical[CV_PATH_SIZE];
    if (!is_xml_text(path) && canonical_path(path, canonical))
        kept_path = cv_uac_heap_strdup(set->heap, canonical);
    insert_document(set, set->count, kept_path, document, root);
    return main_file_result::loaded;
}

/* The regular files of a conf.d walk, sorted.  Paths live in a heap of
 * their own; the table grows by doubling. */
class conf_d_listing {
public:
    conf_d_listing() = default;
    conf_d_listing(const conf_d_listing &) = delete;
    conf_d_listing &operator=(const conf_d_listing &) = delete;
    ~conf_d_listing() {
        cv_uac_free(paths_);
        (void)cv_uac_heap_release(&heap_);
    }

    /* Lists `folder`; false when the folder cannot be walked or the list
     * cannot be kept. */
    bool read(const char *folder) {
        if (cv_uac_heap_create(&heap_, nullptr, nullptr) != CV_OK) return false;
        cv_dir_walk *walk = nullptr;
        if (cv_dir_walk_open(&walk, folder) != CV_OK) return false;
        bool kept = true;
        char entry[CV_PATH_SIZE];
        std::uint32_t type = 0;
        for (;;) {
            const cv_status status = cv_dir_walk_next(walk, entry, sizeof entry, &type);
            if (status == CV_E_END_REACHED || status == CV_E_INVALID) break;
            // Entries the walk could not read or name are passed over; the
            // walk itself moves on.
            if (status != CV_OK || type != CV_WALK_FILE) continue;
            if (!(kept = add(entry))) break;
        }
        (void)cv_dir_walk_close(&walk);
        if (!kept) return false;
        // Every path begins with the folder and "/", so the byte order of
        // the whole paths is the byte order of the paths below conf.d.
        std::sort(paths_, paths_ + count_,
                  [](const char *a, const char *b) { return std::strcmp(a, b) < 0; });
        return true;
    }

    const char *const *begin() const { return paths_; }
    const char *const *end() const { return paths_ + count_; }

private:
    bool add(const char *path) {
        if (count_ == capacity_) {
            const std::size_t grown = capacity_ ? capacity_ * 2 : CV_UAC_MAX_CONF_FILES;
            auto *table = static_cast<const char **>(
                CV_UAC_MALLOC(grown * sizeof(const char *), kListingLabel));
            if (!table) return false;
            if (count_) std::memcpy(table, paths_, count_ * sizeof(const char *));
            cv_uac_free(paths_);
            paths_ = table;
            capacity_ = grown;
        }
        const char *copy = cv_uac_heap_strdup(heap_, path);
        if (!copy) return false;
        paths_[count_++] = copy;
        return true;
    }

    cv_uac_heap *heap_ = nullptr;
    const char **paths_ = nullptr;
    std::size_t count_ = 0;
    std::size_t capacity_ = 0;
};

/* Adds the files of the set's conf.d folder in byte order until the set is
 * full.  The first file that loads founds an empty set. */
void load_conf_d(cv_uac_conf_set *set) {
    conf_d_listing listing;
    if (!listing.read(set->conf_d)) return;
    for (const char *path : listing) {
        if (set->count >= kMaxFiles) break;
        (void)add_file(set, path);
    }
}

/* Records the conf.d folder beside `main_path` as the set's. */
void set_conf_d_folder(cv_uac_conf_set *set, const char *main_path) {
    char parent[CV_PATH_SIZE];
    char folder[CV_PATH_SIZE];
    if (cv_path_get_parent(main_path, parent, sizeof parent) < 0 ||
        cv_path_join(parent, CV_UAC_CONF_D_NAME, folder, sizeof folder) != 0)
        return;
    set->conf_d = cv_uac_heap_strdup(set->heap, folder);
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

    cv_uac_conf_set *set = create_set();
    if (!set) return nullptr;
    if (!is_xml_text(path)) set_conf_d_folder(set, path);
    if (load_main_file(set, path) == main_file_result::give_up) {
        (void)cv_uac_release_conf_file_set(set);
        return nullptr;
    }
    if (!(flags & CV_UAC_LOAD_NO_CONF_D) && set->conf_d) load_conf_d(set);
    if (set->count == 0) {
        (void)cv_uac_release_conf_file_set(set);
        cv_log_error(kNotFoundFormat, path);
        return nullptr;
    }
    return set;
}

std::int32_t cv_uac_load_additional_conf_file(const char *path, cv_uac_conf_set *set) {
    if (!set) {
        cv_log_error("cv_uac_load_additional_conf_file: Conf set is NULL.  Nothing to do!");
        return 0;
    }
    if (!path || set->count < 0) return 0;
    if (is_xml_text(path)) return add_text(set, path);
    char canonical[CV_PATH_SIZE];
    if (!canonical_path(path, canonical)) return 0;
    return add_file(set, canonical);
}

cv_status uac_conf_set_remove_file(cv_uac_conf_set *set, const char *path) {
    char canonical[CV_PATH_SIZE];
    if (!set || !path || !canonical_path(path, canonical)) return CV_E_INVALID;
    const std::int32_t slot = slot_of(set, canonical);
    if (slot < 0) return CV_OK;
    if (!retire_slot(set, slot)) return CV_E_NO_MEMORY;
    for (std::int32_t i = slot; i + 1 < set->count; ++i) {
        set->documents[i] = set->documents[i + 1];
        set->roots[i] = set->roots[i + 1];
        set->paths[i] = set->paths[i + 1];
    }
    --set->count;
    set->documents[set->count] = nullptr;
    set->roots[set->count] = nullptr;
    set->paths[set->count] = nullptr;
    return CV_OK;
}

std::int32_t cv_uac_get_conf_version(const cv_uac_conf_set *set) { return set ? set->version : 0; }

cv_status cv_uac_release_conf_file_set(cv_uac_conf_set *set) {
    if (!set) return CV_OK;
    if (uac_state().master_groups_source == set) uac_discard_master_group_set();
    cv_status first = CV_OK;
    const auto release = [&first](xmlNode *root, xmlDoc *document) {
        const cv_status status = parse_xml_undecorate_tree(root);
        if (first == CV_OK) first = status;
        parse_xml_free_document(document);
    };
    for (std::int32_t i = 0; i < set->count; ++i) release(set->roots[i], set->documents[i]);
    for (cv_uac_retired_file *retired = set->retired; retired; retired = retired->next)
        release(retired->root, retired->document);
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
