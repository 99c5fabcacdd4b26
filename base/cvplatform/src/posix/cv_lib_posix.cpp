// Dynamic libraries on POSIX: dlopen, dlsym and dlclose.
//
// The loader reports its failures as text (dlerror), without an error code.
// When a library named by its path fails to load, the file is opened once
// to learn whether it could be read at all (a missing file gives 2, a file
// without read permission 13); otherwise, and for the other calls, the
// platform's own library codes stand in, unless a call left an errno.
#include "cvplatform/cv_lib.h"

#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

#include "cvplatform/cv_error.h"
#include "cvplatform/cv_log.h"
#include "cvplatform/cv_path.h"

namespace {

constexpr std::size_t ERROR_TEXT_SIZE = 1024;

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

}  // namespace

cv_status cv_lib_load(cv_lib_handle *lib, const char *path) {
    if (lib == nullptr) return CV_E_INVALID;
    *lib = nullptr;
    // An empty name would give the main program's own handle.
    if (path == nullptr || path[0] == '\0') return CV_E_INVALID;
    char native[CV_PATH_SIZE];
    if (!loader_path(path, native, sizeof native)) return CV_E_INVALID;
    void *handle = ::dlopen(native, RTLD_NOW | RTLD_LOCAL);
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
