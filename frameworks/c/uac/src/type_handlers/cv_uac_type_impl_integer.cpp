// The integer value types: `lookup`, `int64_t`, `u_int64_t`, `int32_t`,
// `u_int32_t` and `octal_32`.
//
// They differ only in what the table of integer kinds below says: the range
// a number must fit (which also fixes the storage: 32 or 64 bits, signed or
// not), whether the lookup list starts with a scale field, the base a value
// is written in, and whether a refused override names the list's choices.
// Everything else is one implementation: the text is trimmed, "CV_NULL"
// leaves the value as it is, a name of the list stands for its value, the
// number is read in the configuration's bases (decimal, 0x hexadecimal,
// leading-zero octal, % binary) up to white space or a ";", and the scaled
// product is checked against the type's range, so a scale never wraps a
// value silently.  An element's text and an override are read by the same
// rules, so a text passes the check exactly when it sets the value.
//
// The five operations of each integer row of cv_uac_value_types.def are
// generated at the end of this file.
#include <cstring>
#include <limits>
#include <type_traits>

#include "cv_uac_type_impl.h"
#include "cvplatform/cv_str.h"

namespace cv_uac_type_impl {

namespace {

/* How a value is written; `octal` also reads every text as octal. */
enum class integer_base { signed_decimal, unsigned_decimal, octal };

struct integer_kind {
    std::int32_t code;
    integer_width width;     // the range a number read must fit, and the storage
    bool with_scale;         // the list starts with a scale field; else it is all pairs
    integer_base base;       // how a value is written (and, for octal, read)
    bool refusal_names_list; // a refused override is told the names of the list
};

// clang-format off
constexpr integer_kind kIntegerKinds[] = {
    // code               width                  scale  base                            names
    {CV_UAC_TYPE_LOOKUP,  integer_width::bits32, false, integer_base::signed_decimal,   true},
    {CV_UAC_TYPE_INT64,   integer_width::i64,    true,  integer_base::signed_decimal,   false},
    {CV_UAC_TYPE_UINT64,  integer_width::u64,    true,  integer_base::unsigned_decimal, false},
    {CV_UAC_TYPE_INT32,   integer_width::i32,    true,  integer_base::signed_decimal,   false},
    {CV_UAC_TYPE_UINT32,  integer_width::u32,    true,  integer_base::unsigned_decimal, false},
    {CV_UAC_TYPE_OCTAL32, integer_width::u32,    true,  integer_base::octal,            false},
};
// clang-format on

constexpr const integer_kind *find_kind(std::int32_t code) {
    for (const integer_kind &kind : kIntegerKinds)
        if (kind.code == code) return &kind;
    return nullptr;
}

/* The kind of an integer type code.  Every integer row of the type list has
 * a kind (checked where the operations are generated), and only those codes
 * come here. */
const integer_kind &kind_of(std::int32_t code) {
    const integer_kind *kind = find_kind(code);
    return kind ? *kind : *find_kind(CV_UAC_TYPE_INT64);
}

/* The storage a width keeps a value in: a lookup keeps the 32-bit pattern
 * of what it read in a signed field. */
constexpr std::size_t storage_bytes(integer_width width) {
    return width == integer_width::i64 || width == integer_width::u64 ? 8 : 4;
}
constexpr bool storage_signed(integer_width width) {
    return width != integer_width::u32 && width != integer_width::u64;
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

/* The number at `value` as a signed 64-bit integer (an unsigned 64-bit
 * value as its bit pattern). */
std::int64_t load(const integer_kind &kind, const void *value) {
    switch (kind.width) {
        case integer_width::i32:
        case integer_width::bits32:
            return *static_cast<const std::int32_t *>(value);
        case integer_width::u32:
            return *static_cast<const std::uint32_t *>(value);
        case integer_width::i64:
            return *static_cast<const std::int64_t *>(value);
        case integer_width::u64:
            return static_cast<std::int64_t>(*static_cast<const std::uint64_t *>(value));
    }
    return 0;
}

/* Stores `number` at `value`, keeping the low bits the storage holds. */
void store(const integer_kind &kind, void *value, std::int64_t number) {
    if (storage_bytes(kind.width) == 8) {
        std::memcpy(value, &number, sizeof number);
    } else {
        const auto pattern = static_cast<std::uint32_t>(number);
        std::memcpy(value, &pattern, sizeof pattern);
    }
}

/* The "current value" of the warning: unsigned for the unsigned decimal
 * types, signed otherwise (an octal mode is quoted as its signed number). */
void format_current(const integer_kind &kind, const void *value, char *output,
                    std::size_t capacity) {
    const std::int64_t number = load(kind, value);
    const bool as_signed = kind.base != integer_base::unsigned_decimal;
    if (storage_bytes(kind.width) == 4) {
        const auto pattern = static_cast<std::uint32_t>(number);
        if (as_signed)
            (void)cv_snprintf(output, capacity, "%d",
                              static_cast<int>(static_cast<std::int32_t>(pattern)));
        else
            (void)cv_snprintf(output, capacity, "%u", static_cast<unsigned>(pattern));
    } else if (as_signed) {
        (void)cv_snprintf(output, capacity, "%lld", static_cast<long long>(number));
    } else {
        (void)cv_snprintf(output, capacity, "%llu", static_cast<unsigned long long>(number));
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
    if (source[0] == '0' && (source.size() == 1 || (source[1] >= '0' && source[1] <= '9')))
        return read_integer(source, integer_width::u32, true, number);
    char prefixed[kOctalTextSize];
    prefixed[0] = '0';
    if (!copy_view(source, prefixed + 1, sizeof prefixed - 1)) return kMalformedNumber;
    return read_integer(std::string_view(prefixed, source.size() + 1), integer_width::u32, true,
                        number);
}

cv_status integer_read(std::int32_t code, xmlNode *element, const char *lookup, void *value,
                       cv_uac_warning **warnings) {
    if (!element || !value) return CV_E_INVALID;
    const std::string_view text = trimmed_element_text(element);
    if (is_null_marker(text)) return CV_OK;
    std::int64_t number = 0;
    if (const char *reason = parse_integer(code, text, lookup, &number))
        return warn_integer(code, text, element_name(element), reason, value, warnings);
    store(kind_of(code), value, number);
    return CV_OK;
}

cv_status integer_check(std::int32_t code, const char *text, const char *lookup,
                        const char **message) {
    if (message) *message = nullptr;
    if (!text) return CV_E_INVALID;
    const integer_kind &kind = kind_of(code);
    // Checked exactly as the reader will read it, names and scale included,
    // so that a text passes here only when it sets the value.
    const std::string_view trimmed = trim(text);
    if (is_null_marker(trimmed)) return CV_OK;
    if (kind.base == integer_base::octal && trimmed.empty()) {
        if (message) *message = "Empty string";
        return CV_E_INVALID;
    }
    std::int64_t number = 0;
    const char *reason = parse_integer(code, trimmed, lookup, &number);
    if (reason && kind.refusal_names_list) reason = lookup_refusal(lookup);
    if (!reason) return CV_OK;
    if (message) *message = reason;
    return CV_E_INVALID;
}

}  // namespace

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

const char *parse_integer(std::int32_t code, std::string_view text, const char *lookup,
                          std::int64_t *number) {
    const integer_kind &kind = kind_of(code);
    const lookup_list list = split_lookup(lookup, kind.with_scale);
    const std::string_view source = translate(trim(text), list.pairs);
    std::int64_t read = 0;
    const char *reason = kind.base == integer_base::octal
                             ? read_octal(source, &read)
                             : read_integer(source, kind.width, true, &read);
    if (reason) return reason;
    if (kind.with_scale && kind.width == integer_width::u64) {
        std::uint64_t scaled = 0;
        if (__builtin_mul_overflow(static_cast<std::uint64_t>(read),
                                   static_cast<std::uint64_t>(integer_scale(list)), &scaled))
            return kOutOfRange;
        read = static_cast<std::int64_t>(scaled);
    } else if (kind.with_scale) {
        std::int64_t scaled = 0;
        if (__builtin_mul_overflow(read, integer_scale(list), &scaled) ||
            !fits(kind.width, scaled))
            return kOutOfRange;
        read = scaled;
    }
    *number = read;
    return nullptr;
}

cv_status warn_integer(std::int32_t code, std::string_view text, const char *name,
                       const char *reason, const void *value, cv_uac_warning **warnings) {
    char current[32];
    format_current(kind_of(code), value, current, sizeof current);
    add_warning(warnings, CV_E_UAC_PARSE,
                "Invalid value passed to %s: \"%.*s\" (%s).  Using default of %s instead", name,
                static_cast<int>(text.size()), text.data(), reason, current);
    return CV_E_UAC_PARSE;
}

cv_status integer_write(std::int32_t code, const void *value, char *output, std::size_t capacity,
                        const char *lookup) {
    if (!value || !output || capacity == 0) return CV_E_INVALID;
    const integer_kind &kind = kind_of(code);
    const lookup_list list = split_lookup(lookup, kind.with_scale);
    const std::int64_t scale = kind.with_scale ? integer_scale(list) : 1;
    const std::int64_t stored = load(kind, value);
    char printed[32];
    char alternative[32];
    switch (kind.base) {
        case integer_base::signed_decimal: {
            const std::int64_t number = stored / scale;
            (void)cv_snprintf(printed, sizeof printed, "%lld", static_cast<long long>(number));
            // A lookup's list may name a value by its 32-bit pattern.
            const unsigned long long pattern =
                kind.width == integer_width::bits32 ? static_cast<std::uint32_t>(number)
                                                    : static_cast<unsigned long long>(number);
            (void)cv_snprintf(alternative, sizeof alternative, "0x%llX", pattern);
            break;
        }
        case integer_base::unsigned_decimal: {
            const std::uint64_t number =
                static_cast<std::uint64_t>(stored) / static_cast<std::uint64_t>(scale);
            (void)cv_snprintf(printed, sizeof printed, "%llu",
                              static_cast<unsigned long long>(number));
            (void)cv_snprintf(alternative, sizeof alternative, "0x%llX",
                              static_cast<unsigned long long>(number));
            break;
        }
        case integer_base::octal: {
            const std::uint64_t number =
                static_cast<std::uint64_t>(stored) / static_cast<std::uint64_t>(scale);
            (void)cv_snprintf(printed, sizeof printed, "%03llo",
                              static_cast<unsigned long long>(number));
            return write_number(list.pairs, printed, nullptr, output, capacity);
        }
    }
    return write_number(list.pairs, printed, alternative, output, capacity);
}

// The operations of each row of family `integer`, and the proof that the
// row has a kind whose storage is the row's.
#define CV_UAC_INTEGER_OPERATIONS_own(name, code, storage)
#define CV_UAC_INTEGER_OPERATIONS_integer(name, code, storage)                                  \
    static_assert(find_kind(code) &&                                                            \
                      storage_bytes(find_kind(code)->width) == sizeof(storage) &&               \
                      storage_signed(find_kind(code)->width) == std::is_signed_v<storage>,      \
                  "integer type " #name " needs a kind matching its storage");                  \
    cv_status name##_read(xmlNode *element, const char *lookup, void *value,                    \
                          cv_uac_warning **warnings, cv_btree *) {                              \
        return integer_read(code, element, lookup, value, warnings);                            \
    }                                                                                           \
    cv_status name##_check(const char *text, const char *lookup, const char **message) {        \
        return integer_check(code, text, lookup, message);                                      \
    }                                                                                           \
    cv_status name##_to_xml(const char *text, char *output, std::size_t capacity, const char *) { \
        return copy_escaped(text, output, capacity);                                            \
    }                                                                                           \
    cv_status name##_write(const void *value, char *output, std::size_t capacity,              \
                           const char *lookup) {                                                \
        return integer_write(code, value, output, capacity, lookup);                            \
    }                                                                                           \
    void name##_free(void *, const void *) {}
#define CV_UAC_VALUE_TYPE(code, constant, name, storage, display, family) \
    CV_UAC_INTEGER_OPERATIONS_##family(name, code, storage)
#include "uac/cv_uac_value_types.def"
#undef CV_UAC_VALUE_TYPE
#undef CV_UAC_INTEGER_OPERATIONS_integer
#undef CV_UAC_INTEGER_OPERATIONS_own

}  // namespace cv_uac_type_impl
