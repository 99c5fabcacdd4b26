// The table of value type descriptors and everything that dispatches on a
// type code: the five operations, restoring a default, parsing a text as an
// override is parsed, and the typed readers that find an option's element
// and read it.
//
// The table is indexed by the type code itself; a code outside it is status
// 22 wherever a type is dispatched, so no operation ever runs through a
// stray pointer.
#include <cstddef>
#include <cstring>

#include "cv_uac_type_impl.h"
#include "cvplatform/cv_log.h"
#include "cvplatform/cv_str.h"
#include "uac/cv_uac_memory_heap.h"
#include "uac/parse_xml.h"

namespace {

using namespace cv_uac_type_impl;

constexpr const char *kWrittenValueLabel = "Written config value.  Value will not be written";
constexpr const char *kBreaksXmlFormat = "Override string \"%s\" breaks XML";
constexpr const char *kNoXmlFormat = "Override string \"%s\" has no XML form";
constexpr const char *kRefusedFormat = "Override string \"%s\" refused (%s)";
/* Bytes "<CONF></CONF>" adds around an override's XML. */
constexpr std::size_t kConfWrapperSize = sizeof "<CONF></CONF>" - 1;
/* The most a written value may take: far beyond any configuration. */
constexpr std::size_t kMostWrittenValue = std::size_t{1} << 30;

#define CV_UAC_TYPE_ROW(code, name, display, storage, prefix)                                 \
    {                                                                                         \
        code, name, display, sizeof(storage), prefix##_read, prefix##_check, prefix##_to_xml, \
            prefix##_write, prefix##_free                                                     \
    }

constexpr cv_uac_type_descriptor kTypes[CV_UAC_TYPE_COUNT] = {
    CV_UAC_TYPE_ROW(CV_UAC_TYPE_LOOKUP, "lookup", "Lookup", std::int32_t, lookup),
    CV_UAC_TYPE_ROW(CV_UAC_TYPE_BOOLEAN, "boolean", "Boolean", std::int32_t, boolean),
    CV_UAC_TYPE_ROW(CV_UAC_TYPE_INT64, "int64_t", "64 bit signed int", std::int64_t, int64),
    CV_UAC_TYPE_ROW(CV_UAC_TYPE_UINT64, "u_int64_t", "64 bit unsigned int", std::uint64_t, uint64),
    CV_UAC_TYPE_ROW(CV_UAC_TYPE_INT32, "int32_t", "32 bit signed int", std::int32_t, int32),
    CV_UAC_TYPE_ROW(CV_UAC_TYPE_UINT32, "u_int32_t", "32 bit unsigned int", std::uint32_t, uint32),
    CV_UAC_TYPE_ROW(CV_UAC_TYPE_OCTAL32, "octal_32", "32 bit octal value", std::uint32_t, octal32),
    CV_UAC_TYPE_ROW(CV_UAC_TYPE_DOUBLE, "double", "Double precision float", double, double),
    CV_UAC_TYPE_ROW(CV_UAC_TYPE_TIME, "time", "Time value (01:00:00 for instance)", cv_uac_time,
                    time),
    CV_UAC_TYPE_ROW(CV_UAC_TYPE_BPS, "bps", "Bits per second (100K for instance)", std::uint64_t,
                    bps),
    CV_UAC_TYPE_ROW(CV_UAC_TYPE_CHAR_PTR, "char_ptr", "Character string", char *, char_ptr),
    CV_UAC_TYPE_ROW(CV_UAC_TYPE_TRIMMED_CHAR_PTR, "trimmed_char_ptr", "Character string", char *,
                    trimmed_char_ptr),
    CV_UAC_TYPE_ROW(CV_UAC_TYPE_BLANKABLE_CHAR_PTR, "blankable_char_ptr", "Character string",
                    char *, blankable_char_ptr),
    CV_UAC_TYPE_ROW(CV_UAC_TYPE_CRON, "cron", "Cron entry", cv_uac_cron *, cron),
    CV_UAC_TYPE_ROW(CV_UAC_TYPE_STRING_LIST, "string_list", "Set of string values", char *,
                    string_list),
    CV_UAC_TYPE_ROW(CV_UAC_TYPE_RANGE, "range", "Range of values", cv_uac_range, range),
};
#undef CV_UAC_TYPE_ROW

constexpr bool table_is_indexed_by_code() {
    for (std::int32_t code = 0; code < CV_UAC_TYPE_COUNT; ++code)
        if (kTypes[code].code != code) return false;
    return true;
}
static_assert(table_is_indexed_by_code(), "type descriptors must be listed in code order");

constexpr std::size_t largest_value() {
    std::size_t largest = 0;
    for (const cv_uac_type_descriptor &type : kTypes)
        if (type.value_size > largest) largest = type.value_size;
    return largest;
}
constexpr std::size_t kLargestValue = largest_value();

/* The first match of `path` and, when wanted, all matches up to the
 * alternates limit. */
xmlNode *first_with_alternates(xmlNode *const *start, const std::int32_t *path,
                               xmlNode ***alternates) {
    parse_xml_search_handle *handle = nullptr;
    xmlNode *first =
        parse_xml_get_first_matching_node(start, &handle, path, nullptr, nullptr, nullptr);
    if (!alternates) {
        if (handle) (void)parse_xml_free_search_handle(handle);
        return first;
    }
    xmlNode *found[CV_UAC_MAX_ALTERNATES];
    std::size_t count = 0;
    for (xmlNode *match = first; match; match = parse_xml_get_next_matching_node(handle, nullptr)) {
        if (count == CV_UAC_MAX_ALTERNATES) {
            cv_log_error("Too many alternate config values.  Cutting off at %zu.",
                         CV_UAC_MAX_ALTERNATES);
            break;
        }
        found[count++] = match;
    }
    if (handle) (void)parse_xml_free_search_handle(handle);
    if (count > 0) {
        auto *list = static_cast<xmlNode **>(
            CV_UAC_MALLOC((count + 1) * sizeof(xmlNode *), "UAC option alternate node set"));
        if (list) {
            std::memcpy(list, found, count * sizeof(xmlNode *));
            list[count] = nullptr;
            *alternates = list;
        }
    }
    return first;
}

}  // namespace

const cv_uac_type_descriptor *cv_uac_type_descriptor_of(std::int32_t code) {
    return code >= 0 && code < CV_UAC_TYPE_COUNT ? &kTypes[code] : nullptr;
}

cv_status cv_uac_type_read(std::int32_t code, xmlNode *element, const char *lookup, void *value,
                           cv_uac_warning **warnings, cv_btree *variables) {
    const cv_uac_type_descriptor *type = cv_uac_type_descriptor_of(code);
    if (!type || !element || !value) return CV_E_INVALID;
    return type->read(element, lookup, value, warnings, variables);
}

cv_status cv_uac_type_check_override(std::int32_t code, const char *text, const char *parameter,
                                     const char **message) {
    if (message) *message = nullptr;
    const cv_uac_type_descriptor *type = cv_uac_type_descriptor_of(code);
    if (!type || !text) return CV_E_INVALID;
    return type->check_override(text, parameter, message);
}

cv_status cv_uac_type_override_to_xml(std::int32_t code, const char *text, char *output,
                                      std::size_t capacity, const char *parameter) {
    const cv_uac_type_descriptor *type = cv_uac_type_descriptor_of(code);
    if (!type || !text || !output || capacity == 0) return CV_E_INVALID;
    return type->override_to_xml(text, output, capacity, parameter);
}

cv_status cv_uac_type_write(std::int32_t code, const void *value, char *output,
                            std::size_t capacity, const char *lookup) {
    const cv_uac_type_descriptor *type = cv_uac_type_descriptor_of(code);
    if (!type || !value || !output || capacity == 0) return CV_E_INVALID;
    return type->write(value, output, capacity, lookup);
}

cv_status cv_uac_type_free(std::int32_t code, void *value, const void *default_value) {
    const cv_uac_type_descriptor *type = cv_uac_type_descriptor_of(code);
    if (!type || !value) return CV_E_INVALID;
    type->free(value, default_value);
    return CV_OK;
}

cv_status cv_uac_type_write_alloc(std::int32_t code, const void *value, const char *lookup,
                                  char **text) {
    if (!text) return CV_E_INVALID;
    *text = nullptr;
    const cv_uac_type_descriptor *type = cv_uac_type_descriptor_of(code);
    if (!type || !value) return CV_E_INVALID;
    // The writers do not measure: a text that does not fit is tried again
    // in a buffer twice the size, so a value is never cut or left out.
    for (std::size_t capacity = CV_UAC_VALUE_TEXT_SIZE;; capacity *= 2) {
        auto *buffer = static_cast<char *>(CV_UAC_MALLOC(capacity, kWrittenValueLabel));
        if (!buffer) return CV_E_NO_MEMORY;
        const cv_status status = type->write(value, buffer, capacity, lookup);
        if (status == CV_OK) {
            *text = buffer;
            return CV_OK;
        }
        cv_uac_free(buffer);
        if (status != CV_E_BUFFER_SPACE || capacity > kMostWrittenValue / 2) return status;
    }
}

cv_status cv_uac_type_restore_default(std::int32_t code, void *value, const void *default_value) {
    const cv_uac_type_descriptor *type = cv_uac_type_descriptor_of(code);
    if (!type || !value || !default_value) return CV_E_INVALID;
    std::memcpy(value, default_value, type->value_size);
    return CV_OK;
}

cv_status cv_uac_type_parse_text(std::int32_t code, const char *text, const char *lookup,
                                 void *value, cv_uac_warning **warnings) {
    const cv_uac_type_descriptor *type = cv_uac_type_descriptor_of(code);
    if (!type || !text || !value) return CV_E_INVALID;
    if (is_null_marker(text)) return CV_OK;
    char content[CV_UAC_VALUE_TEXT_SIZE];
    if (cv_status status = type->override_to_xml(text, content, sizeof content, lookup);
        status != CV_OK) {
        const char *reason = nullptr;
        if (status == CV_E_BUFFER_SPACE)
            add_warning(warnings, status, nullptr);
        else if (type->check_override(text, lookup, &reason) != CV_OK && reason)
            add_warning(warnings, status, kRefusedFormat, text, reason);
        else
            add_warning(warnings, status, kNoXmlFormat, text);
        return status;
    }
    char wrapped[CV_UAC_VALUE_TEXT_SIZE + kConfWrapperSize];
    (void)cv_snprintf(wrapped, sizeof wrapped, "<CONF>%s</CONF>", content);

    xmlDoc *document = parse_xml_load_string(wrapped);
    if (!document) {
        add_warning(warnings, CV_E_INVALID, kBreaksXmlFormat, text);
        return CV_E_INVALID;
    }
    xmlNode *root = parse_xml_get_root(document);
    if (!root) {
        parse_xml_free_document(document);
        return CV_E_INVALID_USER_NAME;
    }
    cv_uac_heap *heap = nullptr;
    cv_status status = cv_uac_heap_create(&heap, nullptr, nullptr);
    if (status == CV_OK) {
        status = parse_xml_decorate_tree(root, nullptr, heap);
        if (status != CV_OK) add_warning(warnings, status, "Unable to decorate XML tree");
    }
    if (status == CV_OK) {
        // The value is read into a scratch copy, and the reader's warnings
        // are gathered apart, so that only this read decides the outcome
        // whatever the caller's list held.
        alignas(std::max_align_t) unsigned char scratch[kLargestValue];
        std::memcpy(scratch, value, type->value_size);
        cv_uac_warning *found = nullptr;
        status = type->read(root, lookup, scratch, &found, nullptr);
        if (found) status = found->status;
        if (status == CV_OK)
            std::memcpy(value, scratch, type->value_size);
        else
            type->free(scratch, value);
        if (found) {
            cv_uac_warning *last = found;
            while (last->next) last = last->next;
            if (warnings) {
                last->next = *warnings;
                *warnings = found;
            } else {
                cv_uac_free_warnings(&found);
            }
        }
        (void)parse_xml_undecorate_tree(root);
    }
    (void)cv_uac_heap_release(&heap);
    parse_xml_free_document(document);
    return status;
}

cv_status cv_uac_read_option(std::int32_t code, const void *default_value, void *value,
                             const std::int32_t *path, xmlNode *const *start, const char *lookup,
                             xmlNode **source, cv_uac_warning **warnings, xmlNode ***alternates,
                             cv_btree *variables) {
    if (source) *source = nullptr;
    if (alternates) *alternates = nullptr;
    const cv_uac_type_descriptor *type = cv_uac_type_descriptor_of(code);
    if (!type || !default_value || !value) return CV_E_INVALID;
    std::memcpy(value, default_value, type->value_size);
    if (!start || !path) return CV_OK;
    xmlNode *element = variables && !alternates
                           ? parse_xml_get_best_matching_node(start, path, variables, nullptr)
                           : first_with_alternates(start, path, alternates);
    if (!element) return CV_OK;
    if (source) *source = element;
    return type->read(element, lookup, value, warnings, variables);
}

#define CV_UAC_DEFINE_TYPED_READER(type_name, value_type, code)                                    \
    value_type cv_uac_get_##type_name(value_type default_value, const std::int32_t *path,          \
                                      xmlNode *const *start, const char *lookup, xmlNode **source, \
                                      cv_uac_warning **warnings, xmlNode ***alternates,            \
                                      cv_btree *variables) {                                       \
        value_type value = default_value;                                                          \
        (void)cv_uac_read_option(code, &default_value, &value, path, start, lookup, source,        \
                                 warnings, alternates, variables);                                 \
        return value;                                                                              \
    }
CV_UAC_DEFINE_TYPED_READER(lookup, std::int32_t, CV_UAC_TYPE_LOOKUP)
CV_UAC_DEFINE_TYPED_READER(boolean, std::int32_t, CV_UAC_TYPE_BOOLEAN)
CV_UAC_DEFINE_TYPED_READER(int64_t, std::int64_t, CV_UAC_TYPE_INT64)
CV_UAC_DEFINE_TYPED_READER(u_int64_t, std::uint64_t, CV_UAC_TYPE_UINT64)
CV_UAC_DEFINE_TYPED_READER(int32_t, std::int32_t, CV_UAC_TYPE_INT32)
CV_UAC_DEFINE_TYPED_READER(u_int32_t, std::uint32_t, CV_UAC_TYPE_UINT32)
CV_UAC_DEFINE_TYPED_READER(octal_32, std::uint32_t, CV_UAC_TYPE_OCTAL32)
CV_UAC_DEFINE_TYPED_READER(double, double, CV_UAC_TYPE_DOUBLE)
CV_UAC_DEFINE_TYPED_READER(time, cv_uac_time, CV_UAC_TYPE_TIME)
CV_UAC_DEFINE_TYPED_READER(bps, std::uint64_t, CV_UAC_TYPE_BPS)
CV_UAC_DEFINE_TYPED_READER(char_ptr, char *, CV_UAC_TYPE_CHAR_PTR)
CV_UAC_DEFINE_TYPED_READER(trimmed_char_ptr, char *, CV_UAC_TYPE_TRIMMED_CHAR_PTR)
CV_UAC_DEFINE_TYPED_READER(blankable_char_ptr, char *, CV_UAC_TYPE_BLANKABLE_CHAR_PTR)
CV_UAC_DEFINE_TYPED_READER(cron, cv_uac_cron *, CV_UAC_TYPE_CRON)
CV_UAC_DEFINE_TYPED_READER(string_list, char *, CV_UAC_TYPE_STRING_LIST)
CV_UAC_DEFINE_TYPED_READER(range, cv_uac_range, CV_UAC_TYPE_RANGE)
#undef CV_UAC_DEFINE_TYPED_READER
