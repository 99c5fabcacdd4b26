// The POSIX pieces of the log beyond the file layer: writing to standard
// error, keeping errno across a logging call, the ring lock, and the ring's
// file operations under a descriptor of the log folder.
//
// Every transfer account appends to the same log folder as itself, so any
// entry in it may have been planted by another account: a link to a private
// file, a FIFO that never opens, a file of someone else.  The ring is
// therefore reached only by bare names under a descriptor of the folder
// (openat, unlinkat, linkat), never through a path that a link could lead
// elsewhere; a ring file is opened with O_NOFOLLOW and O_NONBLOCK and used
// only when fstat finds a regular file with no name outside the ring (a hard
// link to a file elsewhere has one); and a mode is set only on a file this
// process has just created exclusively.
//
// The ring lock is an exclusive flock() on the log folder itself, so that no
// lock file appears beside the log and a process that dies holding it
// releases it with its descriptors.  Since any account that can read the
// folder can take that lock and keep it, it is waited for a bounded time
// only.  (On Windows the log's files are open without delete sharing, which
// already keeps another process from deleting a file in use; a lock there
// serves only to make the choice consistent.)
#include <algorithm>
#include <cerrno>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../cv_log_internal.h"

namespace {

// An exclusive create that finds the name taken, followed by an open that
// finds it gone again, means another login created or removed it in between
// (possible only while the ring lock is not held).  A few rounds settle it.
constexpr int RING_OPEN_ROUNDS = 4;

// The pause between two tries of the ring lock starts short, so that a
// rotation of another login (a few milliseconds) costs little, and grows to
// this bound.
constexpr long LOCK_FIRST_PAUSE_NS = 1000000L;  // 1 ms
constexpr long LOCK_LONGEST_PAUSE_NS = 20000000L;  // 20 ms
constexpr long NS_PER_MS = 1000000L;
constexpr long NS_PER_S = 1000000000L;

cv_status last_error() {
    const int e = errno;
    return e != 0 ? static_cast<cv_status>(e) : static_cast<cv_status>(EIO);
}

int open_at(int dir, const char *name, int flags, mode_t mode) {
    int fd;
    do {
        fd = ::openat(dir, name, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// A second descriptor of folder `dir` with an open file description of its
// own: a lock or a listing on it is independent of any other.
int reopen_dir(int dir) { return open_at(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0); }

// True when the open ring file `st` has no name outside the ring: besides
// its numbered name, at most the plain name `plain` of folder `dir`.  A
// second name elsewhere is a hard link planted to some other file.
bool only_ring_names(int dir, const char *plain, const struct stat &st) {
    if (st.st_nlink <= 1) return true;
    if (st.st_nlink > 2) return false;
    struct stat other {};
    return ::fstatat(dir, plain, &other, AT_SYMLINK_NOFOLLOW) == 0 && other.st_dev == st.st_dev &&
           other.st_ino == st.st_ino;
}

// Checks that `fd` is a regular file of the ring and makes its writes
// blocking again.  Closes it on failure.
cv_status keep_if_ring_file(int dir, const char *plain, int fd) {
    struct stat st {};
    cv_status status = CV_OK;
    if (::fstat(fd, &st) != 0)
        status = last_error();
    else if (!S_ISREG(st.st_mode) || !only_ring_names(dir, plain, st))
        status = CV_E_FILE_NOT_VALID;
    else {
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) status = last_error();
    }
    if (status != CV_OK) ::close(fd);
    return status;
}

std::int64_t monotonic_ns() {
    struct timespec now {};
    (void)::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * NS_PER_S + now.tv_nsec;
}

void pause_ns(long ns) {
    struct timespec pause {ns / NS_PER_S, ns % NS_PER_S};
    while (::nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

}  // namespace

cv_status cv_log_stderr_write(const void *bytes, std::size_t count) {
    const char *next = static_cast<const char *>(bytes);
    while (count > 0) {
        const ssize_t written = ::write(STDERR_FILENO, next, count);
        if (written < 0) {
            if (errno == EINTR) continue;
            return static_cast<cv_status>(errno);
        }
        if (written == 0) return static_cast<cv_status>(EIO);
        next += written;
        count -= static_cast<std::size_t>(written);
    }
    return 0;
}

cv_log_saved_error cv_log_error_save() { return cv_log_saved_error{errno}; }

void cv_log_error_restore(cv_log_saved_error saved) { errno = saved.value; }

cv_status cv_log_dir_open(const char *path, cv_file_handle *dir) {
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    *dir = fd;
    return fd < 0 ? last_error() : CV_OK;
}

void cv_log_dir_close(cv_file_handle *dir) {
    if (*dir == CV_FILE_INVALID) return;
    ::close(*dir);
    *dir = CV_FILE_INVALID;
}

cv_status cv_log_dir_list(cv_file_handle dir, cv_log_name_visitor visit, void *context) {
    const int fd = reopen_dir(dir);
    if (fd < 0) return last_error();
    DIR *listing = ::fdopendir(fd);
    if (listing == nullptr) {
        const cv_status error = last_error();
        ::close(fd);
        return error;
    }
    for (;;) {
        errno = 0;
        const struct dirent *entry = ::readdir(listing);
        if (entry == nullptr) break;
        visit(entry->d_name, context);
    }
    const int error = errno;
    ::closedir(listing);
    return static_cast<cv_status>(error);
}

cv_status cv_log_ring_open_file(cv_file_handle dir, const char *name, const char *plain,
                                std::uint32_t mode, cv_file_handle *file) {
    *file = CV_FILE_INVALID;
    const int flags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK;
    const mode_t wanted = static_cast<mode_t>(mode & 07777);
    for (int round = 0; round < RING_OPEN_ROUNDS; ++round) {
        // O_EXCL never follows a link at the name: a planted link is an
        // existing entry.
        int fd = open_at(dir, name, flags | O_CREAT | O_EXCL, wanted);
        if (fd >= 0) {
            // Ours alone, so its mode is ours to set: exactly `mode`, not
            // what the login's file-creation mask left of it.  Should that
            // fail, the file keeps fewer permissions, never more.
            (void)::fchmod(fd, wanted);
        } else {
            if (errno != EEXIST) return last_error();
            fd = open_at(dir, name, flags, 0);
            if (fd < 0) {
                if (errno == ENOENT) continue;  // removed since: create it after all
                return last_error();
            }
        }
        const cv_status kept = keep_if_ring_file(dir, plain, fd);
        if (kept != CV_OK) return kept;
        *file = fd;
        return CV_OK;
    }
    return static_cast<cv_status>(EEXIST);
}

cv_status cv_log_ring_remove(cv_file_handle dir, const char *name) {
    return ::unlinkat(dir, name, 0) == 0 ? CV_OK : last_error();
}

cv_status cv_log_ring_link(cv_file_handle dir, const char *existing, const char *name) {
    // Without AT_SYMLINK_FOLLOW a link at `existing` is linked itself, not
    // the file it names.
    return ::linkat(dir, existing, dir, name, 0) == 0 ? CV_OK : last_error();
}

cv_status cv_log_ring_lock(cv_file_handle dir, int wait_ms, cv_file_handle *lock) {
    *lock = CV_FILE_INVALID;
    const int fd = reopen_dir(dir);
    if (fd < 0) return last_error();
    const std::int64_t deadline = monotonic_ns() + static_cast<std::int64_t>(wait_ms) * NS_PER_MS;
    long pause = LOCK_FIRST_PAUSE_NS;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            *lock = fd;
            return CV_OK;
        }
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) {
            const cv_status error = last_error();
            ::close(fd);
            return error;
        }
        const std::int64_t left = deadline - monotonic_ns();
        if (left <= 0) {
            ::close(fd);
            return CV_E_ALREADY_LOCKED;
        }
        pause_ns(static_cast<long>(std::min<std::int64_t>(pause, left)));
        pause = std::min(pause * 2, LOCK_LONGEST_PAUSE_NS);
    }
}

void cv_log_ring_unlock(cv_file_handle *lock) {
    if (*lock == CV_FILE_INVALID) return;
    ::close(*lock);  // closing the only descriptor releases the lock
    *lock = CV_FILE_INVALID;
}
