// The UTF-16 command line handed to process creation on Windows.
//
// The program (or a whole, already formed command line) comes first, then
// the arguments, one blank between neighbours.  An argument that is empty or
// holds a blank or a double quote is enclosed in double quotes, and the
// double quotes inside it are removed, so that it stays one argument.  The
// line is built in the caller's buffer; when that is too small the line moves
// to a heap buffer, grown generously (80 bytes for every argument still to
// come) so that a long argument list is not copied over and over.  A pure
// function: the POSIX layer builds the child's argument vector instead.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "cvplatform/cv_str.h"

namespace {

// Bytes kept free beyond an argument's converted size: its two enclosing
// quotes, which together with the terminator's share also cover the blank.
constexpr std::size_t kQuoteReserve = 4;
// Fixed and per-pending-argument extra room of a grown buffer.
constexpr std::size_t kGrowthFixed = 8;
constexpr std::size_t kGrowthPerArgument = 80;

bool needs_quotes(const char *arg) { return arg[0] == '\0' || std::strpbrk(arg, " \"") != nullptr; }

// The line under construction: the buffer in use, its size, the units
// written so far, and the heap buffer (null while the caller's is in use).
struct line_builder {
    char16_t *buffer;
    std::size_t bytes;
    std::size_t used;
    char16_t **heap;

    std::size_t room_bytes() const { return bytes - used * sizeof(char16_t); }

    // Makes room for a string whose UTF-16 form needs `needed` bytes
    // (terminator included), with `pending` arguments still to come.
    cv_status reserve(std::size_t needed, std::size_t pending) {
        if (room_bytes() >= needed + kQuoteReserve) return CV_OK;
        if (bytes > SIZE_MAX - kGrowthFixed - needed ||
            pending > (SIZE_MAX - kGrowthFixed - needed - bytes) / kGrowthPerArgument)
            return CV_E_NO_MEMORY;
        const std::size_t grown = bytes + kGrowthFixed + kGrowthPerArgument * pending + needed;
        auto *fresh = static_cast<char16_t *>(std::malloc(grown));
        if (fresh == nullptr) return CV_E_NO_MEMORY;
        if (used > 0) std::memcpy(fresh, buffer, used * sizeof(char16_t));
        std::free(*heap);
        *heap = fresh;
        buffer = fresh;
        bytes = grown;
        return CV_OK;
    }

    // Converts `text` at the end of the line, enclosed in quotes (with its
    // own quotes dropped) when asked.
    cv_status append(const char *text, bool quoted, std::size_t pending) {
        std::size_t needed = 0;
        cv_status status = cv_utf8_to_utf16(text, nullptr, &needed);
        if (status != CV_E_BUFFER_TOO_SMALL) return status == CV_OK ? CV_E_INVALID : status;
        status = reserve(needed, pending);
        if (status != CV_OK) return status;

        if (quoted) buffer[used++] = u'"';
        std::size_t written = room_bytes();
        status = cv_utf8_to_utf16(text, buffer + used, &written);
        if (status != CV_OK) return status;
        const std::size_t units = written / sizeof(char16_t);
        if (quoted) {
            std::size_t kept = 0;
            for (std::size_t i = 0; i < units; ++i)
                if (buffer[used + i] != u'"') buffer[used + kept++] = buffer[used + i];
            used += kept;
            buffer[used++] = u'"';
        } else {
            used += units;
        }
        return CV_OK;
    }

    // A blank between strings or the final terminator; `reserve` kept room.
    void put(char16_t unit) { buffer[used++] = unit; }
};

}  // namespace

cv_status cv_cmdline_build(const char *program, const char *const *argv, std::size_t argc,
                           char16_t *buffer, std::size_t buffer_bytes, char16_t **heap) {
    if (heap == nullptr) return CV_E_INVALID;
    *heap = nullptr;
    if (program == nullptr || (argc > 0 && argv == nullptr) ||
        (buffer == nullptr && buffer_bytes != 0))
        return CV_E_INVALID;

    line_builder line{buffer, buffer == nullptr ? 0 : buffer_bytes, 0, heap};
    cv_status status = line.append(program, false, argc);
    for (std::size_t i = 0; status == CV_OK && i < argc; ++i) {
        if (argv[i] == nullptr) {
            status = CV_E_INVALID;
            break;
        }
        line.put(u' ');
        status = line.append(argv[i], needs_quotes(argv[i]), argc - i);
    }
    if (status != CV_OK) {
        cv_cmdline_free(heap);
        return status;
    }
    line.put(u'\0');
    return CV_OK;
}

cv_status cv_cmdline_free(char16_t **heap) {
    if (heap != nullptr) {
        std::free(*heap);
        *heap = nullptr;
    }
    return CV_OK;
}
