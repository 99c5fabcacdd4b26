// Support shared by the value type handlers: element text, lookup lists,
// the integer reader and writer that the six integer types share, escaping
// of "copied" overrides and the shared strings.
//
// A lookup list is never copied or parsed ahead: it is read as views each
// time, a linear walk over a catalogue string of a few hundred bytes.  The
// integer types are one implementation parameterised by the type; its
// arithmetic checks every scaled product against the type's range, so a
// scale never wraps a value silently.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "cv_uac_type_impl.h"
#include "cvplatform/cv_log.h"
#include "cvplatform/cv_str.h"
#include "uac/cv_uac_memory_heap.h"
#include "uac/parse_xml.h"

namespace cv_uac_type_impl {

namespace {

char shared_empty[1] = {'\0'};
char shared_blank[1] = {'\0'};

char to_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

/* Calls `visit(name, value)` for each "name:value" pair of `pairs` until it
 * returns true; pieces without ":" are passed over. */
template <typename Visit>
bool for_each_pair(std::string_view pairs, Visit visit) {
    while (!pairs.empty()) {
        const std::size_t end = pairs.find(';');
        std::string_view piece = pairs.substr(0, end);
        pairs = end == std::string_view::npos ? std::string_view() : pairs.substr(end + 1);
        const std::size_t colon = piece.find(':');
        if (colon == std::string_view::npos) continue;
        std::string_view value = piece.substr(colon + 1);
        value = value.substr(0, value.find('"'));
        if (visit(piece.substr(0, colon), value)) return true;
    }
    return false;
}

struct integer_traits {
    integer_width width;
    bool with_scale;
    const char *default_format;  // the current value in the warning
};

integer_traits traits_of(integer_type type) {
    switch (type) {
        case integer_type::lookup:
            return {integer_width::bits32, false, "%d"};
        case integer_type::int64:
            return {integer_width::i64, true, "%lld"};
        case integer_type::uint64:
            return {integer_width::u64, true, "%llu"};
        case integer_type::int32:
            return {integer_width::i32, true, "%d"};
        case integer_type::uint32:
            return {integer_width::u32, true, "%u"};
        case integer_type::octal32:
            return {integer_width::u32, true, "%d"};
    }
    return {integer_width::i64, true, "%lld"};
}

bool fits(integer_width width, std::int64_t value) {
    switch (width) {
        case integer_width::i32:
            return value >= std::numeric_limits<std::int32_t>::min() &&
                   value <= std::numeric_limits<std::int32_t>::max();
        case integer_width::u32:
            return value >= 0 && value <= std::numeric_limits<std::uint32_t>::max();
        case integer_width::u64:
            return value >= 0;
        case integer_width::i64:
            return true;
        case integer_width::bits32:
            return value >= std::numeric_limits<std::int32_t>::min() &&
                   value <= std::numeric_limits<std::uint32_t>::max();
    }
    return false;
}

/* The number of `type` at `value` as a signed 64-bit integer. */
std::int64_t load(integer_type type, const void *value) {
    switch (type) {
        case integer_type::lookup:
        case integer_type::int32:
            return *static_cast<const std::int32_t *>(value);
        case integer_type::uint32:
        case integer_type::octal32:
            return *static_cast<const std::uint32_t *>(value);
        case integer_type::int64:
            return *static_cast<const std::int64_t *>(value);
        case integer_type::uint64:
            return static_cast<std::int64_t>(*static_cast<const std::uint64_t *>(value));
    }
    return 0;
}

void store(integer_type type, void *value, std::int64_t number) {
    switch (type) {
        case integer_type::lookup:
            // A lookup keeps the low 32 bits of what it read.
            *static_cast<std::int32_t *>(value) =
                static_cast<std::int32_t>(static_cast<std::uint32_t>(number));
            return;
        case integer_type::int32:
            *static_cast<std::int32_t *>(value) = static_cast<std::int32_t>(number);
            return;
        case integer_type::uint32:
        case integer_type::octal32:
            *static_cast<std::uint32_t *>(value) = static_cast<std::uint32_t>(number);
            return;
        case integer_type::int64:
            *static_cast<std::int64_t *>(value) = number;
            return;
        case integer_type::uint64:
            *static_cast<std::uint64_t *>(value) = static_cast<std::uint64_t>(number);
            return;
    }
}

/* The "current value" of the warning, in the type's format. */
void format_current(integer_type type, const void *value, char *output, std::size_t capacity) {
    const std::int64_t number = load(type, value);
    switch (type) {
        case integer_type::lookup:
        case integer_type::int32:
        case integer_type::octal32:
            (void)cv_snprintf(
                output, capacity, "%d",
                static_cast<int>(static_cast<std::int32_t>(static_cast<std::uint32_t>(number))));
            return;
        case integer_type::uint32:
            (void)cv_snprintf(output, capacity, "%u", static_cast<unsigned>(number));
            return;
        case integer_type::int64:
            (void)cv_snprintf(output, capacity, "%lld", static_cast<long long>(number));
            return;
        case integer_type::uint64:
            (void)cv_snprintf(
                output, capacity, "%llu",
                static_cast<unsigned long long>(*static_cast<const std::uint64_t *>(value)));
            return;
    }
}

unsigned digit_of(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
    return 16;
}

/* Reads `text` as an unsigned 64-bit number in the reader's bases (for the
 * values of `u_int64_t` beyond the signed range); `*used` gets the bytes
 * read.  False when it is no number or does not fit. */
bool read_unsigned(std::string_view text, std::uint64_t *value, std::size_t *used) {
    std::size_t at = 0;
    while (at < text.size() && is_space(text[at])) ++at;
    unsigned base = 10;
    if (text.substr(at, 2) == "0x" || text.substr(at, 2) == "0X") {
        base = 16;
        at += 2;
    } else if (at + 1 < text.size() && text[at] == '0' && digit_of(text[at + 1]) < 10) {
        base = 8;
        at += 1;
    } else if (at < text.size() && text[at] == '%') {
        base = 2;
        at += 1;
    }
    const std::size_t first = at;
    std::uint64_t number = 0;
    for (; at < text.size() && digit_of(text[at]) < base; ++at)
        if (__builtin_mul_overflow(number, std::uint64_t{base}, &number) ||
            __builtin_add_overflow(number, std::uint64_t{digit_of(text[at])}, &number))
            return false;
    if (at == first) return false;
    *value = number;
    *used = at;
    return true;
}

/* Bytes of the octal reader's copy of a text with "0" put in front. */
constexpr std::size_t kOctalTextSize = CV_UAC_VALUE_TEXT_SIZE;

/* Reads `source` as octal, as the reader does with "0" put in front.  A
 * text that already starts with a zero digit is octal as it stands. */
const char *read_octal(std::string_view source, std::int64_t *number) {
    if (source.empty()) return kMalformedNumber;
    if (!source.empty() && source[0] == '0' &&
        (source.size() == 1 || (source[1] >= '0' && source[1] <= '9')))
        return read_integer(source, integer_width::u32, true, number);
    char prefixed[kOctalTextSize];
    prefixed[0] = '0';
    if (!copy_view(source, prefixed + 1, sizeof prefixed - 1)) return kMalformedNumber;
    return read_integer(std::string_view(prefixed, source.size() + 1), integer_width::u32, true,
                        number);
}

thread_local char lookup_message[CV_UAC_LOOKUP_MESSAGE_SIZE];

/* "Lookup value not in list.  Acceptable values are:  " and the names. */
const char *lookup_refusal(const char *lookup) {
    std::size_t cursor = 0;
    (void)cv_str_append(lookup_message, "Lookup value not in list.  Acceptable values are:  ",
                        sizeof lookup_message, &cursor);
    const std::size_t names_start = cursor;
    for_each_pair(split_lookup(lookup, false).pairs, [&](std::string_view name, std::string_view) {
        if (cursor > names_start)
            (void)cv_str_append(lookup_message, ", ", sizeof lookup_message, &cursor);
        return cv_str_to(lookup_message, name.data(), name.size(), sizeof lookup_message,
                         &cursor) != CV_OK;
    });
    return lookup_message;
}

}  // namespace

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::string_view trim(std::string_view text) {
    while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
    return text;
}

bool equal_nocase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (to_lower(a[i]) != to_lower(b[i])) return false;
    return true;
}

bool is_null_marker(std::string_view text) { return text == CV_UAC_NULL; }

const char *element_text(const xmlNode *element) {
    if (!element) return nullptr;
    if (const parse_xml_tracker *record = parse_xml_get_tracker(element)) return record->text;
    return parse_xml_get_node_text(element);
}

const char *element_name(const xmlNode *element) {
    const char *name = parse_xml_get_node_name(element);
    return name ? name : "";
}

std::string_view trimmed_element_text(const xmlNode *element) {
    const char *text = element_text(element);
    return text ? trim(text) : std::string_view();
}

bool copy_view(std::string_view text, char *buffer, std::size_t capacity) {
    if (text.size() >= capacity) return false;
    if (!text.empty()) std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    return true;
}

lookup_list split_lookup(const char *lookup, bool with_scale) {
    if (!lookup) return {};
    std::string_view list(lookup);
    const bool quoted = !list.empty() && list.front() == '"';
    while (!list.empty() && list.front() == '"') list.remove_prefix(1);
    if (quoted)
        while (!list.empty() && list.back() == '"') list.remove_suffix(1);
    if (!with_scale) return {{}, list};
    const std::size_t semicolon = list.find(';');
    if (semicolon == std::string_view::npos) return {list, {}};
    return {list.substr(0, semicolon), list.substr(semicolon + 1)};
}

std::int64_t integer_scale(const lookup_list &list) {
    char field[64];
    std::int64_t scale = 0;
    if (!copy_view(list.scale, field, sizeof field) ||
        cv_str_to_i64(field, &scale, nullptr) != CV_OK || scale <= 0)
        return 1;
    return scale;
}

double double_scale(const lookup_list &list) {
    char field[64];
    if (!copy_view(list.scale, field, sizeof field)) return 1.0;
    char *end = nullptr;
    const double scale = std::strtod(field, &end);
    if (end == field || !(scale > 0.0) || scale == HUGE_VAL) return 1.0;
    return scale;
}

bool find_pair_value(std::string_view pairs, std::string_view text, std::string_view *value) {
    return for_each_pair(pairs, [&](std::string_view name, std::string_view pair_value) {
        if (!equal_nocase(name, text)) return false;
        *value = pair_value;
        return true;
    });
}

std::string_view translate(std::string_view text, std::string_view pairs) {
    std::string_view value;
    return find_pair_value(pairs, text, &value) ? value : text;
}

bool find_pair_name(std::string_view pairs, std::string_view printed, char *output,
                    std::size_t capacity) {
    return for_each_pair(pairs, [&](std::string_view name, std::string_view value) {
        return equal_nocase(value, printed) && copy_view(name, output, capacity);
    });
}

const char *read_integer(std::string_view text, integer_width width, bool semicolon_ends,
                         std::int64_t *value) {
    // The number's digits never run past the view: a view ends at the
    // text's end, at white space or at a separator.
    if (text.empty()) return kMalformedNumber;
    const char *end = text.data();
    std::int64_t number = 0;
    const cv_status status = cv_str_to_i64(text.data(), &number, &end);
    // An unsigned 64-bit value beyond the signed range travels as its bit
    // pattern; the caller reads it back as unsigned.
    bool unsigned_pattern = false;
    if (status == CV_E_BUFFER_TOO_SMALL) {
        std::uint64_t big = 0;
        std::size_t used = 0;
        if (width != integer_width::u64 || !read_unsigned(text, &big, &used)) return kOutOfRange;
        number = static_cast<std::int64_t>(big);
        end = text.data() + used;
        unsigned_pattern = true;
    } else if (status != CV_OK) {
        return kMalformedNumber;
    }
    std::string_view rest = text.substr(static_cast<std::size_t>(end - text.data()));
    while (!rest.empty() && is_space(rest.front())) rest.remove_prefix(1);
    if (!rest.empty() && !(semicolon_ends && rest.front() == ';')) return kTrailingCharacters;
    if (!unsigned_pattern && !fits(width, number)) return kOutOfRange;
    *value = number;
    return nullptr;
}

cv_status write_number(std::string_view pairs, const char *printed, const char *alternative,
                       char *output, std::size_t capacity) {
    if (find_pair_name(pairs, printed, output, capacity)) return CV_OK;
    if (alternative && find_pair_name(pairs, alternative, output, capacity)) return CV_OK;
    if (cv_str_copy(output, printed, capacity) == CV_OK) return CV_OK;
    output[0] = '\0';
    return CV_E_BUFFER_SPACE;
}

cv_status copy_escaped(const char *text, char *output, std::size_t capacity) {
    if (!text || !output || capacity == 0) return CV_E_INVALID;
    const cv_status status = cv_uac_escape_string_for_xml(output, text, capacity);
    if (status != CV_OK) output[0] = '\0';
    return status;
}

cv_status append_escaped(char *output, std::size_t capacity, std::size_t *cursor,
                         std::string_view text) {
    // The text is copied to its place first and escaped there (the escaper
    // takes the same buffer as source and destination), so no scratch
    // buffer bounds what fits: only the output's capacity does.
    const std::size_t at = *cursor;
    if (at >= capacity || text.size() >= capacity - at) return CV_E_BUFFER_SPACE;
    std::memmove(output + at, text.data(), text.size());
    output[at + text.size()] = '\0';
    const cv_status status = cv_uac_escape_string_for_xml(output + at, output + at, capacity - at);
    if (status != CV_OK) {
        output[at] = '\0';
        return status;
    }
    *cursor = at + std::strlen(output + at);
    return CV_OK;
}

const char *parse_integer(integer_type type, std::string_view text, const char *lookup,
                          std::int64_t *number) {
    const integer_traits traits = traits_of(type);
    const lookup_list list = split_lookup(lookup, traits.with_scale);
    const std::string_view source = translate(trim(text), list.pairs);
    std::int64_t read = 0;
    const char *reason = type == integer_type::octal32
                             ? read_octal(source, &read)
                             : read_integer(source, traits.width, true, &read);
    if (reason) return reason;
    if (traits.with_scale && traits.width == integer_width::u64) {
        std::uint64_t scaled = 0;
        if (__builtin_mul_overflow(static_cast<std::uint64_t>(read),
                                   static_cast<std::uint64_t>(integer_scale(list)), &scaled))
            return kOutOfRange;
        read = static_cast<std::int64_t>(scaled);
    } else if (traits.with_scale) {
        std::int64_t scaled = 0;
        if (__builtin_mul_overflow(read, integer_scale(list), &scaled) ||
            !fits(traits.width, scaled))
            return kOutOfRange;
        read = scaled;
    }
    *number = read;
    return nullptr;
}

cv_status warn_integer(integer_type type, std::string_view text, const char *name,
                       const char *reason, const void *value, cv_uac_warning **warnings) {
    char current[32];
    format_current(type, value, current, sizeof current);
    add_warning(warnings, CV_E_UAC_PARSE,
                "Invalid value passed to %s: \"%.*s\" (%s).  Using default of %s instead", name,
                static_cast<int>(text.size()), text.data(), reason, current);
    return CV_E_UAC_PARSE;
}

cv_status integer_read_text(integer_type type, std::string_view text, const char *name,
                            const char *lookup, void *value, cv_uac_warning **warnings) {
    text = trim(text);
    if (is_null_marker(text)) return CV_OK;
    std::int64_t number = 0;
    if (const char *reason = parse_integer(type, text, lookup, &number))
        return warn_integer(type, text, name, reason, value, warnings);
    store(type, value, number);
    return CV_OK;
}

cv_status integer_read(integer_type type, xmlNode *element, const char *lookup, void *value,
                       cv_uac_warning **warnings) {
    if (!element || !value) return CV_E_INVALID;
    return integer_read_text(type, trimmed_element_text(element), element_name(element), lookup,
                             value, warnings);
}

cv_status integer_check(integer_type type, const char *text, const char *lookup,
                        const char **message) {
    if (message) *message = nullptr;
    if (!text) return CV_E_INVALID;
    // Checked exactly as the reader will read it, names and scale included,
    // so that a text passes here only when it sets the value.
    const std::string_view trimmed = trim(text);
    if (is_null_marker(trimmed)) return CV_OK;
    if (type == integer_type::octal32 && trimmed.empty()) {
        if (message) *message = "Empty string";
        return CV_E_INVALID;
    }
    std::int64_t number = 0;
    const char *reason = parse_integer(type, trimmed, lookup, &number);
    // A lookup takes a name of its list or a number: say which names.
    if (reason && type == integer_type::lookup) reason = lookup_refusal(lookup);
    if (!reason) return CV_OK;
    if (message) *message = reason;
    return CV_E_INVALID;
}

cv_status integer_write(integer_type type, const void *value, char *output, std::size_t capacity,
                        const char *lookup) {
    if (!value || !output || capacity == 0) return CV_E_INVALID;
    const integer_traits traits = traits_of(type);
    const lookup_list list = split_lookup(lookup, traits.with_scale);
    const std::int64_t scale = traits.with_scale ? integer_scale(list) : 1;
    char printed[32];
    char alternative[32];
    switch (type) {
        case integer_type::lookup:
        case integer_type::int32:
        case integer_type::int64: {
            const std::int64_t number = load(type, value) / scale;
            (void)cv_snprintf(printed, sizeof printed, "%lld", static_cast<long long>(number));
            // A lookup's list may name a value by its 32-bit pattern.
            const unsigned long long pattern =
                type == integer_type::lookup
                    ? static_cast<std::uint32_t>(number)
                    : static_cast<unsigned long long>(number);
            (void)cv_snprintf(alternative, sizeof alternative, "0x%llX", pattern);
            break;
        }
        case integer_type::uint32:
        case integer_type::uint64: {
            const std::uint64_t number =
                (type == integer_type::uint64 ? *static_cast<const std::uint64_t *>(value)
                                              : *static_cast<const std::uint32_t *>(value)) /
                static_cast<std::uint64_t>(scale);
            (void)cv_snprintf(printed, sizeof printed, "%llu",
                              static_cast<unsigned long long>(number));
            (void)cv_snprintf(alternative, sizeof alternative, "0x%llX",
                              static_cast<unsigned long long>(number));
            break;
        }
        case integer_type::octal32: {
            const std::uint64_t number =
                *static_cast<const std::uint32_t *>(value) / static_cast<std::uint64_t>(scale);
            (void)cv_snprintf(printed, sizeof printed, "%03llo",
                              static_cast<unsigned long long>(number));
            return write_number(list.pairs, printed, nullptr, output, capacity);
        }
    }
    return write_number(list.pairs, printed, alternative, output, capacity);
}

bool lookup_selects_power2(const char *lookup) {
    return lookup && std::strstr(lookup, "power2") != nullptr;
}

void free_string(void *value, const void *default_value) {
    if (!value) return;
    char *&slot = *static_cast<char **>(value);
    const char *default_string =
        default_value ? *static_cast<char *const *>(default_value) : nullptr;
    if (!slot || slot == default_string || slot == shared_empty || slot == shared_blank) return;
    cv_uac_free(slot);
    slot = nullptr;
}

void free_nothing(void *, const void *) {}

cv_status warn_conversion(cv_uac_warning **warnings, std::string_view text,
                          const xmlNode *element, const char *reason) {
    add_warning(warnings, CV_E_UAC_PARSE, "Error converting \"%.*s\" to %s.  %s",
                static_cast<int>(text.size()), text.data(), element_name(element), reason);
    return CV_E_UAC_PARSE;
}

}  // namespace cv_uac_type_impl

char *cv_uac_shared_empty_string() { return cv_uac_type_impl::shared_empty; }
char *cv_uac_shared_blank_string() { return cv_uac_type_impl::shared_blank; }
