// The process environment as bytes.
//
// cv_getenv and cv_setenv (cv_str.h) read and write values as the UTF-16
// environment of Windows holds them: bounded, strict UTF-8 only.  Some values
// must pass through the shell exactly as they came, whatever their length or
// bytes (the search path a child inherits is one); these operations read and
// write such values unchanged.  An environment block handed to a program may
// also hold one name more than once, or entries that name no variable at all;
// a reader takes the first entry of a name, while a child may take another,
// so cv_environment_make_unique leaves exactly the entries that readers see.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "cvplatform/cv_status.h"

/* Reads variable `name` into `*value` exactly as the environment holds it
 * (any length, any bytes; the first entry when the name occurs twice).
 * 0 when the variable is set, also to the empty text; 2 when it is not set;
 * 22 for a null argument, an empty name or one holding "="; 8 out of memory.
 * `*value` is left unchanged on failure. */
[[nodiscard]] cv_status cv_getenv_bytes(const char *name, std::string *value);

/* Sets variable `name` to exactly `value`, replacing an old value.  0; 22
 * for a null or empty name, one holding "=", or a value holding a NUL byte;
 * 8 out of memory; otherwise the system error. */
[[nodiscard]] cv_status cv_setenv_bytes(const char *name, std::string_view value);

/* Leaves one entry per variable name in the process environment, the first
 * (the one every read returns), and removes entries that name no variable
 * (no "=", or nothing before it).  The order of the entries kept does not
 * change.  `*removed`, when given, gets the number of entries removed.
 * 0; 8 out of memory, with nothing removed.  Takes time proportional to
 * n log n for n entries. */
[[nodiscard]] cv_status cv_environment_make_unique(std::size_t *removed);
