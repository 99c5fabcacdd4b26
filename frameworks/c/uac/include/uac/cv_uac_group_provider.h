// The group providers that come with the framework: the system provider,
// which asks the account database (through the platform) which groups a
// user belongs to, and the group plug-ins, shared objects named "*.cveu" in
// the program's folder that export get_external_group_objects.
//
// Plug-ins are asked before the system provider; the first provider that
// answers ends the questioning.
#pragma once

#include <cstddef>
#include <cstdint>

#include "uac/cv_uac.h"

/* Most plug-in libraries kept loaded. */
inline constexpr std::size_t CV_UAC_MAX_GROUP_PLUGINS = 16;

/* File name pattern and entry point of a group plug-in. */
inline constexpr const char *CV_UAC_GROUP_PLUGIN_PATTERN = "*.cveu";
inline constexpr const char *CV_UAC_GROUP_PLUGIN_ENTRY = "get_external_group_objects";

/* The entry point a plug-in exports: stores its providers at the link the
 * holder points at and leaves the holder at the `next` of its last one. */
using cv_uac_group_plugin_entry = void (*)(cv_uac_group_provider ***tail_holder);

/* The registration the shell hands to cv_uac_init: the plug-ins of the
 * running program's folder, trusted when they belong to root or to the
 * owner of the program's file, then the system provider. */
void cv_uac_register_group_providers(cv_uac_group_provider ***tail_holder);

/* The same, with the plug-ins of `folder` (null: none). */
void cv_uac_register_group_providers_from(const char *folder,
                                          cv_uac_group_provider ***tail_holder);

/* The registration itself, trusting plug-ins that belong to root or to
 * `allowed_uid`.  In order:
 *  - the system provider is allocated; when it cannot be, that is logged
 *    ("Group enumerator allocation.  Users will not be associated with
 *    their windows groups.") and nothing is appended;
 *  - the files of `folder` whose names match CV_UAC_GROUP_PLUGIN_PATTERN
 *    are taken in the byte order (strcmp) of their names: each is loaded
 *    with cv_lib_load_trusted, and when it exports
 *    CV_UAC_GROUP_PLUGIN_ENTRY, that is called with `tail_holder` and the
 *    library is kept (loaded until the system provider is released);
 *    otherwise it is unloaded.  Each kept one is logged at level LOG
 *    ("Group plug-in PATH loaded"), each refused one at level ERR with the
 *    reason ("Group plug-in PATH refused: REASON").  After
 *    CV_UAC_MAX_GROUP_PLUGINS kept libraries the rest are not loaded
 *    (logged once);
 *  - the system provider is stored at the link `*tail_holder` points at,
 *    and the holder moved to its `next` (null).
 * A null holder, or one that points at no link, does nothing.
 *
 * The system provider's find-user-groups asks the account database for
 * the user's groups (for "DOMAIN\user", "user@domain" or "DOMAIN/user" as
 * written, then as the bare user when no account has the name as written)
 * and sets the bit of every configured group of the same name, ignoring
 * ASCII case; for a user with a domain, a group name without one also
 * matches configured names of the form "DOMAIN\group".  It answers 1 when
 * it set a bit.  A user is asked of the database once until the framework's
 * last end: later questions are answered from what was found then. */
void cv_uac_register_group_providers_trusting(const char *folder, std::uint32_t allowed_uid,
                                              cv_uac_group_provider ***tail_holder);
