// The option model: config classes, config objects and everything the
// framework does to an option without knowing its class.
//
// A config class is a descriptor (a table of operations with single
// inheritance from the class `base`) and a catalogue: one row per option
// with its key, value type, XML path, default text and lookup text.  The
// catalogue is the only place an option is described.  From it the class
// set-up derives the per-option override and path tables, the defaults
// object (every default text parsed once by its type), and every object's
// generic form; the loader, the override code and the serializer walk the
// same rows.  A class adds behaviour that is not data (validation, a build
// step, a change rule) through the slots of its descriptor; a slot it leaves
// empty is filled from its parent when the class is first used.
//
// A config object starts with a header (descriptor, holder count under the
// object's own mutex), then the members every object has (warning list,
// generic form, variable tree, child object), then the class's own fields:
// one value per option in catalogue order, the start element, and one
// source-element word and one alternates word per option.  The catalogue's
// rows generate both the value fields of the class's struct and the table
// (the class recipe, cv_uac_class_recipe.h, does both from a class's rows),
// so the two cannot drift apart.
//
// Objects are shared by counting holders; the last release frees the
// object.  Reading, overriding and serializing one object is done by one
// thread at a time; only the holder count is locked.
#pragma once

#include <libxml/tree.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "cvplatform/cv_mutex.h"
#include "cvplatform/cv_status.h"
#include "uac/cv_uac.h"
#include "uac/cv_uac_types.h"
#include "uac/cv_uac_warnings.h"
#include "uac/parse_xml.h"

struct cv_btree;
struct cv_uac_class;
struct cv_uac_config_object;

/* Entries of an option path, the terminating PARSE_XML_END included. */
inline constexpr std::size_t CV_UAC_OPTION_PATH_SIZE = 16;

/* Bytes of an override wrapped as "<CONF>%s</CONF>", terminator included. */
inline constexpr std::size_t CV_UAC_OVERRIDE_XML_SIZE = 8192;

/* Bytes of a finding formatted by report_setting. */
inline constexpr std::size_t CV_UAC_REPORT_TEXT_SIZE = 4096;

/* Bytes of a conf.d override file's content, terminator included. */
inline constexpr std::size_t CV_UAC_CONF_D_CONTENT_SIZE = 4096;

/* The fitness formula of an override's element in a conf.d override file:
 * the highest fitness there is, so that no other value outranks it. */
inline constexpr const char *CV_UAC_OVERRIDE_FITNESS = "2147483647";

/* Permission modes of the conf.d folder and of an override file. */
inline constexpr std::uint32_t CV_UAC_CONF_D_FOLDER_MODE = 0775;
inline constexpr std::uint32_t CV_UAC_CONF_D_FILE_MODE = 0644;

/* Smallest scratch buffer of a duplicate's wrapped XML text. */
inline constexpr std::size_t CV_UAC_DUPLICATE_BUFFER_SIZE = 20480;

/* Strictness the `check` slot passes to `validate`. */
inline constexpr std::int32_t CV_UAC_CHECK_STRICTNESS = 3;

/* Flags of the class `base`; every class adds its parent's flags. */
inline constexpr std::uint32_t CV_UAC_BASE_CLASS_FLAGS = 16;

/* Options whose key matches this pattern are never serialized. */
inline constexpr const char *CV_UAC_INTERNAL_OPTION_PATTERN = "*_INTERNAL";

/* Flag of the destroy slot: the memory is not the object's own, so only the
 * header is cleared. */
inline constexpr std::uint32_t CV_UAC_DESTROY_KEEP_MEMORY = 1;

/* The storage of each value type, by the type's name in the catalogues
 * (cv_uac_types.h describes each). */
using cv_uac_value_lookup = std::int32_t;
using cv_uac_value_boolean = std::int32_t;
using cv_uac_value_int64_t = std::int64_t;
using cv_uac_value_u_int64_t = std::uint64_t;
using cv_uac_value_int32_t = std::int32_t;
using cv_uac_value_u_int32_t = std::uint32_t;
using cv_uac_value_octal_32 = std::uint32_t;
using cv_uac_value_double = double;
using cv_uac_value_time = cv_uac_time;
using cv_uac_value_bps = std::uint64_t;
using cv_uac_value_char_ptr = char *;
using cv_uac_value_trimmed_char_ptr = char *;
using cv_uac_value_blankable_char_ptr = char *;
using cv_uac_value_cron = cv_uac_cron *;
using cv_uac_value_string_list = char *;
using cv_uac_value_range = cv_uac_range;

/* The type code of each value type, by the same names. */
inline constexpr std::int32_t cv_uac_type_code_lookup = CV_UAC_TYPE_LOOKUP;
inline constexpr std::int32_t cv_uac_type_code_boolean = CV_UAC_TYPE_BOOLEAN;
inline constexpr std::int32_t cv_uac_type_code_int64_t = CV_UAC_TYPE_INT64;
inline constexpr std::int32_t cv_uac_type_code_u_int64_t = CV_UAC_TYPE_UINT64;
inline constexpr std::int32_t cv_uac_type_code_int32_t = CV_UAC_TYPE_INT32;
inline constexpr std::int32_t cv_uac_type_code_u_int32_t = CV_UAC_TYPE_UINT32;
inline constexpr std::int32_t cv_uac_type_code_octal_32 = CV_UAC_TYPE_OCTAL32;
inline constexpr std::int32_t cv_uac_type_code_double = CV_UAC_TYPE_DOUBLE;
inline constexpr std::int32_t cv_uac_type_code_time = CV_UAC_TYPE_TIME;
inline constexpr std::int32_t cv_uac_type_code_bps = CV_UAC_TYPE_BPS;
inline constexpr std::int32_t cv_uac_type_code_char_ptr = CV_UAC_TYPE_CHAR_PTR;
inline constexpr std::int32_t cv_uac_type_code_trimmed_char_ptr = CV_UAC_TYPE_TRIMMED_CHAR_PTR;
inline constexpr std::int32_t cv_uac_type_code_blankable_char_ptr = CV_UAC_TYPE_BLANKABLE_CHAR_PTR;
inline constexpr std::int32_t cv_uac_type_code_cron = CV_UAC_TYPE_CRON;
inline constexpr std::int32_t cv_uac_type_code_string_list = CV_UAC_TYPE_STRING_LIST;
inline constexpr std::int32_t cv_uac_type_code_range = CV_UAC_TYPE_RANGE;

/* The header every config object begins with. */
struct cv_uac_object_header {
    cv_uac_class *descriptor;
    std::uintptr_t reserved;
    std::int32_t in_use;     /* constructed and not yet destroyed */
    std::int32_t lock_count; /* holders; guarded by `mutex` */
    cv_mutex mutex;
    std::int32_t dying;     /* set when the last holder let go */
    std::int32_t permanent; /* a class's defaults object: releases do nothing */
};

/* The members every config object has after its header. */
struct cv_uac_config_object {
    cv_uac_object_header header;
    cv_uac_warning *warnings;                  /* newest first */
    struct cv_uac_generic_entry *generic_form; /* built on first use, owned */
    cv_btree *variables;                       /* owned; null when none could be made */
    cv_uac_config_object *child;               /* released with the object */
    cv_uac_conf_set *own_set;                  /* the configuration a duplicate was read
                                                  from; its elements are the object's
                                                  source elements, so it lives as long */
};

/* One option of an object, as the generic form shows it.  Built once per
 * object in catalogue order and ended by an entry of type CV_UAC_TYPE_END. */
struct cv_uac_generic_entry {
    std::int32_t type;
    const char *name;
    const char *lookup;         /* the lookup list, or null */
    const char *lookup_display; /* the lookup list quoted, or "CV_NULL" */
    const char *description;    /* quoted, or "0" */
    xmlNode *source;            /* the element the value was read from, or null */
    std::int32_t is_set;        /* read from an element, or overridden */
    xmlNode **alternates;       /* all matching elements, when collected */
    std::int32_t number;        /* 1-based option number */
    std::uint64_t value_copy;   /* the value's first 64 bits after its last read */
    void *value;                /* the field in the object */
    const void *default_value;  /* the field in the class's defaults object */
    std::int32_t guard;         /* on_change is running for this entry */
};

/* One row of a class's catalogue.  Generate rows with CV_UAC_CATALOGUE_ROW
 * from the class's option list so that `offset` and the struct agree.
 *
 * `default_text` is the option's default, parsed by its type once for the
 * class's defaults object.  Null (CV_NULL in an option list) or the text
 * "CV_NULL" means no value: a null string, list or schedule, a zero number.
 * "" means the empty value for the string types: the empty string for
 * char_ptr, trimmed_char_ptr and blankable_char_ptr, the list without items
 * for string_list; for the other types "" is no valid default. */
struct cv_uac_option {
    const char *key;
    std::int32_t type;
    std::int32_t path[CV_UAC_OPTION_PATH_SIZE]; /* tag numbers, ended by PARSE_XML_END */
    const char *default_text;                   /* see above */
    const char *lookup;                         /* lookup list or item tag; null: none */
    const char *lookup_display;                 /* the lookup list as quoted text */
    const char *description;                    /* quoted note, or "0" */
    std::size_t offset;                         /* of the value field in the object */
};

/* A row of the per-option override table (slot 21), ended by a null name. */
struct cv_uac_override_row {
    const char *name;
    const char *parameter; /* the lookup list, or a string list's item tag */
    cv_uac_check_fn check;
    cv_uac_to_xml_fn to_xml;
};

/* A row of the per-option path table (slot 22), ended by a null name. */
struct cv_uac_path_row {
    const char *name;
    const std::int32_t *path;
};

/* Where a class's object keeps its per-option words. */
struct cv_uac_object_layout {
    std::size_t size;              /* bytes of one object */
    std::size_t start_offset;      /* xmlNode *: the first start element */
    std::size_t sources_offset;    /* xmlNode *[count] */
    std::size_t alternates_offset; /* xmlNode **[count] */
};

/* The per-option words that end a class's struct. */
template <std::size_t Count>
struct cv_uac_option_words {
    xmlNode *start;
    xmlNode *sources[Count];
    xmlNode **alternates[Count];
};

/* What a loader reads an object from. */
struct cv_uac_load_request {
    const cv_uac_conf_set *set; /* the configuration, or null */
    xmlNode *const *start;      /* null-terminated elements the paths start from, or null */
    cv_btree *variables;        /* the caller's variables, merged into the object's */
    void *context;              /* handed to the class's build hook */
    std::int32_t alternates;    /* collect every match of each option */
};

/* Writes the text of `entry` for serialization into `text` and may put a
 * comment into `comment` (both start empty).  0 to write the entry, -1 to
 * pass it over. */
using cv_uac_serialize_formatter = std::int32_t (*)(const cv_uac_generic_entry *entry, char *text,
                                                    std::size_t text_capacity, char *comment,
                                                    std::size_t comment_capacity, void *context);

/* A class descriptor.  Slots 0 to 23 are the class's operations and tables;
 * the fields after them describe its catalogue and object layout and hold
 * its set-up state.  Define a class with designated initializers, naming
 * only the slots it fills. */
struct cv_uac_class {
    std::uint32_t flags = {};       /* 0 */
    cv_uac_class *parent = nullptr; /* 1 */
    /* 2: releases one hold; on the last, frees the object's owned fields and
     * memory (CV_UAC_DESTROY_KEEP_MEMORY: only clears the header). */
    void (*destroy)(cv_uac_config_object *object, std::uint32_t flags) = nullptr;
    /* 3: inherits the empty slots, then becomes a no-op. */
    cv_status (*class_init)(cv_uac_class *cls) = nullptr;
    /* 4: 0 when `text` is an acceptable override of option `name` ("CV_NULL"
     * always is); 22 for an unknown name; else the type's refusal with its
     * reason in `*message` (may be null). */
    cv_status (*check_override_by_name)(cv_uac_config_object *object, const char *name,
                                        const char *text, const char **message) = nullptr;
    /* 5: the XML content standing for override `text` of option `name`, into
     * `output`; 22 for an unknown name, else the type's status. */
    cv_status (*override_to_xml_by_name)(cv_uac_config_object *object, const char *name,
                                         const char *text, char *output,
                                         std::size_t capacity) = nullptr;
    /* 6: the object's options as XML text in `*xml` (release with
     * cv_uac_free).  Options not set are left out unless `all`; so are
     * options named "*_INTERNAL" and options whose path climbs to a parent.
     * `formatter` (may be null) writes each value instead of its type. */
    cv_status (*serialize)(cv_uac_config_object *object, const char *indent, const char *unit,
                           std::int32_t all, cv_uac_serialize_formatter formatter,
                           void *formatter_context, char **xml) = nullptr;
    /* 7: the class's defaults object, built on first use; null when it cannot
     * be built. */
    cv_uac_config_object *(*get_defaults)(cv_uac_class *cls) = nullptr;
    /* 8: the XML path of option `name`, or null. */
    const std::int32_t *(*xml_path_by_name)(cv_uac_config_object *object,
                                            const char *name) = nullptr;
    /* 9: the 1-based number of option `name`, or 0. */
    std::int32_t (*index_by_name)(cv_uac_config_object *object, const char *name) = nullptr;
    /* 10: the object's generic form and, in `*count` (may be null), its number
     * of options; null when it cannot be allocated. */
    cv_uac_generic_entry *(*get_generic_form)(cv_uac_config_object *object,
                                              std::size_t *count) = nullptr;
    /* 11, 12: apply override `text` to an option (see cv_uac_config_set_by_name). */
    cv_status (*set_by_name)(cv_uac_config_object *object, const char *name, const char *text,
                             cv_uac_warning **warnings) = nullptr;
    cv_status (*set_by_index)(cv_uac_config_object *object, std::int32_t index, const char *text,
                              cv_uac_warning **warnings) = nullptr;
    /* 13: the quoted note of option `name` in `*description`. */
    cv_status (*get_description_by_name)(cv_uac_config_object *object, const char *name,
                                         const char **description,
                                         cv_uac_warning **warnings) = nullptr;
    /* 14: validate with CV_UAC_CHECK_STRICTNESS. */
    cv_status (*check)(cv_uac_config_object *object, cv_uac_warning **warnings) = nullptr;
    /* 15: reports inconsistent settings through report_setting. */
    cv_status (*validate)(cv_uac_config_object *object, cv_uac_warning **warnings,
                          std::int32_t strictness) = nullptr;
    /* 16: see cv_uac_config_write_conf_d_override. */
    cv_status (*write_conf_d_override)(cv_uac_config_object *object, cv_uac_conf_set **set_holder,
                                       cv_uac_warning **warnings, const char *name,
                                       const char *text, const char *directory) = nullptr;
    /* 17: an independent copy in `*copy`, read back from the object's
     * serialized text. */
    cv_status (*duplicate)(cv_uac_config_object *object, cv_uac_config_object **copy) = nullptr;
    /* 18: derives settings after loading; `request` is null for the defaults
     * object. */
    cv_status (*build)(cv_uac_config_object *object, const cv_uac_load_request *request) = nullptr;
    /* 19: releases the class's sub-objects before the object is freed. */
    void (*release_hook)(cv_uac_config_object *object) = nullptr;
    /* 20: runs after loading and after each applied override. */
    cv_status (*on_change)(cv_uac_config_object *object) = nullptr;
    const cv_uac_override_row *override_table = nullptr; /* 21: derived from the catalogue */
    const cv_uac_path_row *path_table = nullptr;         /* 22: derived from the catalogue */
    const char *name = nullptr;                          /* 23 */

    const cv_uac_option *catalogue = nullptr; /* option_count rows, in field order */
    std::size_t option_count = {};
    cv_uac_object_layout layout = {};

    /* Where a conf.d override file puts an object of the class, so that the
     * class's look-up reads it: the path from the configuration's root to the
     * element an object is read from (tag numbers ended by PARSE_XML_END;
     * null: the element named like the class, at the root). */
    const std::int32_t *conf_d_path = nullptr;
    /* The options that tell the class's objects apart, null-terminated (null:
     * none).  An override file holds their values, at their own paths from
     * the class's element (a path may climb along the class's path), beside
     * the override, and its name holds them too.  A key written "?key" is
     * optional: an object without a value for it is told apart without it. */
    const char *const *conf_d_keys = nullptr;

    std::atomic<std::int32_t> initialised = {};
    std::atomic<cv_uac_config_object *> defaults = {};
};

/* The root class of every config class. */
extern cv_uac_class cv_uac_base_class;

/* Row of a catalogue for option `key` of the struct `object_type` (the
 * class recipe, cv_uac_class_recipe.h, writes these rows for a class), value
 * type `type` (a type name such as u_int32_t), path `path` (a parenthesised
 * list of tag names, `Move_Up_to_Parent` climbing), default and lookup texts
 * (string literals or null), the lookup list as quoted display text and the
 * quoted note.  A class's option list uses it like this, with CV_NULL
 * standing for "none" so that its spelling is the display text:
 *
 *   #define CV_NULL nullptr
 *   #define CV_UAC_OPTION(key, type, path, default_text, lookup) \
 *       CV_UAC_CATALOGUE_ROW(cv_uac_trunk, key, type, path, default_text, lookup, #lookup, "0"),
 */
// clang-format off
#define CV_UAC_CATALOGUE_ROW(object_type, key, type, path, default_text, lookup, lookup_display, \
                             description)                                                        \
    cv_uac_option {                                                                              \
        #key, cv_uac_type_code_##type, CV_UAC_PATH path, default_text, lookup, lookup_display,   \
        description, offsetof(object_type, key)                                                  \
    }
// clang-format on

/* An option path from tag names: CV_UAC_PATH(transfer, in, value) is
 * {PARSE_XML_TAG_transfer, PARSE_XML_TAG_in, PARSE_XML_TAG_value, END}. */
#define CV_UAC_PATH(...) \
    { CV_UAC_PATH_PICK_(__VA_ARGS__, CV_UAC_PATH_REST_)(__VA_ARGS__), PARSE_XML_END }
#define CV_UAC_PATH_PICK_(...) CV_UAC_PATH_SELECT_(__VA_ARGS__)
#define CV_UAC_PATH_SELECT_(_1, _2, _3, _4, _5, _6, _7, _8, _9, _10, _11, _12, _13, _14, _15, N, \
                            ...)                                                                 \
    CV_UAC_PATH_##N
#define CV_UAC_PATH_REST_ 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1
#define CV_UAC_TAG_(name) PARSE_XML_TAG_##name
#define CV_UAC_PATH_1(a) CV_UAC_TAG_(a)
#define CV_UAC_PATH_2(a, ...) CV_UAC_TAG_(a), CV_UAC_PATH_1(__VA_ARGS__)
#define CV_UAC_PATH_3(a, ...) CV_UAC_TAG_(a), CV_UAC_PATH_2(__VA_ARGS__)
#define CV_UAC_PATH_4(a, ...) CV_UAC_TAG_(a), CV_UAC_PATH_3(__VA_ARGS__)
#define CV_UAC_PATH_5(a, ...) CV_UAC_TAG_(a), CV_UAC_PATH_4(__VA_ARGS__)
#define CV_UAC_PATH_6(a, ...) CV_UAC_TAG_(a), CV_UAC_PATH_5(__VA_ARGS__)
#define CV_UAC_PATH_7(a, ...) CV_UAC_TAG_(a), CV_UAC_PATH_6(__VA_ARGS__)
#define CV_UAC_PATH_8(a, ...) CV_UAC_TAG_(a), CV_UAC_PATH_7(__VA_ARGS__)
#define CV_UAC_PATH_9(a, ...) CV_UAC_TAG_(a), CV_UAC_PATH_8(__VA_ARGS__)
#define CV_UAC_PATH_10(a, ...) CV_UAC_TAG_(a), CV_UAC_PATH_9(__VA_ARGS__)
#define CV_UAC_PATH_11(a, ...) CV_UAC_TAG_(a), CV_UAC_PATH_10(__VA_ARGS__)
#define CV_UAC_PATH_12(a, ...) CV_UAC_TAG_(a), CV_UAC_PATH_11(__VA_ARGS__)
#define CV_UAC_PATH_13(a, ...) CV_UAC_TAG_(a), CV_UAC_PATH_12(__VA_ARGS__)
#define CV_UAC_PATH_14(a, ...) CV_UAC_TAG_(a), CV_UAC_PATH_13(__VA_ARGS__)
#define CV_UAC_PATH_15(a, ...) CV_UAC_TAG_(a), CV_UAC_PATH_14(__VA_ARGS__)

/* The layout of a class struct that ends with `cv_uac_option_words words`. */
#define CV_UAC_OBJECT_LAYOUT(object_type)                                                 \
    cv_uac_object_layout {                                                                \
        sizeof(object_type), offsetof(object_type, words.start),                          \
            offsetof(object_type, words.sources), offsetof(object_type, words.alternates) \
    }

/* Sets `cls` up once: its parent first, then every empty slot from 4 to 23
 * is taken from the parent, the flags gain the parent's, the override and
 * path tables are derived from the catalogue, and the init slot becomes a
 * no-op.  Safe from any thread.  0; 8 when the tables cannot be allocated
 * (the class stays as it was and the next use tries again). */
[[nodiscard]] cv_status cv_uac_class_init(cv_uac_class *cls);

/* The defaults object of `cls` (set up first), built on first use and kept
 * for the process's life: every option holds its default text parsed by its
 * type (see cv_uac_option for "" and CV_NULL), then the build hook runs with
 * no request.  The framework must be started when it is first built.  Null when it cannot be allocated. */
cv_uac_config_object *cv_uac_class_defaults(cv_uac_class *cls);

/* Reads a new object of `cls` into `*object` (null on failure).  The
 * object's variable tree is a copy of the framework's variables merged with
 * `request->variables`; each option starts as its default and is then read
 * at its path under `request->start`, as the best match by fitness with the
 * variable tree, or as the first match when there is no tree or
 * `request->alternates` asks for all matches (kept in the alternates word).
 * Problems go to the object's warning list.  Then the build hook and
 * on_change run.  The new object has one holder.  `request` may be null
 * (an object of defaults).  0; 22 for a null class or `object`; 8 when the
 * object cannot be allocated ("Config object will not be created"); else
 * the build hook's status (the object is then released). */
[[nodiscard]] cv_status cv_uac_config_load(cv_uac_class *cls, const cv_uac_load_request *request,
                                           cv_uac_config_object **object);

/* Adds a holder to `object` (null is ignored). */
void cv_uac_config_hold(cv_uac_config_object *object);

/* Lets go of one hold through the object's destroy slot; the last frees
 * it.  Null and defaults objects are ignored. */
void cv_uac_config_release(cv_uac_config_object *object);

/* The destroy slot of `base`, for classes to name in theirs.  Lets go of
 * one hold: an object not in use is destroyed at once, one already dying is
 * left to the destruction under way, a holder count below 1 is logged as
 * "Invalid object lock count: %d" and the object destroyed.  On the last
 * hold it runs the class's release hook and frees every owned value (never
 * the defaults' own), the alternates, the generic form, the warnings, the
 * variable tree, the child object and a duplicate's configuration, then the
 * mutex and the memory (with CV_UAC_DESTROY_KEEP_MEMORY only the header is
 * cleared). */
void cv_uac_config_destroy(cv_uac_config_object *object, std::uint32_t flags);

/* Applies override `text` to option `name` (set_by_name) or to the option
 * at 0-based `index` (set_by_index), through the object's class slots:
 *   - "?X:T" applies T only when the option's current value written as
 *     text is X, "?!X:T" only when it is not; otherwise the debug line
 *     "Override rejected.  %s is the current value for %s." and 0;
 *   - "CV_NULL" restores the default;
 *   - any other text is XML content read by the option's type from
 *     "<CONF>text</CONF>" without variable expansion (a number is its text,
 *     a string list a sequence of item elements, a schedule a schedule
 *     element).
 * On success the option counts as set and, unless on_change is already
 * running for it, on_change runs and its status is returned.  A text that
 * cannot be read leaves the option's previous value and returns: 22 with
 * "Override string \"%s\" breaks XML" when it is not XML, the status of
 * "Unable to decorate XML tree", 28687 without a root, 28677 when the
 * wrapped text does not fit CV_UAC_OVERRIDE_XML_SIZE, or the status of the
 * newest warning the reading added (28688 for a value the type refuses).
 * An unknown name gives "%s objects have no member named %s", an index out
 * of range "Option index %d is too high for a %s.  Can't be greater than
 * %zu.", both with status 22.  A defaults object is never changed (22).
 * Warnings go to `warnings` (may be null). */
[[nodiscard]] cv_status cv_uac_config_set_by_name(cv_uac_config_object *object, const char *name,
                                                  const char *text, cv_uac_warning **warnings);
[[nodiscard]] cv_status cv_uac_config_set_by_index(cv_uac_config_object *object, std::int32_t index,
                                                   const char *text, cv_uac_warning **warnings);

/* Writes override `text` of option `name` as a file of its own in the
 * conf.d folder that loading `directory` (the path of corvane.conf) scans,
 * laid out as the class's look-up reads the configuration, so that the
 * override takes effect when the configuration is read again:
 *   - the file is "<directory>/../conf.d/<class>_<name>.conf", with
 *     "@<value>" before ".conf" for each of the class's conf_d_keys (the
 *     key's current value written by its type, every byte but letters,
 *     digits, ".", "-" and "_" as "%XX"): one file per object and option,
 *     so writing the option again replaces it;
 *   - it holds a CONF root of version 2, the elements of the class's
 *     conf_d_path (by default the class's element), the keys' values at
 *     their paths and the option's path around the text, the option's own
 *     element with the attribute fitness="CV_UAC_OVERRIDE_FITNESS", so that
 *     it outranks every other value of the option while conf.d files are
 *     searched before the main file (cv_uac_load_conf_file).
 * The override is applied to the object first (set_by_name; its failure is
 * returned and nothing is written; a rejected condition writes nothing and
 * gives 0; the file holds the text after a condition).  The text CV_NULL
 * restores the object's default and removes the option's file instead of
 * writing one (an absent file is no failure), so that reading again gives
 * the main file's value or the default.  The folder is created with mode
 * 0775 when missing.  The content is written to a temporary file beside the
 * final one, flushed to disk and renamed over the final name, so that the
 * final file is either the old one or the whole new one; the temporary file
 * is removed on any failure.  With `set_holder`, the set it holds takes the
 * file in its place among the conf.d files, replacing the one read before
 * (cv_uac_load_additional_conf_file), or drops it after a removal, so a
 * look-up through that set sees the change; an empty holder gets a set
 * loaded from `directory`.  0; 22 for null arguments, an unknown option,
 * one whose path climbs to a parent, a key of the class, or an object whose
 * key has no value (with a warning); 206 when the file name would be longer
 * than 255 bytes (with a warning); 28677 when the content does not fit
 * CV_UAC_CONF_D_CONTENT_SIZE (nothing written); 28677 with a warning when
 * the file was written but the held set is full; else the failing platform
 * status. */
[[nodiscard]] cv_status cv_uac_config_write_conf_d_override(cv_uac_config_object *object,
                                                            cv_uac_conf_set **set_holder,
                                                            cv_uac_warning **warnings,
                                                            const char *name, const char *text,
                                                            const char *directory);

/* Reports a finding of a validation step, formatted into
 * CV_UAC_REPORT_TEXT_SIZE bytes: with `strictness` 0 or more it is added to
 * `warnings` with status 22 and `*status` (may be null) becomes 22; with -1
 * it is logged at information level as "Configuration: %s"; lower, at debug
 * level as "Configuration: %s" when cv_log_verbosity is at least 1. */
void report_setting(std::int32_t strictness, cv_status *status, cv_uac_warning **warnings,
                    const char *format, ...) __attribute__((format(printf, 4, 5)));

/* A value tree: the serializer's intermediate form, one node per path
 * element keyed by tag number, each holding a text, a comment and its
 * children.  It lives in the heap it was created in. */
struct cv_uac_xml_tree;

/* Creates an empty tree in `heap` into `*tree`.  0; 22 for null; 8 out of
 * memory. */
[[nodiscard]] cv_status cv_uac_xml_tree_create(cv_uac_heap *heap, cv_uac_xml_tree **tree);

/* Stores `text` (may be null: none) and `comment` (may be null or empty) at
 * `path` (tag numbers ended by PARSE_XML_END), creating the nodes on the way
 * and recording each tag in the tree's tag order the first time it is met.
 * A text for a node that has one is appended to it; a comment replaces the
 * node's.  0; 22 for a null tree or path, an empty path or a tag outside the
 * tag table (tag 0 included: a tree only goes down); 8 out of memory. */
[[nodiscard]] cv_status cv_uac_xml_tree_add(cv_uac_xml_tree *tree, const std::int32_t *path,
                                            const char *text, const char *comment);

/* 1 when nothing has been stored in `tree`. */
std::int32_t cv_uac_xml_tree_empty(const cv_uac_xml_tree *tree);

/* The tags of the tree in the order they were first met, ended by
 * PARSE_XML_END. */
const std::int32_t *cv_uac_xml_tree_tag_order(const cv_uac_xml_tree *tree);

/* Writes `tree` as XML text into `*xml` (release with cv_uac_free; null on
 * failure).  The text is measured first, then written into one buffer of
 * the exact size.  Layout: a header line (`indent`, `header`) when `header`
 * is not empty, the tree with `indent` (grown by one `unit` when there is a
 * header) and one more `unit` per level, each extra text of the
 * null-terminated `extra_texts` (may be null), then a footer line like the
 * header.  Children are written in `tag_order` order (null: the tree's own),
 * a leaf as "<tag>text</tag>" on one line; a node's comment is written
 * after its closing tag as " <!-- comment -->", or, for a node with
 * children, as a line of its own above them followed by an empty line.
 * 0; 22 for null arguments; 8 when the buffer cannot be allocated. */
[[nodiscard]] cv_status serialize_tree_to_xml(const cv_uac_xml_tree *tree, const char *indent,
                                              const char *unit, const char *header,
                                              const char *footer, const std::int32_t *tag_order,
                                              const char *const *extra_texts, char **xml);
