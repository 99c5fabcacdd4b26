// Escaping of untrusted text for the log.
//
// A log line is read by people on terminals and by programs that split the
// file at line ends, so text that a client chose (a command line, an
// environment variable, a name) must not be able to end a line, forge the
// next one or send escape sequences to a terminal.  The text is walked one
// UTF-8 character at a time; each piece is either copied or replaced by its
// escape, and the output is cut only between pieces.  Doubling the backslash
// keeps the escaping reversible: "\x0A" in the log is always an escaped line
// feed, never a client's literal text.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "cvplatform/cv_log.h"

namespace {

constexpr char kHex[] = "0123456789ABCDEF";
constexpr std::size_t kMarkLength = sizeof CV_LOG_ESCAPE_CUT_MARK - 1;

// Length of the well-formed UTF-8 character at `p` (at most `left` bytes), or
// 0 when the byte there does not start one.
std::size_t utf8_length(const unsigned char *p, std::size_t left) {
    const unsigned char b = p[0];
    if (b < 0x80) return 1;
    std::size_t n;
    std::uint32_t cp;
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2;
        cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        cp = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        cp = b & 0x07;
    } else {
        return 0;
    }
    if (n > left) return 0;
    for (std::size_t i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) return 0;
    if (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) return 0;
    return n;
}

// One piece of the output: either a slice of the input or an escape.
struct Piece {
    char escape[8];
    const char *bytes;
    std::size_t length;
};

Piece next_piece(const char *text, std::size_t left, std::size_t *consumed) {
    Piece piece{};
    const auto *p = reinterpret_cast<const unsigned char *>(text);
    const std::size_t n = utf8_length(p, left);
    auto hex_escape = [&piece](const char *lead, unsigned value) {
        std::size_t at = std::strlen(lead);
        std::memcpy(piece.escape, lead, at);
        piece.escape[at++] = kHex[(value >> 4) & 0xF];
        piece.escape[at++] = kHex[value & 0xF];
        piece.bytes = piece.escape;
        piece.length = at;
    };
    if (n == 0) {
        hex_escape("\\x", p[0]);
        *consumed = 1;
    } else if (n == 1 && (p[0] < 0x20 || p[0] == 0x7F)) {
        hex_escape("\\x", p[0]);
        *consumed = 1;
    } else if (n == 1 && p[0] == '\\') {
        piece.bytes = "\\\\";
        piece.length = 2;
        *consumed = 1;
    } else if (n == 2 && p[0] == 0xC2 && p[1] <= 0x9F) {
        hex_escape("\\u00", p[1]);
        *consumed = 2;
    } else {
        piece.bytes = text;
        piece.length = n;
        *consumed = n;
    }
    return piece;
}

}  // namespace

cv_status cv_log_escape(const char *text, std::size_t length, char *dst, std::size_t capacity) {
    if (!dst || capacity == 0) return CV_E_INVALID;
    if (!text && length != 0) {
        dst[0] = '\0';
        return CV_E_INVALID;
    }
    // `fits` is the end of the output up to the last piece after which the
    // cut mark would still fit; it is where a cut output ends.
    const std::size_t room = capacity - 1;
    std::size_t out = 0;
    std::size_t fits = 0;
    std::size_t at = 0;
    while (at < length) {
        std::size_t consumed = 0;
        const Piece piece = next_piece(text + at, length - at, &consumed);
        if (out + piece.length > room) {
            if (room < kMarkLength) {
                dst[0] = '\0';
                return CV_E_BUFFER_SPACE;
            }
            std::memcpy(dst + fits, CV_LOG_ESCAPE_CUT_MARK, kMarkLength);
            dst[fits + kMarkLength] = '\0';
            return CV_E_BUFFER_SPACE;
        }
        std::memcpy(dst + out, piece.bytes, piece.length);
        out += piece.length;
        if (out + kMarkLength <= room) fits = out;
        at += consumed;
    }
    dst[out] = '\0';
    return CV_OK;
}
