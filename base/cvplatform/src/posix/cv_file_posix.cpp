// The file and directory layer on POSIX.
//
// Thin wrappers over open/read/write/fsync/fstat, stat, link, rename, unlink,
// mkdir and opendir/readdir.  The native form of a path is its canonical form,
// so every path is canonicalised before the call, as the Windows layer does
// when it builds its wide native path; a path that cannot be canonicalised
// gives 22 on both.  Failures are errno values.
//
// Entries of an open listing are reached under the listing's descriptor
// (fstatat, openat), by their name as read: a name is never canonicalised,
// since a backslash or a dot in it is part of the name on POSIX.
#include "cvplatform/cv_file.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <new>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "../cv_file_internal.h"
#include "../cv_path_internal.h"
#include "cvplatform/cv_log.h"
#include "cvplatform/cv_path.h"
#include "cvplatform/cv_str.h"

struct cv_dir {
    DIR *stream;
    bool ended;  // readdir reported the end or an error; later reads give 28678
};

namespace {

// Permission modes used when a caller passes 0 ("no preference").  The umask
// applies as to any other mode.
constexpr mode_t kDefaultFileMode = 0666;
constexpr mode_t kDefaultDirMode = 0777;

// One read or write moves at most this much, as Linux does itself.
constexpr std::size_t kMaxTransfer = 0x7ffff000;

using native_path = std::array<char, CV_PATH_SIZE>;

cv_status last_error() {
    const int e = errno;
    return e != 0 ? static_cast<cv_status>(e) : static_cast<cv_status>(EIO);
}

cv_status to_native(const char *path, native_path &out) {
    if (path == nullptr) return CV_E_INVALID;
    return cv_path_canonicalize(path, out.data(), out.size()) == 0 ? CV_OK : CV_E_INVALID;
}

mode_t mode_or(std::uint32_t mode, mode_t fallback) {
    const mode_t m = static_cast<mode_t>(mode & 07777);
    return m != 0 ? m : fallback;
}

std::uint32_t type_of(mode_t mode) {
    if (S_ISDIR(mode)) return CV_FILE_TYPE_DIRECTORY;
    if (S_ISREG(mode)) return CV_FILE_TYPE_REGULAR;
    if (S_ISCHR(mode)) return CV_FILE_TYPE_CHAR_DEVICE;
    return CV_FILE_TYPE_OTHER;
}

int open_flags(std::uint32_t flags) {
    int access;
    if ((flags & CV_FILE_APPEND) != 0)
        access = O_WRONLY | O_APPEND;
    else if ((flags & (CV_FILE_READ | CV_FILE_WRITE)) == (CV_FILE_READ | CV_FILE_WRITE))
        access = O_RDWR;
    else if ((flags & CV_FILE_READ) != 0)
        access = O_RDONLY;
    else if ((flags & CV_FILE_WRITE) != 0)
        access = O_WRONLY;
    else
        return -1;
    int o = access | O_CLOEXEC | O_NOCTTY;
    if ((flags & CV_FILE_CREATE) != 0) o |= O_CREAT;
    // Write-through: each write reaches the device before it returns.  Unbuffered
    // I/O (O_DIRECT) would impose alignment on every caller, so it is not used;
    // the sharing bits have no POSIX meaning.
    if ((flags & CV_FILE_WRITE_THROUGH) != 0) o |= O_DSYNC;
    return o;
}

// True for a name that is one entry of a directory.
bool is_entry_name(const char *name) {
    const std::string_view n(name);
    return !n.empty() && n != "." && n != ".." && n.find('/') == std::string_view::npos;
}

bool valid(const cv_file_handle *handle) {
    return handle != nullptr && *handle != CV_FILE_INVALID;
}

cv_status make_one_dir(const char *path, mode_t mode) {
    if (::mkdir(path, mode) == 0) return CV_OK;
    const cv_status error = last_error();
    if (error != EEXIST) return error;
    // Someone else may have created it in the meantime: that is success when
    // it is a directory.
    struct stat st {};
    if (::stat(path, &st) != 0) return last_error();
    return S_ISDIR(st.st_mode) ? CV_OK : CV_E_NOT_A_DIRECTORY;
}

}  // namespace

cv_status cv_file_open(const char *path, cv_file_handle *handle, std::uint32_t flags,
                       std::uint32_t mode) {
    if (handle == nullptr) return CV_E_INVALID;
    *handle = CV_FILE_INVALID;
    const int o = open_flags(flags);
    if (o < 0) return CV_E_INVALID;
    native_path native;
    if (const cv_status st = to_native(path, native); st != CV_OK) return st;

    int fd;
    do {
        fd = ::open(native.data(), o, mode_or(mode, kDefaultFileMode));
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return last_error();
    if ((flags & CV_FILE_TRUNCATE) != 0 && ::ftruncate(fd, 0) != 0) {
        const cv_status error = last_error();
        ::close(fd);
        return error;
    }
    *handle = fd;
    return CV_OK;
}

cv_status cv_file_close(cv_file_handle *handle) {
    if (handle == nullptr) return CV_E_INVALID;
    if (*handle == CV_FILE_INVALID) return CV_OK;
    const int fd = *handle;
    *handle = CV_FILE_INVALID;
    // Linux releases the descriptor even when close is interrupted, so an
    // interruption is not a failure and close is never retried.
    if (::close(fd) != 0 && errno != EINTR) return last_error();
    return CV_OK;
}

cv_status cv_file_set_mode(cv_file_handle *handle, std::uint32_t mode) {
    if (!valid(handle)) return CV_E_INVALID;
    if (::fchmod(*handle, static_cast<mode_t>(mode & 07777)) != 0) return last_error();
    return CV_OK;
}

cv_status cv_file_flush(cv_file_handle *handle) {
    if (!valid(handle)) return CV_E_INVALID;
    if (::fsync(*handle) != 0) return last_error();
    return CV_OK;
}

cv_status cv_file_write(cv_file_handle *handle, const void *bytes, std::size_t count,
                        std::size_t *written) {
    if (written != nullptr) *written = 0;
    if (!valid(handle) || (bytes == nullptr && count > 0)) return CV_E_INVALID;
    ssize_t n;
    do {
        n = ::write(*handle, bytes, count < kMaxTransfer ? count : kMaxTransfer);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return last_error();
    if (written != nullptr) *written = static_cast<std::size_t>(n);
    return CV_OK;
}

cv_status cv_file_read(cv_file_handle *handle, void *bytes, std::size_t count,
                       std::size_t *read_count) {
    if (read_count != nullptr) *read_count = 0;
    if (!valid(handle) || (bytes == nullptr && count > 0)) return CV_E_INVALID;
    ssize_t n;
    do {
        n = ::read(*handle, bytes, count < kMaxTransfer ? count : kMaxTransfer);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return last_error();
    if (read_count != nullptr) *read_count = static_cast<std::size_t>(n);
    return CV_OK;
}

cv_status cv_file_stat(cv_file_handle *handle, cv_file_status *status) {
    if (!valid(handle) || status == nullptr) return CV_E_INVALID;
    struct stat st {};
    if (::fstat(*handle, &st) != 0) return last_error();
    return cv_file_setstat(status, &st);
}

cv_status cv_file_setstat(cv_file_status *status, const struct stat *st) {
    if (status == nullptr || st == nullptr) {
        if (cv_log_verbosity >= 2) cv_log_debug("cv_file_setstat called with null pointer.");
        return CV_E_INVALID;
    }
    status->file_id = static_cast<std::uint64_t>(st->st_ino);
    status->size = static_cast<std::uint64_t>(st->st_size);
    status->type = type_of(st->st_mode);
    status->mode = static_cast<std::uint32_t>(st->st_mode);
    status->user_id = static_cast<std::int32_t>(st->st_uid);
    status->group_id = static_cast<std::int32_t>(st->st_gid);
    status->change_time = static_cast<std::int64_t>(st->st_ctime);
    status->modification_time = static_cast<std::int64_t>(st->st_mtime);
    status->access_time = static_cast<std::int64_t>(st->st_atime);
    status->link_count = static_cast<std::uint32_t>(st->st_nlink);
    return CV_OK;
}

cv_status cv_file_stat_path(const char *path, cv_file_status *status, std::uint32_t flags) {
    if (status == nullptr) return CV_E_INVALID;
    native_path native;
    if (const cv_status st = to_native(path, native); st != CV_OK) return st;
    struct stat st {};
    const int rc = (flags & CV_FILE_STAT_NO_FOLLOW) != 0 ? ::lstat(native.data(), &st)
                                                        : ::stat(native.data(), &st);
    if (rc != 0) return last_error();
    return cv_file_setstat(status, &st);
}

int cv_file_exists(const char *path) {
    native_path native;
    if (to_native(path, native) != CV_OK) return 0;
    struct stat st {};
    return ::stat(native.data(), &st) == 0 ? 1 : 0;
}

cv_status cv_file_delete(const char *path) {
    native_path native;
    if (const cv_status st = to_native(path, native); st != CV_OK) return st;
    return ::unlink(native.data()) == 0 ? CV_OK : last_error();
}

cv_status cv_file_link(const char *existing, const char *new_path) {
    native_path from;
    native_path to;
    if (const cv_status st = to_native(existing, from); st != CV_OK) return st;
    if (const cv_status st = to_native(new_path, to); st != CV_OK) return st;
    return ::link(from.data(), to.data()) == 0 ? CV_OK : last_error();
}

cv_status cv_file_rename(const char *from, const char *to) {
    native_path old_path;
    native_path new_path;
    if (const cv_status st = to_native(from, old_path); st != CV_OK) return st;
    if (const cv_status st = to_native(to, new_path); st != CV_OK) return st;
    return ::rename(old_path.data(), new_path.data()) == 0 ? CV_OK : last_error();
}

cv_status cv_dir_flush(const char *path) {
    native_path native;
    if (const cv_status st = to_native(path, native); st != CV_OK) return st;
    int fd;
    do {
        fd = ::open(native.data(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return last_error();
    const cv_status status = ::fsync(fd) == 0 ? CV_OK : last_error();
    ::close(fd);
    return status;
}

cv_status cv_dir_create(const char *path, std::uint32_t mode, int parents) {
    native_path native;
    if (const cv_status st = to_native(path, native); st != CV_OK) return st;
    const mode_t dir_mode = mode_or(mode, kDefaultDirMode);

    struct stat st {};
    if (::stat(native.data(), &st) == 0)
        return S_ISDIR(st.st_mode) ? CV_OK : CV_E_NOT_A_DIRECTORY;
    if (errno != ENOENT) return last_error();

    if (parents != 0) {
        // Each prefix ending before a separator, after the root (and the host
        // of a share), is created in turn.  A prefix is shorter than the
        // canonical path, so it always fits the path buffer.
        const std::string_view p(native.data());
        native_path prefix;
        for (std::size_t i = cv_path_creatable_start(p); i < p.size(); ++i) {
            if (p[i] != '/' || i == 0) continue;
            std::memcpy(prefix.data(), p.data(), i);
            prefix[i] = '\0';
            struct stat pst {};
            if (::stat(prefix.data(), &pst) == 0) {
                if (!S_ISDIR(pst.st_mode)) return CV_E_NOT_A_DIRECTORY;
                continue;
            }
            if (errno != ENOENT) return last_error();
            if (const cv_status made = make_one_dir(prefix.data(), dir_mode); made != CV_OK)
                return made;
        }
    }
    return make_one_dir(native.data(), dir_mode);
}

cv_status cv_dir_open(const char *path, cv_dir **dir) {
    if (dir == nullptr) return CV_E_INVALID;
    *dir = nullptr;
    native_path native;
    if (const cv_status st = to_native(path, native); st != CV_OK) return st;
    if (std::strlen(native.data()) + CV_DIR_LISTING_SUFFIX > CV_DIR_MAX_LISTING_PATH)
        return CV_E_BUFFER_TOO_SMALL;

    DIR *stream = ::opendir(native.data());
    if (stream == nullptr) return last_error();
    cv_dir *d = new (std::nothrow) cv_dir{stream, false};
    if (d == nullptr) {
        ::closedir(stream);
        return CV_E_NO_MEMORY;
    }
    *dir = d;
    return CV_OK;
}

cv_status cv_dir_read(cv_dir *dir, char *name, std::size_t size) {
    if (dir == nullptr || name == nullptr || size == 0) return CV_E_INVALID;
    name[0] = '\0';
    if (dir->ended) return CV_E_END_REACHED;
    errno = 0;
    const dirent *entry = ::readdir(dir->stream);
    if (entry == nullptr) {
        // A read error ends the listing too: it is reported once, and the
        // caller's loop then sees the end as after the last entry.
        dir->ended = true;
        return errno != 0 ? static_cast<cv_status>(errno) : CV_E_END_REACHED;
    }
    if (const cv_status st = cv_str_copy(name, entry->d_name, size); st != CV_OK) {
        name[0] = '\0';
        return st;
    }
    return CV_OK;
}

cv_status cv_dir_stat_entry(cv_dir *dir, const char *name, cv_file_status *status,
                            std::uint32_t flags) {
    if (dir == nullptr || name == nullptr || status == nullptr || !is_entry_name(name))
        return CV_E_INVALID;
    struct stat st {};
    const int at_flags = (flags & CV_FILE_STAT_NO_FOLLOW) != 0 ? AT_SYMLINK_NOFOLLOW : 0;
    if (::fstatat(::dirfd(dir->stream), name, &st, at_flags) != 0) return last_error();
    return cv_file_setstat(status, &st);
}

cv_status cv_dir_open_entry(cv_dir *dir, const char *name, cv_dir **sub) {
    if (sub == nullptr) return CV_E_INVALID;
    *sub = nullptr;
    if (dir == nullptr || name == nullptr || !is_entry_name(name)) return CV_E_INVALID;
    int fd;
    do {
        fd = ::openat(::dirfd(dir->stream), name,
                      O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return last_error();
    DIR *stream = ::fdopendir(fd);
    if (stream == nullptr) {
        const cv_status error = last_error();
        ::close(fd);
        return error;
    }
    cv_dir *d = new (std::nothrow) cv_dir{stream, false};
    if (d == nullptr) {
        ::closedir(stream);
        return CV_E_NO_MEMORY;
    }
    *sub = d;
    return CV_OK;
}

cv_status cv_dir_close(cv_dir **dir) {
    if (dir == nullptr) return CV_E_INVALID;
    if (*dir == nullptr) return CV_OK;
    cv_dir *d = *dir;
    *dir = nullptr;
    const int rc = ::closedir(d->stream);
    const cv_status error = rc != 0 ? last_error() : CV_OK;
    delete d;
    return error;
}
