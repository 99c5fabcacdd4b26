// Bounded copying, appending and formatted printing.
//
// Every function here writes into a caller-owned buffer of known capacity
// and never past it.  The source is measured at most up to what could fit
// (plus one byte, to tell "fitted exactly" from "was cut"), so an
// unterminated source within the bound is never over-read, and it is copied
// with one move.  A cut result is shortened to the last whole UTF-8
// character, so that no later conversion sees half a character.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "cvplatform/cv_log.h"
#include "cvplatform/cv_str.h"

namespace {

// Strings cv_str_append_many takes before its terminating null.
constexpr int kAppendManyMax = 9;

constexpr bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Empties the destination of a refused call, when there is a byte to write.
void empty_destination(char *dst, std::size_t capacity) {
    if (dst != nullptr && capacity > 0) dst[0] = '\0';
}

// Shortens the text written at `dst + pos` (`written` bytes, already
// terminated) to whole UTF-8 characters and returns the new length.
std::size_t trim_written(char *dst, std::size_t pos, std::size_t written) {
    std::size_t length = written;
    // A malformed tail (22) is left as it is: the source was not UTF-8.
    (void)cv_utf8_trim_partial(dst + pos, &length);
    return length;
}

// Copies `length` bytes of `src` to `dst` at the cursor, which the caller
// has checked, terminates and advances the cursor.
void place(char *dst, const char *src, std::size_t length, std::size_t pos, std::size_t *cursor) {
    std::memmove(dst + pos, src, length);
    dst[pos + length] = '\0';
    if (cursor != nullptr) *cursor = pos + length;
}

// The copy of a source that did not fit: cut at the room, then back to a
// whole character.
cv_status place_cut(char *dst, const char *src, std::size_t room, std::size_t pos,
                    std::size_t *cursor) {
    place(dst, src, room, pos, nullptr);
    const std::size_t kept = trim_written(dst, pos, room);
    if (cursor != nullptr) *cursor = pos + kept;
    return CV_E_BUFFER_SPACE;
}

}  // namespace

std::size_t cv_str_length(const char *text, std::size_t max_len) {
    if (text == nullptr) return 0;
    std::size_t length = 0;
    while (length < max_len && text[length] != '\0') ++length;
    return length;
}

cv_status cv_str_to(char *dst, const char *src, std::size_t max_len, std::size_t capacity,
                    std::size_t *cursor) {
    const std::size_t pos = cursor != nullptr ? *cursor : 0;
    if (dst == nullptr || src == nullptr || pos >= capacity) {
        // The source is quoted only as far as it may be read.
        const std::size_t readable = std::min<std::size_t>(max_len, INT_MAX);
        const int shown = static_cast<int>(src != nullptr ? cv_str_length(src, readable) : 5);
        cv_log_info("Warning: cv_str_to failure, args %p %p %zu %zu '%.*s'",
                    static_cast<void *>(dst), static_cast<const void *>(src), capacity, pos, shown,
                    src != nullptr ? src : "(nil)");
        empty_destination(dst, capacity);
        return CV_E_INVALID;
    }

    const std::size_t room = capacity - pos - 1;
    const std::size_t length = cv_str_length(src, std::min(max_len, room + 1));
    if (length <= room) {
        place(dst, src, length, pos, cursor);
        return CV_OK;
    }
    return place_cut(dst, src, room, pos, cursor);
}

cv_status cv_str_copy(char *dst, const char *src, std::size_t capacity) {
    return cv_str_to(dst, src, src != nullptr ? SIZE_MAX : 0, capacity, nullptr);
}

cv_status cv_str_append(char *dst, const char *src, std::size_t capacity, std::size_t *cursor) {
    return cv_str_to(dst, src, src != nullptr ? SIZE_MAX : 0, capacity, cursor);
}

cv_status cv_str_cat(char *dst, const char *src, std::size_t capacity) {
    if (dst == nullptr || src == nullptr) return CV_E_INVALID;
    if (src[0] == '\0') return CV_OK;
    std::size_t end = cv_str_length(dst, capacity);
    if (end >= capacity) return CV_E_BUFFER_SPACE;
    return cv_str_to(dst, src, SIZE_MAX, capacity, &end);
}

cv_status cv_str_append_many(char *dst, std::size_t capacity, std::size_t *cursor, ...) {
    // Count first, so that a list that is too long is refused before
    // anything is written.
    va_list args;
    va_start(args, cursor);
    int count = 0;
    while (va_arg(args, const char *) != nullptr) {
        if (++count > kAppendManyMax) break;
    }
    va_end(args);
    if (count > kAppendManyMax) {
        empty_destination(dst, capacity);
        return CV_E_INVALID;
    }

    if (count == 0) return CV_OK;

    // Without a cursor the strings go after the destination's current text,
    // as cv_str_cat puts them.
    std::size_t end = 0;
    if (cursor == nullptr && dst != nullptr) {
        end = cv_str_length(dst, capacity);
        if (end >= capacity) return CV_E_BUFFER_SPACE;
    }
    if (cursor == nullptr) cursor = &end;

    va_start(args, cursor);
    cv_status status = CV_OK;
    for (int i = 0; i < count && status == CV_OK; ++i)
        status = cv_str_append(dst, va_arg(args, const char *), capacity, cursor);
    va_end(args);
    return status;
}

cv_status cv_trimmed_str_to(char *dst, const char *src, std::size_t capacity, std::size_t *cursor) {
    const std::size_t pos = cursor != nullptr ? *cursor : 0;
    if (dst == nullptr || src == nullptr || pos >= capacity) {
        cv_log_info("cv_trimmed_str_to failure, args %p %p %zu %zu %p", static_cast<void *>(dst),
                    static_cast<const void *>(src), capacity, pos, static_cast<void *>(cursor));
        empty_destination(dst, capacity);
        return CV_E_INVALID;
    }

    while (is_space(*src)) ++src;
    // Find the end of the trimmed text, but stop reading as soon as it is
    // known not to fit: a character beyond the room that is not white space.
    const std::size_t room = capacity - pos - 1;
    std::size_t trimmed = 0;
    for (std::size_t i = 0; src[i] != '\0'; ++i) {
        if (is_space(src[i])) continue;
        trimmed = i + 1;
        if (trimmed > room) return place_cut(dst, src, room, pos, cursor);
    }
    place(dst, src, trimmed, pos, cursor);
    return CV_OK;
}

int cv_vsnprintf(char *dst, std::size_t capacity, const char *fmt, va_list args) {
    if (fmt == nullptr || (dst == nullptr && capacity != 0)) {
        empty_destination(dst, capacity);
        return -1;
    }
    const int printed = std::vsnprintf(dst, capacity, fmt, args);
    if (printed < 0) {
        empty_destination(dst, capacity);
        return printed;
    }
    if (capacity == 0 || static_cast<std::size_t>(printed) < capacity) return printed;
    trim_written(dst, 0, capacity - 1);
    return capacity > INT_MAX ? INT_MAX : static_cast<int>(capacity);
}

int cv_snprintf(char *dst, std::size_t capacity, const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    const int printed = cv_vsnprintf(dst, capacity, fmt, args);
    va_end(args);
    if (capacity == 0 || printed < 0 || static_cast<std::size_t>(printed) < capacity)
        return printed;
    if (cv_log_verbosity >= 2) cv_log_debug("Call to snprintf() lead to a truncation");
    return capacity - 1 > INT_MAX ? INT_MAX : static_cast<int>(capacity - 1);
}

cv_status cv_str_append_printf(char *dst, std::size_t capacity, std::size_t *cursor,
                               const char *fmt, ...) {
    if (dst == nullptr) return CV_E_INVALID;
    const std::size_t pos = cursor != nullptr ? *cursor : 0;
    if (fmt == nullptr || pos >= capacity) {
        empty_destination(dst, capacity);
        return CV_E_INVALID;
    }

    va_list args;
    va_start(args, fmt);
    errno = 0;
    const int printed = std::vsnprintf(dst + pos, capacity - pos, fmt, args);
    const int print_error = errno;
    va_end(args);
    if (printed < 0) {
        dst[pos] = '\0';
        return print_error != 0 ? static_cast<cv_status>(print_error) : CV_E_INVALID;
    }
    if (static_cast<std::size_t>(printed) < capacity - pos) {
        if (cursor != nullptr) *cursor = pos + static_cast<std::size_t>(printed);
        return CV_OK;
    }
    // vsnprintf has already written as much as fits; cut it back to a whole
    // character as cv_str_append would.
    const std::size_t kept = trim_written(dst, pos, capacity - pos - 1);
    if (cursor != nullptr) *cursor = pos + kept;
    return CV_E_BUFFER_SPACE;
}
