// Canonical paths and the install locations derived from the executable.
//
// Inside the system every path is UTF-8 with "/" as the only separator and is
// brought into one canonical form before use.  Path operations return a
// length or 0 on success and a negative value on failure, unless noted.
// Fixed path buffers hold CV_PATH_SIZE bytes, terminator included.
#pragma once

#include <cstddef>

#include "cvplatform/cv_status.h"

inline constexpr std::size_t CV_PATH_SIZE = 8192;

/* Brings `src` into canonical form in `dst`: backslashes become "/", "." and
 * ".." components are resolved against the root (drive "C:/", "/", or
 * "//host/share/"), runs of "/" collapse, no trailing "/" except on a bare
 * root, an empty result is ".".  A ".." above the root is dropped; in a
 * relative path it is kept ("../../x").  URLs and "cvtp://" paths are copied
 * unchanged.  `dst` may be `src`.  A null or empty source gives "" and 0.
 * -1 (`dst` emptied) for a null `dst` or zero size, a line feed in the
 * source, a share path without its share, a source of `size` bytes or more,
 * or a result that does not fit. */
int cv_path_canonicalize(const char *src, char *dst, std::size_t size);

/* Formats a path and canonicalises it into `dst`.  Returns `dst` with status
 * 0, or null with status 22 (null buffer, logged; or not canonical) or 122
 * (text of 8192 bytes or more).  `status` may be null. */
char *cv_path_build_canonical_path(char *dst, std::size_t size, cv_status *status,
                                   const char *fmt, ...) __attribute__((format(printf, 4, 5)));

/* Joins `dir` and `name` (the name's leading slashes dropped) and
 * canonicalises the result.  An empty `dir`, a `dir` of "." with a relative
 * name, or of "/" with an absolute name, gives the name alone.  `dst` may be
 * the same buffer as `name`.  0; -1 for a null argument, zero size, or a
 * result that does not fit. */
int cv_path_join(const char *dir, const char *name, char *dst, std::size_t size);

/* Joins two strings with one "/" (none after an empty first string or one
 * ending in "/") without canonicalising.  0; 22 for a null string; 28677
 * (`dst` emptied) when it does not fit; a size of 0 writes nothing and gives
 * 0. */
cv_status cv_path_combine(const char *first, const char *second, char *dst, std::size_t size);

/* The canonical parent of `path` ("." for a bare name, "/" for "/").
 * The length, or -1 for a null or empty path or a result that does not fit. */
int cv_path_get_parent(const char *path, char *dst, std::size_t size);

/* The canonical path of the running executable (read once, then kept for
 * the process's life).  The length; -1 on failure, also for a null
 * destination (a positive code would read as a length). */
int cv_path_get_exe_path(char *dst, std::size_t size);

/* The directory of the running executable.  The length, or negative. */
int cv_path_get_exe_dir(char *dst, std::size_t size);

/* The product root of `exe_path`: the first of D, D/.., D/../.. (D the
 * executable's directory) holding "product-info.mf", else D/...
 * Non-negative on success, negative on failure. */
int cv_path_get_product_root(const char *exe_path, char *dst, std::size_t size);

/* The directory holding "corvane.conf" when it is found as
 * cv_path_find_conf_file finds it, else the product root joined with "etc".
 * The length, or negative. */
int cv_path_get_conf_dir(const char *exe_path, char *dst, std::size_t size);

/* Looks for `name` in D, D/etc, D/.., D/../etc, D/../.., D/../../etc (D the
 * executable's directory); the first that exists is written to `dst`.  The
 * length of the found path, or negative. */
int cv_path_find_conf_file(const char *name, const char *exe_path, char *dst, std::size_t size);

/* 1 when `path` is relative, 0 when absolute (URLs are absolute). */
int cv_path_is_relative(const char *path);

/* 1 when `path` starts (after white space) with a drive letter and ":". */
int cv_path_has_drive(const char *path);

/* 1 when `path` is a URL: scheme of two or more characters, "://", more. */
int cv_path_is_url(const char *path);

/* Turns every backslash of `path` into "/", in place. */
void cv_path_normalize_slashes(char *path);

/* Makes `path` start at a root, in place: leading white space dropped,
 * backslashes turned, "/" put in front of a relative path.  0; 22 for a null
 * path, a zero size, a path not terminated within `size`, or a drive letter
 * not followed by "/"; 206 when there is no room for the "/". */
cv_status cv_path_make_rooted(char *path, std::size_t size);

/* The Windows native form of a path, in UTF-16.  The path is canonicalised
 * first (failure gives 22).  Relative paths and paths shorter than 11 bytes
 * are converted as they are.  Other paths get the long-path prefix
 * ("\\\\?\\" + path, or "\\\\?\\UNC\\" + a share path without its two
 * slashes), "\\" separators, and no run of dots at the end of a name.
 * `*size` is the destination's size in bytes; on success it gets the bytes
 * written without the terminator, on 122 the size needed.  22 for a null
 * argument or a text that is not UTF-8.  A pure function: the POSIX layer
 * uses the canonical path itself as native form. */
cv_status cv_path_to_native(const char *path, char16_t *dst, std::size_t *size);

/* The current user's home directory, canonical: HOME, or the account
 * database's entry for the effective user when HOME is unset or empty.  The
 * length, or -1. */
int cv_path_get_home_dir(char *dst, std::size_t size);

/* The home directory of the named user (DOMAIN\user or user), from the
 * account database; on POSIX a DOMAIN\user name is looked up as written.
 * `dst` starts empty.  0; 22 for null arguments, a zero size or a name that
 * is not UTF-8; 122 for a name of 512 UTF-16 units or more; 2 for an unknown
 * user or one without a home directory; 28677 when the directory does not
 * fit; otherwise the account database's status. */
cv_status cv_path_get_user_home_dir(const char *user, char *dst, std::size_t size);
