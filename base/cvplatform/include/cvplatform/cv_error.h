// Status texts, the clock, the host name and the current user's identity.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "cvplatform/cv_status.h"

/* Writes the text of `code` into `buf`: the platform's own table for 28672 to
 * 28711, the system's message otherwise, without a trailing line end.  0; 22
 * for a null buffer or zero size; a conversion or system status. */
cv_status cv_error_to_string(cv_status code, char *buf, std::size_t size);

/* `buf` holding the text of `code`, or the fixed text "Could not retrieve
 * error message" when it cannot be had. */
const char *cv_strerror(cv_status code, char *buf, std::size_t size);

/* A wall-clock time: seconds since 1970-01-01 UTC and microseconds.  Seconds
 * are 64-bit so that times after 2038 are represented. */
struct cv_time {
    std::int64_t seconds;
    std::int32_t microseconds;
};

/* The value that stands for "never". */
inline constexpr cv_time CV_TIME_INFINITE = {2147483647, 999999};

/* 1 when `t` is the infinite time, else 0. */
int cv_time_is_infinite(const cv_time *t);

/* The current time.  0; 22 for null. */
cv_status cv_time_now(cv_time *now);

/* Converts seconds since 1970 to local calendar time.  0 or the error. */
cv_status cv_time_to_local(std::int64_t seconds, struct tm *calendar);

/* The computer's name (cached on first use).  The bounded copy's status; 22
 * when the name cannot be read. */
cv_status cv_get_host_name(char *buf, std::size_t size);

/* The current user's name from USER, LOGNAME, or USERNAME with USERDOMAIN
 * (or DOMAINNAME) as DOMAIN\user.  A mismatch with the process owner is
 * logged; the environment's name is the result.  0, or the failure (logged). */
cv_status cv_get_current_user_name(char *buf, std::size_t size);

/* Modes of cv_user_name_normalize. */
enum : int {
    CV_NAME_UNTOUCHED = 0,       /* leave the name as it is */
    CV_NAME_LOCAL = 1,           /* normalise without asking the directory */
    CV_NAME_DIRECTORY = 2,       /* ask the directory service */
    CV_NAME_DOMAIN_CACHE = 3,    /* ask through the domain cache */
};

/* The process-wide resolution mode. */
inline constexpr int CV_NAME_RESOLUTION_MODE = CV_NAME_DOMAIN_CACHE;

/* Rewrites `name` in place as DOMAIN\user (user in lower case, domain in
 * upper case; the domain dropped when it is this computer or ".").  user@dom,
 * dom\user and dom/user are understood.  0, or a bounded copy's status. */
cv_status cv_user_name_normalize(char *name, std::size_t size, int mode);

/* The flat name of `domain`, through a 20-entry cache.  0; 2 when the domain
 * cannot be found; 8 out of memory. */
cv_status cv_domain_cache_lookup(const char *domain, char *flat_name, std::size_t size);
