// Helpers shared by the path module and the file layers beside it.
//
// Not part of the public interface: these work on paths that are already in
// canonical form (see cv_path_canonicalize) and exist so that the per-platform
// file layers need no path parsing of their own.
#pragma once

#include <cstddef>
#include <string_view>

/* The offset in the canonical path `path` at which the components that a
 * "create with parents" may create begin: after "C:/", after "/", after the
 * host of "//host/share/...", 0 for a relative path. */
std::size_t cv_path_creatable_start(std::string_view path);
