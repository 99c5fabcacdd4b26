// Who runs this process: the computer name, the current user's name and the
// normal form of account names.
//
// The current user is named by one of two rules, a trait of the platform
// (cv_user_name_rule): on Windows the environment's name wins and a process
// owner who differs is only logged; on POSIX the process owner, the account
// the login was authenticated as, wins, and an environment that names
// someone else is logged and ignored.
//
// Account names reach the system in several spellings (user@domain,
// DOMAIN\user, domain/user, .\user, HOST\user); the configuration framework
// matches users by one form, DOMAIN\user with the user in lower case and the
// domain in upper case, and the bare user for accounts of this computer.
// Asking a directory for a domain's flat name is slow, so the answers are kept
// in a small process-wide cache with least-recently-used replacement.
// Failed look-ups are not cached: the name then keeps its domain as written.
#include "cvplatform/cv_error.h"

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>

#include "cv_identity_internal.h"
#include "cvplatform/cv_env.h"
#include "cvplatform/cv_log.h"
#include "cvplatform/cv_mutex.h"
#include "cvplatform/cv_path.h"
#include "cvplatform/cv_str.h"

cv_domain_lookup_fn cv_domain_lookup_hook = cv_native_domain_flat_name;

namespace {

constexpr std::size_t kErrorTextSize = 1024;
constexpr std::size_t kOwnerNameSize = CV_STR_PATH_SIZE;
constexpr std::size_t kNormalizedSize = 2 * CV_NAME_PART_SIZE;

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char ascii_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

/* Account and domain names compare without regard to ASCII case. */
bool equal_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    return true;
}

/* The computer-name cache: read once, by whichever thread comes first. */
struct host_name_cache {
    char name[CV_HOST_NAME_SIZE];
    cv_status status;
};

const host_name_cache &host_name() {
    static const host_name_cache cache = [] {
        host_name_cache c{};
        c.status = cv_native_host_name(c.name, sizeof c.name);
        if (c.status != CV_OK) c.name[0] = '\0';
        return c;
    }();
    return cache;
}

/* True when `domain` names this computer.  A dotted host name also matches by
 * its first label, the form a Windows computer name has. */
bool is_this_computer(std::string_view domain) {
    const host_name_cache &host = host_name();
    if (host.status != CV_OK || host.name[0] == '\0') return false;
    const std::string_view full(host.name);
    if (equal_ignoring_case(domain, full)) return true;
    const std::size_t dot = full.find('.');
    return dot != std::string_view::npos && equal_ignoring_case(domain, full.substr(0, dot));
}

struct domain_cache_entry {
    std::uint32_t stamp;  /* use counter value; the smallest is replaced */
    char *domain;         /* as asked; null marks an unused entry */
    char *flat_name;
};

/* The process-wide domain cache.  The entries' strings live until exit. */
struct domain_cache {
    cv_mutex lock;
    domain_cache_entry entries[CV_DOMAIN_CACHE_ENTRIES];
    std::uint32_t next_stamp;
    int init_count;
};

domain_cache &the_domain_cache() {
    static domain_cache *const cache = [] {
        if (cv_log_verbosity >= 1)
            cv_log_debug("Nobody called cv_platform_init(). Resources may be leaked at program exit.");
        static domain_cache instance{};
        cv_mutex_init(&instance.lock);
        instance.next_stamp = 1;
        ++instance.init_count;
        // The executable path is cached on first use; fill it here, where the
        // process is known to start resolving identities.
        char exe_path[CV_PATH_SIZE];
        (void)cv_path_get_exe_path(exe_path, sizeof exe_path);
        return &instance;
    }();
    return *cache;
}

char *duplicate(std::string_view text) {
    char *copy = static_cast<char *>(std::malloc(text.size() + 1));
    if (!copy) return nullptr;
    std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

/* Copies `part` into a name-part buffer, changing its case. */
cv_status copy_part(std::string_view part, char *dst, char (*change_case)(char)) {
    if (part.size() >= CV_NAME_PART_SIZE) {
        dst[0] = '\0';
        return CV_E_BUFFER_SPACE;
    }
    for (std::size_t i = 0; i < part.size(); ++i) dst[i] = change_case(part[i]);
    dst[part.size()] = '\0';
    return CV_OK;
}

cv_status resolve_failure(char *buf, cv_status status) {
    char text[kErrorTextSize];
    cv_log_error("Failed to resolve user name, errno:%d, err desc:%s", static_cast<int>(status),
                 cv_strerror(status, text, sizeof text));
    buf[0] = '\0';
    return status;
}

/* Reads an environment variable that may be absent: 22 from cv_getenv means
 * "absent or empty" and leaves `buf` empty. */
cv_status read_variable(const char *name, char *buf, std::size_t size) {
    const cv_status status = cv_getenv(name, buf, size);
    if (status != CV_OK) buf[0] = '\0';
    return status;
}

}  // namespace

cv_status cv_get_host_name(char *buf, std::size_t size) {
    if (!buf || size == 0) return CV_E_INVALID;
    const host_name_cache &host = host_name();
    if (host.status != CV_OK) {
        buf[0] = '\0';
        return CV_E_INVALID;
    }
    return cv_str_copy(buf, host.name, size);
}

namespace {

/* The environment's name for the current user: USER when set and not
 * empty, else LOGNAME, else USERNAME with its USERDOMAIN (or DOMAINNAME)
 * normalised to DOMAIN\user.  0, or the failing status (22 when none is
 * set); `buf` holds the name only on success. */
cv_status environment_user_name(char *buf, std::size_t size) {
    cv_status status = read_variable("USER", buf, size);
    if (status != CV_E_INVALID) return status;
    status = read_variable("LOGNAME", buf, size);
    if (status != CV_E_INVALID) return status;

    status = read_variable("USERNAME", buf, size);
    if (status != CV_OK) return status;
    char domain[CV_NAME_PART_SIZE];
    cv_status domain_status = read_variable("USERDOMAIN", domain, sizeof domain);
    if (domain_status == CV_E_INVALID)
        domain_status = read_variable("DOMAINNAME", domain, sizeof domain);
    if (domain_status == CV_E_INVALID) return CV_OK;
    // A domain cut short or cut off would name another account.
    if (domain_status != CV_OK) return domain_status;
    std::size_t cursor = std::strlen(buf);
    status = cv_str_append(buf, "@", size, &cursor);
    if (status == CV_OK) status = cv_str_append(buf, domain, size, &cursor);
    if (status != CV_OK) return status;
    (void)cv_user_name_normalize(buf, size, CV_NAME_LOCAL);
    return CV_OK;
}

/* Logs, on one line, each of USER, LOGNAME and USERNAME that is set and
 * names someone other than `owner`.  Their values are the environment's
 * text: escaped and bounded. */
void log_environment_names_differing_from(std::string_view owner) {
    constexpr const char *names[] = {"USER", "LOGNAME", "USERNAME"};
    char listed[std::size(names) * (CV_MISMATCH_VALUE_LOG_SIZE + 16)];
    std::size_t cursor = 0;
    listed[0] = '\0';
    for (const char *name : names) {
        std::string value;
        if (cv_getenv_bytes(name, &value) != CV_OK || value.empty() || value == owner) continue;
        char escaped[CV_MISMATCH_VALUE_LOG_SIZE];
        (void)cv_log_escape(value.data(), value.size(), escaped, sizeof escaped);
        (void)cv_str_append_many(listed, sizeof listed, &cursor, cursor ? " " : "", name, "=",
                                 escaped, nullptr);
    }
    if (cursor != 0)
        cv_log_info("Process owner and %%USER%% name mismatch, using owner name: %s", listed);
}

/* Windows: the environment names the user, checked against the owner. */
cv_status user_name_from_environment_first(char *buf, std::size_t size) {
    const cv_status status = environment_user_name(buf, size);
    if (status != CV_OK) return resolve_failure(buf, status);
    char owner[kOwnerNameSize];
    if (cv_native_process_owner(owner, sizeof owner) != CV_OK ||
        std::strncmp(buf, owner, size) != 0)
        cv_log_info("Process owner and %%USER%% name mismatch, using env name");
    return CV_OK;
}

/* POSIX: the owner names the user.  An owner whose account has no name
 * leaves the user unnamed: a name the login's environment offers is the
 * client's choice, and settings resolved for it would be another user's. */
cv_status user_name_from_owner_first(char *buf, std::size_t size) {
    char owner[kOwnerNameSize];
    const cv_status owner_status = cv_native_process_owner(owner, sizeof owner);
    if (owner_status == CV_E_FILE_NOT_FOUND) cv_log_info("Process owner has no account name");
    if (owner_status != CV_OK) return resolve_failure(buf, owner_status);
    const cv_status status = cv_str_copy(buf, owner, size);
    if (status != CV_OK) return resolve_failure(buf, status);
    log_environment_names_differing_from(owner);
    return CV_OK;
}

}  // namespace

cv_status cv_current_user_name_by_rule(cv_user_name_rule rule, char *buf, std::size_t size) {
    if (!buf || size == 0) return CV_E_INVALID;
    buf[0] = '\0';
    return rule == cv_user_name_rule::owner_first ? user_name_from_owner_first(buf, size)
                                                  : user_name_from_environment_first(buf, size);
}

cv_status cv_get_current_user_name(char *buf, std::size_t size) {
    return cv_current_user_name_by_rule(cv_native_user_name_rule, buf, size);
}

cv_status cv_user_name_normalize(char *name, std::size_t size, int mode) {
    if (!name || size == 0) return CV_E_INVALID;
    if (mode == CV_NAME_UNTOUCHED) return CV_OK;
    if (mode != CV_NAME_LOCAL && mode != CV_NAME_DIRECTORY && mode != CV_NAME_DOMAIN_CACHE)
        return CV_E_INVALID;
    const std::size_t length = ::strnlen(name, size);
    if (length == size) return CV_E_INVALID;

    const std::string_view whole(name, length);
    std::string_view user = whole;
    std::string_view domain;
    if (const std::size_t at = whole.find('@'); at != std::string_view::npos) {
        user = whole.substr(0, at);
        domain = whole.substr(at + 1);
    } else if (const std::size_t separator = whole.find('\\');
               separator != std::string_view::npos) {
        domain = whole.substr(0, separator);
        user = whole.substr(separator + 1);
    } else if (const std::size_t slash = whole.find('/'); slash != std::string_view::npos) {
        domain = whole.substr(0, slash);
        user = whole.substr(slash + 1);
    }

    char user_part[CV_NAME_PART_SIZE];
    char domain_part[CV_NAME_PART_SIZE];
    if (cv_status status = copy_part(user, user_part, ascii_lower); status != CV_OK) return status;
    if (cv_status status = copy_part(domain, domain_part, ascii_upper); status != CV_OK)
        return status;

    if (domain == "." || (!domain.empty() && is_this_computer(domain))) {
        domain_part[0] = '\0';
    } else if (!domain.empty() && mode != CV_NAME_LOCAL) {
        char asked[CV_NAME_PART_SIZE];
        (void)copy_part(domain, asked, [](char c) { return c; });
        char flat[CV_NAME_PART_SIZE];
        const cv_status status = mode == CV_NAME_DIRECTORY
                                     ? cv_domain_lookup_hook(asked, flat, sizeof flat)
                                     : cv_domain_cache_lookup(asked, flat, sizeof flat);
        // Without a directory service there is nothing to locate: the name
        // keeps its domain without a complaint on every comparison.
        if (status != CV_OK && status != CV_E_NOT_PRESENT)
            cv_log_error("Unable to locate domain %s.  Leaving name as is.", asked);
        else if (status == CV_OK)
            (void)copy_part(flat, domain_part, ascii_upper);
    }

    char result[kNormalizedSize];
    std::size_t cursor = 0;
    cv_status status = CV_OK;
    if (domain_part[0] != '\0') {
        status = cv_str_append(result, domain_part, sizeof result, &cursor);
        if (status == CV_OK) status = cv_str_append(result, "\\", sizeof result, &cursor);
    }
    if (status == CV_OK) status = cv_str_append(result, user_part, sizeof result, &cursor);
    if (status != CV_OK) return status;
    // The name is replaced only whole: a cut name would be another account.
    if (cursor >= size) return CV_E_BUFFER_SPACE;
    std::memcpy(name, result, cursor + 1);
    return CV_OK;
}

cv_status cv_domain_cache_lookup(const char *domain, char *flat_name, std::size_t size) {
    if (!domain || !flat_name || size == 0) return CV_E_INVALID;
    flat_name[0] = '\0';
    domain_cache &cache = the_domain_cache();
    cv_mutex_guard guard(&cache.lock);
    if (guard.status() != CV_OK) return guard.status();

    domain_cache_entry *unused = nullptr;
    domain_cache_entry *oldest = &cache.entries[0];
    for (domain_cache_entry &entry : cache.entries) {
        if (!entry.domain) {
            unused = &entry;
            break;
        }
        if (equal_ignoring_case(entry.domain, domain)) {
            entry.stamp = cache.next_stamp++;
            return cv_str_copy(flat_name, entry.flat_name, size);
        }
        if (entry.stamp < oldest->stamp) oldest = &entry;
    }

    char flat[CV_NAME_PART_SIZE];
    if (const cv_status status = cv_domain_lookup_hook(domain, flat, sizeof flat);
        status != CV_OK)
        return status == CV_E_NOT_PRESENT ? CV_E_NOT_PRESENT : CV_E_FILE_NOT_FOUND;
    flat[sizeof flat - 1] = '\0';

    char *domain_copy = duplicate(domain);
    char *flat_copy = duplicate(flat);
    if (!domain_copy || !flat_copy) {
        std::free(domain_copy);
        std::free(flat_copy);
        return CV_E_NO_MEMORY;
    }
    domain_cache_entry &target = unused ? *unused : *oldest;
    std::free(target.domain);
    std::free(target.flat_name);
    target.domain = domain_copy;
    target.flat_name = flat_copy;
    target.stamp = cache.next_stamp++;
    return cv_str_copy(flat_name, flat, size);
}
