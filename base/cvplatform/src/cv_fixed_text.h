// Building text in a caller's fixed buffer without allocation, locale, lock or
// formatted print, so that it may run inside a signal handler: the crash
// report and the log's signal-tolerant line writer use it.
//
// The text is written at a position cursor held by the caller, is always
// terminated, and is cut at the buffer's end; every append says whether it
// was written whole.  Numbers print as printf would print them for the few
// conversions the crash report and the log header use ("%d", "%02d", "%2d",
// "%lld", "%x", "%08x", "%.16lx").
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

class cv_fixed_text {
public:
    /* Writes into `buf` (`size` bytes, terminator included) at `*cursor`.  A
     * cursor beyond the buffer is brought back to its last byte. */
    cv_fixed_text(char *buf, std::size_t size, std::size_t *cursor)
        : buf_(buf), size_(size), cursor_(cursor) {
        if (size_ == 0) return;
        if (*cursor_ >= size_) *cursor_ = size_ - 1;
        buf_[*cursor_] = '\0';
    }

    /* Bytes that can still be appended. */
    [[nodiscard]] std::size_t room() const { return size_ == 0 ? 0 : size_ - 1 - *cursor_; }

    /* Appends `text`, cut to the room; true when it fitted whole. */
    bool put(std::string_view text) {
        if (size_ == 0) return text.empty();
        const std::size_t count = text.size() < room() ? text.size() : room();
        for (std::size_t i = 0; i < count; ++i) buf_[*cursor_ + i] = text[i];
        *cursor_ += count;
        buf_[*cursor_] = '\0';
        return count == text.size();
    }

    /* Appends `value` in `base` (10 or 16, lower-case digits) with at least
     * `digits` digits (zero-padded) in a field of at least `width`
     * characters (blank-padded on the left). */
    bool put_unsigned(std::uint64_t value, unsigned base, int digits = 1, int width = 0) {
        return put_number(false, value, base, digits, width);
    }

    /* Appends `value` in decimal, as put_unsigned. */
    bool put_signed(std::int64_t value, int digits = 1, int width = 0) {
        const bool negative = value < 0;
        // Negated in unsigned arithmetic, so that the smallest value works.
        const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value)
                                                 : static_cast<std::uint64_t>(value);
        return put_number(negative, magnitude, 10, digits, width);
    }

private:
    static constexpr int MAX_DIGITS = 64;  // a 64-bit value in base 2 or above

    bool put_number(bool negative, std::uint64_t value, unsigned base, int digits, int width) {
        char text[MAX_DIGITS + 2];
        int at = MAX_DIGITS + 1;
        int produced = 0;
        do {
            text[--at] = "0123456789abcdef"[value % base];
            value /= base;
            ++produced;
        } while (value != 0 && at > 1);
        while (produced < digits && at > 1) {
            text[--at] = '0';
            ++produced;
        }
        if (negative) text[--at] = '-';
        const int length = MAX_DIGITS + 1 - at;
        bool whole = true;
        for (int pad = length; pad < width; ++pad) whole = put(" ") && whole;
        return put(std::string_view(text + at, static_cast<std::size_t>(length))) && whole;
    }

    char *buf_;
    std::size_t size_;
    std::size_t *cursor_;
};
