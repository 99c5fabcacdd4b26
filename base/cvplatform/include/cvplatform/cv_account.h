// Accounts of the account database: the groups an account belongs to.
//
// The look-up goes through the system's name service (NSS on POSIX), so
// accounts and groups of a directory (LDAP, SSSD, winbind) count like local
// ones, and group names keep the form the directory gives them, such as
// "DOMAIN\group".  Names are never cut: a list is either whole or not given.
#pragma once

#include <cstddef>

#include "cvplatform/cv_status.h"

/* The groups of one account: `count` names, each terminated, one after the
 * other in one block that the last empty name ends ("a\0b\0\0").  Release
 * with cv_account_groups_free. */
struct cv_account_groups {
    char *names;
    std::size_t count;
};

/* Lists in `*groups` the names of the groups account `user` belongs to: its
 * primary group and every supplementary group, each once, in the order the
 * database gives them.  A group id that has no name in the database is left
 * out (no configured group can be named by it).  `user` is looked up as it
 * is written.  0; 22 for a null argument or an empty name; 2 when the
 * database knows no account `user`; 8 out of memory; 122 when a record is
 * too large to read whole; otherwise the database's error.  `*groups` is
 * empty ({null, 0}) on failure. */
[[nodiscard]] cv_status cv_account_get_groups(const char *user, cv_account_groups *groups);

/* Releases the names of `groups` and empties it; null or empty is fine. */
void cv_account_groups_free(cv_account_groups *groups);
