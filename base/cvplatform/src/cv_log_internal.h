// Internals of the log shared by its portable part (cv_log.cpp), its
// per-platform part (posix/cv_log_posix.cpp) and its tests.  Not part of the
// library's public interface.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cvplatform/cv_native.h"
#include "cvplatform/cv_status.h"

/* Number of numbered files in the ring (digits 0 to 9). */
inline constexpr int CV_LOG_RING_SIZE = 10;

/* The largest accepted ":N" size suffix, in MiB. */
inline constexpr std::uint64_t CV_LOG_MAX_SUFFIX_MIB = 536870911;

/* ---- Per-platform pieces (posix/cv_log_posix.cpp) ---- */

/* Writes all `count` bytes to standard error, repeating on partial writes.
 * 0, or the system error that ended the writing. */
cv_status cv_log_stderr_write(const void *bytes, std::size_t count);

/* The calling thread's last system error, saved before a logging call and
 * put back after it so that logging never disturbs what a caller is about to
 * report. */
struct cv_log_saved_error {
    int value;
};
cv_log_saved_error cv_log_error_save();
void cv_log_error_restore(cv_log_saved_error saved);

/* How long a login waits for the ring lock before it goes on without it.
 * Any account that can read the log folder can take the lock and keep it;
 * a login must not hang on that. */
inline constexpr int CV_LOG_LOCK_WAIT_MS = 2000;

/* ---- The ring's files, reached by bare name under a handle of the log
 * folder (posix/cv_log_posix.cpp).  Every account writing the log shares
 * the folder, so each entry in it may have been planted by another account:
 * these calls never follow a link, never open anything but a regular file,
 * never block on a file, and never change a file they did not create. ---- */

/* Opens log folder `path` for the ring operations below into `*dir`.
 * 0, or the system error (`*dir` then invalid). */
cv_status cv_log_dir_open(const char *path, cv_file_handle *dir);

/* Closes a handle of cv_log_dir_open; an invalid handle is ignored. */
void cv_log_dir_close(cv_file_handle *dir);

/* Calls `visit` with each entry name of folder `dir` ("." and ".."
 * included) and `context`.  0, or the system error of the listing. */
using cv_log_name_visitor = void (*)(const char *name, void *context);
cv_status cv_log_dir_list(cv_file_handle dir, cv_log_name_visitor visit, void *context);

/* Opens ring file `name` (a bare name) of folder `dir` for appending into
 * `*file`.  An absent file is created exclusively with exactly `mode`,
 * whatever the file-creation mask; an existing one is opened as it is, its
 * mode untouched.  A symbolic link, a FIFO, a device or a folder at the name
 * is refused without blocking, and so is a regular file with a name outside
 * the ring: the only other name a ring file may have is the plain name
 * `plain` (bare, of the same folder).  0; CV_E_FILE_NOT_VALID for an entry
 * that is not a file of the ring; or the system error (a link gives the
 * system's refusal to follow it, a file this account may not write "access
 * denied").  `*file` is invalid on failure. */
cv_status cv_log_ring_open_file(cv_file_handle dir, const char *name, const char *plain,
                                std::uint32_t mode, cv_file_handle *file);

/* Removes entry `name` of folder `dir` (the entry itself, whatever it is).
 * 0, or the system error (a folder with the sticky bit keeps another
 * account's files). */
cv_status cv_log_ring_remove(cv_file_handle dir, const char *name);

/* Makes `name` a new hard link to the entry `existing`, both of folder
 * `dir`; `existing` is not followed when it is a link.  0, or the system
 * error (an existing `name` is one). */
cv_status cv_log_ring_link(cv_file_handle dir, const char *existing, const char *name);

/* Takes the ring lock of log folder `dir`, waiting at most `wait_ms`
 * milliseconds while another process (or another open of this process)
 * holds it, and stores the lock's handle in `*lock`.  Every process
 * choosing, creating or deleting files of the ring does so under this lock,
 * so that the choice is made on a folder no one else is changing.  0;
 * CV_E_ALREADY_LOCKED when the wait ran out; or the system error.  On
 * failure `*lock` is invalid and the caller goes on without the lock. */
cv_status cv_log_ring_lock(cv_file_handle dir, int wait_ms, cv_file_handle *lock);

/* Releases a lock taken by cv_log_ring_lock; an invalid handle is ignored. */
void cv_log_ring_unlock(cv_file_handle *lock);

/* ---- The crash report's way into the log ---- */

/* Writes `length` bytes of `text` as the message of one line at `level`,
 * with the header and line end of any other line, through the current file
 * (or to standard error in that mode), under the same repeat rule and with
 * control bytes shown as ordinary lines show them (see
 * cv_log_neutralise_controls).  Safe
 * inside a signal handler: no allocation, no lock, no formatted print; local
 * time comes from the offset to UTC that the last ordinary line (or the
 * opening) found, and the file is never rotated.  0 (also when the log is
 * not open or the level is switched off, the line being discarded); 22 for
 * a null text or when no file is open; 28686 when the clock cannot be read;
 * the write's error. */
cv_status cv_log_write_raw_line(int level, const char *text, std::size_t length);

/* ---- Pure helpers of the log, exposed for tests ---- */

/* Removes a ":N" size suffix from `path` in place (the last ":" that is not
 * a drive letter's, followed by at least one decimal digit; the colon and
 * the digits are removed, the text after them stays).  When 1 <= N <=
 * CV_LOG_MAX_SUFFIX_MIB, `*max_size` becomes N MiB; otherwise it is left as
 * it was. */
void cv_log_parse_size_suffix(char *path, std::uint64_t *max_size);

/* Chooses the ring digit to write to from the digits present: none present
 * gives 0 and `*fresh` true; otherwise the end of the run of consecutive
 * digits that starts at the lowest present digit, `*fresh` false. */
int cv_log_choose_digit(const bool present[CV_LOG_RING_SIZE], bool *fresh);

/* Writes the numbered name of `path` for `digit` into `dst`: "." and the
 * digit inserted before the last "." of the last path component, or
 * appended when that component has none (a/b.log -> a/b.3.log, cvlog ->
 * cvlog.3).  0; 206 when it does not fit. */
cv_status cv_log_numbered_path(const char *path, int digit, char *dst, std::size_t size);

/* Copies `length` bytes of `src` into `dst` (`capacity` bytes, no
 * terminator written) with each control byte (below 0x20, and 0x7F) written
 * as "\xNN" in upper-case hexadecimal, so that a message can neither end
 * its line nor drive a terminal; every other byte stays as it is (a
 * backslash too).  Stops before an escape or a UTF-8 character that would
 * not fit whole.  Returns the bytes written.  Safe inside a signal handler. */
std::size_t cv_log_neutralise_controls(const char *src, std::size_t length, char *dst,
                                       std::size_t capacity);

/* ---- The state of the open log, read-only, for tests ---- */

/* The maximum file size in bytes. */
std::uint64_t cv_log_max_size();

/* The plain log path (forward slashes, suffix removed); "" before init. */
const char *cv_log_path();

/* The numbered path of the file being written; "" when none is open. */
const char *cv_log_current_file();
