// Writing one option's override as a file of its own in the conf.d folder.
//
// An override file is laid out exactly as the class's look-up reads the
// configuration: the class's element at its place from the root (the
// descriptor's conf_d_path: a trunk's `trunks/trunk`, a logging setting's
// `logging/log_setting`; by default the element named like the class),
// holding the current values of the options that tell the class's objects
// apart (the descriptor's conf_d_keys: a trunk's id, a logging setting's
// classes) and the option's path around the override text.  The option's
// own element carries the highest fitness there is, so that a look-up
// choosing by fitness takes the override even over a value of the main file
// whose rules hold; among equals the first match wins, and the conf.d files
// come before the main file in every search.  Together that makes the
// override win the next time the configuration is read.
//
// There is one file per object and option, named from the class, the option
// and the keys' values ("trunk_trunk_mcast_port@7.conf"), so writing the
// same option again replaces the file instead of adding one.  It replaces
// an earlier file of the same name atomically: the content goes to a
// temporary file in the same folder, named with the process id, which is
// flushed to disk and then renamed over the final name.  Readers therefore
// see either the old file or the whole new one, and a failure at any step
// removes the temporary file and leaves the old file as it was.  The
// override CV_NULL is never written: it removes the option's file, so the
// option falls back to the main file's value or its default.
//
// The folder is treated as a place another account may have planted things
// in.  Nothing is written or removed when conf.d, or the folder that holds
// it, is a symbolic link or writable by others than its owner and group, or
// when the override file's name is taken by a link or a special file.
// The temporary file is made fresh: a name left over is removed first, and
// the file opened under it must be an empty regular file of one link that
// the name itself denotes, or nothing is written to it, so a link planted
// under the temporary name is never written through.
#include <cstring>

#include "cvplatform/cv_file.h"
#include "cvplatform/cv_mutex.h"
#include "cvplatform/cv_path.h"
#include "cvplatform/cv_str.h"
#include "parse_config_options_internal.h"
#include "uac_internal.h"

namespace {

using namespace cv_uac_config_impl;

/* Most keys a class may name, and most elements of an override file. */
constexpr std::size_t kMaxKeys = 8;
constexpr std::size_t kMaxElements = 64;

/* Longest file name in the conf.d folder, the temporary name's suffix
 * ("_" and a process id) included. */
constexpr std::size_t kMaxFileName = 255;
constexpr std::size_t kTemporarySuffixMax = 11;

/* Stands for the element named like the class in the path of a class
 * whose descriptor names none (the name need not be a tag). */
constexpr std::int32_t kClassElement = PARSE_XML_UNKNOWN_TAG;

/* The path from the root to the class's element. */
bool class_path(const cv_uac_class *cls, std::int32_t (&path)[PARSE_XML_MAX_LEVELS + 1],
                std::size_t *depth) {
    *depth = 0;
    if (!cls->conf_d_path) {
        if (!cls->name || !cls->name[0]) return false;
        path[(*depth)++] = kClassElement;
        path[*depth] = PARSE_XML_END;
        return true;
    }
    for (const std::int32_t *tag = cls->conf_d_path; *tag != PARSE_XML_END; ++tag) {
        if (*tag <= PARSE_XML_TAG_Move_Up_to_Parent || *tag >= PARSE_XML_TAG_COUNT ||
            *depth == PARSE_XML_MAX_LEVELS)
            return false;
        path[(*depth)++] = *tag;
    }
    path[*depth] = PARSE_XML_END;
    return *depth > 0;
}

bool same_path(const std::int32_t *a, const std::int32_t *b) {
    for (; *a != PARSE_XML_END && *a == *b; ++a, ++b) {
    }
    return *a == *b;
}

bool climbs(const std::int32_t *path) {
    for (; *path != PARSE_XML_END; ++path)
        if (*path == PARSE_XML_TAG_Move_Up_to_Parent) return true;
    return false;
}

/* The text an override sets, after its condition ("?X:" or "?!X:"). */
const char *override_text(const char *text) {
    if (text[0] != '?') return text;
    const char *colon = std::strchr(text, ':');
    return colon ? colon + 1 : text;
}

/* The elements of an override file, as a small tree below CONF: the class
 * element's path written one element a line, everything else one line per
 * element hanging off that path.  Nodes keep the order they were added in,
 * so the keys come before the override. */
struct content_tree {
    struct node {
        std::int32_t tag;
        std::int32_t parent;          /* -1: CONF */
        bool on_class_path;           /* an element of the class's own path */
        const char *text;             /* the override text, or null */
        const cv_uac_generic_entry *key; /* the key whose value is the text, or null */
    };
    node nodes[kMaxElements];
    std::size_t count = 0;

    /* The node of `tag` below `parent`, made when missing; -2 when full. */
    std::int32_t child(std::int32_t parent, std::int32_t tag, bool on_class_path) {
        for (std::size_t i = 0; i < count; ++i)
            if (nodes[i].parent == parent && nodes[i].tag == tag)
                return static_cast<std::int32_t>(i);
        if (count == kMaxElements) return -2;
        nodes[count] = {tag, parent, on_class_path, nullptr, nullptr};
        return static_cast<std::int32_t>(count++);
    }

    /* Adds the class's path.  -1 (CONF) when it cannot be added, else the
     * class element's node. */
    std::int32_t add_class_path(const std::int32_t *path,
                                std::int32_t (&chain)[PARSE_XML_MAX_LEVELS + 1]) {
        std::int32_t at = -1;
        std::size_t depth = 0;
        for (; path[depth] != PARSE_XML_END; ++depth) {
            at = child(at, path[depth], true);
            if (at < 0) return -1;
            chain[depth] = at;
        }
        return at;
    }

    /* Adds the element at `path` below the class element, a path that may
     * climb along the class's path; false when it climbs above the root,
     * ends on the class's path, lands on an element that already holds a
     * value or the tree is full. */
    bool add(const std::int32_t (&chain)[PARSE_XML_MAX_LEVELS + 1], std::size_t class_depth,
             const std::int32_t *path, const char *text, const cv_uac_generic_entry *key) {
        std::int32_t stack[PARSE_XML_MAX_LEVELS + 1];
        std::size_t depth = class_depth;
        for (std::size_t i = 0; i < depth; ++i) stack[i] = chain[i];
        for (; *path != PARSE_XML_END; ++path) {
            if (*path == PARSE_XML_TAG_Move_Up_to_Parent) {
                if (depth == 0) return false;
                --depth;
                continue;
            }
            if (depth == PARSE_XML_MAX_LEVELS) return false;
            const std::int32_t parent = depth == 0 ? -1 : stack[depth - 1];
            const std::int32_t made = child(parent, *path, false);
            if (made < 0) return false;
            stack[depth++] = made;
        }
        if (depth == 0) return false;
        node &leaf = nodes[stack[depth - 1]];
        if (leaf.on_class_path || leaf.text || leaf.key) return false;
        leaf.text = text;
        leaf.key = key;
        return true;
    }
};

class content_writer {
public:
    content_writer(const content_tree &tree, const char *class_name, char *buffer,
                   std::size_t capacity)
        : tree_(tree), class_name_(class_name), buffer_(buffer), capacity_(capacity) {}

    /* 0 with the length in `*length`, or 28677 when it does not fit. */
    cv_status write(std::size_t *length) {
        append("<CONF version=\"2\">\n");
        children(-1, 1);
        append("</CONF>\n");
        if (status_ != CV_OK) return CV_E_BUFFER_SPACE;
        *length = cursor_;
        return CV_OK;
    }

private:
    void append(const char *text) {
        if (status_ == CV_OK) status_ = cv_str_append(buffer_, text, capacity_, &cursor_);
    }
    void indent(std::size_t level) {
        for (std::size_t i = 0; i < level; ++i) append("   ");
    }
    void children(std::int32_t parent, std::size_t level) {
        for (std::size_t i = 0; i < tree_.count; ++i)
            if (tree_.nodes[i].parent == parent) element(static_cast<std::int32_t>(i), level);
    }
    void element(std::int32_t index, std::size_t level) {
        const content_tree::node &node = tree_.nodes[index];
        const char *name = name_of(node);
        indent(level);
        if (node.on_class_path) {
            open(name, false);
            append("\n");
            children(index, level + 1);
            indent(level);
            close(name);
        } else {
            inline_element(index);
        }
        append("\n");
    }
    void inline_element(std::int32_t index) {
        const content_tree::node &node = tree_.nodes[index];
        const char *name = name_of(node);
        open(name, node.text != nullptr);
        if (node.text) append(node.text);
        if (node.key) key_value(*node.key);
        for (std::size_t i = 0; i < tree_.count; ++i)
            if (tree_.nodes[i].parent == index) inline_element(static_cast<std::int32_t>(i));
        close(name);
    }
    void key_value(const cv_uac_generic_entry &key) {
        char text[CV_UAC_CONF_D_CONTENT_SIZE];
        if (status_ == CV_OK &&
            cv_uac_type_write(key.type, key.value, text, sizeof text, key.lookup) != CV_OK)
            status_ = CV_E_BUFFER_SPACE;
        append(text);
    }
    /* An opening tag; the override's own element carries the highest
     * fitness. */
    void open(const char *name, bool is_override) {
        append("<");
        append(name);
        if (is_override) {
            append(" fitness=\"");
            append(CV_UAC_OVERRIDE_FITNESS);
            append("\"");
        }
        append(">");
    }
    void close(const char *name) {
        append("</");
        append(name);
        append(">");
    }

    const char *name_of(const content_tree::node &node) const {
        return node.tag == kClassElement ? class_name_ : parse_xml_tag_name(node.tag);
    }

    const content_tree &tree_;
    const char *class_name_;
    char *buffer_;
    std::size_t capacity_;
    std::size_t cursor_ = 0;
    cv_status status_ = CV_OK;
};

/* The keys of the object's class, in descriptor order. */
struct object_keys {
    const cv_uac_generic_entry *entries[kMaxKeys];
    const std::int32_t *paths[kMaxKeys];
    std::size_t count = 0;
};

/* Finds the class's keys; 22 with a warning when one has no value to tell
 * the object apart by, or the class names a key it does not have.  A key
 * named with a leading "?" is optional: without a value it is left out of
 * the file and its name (a user of no realm is told apart by name alone). */
cv_status find_keys(cv_uac_config_object *object, cv_uac_warning **warnings, object_keys *keys) {
    cv_uac_class *cls = object->header.descriptor;
    if (!cls->conf_d_keys) return CV_OK;
    for (const char *const *listed = cls->conf_d_keys; *listed; ++listed) {
        const bool optional = (*listed)[0] == '?';
        const char *key = *listed + (optional ? 1 : 0);
        cv_uac_generic_entry *entry = entry_by_name(object, key, warnings);
        const std::int32_t *path = cls->xml_path_by_name(object, key);
        if (!entry || !path || keys->count == kMaxKeys) return CV_E_INVALID;
        char text[CV_UAC_CONF_D_CONTENT_SIZE];
        if (cv_uac_type_write(entry->type, entry->value, text, sizeof text, entry->lookup) !=
            CV_OK) {
            add_warning(warnings, CV_E_INVALID,
                        "A %s object without a %s can not be overridden in conf.d", cls->name,
                        key);
            return CV_E_INVALID;
        }
        if (std::strcmp(text, CV_UAC_NULL) == 0) {
            if (optional) continue;
            add_warning(warnings, CV_E_INVALID,
                        "A %s object without a %s can not be overridden in conf.d", cls->name,
                        key);
            return CV_E_INVALID;
        }
        keys->entries[keys->count] = entry;
        keys->paths[keys->count] = path;
        ++keys->count;
    }
    return CV_OK;
}

bool is_key_path(const object_keys &keys, const std::int32_t *path) {
    for (std::size_t i = 0; i < keys.count; ++i)
        if (same_path(keys.paths[i], path)) return true;
    return false;
}

/* The file's content: the class's path from the root, the keys' values and
 * the override `text` at the option's path.  0; 28677 when it does not fit;
 * 22 when the class's path or a key's path cannot be written. */
cv_status compose(const cv_uac_class *cls, const object_keys &keys, const std::int32_t *path,
                  const char *text, char (&content)[CV_UAC_CONF_D_CONTENT_SIZE],
                  std::size_t *length) {
    std::int32_t class_tags[PARSE_XML_MAX_LEVELS + 1];
    std::size_t class_depth = 0;
    if (!class_path(cls, class_tags, &class_depth)) return CV_E_INVALID;
    content_tree tree;
    std::int32_t chain[PARSE_XML_MAX_LEVELS + 1];
    if (tree.add_class_path(class_tags, chain) < 0) return CV_E_INVALID;
    for (std::size_t i = 0; i < keys.count; ++i)
        if (!tree.add(chain, class_depth, keys.paths[i], nullptr, keys.entries[i]))
            return CV_E_INVALID;
    if (!tree.add(chain, class_depth, path, text, nullptr)) return CV_E_INVALID;
    return content_writer(tree, cls->name, content, sizeof content).write(length);
}

/* Appends `text` to a file name with every byte but letters, digits, ".",
 * "-" and "_" written as "%XX", so that no value can name another folder or
 * another object's file. */
cv_status append_encoded(char *name, std::size_t capacity, std::size_t *cursor, const char *text) {
    constexpr char kHex[] = "0123456789ABCDEF";
    for (const char *c = text; *c; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                           (byte >= '0' && byte <= '9') || byte == '.' || byte == '-' ||
                           byte == '_';
        const char escaped[] = {'%', kHex[byte >> 4], kHex[byte & 15], '\0'};
        const char single[] = {static_cast<char>(byte), '\0'};
        if (cv_status status = cv_str_append(name, plain ? single : escaped, capacity, cursor);
            status != CV_OK)
            return status;
    }
    return CV_OK;
}

/* The override file's name: "<class>_<option>", then "@<value>" for each
 * key, then ".conf".  206 with a warning when it is longer than a file name
 * may be. */
cv_status file_name(const cv_uac_class *cls, const char *option, const object_keys &keys,
                    cv_uac_warning **warnings, char (&name)[CV_PATH_SIZE]) {
    std::size_t cursor = 0;
    cv_status status = cv_str_append_printf(name, sizeof name, &cursor, "%s_%s", cls->name, option);
    char text[CV_UAC_CONF_D_CONTENT_SIZE];
    for (std::size_t i = 0; status == CV_OK && i < keys.count; ++i) {
        const cv_uac_generic_entry &key = *keys.entries[i];
        status = cv_uac_type_write(key.type, key.value, text, sizeof text, key.lookup);
        if (status == CV_OK) status = cv_str_append(name, "@", sizeof name, &cursor);
        if (status == CV_OK) status = append_encoded(name, sizeof name, &cursor, text);
    }
    if (status == CV_OK) status = cv_str_append(name, ".conf", sizeof name, &cursor);
    if (status != CV_OK || cursor + kTemporarySuffixMax > kMaxFileName) {
        add_warning(warnings, CV_E_NAME_TOO_LONG,
                    "The conf.d override file of %s for this %s object would have too long a name",
                    option, cls->name);
        return CV_E_NAME_TOO_LONG;
    }
    return CV_OK;
}

cv_status write_all(cv_file_handle *handle, const char *bytes, std::size_t length) {
    while (length > 0) {
        std::size_t written = 0;
        if (cv_status status = cv_file_write(handle, bytes, length, &written); status != CV_OK)
            return status;
        if (written == 0) return CV_E_INVALID;
        bytes += written;
        length -= written;
    }
    return CV_OK;
}

/* Makes a change to the folder of `path` durable.  The change is in place
 * either way, so a failure here is not reported. */
void flush_folder_of(const char *path) {
    char folder[CV_PATH_SIZE];
    if (cv_path_get_parent(path, folder, sizeof folder) >= 0) (void)cv_dir_flush(folder);
}

/* The status of a refused folder or file. */
constexpr cv_status kUnsafe = CV_E_FILE_NOT_VALID;

/* Write permission for others than the owner and the group. */
constexpr std::uint32_t kOthersWrite = 0002;

/* 0 when `folder` is a real folder (not a link) that only its owner and
 * group can write, or (with `may_be_absent`) is not there at all; else
 * kUnsafe with a warning naming it, or the failing platform status. */
cv_status check_folder(const char *folder, bool may_be_absent, cv_uac_warning **warnings) {
    cv_file_status st{};
    const cv_status status = cv_file_stat_path(folder, &st, CV_FILE_STAT_NO_FOLLOW);
    if (may_be_absent && (status == CV_E_FILE_NOT_FOUND || status == CV_E_PATH_NOT_FOUND))
        return CV_OK;
    if (status != CV_OK) return status;
    if (st.type != CV_FILE_TYPE_DIRECTORY) {
        add_warning(warnings, kUnsafe,
                    "%s is a link or a file, not a folder: no conf.d override is written "
                    "through it",
                    folder);
        return kUnsafe;
    }
    if ((st.mode & kOthersWrite) != 0) {
        add_warning(warnings, kUnsafe,
                    "%s is writable by others than its owner and group: no conf.d override is "
                    "written in it",
                    folder);
        return kUnsafe;
    }
    return CV_OK;
}

/* The conf.d folder (which a write creates when missing) and the folder
 * holding it (which a removal need not find), checked before anything is
 * written or removed in them. */
cv_status check_folders(const char *folder, bool removal, cv_uac_warning **warnings) {
    char parent[CV_PATH_SIZE];
    if (cv_path_get_parent(folder, parent, sizeof parent) < 0) return CV_E_INVALID;
    if (cv_status status = check_folder(parent, removal, warnings); status != CV_OK) return status;
    return check_folder(folder, true, warnings);
}

/* 0 when the name `path` is free, a regular file's or a folder's (the
 * rename or removal then refuses the folder with its own status); kUnsafe
 * with a warning for a link or a special file; else the failing platform
 * status. */
cv_status check_file_name(const char *path, cv_uac_warning **warnings) {
    cv_file_status st{};
    const cv_status status = cv_file_stat_path(path, &st, CV_FILE_STAT_NO_FOLLOW);
    if (status == CV_E_FILE_NOT_FOUND || status == CV_E_PATH_NOT_FOUND) return CV_OK;
    if (status != CV_OK) return status;
    if (st.type == CV_FILE_TYPE_REGULAR || st.type == CV_FILE_TYPE_DIRECTORY) return CV_OK;
    add_warning(warnings, kUnsafe,
                "%s is a link or a special file: it is neither replaced nor removed", path);
    return kUnsafe;
}

/* Opens `temporary` as a new empty file: whatever had the name is removed
 * first, and what the open finds must be a regular file of one link, empty,
 * and the very file the name denotes (not one reached through a link).
 * Nothing is truncated, so a file planted under the name between the two
 * steps is left as it was. */
cv_status open_fresh(const char *temporary, cv_file_handle *handle, cv_uac_warning **warnings) {
    const cv_status removed = cv_file_delete(temporary);
    if (removed != CV_OK && removed != CV_E_FILE_NOT_FOUND) return removed;
    cv_status status =
        cv_file_open(temporary, handle, CV_FILE_WRITE | CV_FILE_CREATE, CV_UAC_CONF_D_FILE_MODE);
    if (status != CV_OK) return status;
    cv_file_status opened{};
    cv_file_status named{};
    status = cv_file_stat(handle, &opened);
    if (status == CV_OK) status = cv_file_stat_path(temporary, &named, CV_FILE_STAT_NO_FOLLOW);
    if (status == CV_OK &&
        (opened.type != CV_FILE_TYPE_REGULAR || named.type != CV_FILE_TYPE_REGULAR ||
         opened.link_count != 1 || opened.size != 0 || opened.file_id != named.file_id)) {
        add_warning(warnings, kUnsafe,
                    "%s was taken by another file while it was made: nothing is written to it",
                    temporary);
        status = kUnsafe;
    }
    if (status != CV_OK) (void)cv_file_close(handle);
    return status;
}

/* Writes `content` to a fresh `temporary`, flushes it and renames it to
 * `final`; the temporary file is removed on any failure but a refused open
 * (the name is then not ours to remove). */
cv_status replace_file(const char *temporary, const char *final_path, const char *content,
                       std::size_t length, cv_uac_warning **warnings) {
    cv_file_handle handle = CV_FILE_INVALID;
    cv_status status = open_fresh(temporary, &handle, warnings);
    if (status != CV_OK) {
        if (status != kUnsafe) (void)cv_file_delete(temporary);
        return status;
    }
    status = write_all(&handle, content, length);
    if (status == CV_OK) status = cv_file_flush(&handle);
    const cv_status closed = cv_file_close(&handle);
    if (status == CV_OK) status = closed;
    if (status == CV_OK) status = cv_file_rename(temporary, final_path);
    if (status != CV_OK) {
        (void)cv_file_delete(temporary);
        return status;
    }
    flush_folder_of(final_path);
    return CV_OK;
}

/* Removes the override file `final_path`; one that is not there is no
 * failure. */
cv_status remove_file(const char *final_path) {
    const cv_status status = cv_file_delete(final_path);
    if (status == CV_E_FILE_NOT_FOUND || status == CV_E_PATH_NOT_FOUND) return CV_OK;
    if (status == CV_OK) flush_folder_of(final_path);
    return status;
}

/* Brings the caller's configuration set up to date with the file just
 * written or removed: the set it holds takes the file in its place (or
 * drops it), an empty holder gets a set loaded from `directory`. */
cv_status update_set(cv_uac_conf_set **set_holder, const char *final_path, bool removed,
                     const char *directory, cv_uac_warning **warnings) {
    if (!set_holder) return CV_OK;
    cv_uac_conf_set *set = *set_holder;
    if (!set) {
        *set_holder = cv_uac_load_conf_file(directory, 0);
        return CV_OK;
    }
    if (removed) return uac_conf_set_remove_file(set, final_path);
    const bool full = set->count >= static_cast<std::int32_t>(CV_UAC_MAX_CONF_FILES);
    if (cv_uac_load_additional_conf_file(final_path, set) == 1) return CV_OK;
    const cv_status status = full ? CV_E_BUFFER_SPACE : CV_E_XML_PARSE;
    add_warning(warnings, status,
                "The conf.d override %s was written but the configuration set could not take it",
                final_path);
    return status;
}

}  // namespace

namespace cv_uac_config_impl {

cv_status base_write_conf_d_override(cv_uac_config_object *object, cv_uac_conf_set **set_holder,
                                     cv_uac_warning **warnings, const char *name, const char *text,
                                     const char *directory) {
    if (!object || !object->header.descriptor || !name || !text || !directory) return CV_E_INVALID;
    cv_uac_class *cls = object->header.descriptor;
    if (!cls->get_generic_form(object, nullptr)) return CV_E_NO_MEMORY;
    // A path that climbs to a parent leaves the object's element, and a
    // key's path is what selects the object: neither is an override of it.
    const std::int32_t *path = cls->xml_path_by_name(object, name);
    if (!path || path[0] == PARSE_XML_END || climbs(path)) return CV_E_INVALID;
    object_keys keys;
    if (cv_status status = find_keys(object, warnings, &keys); status != CV_OK) return status;
    if (is_key_path(keys, path)) {
        add_warning(warnings, CV_E_INVALID,
                    "%s tells %s objects apart: it has no conf.d override of its own", name,
                    cls->name);
        return CV_E_INVALID;
    }

    // The content and the name are made before the override is applied, so
    // that an override that cannot be written changes nothing at all.
    cv_uac_generic_entry *entry = entry_by_name(object, name, warnings);
    if (!entry) return CV_E_INVALID;
    const char *final_text = override_text(text);
    const bool removal = std::strcmp(final_text, CV_UAC_NULL) == 0;
    char content[CV_UAC_CONF_D_CONTENT_SIZE];
    std::size_t length = 0;
    if (!removal) {
        // The file holds the text as its type writes it into XML (escaped,
        // items and schedules as elements), exactly what set_by_name reads.
        char xml[CV_UAC_OVERRIDE_XML_SIZE];
        if (cv_status converted = cls->override_to_xml_by_name(object, name, final_text, xml,
                                                               sizeof xml);
            converted != CV_OK) {
            // A text the converter refuses is refused by set_entry too, which
            // says why in the warnings and leaves the object as it is.
            const char *ignored = nullptr;
            const cv_status refused = set_entry(object, entry, text, warnings, &ignored);
            return refused != CV_OK ? refused : converted;
        }
        if (cv_status status = compose(cls, keys, path, xml, content, &length); status != CV_OK)
            return status;
    }
    char file[CV_PATH_SIZE];
    if (cv_status status = file_name(cls, name, keys, warnings, file); status != CV_OK)
        return status;

    cv_status status = CV_OK;
    char folder[CV_PATH_SIZE];
    char final_path[CV_PATH_SIZE];
    if (!cv_path_build_canonical_path(folder, sizeof folder, &status, "%s/../conf.d", directory) ||
        !cv_path_build_canonical_path(final_path, sizeof final_path, &status, "%s/%s", folder,
                                      file))
        return status;
    // A place that is not safe to write in changes nothing, the object
    // included.
    if (status = check_folders(folder, removal, warnings); status != CV_OK) return status;
    if (status = check_file_name(final_path, warnings); status != CV_OK) return status;

    const char *applied = nullptr;
    if (status = set_entry(object, entry, text, warnings, &applied); status != CV_OK)
        return status;
    if (!applied) return CV_OK;  // a condition that did not hold changes nothing

    if (removal) {
        if (status = remove_file(final_path); status != CV_OK) return status;
        return update_set(set_holder, final_path, true, directory, warnings);
    }
    if (status = cv_dir_create(folder, CV_UAC_CONF_D_FOLDER_MODE, 0); status != CV_OK)
        return status;
    // A folder someone else made in the meantime is checked like one found.
    if (status = check_folder(folder, false, warnings); status != CV_OK) return status;
    char temporary[CV_PATH_SIZE];
    if (!cv_path_build_canonical_path(temporary, sizeof temporary, &status, "%s_%u", final_path,
                                      cv_process_id()))
        return status;
    if (status = replace_file(temporary, final_path, content, length, warnings); status != CV_OK)
        return status;
    return update_set(set_holder, final_path, false, directory, warnings);
}

}  // namespace cv_uac_config_impl
