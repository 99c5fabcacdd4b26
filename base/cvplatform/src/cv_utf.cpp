// Strict conversion between UTF-8 and UTF-16, and the trimming of a cut-off
// UTF-8 character at the end of a string.
//
// Every native call of the system takes UTF-16, so a text that cannot be
// converted exactly must be refused rather than patched: the decoders accept
// only the shortest form of each code point, nothing above U+10FFFF, no
// surrogate code points in UTF-8 and no unpaired surrogates in UTF-16, and a
// source whose last sequence is cut off.  Both conversions decode the source
// twice: once to validate and size it (so that an illegal or too large source
// leaves the destination untouched), once to write.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "cvplatform/cv_str.h"

namespace {

constexpr char32_t kSurrogateFirst = 0xD800;
constexpr char32_t kSurrogateLast = 0xDFFF;
constexpr char16_t kLowSurrogateFirst = 0xDC00;

constexpr bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Length of the sequence a lead byte announces, by the reference table
// (five- and six-byte forms included, so that they can be recognised and
// refused rather than mistaken for something shorter).
constexpr std::size_t announced_length(unsigned char lead) {
    if (lead < 0xC0) return 1;
    if (lead < 0xE0) return 2;
    if (lead < 0xF0) return 3;
    if (lead < 0xF8) return 4;
    if (lead < 0xFC) return 5;
    return 6;
}

// Decodes one strict UTF-8 sequence at `s` (NUL-terminated).  Returns the
// number of bytes consumed, or 0 when the sequence is illegal or cut off.
std::size_t decode_utf8(const unsigned char *s, char32_t *cp) {
    const unsigned char lead = s[0];
    if (lead < 0x80) {
        *cp = lead;
        return 1;
    }
    // Lone continuation bytes, the overlong leads C0/C1, and leads of
    // values above U+10FFFF (F5..FF, including five- and six-byte forms).
    if (lead < 0xC2 || lead > 0xF4) return 0;
    const std::size_t length = announced_length(lead);

    // The second byte's legal range narrows for the leads that could
    // otherwise express overlongs, surrogates or values above U+10FFFF.
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    switch (lead) {
        case 0xE0:
            low = 0xA0;
            break;
        case 0xED:
            high = 0x9F;
            break;
        case 0xF0:
            low = 0x90;
            break;
        case 0xF4:
            high = 0x8F;
            break;
        default:
            break;
    }
    if (s[1] < low || s[1] > high) return 0;  // also catches a terminator
    for (std::size_t i = 2; i < length; ++i)
        if (!is_continuation(s[i])) return 0;

    char32_t value = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) value = (value << 6) | (s[i] & 0x3F);
    *cp = value;
    return length;
}

// Decodes one code point from NUL-terminated UTF-16.  Returns the units
// consumed, or 0 for an unpaired surrogate.
std::size_t decode_utf16(const char16_t *s, char32_t *cp) {
    const char16_t first = s[0];
    if (first < kSurrogateFirst || first > kSurrogateLast) {
        *cp = first;
        return 1;
    }
    if (first >= kLowSurrogateFirst) return 0;
    const char16_t second = s[1];
    if (second < kLowSurrogateFirst || second > kSurrogateLast) return 0;
    *cp = 0x10000 + ((static_cast<char32_t>(first - kSurrogateFirst) << 10) |
                     static_cast<char32_t>(second - kLowSurrogateFirst));
    return 2;
}

constexpr std::size_t utf8_length_of(char32_t cp) {
    if (cp < 0x80) return 1;
    if (cp < 0x800) return 2;
    if (cp < 0x10000) return 3;
    return 4;
}

std::size_t encode_utf8(char32_t cp, char *out) {
    const std::size_t length = utf8_length_of(cp);
    static constexpr unsigned char kLeadMark[5] = {0, 0x00, 0xC0, 0xE0, 0xF0};
    for (std::size_t i = length - 1; i > 0; --i) {
        out[i] = static_cast<char>(0x80 | (cp & 0x3F));
        cp >>= 6;
    }
    out[0] = static_cast<char>(kLeadMark[length] | cp);
    return length;
}

std::size_t encode_utf16(char32_t cp, char16_t *out) {
    if (cp < 0x10000) {
        out[0] = static_cast<char16_t>(cp);
        return 1;
    }
    cp -= 0x10000;
    out[0] = static_cast<char16_t>(kSurrogateFirst + (cp >> 10));
    out[1] = static_cast<char16_t>(kLowSurrogateFirst + (cp & 0x3FF));
    return 2;
}

}  // namespace

cv_status cv_utf8_to_utf16(const char *src, char16_t *dst, std::size_t *capacity) {
    if (src == nullptr || capacity == nullptr) return CV_E_INVALID;
    if (dst == nullptr && *capacity != 0) return CV_E_INVALID;

    const auto *s = reinterpret_cast<const unsigned char *>(src);
    std::size_t units = 1;  // the terminator
    for (std::size_t i = 0; s[i] != 0;) {
        char32_t cp = 0;
        const std::size_t used = decode_utf8(s + i, &cp);
        if (used == 0) return CV_E_INVALID;
        units += cp > 0xFFFF ? 2 : 1;
        i += used;
    }
    const std::size_t needed = units * sizeof(char16_t);
    if (needed > *capacity) {
        *capacity = needed;
        return CV_E_BUFFER_TOO_SMALL;
    }

    std::size_t written = 0;
    for (std::size_t i = 0; s[i] != 0;) {
        char32_t cp = 0;
        i += decode_utf8(s + i, &cp);
        written += encode_utf16(cp, dst + written);
    }
    dst[written] = 0;
    *capacity = written * sizeof(char16_t);
    return CV_OK;
}

cv_status cv_utf16_to_utf8(const char16_t *src, char *dst, std::size_t *capacity) {
    if (src == nullptr || capacity == nullptr) return CV_E_INVALID;
    if (dst == nullptr && *capacity != 0) return CV_E_INVALID;

    std::size_t needed = 1;  // the terminator
    for (std::size_t i = 0; src[i] != 0;) {
        char32_t cp = 0;
        const std::size_t used = decode_utf16(src + i, &cp);
        if (used == 0) return CV_E_INVALID;
        needed += utf8_length_of(cp);
        i += used;
    }
    if (needed > *capacity) {
        *capacity = needed;
        return CV_E_BUFFER_TOO_SMALL;
    }

    std::size_t written = 0;
    for (std::size_t i = 0; src[i] != 0;) {
        char32_t cp = 0;
        i += decode_utf16(src + i, &cp);
        written += encode_utf8(cp, dst + written);
    }
    dst[written] = 0;
    return CV_OK;
}

cv_status cv_utf8_trim_partial(char *str, std::size_t *length) {
    if (str == nullptr) return CV_E_INVALID;
    std::size_t len = length != nullptr ? *length : std::strlen(str);
    if (len == 0) return CV_OK;

    const auto *s = reinterpret_cast<const unsigned char *>(str);
    const unsigned char last = s[len - 1];
    std::size_t cut = len;
    if (last < 0x80) {
        return CV_OK;
    } else if (!is_continuation(last)) {
        cut = len - 1;  // a lead byte with nothing after it
    } else {
        std::size_t lead = len - 1;
        while (lead > 0 && is_continuation(s[lead])) --lead;
        if (is_continuation(s[lead]) || s[lead] < 0x80) return CV_E_INVALID;
        if (announced_length(s[lead]) == len - lead) return CV_OK;
        cut = lead;
    }
    str[cut] = '\0';
    if (length != nullptr) *length = cut;
    return CV_OK;
}
