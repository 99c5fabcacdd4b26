// The option model's core: class set-up and inheritance, the defaults
// object of each class, the loader, holds and destruction, the generic
// form, and reading, checking and applying overrides.
//
// Everything here works from a class's catalogue: a row gives an option's
// type, path, default and lookup texts and where its value lives, so one
// loop serves every class.  Class set-up and the building of defaults
// objects run once per class under one process-wide lock; the lock is
// recursive because building one class's defaults may need another's.
//
// An override is read into a scratch value first and only replaces the
// option's value once it has been read without a warning, so a malformed
// override never costs the option its previous value.
#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <string_view>

#include "cvplatform/cv_containers.h"
#include "cvplatform/cv_log.h"
#include "cvplatform/cv_str.h"
#include "parse_config_options_internal.h"
#include "uac/cv_uac_class_registry.h"
#include "uac/cv_uac_memory_heap.h"

namespace {

using namespace cv_uac_config_impl;

constexpr const char *kObjectLabel = "Config object will not be created";
constexpr const char *kFormLabel = "Allocating config object generic form.  Processing will fail";
constexpr const char *kTablesLabel = "Config class option tables.  Class will not be usable";
constexpr const char *kEmptyListLabel = "Empty string list default.  The option will have none";
constexpr const char *kNoMemberFormat = "%s objects have no member named %s";
constexpr const char *kIndexFormat =
    "Option index %d is too high for a %s.  Can't be greater than %zu.";
constexpr const char *kRejectedFormat = "Override rejected.  %s is the current value for %s.";

std::recursive_mutex &setup_mutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

std::size_t value_size(std::int32_t type) {
    const cv_uac_type_descriptor *descriptor = cv_uac_type_descriptor_of(type);
    return descriptor ? descriptor->value_size : 0;
}

char *field_at(cv_uac_config_object *object, std::size_t offset) {
    return reinterpret_cast<char *>(object) + offset;
}

std::uint64_t first_64_bits(const void *value, std::int32_t type) {
    std::uint64_t copy = 0;
    const std::size_t size = value_size(type);
    std::memcpy(&copy, value, size < sizeof copy ? size : sizeof copy);
    return copy;
}

/* The object that holds the defaults `object`'s values fall back on. */
cv_uac_config_object *defaults_for(cv_uac_config_object *object) {
    if (object->header.permanent) return object;
    return object->header.descriptor->defaults.load(std::memory_order_acquire);
}

const void *default_field(cv_uac_config_object *object, std::size_t index) {
    cv_uac_config_object *defaults = defaults_for(object);
    return defaults ? value_field(defaults, index) : nullptr;
}

// ---- class set-up -------------------------------------------------------

cv_status class_init_done(cv_uac_class *) { return CV_OK; }

/* Derives the per-option tables from the catalogue, unless the class gives
 * its own. */
cv_status build_tables(cv_uac_class *cls) {
    if (!cls->catalogue || cls->option_count == 0) return CV_OK;
    if (!cls->override_table) {
        auto *rows = static_cast<cv_uac_override_row *>(
            CV_UAC_CALLOC((cls->option_count + 1) * sizeof(cv_uac_override_row), kTablesLabel));
        if (!rows) return CV_E_NO_MEMORY;
        for (std::size_t i = 0; i < cls->option_count; ++i) {
            const cv_uac_option &row = cls->catalogue[i];
            const cv_uac_type_descriptor *type = cv_uac_type_descriptor_of(row.type);
            rows[i] = {row.key, row.lookup, type ? type->check_override : nullptr,
                       type ? type->override_to_xml : nullptr};
        }
        cls->override_table = rows;
    }
    if (!cls->path_table) {
        auto *rows = static_cast<cv_uac_path_row *>(
            CV_UAC_CALLOC((cls->option_count + 1) * sizeof(cv_uac_path_row), kTablesLabel));
        if (!rows) return CV_E_NO_MEMORY;
        for (std::size_t i = 0; i < cls->option_count; ++i)
            rows[i] = {cls->catalogue[i].key, cls->catalogue[i].path};
        cls->path_table = rows;
    }
    return CV_OK;
}

void inherit_slots(cv_uac_class *cls, const cv_uac_class *parent) {
#define CV_UAC_INHERIT(slot) \
    if (!cls->slot) cls->slot = parent->slot
    CV_UAC_INHERIT(check_override_by_name);
    CV_UAC_INHERIT(override_to_xml_by_name);
    CV_UAC_INHERIT(serialize);
    CV_UAC_INHERIT(get_defaults);
    CV_UAC_INHERIT(xml_path_by_name);
    CV_UAC_INHERIT(index_by_name);
    CV_UAC_INHERIT(get_generic_form);
    CV_UAC_INHERIT(set_by_name);
    CV_UAC_INHERIT(set_by_index);
    CV_UAC_INHERIT(get_description_by_name);
    CV_UAC_INHERIT(check);
    CV_UAC_INHERIT(validate);
    CV_UAC_INHERIT(write_conf_d_override);
    CV_UAC_INHERIT(duplicate);
    CV_UAC_INHERIT(build);
    CV_UAC_INHERIT(release_hook);
    CV_UAC_INHERIT(on_change);
    CV_UAC_INHERIT(override_table);
    CV_UAC_INHERIT(path_table);
    CV_UAC_INHERIT(name);
#undef CV_UAC_INHERIT
}

cv_status init_locked(cv_uac_class *cls) {
    if (cls->initialised.load(std::memory_order_acquire)) return CV_OK;
    if (cls->parent)
        if (cv_status status = init_locked(cls->parent); status != CV_OK) return status;
    // The class's own tables come first, so that a parent's never stand in
    // for a catalogue the class has.
    if (cv_status status = build_tables(cls); status != CV_OK) return status;
    if (cls->parent) {
        inherit_slots(cls, cls->parent);
        cls->flags |= cls->parent->flags;
    }
    cls->class_init = class_init_done;
    cls->initialised.store(1, std::memory_order_release);
    return CV_OK;
}

// ---- defaults ----------------------------------------------------------

/* A default text of "" is the empty value of a string type: the empty
 * string for the three string types, the list without items for a string
 * list.  Read as an override would be, "" would be an element without
 * text, which leaves a trimmed string and a list unset: "no value" is
 * written CV_NULL, never "".  True when `row` has such a default and
 * `*value` now holds it. */
bool set_empty_default(const cv_uac_option &row, void *value) {
    if (row.default_text[0] != '\0') return false;
    switch (row.type) {
        case CV_UAC_TYPE_CHAR_PTR:
        case CV_UAC_TYPE_TRIMMED_CHAR_PTR:
        case CV_UAC_TYPE_BLANKABLE_CHAR_PTR:
            *static_cast<char **>(value) = cv_uac_shared_empty_string();
            return true;
        case CV_UAC_TYPE_STRING_LIST: {
            // The defaults object lives as long as the process, and so does
            // its list.
            auto *list = static_cast<char *>(CV_UAC_MALLOC(2, kEmptyListLabel));
            if (!list) return true;
            list[0] = CV_UAC_STRING_LIST_END;
            list[1] = '\0';
            *static_cast<char **>(value) = list;
            return true;
        }
        default:
            return false;
    }
}

// ---- objects -----------------------------------------------------------

cv_uac_config_object *construct(cv_uac_class *cls, bool permanent) {
    auto *object =
        static_cast<cv_uac_config_object *>(CV_UAC_CALLOC(cls->layout.size, kObjectLabel));
    if (!object) return nullptr;
    object->header.descriptor = cls;
    object->header.in_use = 1;
    object->header.lock_count = 1;
    object->header.permanent = permanent ? 1 : 0;
    (void)cv_mutex_init(&object->header.mutex);
    if (!permanent) (void)cv_uac_config_object_count_add(1);
    return object;
}

/* Lets go of one hold: true when the object is to be destroyed, with
 * `*mutex_held` telling whether its mutex is still held. */
bool last_hold_released(cv_uac_config_object *object, bool *mutex_held) {
    cv_uac_object_header &header = object->header;
    *mutex_held = false;
    // A dying object is being destroyed further up the stack (a release
    // hook or child reached it again): destroying it here too would free it
    // twice.
    if (header.dying) return false;
    if (!header.in_use) return true;
    // A failed acquire means this thread already holds the mutex: the
    // object is in use further up the stack and must not be freed.
    if (cv_mutex_acquire(&header.mutex) != CV_OK) return false;
    if (header.lock_count < 1) {
        cv_log_error("Invalid object lock count: %d", header.lock_count);
        (void)cv_mutex_release(&header.mutex);
        return true;
    }
    --header.lock_count;
    (void)cv_uac_config_object_count_add(-1);
    if (header.lock_count == 0) {
        header.dying = 1;
        *mutex_held = true;
        return true;
    }
    (void)cv_mutex_release(&header.mutex);
    return false;
}

void free_object(cv_uac_config_object *object, std::uint32_t flags, bool mutex_held) {
    if (const cv_uac_class *cls = object->header.descriptor) {
        if (cls->release_hook) cls->release_hook(object);
        for (std::size_t i = 0; i < cls->option_count; ++i) {
            (void)cv_uac_type_free(cls->catalogue[i].type, value_field(object, i),
                                   default_field(object, i));
            cv_uac_free(*alternates_word(object, i));
            *alternates_word(object, i) = nullptr;
        }
    }
    cv_uac_free(object->generic_form);
    object->generic_form = nullptr;
    cv_uac_free_warnings(&object->warnings);
    (void)cv_btree_destroy(object->variables, nullptr);
    object->variables = nullptr;
    cv_uac_config_release(object->child);
    object->child = nullptr;
    (void)cv_uac_release_conf_file_set(object->own_set);
    object->own_set = nullptr;
    if (mutex_held) (void)cv_mutex_release(&object->header.mutex);
    (void)cv_mutex_destroy(&object->header.mutex);
    if (flags & CV_UAC_DESTROY_KEEP_MEMORY)
        std::memset(static_cast<void *>(&object->header), 0, sizeof object->header);
    else
        cv_uac_free(object);
}

// ---- base slots --------------------------------------------------------

cv_uac_config_object *base_get_defaults(cv_uac_class *cls) { return cv_uac_class_defaults(cls); }

cv_uac_generic_entry *base_get_generic_form(cv_uac_config_object *object, std::size_t *count) {
    if (count) *count = 0;
    if (!object || !object->header.descriptor) return nullptr;
    const cv_uac_class *cls = object->header.descriptor;
    if (!object->generic_form) {
        auto *form = static_cast<cv_uac_generic_entry *>(
            CV_UAC_CALLOC((cls->option_count + 1) * sizeof(cv_uac_generic_entry), kFormLabel));
        if (!form) return nullptr;
        for (std::size_t i = 0; i < cls->option_count; ++i) {
            const cv_uac_option &row = cls->catalogue[i];
            void *value = value_field(object, i);
            xmlNode *source = *source_word(object, i);
            form[i] = {row.type,
                       row.key,
                       row.lookup,
                       row.lookup_display ? row.lookup_display : CV_UAC_NULL,
                       row.description ? row.description : "0",
                       source,
                       source ? 1 : 0,
                       *alternates_word(object, i),
                       static_cast<std::int32_t>(i + 1),
                       first_64_bits(value, row.type),
                       value,
                       default_field(object, i),
                       0};
        }
        form[cls->option_count].type = CV_UAC_TYPE_END;
        object->generic_form = form;
    }
    if (count) *count = cls->option_count;
    return object->generic_form;
}

std::int32_t base_index_by_name(cv_uac_config_object *object, const char *name) {
    if (!object || !name) return 0;
    const cv_uac_class *cls = object->header.descriptor;
    for (std::size_t i = 0; i < cls->option_count; ++i)
        if (std::strcmp(cls->catalogue[i].key, name) == 0) return static_cast<std::int32_t>(i + 1);
    return 0;
}

const std::int32_t *base_xml_path_by_name(cv_uac_config_object *object, const char *name) {
    if (!object || !name || !object->header.descriptor->path_table) return nullptr;
    for (const cv_uac_path_row *row = object->header.descriptor->path_table; row->name; ++row)
        if (std::strcmp(row->name, name) == 0) return row->path;
    return nullptr;
}

const cv_uac_override_row *override_row(cv_uac_config_object *object, const char *name) {
    if (!object || !name || !object->header.descriptor->override_table) return nullptr;
    for (const cv_uac_override_row *row = object->header.descriptor->override_table; row->name;
         ++row)
        if (std::strcmp(row->name, name) == 0) return row;
    return nullptr;
}

/* The reason of the newest refusal of an override check by name. */
thread_local char check_message[CV_UAC_WARNING_TEXT_SIZE];

cv_status base_check_override_by_name(cv_uac_config_object *object, const char *name,
                                      const char *text, const char **message) {
    if (message) *message = nullptr;
    const cv_uac_override_row *row = override_row(object, name);
    if (!row || !text || !row->check || !row->to_xml) return CV_E_INVALID;
    if (std::strcmp(text, CV_UAC_NULL) == 0) return CV_OK;
    if (cv_status status = row->check(text, row->parameter, message); status != CV_OK)
        return status;
    // The text is then parsed as set_by_name would parse it, so that what
    // passes here is exactly what an override can set: XML that does not
    // fit or does not load is refused here too, with the reason.
    const cv_uac_generic_entry *entry = entry_by_name(object, name, nullptr);
    if (!entry || !entry->default_value) return CV_E_INVALID;
    cv_uac_any_value scratch;
    std::memcpy(&scratch, entry->default_value, value_size(entry->type));
    cv_uac_warning *found = nullptr;
    cv_status status = cv_uac_type_parse_text(entry->type, text, entry->lookup, &scratch, &found);
    (void)cv_uac_type_free(entry->type, &scratch, entry->default_value);
    if (status != CV_OK) {
        (void)cv_str_copy(check_message, found ? found->text : "Override not readable",
                          sizeof check_message);
        if (message) *message = check_message;
        if (status != CV_E_BUFFER_SPACE) status = CV_E_INVALID;
    }
    cv_uac_free_warnings(&found);
    return status;
}

cv_status base_override_to_xml_by_name(cv_uac_config_object *object, const char *name,
                                       const char *text, char *output, std::size_t capacity) {
    if (!output || capacity == 0) return CV_E_INVALID;
    output[0] = '\0';
    const cv_uac_override_row *row = override_row(object, name);
    if (!row || !text || !row->to_xml) return CV_E_INVALID;
    return row->to_xml(text, output, capacity, row->parameter);
}

cv_status base_set_by_name(cv_uac_config_object *object, const char *name, const char *text,
                           cv_uac_warning **warnings) {
    if (!object || !name || !text) return CV_E_INVALID;
    if (!object->header.descriptor->get_generic_form(object, nullptr)) return CV_E_NO_MEMORY;
    cv_uac_generic_entry *entry = entry_by_name(object, name, warnings);
    if (!entry) return CV_E_INVALID;
    return set_entry(object, entry, text, warnings, nullptr);
}

cv_status base_set_by_index(cv_uac_config_object *object, std::int32_t index, const char *text,
                            cv_uac_warning **warnings) {
    if (!object || !text) return CV_E_INVALID;
    std::size_t count = 0;
    cv_uac_generic_entry *form = object->header.descriptor->get_generic_form(object, &count);
    if (!form) return CV_E_NO_MEMORY;
    if (index < 0 || static_cast<std::size_t>(index) >= count) {
        add_warning(warnings, CV_E_INVALID, kIndexFormat, index, object->header.descriptor->name,
                    count);
        return CV_E_INVALID;
    }
    return set_entry(object, &form[index], text, warnings, nullptr);
}

cv_status base_get_description_by_name(cv_uac_config_object *object, const char *name,
                                       const char **description, cv_uac_warning **warnings) {
    if (description) *description = nullptr;
    if (!object || !name || !description) return CV_E_INVALID;
    if (!object->header.descriptor->get_generic_form(object, nullptr)) return CV_E_NO_MEMORY;
    const cv_uac_generic_entry *entry = entry_by_name(object, name, warnings);
    if (!entry) return CV_E_INVALID;
    *description = entry->description;
    return CV_OK;
}

cv_status base_check(cv_uac_config_object *object, cv_uac_warning **warnings) {
    if (!object) return CV_E_INVALID;
    return object->header.descriptor->validate(object, warnings, CV_UAC_CHECK_STRICTNESS);
}

cv_status base_validate(cv_uac_config_object *, cv_uac_warning **, std::int32_t) { return CV_OK; }
cv_status base_build(cv_uac_config_object *, const cv_uac_load_request *) { return CV_OK; }
void base_release_hook(cv_uac_config_object *) {}
cv_status base_on_change(cv_uac_config_object *) { return CV_OK; }

/* Reads override `text` of `entry` into `*value` (starting from the
 * default) as the type parses an override: converted to XML by the type,
 * then read from "<CONF>xml</CONF>". */
cv_status read_override(const cv_uac_generic_entry &entry, const char *text,
                        cv_uac_warning **warnings, cv_uac_any_value *value) {
    std::memcpy(value, entry.default_value, value_size(entry.type));
    return cv_uac_type_parse_text(entry.type, text, entry.lookup, value, warnings);
}

/* Whether `expected` is the value of `entry` written as text by its type;
 * a value that cannot be written matches nothing. */
bool current_text_is(const cv_uac_generic_entry &entry, std::string_view expected,
                     char **current) {
    *current = nullptr;
    if (cv_uac_type_write_alloc(entry.type, entry.value, entry.lookup, current) != CV_OK)
        return false;
    return std::string_view(*current) == expected;
}

}  // namespace

namespace cv_uac_config_impl {

void *value_field(cv_uac_config_object *object, std::size_t index) {
    return field_at(object, object->header.descriptor->catalogue[index].offset);
}

xmlNode **source_word(cv_uac_config_object *object, std::size_t index) {
    return reinterpret_cast<xmlNode **>(
               field_at(object, object->header.descriptor->layout.sources_offset)) +
           index;
}

xmlNode ***alternates_word(cv_uac_config_object *object, std::size_t index) {
    return reinterpret_cast<xmlNode ***>(
               field_at(object, object->header.descriptor->layout.alternates_offset)) +
           index;
}

cv_uac_generic_entry *entry_by_name(cv_uac_config_object *object, const char *name,
                                    cv_uac_warning **warnings) {
    cv_uac_generic_entry *form = object->header.descriptor->get_generic_form(object, nullptr);
    if (!form) return nullptr;
    for (cv_uac_generic_entry *entry = form; entry->type != CV_UAC_TYPE_END; ++entry)
        if (std::strcmp(entry->name, name) == 0) return entry;
    add_warning(warnings, CV_E_INVALID, kNoMemberFormat, object->header.descriptor->name, name);
    return nullptr;
}

cv_status set_entry(cv_uac_config_object *object, cv_uac_generic_entry *entry, const char *text,
                    cv_uac_warning **warnings, const char **applied) {
    if (applied) *applied = nullptr;
    // The defaults object's values are shared by every object of its class:
    // replacing one would free what the others still point at.
    if (object->header.permanent) return CV_E_INVALID;
    if (text[0] == '?') {
        if (const char *colon = std::strchr(text, ':')) {
            const bool negate = text[1] == '!';
            const char *expected = text + (negate ? 2 : 1);
            char *current = nullptr;
            const bool equal = current_text_is(
                *entry, std::string_view(expected, static_cast<std::size_t>(colon - expected)),
                &current);
            if (equal == negate) {
                cv_log_debug(kRejectedFormat, current ? current : "", entry->name);
                cv_uac_free(current);
                return CV_OK;
            }
            cv_uac_free(current);
            text = colon + 1;
        }
    }

    if (!entry->default_value) return CV_E_INVALID;
    if (std::strcmp(text, CV_UAC_NULL) == 0) {
        (void)cv_uac_type_free(entry->type, entry->value, entry->default_value);
        (void)cv_uac_type_restore_default(entry->type, entry->value, entry->default_value);
    } else {
        cv_uac_any_value parsed;
        if (cv_status status = read_override(*entry, text, warnings, &parsed); status != CV_OK) {
            (void)cv_uac_type_free(entry->type, &parsed, entry->default_value);
            return status;
        }
        (void)cv_uac_type_free(entry->type, entry->value, entry->default_value);
        std::memcpy(entry->value, &parsed, value_size(entry->type));
    }
    entry->value_copy = first_64_bits(entry->value, entry->type);
    entry->is_set = 1;
    if (applied) *applied = text;

    if (entry->guard) return CV_OK;
    entry->guard = 1;
    const cv_status status = object->header.descriptor->on_change(object);
    entry->guard = 0;
    return status;
}

cv_status make_variable_tree(cv_btree *extra, cv_btree **tree) {
    *tree = nullptr;
    cv_btree *made = nullptr;
    cv_status status = cv_btree_create_strings(&made);
    if (status == CV_OK && cv_uac_global_variables())
        status = cv_btree_copy(made, cv_uac_global_variables());
    if (status == CV_OK && extra) status = cv_btree_copy(made, extra);
    if (status != CV_OK) {
        (void)cv_btree_destroy(made, nullptr);
        return status;
    }
    *tree = made;
    return CV_OK;
}

}  // namespace cv_uac_config_impl

cv_uac_class cv_uac_base_class = {
    .flags = CV_UAC_BASE_CLASS_FLAGS,
    .parent = nullptr,
    .destroy = cv_uac_config_destroy,
    .class_init = cv_uac_class_init,
    .check_override_by_name = base_check_override_by_name,
    .override_to_xml_by_name = base_override_to_xml_by_name,
    .serialize = base_serialize,
    .get_defaults = base_get_defaults,
    .xml_path_by_name = base_xml_path_by_name,
    .index_by_name = base_index_by_name,
    .get_generic_form = base_get_generic_form,
    .set_by_name = base_set_by_name,
    .set_by_index = base_set_by_index,
    .get_description_by_name = base_get_description_by_name,
    .check = base_check,
    .validate = base_validate,
    .write_conf_d_override = base_write_conf_d_override,
    .duplicate = base_duplicate,
    .build = base_build,
    .release_hook = base_release_hook,
    .on_change = base_on_change,
    .override_table = nullptr,
    .path_table = nullptr,
    .name = "base",
    .catalogue = nullptr,
    .option_count = 0,
    .layout = {sizeof(cv_uac_config_object), 0, 0, 0},
    .initialised = 0,
    .defaults = nullptr,
};

cv_status cv_uac_class_init(cv_uac_class *cls) {
    if (!cls) return CV_E_INVALID;
    if (cls->initialised.load(std::memory_order_acquire)) return CV_OK;
    std::lock_guard<std::recursive_mutex> lock(setup_mutex());
    return init_locked(cls);
}

cv_uac_config_object *cv_uac_class_defaults(cv_uac_class *cls) {
    if (!cls) return nullptr;
    if (cv_uac_config_object *defaults = cls->defaults.load(std::memory_order_acquire))
        return defaults;
    std::lock_guard<std::recursive_mutex> lock(setup_mutex());
    if (cv_uac_config_object *defaults = cls->defaults.load(std::memory_order_acquire))
        return defaults;
    if (init_locked(cls) != CV_OK) return nullptr;
    cv_uac_config_object *defaults = construct(cls, true);
    if (!defaults) return nullptr;
    for (std::size_t i = 0; i < cls->option_count; ++i) {
        const cv_uac_option &row = cls->catalogue[i];
        if (row.default_text && !set_empty_default(row, value_field(defaults, i)))
            (void)cv_uac_type_parse_text(row.type, row.default_text, row.lookup,
                                         value_field(defaults, i), &defaults->warnings);
    }
    (void)cls->build(defaults, nullptr);
    cls->defaults.store(defaults, std::memory_order_release);
    return defaults;
}

cv_status cv_uac_config_load(cv_uac_class *cls, const cv_uac_load_request *request,
                             cv_uac_config_object **object) {
    if (!object) return CV_E_INVALID;
    *object = nullptr;
    if (!cls) return CV_E_INVALID;
    if (cv_status status = cv_uac_class_init(cls); status != CV_OK) return status;
    cv_uac_config_object *defaults = cls->get_defaults(cls);
    if (!defaults) return CV_E_NO_MEMORY;
    cv_uac_config_object *loaded = construct(cls, false);
    if (!loaded) return CV_E_NO_MEMORY;

    if (cv_status status =
            make_variable_tree(request ? request->variables : nullptr, &loaded->variables);
        status != CV_OK) {
        cv_log_error("Creating a local_class object: Unable to copy var tree");
        add_warning(&loaded->warnings, status, "Unable to copy var tree");
    }
    xmlNode *const *start = request ? request->start : nullptr;
    const bool alternates = request && request->alternates;
    *reinterpret_cast<xmlNode **>(field_at(loaded, cls->layout.start_offset)) =
        start ? start[0] : nullptr;
    for (std::size_t i = 0; i < cls->option_count; ++i) {
        const cv_uac_option &row = cls->catalogue[i];
        (void)cv_uac_read_option(
            row.type, value_field(defaults, i), value_field(loaded, i), row.path, start, row.lookup,
            source_word(loaded, i), &loaded->warnings,
            alternates ? alternates_word(loaded, i) : nullptr, loaded->variables);
    }
    if (cv_status status = cls->build(loaded, request); status != CV_OK) {
        cv_uac_config_release(loaded);
        return status;
    }
    (void)cls->on_change(loaded);
    *object = loaded;
    return CV_OK;
}

namespace cv_uac_config_impl {

cv_status load_wrapped_fragment(std::string_view open, const char *fragment,
                                std::string_view close, cv_uac_conf_set **set) {
    *set = nullptr;
    const std::size_t length = std::strlen(fragment);
    auto *wrapped = static_cast<char *>(
        CV_UAC_MALLOC(open.size() + length + close.size() + 1, "Config object fragment"));
    if (!wrapped) return CV_E_NO_MEMORY;
    char *end = std::copy(open.begin(), open.end(), wrapped);
    end = std::copy(fragment, fragment + length, end);
    end = std::copy(close.begin(), close.end(), end);
    *end = '\0';
    *set = cv_uac_load_conf_file(wrapped, CV_UAC_LOAD_NO_CONF_D);
    cv_uac_free(wrapped);
    return *set ? CV_OK : CV_E_XML_PARSE;
}

}  // namespace cv_uac_config_impl

cv_status cv_uac_config_from_fragment(cv_uac_class *cls, const char *fragment,
                                      cv_uac_config_object **object) {
    if (!object) return CV_E_INVALID;
    *object = nullptr;
    if (!cls || !fragment) return CV_E_INVALID;
    cv_uac_conf_set *set = nullptr;
    if (cv_status status = cv_uac_config_impl::load_wrapped_fragment("<CONF version=\"2\">",
                                                                     fragment, "</CONF>", &set);
        status != CV_OK)
        return status;
    const cv_uac_load_request request{set, set->roots, nullptr, nullptr, 0};
    if (cv_status loaded = cv_uac_config_load(cls, &request, object); loaded != CV_OK) {
        (void)cv_uac_release_conf_file_set(set);
        return loaded;
    }
    (*object)->own_set = set;
    return CV_OK;
}

void cv_uac_config_hold(cv_uac_config_object *object) {
    if (!object || object->header.permanent) return;
    cv_mutex_guard guard(&object->header.mutex);
    if (guard.status() != CV_OK) return;
    ++object->header.lock_count;
    (void)cv_uac_config_object_count_add(1);
}

void cv_uac_config_release(cv_uac_config_object *object) {
    if (!object || object->header.permanent) return;
    const cv_uac_class *cls = object->header.descriptor;
    if (cls && cls->destroy)
        cls->destroy(object, 0);
    else
        cv_uac_config_destroy(object, 0);
}

void cv_uac_config_destroy(cv_uac_config_object *object, std::uint32_t flags) {
    if (!object || object->header.permanent) return;
    bool mutex_held = false;
    if (last_hold_released(object, &mutex_held)) free_object(object, flags, mutex_held);
}

cv_status cv_uac_config_set_by_name(cv_uac_config_object *object, const char *name,
                                    const char *text, cv_uac_warning **warnings) {
    if (!object || !object->header.descriptor) return CV_E_INVALID;
    return object->header.descriptor->set_by_name(object, name, text, warnings);
}

cv_status cv_uac_config_set_by_index(cv_uac_config_object *object, std::int32_t index,
                                     const char *text, cv_uac_warning **warnings) {
    if (!object || !object->header.descriptor) return CV_E_INVALID;
    return object->header.descriptor->set_by_index(object, index, text, warnings);
}

cv_status cv_uac_config_write_conf_d_override(cv_uac_config_object *object,
                                              cv_uac_conf_set **set_holder,
                                              cv_uac_warning **warnings, const char *name,
                                              const char *text, const char *directory) {
    if (!object || !object->header.descriptor) return CV_E_INVALID;
    return object->header.descriptor->write_conf_d_override(object, set_holder, warnings, name,
                                                            text, directory);
}

void report_setting(std::int32_t strictness, cv_status *status, cv_uac_warning **warnings,
                    const char *format, ...) {
    char text[CV_UAC_REPORT_TEXT_SIZE];
    va_list args;
    va_start(args, format);
    if (!format || cv_vsnprintf(text, sizeof text, format, args) < 0) text[0] = '\0';
    va_end(args);
    if (strictness >= 0) {
        add_warning(warnings, CV_E_INVALID, "%s", text);
        if (status) *status = CV_E_INVALID;
    } else if (strictness == -1) {
        cv_log_info("Configuration: %s", text);
    } else if (cv_log_verbosity >= 1) {
        cv_log_debug("Configuration: %s", text);
    }
}
