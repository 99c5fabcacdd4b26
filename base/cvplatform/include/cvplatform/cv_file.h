// The file and directory layer.
//
// Every file access of the system passes through these functions.  They take
// canonical UTF-8 paths and return a status: 0, or the system's error code
// (errno on POSIX).  Null arguments give 22.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cvplatform/cv_native.h"
#include "cvplatform/cv_status.h"

struct stat;

/* Open flags of cv_file_open. */
enum : std::uint32_t {
    CV_FILE_READ = 0x001,
    CV_FILE_WRITE = 0x002,
    CV_FILE_APPEND = 0x004,       /* append-data only; overrides READ/WRITE */
    CV_FILE_SHARE_READ = 0x010,
    CV_FILE_SHARE_WRITE = 0x020,
    CV_FILE_SHARE_DELETE = 0x040,
    CV_FILE_CREATE = 0x100,       /* create when absent, else it must exist */
    CV_FILE_TRUNCATE = 0x200,     /* truncate after opening */
    CV_FILE_UNBUFFERED = 0x400,
    CV_FILE_WRITE_THROUGH = 0x800,
};

/* The flags the log opens its files with, and those of the create-and-
 * truncate opener. */
inline constexpr std::uint32_t CV_FILE_FLAGS_LOG = 0x136;
inline constexpr std::uint32_t CV_FILE_FLAGS_REPLACE = 0x332;

/* Values of cv_file_status::type. */
enum : std::uint32_t {
    CV_FILE_TYPE_DIRECTORY = 1,
    CV_FILE_TYPE_REGULAR = 2,
    CV_FILE_TYPE_CHAR_DEVICE = 3,
    CV_FILE_TYPE_OTHER = 65535,
};

/* Flags of cv_file_stat_path. */
enum : std::uint32_t { CV_FILE_STAT_IDENTITY = 2 /* also read file id and link count */ };

struct cv_file_status {
    std::uint64_t file_id;  /* inode on POSIX */
    std::uint64_t size;     /* bytes */
    std::uint32_t type;     /* CV_FILE_TYPE_* */
    std::uint32_t mode;     /* POSIX-style mode bits */
    std::int32_t user_id;
    std::int32_t group_id;
    std::int64_t change_time;        /* seconds since 1970 */
    std::int64_t modification_time;  /* seconds since 1970 */
    std::int64_t access_time;        /* seconds since 1970 */
    std::uint32_t link_count;
};

/* Opens `path` by the flag table; `mode` is the permission mode applied to a
 * created file.  No access bit gives 22; with CV_FILE_TRUNCATE a failure to
 * truncate closes the file and is returned. */
cv_status cv_file_open(const char *path, cv_file_handle *handle, std::uint32_t flags,
                       std::uint32_t mode);

/* Closes and sets the variable to CV_FILE_INVALID; an invalid handle gives 0. */
cv_status cv_file_close(cv_file_handle *handle);

/* Flushes the file to disk; a null or invalid handle gives 22. */
cv_status cv_file_flush(cv_file_handle *handle);

/* One write call; `*written` gets the count written. */
cv_status cv_file_write(cv_file_handle *handle, const void *bytes, std::size_t count,
                        std::size_t *written);

/* Reads up to `count` bytes; `*read_count` gets the count read (0 at end). */
cv_status cv_file_read(cv_file_handle *handle, void *bytes, std::size_t count,
                       std::size_t *read_count);

/* Fills `status` from the open file, file id and link count included. */
cv_status cv_file_stat(cv_file_handle *handle, cv_file_status *status);

/* Copies a runtime stat record into `status`. */
cv_status cv_file_setstat(cv_file_status *status, const struct stat *st);

/* The status of a path; CV_FILE_STAT_IDENTITY also reads file id and link
 * count. */
cv_status cv_file_stat_path(const char *path, cv_file_status *status, std::uint32_t flags);

/* 1 when `path` exists, else 0. */
int cv_file_exists(const char *path);

cv_status cv_file_delete(const char *path);
/* Creates `new_path` as a hard link to `existing`. */
cv_status cv_file_link(const char *existing, const char *new_path);
/* Renames `from` to `to`, replacing an existing target. */
cv_status cv_file_rename(const char *from, const char *to);

/* Creates directory `path` with permission `mode`, and with `parents` its
 * missing parents.  0 also when it exists as a directory; 267 when it exists
 * as something else. */
cv_status cv_dir_create(const char *path, std::uint32_t mode, int parents);

/* One-level directory listing.  cv_dir_read yields entry names, "." and ".."
 * included, then 28678 (CV_E_END_REACHED). */
struct cv_dir;
cv_status cv_dir_open(const char *path, cv_dir **dir);
cv_status cv_dir_read(cv_dir *dir, char *name, std::size_t size);
cv_status cv_dir_close(cv_dir **dir);

/* Types reported by cv_dir_walk_next. */
enum : std::uint32_t {
    CV_WALK_FILE = 1,
    CV_WALK_DIRECTORY = 2,  /* its entries come next */
    CV_WALK_UP = 3,         /* name "..": a directory's entries are done */
    CV_WALK_OTHER = 6,
};

/* Recursive, depth-first walk of a directory (or one regular file).
 * cv_dir_walk_next yields full paths and their types, then 28678. */
struct cv_dir_walk;
cv_status cv_dir_walk_open(cv_dir_walk **walk, const char *path);
cv_status cv_dir_walk_next(cv_dir_walk *walk, char *name, std::size_t size, std::uint32_t *type);
cv_status cv_dir_walk_close(cv_dir_walk **walk);
