// Crash reporting: the fatal-fault handler, the names of fatal exceptions and
// symbolised backtraces written to the log.
//
// When the process dies of a fatal fault (an access violation, a stack
// overflow, a division by zero, an illegal instruction ...), the handler
// writes "Unhandled Exception NAME(CODE)" and the faulting thread's backtrace
// into the log at level ERR, flushes it, and lets the process end as it
// would have.  A breakpoint is never reported.  The log installs the handler
// when it opens and removes it when it closes.  A backtrace is one line of
// frame addresses with a hash, then one line per frame:
//
//   Backtrace hash:0x5e1f09a2 0x000055d0c1a2f3c4 0x00007f3a81c2924a ...
//    0:0x000055d0c1a2f3c4 cvshell+62404
//    1:0x00007f3a81c2924a __libc_start_main+138
//
// naming the symbol that holds each address and the distance from its start,
// or, where no symbol is known, the module's file name and the distance from
// the module's start.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cvplatform/cv_status.h"

/* Exception codes, as the system names its fatal exceptions.  The crash
 * handler reports all of them except BREAKPOINT and SINGLE_STEP. */
enum : std::uint32_t {
    CV_EXCEPTION_ACCESS_VIOLATION = 0xC0000005,
    CV_EXCEPTION_DATATYPE_MISALIGNMENT = 0x80000002,
    CV_EXCEPTION_BREAKPOINT = 0x80000003,
    CV_EXCEPTION_SINGLE_STEP = 0x80000004,
    CV_EXCEPTION_IN_PAGE_ERROR = 0xC0000006,
    CV_EXCEPTION_ILLEGAL_INSTRUCTION = 0xC000001D,
    CV_EXCEPTION_NONCONTINUABLE_EXCEPTION = 0xC0000025,
    CV_EXCEPTION_INVALID_DISPOSITION = 0xC0000026,
    CV_EXCEPTION_ARRAY_BOUNDS_EXCEEDED = 0xC000008C,
    CV_EXCEPTION_FLT_DENORMAL_OPERAND = 0xC000008D,
    CV_EXCEPTION_FLT_DIVIDE_BY_ZERO = 0xC000008E,
    CV_EXCEPTION_FLT_INEXACT_RESULT = 0xC000008F,
    CV_EXCEPTION_FLT_INVALID_OPERATION = 0xC0000090,
    CV_EXCEPTION_FLT_OVERFLOW = 0xC0000091,
    CV_EXCEPTION_FLT_STACK_CHECK = 0xC0000092,
    CV_EXCEPTION_FLT_UNDERFLOW = 0xC0000093,
    CV_EXCEPTION_INT_DIVIDE_BY_ZERO = 0xC0000094,
    CV_EXCEPTION_INT_OVERFLOW = 0xC0000095,
    CV_EXCEPTION_PRIV_INSTRUCTION = 0xC0000096,
    CV_EXCEPTION_STACK_OVERFLOW = 0xC00000FD,
};

/* Frames in the crash report, and in the backtrace cv_backtrace_log_current
 * writes. */
inline constexpr int CV_CRASH_FRAMES = 64;
inline constexpr int CV_BACKTRACE_CURRENT_FRAMES = 66;

/* The line buffer of a logged backtrace, and the longest name a frame line
 * shows (terminator included). */
inline constexpr std::size_t CV_BACKTRACE_LINE_SIZE = 1024;
inline constexpr std::size_t CV_BACKTRACE_NAME_SIZE = 256;

/* Installs the process-wide handler that writes a fatal fault's name and the
 * faulting thread's backtrace to the log, then lets the process end as it
 * would have (killed by the same signal, or handed to the handler that was
 * in place before).  Also readies the symbol look-ups and arranges for
 * cv_crash_handler_remove to run at exit.  Idempotent: a second call while
 * installed changes nothing and returns 0.  Meant for the main thread: a
 * stack overflow is reported on the thread that installed the handler; on
 * other threads it ends the process unreported.  0, or the system's error
 * when the handler cannot be hooked in (nothing is installed then). */
cv_status cv_crash_handler_install();

/* Removes the handler and puts back the handlers that were in place before
 * cv_crash_handler_install.  Idempotent.  Always 0. */
cv_status cv_crash_handler_remove();

/* The name of exception `code` ("ACCESS_VIOLATION", "INT_DIVIDE_BY_ZERO"
 * ...), a constant text; "UNKNOWN EXCEPTION" for a code not listed above. */
const char *cv_exception_name(std::uint32_t code);

/* Receives each finished line of cv_backtrace_print: `line` holds it,
 * terminated, `*cursor` is its end.  The callback hands the line on and
 * resets it (`*cursor` = 0) for the next one; its result becomes
 * cv_backtrace_print's. */
using cv_backtrace_line_fn = int (*)(char *line, std::size_t size, std::size_t *cursor);

/* Prints a backtrace of `count` return addresses (innermost first) line by
 * line into `line` (`size` bytes) at `*cursor`, calling `emit` after each
 * line.  No frames give the single line "Backtrace unavailable.".
 * Otherwise the first line is "Backtrace hash:" with `hash` ("%#x") and a
 * blank, then each address ("0x" and 16 hexadecimal digits) and a blank,
 * as many as fit whole; then one line per frame i: "%2d:0x%.16lx %s+%lld"
 * with i, the address, the name and the displacement (see the header's
 * paragraph; names are demangled and cut to CV_BACKTRACE_NAME_SIZE - 1
 * characters).  A line that does not fit is cut.  Symbol look-ups are
 * serialised while the handler is installed.  The last result of `emit`;
 * 22 without calling it for a null `emit`, `line` or `cursor`, or a zero
 * `size`. */
int cv_backtrace_print(void *const *frames, int count, std::uint32_t hash,
                       cv_backtrace_line_fn emit, char *line, std::size_t size,
                       std::size_t *cursor);

/* Writes the calling thread's backtrace to the log at level ERR, its first
 * frame being the caller of this function, at most
 * CV_BACKTRACE_CURRENT_FRAMES frames. */
void cv_backtrace_log_current();
