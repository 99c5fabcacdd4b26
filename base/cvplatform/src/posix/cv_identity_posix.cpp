// Host name, process owner and directory service on POSIX.
//
// The process owner is the effective user's entry in the account database
// (through NSS, so directory accounts count).  It is the account the login
// was authenticated as, so on POSIX the owner names the user; the
// environment's USER and LOGNAME are whatever the login's environment says.
// There is no directory service that knows the flat names of Windows
// domains: the look-up answers that there is none, and names keep their
// domain as written.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <unistd.h>

#include "../cv_identity_internal.h"
#include "cvplatform/cv_str.h"

namespace {

constexpr std::size_t kAccountBufferStart = 16384;
constexpr std::size_t kAccountBufferLimit = 1 << 20;

}  // namespace

const cv_user_name_rule cv_native_user_name_rule = cv_user_name_rule::owner_first;

cv_status cv_native_host_name(char *buf, std::size_t size) {
    if (!buf || size == 0) return CV_E_INVALID;
    if (::gethostname(buf, size) != 0) {
        const int error = errno;
        buf[0] = '\0';
        return static_cast<cv_status>(error);
    }
    // A name that fills the buffer exactly may come back unterminated.
    buf[size - 1] = '\0';
    return CV_OK;
}

cv_status cv_native_process_owner(char *buf, std::size_t size) {
    if (!buf || size == 0) return CV_E_INVALID;
    buf[0] = '\0';
    const uid_t uid = ::geteuid();
    for (std::size_t length = kAccountBufferStart; length <= kAccountBufferLimit; length *= 2) {
        char *scratch = static_cast<char *>(std::malloc(length));
        if (!scratch) return CV_E_NO_MEMORY;
        struct passwd entry {};
        struct passwd *found = nullptr;
        const int error = ::getpwuid_r(uid, &entry, scratch, length, &found);
        cv_status status = CV_OK;
        if (error == ERANGE) {
            std::free(scratch);
            continue;
        }
        if (error != 0)
            status = static_cast<cv_status>(error);
        else if (!found || !found->pw_name || found->pw_name[0] == '\0')
            status = CV_E_FILE_NOT_FOUND;
        else
            status = cv_str_copy(buf, found->pw_name, size);
        std::free(scratch);
        if (status != CV_OK) buf[0] = '\0';  // a cut name would be another account
        return status;
    }
    return CV_E_BUFFER_TOO_SMALL;
}

cv_status cv_native_domain_flat_name(const char *, char *flat_name, std::size_t size) {
    if (flat_name && size > 0) flat_name[0] = '\0';
    return CV_E_NOT_PRESENT;
}
