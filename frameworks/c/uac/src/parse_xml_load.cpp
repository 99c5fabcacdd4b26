// Start and stop of the XML layer, document loading, legacy relocation and
// the thin accessors over libxml2.
//
// A document is read with libxml2's text reader, and every node is kept
// (preserved) except a root that fails the CONF and version test, which is
// skipped with its whole subtree: a configuration of the wrong version loads
// as an empty one, not as an error.  A root that is kept is expanded and
// preserved as a whole, which keeps exactly the nodes a node-by-node walk
// would keep at a fraction of the reader's per-node cost.  The reader's
// options substitute internal entities, keep parser errors and warnings off
// the console and forbid network access; in addition an entity loader that
// refuses everything is installed for the duration of a load, so that no
// external entity, external parameter entity or external subset is ever
// read: a document that asks for one is refused as unreadable.  libxml2's
// own limits (entity amplification, nesting depth, text size) stay in force.
//
// Legacy relocation moves the content of a fixed list of old element paths to
// their current paths, repeating passes over the list until one changes
// nothing; every change removes an old element, so the passes end.
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlreader.h>

#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "cvplatform/cv_log.h"
#include "parse_xml_internal.h"

namespace {

/* Substitute internal entities, no error or warning output, no network. */
constexpr int kReaderOptions = XML_PARSE_NOENT | XML_PARSE_NOERROR | XML_PARSE_NOWARNING |
                               XML_PARSE_NONET;

/* Items per chunk of the search-handle pool, and its flags. */
constexpr std::size_t kHandlePoolGranularity = 16;
constexpr std::uint32_t kHandlePoolFlags = CV_POOL_ZEROED | CV_POOL_LOCKED;

constexpr std::string_view kRootName = "CONF";
constexpr const char *kVersionAttribute = "version";

struct reader_deleter {
    void operator()(xmlTextReader *reader) const { xmlFreeTextReader(reader); }
};
using reader_ptr = std::unique_ptr<xmlTextReader, reader_deleter>;

struct xml_string_deleter {
    void operator()(xmlChar *text) const { xmlFree(text); }
};
using xml_string = std::unique_ptr<xmlChar, xml_string_deleter>;

/* Old element paths below the root and the paths their content moved to; an
 * empty new path means the old element is deleted. */
struct legacy_move {
    std::string_view old_path;
    std::string_view new_path;
};
constexpr std::array<legacy_move, 14> kLegacyMoves = {{
    {"default/watchfolderd/remote_tmpdir_conf", "server/watch/watchfolderd/remote_tmpdir_conf"},
    {"default/watchfolderd/purge_drops_max_age", "server/watch/watchfolderd/purge_drops_max_age"},
    {"default/watchfolderd/purge_drops_max_files",
     "server/watch/watchfolderd/purge_drops_max_files"},
    {"default/watchfolderd/raw_options", "server/watch/watchfolderd/raw_options"},
    {"server/watchd/log_level", "server/watch/log_level"},
    {"server/watchd/log_directory", "server/watch/log_directory"},
    {"server/watchd/max_directories", "server/watch/max_directories"},
    {"server/watchd/db_spec", "server/watch/db_spec"},
    {"server/watchd/max_snapshots", "server/watch/watchd/max_snapshots"},
    {"server/watchd/snapshot_min_interval", "server/watch/watchd/snapshot_min_interval"},
    {"server/watchd/snapshot_min_changes", "server/watch/watchd/snapshot_min_changes"},
    {"server/watchd/scan_period", "server/watch/watchd/scan_period"},
    {"server/watchd", ""},
    {"default/watchfolderd", ""},
}};

/* The load in progress, for the entity loader (the layer is single-threaded). */
struct load_context {
    const char *source;
    bool refused_external;
};
load_context *g_current_load = nullptr;

xmlParserInputPtr refuse_external_entity(const char *url, const char *id, xmlParserCtxtPtr) {
    if (g_current_load) {
        g_current_load->refused_external = true;
        cv_log_error("Refused external entity %s in configuration file %s",
                     url ? url : (id ? id : "(unnamed)"), g_current_load->source);
    }
    return nullptr;
}

/* Installs the refusing entity loader for one load and puts the previous one
 * back afterwards. */
class external_entity_guard {
public:
    explicit external_entity_guard(load_context *context)
        : previous_(xmlGetExternalEntityLoader()), outer_(g_current_load) {
        g_current_load = context;
        xmlSetExternalEntityLoader(refuse_external_entity);
    }
    ~external_entity_guard() {
        xmlSetExternalEntityLoader(previous_);
        g_current_load = outer_;
    }
    external_entity_guard(const external_entity_guard &) = delete;
    external_entity_guard &operator=(const external_entity_guard &) = delete;

private:
    xmlExternalEntityLoader previous_;
    load_context *outer_;
};

void ignore_parser_error(void *, xmlErrorPtr) {}

/* The version attribute's value read like atol, saturated to 32 bits instead
 * of overflowing. */
std::int32_t read_version(const xmlChar *text) {
    const long value = std::strtol(reinterpret_cast<const char *>(text), nullptr, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<std::int32_t>(value);
}

/* Whether the root under the reader passes the version test against
 * `*version`; reports the version found when any version is wanted. */
bool version_passes(xmlTextReader *reader, std::int32_t *version) {
    if (xmlTextReaderHasAttributes(reader) != 1) return *version == PARSE_XML_ANY_VERSION;
    xml_string value(xmlTextReaderGetAttribute(reader, BAD_CAST kVersionAttribute));
    if (*version == PARSE_XML_ANY_VERSION) {
        if (value) *version = read_version(value.get());
        return true;
    }
    return value && read_version(value.get()) == *version;
}

bool name_is(const xmlNode *node, std::string_view name) {
    return node->name && std::string_view(reinterpret_cast<const char *>(node->name)) == name;
}

xmlNode *first_child_element(xmlNode *parent, std::string_view name) {
    for (xmlNode *child = parent->children; child; child = child->next)
        if (child->type == XML_ELEMENT_NODE && name_is(child, name)) return child;
    return nullptr;
}

/* The element at `path` (names separated by "/") below `root`; missing
 * elements are created when `create` is set.  Null when absent or when a
 * creation fails. */
xmlNode *find_path(xmlNode *root, std::string_view path, bool create) {
    xmlNode *current = root;
    while (current && !path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view name = path.substr(0, slash);
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
        xmlNode *child = first_child_element(current, name);
        if (!child && create) {
            const std::string terminated(name);
            child = xmlNewChild(current, nullptr, BAD_CAST terminated.c_str(), nullptr);
        }
        current = child;
    }
    return current;
}

void unlink_and_free(xmlNode *node) {
    xmlUnlinkNode(node);
    xmlFreeNode(node);
}

/* Moves the children of `from` into `to` in place of `to`'s own (which are
 * freed: the value written at the old path wins) and frees `from`. */
void move_children(xmlNode *from, xmlNode *to) {
    xmlNode *displaced = to->children;
    to->children = nullptr;
    to->last = nullptr;
    if (displaced) xmlFreeNodeList(displaced);
    for (xmlNode *child = from->children; child; child = child->next) child->parent = to;
    to->children = from->children;
    to->last = from->last;
    from->children = nullptr;
    from->last = nullptr;
    unlink_and_free(from);
}

/* One pass over the relocation table; true when something changed. */
bool relocate_once(xmlNode *root) {
    bool changed = false;
    for (const legacy_move &move : kLegacyMoves) {
        xmlNode *old_element = find_path(root, move.old_path, false);
        if (!old_element) continue;
        changed = true;
        if (move.new_path.empty()) {
            unlink_and_free(old_element);
            continue;
        }
        xmlNode *new_element = find_path(root, move.new_path, true);
        if (!new_element) {
            unlink_and_free(old_element);
            continue;
        }
        move_children(old_element, new_element);
    }
    return changed;
}

void relocate_legacy_paths(xmlDoc *document) {
    xmlNode *root = xmlDocGetRootElement(document);
    if (!root) return;
    while (relocate_once(root)) {
    }
}

}  // namespace

parse_xml_layer_state &parse_xml_state() {
    static parse_xml_layer_state state;
    return state;
}

cv_status parse_xml_initialize() {
    parse_xml_layer_state &state = parse_xml_state();
    if (state.start_count == 0) {
        cv_status status = CV_OK;
        state.handle_pool = cv_memory_pool_create(sizeof(parse_xml_search_handle),
                                                  kHandlePoolGranularity, kHandlePoolFlags,
                                                  &status);
        if (!state.handle_pool) return status != CV_OK ? status : CV_E_NO_MEMORY;
        xmlInitParser();
    }
    ++state.start_count;
    return CV_OK;
}

void parse_xml_deinitialize() {
    parse_xml_layer_state &state = parse_xml_state();
    if (state.start_count == 0) {
        cv_log_error("Unmatched call to parse_xml_deinitialize()");
        return;
    }
    if (--state.start_count == 0) {
        xmlCleanupParser();
        cv_memory_pool_destroy(state.handle_pool);
        state.handle_pool = nullptr;
    }
}

cv_status parse_xml_load_document(const char *source, std::int32_t *version,
                                  xmlDoc **document) {
    if (!document) return CV_E_INVALID;
    *document = nullptr;
    if (!source) return CV_E_INVALID;

    load_context context{source, false};
    external_entity_guard entity_guard(&context);
    reader_ptr reader;
    if (source[0] == '<') {
        const std::size_t length = std::strlen(source);
        if (length > static_cast<std::size_t>(INT_MAX)) return CV_E_INVALID;
        reader.reset(xmlReaderForMemory(source, static_cast<int>(length), "", nullptr,
                                        kReaderOptions));
    } else {
        reader.reset(xmlReaderForFile(source, nullptr, kReaderOptions));
    }
    if (!reader) {
        cv_log_error("Error allocating LibXML reader for %s.  Does the file exist?", source);
        return CV_E_FILE_NOT_FOUND;
    }
    xmlTextReaderSetStructuredErrorHandler(reader.get(), ignore_parser_error, nullptr);

    bool root_seen = false;
    bool root_is_conf = false;
    int read = xmlTextReaderRead(reader.get());
    while (read == 1) {
        if (xmlTextReaderNodeType(reader.get()) != XML_READER_TYPE_ELEMENT || root_seen) {
            xmlTextReaderPreserve(reader.get());
            read = xmlTextReaderRead(reader.get());
            continue;
        }
        root_seen = true;
        if (version) {
            xml_string name(xmlTextReaderName(reader.get()));
            root_is_conf = name && xmlStrcasecmp(name.get(), BAD_CAST kRootName.data()) == 0;
            if (!root_is_conf || !version_passes(reader.get(), version)) {
                read = xmlTextReaderNext(reader.get());
                continue;
            }
        }
        /* The root is kept with its whole subtree: read it in one go and keep
         * it, rather than node by node. */
        if (!xmlTextReaderExpand(reader.get())) {
            read = -1;
            break;
        }
        xmlTextReaderPreserve(reader.get());
        read = xmlTextReaderNext(reader.get());
    }
    if (read != 0 || context.refused_external) {
        cv_log_error("Error reading configuration file %s.  Malformed XML?", source);
        return CV_E_XML_PARSE;
    }
    xmlDoc *loaded = xmlTextReaderCurrentDoc(reader.get());
    reader.reset();
    if (!loaded) {
        cv_log_error("Error reading configuration file %s.  Malformed XML?", source);
        return CV_E_XML_PARSE;
    }
    if (version && root_is_conf) relocate_legacy_paths(loaded);
    *document = loaded;
    return CV_OK;
}

xmlDoc *parse_xml_load_string(const char *source) {
    xmlDoc *document = nullptr;
    if (parse_xml_load_document(source, nullptr, &document) != CV_OK) return nullptr;
    return document;
}

void parse_xml_free_document(xmlDoc *document) {
    if (document) xmlFreeDoc(document);
}

void parse_xml_free_string(xmlChar *text) {
    if (text) xmlFree(text);
}

xmlNode *parse_xml_get_root(xmlDoc *document) {
    return document ? xmlDocGetRootElement(document) : nullptr;
}

const char *parse_xml_get_node_name(const xmlNode *node) {
    return node ? reinterpret_cast<const char *>(node->name) : nullptr;
}

const char *parse_xml_get_node_text(const xmlNode *node) {
    if (!node) return nullptr;
    if (node->type == XML_TEXT_NODE) return reinterpret_cast<const char *>(node->content);
    if (node->type != XML_ELEMENT_NODE) return nullptr;
    for (const xmlNode *child = node->children; child; child = child->next)
        if (child->type == XML_TEXT_NODE) return reinterpret_cast<const char *>(child->content);
    return nullptr;
}
