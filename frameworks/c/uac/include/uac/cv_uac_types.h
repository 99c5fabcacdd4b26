// The value types of configuration options.
//
// Every option has one of sixteen value types.  A type says how the value is
// stored, how it is read from the option's XML element, how an override
// string is checked and turned into XML, how the value is written back as
// text and how it is freed.  The types are listed once, a row each, in
// cv_uac_value_types.def; the type codes, the storage aliases, the typed
// readers and the table of type descriptors (type code -> five operations)
// are all generated from it, so that the option catalogues are pure data: a
// type code, a default text and an optional lookup list per option.
//
// Lookup lists: an optional scale field, then "name:value" pairs, all
// separated by ";" ("any:0;high:3", "1000;Unlimited:0xFFFFFFFFFFFFF").  For
// `lookup` the whole list is pairs; for the numeric types the text before
// the first ";" is the scale (0, missing or unreadable: 1).  A value text
// that is a name of the list (any case) stands for the pair's value; parsed
// numbers are multiplied by the scale and written ones divided by it, and a
// written number that a pair names is written as the name.  For
// `string_list` the parameter names the item element instead ("item" when
// null or empty); for `boolean` it holds the false and true words joined by
// ":"; for `bps` the word "power2" selects binary multiples.
//
// Reading never fails hard: a value that cannot be parsed keeps its previous
// value and adds a warning (status 28688) to the warning list.  The literal
// "CV_NULL" stands for "no value".  A text is parsed where it stands,
// whatever its length, and never cut: a value the type cannot hold
// exactly is refused with a warning.  The override checker of a type
// passes a text exactly when reading it as an override sets the value.
// Only owned values (strings, lists, schedules) are allocated.
#pragma once

#include <libxml/tree.h>

#include <cstddef>
#include <cstdint>

#include "cvplatform/cv_status.h"
#include "uac/cv_uac_warnings.h"

struct cv_btree;

/* Type codes, one per row of cv_uac_value_types.def. */
enum cv_uac_type_code : std::int32_t {
    CV_UAC_TYPE_END = -1, /* ends a generic form */
#define CV_UAC_VALUE_TYPE(code, constant, name, storage, display, family) \
    CV_UAC_TYPE_##constant = code,
#include "uac/cv_uac_value_types.def"
#undef CV_UAC_VALUE_TYPE
};
inline constexpr std::int32_t CV_UAC_TYPE_COUNT = 0
#define CV_UAC_VALUE_TYPE(code, constant, name, storage, display, family) +1
#include "uac/cv_uac_value_types.def"
#undef CV_UAC_VALUE_TYPE
    ;

/* The null marker of default and override strings. */
inline constexpr const char *CV_UAC_NULL = "CV_NULL";

/* Bytes of a written value in a fixed buffer, and the most an override's
 * XML may take (its terminating zero included).  A value that writes
 * longer is written with cv_uac_type_write_alloc; an override whose XML is
 * longer is refused.  Element texts are read whatever their length. */
inline constexpr std::size_t CV_UAC_VALUE_TEXT_SIZE = 8192;
/* Bytes of a string after variable expansion. */
inline constexpr std::size_t CV_UAC_EXPANSION_SIZE = 16000;
/* Most alternates a typed reader returns. */
inline constexpr std::size_t CV_UAC_MAX_ALTERNATES = 100;
/* Bytes of the `lookup` refusal message and the boolean custom-list one. */
inline constexpr std::size_t CV_UAC_LOOKUP_MESSAGE_SIZE = 512;
inline constexpr std::size_t CV_UAC_BOOLEAN_MESSAGE_SIZE = 256;
/* The character of the string that ends a string list. */
inline constexpr char CV_UAC_STRING_LIST_END = 0x1A;

/* A `time` value. */
struct cv_uac_time {
    std::int32_t seconds;
    std::int32_t microseconds;
};
/* The infinite time ("infinite"). */
inline constexpr cv_uac_time CV_UAC_TIME_INFINITE = {2147483647, 999999};

/* A `range` value; an open side holds the type's smallest or largest value. */
struct cv_uac_range {
    std::int64_t low;
    std::int64_t high;
};

/* A `cron` value: a schedule of change points. */
inline constexpr std::size_t CV_UAC_CRON_MAX_POINTS = 256;
inline constexpr std::size_t CV_UAC_CRON_WHEN_SIZE = 128; /* at most 127 characters */
inline constexpr std::size_t CV_UAC_CRON_VALUE_SIZE = 64;  /* at most 63 characters */
/* A schedule with more change points, or with a when or value text longer
 * than its field, is refused whole (warning 28688), never cut. */

struct cv_uac_cron_point {
    char when[CV_UAC_CRON_WHEN_SIZE]; /* "* H * * D", an epoch text, or empty (always) */
    char value[CV_UAC_CRON_VALUE_SIZE];
};

struct cv_uac_cron {
    std::int32_t owns_text; /* ranges_text is this record's own copy */
    char *ranges_text;      /* the format="ranges" texts read (joined by ";"), or null
                             * when the record holds change points of the cron form */
    cv_uac_cron_point points[CV_UAC_CRON_MAX_POINTS];
    std::int32_t count;
};

/* The storage of each value type, which `void *value` below points at, and
 * its type code, by the type's name in the catalogues: cv_uac_value_int64_t
 * is std::int64_t and cv_uac_type_code_int64_t is CV_UAC_TYPE_INT64.  The
 * string types hold an owned string, null, or a shared string; `cron` and
 * `string_list` an owned record or block, or null. */
#define CV_UAC_VALUE_TYPE(code, constant, name, storage, display, family) \
    using cv_uac_value_##name = storage;                                  \
    inline constexpr std::int32_t cv_uac_type_code_##name = code;
#include "uac/cv_uac_value_types.def"
#undef CV_UAC_VALUE_TYPE

/* Room for a value of any type, suitably aligned: member <name>_value is
 * the storage of type <name>. */
union cv_uac_any_value {
#define CV_UAC_VALUE_TYPE(code, constant, name, storage, display, family) \
    cv_uac_value_##name name##_value;
#include "uac/cv_uac_value_types.def"
#undef CV_UAC_VALUE_TYPE
};

/* Reads `element`'s text into `*value` (which starts as the previous value,
 * normally the default, and is never released here); problems go to
 * `warnings` (may be null).  `variables` (may be null) expands variables in
 * strings and scores string-list items.  0, or the status of the newest
 * warning added. */
using cv_uac_read_fn = cv_status (*)(xmlNode *element, const char *lookup, void *value,
                                     cv_uac_warning **warnings, cv_btree *variables);
/* 0 when `text` is acceptable; else 22 (2 for an empty time or rate) with
 * the reason in `*message` (a static or framework-owned text; `message` may
 * be null). */
using cv_uac_check_fn = cv_status (*)(const char *text, const char *parameter,
                                      const char **message);
/* The XML content standing for override `text`, into `output` (`capacity`
 * bytes).  0; 28677 when it does not fit (output empty); 22 for null. */
using cv_uac_to_xml_fn = cv_status (*)(const char *text, char *output, std::size_t capacity,
                                       const char *parameter);
/* Writes `*value` as text (XML content for strings, lists and schedules).
 * 0; 28677 when it does not fit (output empty); 22 for null. */
using cv_uac_write_fn = cv_status (*)(const void *value, char *output, std::size_t capacity,
                                      const char *lookup);
/* Releases an owned value and clears the slot, unless it is
 * `default_value`'s own pointer or a shared string. */
using cv_uac_free_fn = void (*)(void *value, const void *default_value);

struct cv_uac_type_descriptor {
    std::int32_t code;
    const char *name;         /* "int64_t" */
    const char *display_name; /* "64 bit signed int" */
    std::size_t value_size;   /* bytes of the storage */
    cv_uac_read_fn read;
    cv_uac_check_fn check_override;
    cv_uac_to_xml_fn override_to_xml;
    cv_uac_write_fn write;
    cv_uac_free_fn free;
};

/* The descriptor of type `code`, or null for any other code. */
const cv_uac_type_descriptor *cv_uac_type_descriptor_of(std::int32_t code);

/* The operations through the table; 22 for an unknown code or null
 * arguments. */
[[nodiscard]] cv_status cv_uac_type_read(std::int32_t code, xmlNode *element, const char *lookup,
                                         void *value, cv_uac_warning **warnings,
                                         cv_btree *variables);
[[nodiscard]] cv_status cv_uac_type_check_override(std::int32_t code, const char *text,
                                                   const char *parameter, const char **message);
[[nodiscard]] cv_status cv_uac_type_override_to_xml(std::int32_t code, const char *text,
                                                    char *output, std::size_t capacity,
                                                    const char *parameter);
[[nodiscard]] cv_status cv_uac_type_write(std::int32_t code, const void *value, char *output,
                                          std::size_t capacity, const char *lookup);
cv_status cv_uac_type_free(std::int32_t code, void *value, const void *default_value);

/* Writes `*value` as cv_uac_type_write does, into a buffer sized to the
 * text, whatever its length: `*text` gets it (release with cv_uac_free).
 * 0; 8 when it cannot be allocated; 22 for an unknown code or null
 * arguments; else the writer's status (`*text` null on failure). */
[[nodiscard]] cv_status cv_uac_type_write_alloc(std::int32_t code, const void *value,
                                                const char *lookup, char **text);

/* Copies the default's value into `value` (the storage's width; owned
 * pointers are shared, not copied).  0; 22 for an unknown code or null. */
cv_status cv_uac_type_restore_default(std::int32_t code, void *value, const void *default_value);

/* Parses `text` as an override of type `code`: the type's override-to-XML
 * converter turns it into XML (at most CV_UAC_VALUE_TEXT_SIZE bytes), which
 * is wrapped as "<CONF>...</CONF>", loaded, decorated and read by the type
 * from the CONF element, without variable expansion.  So a text is set
 * exactly when the type's override checker passes it.  "CV_NULL" leaves the
 * value as it is.  The XML layer must be started.  `*value` changes only on
 * success.  0; else a warning is added to `warnings` (may be null) and its
 * status returned: the converter's (28677 "Insufficient buffer space" when
 * the XML does not fit), 22 "Override string \"%s\" breaks XML", the
 * status of "Unable to decorate XML tree", 28687 without a root, or the
 * status of the newest warning the type's reader added (28688 for a text
 * it refuses).  22 without a warning for an unknown code or null
 * arguments. */
[[nodiscard]] cv_status cv_uac_type_parse_text(std::int32_t code, const char *text,
                                               const char *lookup, void *value,
                                               cv_uac_warning **warnings);

/* The generic typed reader: starts `*value` as a copy of `*default_value`,
 * finds the option's element along `path` under `start` (a null-terminated
 * list) and reads it.  With `variables` and no `alternates` the best match
 * by fitness is read, otherwise the first match.  `source` (may be null)
 * gets the element read, or null.  With `alternates` not null, it gets all
 * matches, at most CV_UAC_MAX_ALTERNATES ("Too many alternate config values.
 * Cutting off at %zu." is logged beyond), as a null-terminated array to
 * release with cv_uac_free ("UAC option alternate node set"), or null when
 * there is none.  0 (also without a match); 22 for an unknown code or null
 * value pointers; else the read's status. */
cv_status cv_uac_read_option(std::int32_t code, const void *default_value, void *value,
                             const std::int32_t *path, xmlNode *const *start, const char *lookup,
                             xmlNode **source, cv_uac_warning **warnings, xmlNode ***alternates,
                             cv_btree *variables);

/* The typed readers, cv_uac_get_<name> for each type: cv_uac_read_option
 * returning the value. */
#define CV_UAC_VALUE_TYPE(code, constant, name, storage, display, family)                     \
    cv_uac_value_##name cv_uac_get_##name(cv_uac_value_##name default_value,                  \
                                          const std::int32_t *path, xmlNode *const *start,    \
                                          const char *lookup, xmlNode **source,               \
                                          cv_uac_warning **warnings, xmlNode ***alternates,   \
                                          cv_btree *variables);
#include "uac/cv_uac_value_types.def"
#undef CV_UAC_VALUE_TYPE

/* The shared empty string (a `char_ptr` element without text) and the
 * shared blank string (a `blankable_char_ptr` element present but empty).
 * Both read as ""; they differ by address and are never freed or written. */
char *cv_uac_shared_empty_string();
char *cv_uac_shared_blank_string();

/* The item after `item` in a string list, or null at the end; the first
 * item is the list itself (null when the list is empty or null). */
const char *cv_uac_string_list_first(const char *list);
const char *cv_uac_string_list_next(const char *item);

/* The tag number of the item elements a `string_list` parameter names
 * (PARSE_XML_TAG_item for null or ""), or PARSE_XML_UNKNOWN_TAG. */
std::int32_t cv_uac_string_list_item_tag(const char *parameter);

/* Called by cv_uac_string_list_visit_items for one kept item: its element,
 * and its text trimmed as the list holds it (`length` bytes, not
 * terminated). */
using cv_uac_string_list_visitor = void (*)(xmlNode *item, const char *text, std::size_t length,
                                            void *context);

/* Visits, in document order, the item elements of the string-list element
 * `element` that the list reader keeps: the children named by `parameter`
 * (as cv_uac_string_list_item_tag reads it) whose fitness rules, scored with
 * `variables` (null: the tree cv_uac_default_variable_tree gives), do not
 * fail.  The reader builds its list with this walk, so the visited items are
 * exactly the list's items, in its order.  `*found` (may be null) gets the
 * number of item elements met, ruled out ones included: with none the
 * reader leaves the option's value as it was.  0; 22 for a null element or
 * visitor, or an unknown item tag (nothing visited). */
[[nodiscard]] cv_status cv_uac_string_list_visit_items(xmlNode *element, const char *parameter,
                                                       cv_btree *variables,
                                                       cv_uac_string_list_visitor visit,
                                                       void *context, std::size_t *found);
