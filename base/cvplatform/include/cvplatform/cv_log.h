// The process-wide log.
//
// One plain text file (or standard error alone), written a whole line per
// write call with a local timestamp, the process and thread ids and a level
// name.  Identical consecutive lines are collapsed and later announced as
// "Last message repeated N times".  The size is bounded by a ring of ten
// numbered files (name.0.log .. name.9.log); the plain name is a hard link to
// the file in use.  Many processes may append to the same file at once: every
// line reaches it whole, in one write, and processes rotating the ring at the
// same time agree on the file to continue in (the choice is made under a lock
// on the log directory, waited for a bounded time), so none deletes a file that
// others still fill while the ring has room.  The log directory is shared by
// every account that logs there: a ring name that is a link or anything but a
// regular file this account may write is passed over, never followed or
// opened, and an existing file keeps its mode.  A message never spans lines:
// control bytes in it are written as "\xNN".  Within a process the log is meant
// for one thread: lines from several threads stay whole, but the repeat
// suppression is unguarded.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "cvplatform/cv_status.h"

/* Levels passed to cv_log_vmsg. */
enum : int {
    CV_LOG_LEVEL_ERROR = 0, /* printed as "ERR" */
    CV_LOG_LEVEL_INFO = 1,  /* printed as "LOG" */
    CV_LOG_LEVEL_DEBUG = 2, /* printed as "DBG" */
};

/* Values of the log's `open` field, the destination of cv_log_vmsg. */
enum : int {
    CV_LOG_NOT_INITIALISED = 0,
    CV_LOG_OPEN = 2,
};

inline constexpr std::size_t CV_LOG_PATH_SIZE = 8192;
inline constexpr std::uint64_t CV_LOG_DEFAULT_MAX_SIZE = 10485760; /* 10 MiB */

/* Process-wide switches, plain globals read without locking.  When
 * cv_log_enabled is 0 nothing is logged; cv_log_debug_enabled gates "DBG";
 * cv_log_verbosity is read by callers before composing extra diagnostics. */
extern int cv_log_enabled;       /* initially 1 */
extern int cv_log_debug_enabled; /* initially 0 */
extern int cv_log_verbosity;     /* initially 0 */

/* Opens the log.  `name` is "-" (standard error only: bodies without
 * header, no file), a bare name (placed in the default directory, see
 * cv_log_get_default_dir, which is created with mode 0755 when missing), or
 * a path with a slash or backslash (used as given, relative to the working
 * directory when relative; backslashes become "/").  A trailing ":N" (N
 * decimal, 1 to 536870911; not a drive letter's colon) sets the maximum file
 * size to N MiB instead of CV_LOG_DEFAULT_MAX_SIZE and is removed from the
 * path.  The file written is a numbered file of the ring beside the plain
 * name (name.log -> name.0.log .. name.9.log; cvlog -> cvlog.0), and the
 * plain name is made a hard link to it whenever a new one is started.  A new
 * ring file is created with mode 0660 whatever the file-creation mask; a
 * ring name that cannot be used (not a regular file, or not writable by this
 * account) is passed over for the next digit and named in a line of the
 * log.  When another process keeps the ring lock longer than about two
 * seconds, the log goes on without it and says so in a line of its own.
 * `replay_mode` 1 and 2 both mean the log file; 3 is refused.
 * Returns 0 (also when already open: nothing changes), 22 for a null or
 * empty name or replay mode 3, 206 for a name of 8192 bytes or more, 122 when the default
 * directory and name do not fit, or the status of the failed step (a
 * directory that cannot be opened or listed, with "Error opening log
 * directory %s" on standard error; 22 with "Cannot open log file: %s" on
 * standard error when no file of the ring can be opened).  Nothing is ever
 * written to standard output.  After a failure the log stays not initialised
 * and may be opened again.  Installs the crash handler. */
cv_status cv_log_init(int replay_mode, const char *name);

/* Log one line at level ERR, LOG or DBG (DBG only when cv_log_debug_enabled
 * is on).  The message is cut to 4089 bytes, after each control byte in it
 * (below 0x20, and 0x7F) has become "\xNN" (upper-case hexadecimal), so one
 * call is always one line; client text is still to be escaped with
 * cv_log_escape first, which also marks backslashes and bad UTF-8.  A line identical to the one
 * before (level included) is not written but counted, and the count is
 * announced before the next line that differs.  Always 0: failures are
 * never reported to the caller, messages are discarded while the log is not
 * open, and errno is preserved. */
int cv_log_error(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
int cv_log_info(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
int cv_log_debug(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

/* The dispatcher behind the three: `destination` is the log's open state
 * (CV_LOG_NOT_INITIALISED and 1 discard the message, CV_LOG_OPEN writes it),
 * `level` one of CV_LOG_LEVEL_*.  Returns 0; 22 for a destination other
 * than 0, 1 and 2.  A null `fmt` logs nothing.  errno is preserved. */
int cv_log_vmsg(int destination, int level, const char *fmt, va_list args)
    __attribute__((format(printf, 3, 0)));

/* Flushes the current file to disk when the log is open. */
void cv_log_flush();

/* Flushes and closes the log's files and removes the crash handler; later
 * messages are discarded until cv_log_init runs again.  Repeats still
 * pending are never reported. */
void cv_log_close();

/* Writes the default log directory into `buf`: "<product root>/var/log"
 * when that exists, else the executable's directory.  0; 22 for a null
 * buffer or zero size, or when the executable's path cannot be had; 122
 * when the path does not fit.  `buf` is left empty on failure. */
[[nodiscard]] cv_status cv_log_get_default_dir(char *buf, std::size_t size);

/* The mark that ends a text cv_log_escape had to cut. */
inline constexpr char CV_LOG_ESCAPE_CUT_MARK[] = "[...]";

/* Writes `length` bytes of `text` (NUL bytes included) into `dst` as a piece
 * of a log line that can neither end the line nor drive a terminal: a
 * backslash becomes "\\", a C0 control character or DEL (bytes below 0x20
 * and 0x7F) "\xNN", a C1 control character (U+0080 to U+009F) "\u00NN", and
 * each byte that is not part of a well-formed UTF-8 character (strict
 * UTF-8: no overlong forms, surrogates or values above U+10FFFF) "\xNN",
 * with NN in upper-case hexadecimal.  Every other character is copied as it
 * is.  The result is terminated.  When it does not fit `capacity` (the
 * terminator included), it is cut after the last whole character or escape
 * that leaves room for CV_LOG_ESCAPE_CUT_MARK, the mark is appended, and
 * 28677 is returned; a capacity too small for the mark gives an empty text
 * and 28677.  0 when the whole text fits; 22 for a null `dst` or a zero
 * capacity, or a null `text` with a non-zero length. */
cv_status cv_log_escape(const char *text, std::size_t length, char *dst, std::size_t capacity);
