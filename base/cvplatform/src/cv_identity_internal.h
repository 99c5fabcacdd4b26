// Inside the platform library: the operating-system calls behind the host
// name and the user identity, implemented once per platform, and the hook
// through which the domain cache reaches the directory service.
#pragma once

#include <cstddef>

#include "cvplatform/cv_error.h"
#include "cvplatform/cv_status.h"

/* The computer's name.  0, or the system's error. */
cv_status cv_native_host_name(char *buf, std::size_t size);

/* The account name of the process owner (the effective user).  0; 2 when the
 * account database has no entry (or an entry without a name); 28677 when it
 * does not fit; a system error. */
cv_status cv_native_process_owner(char *buf, std::size_t size);

/* Asks the directory service for the flat (short) name of `domain`.  0; else
 * the service's error; CV_E_NOT_PRESENT where the platform has no directory
 * service (POSIX: always). */
cv_status cv_native_domain_flat_name(const char *domain, char *flat_name, std::size_t size);

/* The directory look-up used by cv_user_name_normalize and the domain cache:
 * cv_native_domain_flat_name unless replaced.  Tests replace it to exercise
 * the cache; it must not be changed while another thread resolves names. */
using cv_domain_lookup_fn = cv_status (*)(const char *domain, char *flat_name,
                                          std::size_t size);
extern cv_domain_lookup_fn cv_domain_lookup_hook;

/* Whose name is the current user's when the environment names one user and
 * the process owner is another. */
enum class cv_user_name_rule {
    /* Windows: the environment's name (USER, LOGNAME, USERNAME with its
     * domain) is the user; the owner is only checked against it and a
     * mismatch logged.  Without an environment name there is no user. */
    environment_first,
    /* POSIX: the process owner, the account the login was authenticated
     * as, is the user; a differing environment name is logged and ignored.
     * An owner without an account name has no name: the environment never
     * names the user, whatever it claims. */
    owner_first,
};

/* The rule of the platform this library runs on, set by its native layer. */
extern const cv_user_name_rule cv_native_user_name_rule;

/* Where the current user's name is taken from. */
enum class cv_user_name_source { process_owner, environment, none };

/* The source that names the user under `rule`, given which sources have a
 * name to offer. */
constexpr cv_user_name_source cv_user_name_source_for(cv_user_name_rule rule,
                                                      bool owner_has_name,
                                                      bool environment_has_name) {
    if (rule == cv_user_name_rule::owner_first)
        return owner_has_name ? cv_user_name_source::process_owner : cv_user_name_source::none;
    return environment_has_name ? cv_user_name_source::environment : cv_user_name_source::none;
}

/* cv_get_current_user_name under an explicit `rule`; cv_get_current_user_name
 * passes cv_native_user_name_rule. */
cv_status cv_current_user_name_by_rule(cv_user_name_rule rule, char *buf, std::size_t size);

/* An environment value quoted in the mismatch line is cut (with the cut
 * mark) beyond this many bytes of escaped text, terminator included. */
inline constexpr std::size_t CV_MISMATCH_VALUE_LOG_SIZE = 256;
