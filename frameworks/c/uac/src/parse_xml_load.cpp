// Start and stop of the XML layer, document loading, legacy relocation and
// the thin accessors over libxml2.
//
// A document is read with libxml2's text reader, and every node is kept
// (preserved) except a root that fails the CONF and version test, which is
// skipped with its whole subtree: a configuration of the wrong version loads
// as an empty one, not as an error.  Once the reader has been asked to keep
// any node (a document type, a comment, a processing instruction before the
// root) it no longer frees what it skips, so a refused root is also taken
// out of the finished document: whatever precedes it, a refused root never
// reaches a caller.  A root that is kept is expanded and preserved as a
// whole, which keeps exactly the nodes a node-by-node walk would keep at a
// fraction of the reader's per-node cost.
//
// The reader's options substitute internal entities, turn CDATA sections
// into plain text and forbid network access.  For the duration of a load an
// entity loader that refuses everything is installed, so that no external
// entity, external parameter entity or external subset is ever read (a
// document that asks for one is refused as unreadable), and every message
// of libxml2 goes to the log, escaped, one line per message: the console
// belongs to the peer of the login, which must never see parser output.
// libxml2's own limits (entity amplification, nesting depth, text size) stay
// in force.
//
// An element's value is its whole text: after loading, the text pieces of
// a value (an element without element children) that comments or
// processing instructions split apart are joined into its first text node,
// so that every reader of the tree (parse_xml_get_node_text, and through it
// the decoration, hence searches and option values) sees the same, complete
// value.
//
// Legacy relocation moves every element found at one of a fixed list of old
// paths, whole (attributes, and so its conditions, included), to the
// current path below the same ancestors; see relocate_legacy_paths.
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlreader.h>

#include <algorithm>
#include <array>
#include <cstdarg>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cvplatform/cv_log.h"
#include "parse_xml_internal.h"

namespace {

/* Substitute internal entities, CDATA as text, no error or warning output
 * of the parser's own, no network. */
constexpr int kReaderOptions = XML_PARSE_NOENT | XML_PARSE_NOCDATA | XML_PARSE_NOERROR |
                               XML_PARSE_NOWARNING | XML_PARSE_NONET;

/* Bytes of one escaped parser message in the log; a longer one is cut with
 * a mark (the log line itself holds 4089 bytes). */
constexpr std::size_t kParserMessageSize = 2048;

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

/* Bytes of a document's source (a path, or the XML text itself) shown in a
 * message, escaped; a longer one is cut with a mark. */
constexpr std::size_t kSourceShownSize = 2048;

/* `source` escaped for a log line, in `buffer`. */
const char *escaped_source(const char *source, char (&buffer)[kSourceShownSize]) {
    (void)cv_log_escape(source, std::strlen(source), buffer, sizeof buffer);
    return buffer;
}

/* The load in progress, for the entity loader and the message handlers (the
 * layer is single-threaded). */
struct load_context {
    const char *source;
    bool refused_external;
    std::string pending; /* a generic message not yet ended by a newline */
};
load_context *g_current_load = nullptr;

xmlParserInputPtr refuse_external_entity(const char *url, const char *id, xmlParserCtxtPtr) {
    if (g_current_load) {
        g_current_load->refused_external = true;
        char escaped[kParserMessageSize];
        const char *name = url ? url : (id ? id : "(unnamed)");
        (void)cv_log_escape(name, std::strlen(name), escaped, sizeof escaped);
        char shown[kSourceShownSize];
        cv_log_error("Refused external entity %s in configuration file %s", escaped,
                     escaped_source(g_current_load->source, shown));
    }
    return nullptr;
}

/* Logs one parser message, escaped, without its trailing line ends. */
void log_parser_message(int level, int line, std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.remove_suffix(1);
    if (text.empty()) return;
    char escaped[kParserMessageSize];
    (void)cv_log_escape(text.data(), text.size(), escaped, sizeof escaped);
    if (level == XML_ERR_WARNING)
        cv_log_info("XML parser warning, line %d: %s", line, escaped);
    else
        cv_log_error("XML parser error, line %d: %s", line, escaped);
}

void structured_message_to_log(void *, xmlErrorPtr error) {
    if (!error || !error->message) return;
    log_parser_message(error->level, error->line, error->message);
}

/* libxml2's unstructured messages may come in pieces: a line is logged when
 * its end arrives, and a rest when the load ends. */
void generic_message_to_log(void *, const char *format, ...) {
    char piece[kParserMessageSize];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(piece, sizeof piece, format, args);
    va_end(args);
    if (length <= 0) return;
    std::string_view text(piece, std::min(static_cast<std::size_t>(length), sizeof piece - 1));
    if (!g_current_load) {
        log_parser_message(XML_ERR_ERROR, 0, text);
        return;
    }
    std::string &pending = g_current_load->pending;
    for (std::size_t end = text.find('\n'); end != std::string_view::npos;
         end = text.find('\n')) {
        pending.append(text.substr(0, end));
        log_parser_message(XML_ERR_ERROR, 0, pending);
        pending.clear();
        text.remove_prefix(end + 1);
    }
    if (pending.size() < kParserMessageSize) pending.append(text);
}

/* For the duration of one load: the refusing entity loader, and libxml2's
 * structured and generic message handlers sending everything to the log.
 * The previous loader and handlers are put back afterwards. */
class load_guard {
public:
    explicit load_guard(load_context *context)
        : previous_loader_(xmlGetExternalEntityLoader()),
          previous_structured_(xmlStructuredError),
          previous_structured_context_(xmlStructuredErrorContext),
          previous_generic_(xmlGenericError),
          previous_generic_context_(xmlGenericErrorContext),
          outer_(g_current_load) {
        g_current_load = context;
        xmlSetExternalEntityLoader(refuse_external_entity);
        xmlSetStructuredErrorFunc(nullptr, structured_message_to_log);
        xmlSetGenericErrorFunc(nullptr, generic_message_to_log);
    }
    ~load_guard() {
        if (!g_current_load->pending.empty())
            log_parser_message(XML_ERR_ERROR, 0, g_current_load->pending);
        xmlSetGenericErrorFunc(previous_generic_context_, previous_generic_);
        xmlSetStructuredErrorFunc(previous_structured_context_, previous_structured_);
        xmlSetExternalEntityLoader(previous_loader_);
        g_current_load = outer_;
    }
    load_guard(const load_guard &) = delete;
    load_guard &operator=(const load_guard &) = delete;

private:
    xmlExternalEntityLoader previous_loader_;
    xmlStructuredErrorFunc previous_structured_;
    void *previous_structured_context_;
    xmlGenericErrorFunc previous_generic_;
    void *previous_generic_context_;
    load_context *outer_;
};

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

bool is_element_named(const xmlNode *node, std::string_view name) {
    return node->type == XML_ELEMENT_NODE && name_is(node, name);
}

/* Most names in a path of the relocation table. */
constexpr std::size_t kMaxLegacyDepth = 8;

/* The names of a path ("a/b/c"); `count` of them. */
struct path_names {
    std::array<std::string_view, kMaxLegacyDepth> name{};
    std::size_t count = 0;
};

constexpr path_names split_path(std::string_view path) {
    path_names names;
    while (!path.empty() && names.count < kMaxLegacyDepth) {
        const std::size_t slash = path.find('/');
        names.name[names.count++] = path.substr(0, slash);
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    }
    return names;
}

/* How many leading names two paths share.  A moved element stays below the
 * same elements of that shared part (server/watchd/log_level moves to the
 * watch element of its own server), and the last name is never shared. */
constexpr std::size_t shared_names(const path_names &from, const path_names &to) {
    std::size_t shared = 0;
    while (shared + 1 < from.count && shared + 1 < to.count &&
           from.name[shared] == to.name[shared])
        ++shared;
    return shared;
}

/* Every move can be done in one pass over the table: no element moves into a
 * place that a row of the table empties, so nothing a row moves is moved or
 * deleted again. */
constexpr bool moves_settle_in_one_pass() {
    for (const legacy_move &target : kLegacyMoves) {
        if (target.new_path.empty()) continue;
        for (const legacy_move &source : kLegacyMoves) {
            const std::string_view old_path = source.old_path;
            if (target.new_path.substr(0, old_path.size()) == old_path &&
                (target.new_path.size() == old_path.size() ||
                 target.new_path[old_path.size()] == '/'))
                return false;
        }
    }
    for (const legacy_move &move : kLegacyMoves)
        if (split_path(move.old_path).count == kMaxLegacyDepth ||
            split_path(move.new_path).count == kMaxLegacyDepth)
            return false;
    return true;
}
static_assert(moves_settle_in_one_pass(), "a relocation would need a second pass");

/* Appends to `found` every element at `names[depth..]` below `parent`, in
 * document order. */
void collect_elements(xmlNode *parent, const path_names &names, std::size_t depth,
                      std::vector<xmlNode *> &found) {
    for (xmlNode *child = parent->children; child; child = child->next) {
        if (!is_element_named(child, names.name[depth])) continue;
        if (depth + 1 == names.count)
            found.push_back(child);
        else
            collect_elements(child, names, depth + 1, found);
    }
}

xmlNode *first_child_element(xmlNode *parent, std::string_view name) {
    for (xmlNode *child = parent->children; child; child = child->next)
        if (is_element_named(child, name)) return child;
    return nullptr;
}

/* The element at `names[from..to)` below `anchor`, each missing element
 * created in turn.  Null when a creation fails. */
xmlNode *find_or_create(xmlNode *anchor, const path_names &names, std::size_t from,
                        std::size_t to) {
    xmlNode *current = anchor;
    for (std::size_t i = from; current && i < to; ++i) {
        xmlNode *child = first_child_element(current, names.name[i]);
        if (!child) {
            const std::string terminated(names.name[i]);
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

/* Frees the children of `parent` named `name`: the elements a moved legacy
 * element displaces. */
void displace_children(xmlNode *parent, std::string_view name, std::string_view new_path) {
    for (xmlNode *child = parent->children; child;) {
        xmlNode *next = child->next;
        if (is_element_named(child, name)) {
            cv_log_info("Configuration element %.*s is replaced by its legacy form",
                        static_cast<int>(new_path.size()), new_path.data());
            unlink_and_free(child);
        }
        child = next;
    }
}

/* One row of the table: every element at the old path moves, whole, to the
 * new path below its own ancestors of the shared part, or is deleted when
 * the row has no new path.  What a row moves replaces the elements of the
 * same name that stood at the new place before (the value written at the old
 * path wins); several moved elements keep their document order. */
void relocate_row(xmlNode *root, const legacy_move &move) {
    const path_names from = split_path(move.old_path);
    std::vector<xmlNode *> found;
    collect_elements(root, from, 0, found);
    if (move.new_path.empty()) {
        for (xmlNode *old_element : found) unlink_and_free(old_element);
        return;
    }
    const path_names to = split_path(move.new_path);
    const std::size_t shared = shared_names(from, to);
    const std::string_view last = to.name[to.count - 1];
    std::vector<xmlNode *> received; /* new parents already cleared of displaced elements */
    for (xmlNode *old_element : found) {
        xmlNode *anchor = old_element;
        for (std::size_t up = from.count - shared; up > 0; --up) anchor = anchor->parent;
        xmlNode *parent = find_or_create(anchor, to, shared, to.count - 1);
        xmlUnlinkNode(old_element);
        if (!parent) {
            xmlFreeNode(old_element);
            continue;
        }
        if (std::find(received.begin(), received.end(), parent) == received.end()) {
            displace_children(parent, last, move.new_path);
            received.push_back(parent);
        }
        if (!name_is(old_element, last)) {
            const std::string terminated(last);
            xmlNodeSetName(old_element, BAD_CAST terminated.c_str());
        }
        xmlAddChild(parent, old_element);
    }
}

void relocate_legacy_paths(xmlDoc *document) {
    xmlNode *root = xmlDocGetRootElement(document);
    if (!root) return;
    for (const legacy_move &move : kLegacyMoves) relocate_row(root, move);
}

/* Joins the text pieces of every value (an element without element
 * children) below `top` that comments or processing instructions split
 * apart into the element's first text node
 * (CDATA sections are text already: the reader's options say so).
 * Iterative, linear in the number of nodes and the text's length.  0; 28682
 * when a joined value would be longer than the parser allows one text
 * (XML_MAX_TEXT_LENGTH), as a single text of that length is refused; 8 when
 * the joined text cannot be stored. */
cv_status join_split_texts(xmlNode *top) {
    std::string joined;
    xmlNode *const stop = top->parent;
    for (xmlNode *node = top; node;) {
        if (node->type == XML_ELEMENT_NODE) {
            /* A value is text alone: an element holding elements is a
             * container, whose blanks between children are no value. */
            xmlNode *first = nullptr;
            bool split = false;
            bool container = false;
            for (xmlNode *child = node->children; child && !container; child = child->next) {
                if (child->type == XML_ELEMENT_NODE) container = true;
                if (child->type != XML_TEXT_NODE) continue;
                if (first)
                    split = true;
                else
                    first = child;
            }
            if (split && !container) {
                joined.clear();
                for (xmlNode *child = first; child;) {
                    xmlNode *next = child->next;
                    if (child->type == XML_TEXT_NODE) {
                        if (child->content) joined.append(reinterpret_cast<char *>(child->content));
                        if (joined.size() > XML_MAX_TEXT_LENGTH) return CV_E_XML_PARSE;
                        if (child != first) unlink_and_free(child);
                    }
                    child = next;
                }
                xmlNodeSetContentLen(first, BAD_CAST joined.data(),
                                     static_cast<int>(joined.size()));
                if (!first->content) return CV_E_NO_MEMORY;
            }
            if (node->children) {
                node = node->children;
                continue;
            }
        }
        while (node && !node->next) {
            node = node->parent;
            if (node == stop) return CV_OK;
        }
        if (node) node = node->next;
    }
    return CV_OK;
}

/* Frees every element child of `document`: what is left of a refused root. */
void drop_refused_root(xmlDoc *document) {
    for (xmlNode *node = document->children; node;) {
        xmlNode *next = node->next;
        if (node->type == XML_ELEMENT_NODE) unlink_and_free(node);
        node = next;
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

    load_context context{source, false, {}};
    const load_guard guard(&context);
    reader_ptr reader;
    if (source[0] == '<') {
        const std::size_t length = std::strlen(source);
        if (length > static_cast<std::size_t>(INT_MAX)) return CV_E_INVALID;
        reader.reset(xmlReaderForMemory(source, static_cast<int>(length), "", nullptr,
                                        kReaderOptions));
    } else {
        reader.reset(xmlReaderForFile(source, nullptr, kReaderOptions));
    }
    char shown[kSourceShownSize];
    if (!reader) {
        cv_log_error("Error allocating LibXML reader for %s.  Does the file exist?",
                     escaped_source(source, shown));
        return CV_E_FILE_NOT_FOUND;
    }
    xmlTextReaderSetStructuredErrorHandler(reader.get(), structured_message_to_log, nullptr);

    bool root_seen = false;
    bool root_kept = false;
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
        root_kept = true;
        xmlTextReaderPreserve(reader.get());
        read = xmlTextReaderNext(reader.get());
    }
    if (read != 0 || context.refused_external) {
        cv_log_error("Error reading configuration file %s.  Malformed XML?",
                     escaped_source(source, shown));
        return CV_E_XML_PARSE;
    }
    xmlDoc *loaded = xmlTextReaderCurrentDoc(reader.get());
    reader.reset();
    if (!loaded) {
        cv_log_error("Error reading configuration file %s.  Malformed XML?",
                     escaped_source(source, shown));
        return CV_E_XML_PARSE;
    }
    if (!root_kept) drop_refused_root(loaded);
    if (xmlNode *root = xmlDocGetRootElement(loaded)) {
        if (const cv_status joined = join_split_texts(root); joined != CV_OK) {
            xmlFreeDoc(loaded);
            if (joined == CV_E_NO_MEMORY) {
                cv_log_error("Unable to join the text of an element of %s",
                             escaped_source(source, shown));
                return joined;
            }
            cv_log_error("Error reading configuration file %s.  Malformed XML?",
                         escaped_source(source, shown));
            return joined;
        }
        if (version && root_is_conf) relocate_legacy_paths(loaded);
    }
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
