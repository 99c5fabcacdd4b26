// The group providers that come with the framework: the system provider,
// which asks the account database (through the platform) which groups a
// user belongs to, and the group plug-ins, shared objects named "*.cveu" in
// the program's folder that export get_external_group_objects.
//
// Plug-ins are asked before the system provider; the first provider that
// answers ends the questioning.
#pragma once

#include <cstddef>

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
 * running program's folder, then the system provider. */
void cv_uac_register_group_providers(cv_uac_group_provider ***tail_holder);

/* The same, with the plug-ins of `folder` (null: none). */
void cv_uac_register_group_providers_from(const char *folder,
                                          cv_uac_group_provider ***tail_holder);
