// The process environment on POSIX.
//
// The system reads and writes its environment in UTF-8 and, on Windows,
// through the UTF-16 environment: a value there is read into a buffer of
// `capacity` wide characters and converted strictly.  POSIX values are plain
// bytes, so the same steps are checked here without a wide copy (and without
// any heap), giving the statuses the Windows path gives: a value that is not
// strict UTF-8 is refused as the Windows conversion would refuse it.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "cvplatform/cv_str.h"

extern char **environ;

namespace {

// Size of the wide buffer a variable's name is converted into.
constexpr std::size_t kNameBufferBytes = 8192;
// Wide characters the value buffer holds beyond `capacity`, in bytes.
constexpr std::size_t kValueBufferSlack = 16;

// The size in bytes of the UTF-16 form of `text` (terminator included), or
// a failure: 22 for text that is not strict UTF-8.
cv_status utf16_size(const char *text, std::size_t *bytes) {
    *bytes = 0;
    const cv_status status = cv_utf8_to_utf16(text, nullptr, bytes);
    return status == CV_E_BUFFER_TOO_SMALL ? CV_OK : status;
}

bool valid_name(const char *name) { return name[0] != '\0' && std::strchr(name, '=') == nullptr; }

}  // namespace

cv_status cv_getenv(const char *name, char *dst, std::size_t capacity) {
    if (name == nullptr || dst == nullptr) return CV_E_INVALID;
    // The wide buffer's size would overflow.
    if (capacity > (SIZE_MAX - kValueBufferSlack) / sizeof(char16_t)) return CV_E_NO_MEMORY;

    std::size_t name_bytes = 0;
    cv_status status = utf16_size(name, &name_bytes);
    if (status != CV_OK) return status;
    if (name_bytes > kNameBufferBytes) return CV_E_BUFFER_TOO_SMALL;
    if (!valid_name(name)) return CV_E_INVALID;  // no such variable can exist

    const char *value = std::getenv(name);
    if (value == nullptr || value[0] == '\0') return CV_E_INVALID;

    std::size_t value_bytes = 0;
    status = utf16_size(value, &value_bytes);
    if (status != CV_OK) return status;
    // The wide read needs room for the value and its terminator.
    if (value_bytes / sizeof(char16_t) > capacity) return CV_E_BUFFER_SPACE;

    const std::size_t length = std::strlen(value);
    if (length >= capacity) return CV_E_BUFFER_TOO_SMALL;
    std::memcpy(dst, value, length + 1);
    return CV_OK;
}

cv_status cv_setenv(const char *name, const char *value) {
    if (name == nullptr || value == nullptr) return CV_E_INVALID;
    std::size_t bytes = 0;
    cv_status status = utf16_size(name, &bytes);
    if (status == CV_OK) status = utf16_size(value, &bytes);
    if (status != CV_OK) return status;
    if (!valid_name(name)) return CV_E_INVALID;

    if (::setenv(name, value, 1) == 0) return CV_OK;
    const int error = errno;
    if (error == ENOMEM) return CV_E_NO_MEMORY;
    return error != 0 ? static_cast<cv_status>(error) : CV_E_INVALID;
}

cv_status cv_unsetenv(const char *name) {
    if (name == nullptr || !valid_name(name)) return CV_E_INVALID;
    if (::unsetenv(name) == 0) return CV_OK;
    return errno != 0 ? static_cast<cv_status>(errno) : CV_E_INVALID;
}

std::vector<std::string> cv_environment_names() {
    std::vector<std::string> names;
    for (char **entry = environ; entry && *entry; ++entry) {
        const char *equals = std::strchr(*entry, '=');
        names.emplace_back(*entry, equals ? static_cast<std::size_t>(equals - *entry)
                                          : std::strlen(*entry));
    }
    return names;
}
