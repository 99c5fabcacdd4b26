// Status texts and the platform-independent half of the clock.
//
// The platform's own status codes (28672 to 28711) are this system's and
// their texts are fixed here; every other code is the operating system's, and
// its text is the system's message with the line end cut off, so that it can
// be quoted inside a log line.
#include "cvplatform/cv_error.h"

#include <array>
#include <cstring>
#include <string_view>

#include "cv_error_internal.h"
#include "cvplatform/cv_str.h"

namespace {

constexpr std::string_view kUnretrievable = "Could not retrieve error message";

/* Texts of the codes from CV_E_PLATFORM_FIRST on; null marks a code without
 * an entry, which is left to the system. */
constexpr std::array<const char *, CV_E_PLATFORM_LAST - CV_E_PLATFORM_FIRST + 1> kPlatformTexts = {
    "Invalid doc root path",                        /* 28672 */
    "Invalid command or token separator mismatch",  /* 28673 */
    "Base file/directory name not found in path",   /* 28674 */
    "File/directory path mismatch",                 /* 28675 */
    "Illegal UTF string",                           /* 28676 */
    "Insufficient buffer space",                    /* 28677 */
    "End or directory reached",                     /* 28678 */
    "Library open/close failed",                    /* 28679 */
    "Library module loading failed",                /* 28680 */
    "Could not create UUID string",                 /* 28681 */
    "Could not parse xml file for configs",         /* 28682 */
    "Could not read locale info",                   /* 28683 */
    "Could not compute md5sum",                     /* 28684 */
    "Could not compute SHA hash",                   /* 28685 */
    "Could not log message",                        /* 28686 */
    "Invalid user name",                            /* 28687 */
    "Parse error inside UAC",                       /* 28688 */
    "No transmitting xfer found",                   /* 28689 */
    "Unimplemented function",                       /* 28690 */
    "Internal error",                               /* 28691 */
    "Reached end",                                  /* 28692 */
    "Storage inaccessible",                         /* 28693 */
    "Bad pathname",                                 /* 28694 */
    nullptr,                                        /* 28695 */
    nullptr,                                        /* 28696 */
    "Connection insecure",                          /* 28697 */
    "File not valid",                               /* 28698 */
    "Not enabled",                                  /* 28699 */
    "Not present",                                  /* 28700 */
    "Already locked",                               /* 28701 */
    "Invalid lock",                                 /* 28702 */
    "Lock time skew detected",                      /* 28703 */
    "Incorrect channel accessed",                   /* 28704 */
    "User aborted session",                         /* 28705 */
    "Bad token",                                    /* 28706 */
    "Illegal character(s) in path name",            /* 28707 */
    "Missing docroot restriction",                  /* 28708 */
    "Failed docroot restriction check",             /* 28709 */
    "Expired",                                      /* 28710 */
    "File upload already in progress",              /* 28711 */
};
static_assert(kPlatformTexts.size() == 40);

const char *platform_text(cv_status code) {
    if (code < CV_E_PLATFORM_FIRST || code > CV_E_PLATFORM_LAST) return nullptr;
    return kPlatformTexts[code - CV_E_PLATFORM_FIRST];
}

/* 100-nanosecond units from 1601-01-01 to 1970-01-01. */
constexpr std::uint64_t kFileTimeEpochOffset = 116444736000000000ULL;
constexpr std::int64_t kFileTimeUnitsPerSecond = 10000000;

}  // namespace

void cv_error_trim_line_end(char *text) {
    const std::size_t length = std::strlen(text);
    if (length >= 3 && text[length - 2] == '\r')
        text[length - 2] = '\0';
    else if (length >= 1 && text[length - 1] == '\n')
        text[length - 1] = '\0';
}

cv_status cv_error_to_string(cv_status code, char *buf, std::size_t size) {
    if (!buf || size == 0) return CV_E_INVALID;
    if (const char *text = platform_text(code)) return cv_str_copy(buf, text, size);
    // The whole message first: its line end is cut before the text is fitted
    // to the caller's buffer, so a text that fits once trimmed is not cut.
    std::array<char, CV_ERROR_SYSTEM_TEXT_SIZE> text;
    const cv_status status = cv_native_error_text(code, text.data(), text.size());
    if (status != CV_OK) {
        buf[0] = '\0';
        return status;
    }
    cv_error_trim_line_end(text.data());
    return cv_str_copy(buf, text.data(), size);
}

const char *cv_strerror(cv_status code, char *buf, std::size_t size) {
    if (cv_error_to_string(code, buf, size) != CV_OK) return kUnretrievable.data();
    return buf;
}

int cv_time_is_infinite(const cv_time *t) {
    return t && t->seconds == CV_TIME_INFINITE.seconds &&
           t->microseconds == CV_TIME_INFINITE.microseconds;
}

std::int64_t cv_time_from_file_time(std::uint64_t file_time) {
    if (file_time >= kFileTimeEpochOffset)
        return static_cast<std::int64_t>((file_time - kFileTimeEpochOffset) /
                                         kFileTimeUnitsPerSecond);
    return -static_cast<std::int64_t>((kFileTimeEpochOffset - file_time) /
                                      kFileTimeUnitsPerSecond);
}
