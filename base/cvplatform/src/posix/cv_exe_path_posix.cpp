// The path of the running executable on POSIX.
//
// Read once from /proc/self/exe, canonicalised, and kept for the life of the
// process: the install locations (product root, configuration directory, log
// directory) are all derived from it.  A failed read is not cached, so a later
// call tries again.
#include <array>
#include <cstring>
#include <mutex>
#include <unistd.h>

#include "cvplatform/cv_path.h"
#include "cvplatform/cv_str.h"

namespace {

struct exe_path_cache {
    std::mutex lock;
    bool filled = false;
    std::array<char, CV_PATH_SIZE> path{};
};

exe_path_cache &cache() {
    static exe_path_cache instance;
    return instance;
}

bool fill(exe_path_cache &c) {
    std::array<char, CV_PATH_SIZE> raw;
    const ssize_t n = ::readlink("/proc/self/exe", raw.data(), raw.size());
    // A result that fills the whole buffer may have been cut.
    if (n <= 0 || static_cast<std::size_t>(n) >= raw.size()) return false;
    raw[static_cast<std::size_t>(n)] = '\0';
    return cv_path_canonicalize(raw.data(), c.path.data(), c.path.size()) == 0;
}

}  // namespace

int cv_path_get_exe_path(char *dst, std::size_t size) {
    if (dst == nullptr || size == 0) return -1;
    dst[0] = '\0';
    exe_path_cache &c = cache();
    const std::lock_guard<std::mutex> guard(c.lock);
    if (!c.filled) {
        if (!fill(c)) return -1;
        c.filled = true;
    }
    if (cv_str_copy(dst, c.path.data(), size) != CV_OK) {
        dst[0] = '\0';
        return -1;
    }
    return static_cast<int>(std::strlen(dst));
}
