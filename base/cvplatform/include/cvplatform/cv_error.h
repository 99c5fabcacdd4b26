// Status texts, the clock, the host name and the current user's identity.
//
// Every status of the system has a text: the platform's own codes (28672 to
// 28711) from a fixed table, everything else from the operating system.  The
// user functions answer "who runs this process" the way the configuration
// framework names accounts: DOMAIN\user with the user in lower case and the
// domain in upper case, or the bare user for accounts of this computer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "cvplatform/cv_status.h"

/* Writes the text of `code` into `buf`: the platform's own table for 28672 to
 * 28711 (28695 and 28696 have no entry), the system's message otherwise,
 * without a trailing line end.  0; 22 for a null buffer or zero size; 28677
 * (CV_E_BUFFER_SPACE) when the text does not fit: the buffer then holds the
 * text cut to fit, ending on a whole UTF-8 character; for a system text that
 * cannot be read, the system's error (buffer emptied). */
cv_status cv_error_to_string(cv_status code, char *buf, std::size_t size);

/* `buf` holding the text of `code`, or the fixed static text "Could not
 * retrieve error message" when cv_error_to_string fails (also for a null
 * buffer or a buffer too small). */
const char *cv_strerror(cv_status code, char *buf, std::size_t size);

/* A wall-clock time: seconds since 1970-01-01 UTC and microseconds.  Seconds
 * are 64-bit so that times after 2038 are represented. */
struct cv_time {
    std::int64_t seconds;
    std::int32_t microseconds;
};

/* The value that stands for "never".  It keeps the value of the 32-bit
 * record (2^31 - 1 seconds) that stored times use. */
inline constexpr cv_time CV_TIME_INFINITE = {2147483647, 999999};

/* 1 when `t` is the infinite time, else 0 (also for null). */
int cv_time_is_infinite(const cv_time *t);

/* The current time (UTC), microseconds at the clock's millisecond
 * resolution.  0; 22 for null; the clock's error. */
cv_status cv_time_now(cv_time *now);

/* Converts seconds since 1970 to local calendar time (thread-safe).  0; 22
 * for a null record; the conversion's error (75 when the time cannot be
 * represented). */
cv_status cv_time_to_local(std::int64_t seconds, struct tm *calendar);

/* Seconds since 1970 of a Windows file time (100-nanosecond units since
 * 1601-01-01 UTC), rounded towards zero; negative before 1970. */
std::int64_t cv_time_from_file_time(std::uint64_t file_time);

/* Size of the process-wide computer-name cache. */
inline constexpr std::size_t CV_HOST_NAME_SIZE = 8192;

/* The computer's name (read once, then cached).  0; 22 for a null buffer,
 * zero size, or when the name cannot be read; 28677 when it is cut. */
cv_status cv_get_host_name(char *buf, std::size_t size);

/* The current user's name.  On POSIX it is the process owner's account
 * name, whatever the environment says (differing USER or LOGNAME values are
 * logged); an owner without an account name is no user: 2, with "Process
 * owner has no account name" logged.  On Windows it is taken from the
 * environment: USER when set and not empty,
 * else LOGNAME, else USERNAME, normalised with USERDOMAIN (or DOMAINNAME) to
 * DOMAIN\user (the bare user when the domain is this computer).  A name
 * that differs from the process owner's is logged ("Process owner and %USER%
 * name mismatch, using env name") and still used.  0; 22 for a null buffer,
 * zero size or no name; 28677 when it does not fit; failures are logged as
 * "Failed to resolve user name, errno:%d, err desc:%s" and leave `buf`
 * empty. */
cv_status cv_get_current_user_name(char *buf, std::size_t size);

/* Domain and user parts of an account name hold at most this many bytes,
 * terminator included. */
inline constexpr std::size_t CV_NAME_PART_SIZE = 512;

/* Modes of cv_user_name_normalize. */
enum : int {
    CV_NAME_UNTOUCHED = 0,       /* leave the name as it is */
    CV_NAME_LOCAL = 1,           /* normalise without asking the directory */
    CV_NAME_DIRECTORY = 2,       /* ask the directory service */
    CV_NAME_DOMAIN_CACHE = 3,    /* ask through the domain cache */
};

/* The process-wide resolution mode. */
inline constexpr int CV_NAME_RESOLUTION_MODE = CV_NAME_DOMAIN_CACHE;

/* Rewrites `name` (a string within `size` bytes) in place as DOMAIN\user:
 * user in lower case, domain in upper case, the domain dropped when it equals
 * this computer's name (ignoring case; a dotted host name also matches by its
 * first label) or ".".  user@dom, dom\user and dom/user are understood, the
 * first "@", else "\", else "/" splitting.  Mode CV_NAME_UNTOUCHED changes
 * nothing; CV_NAME_DIRECTORY and CV_NAME_DOMAIN_CACHE replace the domain by
 * its flat name from the directory (directly or through the cache); when
 * that fails "Unable to locate domain %s.  Leaving name as is." is logged and
 * the domain kept as written.  Where the platform has no directory service
 * (POSIX) the domain is kept as written and nothing is logged.  0; 22 for a null name, zero size, an
 * unterminated name or an unknown mode; 28677 when a part exceeds 511 bytes
 * or the result does not fit (the name is then unchanged). */
cv_status cv_user_name_normalize(char *name, std::size_t size, int mode);

/* Entries of the domain cache, replaced least recently used first. */
inline constexpr std::size_t CV_DOMAIN_CACHE_ENTRIES = 20;

/* The flat name of `domain` (compared ignoring case), through a process-wide
 * cache of CV_DOMAIN_CACHE_ENTRIES look-ups.  0; 2 when the domain cannot be
 * found (failures are not cached); 28700 where the platform has no
 * directory service; 8 out of memory; 22 for null arguments or
 * zero size; 28677 when the flat name is cut. */
cv_status cv_domain_cache_lookup(const char *domain, char *flat_name, std::size_t size);
