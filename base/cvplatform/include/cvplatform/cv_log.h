// The process-wide log.
//
// One plain text file (or standard error alone), written a whole line per
// write call with a local timestamp, the process and thread ids and a level
// name.  Identical consecutive lines are collapsed and later announced as
// "Last message repeated N times".  The size is bounded by a ring of ten
// numbered files (name.0.log .. name.9.log); the plain name is a hard link to
// the file in use.  Many processes may append to the same file at once: every
// line reaches it whole, in one write.
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

/* Opens the log.  `name` is "-" (standard error only), a bare name (placed in
 * the default directory, which is created), or a path with a slash or
 * backslash (used as given).  A ":N" suffix sets the maximum size to N MiB.
 * `replay_mode` 1 and 2 both mean the log file; 3 is refused.
 * Returns 0 (also when already open: nothing changes), 22 for a null name or
 * replay mode 3, 206 for a name over 8192 bytes, 122 when the default
 * directory and name do not fit, or the status of the failed step; the log
 * then stays not initialised. */
cv_status cv_log_init(int replay_mode, const char *name);

/* Log one line at level ERR, LOG or DBG.  Always 0; failures are never
 * reported to the caller, and errno is preserved. */
int cv_log_error(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
int cv_log_info(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
int cv_log_debug(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

/* The dispatcher behind the three: `destination` is the log's open state.
 * Returns 0; 22 for a destination other than 0, 1 and 2. */
int cv_log_vmsg(int destination, int level, const char *fmt, va_list args)
    __attribute__((format(printf, 3, 0)));

/* Flushes the current file to disk when the log is open. */
void cv_log_flush();

/* Flushes and closes the log's files; later messages are discarded until
 * cv_log_init runs again.  Repeats still pending are never reported. */
void cv_log_close();

/* Writes the default log directory into `buf`: "<product root>/var/log" when
 * that exists, else the executable's directory.  0; 22 for a null buffer or
 * zero size; 122 when the path does not fit. */
cv_status cv_log_get_default_dir(char *buf, std::size_t size);
