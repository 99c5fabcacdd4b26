// The shell's decision (policy.h): the built-in table, the strict scanner
// that reads the management-port form, and the policy built from a user's
// and the server's settings.
//
// The scan patterns are read by a small scanner of our own, so that no
// untrusted text ever reaches the C library's scan functions, and it is
// stricter than a formatted scan: every character of the pattern outside a
// conversion, blanks included, must equal the next character of the text
// (one blank matches one blank, never a tab or a run), %d reads an unsigned
// run of decimal digits and nothing else, %s and %[set] read as a formatted
// scan does but skip no white space, and the text must be read to its end.
// What the tool receives after the split into arguments is then exactly what
// was checked: a glued "-M2000" or "files-M" never passes as two words.  Any
// conversion other than %d, %s, %[set] (each with an optional width) and %%
// makes the entry match nothing.
#include <cctype>
#include <climits>
#include <new>
#include <string>
#include <string_view>

#include "cvshell/policy.h"
#include "shell_internal.h"
#include "uac/cv_uac_docroot.h"
#include "uac/cv_uac_server.h"
#include "uac/cv_uac_types.h"
#include "uac/cv_uac_user.h"

namespace {

constexpr std::string_view builtin_command_table[] = {
    "cvcp -S. -V1",
    "cvcp4 -S.",
    "cvcp --no-mgmt-port-files -M %d %20[ -16.SV]%1s",
    "cvsync -q -S -s-",
    "!cvcmd",
    "!cvcmd -V2",
};

/* The two tails that a scan pattern admits after the port. */
constexpr std::string_view accepted_tails[] = {"-6 -S. -V1", "-S. -V1"};

constexpr long long lowest_port = 1024;
constexpr long long highest_port = 65535;
/* A signed 32-bit integer has at most ten digits. */
constexpr std::size_t max_port_digits = 10;

/* The widest field a pattern may give a conversion. */
constexpr std::size_t max_scan_width = 4096;

/* The item element of the extra command list. */
constexpr const char *command_item = "command";

bool is_scan_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

/* A parsed "%[...]" set. */
struct scan_set {
    bool negated = false;
    bool member[256] = {};
    bool contains(char c) const { return member[static_cast<unsigned char>(c)] != negated; }
};

/* Parses the set that starts after "%[" at `f`; returns the position after
 * the closing "]", or npos when the set is not closed. */
std::size_t parse_scan_set(std::string_view format, std::size_t f, scan_set &set) {
    if (f < format.size() && format[f] == '^') {
        set.negated = true;
        ++f;
    }
    const std::size_t first = f;
    while (f < format.size() && (format[f] != ']' || f == first)) {
        const unsigned char lo = static_cast<unsigned char>(format[f]);
        if (f + 2 < format.size() && format[f + 1] == '-' && format[f + 2] != ']') {
            const unsigned char hi = static_cast<unsigned char>(format[f + 2]);
            for (unsigned c = lo; c <= hi; ++c) set.member[c] = true;
            f += 3;
        } else {
            set.member[lo] = true;
            ++f;
        }
    }
    if (f >= format.size()) return std::string_view::npos;
    return f + 1;
}

/* The body of shell_scan; `in` is left where the scan stopped. */
void scan_into(std::string_view input, std::string_view format, scan_result &result,
               std::size_t &in) {
    std::size_t f = 0;
    while (f < format.size()) {
        const char fc = format[f];
        if (fc != '%') {
            // Blanks included: one character of the pattern, one of the text.
            if (in >= input.size() || input[in] != fc) return;
            ++in;
            ++f;
            continue;
        }
        ++f;
        if (f < format.size() && format[f] == '%') {
            if (in >= input.size() || input[in] != '%') return;
            ++in;
            ++f;
            continue;
        }
        std::size_t width = 0;
        while (f < format.size() && format[f] >= '0' && format[f] <= '9') {
            width = width * 10 + static_cast<std::size_t>(format[f] - '0');
            if (width > max_scan_width) {
                result.unsupported = true;
                return;
            }
            ++f;
        }
        if (f >= format.size()) {
            result.unsupported = true;
            return;
        }
        const std::size_t limit = width == 0 ? std::string_view::npos : width;
        const char conversion = format[f++];
        scan_item item;
        if (conversion == 'd') {
            std::size_t end = in;
            while (end < input.size() && end - in < limit && is_digit(input[end])) ++end;
            if (end == in) return;
            if (end - in > max_port_digits) {
                result.overflow = true;
                return;
            }
            long long value = 0;
            for (std::size_t i = in; i < end; ++i) value = value * 10 + (input[i] - '0');
            if (value > INT_MAX) {
                result.overflow = true;
                return;
            }
            item.is_number = true;
            item.number = static_cast<int>(value);
            in = end;
        } else if (conversion == 's') {
            const std::size_t start = in;
            while (in < input.size() && in - start < limit && !is_scan_space(input[in])) ++in;
            if (in == start) return;
            item.text.assign(input.substr(start, in - start));
        } else if (conversion == '[') {
            scan_set set;
            f = parse_scan_set(format, f, set);
            if (f == std::string_view::npos) {
                result.unsupported = true;
                return;
            }
            const std::size_t start = in;
            while (in < input.size() && in - start < limit && set.contains(input[in])) ++in;
            if (in == start) return;
            item.text.assign(input.substr(start, in - start));
        } else {
            result.unsupported = true;
            return;
        }
        result.items.push_back(std::move(item));
    }
}

/* True when `command` holds a control character other than a tab.  No
 * pattern of ours holds one, and a line end or form feed that reached a tool
 * inside an argument would be something other than what the log shows; such
 * a command is kept out whatever an extra entry's pattern says. */
bool has_control_character(std::string_view command) {
    for (const char ch : command) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if ((c < 0x20 && c != '\t') || c == 0x7f) return true;
    }
    return false;
}

/* How one entry judges a command: `fits` when the command has the entry's
 * form, then `reason` is none (the entry accepts) or the rule that refuses
 * it. */
struct entry_verdict {
    bool fits = false;
    shell_refusal reason = shell_refusal::no_match;
};

constexpr entry_verdict no_fit{};
constexpr entry_verdict refused_by(shell_refusal reason) { return {true, reason}; }

/* A scan-pattern entry: the whole text read, a port and exactly one of the
 * two tails, then the port's rules and the user's switch. */
entry_verdict match_scan_pattern(const shell_policy &policy, std::string_view command,
                                 std::string_view pattern) {
    if (has_control_character(command)) return refused_by(shell_refusal::control_character);

    const scan_result scan = shell_scan(command, pattern);
    if (scan.unsupported) return no_fit;
    // An overlong number stops the scan where the port would be: the form
    // is the management port's, the number is not a port.
    if (scan.overflow)
        return policy.cvsync_enabled ? refused_by(shell_refusal::port_out_of_range)
                                     : refused_by(shell_refusal::sync_disabled);
    // Nothing may be left over, not even what the pattern's last conversion
    // failed to read.
    if (scan.consumed != command.size()) return no_fit;
    // A third item means that text follows the tail.
    if (scan.items.size() != 2) return no_fit;
    const scan_item &port = scan.items[0];
    const scan_item &tail = scan.items[1];
    if (!port.is_number || tail.is_number) return no_fit;
    bool known_tail = false;
    for (std::string_view accepted : accepted_tails) known_tail |= tail.text == accepted;
    if (!known_tail) return no_fit;

    if (!policy.cvsync_enabled) return refused_by(shell_refusal::sync_disabled);
    if (port.number < lowest_port || port.number > highest_port)
        return refused_by(shell_refusal::port_out_of_range);
    if (static_cast<std::uint32_t>(port.number) == policy.reserved_db_port)
        return refused_by(shell_refusal::port_reserved);
    return refused_by(shell_refusal::none);
}

/* One table or list entry, under the "!" gate. */
entry_verdict match_entry(const shell_policy &policy, std::string_view command,
                          std::string_view entry) {
    const bool gated = entry.starts_with('!');
    if (gated) entry.remove_prefix(1);
    const entry_verdict verdict = entry.find('%') == std::string_view::npos
                                      ? (command == entry ? refused_by(shell_refusal::none) : no_fit)
                                      : match_scan_pattern(policy, command, entry);
    if (!verdict.fits || !gated) return verdict;
    if (!policy.full_shell) return refused_by(shell_refusal::restricted_mode);
    if (!policy.dir_commands_allowed) return refused_by(shell_refusal::no_dir_commands);
    return verdict;
}

/* Keeps the first acceptance, else the first entry that fit but was
 * refused.  True once decided. */
bool weigh(shell_decision &decision, const entry_verdict &verdict, shell_entry_source source,
           std::size_t index, std::string_view entry, const shell_extra_command *extra) {
    if (!verdict.fits) return false;
    const bool accepted = verdict.reason == shell_refusal::none;
    if (!accepted && decision.source != shell_entry_source::none) return false;
    decision.accepted = accepted;
    decision.reason = verdict.reason;
    decision.source = source;
    decision.index = index;
    decision.entry = entry;
    decision.extra = extra;
    return accepted;
}

}  // namespace

scan_result shell_scan(std::string_view input, std::string_view format) {
    scan_result result;
    std::size_t in = 0;
    scan_into(input, format, result, in);
    result.consumed = in;
    return result;
}

std::span<const std::string_view> shell_builtin_commands() { return builtin_command_table; }

const char *shell_refusal_text(shell_refusal reason) {
    switch (reason) {
    case shell_refusal::none: return "accepted";
    case shell_refusal::no_match: return "no entry matches";
    case shell_refusal::restricted_mode: return "\"!\" entry in restricted mode";
    case shell_refusal::no_dir_commands: return "\"!\" entry without directory commands";
    case shell_refusal::sync_disabled: return "management port form with cvsync disabled";
    case shell_refusal::port_out_of_range: return "management port out of range";
    case shell_refusal::port_reserved: return "management port reserved for the database";
    case shell_refusal::control_character: return "control character in the command";
    }
    return "no entry matches";
}

shell_decision shell_decide(const shell_policy &policy, std::string_view command) {
    shell_decision decision;
    for (std::size_t i = 0; i < policy.builtin.size(); ++i)
        if (weigh(decision, match_entry(policy, command, policy.builtin[i]),
                  shell_entry_source::builtin, i, policy.builtin[i], nullptr))
            return decision;
    for (std::size_t i = 0; i < policy.extra.size(); ++i) {
        const shell_extra_command &item = policy.extra[i];
        if (weigh(decision, match_entry(policy, command, item.text), shell_entry_source::extra,
                  i, item.text, &item))
            return decision;
    }
    return decision;
}

namespace {

/* Collects the located items of the list's element. */
void collect_item(xmlNode *item, const char *text, std::size_t length, void *context) {
    auto &items = *static_cast<std::vector<shell_extra_command> *>(context);
    shell_extra_command &command = items.emplace_back();
    command.text.assign(text, length);
    if (item->doc && item->doc->URL) command.file = reinterpret_cast<const char *>(item->doc->URL);
    command.line = xmlGetLineNo(item);
    if (command.line < 0) command.line = 0;
}

/* The extra command list of `user`: the option's value, each item with the
 * place its element was written when the option was read from one.  The
 * places come from walking the option's source element with the object's
 * variables, the walk the list reader made; the texts are the value's, and
 * a walk that does not give the same texts in the same order (the value was
 * set otherwise) leaves every item's place unknown rather than pairing a
 * text with another item's place. */
std::vector<shell_extra_command> extra_commands(const cv_uac_user *user) {
    std::vector<shell_extra_command> listed;
    for (const char *item = cv_uac_string_list_first(user->additional_shell_calls); item;
         item = cv_uac_string_list_next(item))
        listed.push_back({item, "", 0});
    if (listed.empty()) return listed;

    auto *object = const_cast<cv_uac_config_object *>(&user->object);
    const cv_uac_generic_entry *form =
        object->header.descriptor ? object->header.descriptor->get_generic_form(object, nullptr)
                                  : nullptr;
    xmlNode *source = nullptr;
    for (const cv_uac_generic_entry *entry = form; entry && entry->type != CV_UAC_TYPE_END;
         ++entry)
        if (entry->value == &user->additional_shell_calls) source = entry->source;
    if (!source) return listed;

    std::vector<shell_extra_command> located;
    if (cv_uac_string_list_visit_items(source, command_item, object->variables, collect_item,
                                       &located, nullptr) != CV_OK ||
        located.size() != listed.size())
        return listed;
    for (std::size_t i = 0; i < listed.size(); ++i)
        if (located[i].text != listed[i].text) return listed;
    return located;
}

}  // namespace

cv_status shell_policy_from_settings(const cv_uac_user *user, const cv_uac_server *server,
                                     shell_policy *policy) {
    if (!user || !policy) return CV_E_INVALID;
    try {
        std::vector<shell_extra_command> extra = extra_commands(user);
        policy->extra = std::move(extra);
    } catch (const std::bad_alloc &) {
        return CV_E_NO_MEMORY;
    }
    policy->cvsync_enabled = user->cvsync_enabled != 0;
    policy->dir_commands_allowed = user->docroots ? user->docroots->dir_allowed != 0 : true;
    policy->reserved_db_port = server ? server->db_port : SHELL_DEFAULT_DB_PORT;
    return CV_OK;
}
