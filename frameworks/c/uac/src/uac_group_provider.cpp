// The system group provider and the group plug-ins.
//
// Registration loads the plug-ins of a folder (files named "*.cveu", in the
// byte order of their names, each only when no account but root and the
// program's owner could have planted or changed it), lets each append its
// providers, and appends the system provider last.  The system provider
// keeps the plug-ins' libraries loaded until it is released, after every
// plug-in provider before it in the list has been released.
//
// The system provider asks the account database (cv_account.h, NSS on
// POSIX) for the groups of a user and sets the bit of every configured
// group of the same name.  The configured names are kept in an index sorted
// by case-folded name, so each name the database gives costs one binary
// search; configured groups of equal names lie next to each other there,
// and all of them get their bit.  A user name with a domain ("CORP\alice",
// "alice@corp", "CORP/alice") is looked up as written, and as the bare user
// when the database does not know it so; the groups of such a user also
// match configured names qualified with the domain ("CORP\staff" for
// "staff").
//
// Each user is asked of the database once per process: the names found
// are kept in a membership cache, whatever master group set is selected
// later, until the framework's last end frees it.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "cvplatform/cv_account.h"
#include "cvplatform/cv_error.h"
#include "cvplatform/cv_file.h"
#include "cvplatform/cv_lib.h"
#include "cvplatform/cv_log.h"
#include "cvplatform/cv_path.h"
#include "cvplatform/cv_str.h"
#include "uac/cv_uac_group_provider.h"
#include "uac/cv_uac_memory_heap.h"

namespace {

constexpr const char *kProviderLabel =
    "Group enumerator allocation.  Users will not be associated with their windows groups.";
constexpr const char *kIndexLabel =
    "Group list allocation.  Users will not be associated with their windows groups";
constexpr const char *kPluginListLabel = "Group plug-in list.  Group plug-ins not loaded";
constexpr const char *kCacheLabel = "Group membership record.  User's groups not remembered";

/* Bytes of one escaped text in a log line. */
constexpr std::size_t kEscapedSize = 1024;

/* Bytes of a status text in a log line. */
constexpr std::size_t kStatusTextSize = 256;

/* The verbosity from which the look-ups are traced at debug level. */
constexpr int kTraceVerbosity = 1;

/* `text` escaped for a log line (cut with a mark when longer). */
class escaped {
public:
    explicit escaped(std::string_view text) {
        (void)cv_log_escape(text.data(), text.size(), text_, sizeof text_);
    }
    const char *c_str() const { return text_; }

private:
    char text_[kEscapedSize];
};

// ---------------------------------------------------------------------------
// Names

/* A name in up to three pieces, compared as their concatenation: a
 * qualified name "DOMAIN\group" is matched without building it. */
struct name_pieces {
    std::string_view pieces[3];
};

/* ASCII case folding.  Group names are UTF-8; folding the ASCII letters of
 * the bytes is enough here, where directory groups differ from the names an
 * administrator types mostly in the case of Latin letters ("Domain Users",
 * "CORP\staff"); other letters compare byte for byte. */
constexpr unsigned char fold(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

/* <0, 0 or >0 as `a` sorts before, with or after the pieces of `b`,
 * folded. */
int compare_folded(std::string_view a, const name_pieces &b) {
    std::size_t at = 0;
    for (std::string_view piece : b.pieces) {
        for (const char byte : piece) {
            if (at == a.size()) return -1;
            const unsigned char x = fold(static_cast<unsigned char>(a[at++]));
            const unsigned char y = fold(static_cast<unsigned char>(byte));
            if (x != y) return x < y ? -1 : 1;
        }
    }
    return at == a.size() ? 0 : 1;
}

/* A user or group name split as cv_user_name_normalize splits it: the
 * first "@" (user@domain), else the first "\" or then "/" (domain\user).
 * `domain` is empty for a bare name. */
struct account_name {
    std::string_view domain;
    std::string_view bare;
};

account_name split_name(std::string_view name) {
    if (const std::size_t at = name.find('@'); at != name.npos)
        return {name.substr(at + 1), name.substr(0, at)};
    for (const char separator : {'\\', '/'})
        if (const std::size_t at = name.find(separator); at != name.npos)
            return {name.substr(0, at), name.substr(at + 1)};
    return {{}, name};
}

// ---------------------------------------------------------------------------
// The system provider

/* One configured group in the name index. */
struct indexed_group {
    std::uint32_t index;  /* its bit: its place in the master group set */
    const char *name;
    const cv_uac_group_entry *entry;
};

struct system_provider {
    cv_uac_group_provider record;  /* first: the framework holds this */
    std::size_t plugin_count;
    cv_lib_handle plugins[CV_UAC_MAX_GROUP_PLUGINS];
    const cv_uac_master_group_set *groups;
    indexed_group *index;  /* groups->count records, by folded name */
};

system_provider *system_of(cv_uac_group_provider *provider) {
    return reinterpret_cast<system_provider *>(provider);
}

void set_groups(const cv_uac_master_group_set *groups, cv_uac_group_provider *provider) {
    system_provider *p = system_of(provider);
    cv_uac_free(p->index);
    p->index = nullptr;
    p->groups = groups;
    if (!groups || groups->count == 0) return;
    auto *index = static_cast<indexed_group *>(
        CV_UAC_MALLOC(groups->count * sizeof(indexed_group), kIndexLabel));
    if (!index) return;
    for (std::uint32_t i = 0; i < groups->count; ++i)
        index[i] = {i, groups->entries[i].name, &groups->entries[i]};
    std::sort(index, index + groups->count, [](const indexed_group &a, const indexed_group &b) {
        const int order = compare_folded(a.name, name_pieces{{b.name}});
        return order != 0 ? order < 0 : a.index < b.index;
    });
    p->index = index;
}

/* Sets the bit of every configured group named `name` (folded); true when
 * there was one. */
bool set_bits_of(const system_provider &p, const name_pieces &name, std::uint32_t *group_bits) {
    const indexed_group *begin = p.index;
    const indexed_group *end = begin + p.groups->count;
    const indexed_group *first = std::lower_bound(
        begin, end, name,
        [](const indexed_group &g, const name_pieces &n) { return compare_folded(g.name, n) < 0; });
    bool found = false;
    for (const indexed_group *g = first; g != end && compare_folded(g->name, name) == 0; ++g) {
        group_bits[g->index / 32] |= std::uint32_t{1} << (g->index % 32);
        found = true;
    }
    return found;
}

// ---------------------------------------------------------------------------
// The membership cache

/* The groups the database gave for one user name, as asked. */
struct membership_record {
    membership_record *next;
    char *user;
    cv_account_groups groups;  /* empty for an unknown user */
};

struct membership_cache {
    membership_record *head = nullptr;
    membership_record **tail = &head;
    bool cleanup_pushed = false;
};

membership_cache &cache() {
    static membership_cache the_cache;
    return the_cache;
}

void free_record(membership_record *record) {
    cv_account_groups_free(&record->groups);
    cv_uac_free(record->user);
    cv_uac_free(record);
}

/* The framework's last end: the cache goes with it. */
void free_cache(void *) {
    membership_cache &c = cache();
    while (membership_record *record = c.head) {
        c.head = record->next;
        free_record(record);
    }
    c.tail = &c.head;
    c.cleanup_pushed = false;
}

const membership_record *cached(const char *user) {
    for (const membership_record *record = cache().head; record; record = record->next)
        if (std::strcmp(record->user, user) == 0) return record;
    return nullptr;
}

/* Keeps `record` in the cache; false when the cache cannot be freed at the
 * end (the record is then the caller's to free). */
bool remember(membership_record *record) {
    membership_cache &c = cache();
    if (!c.cleanup_pushed) {
        if (cv_uac_push_cleanup(free_cache, nullptr) != CV_OK) return false;
        c.cleanup_pushed = true;
    }
    *c.tail = record;
    c.tail = &record->next;
    return true;
}

bool tracing() { return cv_log_verbosity >= kTraceVerbosity; }

/* The groups of `user` from the database, as written, then (for a name
 * with a domain that the database does not know) as the bare user. */
cv_status ask_database(const char *user, const account_name &name, cv_account_groups *groups) {
    if (tracing()) {
        if (name.domain.empty())
            cv_log_debug("Checking for groups of user %s", escaped(user).c_str());
        else
            cv_log_debug("Checking for groups in domain %s, user %s",
                         escaped(name.domain).c_str(), escaped(user).c_str());
    }
    cv_status status = cv_account_get_groups(user, groups);
    if (status == CV_E_FILE_NOT_FOUND && !name.domain.empty() && !name.bare.empty()) {
        char *bare = static_cast<char *>(CV_UAC_MALLOC(name.bare.size() + 1, kCacheLabel));
        if (!bare) return CV_E_NO_MEMORY;
        std::memcpy(bare, name.bare.data(), name.bare.size());
        bare[name.bare.size()] = '\0';
        if (tracing())
            cv_log_debug("No account %s, checking for groups of user %s", escaped(user).c_str(),
                         escaped(name.bare).c_str());
        status = cv_account_get_groups(bare, groups);
        cv_uac_free(bare);
    }
    if (tracing()) {
        if (status == CV_OK)
            cv_log_debug("user %s is a member of %zu groups", escaped(user).c_str(),
                         groups->count);
        cv_log_debug("Result: %u", status);
    }
    return status;
}

/* A new record of `user`'s groups.  A database error leaves the record
 * without groups: the user then has no membership groups in this process,
 * as an unknown user has.  Null when out of memory. */
membership_record *look_up(const char *user, const account_name &name) {
    auto *record = static_cast<membership_record *>(
        CV_UAC_CALLOC(sizeof(membership_record), kCacheLabel));
    if (!record) return nullptr;
    record->user = CV_UAC_STRDUP(user, kCacheLabel);
    if (!record->user || ask_database(user, name, &record->groups) == CV_E_NO_MEMORY) {
        free_record(record);
        return nullptr;
    }
    return record;
}

/* Sets the bits of the configured groups that `record`'s group names (and,
 * for a user with a domain, the same names qualified by it) name. */
bool set_bits_of_record(const system_provider &p, const membership_record &record,
                        const account_name &name, std::uint32_t *group_bits) {
    bool found = false;
    for (const char *group = record.groups.names; group && *group;
         group += std::strlen(group) + 1) {
        if (tracing())
            cv_log_debug("user %s is a member of %s", escaped(record.user).c_str(),
                         escaped(group).c_str());
        found |= set_bits_of(p, name_pieces{{group}}, group_bits);
        if (name.domain.empty() || !split_name(group).domain.empty()) continue;
        const name_pieces qualified{{name.domain, "\\", group}};
        // The backslash is written as cv_log_escape writes one, so the line
        // reads as the whole qualified name escaped.
        if (tracing())
            cv_log_debug("Checking for existence of group %s\\\\%s",
                         escaped(name.domain).c_str(), escaped(group).c_str());
        found |= set_bits_of(p, qualified, group_bits);
    }
    return found;
}

std::int32_t find_user_groups(const char *, const char *user, std::uint32_t *group_bits,
                              cv_uac_group_provider *provider) {
    const system_provider *p = system_of(provider);
    if (!p->groups || !p->index || p->groups->count == 0 || !user || !group_bits) return 0;
    const account_name name = split_name(user);
    if (const membership_record *record = cached(user))
        return set_bits_of_record(*p, *record, name, group_bits) ? 1 : 0;

    membership_record *record = look_up(user, name);
    if (!record) return 0;
    const bool found = set_bits_of_record(*p, *record, name, group_bits);
    if (!remember(record)) free_record(record);
    return found ? 1 : 0;
}

void release(cv_uac_group_provider *provider) {
    system_provider *p = system_of(provider);
    for (std::size_t i = 0; i < p->plugin_count; ++i) (void)cv_lib_unload(&p->plugins[i]);
    cv_uac_free(p->index);
    cv_uac_free(p);
}

// ---------------------------------------------------------------------------
// Plug-ins

/* The names in `folder` that match the plug-in pattern, sorted by bytes:
 * the order of loading is the same on every file system. */
class plugin_names {
public:
    plugin_names() = default;
    plugin_names(const plugin_names &) = delete;
    plugin_names &operator=(const plugin_names &) = delete;
    ~plugin_names() {
        for (std::size_t i = 0; i < count_; ++i) cv_uac_free(names_[i]);
        cv_uac_free(names_);
    }

    /* Lists `folder`; false (logged) when it cannot be listed or kept. */
    bool read(const char *folder) {
        cv_dir *listing = nullptr;
        if (const cv_status status = cv_dir_open(folder, &listing); status != CV_OK) {
            char text[kStatusTextSize];
            cv_log_error("Group plug-in folder %s cannot be listed, errno:%d, err desc:%s",
                         escaped(folder).c_str(), static_cast<int>(status),
                         cv_strerror(status, text, sizeof text));
            return false;
        }
        bool kept = true;
        char name[CV_PATH_SIZE];
        for (;;) {
            const cv_status status = cv_dir_read(listing, name, sizeof name);
            if (status == CV_E_END_REACHED) break;
            if (status != CV_OK) continue;  // a name too long, or a read error: the end follows
            if (cv_wildcard_match(CV_UAC_GROUP_PLUGIN_PATTERN, name) != 0) continue;
            if (!(kept = add(name))) break;
        }
        (void)cv_dir_close(&listing);
        std::sort(names_, names_ + count_,
                  [](const char *a, const char *b) { return std::strcmp(a, b) < 0; });
        return kept;
    }

    const char *const *begin() const { return names_; }
    const char *const *end() const { return names_ + count_; }

private:
    bool add(const char *name) {
        if (count_ == capacity_) {
            const std::size_t grown = capacity_ ? capacity_ * 2 : CV_UAC_MAX_GROUP_PLUGINS;
            auto *table =
                static_cast<char **>(CV_UAC_MALLOC(grown * sizeof(char *), kPluginListLabel));
            if (!table) return false;
            if (count_) std::memcpy(table, names_, count_ * sizeof(char *));
            cv_uac_free(names_);
            names_ = table;
            capacity_ = grown;
        }
        char *copy = CV_UAC_STRDUP(name, kPluginListLabel);
        if (!copy) return false;
        names_[count_++] = copy;
        return true;
    }

    char **names_ = nullptr;
    std::size_t count_ = 0;
    std::size_t capacity_ = 0;
};

/* Loads plug-in `name` of `folder` and lets it append its providers; true
 * when the library is kept. */
bool load_plugin(system_provider &p, const char *folder, const char *name,
                 std::uint32_t allowed_uid, cv_uac_group_provider ***tail_holder) {
    char path[CV_PATH_SIZE];
    if (cv_path_combine(folder, name, path, sizeof path) != CV_OK)
        (void)cv_str_copy(path, name, sizeof path);
    cv_lib_handle lib = nullptr;
    char reason[CV_LIB_REASON_SIZE];
    if (cv_lib_load_trusted(&lib, folder, name, allowed_uid, reason, sizeof reason) != CV_OK) {
        cv_log_error("Group plug-in %s refused: %s", escaped(path).c_str(),
                     escaped(reason).c_str());
        return false;
    }
    cv_lib_function entry = nullptr;
    if (cv_lib_symbol(&lib, CV_UAC_GROUP_PLUGIN_ENTRY, &entry) != CV_OK || !entry) {
        cv_log_error("Group plug-in %s not loaded: it does not export %s", escaped(path).c_str(),
                     CV_UAC_GROUP_PLUGIN_ENTRY);
        (void)cv_lib_unload(&lib);
        return false;
    }
    cv_log_info("Group plug-in %s loaded", escaped(path).c_str());
    p.plugins[p.plugin_count++] = lib;
    reinterpret_cast<cv_uac_group_plugin_entry>(entry)(tail_holder);
    return true;
}

void load_plugins(system_provider &p, const char *folder, std::uint32_t allowed_uid,
                  cv_uac_group_provider ***tail_holder) {
    plugin_names names;
    if (!names.read(folder)) return;
    for (const char *name : names) {
        if (p.plugin_count == CV_UAC_MAX_GROUP_PLUGINS) {
            cv_log_error("Group plug-in limit of %zu reached: %s and the plug-ins after it are "
                         "not loaded",
                         CV_UAC_MAX_GROUP_PLUGINS, escaped(name).c_str());
            return;
        }
        (void)load_plugin(p, folder, name, allowed_uid, tail_holder);
    }
}

/* The owner of the running program's file; root when it cannot be read. */
std::uint32_t program_owner() {
    char exe[CV_PATH_SIZE];
    cv_file_status status{};
    if (cv_path_get_exe_path(exe, sizeof exe) < 0 || cv_file_stat_path(exe, &status, 0) != CV_OK)
        return 0;
    return static_cast<std::uint32_t>(status.user_id);
}

}  // namespace

void cv_uac_register_group_providers_trusting(const char *folder, std::uint32_t allowed_uid,
                                              cv_uac_group_provider ***tail_holder) {
    if (!tail_holder || !*tail_holder) return;
    auto *p = static_cast<system_provider *>(CV_UAC_CALLOC(sizeof(system_provider), kProviderLabel));
    if (!p) return;
    p->record = {set_groups, find_user_groups, release, nullptr};
    if (folder) load_plugins(*p, folder, allowed_uid, tail_holder);
    **tail_holder = &p->record;
    *tail_holder = &p->record.next;
}

void cv_uac_register_group_providers_from(const char *folder,
                                          cv_uac_group_provider ***tail_holder) {
    cv_uac_register_group_providers_trusting(folder, program_owner(), tail_holder);
}

void cv_uac_register_group_providers(cv_uac_group_provider ***tail_holder) {
    char folder[CV_PATH_SIZE];
    const bool found = cv_path_get_exe_dir(folder, sizeof folder) >= 0;
    if (!found) cv_log_error("Unable to determine executable path.  Group plug-ins not loaded.");
    cv_uac_register_group_providers_trusting(found ? folder : nullptr, program_owner(),
                                             tail_holder);
}
