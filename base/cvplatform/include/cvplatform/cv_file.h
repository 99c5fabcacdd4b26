// The file and directory layer.
//
// Every file access of the system passes through these functions.  They take
// canonical UTF-8 paths and return a status: 0, or the system's error code
// (errno on POSIX).  Null arguments give 22, and so does a path that cannot be
// brought into canonical form (a line feed, a share without its name, 8192
// bytes or more): each path is canonicalised right before the system call.
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
enum : std::uint32_t {
    CV_FILE_STAT_IDENTITY = 2,   /* also read file id and link count */
    CV_FILE_STAT_NO_FOLLOW = 4,  /* describe a symbolic link itself (type "other") */
};

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

/* Opens `path` by the flag table into `*handle` (set to CV_FILE_INVALID
 * first, and left so on failure).  APPEND opens for appending writes only;
 * without CREATE the file must exist; TRUNCATE empties it after opening;
 * WRITE_THROUGH makes each write reach the device before it returns; the
 * sharing bits and UNBUFFERED have no effect on POSIX.  The descriptor is not
 * inherited by child processes.  `mode` is the permission mode of a created
 * file, subject to the umask; 0 means 0666.  No access bit gives 22; with
 * TRUNCATE a failure to truncate closes the file and is returned. */
cv_status cv_file_open(const char *path, cv_file_handle *handle, std::uint32_t flags,
                       std::uint32_t mode);

/* Closes and sets the variable to CV_FILE_INVALID (also when closing fails);
 * an invalid handle gives 0, a null variable 22. */
cv_status cv_file_close(cv_file_handle *handle);

/* Flushes the file to disk; a null or invalid handle gives 22. */
cv_status cv_file_flush(cv_file_handle *handle);

/* One write call of up to `count` bytes; `*written` (may be null) gets the
 * count written, 0 on failure.  A null or invalid handle gives 22. */
cv_status cv_file_write(cv_file_handle *handle, const void *bytes, std::size_t count,
                        std::size_t *written);

/* One read of up to `count` bytes; `*read_count` (may be null) gets the
 * count read, 0 at the end of the file and on failure.  A null or invalid
 * handle gives 22. */
cv_status cv_file_read(cv_file_handle *handle, void *bytes, std::size_t count,
                       std::size_t *read_count);

/* Fills `status` from the open file, file id (inode) and link count
 * included.  A null or invalid handle gives 22. */
cv_status cv_file_stat(cv_file_handle *handle, cv_file_status *status);

/* Sets the permission mode of the open file to exactly `mode` (the process's
 * file-creation mask does not apply).  0, or the system error (e.g. when
 * the caller does not own the file); 22 for a null or invalid handle. */
cv_status cv_file_set_mode(cv_file_handle *handle, std::uint32_t mode);

/* Copies a runtime stat record into `status`: the type from the mode's
 * file-type bits, the mode with them, the three times in seconds.  A null
 * argument gives 22 (logged at DBG when cv_log_verbosity is 2 or more). */
cv_status cv_file_setstat(cv_file_status *status, const struct stat *st);

/* The status of a path, following symbolic links unless
 * CV_FILE_STAT_NO_FOLLOW is given.  File id and link count are always filled
 * on POSIX, where they come with the status; CV_FILE_STAT_IDENTITY asks for
 * them where they cost an extra open. */
cv_status cv_file_stat_path(const char *path, cv_file_status *status, std::uint32_t flags);

/* 1 when `path` exists (a link is followed), else 0; also 0 for a null path
 * or one that cannot be canonicalised. */
int cv_file_exists(const char *path);

/* Deletes a file (not a directory). */
cv_status cv_file_delete(const char *path);
/* Creates `new_path` as a hard link to `existing`; an existing `new_path` is
 * a failure. */
cv_status cv_file_link(const char *existing, const char *new_path);
/* Renames `from` to `to`, replacing an existing target. */
cv_status cv_file_rename(const char *from, const char *to);

/* Creates directory `path` with permission `mode` (subject to the umask; 0
 * means 0777), and with `parents` its missing parents (same mode), each in
 * turn after the root.  0 also when it exists as a directory, or another
 * process creates it at the same time; 267 when it, or a parent, exists as
 * something else; otherwise the first failure. */
cv_status cv_dir_create(const char *path, std::uint32_t mode, int parents);

/* Flushes directory `path` to disk, so that files created, renamed or
 * deleted in it survive a crash.  0 or the system error. */
cv_status cv_dir_flush(const char *path);

/* One-level directory listing. */
struct cv_dir;

/* Opens the listing of `path` into `*dir` (null on failure).  122 for a path
 * of more than 8187 bytes, so that the native search pattern fits. */
cv_status cv_dir_open(const char *path, cv_dir **dir);

/* The next entry name, in no particular order, "." and ".." included; 28678
 * (CV_E_END_REACHED) after the last.  A read error is returned once and the
 * listing then reads as ended.  28677 (name emptied) for a name that does not
 * fit; the listing goes on with the next entry. */
cv_status cv_dir_read(cv_dir *dir, char *name, std::size_t size);

/* Closes the listing and nulls the variable; a null listing gives 0. */
cv_status cv_dir_close(cv_dir **dir);

/* Types reported by cv_dir_walk_next. */
enum : std::uint32_t {
    CV_WALK_FILE = 1,
    CV_WALK_DIRECTORY = 2,  /* its entries come next */
    CV_WALK_UP = 3,         /* name "..": a directory's entries are done */
    CV_WALK_OTHER = 6,
};

/* Recursive, depth-first walk of a directory (or one regular file). */
struct cv_dir_walk;

/* Starts a walk of `path` into `*walk` (null on failure, with everything
 * freed).  A regular file is a walk of that one file; a directory starts with
 * its listing; anything else gives 267. */
cv_status cv_dir_walk_open(cv_dir_walk **walk, const char *path);

/* The next entry: its full path (the listing's path, "/", the name) in
 * `name` and its type: CV_WALK_FILE, CV_WALK_OTHER, or CV_WALK_DIRECTORY,
 * whose entries follow at once.  When a directory's entries are done, ".."
 * with CV_WALK_UP; after the walked directory's own "..", 28678.  "." and
 * ".." entries are skipped.  Each name read from a directory is one entry of
 * it, whatever it holds (a backslash is a character of the name, not a
 * separator): it is joined to the listing's path as it is, and examined and
 * entered under the open listing, so every path reported lies under the
 * walked directory and the walk ends.  A link to a file counts as the file; a
 * link to a directory is CV_WALK_OTHER and is not entered.  A directory that cannot be
 * listed gives its open failure (its path in `name`) and the walk goes on
 * with the next entry; 28677 when a path does not fit (the entry is skipped).
 * A one-file walk yields the path with CV_WALK_FILE, then 28678. */
cv_status cv_dir_walk_next(cv_dir_walk *walk, char *name, std::size_t size, std::uint32_t *type);

/* Closes every open listing, frees the walk and nulls the variable. */
cv_status cv_dir_walk_close(cv_dir_walk **walk);
