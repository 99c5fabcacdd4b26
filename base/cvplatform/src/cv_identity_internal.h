// Inside the platform library: the operating-system calls behind the host
// name and the user identity, implemented once per platform, and the hook
// through which the domain cache reaches the directory service.
#pragma once

#include <cstddef>

#include "cvplatform/cv_status.h"

/* Domain and user parts of an account name hold at most this many bytes,
 * terminator included. */
inline constexpr std::size_t CV_NAME_PART_SIZE = 512;

/* The computer's name.  0, or the system's error. */
cv_status cv_native_host_name(char *buf, std::size_t size);

/* The account name of the process owner (the effective user).  0; 2 when the
 * account database has no entry; 28677 when it does not fit; a system error. */
cv_status cv_native_process_owner(char *buf, std::size_t size);

/* Asks the directory service for the flat (short) name of `domain`.  0; else
 * the service's error.  There is no directory service on POSIX: always 2. */
cv_status cv_native_domain_flat_name(const char *domain, char *flat_name, std::size_t size);

/* The directory look-up used by cv_user_name_normalize and the domain cache:
 * cv_native_domain_flat_name unless replaced.  Tests replace it to exercise
 * the cache; it must not be changed while another thread resolves names. */
using cv_domain_lookup_fn = cv_status (*)(const char *domain, char *flat_name,
                                          std::size_t size);
extern cv_domain_lookup_fn cv_domain_lookup_hook;
