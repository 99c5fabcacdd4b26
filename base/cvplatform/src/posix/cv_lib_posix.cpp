// Dynamic libraries on POSIX: dlopen, dlsym and dlclose.
//
// The loader reports its failures as text (dlerror), without an error code.
// When a library named by its path fails to load, the file is opened once
// to learn whether it could be read at all (a missing file gives 2, a file
// without read permission 13); otherwise, and for the other calls, the
// platform's own library codes stand in, unless a call left an errno.
//
// A trusted load checks a file through a descriptor and then loads that
// descriptor, as "/proc/self/fd/N": the loader opens the same file again
// through it, so no one can swap the file under its name between the check
// and the load.  The loader also knows a loaded library by the name it was
// opened with, and "/proc/self/fd/N" names a different file each time the
// number is reused; a number whose name a loaded library still bears is
// therefore never used for another file (see loadable_name).
#include "cvplatform/cv_lib.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "cvplatform/cv_error.h"
#include "cvplatform/cv_log.h"
#include "cvplatform/cv_path.h"

namespace {

constexpr std::size_t ERROR_TEXT_SIZE = 1024;

/* The flags of every load: all references resolved at once, symbols kept
 * to the library. */
constexpr int kLoadFlags = RTLD_NOW | RTLD_LOCAL;

/* Bytes of "/proc/self/fd/N". */
constexpr std::size_t kDescriptorPathSize = 32;

/* Most descriptor numbers tried for a name no loaded library bears. */
constexpr int kMaxDescriptorTries = 1024;

/* Write permission for the file's group or for others. */
constexpr mode_t kForeignWrite = S_IWGRP | S_IWOTH;

cv_status error_or(cv_status fallback) {
    return errno != 0 ? static_cast<cv_status>(errno) : fallback;
}

// The canonical form of `path` for dlopen.  Canonical form drops a leading
// "./", but to dlopen a name without a slash means a search of the library
// path, not a file: a path that had a slash keeps one.
bool loader_path(const char *path, char *dst, std::size_t size) {
    constexpr std::string_view HERE = "./";
    if (cv_path_canonicalize(path, dst, size) != 0) return false;
    if (std::strchr(path, '/') == nullptr && std::strchr(path, '\\') == nullptr) return true;
    if (std::strchr(dst, '/') != nullptr) return true;
    const std::size_t length = std::strlen(dst);
    if (length + HERE.size() >= size) return false;
    std::memmove(dst + HERE.size(), dst, length + 1);
    std::memcpy(dst, HERE.data(), HERE.size());
    return true;
}

// Why the library file at `path` could not be loaded, as far as the file
// system can tell.
cv_status load_failure(const char *path) {
    if (std::strchr(path, '/') == nullptr) return CV_E_LIBRARY_OPEN;  // a search by name
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return error_or(CV_E_LIBRARY_OPEN);
    ::close(fd);
    return CV_E_LIBRARY_OPEN;
}

/* Writes the formatted reason, when the caller wants one. */
[[gnu::format(printf, 3, 4)]] void set_reason(char *reason, std::size_t size, const char *format,
                                              ...) {
    if (!reason || size == 0) return;
    va_list args;
    va_start(args, format);
    (void)std::vsnprintf(reason, size, format, args);
    va_end(args);
}

/* Whether an owner and mode pass: owned by root or `allowed_uid`, and not
 * writable by group or others.  `what` is "" for the file, "folder " for
 * the folder. */
cv_status check_owner_and_mode(const struct stat &st, std::uint32_t allowed_uid, const char *what,
                               char *reason, std::size_t size) {
    if (st.st_uid != 0 && st.st_uid != allowed_uid) {
        set_reason(reason, size, "%sowned by uid %u", what, static_cast<unsigned>(st.st_uid));
        return CV_E_FILE_NOT_VALID;
    }
    if ((st.st_mode & kForeignWrite) != 0) {
        set_reason(reason, size, "%swritable by group or others", what);
        return CV_E_FILE_NOT_VALID;
    }
    return CV_OK;
}

cv_status open_failure(int error, char *reason, std::size_t size) {
    if (error == ELOOP) {
        set_reason(reason, size, "a symbolic link");
    } else {
        char text[ERROR_TEXT_SIZE];
        set_reason(reason, size, "cannot be opened: %s",
                   cv_strerror(static_cast<cv_status>(error), text, sizeof text));
    }
    return static_cast<cv_status>(error);
}

/* Opens and checks the folder.  The descriptor, or -1 with the status. */
int open_trusted_folder(const char *folder, std::uint32_t allowed_uid, cv_status *status,
                        char *reason, std::size_t size) {
    char native[CV_PATH_SIZE];
    if (cv_path_canonicalize(folder, native, sizeof native) != 0) {
        *status = CV_E_INVALID;
        return -1;
    }
    const int fd = ::open(native, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        *status = open_failure(errno, reason, size);
        return -1;
    }
    struct stat st {};
    *status = ::fstat(fd, &st) != 0 ? open_failure(errno, reason, size)
                                    : check_owner_and_mode(st, allowed_uid, "folder ", reason, size);
    if (*status != CV_OK) {
        ::close(fd);
        return -1;
    }
    return fd;
}

/* Opens and checks entry `name` of the folder.  The descriptor, or -1. */
int open_trusted_file(int folder_fd, const char *name, std::uint32_t allowed_uid,
                      cv_status *status, char *reason, std::size_t size) {
    int fd;
    do {
        fd = ::openat(folder_fd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        *status = open_failure(errno, reason, size);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        *status = open_failure(errno, reason, size);
    } else if (!S_ISREG(st.st_mode)) {
        set_reason(reason, size, "not a regular file");
        *status = CV_E_FILE_NOT_VALID;
    } else {
        *status = check_owner_and_mode(st, allowed_uid, "", reason, size);
    }
    if (*status != CV_OK) {
        ::close(fd);
        return -1;
    }
    return fd;
}

/* True when a library the loader holds was opened under the name `path`.
 * (A library that is the same file as the descriptor, loaded under another
 * name, does not count: loading the descriptor gives that same file.) */
bool name_in_use(const char *path) {
    void *loaded = ::dlopen(path, kLoadFlags | RTLD_NOLOAD);
    if (!loaded) return false;
    link_map *map = nullptr;
    const bool same_name = ::dlinfo(loaded, RTLD_DI_LINKMAP, &map) == 0 && map &&
                           map->l_name && std::strcmp(map->l_name, path) == 0;
    (void)::dlclose(loaded);
    return same_name;
}

/* Writes into `path` a "/proc/self/fd/N" for the open file `fd` whose name
 * no loaded library bears, moving the file to other numbers when needed;
 * the numbers taken for that are in `spare` (closed by the caller).  False
 * when none is found. */
bool loadable_name(int fd, char (&path)[kDescriptorPathSize], int (&spare)[kMaxDescriptorTries],
                   int *spare_count) {
    int number = fd;
    for (;;) {
        (void)std::snprintf(path, sizeof path, "/proc/self/fd/%d", number);
        if (!name_in_use(path)) return true;
        if (*spare_count == kMaxDescriptorTries) return false;
        // The lowest free number: never one held here, so never one tried.
        number = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        if (number < 0) return false;
        spare[(*spare_count)++] = number;
    }
}

/* Loads the checked file open at `fd`. */
cv_status load_descriptor(int fd, cv_lib_handle *lib, char *reason, std::size_t size) {
    char path[kDescriptorPathSize];
    int spare[kMaxDescriptorTries];
    int spare_count = 0;
    cv_status status = CV_OK;
    if (!loadable_name(fd, path, spare, &spare_count)) {
        set_reason(reason, size, "not a library: no descriptor name free for the loader");
        status = CV_E_LIBRARY_OPEN;
    } else if (void *handle = ::dlopen(path, kLoadFlags); handle != nullptr) {
        *lib = handle;
    } else {
        const char *text = ::dlerror();
        set_reason(reason, size, "not a library: %s", text ? text : "unknown error");
        status = CV_E_LIBRARY_OPEN;
    }
    for (int i = 0; i < spare_count; ++i) ::close(spare[i]);
    return status;
}

}  // namespace

cv_status cv_lib_load_trusted(cv_lib_handle *lib, const char *folder, const char *name,
                              std::uint32_t allowed_uid, char *reason, std::size_t reason_size) {
    if (reason && reason_size > 0) reason[0] = '\0';
    if (!lib) return CV_E_INVALID;
    *lib = nullptr;
    if (!folder || !name) return CV_E_INVALID;
    const std::string_view entry(name);
    if (entry.empty() || entry == "." || entry == ".." || entry.find('/') != entry.npos)
        return CV_E_INVALID;

    cv_status status = CV_OK;
    const int folder_fd = open_trusted_folder(folder, allowed_uid, &status, reason, reason_size);
    if (folder_fd < 0) return status;
    const int fd = open_trusted_file(folder_fd, name, allowed_uid, &status, reason, reason_size);
    ::close(folder_fd);
    if (fd < 0) return status;
    status = load_descriptor(fd, lib, reason, reason_size);
    ::close(fd);
    return status;
}

cv_status cv_lib_load(cv_lib_handle *lib, const char *path) {
    if (lib == nullptr) return CV_E_INVALID;
    *lib = nullptr;
    // An empty name would give the main program's own handle.
    if (path == nullptr || path[0] == '\0') return CV_E_INVALID;
    char native[CV_PATH_SIZE];
    if (!loader_path(path, native, sizeof native)) return CV_E_INVALID;
    void *handle = ::dlopen(native, kLoadFlags);
    if (handle == nullptr) return load_failure(native);
    *lib = handle;
    return CV_OK;
}

cv_status cv_lib_symbol(cv_lib_handle *lib, const char *name, cv_lib_function *function) {
    if (function != nullptr) *function = nullptr;
    if (lib == nullptr || *lib == nullptr || name == nullptr || function == nullptr)
        return CV_E_INVALID;
    (void)::dlerror();  // a symbol may be null: only dlerror tells a failure
    errno = 0;
    void *found = ::dlsym(*lib, name);
    if (::dlerror() != nullptr) {
        const cv_status status = error_or(CV_E_LIBRARY_LOAD);
        cv_log_error("Loading lib symbol [%s] failed", name);
        return status;
    }
    *function = reinterpret_cast<cv_lib_function>(found);
    return CV_OK;
}

cv_status cv_lib_unload(cv_lib_handle *lib) {
    if (lib == nullptr || *lib == nullptr) return CV_OK;
    errno = 0;
    if (::dlclose(*lib) != 0) {
        const cv_status status = error_or(CV_E_LIBRARY_OPEN);
        char text[ERROR_TEXT_SIZE];
        cv_log_error("%s, errno:%d, err desc:%s", "Lib unloading failed", static_cast<int>(status),
                     cv_strerror(status, text, sizeof text));
    }
    *lib = nullptr;
    return CV_OK;
}
