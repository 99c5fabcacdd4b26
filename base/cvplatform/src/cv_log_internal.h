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

/* Takes the ring lock of log directory `dir`, blocking while another process
 * (or another open of this process) holds it, and stores the lock's handle in
 * `*lock`.  Every process choosing, creating or deleting files of the ring
 * does so under this lock, so that the choice is made on a directory that no
 * one else is changing.  0, or the system error (the caller then goes on
 * without the lock). */
cv_status cv_log_ring_lock(const char *dir, cv_file_handle *lock);

/* Releases a lock taken by cv_log_ring_lock; an invalid handle is ignored. */
void cv_log_ring_unlock(cv_file_handle *lock);

/* ---- The crash report's way into the log ---- */

/* Writes `length` bytes of `text` as the message of one line at `level`,
 * with the header and line end of any other line, through the current file
 * (or to standard error in that mode), under the same repeat rule.  Safe
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

/* ---- The state of the open log, read-only, for tests ---- */

/* The maximum file size in bytes. */
std::uint64_t cv_log_max_size();

/* The plain log path (forward slashes, suffix removed); "" before init. */
const char *cv_log_path();

/* The numbered path of the file being written; "" when none is open. */
const char *cv_log_current_file();
