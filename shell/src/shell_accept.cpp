// Command acceptance: is one complete command line one the shell may run?
//
// The built-in table is walked first, then the user's extra command list; the
// first entry that matches accepts.  A leading "!" gates an entry on full
// mode and on the user's directory-command permission.  A literal entry
// matches only the identical text.  An entry holding "%" is a scan pattern:
// it admits the transfer tool with an explicit management port.  The pattern
// is read by a small scanner of our own, so that no untrusted text ever
// reaches the C library's scan functions, and it is stricter than a
// formatted scan: every character of the pattern outside a conversion,
// blanks included, must equal the next character of the text (one blank
// matches one blank, never a tab or a run), %d reads an unsigned run of
// decimal digits and nothing else, %s and %[set] read as a formatted scan
// does but skip no white space, and the text must be read to its end.  What
// the tool receives after the split into arguments is then exactly what was
// checked: a glued "-M2000" or "files-M" never passes as two words.  Any
// conversion other than %d, %s, %[set] (each with an optional width) and %%
// makes the entry match nothing.
#include <cctype>
#include <climits>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "cvplatform/cv_error.h"
#include "cvplatform/cv_log.h"
#include "cvplatform/cv_str.h"
#include "cvshell/shell.h"
#include "shell_internal.h"

namespace {

constexpr const char *builtin_command_table[] = {
    "cvcp -S. -V1",
    "cvcp4 -S.",
    "cvcp --no-mgmt-port-files -M %d %20[ -16.SV]%1s",
    "cvsync -q -S -s-",
    "!cvcmd",
    "!cvcmd -V2",
    nullptr,
};

/* The two tails that a scan pattern admits after the port. */
constexpr std::string_view accepted_tails[] = {"-6 -S. -V1", "-S. -V1"};

constexpr int lowest_port = 1024;
constexpr int highest_port = 65535;
/* A signed 32-bit integer has at most ten digits. */
constexpr std::size_t max_port_digits = 10;

/* The widest field a pattern may give a conversion. */
constexpr std::size_t max_scan_width = 4096;

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

}  // namespace

scan_result shell_scan(std::string_view input, std::string_view format) {
    scan_result result;
    std::size_t in = 0;
    scan_into(input, format, result, in);
    result.consumed = in;
    return result;
}

namespace {

/* True when `command` holds a control character other than a tab.  No
 * pattern of ours holds one, and a line end or form feed that reached a tool
 * inside an argument would be something other than what the log shows; such
 * a command is kept out whatever an extra entry's pattern says. */
bool has_control_character(const char *command) {
    for (const char *p = command; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if ((c < 0x20 && c != '\t') || c == 0x7f) return true;
    }
    return false;
}

/* A scan-pattern entry: the port and exactly one of the two tails. */
int match_scan_pattern(const char *command, const char *entry) {
    const shell_user_settings *user = g_shell.user_settings;
    if (!user || !user->cvsync_enabled) return 0;
    if (has_control_character(command)) return 0;

    const scan_result scan = shell_scan(command, entry);
    if (scan.unsupported || scan.overflow) return 0;
    // Nothing may be left over, not even what the pattern's last conversion
    // failed to read.
    if (scan.consumed != std::strlen(command)) return 0;
    // A third item means that text follows the tail.
    if (scan.items.size() != 2) return 0;
    const scan_item &port = scan.items[0];
    const scan_item &tail = scan.items[1];
    if (!port.is_number || tail.is_number) return 0;
    if (port.number < lowest_port || port.number > highest_port) return 0;
    if (port.number == g_shell.reserved_db_port) return 0;
    for (std::string_view accepted : accepted_tails)
        if (tail.text == accepted) return 1;
    return 0;
}

/* Matches one table or list entry under the "!" gate. */
int match_entry(const char *command, const char *entry) {
    if (entry[0] == '!') {
        if (!g_shell.dir_commands_allowed || !g_shell.full_shell) return 0;
        ++entry;
    }
    return match_command_pattern(command, entry);
}

}  // namespace

int match_command_pattern(const char *command, const char *entry) {
    if (!command || !entry) return 0;
    if (!std::strchr(entry, '%')) return std::strcmp(command, entry) == 0 ? 1 : 0;
    return match_scan_pattern(command, entry);
}

int accept_command(const char *command) {
    if (!command) return 0;
    for (const char *const *entry = builtin_command_table; *entry; ++entry)
        if (match_entry(command, *entry)) return 1;

    const shell_user_settings *user = g_shell.user_settings;
    if (user && user->has_additional_shell_calls)
        for (const std::string &entry : user->additional_shell_calls)
            if (match_entry(command, entry.c_str())) return 1;
    return 0;
}

void log_illegal_use(const char *command) {
    // The command is cut before the identity fields could be: the line
    // keeps user= and client= whole whatever the command's length.
    static_assert(sizeof "Illegal cvshell use command= user= client=" - 1 +
                          SHELL_LOG_TEXT_SIZE - 1 + SHELL_LOG_USER_SIZE - 1 +
                          SHELL_LOG_CLIENT_SIZE - 1 <=
                      SHELL_LOG_MESSAGE_ROOM);
    const shell_identity &identity = shell_login_identity();
    cv_log_info("Illegal cvshell use command=%s user=%s client=%s",
                shell_log_text(command ? command : "").c_str(), identity.user_text.c_str(),
                identity.client_text.c_str());
}
