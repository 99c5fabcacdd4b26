// Inside the platform library: the pieces of crash reporting that the
// portable part (cv_crash.cpp) and the per-platform part
// (posix/cv_crash_posix.cpp) give each other, and the pure helpers the tests
// reach.  Not part of the library's public interface.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cvplatform/cv_status.h"

/* ---- Per-platform pieces (posix/cv_crash_posix.cpp) ---- */

/* Hooks the fatal faults: from now on a fault calls cv_crash_report and then
 * lets the process end as it would have.  The hooks in place before are kept
 * and put back by cv_crash_platform_unhook.  0, or the system's error (then
 * nothing is hooked). */
cv_status cv_crash_platform_hook();

/* Puts back what cv_crash_platform_hook replaced. */
void cv_crash_platform_unhook();

/* Readies symbol look-ups: loads now what a capture would otherwise load on
 * its first use (which must not happen inside a signal handler) and notes
 * the main program's module, whose frames are then named after `exe_path`
 * (its last component); a null `exe_path` leaves them named as the loader
 * knows them.  0, or 28691 when no stack can be captured here. */
cv_status cv_crash_platform_symbols_init(const char *exe_path);

/* Forgets what cv_crash_platform_symbols_init noted. */
void cv_crash_platform_symbols_cleanup();

/* Captures up to `max` return addresses of the calling thread, innermost
 * first; the first may lie in the capture itself.  The count. */
int cv_crash_platform_capture(void **frames, int max);

/* Names the code at `address` for a backtrace line: the symbol that holds it
 * and the distance from the symbol's start; without a known symbol, the file
 * name of the module that holds it and the distance from the module's start;
 * "??" and 0 when no module holds it.  A `return_address` is looked up one
 * byte earlier, so that a call that ends a function is named for that
 * function.  With `demangle`, C++ names are demangled, which allocates: never
 * inside a signal handler.  `name` gets at most `size` - 1 characters. */
void cv_crash_platform_symbol(const void *address, bool return_address, bool demangle,
                              char *name, std::size_t size, std::int64_t *displacement);

/* The exception code of a fatal signal: `signal` and `si_code` as the system
 * delivered them; `near_stack_pointer` when the faulting address lies within
 * CV_CRASH_STACK_REACH bytes of the interrupted stack pointer (a segmentation
 * fault there is a stack overflow).  The codes are the CV_EXCEPTION_* values;
 * 0 for a signal that is not a fatal fault. */
std::uint32_t cv_crash_exception_code(int signal, int si_code, bool near_stack_pointer);

/* How far from the stack pointer a faulting access still counts as running
 * off the end of the stack. */
inline constexpr std::uintptr_t CV_CRASH_STACK_REACH = 64 * 1024;

/* ---- Portable pieces (cv_crash.cpp) ---- */

/* Reports a fatal fault from inside the signal handler: the "Unhandled
 * Exception" line, the backtrace of `frames` (innermost first; with
 * `first_exact` the first is the faulting instruction itself, the others
 * are return addresses) and a flush of the log.  Does nothing for a code
 * that is not reported.  Uses only what is safe inside a signal handler:
 * fixed buffers, no allocation, no lock, no formatted print; names are not
 * demangled. */
void cv_crash_report(std::uint32_t code, void *const *frames, int count, bool first_exact);

/* The hash of a backtrace printed on its first line. */
std::uint32_t cv_backtrace_hash(void *const *frames, int count);
