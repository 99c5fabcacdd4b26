// The shell's decision: may this login run this command line?
//
// A policy is everything the decision depends on, gathered once per login:
// the built-in command table, the extra command lines the configuration
// grants the user (each with the file and line it was written at), the
// shell's mode, the user's directory-command permission and sync switch,
// and the port the server's database keeps.  shell_decide judges one
// command line against a policy and says which entry accepted it or why
// none did.  It reads no process-wide state, logs nothing and never ends
// the process, so the shell and the administrator's tools reach the same
// verdict for the same configuration.
//
// The rules, in table order, built-in entries before the extra ones; the
// first entry that accepts decides:
//   - An entry that starts with "!" is gated: it applies only in full mode
//     (never for a forced command or under the cvshell-r name) and only when
//     the user's first docroot allows directory commands.  One "!" is taken
//     off; the rest is matched as below.
//   - An entry without "%" is a literal: the command must be the same bytes,
//     no blank more or less, no prefix.
//   - An entry with "%" is a scan pattern, read by the shell's own strict
//     scanner (shell_scan): the text must be read to its end, the scan must
//     assign exactly a port (%d) and a tail, the port must lie from 1024 to
//     65535 and differ from the database's port, and the tail must be
//     "-6 -S. -V1" or "-S. -V1".  A scan pattern applies only while the
//     user's cvsync_enabled is true, and never to a command that holds a
//     control character other than a tab.
// The extra entries follow the same rules as the built-in ones: they can
// add command lines, never take a built-in one away.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cvplatform/cv_status.h"

struct cv_uac_user;
struct cv_uac_server;

/* The database port reserved when no server settings say otherwise. */
inline constexpr std::uint32_t SHELL_DEFAULT_DB_PORT = 31415;

/* The built-in command table, in the order it is walked. */
std::span<const std::string_view> shell_builtin_commands();

/* One extra command line of the user's settings. */
struct shell_extra_command {
    std::string text;  /* the `command` item, trimmed, exactly as the list holds it */
    std::string file;  /* the file its element was read from; "" when not known */
    long line = 0;     /* the line of its element; 0 when not known */
};

/* What a decision depends on.  A default policy is the shell's before any
 * settings are known: full mode, directory commands and sync allowed, the
 * default database port, no extra commands. */
struct shell_policy {
    std::span<const std::string_view> builtin = shell_builtin_commands();
    std::vector<shell_extra_command> extra; /* in document order */
    bool full_shell = true;                 /* false: the "!" entries never apply */
    bool dir_commands_allowed = true;       /* the user's first docroot's dir_allowed */
    bool cvsync_enabled = true;             /* the user's switch for the scan patterns */
    std::uint32_t reserved_db_port = SHELL_DEFAULT_DB_PORT; /* the server's db_port */
};

/* Why a command line was refused. */
enum class shell_refusal {
    none,              /* accepted */
    no_match,          /* no entry has the command's form */
    restricted_mode,   /* a "!" entry has it, but the shell runs restricted */
    no_dir_commands,   /* a "!" entry has it, but directory commands are not allowed */
    sync_disabled,     /* a scan pattern has it, but cvsync_enabled is false */
    port_out_of_range, /* a scan pattern has it, but the port is not 1024 to 65535 */
    port_reserved,     /* a scan pattern has it, but the port is the database's */
    control_character, /* the command holds a control character a scan pattern never takes */
};

/* The fixed text of a refusal reason:
 *   none               "accepted"
 *   no_match           "no entry matches"
 *   restricted_mode    "\"!\" entry in restricted mode"
 *   no_dir_commands    "\"!\" entry without directory commands"
 *   sync_disabled      "management port form with cvsync disabled"
 *   port_out_of_range  "management port out of range"
 *   port_reserved      "management port reserved for the database"
 *   control_character  "control character in the command" */
const char *shell_refusal_text(shell_refusal reason);

/* Where the deciding entry stands. */
enum class shell_entry_source {
    none,    /* no entry: an acceptance never has this, a no_match refusal always */
    builtin, /* a row of the built-in table */
    extra,   /* an item of the user's extra list */
};

/* The verdict on one command line.  For an acceptance the entry is the one
 * that accepted; for a refusal other than no_match it is the first entry
 * (in table order) that had the command's form but whose gate or port rule
 * refused it, and `reason` is that rule.  Every view and pointer refers into
 * the policy decided on and lives as long as it. */
struct shell_decision {
    bool accepted = false;
    shell_refusal reason = shell_refusal::no_match;
    shell_entry_source source = shell_entry_source::none;
    std::size_t index = 0;                     /* row or item number, from 0 */
    std::string_view entry;                    /* the entry's text, "!" included */
    const shell_extra_command *extra = nullptr; /* the item, for source extra */
};

/* Judges `command` against `policy` by the rules above. */
shell_decision shell_decide(const shell_policy &policy, std::string_view command);

/* Fills what `*policy` takes from the configuration: `cvsync_enabled` and
 * the extra list from `user` (the `additional_shell_calls` items, each with
 * the file and line of its `command` element when its option was read from
 * one), `dir_commands_allowed` from the user's first docroot (true when the
 * user has none), `reserved_db_port` from `server`'s db_port (null server:
 * SHELL_DEFAULT_DB_PORT).  `builtin` and `full_shell` are left as they are.
 * 0; 22 for a null `user` or `policy`; 8 out of memory (`*policy` unchanged
 * on failure). */
[[nodiscard]] cv_status shell_policy_from_settings(const cv_uac_user *user,
                                                   const cv_uac_server *server,
                                                   shell_policy *policy);
