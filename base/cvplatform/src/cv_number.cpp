// Reading integers from text, with the base prefixes of the configuration
// ("0x" hexadecimal, a leading "0" octal, "%" binary).
//
// The value is accumulated as a negative number and negated only at the
// end: the negative range of a two's-complement integer is one larger than
// the positive one, so the most negative 64-bit value can be read with its
// sign, and every step is checked before it is taken, so no signed
// arithmetic ever overflows.  Reading stops at the text's own terminator or
// at the first character that is not a digit of the base.
#include <cstdint>
#include <limits>

#include "cvplatform/cv_str.h"

namespace {

constexpr unsigned kNotADigit = 99;

constexpr bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

constexpr bool is_decimal(char c) { return c >= '0' && c <= '9'; }

// "0"-"9" are 0-9, letters of either case 10-35.
constexpr unsigned digit_value(char c) {
    if (is_decimal(c)) return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'z') return static_cast<unsigned>(c - 'a') + 10;
    if (c >= 'A' && c <= 'Z') return static_cast<unsigned>(c - 'A') + 10;
    return kNotADigit;
}

}  // namespace

cv_status cv_str_to_i64(const char *text, std::int64_t *value, const char **end) {
    if (end != nullptr) *end = text;
    if (text == nullptr || value == nullptr) return CV_E_INVALID;

    const char *p = text;
    while (is_space(*p)) ++p;
    const bool negative = *p == '-';
    if (negative) ++p;

    unsigned base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    } else if (p[0] == '0' && is_decimal(p[1])) {
        base = 8;
        p += 1;
    } else if (p[0] == '%') {
        base = 2;
        p += 1;
    }

    if (digit_value(*p) >= base) {
        if (end != nullptr) *end = p;
        return CV_E_INVALID;
    }

    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    const std::int64_t min_before_step = kMin / static_cast<std::int64_t>(base);
    std::int64_t accumulated = 0;  // minus the magnitude read so far
    bool overflow = false;
    for (unsigned digit = digit_value(*p); digit < base; digit = digit_value(*++p)) {
        if (overflow) continue;  // keep consuming the number's digits
        if (accumulated < min_before_step) {
            overflow = true;
            continue;
        }
        accumulated *= static_cast<std::int64_t>(base);
        if (accumulated < kMin + static_cast<std::int64_t>(digit)) {
            overflow = true;
            continue;
        }
        accumulated -= static_cast<std::int64_t>(digit);
    }
    if (end != nullptr) *end = p;
    if (overflow || (!negative && accumulated == kMin)) return CV_E_BUFFER_TOO_SMALL;
    *value = negative ? accumulated : -accumulated;
    return CV_OK;
}

namespace {

// Reads a 64-bit integer and narrows it to T: 122 when it does not fit.
template <typename T>
cv_status read_narrowed(const char *text, T *value, const char **end) {
    if (value == nullptr) {
        if (end != nullptr) *end = text;
        return CV_E_INVALID;
    }
    std::int64_t wide = 0;
    const cv_status status = cv_str_to_i64(text, &wide, end);
    if (status != CV_OK) return status;
    if (wide < static_cast<std::int64_t>(std::numeric_limits<T>::min()) ||
        wide > static_cast<std::int64_t>(std::numeric_limits<T>::max()))
        return CV_E_BUFFER_TOO_SMALL;
    *value = static_cast<T>(wide);
    return CV_OK;
}

}  // namespace

cv_status cv_str_to_i32(const char *text, std::int32_t *value, const char **end) {
    return read_narrowed(text, value, end);
}

cv_status cv_str_to_u32(const char *text, std::uint32_t *value, const char **end) {
    return read_narrowed(text, value, end);
}

std::int32_t cv_atoi(const char *text) {
    std::int32_t value = 0;
    return cv_str_to_i32(text, &value, nullptr) == CV_OK ? value : 0;
}

std::int64_t cv_atoll(const char *text) {
    std::int64_t value = 0;
    return cv_str_to_i64(text, &value, nullptr) == CV_OK ? value : 0;
}
