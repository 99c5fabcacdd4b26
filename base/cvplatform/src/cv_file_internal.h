// Entry operations on an open directory listing, for the directory walk.
//
// Not part of the public interface.  A name read from a directory is one
// component of that directory, never a path: these functions reach the entry
// under the open listing itself, so no separator, backslash or dot in the
// name is read as path syntax, and the entry they reach always lies in the
// listed directory.  Each platform's file layer implements them beside
// cv_dir_open.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cvplatform/cv_file.h"

/* The longest path cv_dir_open lists: the Windows search appends "\*" and
 * allows 8191 characters, and every layer keeps that bound. */
inline constexpr std::size_t CV_DIR_MAX_LISTING_PATH = 8189;
inline constexpr std::size_t CV_DIR_LISTING_SUFFIX = 2;

/* The status of entry `name` of listing `dir`, following a symbolic link
 * unless `flags` holds CV_FILE_STAT_NO_FOLLOW.  0; 22 for a null argument or
 * a name that is not one entry ("", ".", "..", or one holding "/");
 * otherwise the system error. */
cv_status cv_dir_stat_entry(cv_dir *dir, const char *name, cv_file_status *status,
                            std::uint32_t flags);

/* Opens the listing of subdirectory `name` of listing `dir` into `*sub`
 * (null on failure).  A symbolic link is not followed and anything but a
 * directory is refused (the system error, such as ELOOP or ENOTDIR); 22 as
 * for cv_dir_stat_entry. */
cv_status cv_dir_open_entry(cv_dir *dir, const char *name, cv_dir **sub);
