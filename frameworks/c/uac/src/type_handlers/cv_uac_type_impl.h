// Shared machinery of the value type handlers: element text, lookup lists
// (scale, name translation, names when writing), integer reading with the
// configuration's bases, the rate and time syntaxes, and the operations of
// every type, which the descriptor table in cv_uac_type_table.cpp lists.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "uac/cv_uac_types.h"

namespace cv_uac_type_impl {

/* Reasons of the number reader. */
inline constexpr const char *kOutOfRange = "Malformed numeric.  Out of range";
inline constexpr const char *kMalformedNumber =
    "Malformed numeric.  1234, 0x12FF (hex), 0X12FF (hex), 0777 (octal) or %101010 (binary) "
    "are OK";
inline constexpr const char *kTrailingCharacters =
    "Malformed numeric.  Invalid characters after the number";

bool is_space(char c);
std::string_view trim(std::string_view text);
bool equal_nocase(std::string_view a, std::string_view b);
bool is_null_marker(std::string_view text);

/* The element's text: the tracker's (last text child) on a decorated tree,
 * else the first text child; null when it has none. */
const char *element_text(const xmlNode *element);
const char *element_name(const xmlNode *element);

/* The element's text without surrounding white space (empty when it has
 * none), whatever its length.  The view's data is followed by nothing but
 * white space up to the text's terminating zero. */
std::string_view trimmed_element_text(const xmlNode *element);

/* Copies a view into a terminated buffer; false when it does not fit. */
bool copy_view(std::string_view text, char *buffer, std::size_t capacity);

/* A lookup list split into its scale field and its pairs. */
struct lookup_list {
    std::string_view scale;
    std::string_view pairs;
};
/* `with_scale`: the numeric types' form (scale, then pairs after the first
 * ";"); otherwise the whole list is pairs.  Leading double quotes are
 * skipped.  A null list gives empty views. */
lookup_list split_lookup(const char *lookup, bool with_scale);

/* The scale of a list: its scale field read as an integer (as a double for
 * `double`); 0, missing, unreadable or negative mean 1. */
std::int64_t integer_scale(const lookup_list &list);
double double_scale(const lookup_list &list);

/* The value text of the pair named `text` (any case), as a view into the
 * list; empty with false when no pair has that name. */
bool find_pair_value(std::string_view pairs, std::string_view text, std::string_view *value);

/* `text` after name translation: the value of the pair `text` names (a
 * view into the list), else `text` itself. */
std::string_view translate(std::string_view text, std::string_view pairs);

/* The name of the pair whose value is `printed` (any case), into `output`;
 * false when there is none. */
bool find_pair_name(std::string_view pairs, std::string_view printed, char *output,
                    std::size_t capacity);

/* Widths of the integer reader; `bits32` takes any 32-bit pattern, signed
 * or unsigned (a lookup's value). */
enum class integer_width { i32, u32, i64, u64, bits32 };

/* Reads an integer of `width` from `text`: the configuration's bases, then
 * only white space (and, with `semicolon_ends`, a ";" ending the number)
 * up to the end of the view.  Null with `*value` set, or the reason. */
const char *read_integer(std::string_view text, integer_width width, bool semicolon_ends,
                         std::int64_t *value);

/* "Lookup value not in list.  Acceptable values are:  " and the names of
 * the pairs of `lookup`, in a buffer the next such message overwrites. */
const char *lookup_refusal(const char *lookup);

/* Writes a number as a list name when a pair names it, trying `printed`
 * and then `alternative` (may be null), else `printed`.  0 or 28677. */
cv_status write_number(std::string_view pairs, const char *printed, const char *alternative,
                       char *output, std::size_t capacity);

/* Copies `text` escaped for XML ("copied" types), empty on failure. */
cv_status copy_escaped(const char *text, char *output, std::size_t capacity);

// The integer types (family `integer` of cv_uac_value_types.def) are one
// implementation told by the type code; these parts of it serve the types
// that build on them (`range` reads and writes its sides as `int64_t`).

/* The number `text` (trimmed) stands for in type `code`, scaled: null with
 * `*number` set, or the reason. */
const char *parse_integer(std::int32_t code, std::string_view text, const char *lookup,
                          std::int64_t *number);
/* Adds the integer types' warning for `text` refused with `reason`, quoting
 * the current value at `value`. */
cv_status warn_integer(std::int32_t code, std::string_view text, const char *name,
                       const char *reason, const void *value, cv_uac_warning **warnings);
/* Writes the integer of type `code` at `value`: divided by the scale,
 * named by the list when a pair names it.  0 or 28677. */
cv_status integer_write(std::int32_t code, const void *value, char *output, std::size_t capacity,
                        const char *lookup);

/* The rate syntax: null with `*value` set, or the reason with `*status`. */
const char *parse_bps(std::string_view text, bool power2, std::uint64_t *value, cv_status *status);
/* The time syntax, likewise. */
const char *parse_time(std::string_view text, cv_uac_time *value, cv_status *status);
bool lookup_selects_power2(const char *lookup);

/* Frees an owned string slot unless shared or the default's own. */
void free_string(void *value, const void *default_value);

/* Warning texts shared by the rate and time readers. */
cv_status warn_conversion(cv_uac_warning **warnings, std::string_view text,
                          const xmlNode *element, const char *reason);

/* Reads an element of the rate or time syntax: its trimmed text, "CV_NULL"
 * leaving the value as it is, names of the lookup list translated, then
 * `parse(source, &parsed, &status)`; a refusal keeps the value and becomes a
 * conversion warning. */
template <typename T, typename Parse>
cv_status read_translated(xmlNode *element, const char *lookup, void *value,
                          cv_uac_warning **warnings, Parse parse) {
    if (!element || !value) return CV_E_INVALID;
    const std::string_view text = trimmed_element_text(element);
    if (is_null_marker(text)) return CV_OK;
    const std::string_view source = translate(text, split_lookup(lookup, true).pairs);
    cv_status status = CV_OK;
    T parsed{};
    if (const char *reason = parse(source, &parsed, &status))
        return warn_conversion(warnings, text, element, reason);
    *static_cast<T *>(value) = parsed;
    return CV_OK;
}

/* The override checker of the rate and time syntaxes: the trimmed text,
 * "CV_NULL" accepted, names translated, then `parse` as above. */
template <typename T, typename Parse>
cv_status check_translated(const char *text, const char *lookup, const char **message,
                           Parse parse) {
    if (message) *message = nullptr;
    if (!text) return CV_E_INVALID;
    const std::string_view trimmed = trim(text);
    if (is_null_marker(trimmed)) return CV_OK;
    cv_status status = CV_OK;
    T parsed{};
    const char *reason = parse(translate(trimmed, split_lookup(lookup, true).pairs), &parsed,
                               &status);
    if (message) *message = reason;
    return reason ? status : CV_OK;
}

/* Copies `text` into `output` at `*cursor`, escaped for XML, and moves the
 * cursor past it.  0; 28677 when it does not fit (output as it was). */
cv_status append_escaped(char *output, std::size_t capacity, std::size_t *cursor,
                         std::string_view text);

// The five operations of each type, <name>_read, _check, _to_xml, _write
// and _free, declared for every row of cv_uac_value_types.def.
#define CV_UAC_VALUE_TYPE(code, constant, name, storage, display, family)                  \
    cv_status name##_read(xmlNode *element, const char *lookup, void *value,               \
                          cv_uac_warning **warnings, cv_btree *variables);                 \
    cv_status name##_check(const char *text, const char *parameter, const char **message); \
    cv_status name##_to_xml(const char *text, char *output, std::size_t capacity,          \
                            const char *parameter);                                        \
    cv_status name##_write(const void *value, char *output, std::size_t capacity,          \
                           const char *lookup);                                            \
    void name##_free(void *value, const void *default_value);
#include "uac/cv_uac_value_types.def"
#undef CV_UAC_VALUE_TYPE

/* A value of no owned memory needs no release. */
void free_nothing(void *value, const void *default_value);

/* Shared by the three string types: the element's text after variable
 * expansion into `buffer` (the raw text when expansion fails, with the
 * information message), or null when the element has no text. */
const char *expanded_text(const xmlNode *element, cv_btree *variables, char *buffer,
                          std::size_t capacity);

/* The trimmed-string reading shared by `trimmed_char_ptr` and
 * `blankable_char_ptr` once the element is known to have text. */
cv_status read_trimmed_string(xmlNode *element, void *value, cv_btree *variables);

/* Writes a string value ("CV_NULL" for none) escaped for XML. */
cv_status write_string(const void *value, char *output, std::size_t capacity);

}  // namespace cv_uac_type_impl
