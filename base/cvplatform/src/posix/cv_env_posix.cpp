// The process environment on POSIX.
//
// The system reads and writes its environment in UTF-8 and, on Windows,
// through the UTF-16 environment: a value there is read into a buffer of
// `capacity` wide characters and converted strictly.  POSIX values are plain
// bytes, so the same steps are checked here without a wide copy (and without
// any heap), giving the statuses the Windows path gives: a value that is not
// strict UTF-8 is refused as the Windows conversion would refuse it.
//
// The byte-exact reads and writes (cv_env.h) go to the environment directly.
// Making the environment unique edits the `environ` array in place, as the C
// library's own unsetenv does: the array and its strings stay where they
// are, only the pointers to dropped entries are squeezed out.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

#include "cvplatform/cv_env.h"
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

cv_status cv_getenv_bytes(const char *name, std::string *value) {
    if (name == nullptr || value == nullptr || !valid_name(name)) return CV_E_INVALID;
    const char *found = std::getenv(name);
    if (found == nullptr) return CV_E_FILE_NOT_FOUND;
    try {
        value->assign(found);
    } catch (const std::bad_alloc &) {
        return CV_E_NO_MEMORY;
    }
    return CV_OK;
}

cv_status cv_setenv_bytes(const char *name, std::string_view value) {
    if (name == nullptr || !valid_name(name)) return CV_E_INVALID;
    if (value.find('\0') != std::string_view::npos) return CV_E_INVALID;
    std::string text;
    try {
        text.assign(value);
    } catch (const std::bad_alloc &) {
        return CV_E_NO_MEMORY;
    }
    if (::setenv(name, text.c_str(), 1) == 0) return CV_OK;
    const int error = errno;
    if (error == ENOMEM) return CV_E_NO_MEMORY;
    return error != 0 ? static_cast<cv_status>(error) : CV_E_INVALID;
}

namespace {

/* The name part of an environment entry, or an empty view when the entry
 * names no variable. */
std::string_view entry_name(const char *entry) {
    const char *equals = std::strchr(entry, '=');
    if (equals == nullptr) return {};
    return std::string_view(entry, static_cast<std::size_t>(equals - entry));
}

}  // namespace

cv_status cv_environment_make_unique(std::size_t *removed) {
    if (removed) *removed = 0;
    if (environ == nullptr) return CV_OK;
    std::size_t count = 0;
    while (environ[count] != nullptr) ++count;

    // The first entry of each name survives: sort the entries by name, and
    // by position among equal names, then mark every later duplicate.
    std::vector<std::size_t> order;
    std::vector<char> keep;
    try {
        order.resize(count);
        keep.assign(count, 1);
    } catch (const std::bad_alloc &) {
        return CV_E_NO_MEMORY;
    }
    for (std::size_t i = 0; i < count; ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [](std::size_t a, std::size_t b) {
        const std::string_view na = entry_name(environ[a]), nb = entry_name(environ[b]);
        return na != nb ? na < nb : a < b;
    });
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t i = order[k];
        const std::string_view name = entry_name(environ[i]);
        if (name.empty() || (k > 0 && entry_name(environ[order[k - 1]]) == name)) keep[i] = 0;
    }

    std::size_t kept = 0;
    for (std::size_t i = 0; i < count; ++i)
        if (keep[i]) environ[kept++] = environ[i];
    environ[kept] = nullptr;
    if (removed) *removed = count - kept;
    return CV_OK;
}
