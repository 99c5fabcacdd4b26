// The Windows native form of a canonical path.
//
// Windows calls take UTF-16 paths with "\" separators.  Absolute paths of some
// length get the long-path prefix ("\\?\" or "\\?\UNC\") that lifts the
// 260-character limit; with that prefix the system no longer trims what it
// would trim itself, so names are given without their trailing dots here
// (Windows never stores a name ending in a dot).  Short and relative paths go
// to the system as they are and keep its own handling.
//
// This is a pure function kept beside the canonical form so that it is tested
// on every platform; the POSIX file layer uses the canonical path itself.
#include <array>
#include <cstring>
#include <string_view>

#include "cvplatform/cv_path.h"
#include "cvplatform/cv_str.h"

namespace {

// Canonical paths shorter than this go to the system without the prefix.
constexpr std::size_t kLongPathThreshold = 11;

constexpr std::string_view kLongPrefix = "\\\\?\\";
constexpr std::string_view kLongUncPrefix = "\\\\?\\UNC\\";

// The prefix plus the longest canonical path, with its terminator.
constexpr std::size_t kNativeSize = CV_PATH_SIZE + kLongUncPrefix.size();

// Copies `body` after `prefix`, turning "/" into "\" and dropping every run of
// dots that ends a name.
void build_prefixed(std::string_view prefix, std::string_view body, char *out) {
    std::memcpy(out, prefix.data(), prefix.size());
    std::size_t n = prefix.size();
    std::size_t i = 0;
    while (i < body.size()) {
        if (body[i] == '.') {
            std::size_t run_end = i;
            while (run_end < body.size() && body[run_end] == '.') ++run_end;
            const bool ends_name = run_end == body.size() || body[run_end] == '/';
            if (!ends_name) {
                std::memcpy(out + n, body.data() + i, run_end - i);
                n += run_end - i;
            }
            i = run_end;
            continue;
        }
        out[n++] = body[i] == '/' ? '\\' : body[i];
        ++i;
    }
    out[n] = '\0';
}

}  // namespace

cv_status cv_path_to_native(const char *path, char16_t *dst, std::size_t *size) {
    if (path == nullptr || dst == nullptr || size == nullptr) return CV_E_INVALID;
    std::array<char, CV_PATH_SIZE> canonical;
    if (cv_path_canonicalize(path, canonical.data(), canonical.size()) != 0) return CV_E_INVALID;
    const std::string_view c(canonical.data());

    if (c.size() < kLongPathThreshold || cv_path_is_relative(canonical.data()) == 1)
        return cv_utf8_to_utf16(canonical.data(), dst, size);

    std::array<char, kNativeSize> native;
    if (c.starts_with("//"))
        build_prefixed(kLongUncPrefix, c.substr(2), native.data());
    else
        build_prefixed(kLongPrefix, c, native.data());
    return cv_utf8_to_utf16(native.data(), dst, size);
}
