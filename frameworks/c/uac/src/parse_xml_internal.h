// State shared by the source files of the XML layer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cvplatform/cv_containers.h"
#include "uac/parse_xml.h"

/* One level of an open search. */
struct parse_xml_search_level {
    std::int32_t cursor;         /* passing candidates before the chosen one; -1 not started */
    std::int32_t tag;
    std::int32_t compare_mode;   /* 0 or PARSE_XML_NUMBER_EQUALS .. PARSE_XML_TEXT_IS_PATTERN */
    std::uint32_t compare_flags; /* PARSE_XML_FLAG_* */
    const char *compare_value;
    std::int32_t score;          /* fitness of the chosen element */
    std::uint8_t fitness_flags;  /* handed to the fitness callback */
    xmlNode *chosen;             /* element chosen at this level, or null */
};

/* Compare flags of a level. */
enum : std::uint32_t {
    PARSE_XML_FLAG_TRIM = 1,
    PARSE_XML_FLAG_NOCASE = 2,
    PARSE_XML_FLAG_ACCOUNT_NAME = 4,
};

struct parse_xml_search_handle {
    parse_xml_search_level levels[PARSE_XML_MAX_LEVELS];
    std::uint32_t level_count;
    xmlNode *const *start_nodes;  /* null-terminated */
    std::size_t start_index;      /* start node in use */
    cv_btree *variable_tree;      /* fitness context; no scores without it */
    void *fitness_extra;
    bool want_score;
    bool started;
    bool exhausted;
};

/* Process-wide state of the XML layer, gathered in one place. */
struct parse_xml_layer_state {
    std::uint32_t start_count = 0;                /* parse_xml_initialize calls not yet stopped */
    cv_memory_pool *handle_pool = nullptr;        /* search handles */
    parse_xml_fitness_callback fitness = nullptr; /* null: every element scores 0 */
};

parse_xml_layer_state &parse_xml_state();

/* The pointer slots of a full-width record (the XML tracker, and an
 * element's record while its children are scanned), which follow the
 * header. */
inline xmlNode **parse_xml_tracker_slots(parse_xml_tracker *record) {
    return reinterpret_cast<xmlNode **>(record + 1);
}
inline xmlNode *const *parse_xml_tracker_slots(const parse_xml_tracker *record) {
    return reinterpret_cast<xmlNode *const *>(record + 1);
}

/* A compact record: after the header, one 16-bit slot per tag of its range
 * (0 = none, n = the n-th entry of the list), then, 8-byte aligned, the list
 * of first children, in the order their tags first appeared. */
using parse_xml_slot_index = std::uint16_t;

inline std::size_t parse_xml_compact_list_offset(std::size_t range) {
    const std::size_t table = sizeof(parse_xml_tracker) + range * sizeof(parse_xml_slot_index);
    return (table + alignof(xmlNode *) - 1) / alignof(xmlNode *) * alignof(xmlNode *);
}
inline std::size_t parse_xml_compact_size(std::size_t range, std::size_t children) {
    return parse_xml_compact_list_offset(range) + children * sizeof(xmlNode *);
}
inline parse_xml_slot_index *parse_xml_compact_slots(parse_xml_tracker *record) {
    return reinterpret_cast<parse_xml_slot_index *>(record + 1);
}
inline const parse_xml_slot_index *parse_xml_compact_slots(const parse_xml_tracker *record) {
    return reinterpret_cast<const parse_xml_slot_index *>(record + 1);
}
inline xmlNode **parse_xml_compact_list(parse_xml_tracker *record, std::size_t range) {
    return reinterpret_cast<xmlNode **>(reinterpret_cast<unsigned char *>(record) +
                                        parse_xml_compact_list_offset(range));
}
inline xmlNode *const *parse_xml_compact_list(const parse_xml_tracker *record,
                                              std::size_t range) {
    return reinterpret_cast<xmlNode *const *>(reinterpret_cast<const unsigned char *>(record) +
                                              parse_xml_compact_list_offset(range));
}

static_assert(sizeof(parse_xml_tracker) % alignof(xmlNode *) == 0,
              "tracker slots must follow the header without padding");
static_assert(PARSE_XML_TAG_COUNT < 65536, "a slot index must hold every tag");
