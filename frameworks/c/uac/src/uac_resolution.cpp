// Which entries of a configuration apply to one user, and in which order:
// the precedence of every user setting.
//
// The list is built in four steps, each appending what it finds:
//   1. the user's own entries: all `user` entries whose name is the user's
//      (both names trimmed and normalised: alice@corp, CORP\alice and
//      corp/alice are one account); failing that, all whose name ends in a
//      backslash and the user's name, ignoring case, so that a bare login
//      name finds its domain-qualified entry (whose name then stands for the
//      user in the later steps, so the group providers see the domain);
//      failing that, the first whose name, read as a wildcard pattern,
//      matches the user's name;
//   2. the groups the group providers say the user is a member of, in the
//      master group set's order (ascending precedence);
//   3. the groups whose name matches a `name` of an entry already listed,
//      that name read as a wildcard pattern (or equal to it: a name such as
//      CORP\alice holds a backslash, which as a pattern would escape the
//      next character), the entries this step adds included;
//   4. every `default` element.
// The user entries are found in one pass over them, which also notes the
// candidates of the two fallbacks, so that a user without an entry of his
// own costs one walk of the users, not three.
//
// The list has a fixed room (CV_UAC_ENTRY_LIST_SIZE slots, the terminator
// included).  An entry that would not fit is never written: it is logged,
// one line each, and the user's settings are resolved without it, which
// only ever drops the entries of least precedence.
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cvplatform/cv_error.h"
#include "cvplatform/cv_log.h"
#include "cvplatform/cv_str.h"
#include "uac/cv_uac_user.h"
#include "uac/cv_uac_user_context.h"
#include "uac_internal.h"

namespace {

constexpr std::int32_t kUserPath[] = {PARSE_XML_TAG_aaa,   PARSE_XML_TAG_realms,
                                      PARSE_XML_TAG_realm, PARSE_XML_TAG_users,
                                      PARSE_XML_TAG_user,  PARSE_XML_END};
constexpr std::int32_t kDefaultPath[] = {PARSE_XML_TAG_default, PARSE_XML_END};

/* The realm the membership question is asked for: any. */
constexpr const char *kAnyRealm = "*";

/* Bytes of a log field naming an entry or a user. */
constexpr std::size_t kLogNameSize = 512;

std::string trimmed(const char *text) { return std::string(uac_trimmed(text)); }

/* A name without a domain separator, short enough for one name part: its
 * normalised form is its lower case. */
bool is_bare_name(std::string_view name) {
    return name.size() < CV_NAME_PART_SIZE && name.find_first_of("@\\/") == std::string_view::npos;
}

std::string lower_ascii(std::string text) {
    for (char &c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

/* `name` trimmed and normalised as account names are compared.  A name the
 * normalisation refuses (a part too long) is compared as written. */
std::string account_name(std::string text) {
    // A bare name normalises to its lower case: most entries of a large
    // configuration need no more than that.
    if (is_bare_name(text)) return lower_ascii(std::move(text));
    // A normalised name is at most two parts, a backslash and a terminator.
    constexpr std::size_t kRoom = 2 * CV_NAME_PART_SIZE + 2;
    if (text.size() >= kRoom) return text;  // a part is too long: as written
    char buffer[kRoom];
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    if (cv_user_name_normalize(buffer, sizeof buffer, CV_NAME_RESOLUTION_MODE) == CV_OK)
        text = buffer;
    return text;
}

/* True when the trimmed `name` is the account `wanted` (an account_name);
 * a bare name is compared without building its normalised copy. */
bool same_account(std::string_view name, const std::string &wanted) {
    if (!is_bare_name(name)) return account_name(std::string(name)) == wanted;
    if (name.size() != wanted.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != wanted[i])
            return false;
    }
    return true;
}

/* `text` with every wildcard character made literal. */
std::string literal_pattern(std::string_view text) {
    std::string pattern;
    for (char c : text) {
        if (c == '*' || c == '?' || c == '\\') pattern += '\\';
        pattern += c;
    }
    return pattern;
}

bool wildcard_matches(const std::string &pattern, const std::string &text) {
    return cv_wildcard_match(pattern.c_str(), text.c_str()) == 0;
}

/* Visits the text of every `name` child of `entry`, in document order. */
template <typename Visit>
void for_each_name(xmlNode *entry, Visit visit) {
    for (xmlNode *name = parse_xml_tracker_child(parse_xml_get_tracker(entry), PARSE_XML_TAG_name);
         name;) {
        visit(parse_xml_get_node_text(name));
        const parse_xml_tracker *record = parse_xml_get_tracker(name);
        name = record ? record->next_same_tag : nullptr;
    }
}

/* The list under construction: at most CV_UAC_ENTRY_LIST_SIZE - 1 entries,
 * each at most once. */
class entry_list {
public:
    explicit entry_list(const char *user_name) : user_name_(user_name ? user_name : "") {}

    bool contains(const xmlNode *entry) const {
        for (const xmlNode *listed : entries_)
            if (listed == entry) return true;
        return false;
    }

    void add(xmlNode *entry, const char *kind) {
        if (contains(entry)) return;
        if (entries_.size() < CV_UAC_ENTRY_LIST_SIZE - 1) {
            entries_.push_back(entry);
            return;
        }
        log_dropped(entry, kind);
    }

    std::size_t size() const { return entries_.size(); }
    xmlNode *at(std::size_t index) const { return entries_[index]; }

    /* The null-terminated table, from the framework heap; null when empty
     * or when it cannot be allocated. */
    xmlNode **release_table() const {
        if (entries_.empty()) return nullptr;
        auto *table = static_cast<xmlNode **>(
            CV_UAC_CALLOC(CV_UAC_ENTRY_LIST_SIZE * sizeof(xmlNode *),
                          "User config XML node table.  User information not loaded"));
        if (!table) return nullptr;
        for (std::size_t i = 0; i < entries_.size(); ++i) table[i] = entries_[i];
        return table;
    }

private:
    void log_dropped(xmlNode *entry, const char *kind) const {
        std::string name;
        for_each_name(entry, [&](const char *text) {
            if (name.empty() && text) name = trimmed(text);
        });
        char name_text[kLogNameSize];
        char user_text[kLogNameSize];
        (void)cv_log_escape(name.data(), name.size(), name_text, sizeof name_text);
        (void)cv_log_escape(user_name_.data(), user_name_.size(), user_text, sizeof user_text);
        const char *file = entry->doc && entry->doc->URL
                               ? reinterpret_cast<const char *>(entry->doc->URL)
                               : "-";
        cv_log_error("Entry list full: %s entry %s (%s:%ld) not applied to user %s", kind,
                     name_text[0] ? name_text : "-", file, xmlGetLineNo(entry), user_text);
    }

    std::string user_name_;
    std::vector<xmlNode *> entries_;
};

/* The user's own entries.  Returns the name the rest of the look-up uses:
 * the first domain-pattern entry's name when that fallback applied, else
 * `user_name`. */
std::string add_user_entries(const cv_uac_conf_set *set, const char *user_name,
                             entry_list &list) {
    const std::string wanted = account_name(trimmed(user_name));
    // The domain pattern "*\\NAME": any text ending in a backslash and the
    // name.  The name's own wildcard characters are made literal, so that a
    // name such as "*" cannot stand for every domain account.
    const std::string domain_pattern = lower_ascii("*\\\\" + literal_pattern(user_name));
    std::vector<xmlNode *> exact, by_domain;
    xmlNode *by_wildcard = nullptr;
    uac_for_each_match(set, kUserPath, [&](xmlNode *user) {
        bool exact_name = false, domain_name = false, wildcard_name = false;
        for_each_name(user, [&](const char *text) {
            if (!text) return;
            const std::string_view name = uac_trimmed(text);
            if (same_account(name, wanted)) {
                exact_name = true;
            } else if (exact.empty()) {
                // The fallbacks matter only while nothing better is found.
                // The domain pattern needs a backslash in the name; a name
                // without wildcard characters matches only itself.
                if (name.find('\\') != std::string_view::npos &&
                    wildcard_matches(domain_pattern, lower_ascii(std::string(name))))
                    domain_name = true;
                else if (by_domain.empty() && !by_wildcard &&
                         (name.find_first_of("*?\\") != std::string_view::npos
                              ? wildcard_matches(std::string(name), wanted)
                              : name == wanted))
                    wildcard_name = true;
            }
        });
        if (exact_name)
            exact.push_back(user);
        else if (domain_name && exact.empty())
            by_domain.push_back(user);
        else if (wildcard_name && !by_wildcard)
            by_wildcard = user;
    });

    if (!exact.empty()) {
        for (xmlNode *user : exact) list.add(user, "user");
        return user_name;
    }
    if (!by_domain.empty()) {
        for (xmlNode *user : by_domain) list.add(user, "user");
        std::string qualified;
        for_each_name(by_domain.front(), [&](const char *text) {
            if (qualified.empty() && text &&
                wildcard_matches(domain_pattern, lower_ascii(trimmed(text))))
                qualified = trimmed(text);
        });
        return qualified;
    }
    if (by_wildcard) list.add(by_wildcard, "user");
    return user_name;
}

/* The groups the providers say `user_name` is a member of, ascending
 * precedence.  The master group set counts only when it was built from
 * this set: another set's groups are not this set's elements. */
void add_member_groups(const cv_uac_conf_set *set, const std::string &user_name,
                       entry_list &list) {
    const uac_framework_state &s = uac_state();
    const cv_uac_master_group_set *groups = s.master_groups;
    if (!s.providers || !groups || groups->count == 0 || s.master_groups_source != set) return;
    std::vector<std::uint32_t> bits((groups->count + 31) / 32, 0);
    for (cv_uac_group_provider *provider = s.providers; provider; provider = provider->next)
        if (provider->find_user_groups &&
            provider->find_user_groups(kAnyRealm, user_name.c_str(), bits.data(), provider) != 0)
            break;
    for (std::uint32_t index = 0; index < groups->count; ++index)
        if (bits[index / 32] & (std::uint32_t{1} << (index % 32)))
            list.add(groups->entries[index].node, "group");
}

/* The groups named by the entries listed so far, and by the groups this
 * adds, each name read as a pattern for the group's trimmed, normalised
 * name. */
void add_named_groups(const cv_uac_conf_set *set, entry_list &list) {
    struct named_group {
        xmlNode *node;
        std::string name;
    };
    std::vector<named_group> groups;
    bool collected = false;
    for (std::size_t at = 0; at < list.size(); ++at) {
        for_each_name(list.at(at), [&](const char *text) {
            const std::string pattern = trimmed(text);
            if (pattern.empty()) return;
            if (!collected) {
                uac_for_each_match(set, UAC_GROUP_PATH, [&](xmlNode *group) {
                    for_each_name(group, [&](const char *name) {
                        if (name) groups.push_back({group, account_name(trimmed(name))});
                    });
                });
                collected = true;
            }
            const std::string as_account = account_name(pattern);
            for (const named_group &group : groups)
                if (group.name == as_account || wildcard_matches(pattern, group.name))
                    list.add(group.node, "group");
        });
    }
}

}  // namespace

xmlNode **cv_uac_get_user_or_group(const cv_uac_conf_set *set, const char *user_name) {
    if (!set) return nullptr;
    entry_list list(user_name);
    if (user_name) {
        const std::string resolved = add_user_entries(set, user_name, list);
        add_member_groups(set, resolved, list);
        if (list.size() > 0) add_named_groups(set, list);
    }
    uac_for_each_match(set, kDefaultPath, [&](xmlNode *node) { list.add(node, "default"); });
    return list.release_table();
}

cv_uac_user *cv_uac_get_user_settings(const cv_uac_conf_set *set, const char *user_name) {
    xmlNode **entries = cv_uac_get_user_or_group(set, user_name);
    cv_uac_user_context context{user_name, nullptr};
    cv_uac_user *user = nullptr;
    const cv_status status =
        cv_uac_load_user(set, entries, nullptr, user_name ? &context : nullptr, 0, &user);
    cv_uac_free(entries);
    if (status != CV_OK && user) {
        cv_uac_config_release(&user->object);
        user = nullptr;
    }
    return user;
}
