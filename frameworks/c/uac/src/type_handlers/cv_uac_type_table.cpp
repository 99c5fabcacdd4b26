// The table of value type descriptors and everything that dispatches on a
// type code: the five operations, restoring a default, parsing a text as an
// override is parsed, and the typed readers that find an option's element
// and read it.
//
// The table and the typed readers are generated from the rows of
// cv_uac_value_types.def.  The table is indexed by the type code itself; a
// code outside it is status 22 wherever a type is dispatched, so no
// operation ever runs through a stray pointer.
//
// An override text is parsed as a fragment: the type turns it into XML,
// which is wrapped in a CONF element, loaded and decorated, and the type
// reads it from that element as it reads any element of a configuration.
#include <cstddef>
#include <cstring>
#include <iterator>
#include <string_view>

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

constexpr cv_uac_type_descriptor kTypes[] = {
#define CV_UAC_VALUE_TYPE(code, constant, name, storage, display, family)                  \
    {code,          #name,        display,    sizeof(storage), name##_read, name##_check, \
     name##_to_xml, name##_write, name##_free},
#include "uac/cv_uac_value_types.def"
#undef CV_UAC_VALUE_TYPE
};
static_assert(std::size(kTypes) == CV_UAC_TYPE_COUNT);

constexpr bool table_is_indexed_by_code() {
    for (std::int32_t code = 0; code < CV_UAC_TYPE_COUNT; ++code)
        if (kTypes[code].code != code) return false;
    return true;
}
static_assert(table_is_indexed_by_code(), "type descriptors must be listed in code order");

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

/* An override's XML content parsed as a fragment: wrapped as
 * "<CONF>content</CONF>", loaded as a string without version, and decorated
 * in a heap of its own, so that a type reads it from the CONF element as it
 * reads any element.  The decoration, the heap and the document go with the
 * fragment, whichever step it reached. */
class xml_fragment {
  public:
    /* The step a parse failed at. */
    enum class step { none, wrap, load, root, heap, decorate };

    xml_fragment() = default;
    xml_fragment(const xml_fragment &) = delete;
    xml_fragment &operator=(const xml_fragment &) = delete;
    ~xml_fragment() {
        if (decorated_) (void)parse_xml_undecorate_tree(root_);
        if (heap_) (void)cv_uac_heap_release(&heap_);
        if (document_) parse_xml_free_document(document_);
    }

    /* 0 with root() the CONF element.  Else `*failed` names the step:
     * `wrap` 28677 (content of CV_UAC_VALUE_TEXT_SIZE bytes or more), `load`
     * 22 (the text breaks XML), `root` 28687, `heap` or `decorate` with
     * their status. */
    cv_status parse(std::string_view content, step *failed) {
        char wrapped[CV_UAC_VALUE_TEXT_SIZE + kConfWrapperSize];
        *failed = step::wrap;
        if (content.size() >= CV_UAC_VALUE_TEXT_SIZE) return CV_E_BUFFER_SPACE;
        (void)cv_snprintf(wrapped, sizeof wrapped, "<CONF>%.*s</CONF>",
                          static_cast<int>(content.size()), content.data());
        *failed = step::load;
        document_ = parse_xml_load_string(wrapped);
        if (!document_) return CV_E_INVALID;
        *failed = step::root;
        root_ = parse_xml_get_root(document_);
        if (!root_) return CV_E_INVALID_USER_NAME;
        *failed = step::heap;
        if (cv_status status = cv_uac_heap_create(&heap_, nullptr, nullptr); status != CV_OK)
            return status;
        *failed = step::decorate;
        if (cv_status status = parse_xml_decorate_tree(root_, nullptr, heap_); status != CV_OK)
            return status;
        decorated_ = true;
        *failed = step::none;
        return CV_OK;
    }

    xmlNode *root() const { return root_; }

  private:
    xmlDoc *document_ = nullptr;
    xmlNode *root_ = nullptr;
    cv_uac_heap *heap_ = nullptr;
    bool decorated_ = false;
};

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

    xml_fragment fragment;
    xml_fragment::step failed = xml_fragment::step::none;
    if (cv_status status = fragment.parse(content, &failed); status != CV_OK) {
        if (failed == xml_fragment::step::wrap)
            add_warning(warnings, status, nullptr);
        else if (failed == xml_fragment::step::load)
            add_warning(warnings, status, kBreaksXmlFormat, text);
        else if (failed == xml_fragment::step::decorate)
            add_warning(warnings, status, "Unable to decorate XML tree");
        return status;
    }
    // The value is read into a scratch copy, and the reader's warnings are
    // gathered apart, so that only this read decides the outcome whatever
    // the caller's list held.
    cv_uac_any_value scratch;
    std::memcpy(&scratch, value, type->value_size);
    cv_uac_warning *found = nullptr;
    cv_status status = type->read(fragment.root(), lookup, &scratch, &found, nullptr);
    if (found) status = found->status;
    if (status == CV_OK)
        std::memcpy(value, &scratch, type->value_size);
    else
        type->free(&scratch, value);
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

#define CV_UAC_VALUE_TYPE(code, constant, name, storage, display, family)                   \
    cv_uac_value_##name cv_uac_get_##name(cv_uac_value_##name default_value,                \
                                          const std::int32_t *path, xmlNode *const *start,  \
                                          const char *lookup, xmlNode **source,             \
                                          cv_uac_warning **warnings, xmlNode ***alternates, \
                                          cv_btree *variables) {                            \
        cv_uac_value_##name value = default_value;                                          \
        (void)cv_uac_read_option(code, &default_value, &value, path, start, lookup, source, \
                                 warnings, alternates, variables);                          \
        return value;                                                                       \
    }
#include "uac/cv_uac_value_types.def"
#undef CV_UAC_VALUE_TYPE
