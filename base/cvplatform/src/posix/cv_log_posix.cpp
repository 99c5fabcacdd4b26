// The POSIX pieces of the log beyond the file layer: writing to standard
// error, keeping errno across a logging call, and the ring lock.
//
// The ring lock is an exclusive flock() on the log directory itself, so that
// no lock file appears beside the log and a process that dies holding it
// releases it with its descriptors.  (On Windows the log's files are open
// without delete sharing, which already keeps another process from deleting
// a file in use; a lock there serves only to make the choice consistent.)
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "../cv_log_internal.h"

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

cv_status cv_log_ring_lock(const char *dir, cv_file_handle *lock) {
    *lock = CV_FILE_INVALID;
    const int fd = ::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return static_cast<cv_status>(errno);
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        const int error = errno;
        ::close(fd);
        return static_cast<cv_status>(error);
    }
    *lock = fd;
    return 0;
}

void cv_log_ring_unlock(cv_file_handle *lock) {
    if (*lock == CV_FILE_INVALID) return;
    ::close(*lock);  // closing the only descriptor releases the lock
    *lock = CV_FILE_INVALID;
}
