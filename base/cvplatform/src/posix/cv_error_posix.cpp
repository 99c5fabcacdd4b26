// System message texts on POSIX.
//
// The system's text of an errno value comes from strerror_r.  A few statuses
// that the whole system uses with a fixed meaning (cv_status.h) are not errno
// values on POSIX, or are errno values of an unrelated meaning (8 would read
// "Exec format error" where the system means out of memory); those get the
// text the system gives them on every platform.  18 is left out on purpose:
// EXDEV does come back from rename and link here.
#include <cerrno>
#include <cstring>
#include <string_view>

#include "../cv_error_internal.h"

namespace {

struct status_text {
    cv_status code;
    std::string_view text;
};

constexpr status_text kSystemStatusTexts[] = {
    {CV_E_PATH_NOT_FOUND, "The system cannot find the path specified."},
    {CV_E_NO_MEMORY, "Not enough memory resources are available to process this command."},
    {CV_E_OUT_OF_MEMORY, "Not enough memory resources are available to complete this operation."},
    {CV_E_INVALID_PARAMETER, "The parameter is incorrect."},
    {CV_E_BUFFER_TOO_SMALL, "The data area passed to a system call is too small."},
    {CV_E_ALREADY_SET, "The directory is not empty."},
    {CV_E_ALREADY_HELD, "Cannot create a file when that file already exists."},
    {CV_E_NAME_TOO_LONG, "The filename or extension is too long."},
    {CV_E_MORE_DATA, "More data is available."},
    {CV_E_NOT_A_DIRECTORY, "The directory name is invalid."},
};

constexpr std::size_t kMessageSize = CV_ERROR_SYSTEM_TEXT_SIZE;

/* strerror_r comes in two forms; the overloads pick the text from either. */
[[maybe_unused]] const char *message_of(const char *gnu_result, const char *) {
    return gnu_result;
}
[[maybe_unused]] const char *message_of(int xsi_result, const char *buf) {
    if (xsi_result != 0) {
        // Older XSI forms report through errno and return -1.
        errno = xsi_result > 0 ? xsi_result : errno;
        return nullptr;
    }
    return buf;
}

cv_status copy_text(std::string_view text, char *buf, std::size_t size) {
    if (text.size() >= size) {
        buf[0] = '\0';
        return CV_E_BUFFER_TOO_SMALL;
    }
    std::memcpy(buf, text.data(), text.size());
    buf[text.size()] = '\0';
    return CV_OK;
}

}  // namespace

cv_status cv_native_error_text(cv_status code, char *buf, std::size_t size) {
    for (const status_text &entry : kSystemStatusTexts)
        if (entry.code == code) return copy_text(entry.text, buf, size);

    char message[kMessageSize] = {};
    errno = 0;
    const char *text = message_of(::strerror_r(static_cast<int>(code), message, sizeof message),
                                  message);
    if (!text) {
        const int error = errno;
        buf[0] = '\0';
        return error != 0 ? static_cast<cv_status>(error) : CV_E_INVALID;
    }
    return copy_text(std::string_view(text, ::strnlen(text, kMessageSize)), buf, size);
}
