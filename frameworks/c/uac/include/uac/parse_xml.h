// The XML layer of the configuration framework: the only place where the
// framework touches XML.
//
// It turns corvane.conf, a conf.d file or an override string into a libxml2
// document, checks the root element and its version, moves a fixed set of
// legacy element paths to their current places, and decorates the tree:
// every known element gets a tracker record that finds its children by tag
// number in constant time.  On top of that come search paths (lists of tag
// numbers with optional value tests), an iterator over all matches, a
// best-match search weighted by fitness scores, the tag indexer, text and
// name accessors, escaping for XML text and a strict checker for override
// strings made of simple items.
//
// Tags are never handled as strings outside this layer: option paths and
// search paths are arrays of tag numbers, and every name goes through the
// tag indexer.  The layer is meant for one thread.
#pragma once

#include <libxml/tree.h>

#include <cstddef>
#include <cstdint>

#include "cvplatform/cv_status.h"
#include "uac/cv_uac_memory_heap.h"

struct cv_btree;

/* Tag numbers: PARSE_XML_TAG_<element name>. */
enum parse_xml_tag : std::int32_t {
#define PARSE_XML_TAG(name, number) PARSE_XML_TAG_##name = number,
#include "uac/parse_xml_tags.def"
#undef PARSE_XML_TAG
};

/* The number of tags; every tag number is below it. */
inline constexpr std::int32_t PARSE_XML_TAG_COUNT = 0
#define PARSE_XML_TAG(name, number) +1
#include "uac/parse_xml_tags.def"
#undef PARSE_XML_TAG
    ;

/* Codes of a search path besides tag numbers. */
enum : std::int32_t {
    PARSE_XML_END = -1,               /* end of the path */
    PARSE_XML_TEXT_IS_PATTERN = -2,   /* compare: the text is a wildcard pattern for the value */
    PARSE_XML_VALUE_IS_PATTERN = -3,  /* compare: the value is a wildcard pattern for the text */
    PARSE_XML_STRING_EQUALS = -4,     /* compare: text and value are equal byte for byte */
    PARSE_XML_NUMBER_EQUALS = -5,     /* compare: text and value are equal 64-bit integers */
    PARSE_XML_NOCASE = -6,            /* next level: ignore ASCII case */
    PARSE_XML_TRIM = -7,              /* next level: trim white space first */
    PARSE_XML_ACCOUNT_NAME = -8,      /* next level: trim, and compare as account names */
    PARSE_XML_UNKNOWN_TAG = -9,       /* a tag that matches nothing */
};

/* Codes above this are attribute steps.  No attribute names are defined, so
 * every such code is refused (logged) and ends the path. */
inline constexpr std::int32_t PARSE_XML_ATTRIBUTE_BASE = 65536;

/* The score of a match through an element whose own rules fail (scored
 * below 0): such a match is out, whatever the other levels score. */
inline constexpr std::int32_t PARSE_XML_MATCH_OUT = -1;

/* Most levels a search path may open. */
inline constexpr std::size_t PARSE_XML_MAX_LEVELS = 32;

/* Compared texts with flags are copied into buffers of this size; a longer
 * text or value fails the test. */
inline constexpr std::size_t PARSE_XML_COMPARE_SIZE = 4096;

/* Version value that accepts any version of the configuration. */
inline constexpr std::int32_t PARSE_XML_ANY_VERSION = -1;

/* Index record of one decorated element, reached through the element's
 * private pointer.  A slot table follows the header, one slot per tag number
 * from `lowest_tag` to `highest_tag`, each designating the first child
 * element with that tag or none; it is read through parse_xml_tracker_child,
 * in constant time.  In an element's record a slot is a small index into the
 * list of first children that follows the table, so that a record costs two
 * bytes per tag of its range plus one pointer per tag actually present; a
 * record without indexed children has lowest_tag = highest_tag =
 * PARSE_XML_TAG_COUNT and no slots.  Records live in the heap given to
 * parse_xml_decorate_tree.
 *
 * The XML tracker is a record of the same header standing as a virtual
 * parent above the elements a decoration starts from (its `node` is null):
 * its slots are the first elements themselves, one for every tag (lowest 0,
 * highest PARSE_XML_TAG_COUNT), and it may be reused to index the roots of
 * several documents together. */
struct parse_xml_tracker {
    xmlNode *node;           /* the element; null for the XML tracker */
    xmlNode *next_same_tag;  /* next sibling element with the same tag */
    const char *text;        /* the element's text (see parse_xml_get_node_text) */
    std::uint32_t lowest_tag;
    std::uint32_t highest_tag;
    xmlNode *parent;         /* the element's parent node */
};

/* The record of a decorated element, or null. */
parse_xml_tracker *parse_xml_get_tracker(const xmlNode *node);

/* The first child of the record's element with tag `tag`, or null (also for
 * a tag outside the record's range and for a null record). */
xmlNode *parse_xml_tracker_child(const parse_xml_tracker *record, std::int32_t tag);

/* An open search; see parse_xml_get_first_matching_node_args. */
struct parse_xml_search_handle;

/* Scores one candidate element of a search, given the search's variable tree
 * and fitness extra value and the level's fitness flag byte: 0 for an
 * element without rules, -1 for one whose rules fail, else a positive or
 * negative number. */
using parse_xml_fitness_callback = std::int32_t (*)(xmlNode *element, cv_btree *variable_tree,
                                                    void *fitness_extra,
                                                    std::uint8_t fitness_flags);

/* Installs the scorer used by searches that ask for scores (null restores
 * the built-in one, which scores every element 0).  Returns the previous
 * scorer.  Meant to be called during start-up, before any search. */
parse_xml_fitness_callback parse_xml_set_fitness_callback(parse_xml_fitness_callback callback);

/* Counted start of the layer: the first call creates the search-handle pool
 * and initialises libxml2.  0; the pool's status when it cannot be made (the
 * count is then unchanged). */
[[nodiscard]] cv_status parse_xml_initialize();

/* Counted stop: the call that brings the count to zero cleans up libxml2 and
 * destroys the pool.  Documents, trackers and handles must not outlive it.
 * Without a start, logs "Unmatched call to parse_xml_deinitialize()" and does
 * nothing. */
void parse_xml_deinitialize();

/* Loads a file, or an in-memory XML string when `source` begins with "<".
 * `version` may be null (the root is kept whatever its name); otherwise the
 * root is kept only when it is named CONF (any case) and its version attribute
 * passes: PARSE_XML_ANY_VERSION accepts any version (or none) and reports the
 * one found back into `*version`; any other value must equal the attribute.
 * A root that fails is left out, whatever precedes it (a document type,
 * comments, processing instructions): the status is still 0 and the
 * document holds no element, so the caller sees an empty configuration.
 * Legacy element paths are moved to their current places when the root is
 * a kept CONF.  Every element's text is whole (see parse_xml_get_node_text).
 * External entities are never loaded and nothing is fetched over a network;
 * a document that refers to external content is refused as unreadable.
 * libxml2's messages go to the log, escaped, one line each; nothing is
 * written to standard output or standard error.
 * 0 with `*document` set (release with parse_xml_free_document); 22 for a
 * null `source` or `document` or a string too long for the reader; 2 when
 * no reader can be made ("Error allocating LibXML reader for %s.  Does the
 * file exist?"); 28682 for a document that cannot be read ("Error reading
 * configuration file %s.  Malformed XML?"), also when a value joined from
 * several pieces would exceed the parser's limit of one text; 8 when a
 * joined value cannot be stored.  `*document` is null on failure. */
[[nodiscard]] cv_status parse_xml_load_document(const char *source, std::int32_t *version,
                                                xmlDoc **document);

/* parse_xml_load_document without a version: the document, or null. */
xmlDoc *parse_xml_load_string(const char *source);

/* Releases a document (null is ignored). */
void parse_xml_free_document(xmlDoc *document);

/* Releases a string that libxml2 allocated (null is ignored). */
void parse_xml_free_string(xmlChar *text);

/* The root element of `document`, or null. */
xmlNode *parse_xml_get_root(xmlDoc *document);

/* The element name of `node`, or null. */
const char *parse_xml_get_node_name(const xmlNode *node);

/* For a text node its content, for an element the content of its first
 * text child, else null.  In a document loaded by parse_xml_load_document
 * that is a value's whole text: CDATA sections are text, and the pieces of
 * a value (an element without element children) that comments or
 * processing instructions split are joined into its first text child. */
const char *parse_xml_get_node_text(const xmlNode *node);

/* Builds tracker records for `top`, its following siblings and all their
 * descendants, from `heap`.  Elements whose name is not a tag are neither
 * indexed nor descended into: they and everything below them are invisible
 * to searches.  The top-level elements are entered in an XML tracker: with a
 * null `holder` a fresh one from the heap, with a holder that holds one that
 * one (appending to its chains), with an empty holder a fresh one stored in
 * it.  The records live as long as the heap; run parse_xml_undecorate_tree
 * before releasing the heap when the document lives on.  0; 22 for a null
 * `top` or `heap`; 8 when the heap runs out ("Unable to allocate XML
 * tracker" for the tracker itself), in which case the tree is undecorated,
 * a reused tracker is restored and a tracker stored by this call is taken
 * back out of the holder. */
[[nodiscard]] cv_status parse_xml_decorate_tree(xmlNode *top, parse_xml_tracker **holder,
                                                cv_uac_heap *heap);

/* Clears the private pointer of `node`, its following siblings and all
 * their descendants.  0; 22 for null. */
cv_status parse_xml_undecorate_tree(xmlNode *node);

/* Starts a search from the null-terminated array `start` of decorated
 * elements along the path given as variable arguments: int codes ending
 * with PARSE_XML_END, each compare code (-5 to -2) followed by its value as
 * a const char * (null fails every test).  Level 1 looks at the children
 * of a start node, level 2 at the children of the level-1 element, and so
 * on; tag 0 steps to the parent instead.  Matches come in depth-first
 * order, start node after start node.  Returns the first match or null.
 * With `handle` not null the search stays open in `*handle` for
 * parse_xml_get_next_matching_node (even when there was no match; null when
 * the path was refused) and must be freed with
 * parse_xml_free_search_handle; the `start` array and the compare values
 * must outlive it.  A path with a code below -9 or from the tag count to
 * 65536 logs "parse_xml_get_first_matching_node_args: Invalid option in XML
 * search path!", one of more than 32 levels "...: search path depth exceeds
 * 32 levels!"; both give null.  Variable-argument searches compute no
 * scores. */
xmlNode *parse_xml_get_first_matching_node_args(xmlNode *const *start,
                                                parse_xml_search_handle **handle, ...);

/* The first match of `path`, an array of tag numbers ending with
 * PARSE_XML_END (compare and flag codes are refused here), as in the
 * variable-argument form.  When `score` is not null and `variable_tree` is
 * not null, every candidate is scored by the fitness callback and `*score`
 * gets the match's score: the sum over its levels (saturated to 32 bits)
 * when every level's element scored 0 or more, else PARSE_XML_MATCH_OUT
 * (0 without scoring, and when there is no match). */
xmlNode *parse_xml_get_first_matching_node(xmlNode *const *start,
                                           parse_xml_search_handle **handle,
                                           const std::int32_t *path, cv_btree *variable_tree,
                                           void *fitness_extra, std::int32_t *score);

/* The next match of an open search, or null when there is none (also for a
 * null handle).  `score`, when not null, gets the match's score as for
 * parse_xml_get_first_matching_node. */
xmlNode *parse_xml_get_next_matching_node(parse_xml_search_handle *handle, std::int32_t *score);

/* Returns a search handle to the pool.  0; 22 for null; the pool's status
 * when it refuses the handle ("Unable to free search handle"). */
cv_status parse_xml_free_search_handle(parse_xml_search_handle *handle);

/* The match of `path` with the highest score, the first among equal ones;
 * a match through an element whose rules fail (PARSE_XML_MATCH_OUT) is
 * never returned, however the other levels score.  Null when nothing
 * qualifies or the path is refused. */
xmlNode *parse_xml_get_best_matching_node(xmlNode *const *start, const std::int32_t *path,
                                          cv_btree *variable_tree, void *fitness_extra);

/* The text of the first match of the variable-argument path (as
 * parse_xml_get_first_matching_node_args without a handle): the content of
 * the matched element's last text child, or null. */
const char *parse_xml_get_first_matching_text_args(xmlNode *const *start, ...);

/* The tag number of `name` after the alias table (exclude -> filter,
 * excludes -> filters, sharddb -> shardkv), or PARSE_XML_UNKNOWN_TAG (-9)
 * for null or a name that is not a tag.  One hash probe, no allocation. */
std::int32_t parse_xml_tag_index(const char *name);

/* As parse_xml_tag_index for a name of `length` bytes (need not be
 * terminated). */
std::int32_t parse_xml_tag_index_n(const char *name, std::size_t length);

/* The name of tag `tag`, or null with "UAC XML Tag indexer: Invalid index:
 * %d" logged for a number outside 0..PARSE_XML_TAG_COUNT-1. */
const char *parse_xml_tag_name(std::int32_t tag);

/* Writes `source` escaped for XML text into `destination` (`capacity` bytes,
 * terminator included): the double quote becomes "&quot;", the ampersand
 * "&amp;", the less-than sign "&lt;", and a greater-than sign that closes
 * "]]>" becomes "&gt;"; every other byte is copied.  Destination and source
 * may be the same buffer.  0; 22 for null arguments or zero capacity; 8 when
 * no scratch buffer can be had; 28677 when the result does not fit (the
 * destination is then unchanged). */
[[nodiscard]] cv_status cv_uac_escape_string_for_xml(char *destination, const char *source,
                                                     std::size_t capacity);

/* Checks that `text` is a sequence of "<T>value</T>" or "<T/>" items with
 * only white space between them, T being the name of tag `tag` ("item" for
 * tag 0): no attributes, no nesting.  An empty text passes.  0; 22 with the
 * reason in `*message` (a static text; `message` may be null), also for a
 * null text or a tag without a name. */
[[nodiscard]] cv_status parse_xml_check_items(const char *text, std::int32_t tag,
                                              const char **message);
