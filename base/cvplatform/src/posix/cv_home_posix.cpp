// Home directories on POSIX.
//
// The current user's home is HOME, or the account database's entry for the
// effective user when HOME is unset, empty or not UTF-8.  A named user's home
// comes from the account database (through NSS, so directory-backed accounts
// count).  There is no directory service to ask for a domain controller here:
// a DOMAIN\user name is looked up as it is written, which NSS modules that
// serve such names understand.
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <pwd.h>
#include <unistd.h>

#include "cvplatform/cv_path.h"
#include "cvplatform/cv_str.h"

namespace {

// A user name must convert to UTF-16 within this many units, terminator
// included, as on the platform where names are wide.
constexpr std::size_t kUserNameUnits = 512;

constexpr std::size_t kInitialRecordBuffer = 16384;
constexpr std::size_t kMaxRecordBuffer = 1u << 20;

// One account record with the buffer its strings live in.
struct account {
    passwd record{};
    std::unique_ptr<char[]> buffer;
};

// Looks up an account by name (when `name` is not null) or by id.  0; 2 when
// there is no such account; 8; otherwise the look-up's error.
cv_status find_account(const char *name, uid_t uid, account &out) {
    for (std::size_t size = kInitialRecordBuffer; size <= kMaxRecordBuffer; size *= 2) {
        out.buffer.reset(new (std::nothrow) char[size]);
        if (!out.buffer) return CV_E_NO_MEMORY;
        passwd *result = nullptr;
        const int rc = name != nullptr
                           ? ::getpwnam_r(name, &out.record, out.buffer.get(), size, &result)
                           : ::getpwuid_r(uid, &out.record, out.buffer.get(), size, &result);
        if (rc == ERANGE) continue;
        if (rc != 0) return static_cast<cv_status>(rc);
        return result != nullptr ? CV_OK : CV_E_FILE_NOT_FOUND;
    }
    return CV_E_BUFFER_TOO_SMALL;
}

}  // namespace

int cv_path_get_home_dir(char *dst, std::size_t size) {
    if (dst == nullptr || size == 0) return -1;
    dst[0] = '\0';
    char home[CV_PATH_SIZE];
    const cv_status env = cv_getenv("HOME", home, sizeof home);
    if (env == CV_OK) {
        if (cv_path_canonicalize(home, dst, size) != 0) return -1;
        return static_cast<int>(std::strlen(dst));
    }
    if (env != CV_E_INVALID) return -1;  // set but too long

    account owner;
    if (find_account(nullptr, ::geteuid(), owner) != CV_OK) return -1;
    const char *dir = owner.record.pw_dir;
    if (dir == nullptr || dir[0] == '\0') return -1;
    if (cv_path_canonicalize(dir, dst, size) != 0) return -1;
    return static_cast<int>(std::strlen(dst));
}

cv_status cv_path_get_user_home_dir(const char *user, char *dst, std::size_t size) {
    if (user == nullptr || dst == nullptr || size == 0) return CV_E_INVALID;
    dst[0] = '\0';
    char16_t wide[kUserNameUnits];
    std::size_t wide_bytes = sizeof wide;
    if (const cv_status st = cv_utf8_to_utf16(user, wide, &wide_bytes); st != CV_OK) return st;

    account found;
    if (const cv_status st = find_account(user, 0, found); st != CV_OK) return st;
    const char *dir = found.record.pw_dir;
    if (dir == nullptr || dir[0] == '\0') return CV_E_FILE_NOT_FOUND;
    if (const cv_status st = cv_str_copy(dst, dir, size); st != CV_OK) {
        dst[0] = '\0';
        return st;
    }
    return CV_OK;
}
