// Pieces of the shell that its tests reach directly.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cvplatform/cv_status.h"

/* One item assigned by shell_scan. */
struct scan_item {
    bool is_number = false;
    int number = 0;
    std::string text;
};

/* The outcome of shell_scan: the items assigned before the scan stopped;
 * `consumed`, how many characters of the text were read by then;
 * `unsupported` when the pattern holds a conversion other than %d, %s, %[
 * and %%; `overflow` when a number has more digits or a larger value than a
 * signed 32-bit integer holds. */
struct scan_result {
    std::vector<scan_item> items;
    std::size_t consumed = 0;
    bool unsupported = false;
    bool overflow = false;
};

/* Scans `input` with the pattern `format`: a character outside a conversion
 * matches only itself (a blank exactly one blank); %d an unsigned run of
 * decimal digits; %s a run of non-blanks; %[set] a run from the set; %% a
 * percent sign.  No conversion skips white space. */
scan_result shell_scan(std::string_view input, std::string_view format);

/* What is started for an accepted command: the program's path (the program
 * directory joined with the program word), the argument vector (argv[0] is
 * the program's path) and the command line as logged. */
struct shell_launch {
    std::string program;
    std::vector<std::string> argv;
    std::string command_line;
};

/* Builds the launch of `command` from the program directory `exe_dir`.
 * 0; -1 when the command has no program word, the path does not fit, or the
 * program would lie outside the program directory. */
int shell_build_launch(const char *exe_dir, const char *command, shell_launch &launch);

/* Starts the launch and waits for the child, passing termination signals on
 * to it.  Once the child was started: its exit status (128 + the signal
 * number when a signal ended it), or 1 when its end could not be read;
 * negative when it could not be started, with the system's error in
 * `*os_error`. */
int launch_process(const shell_launch &launch, int *os_error);

/* True when variable `name` can make a loader, runtime or interpreter run
 * code of the environment's choosing. */
bool shell_is_unsafe_variable(std::string_view name);

/* Removes the unsafe variables from the process environment (which the child
 * inherits) and logs their names on one line. */
void shell_harden_environment();

/* Client text in the log.
 *
 * Everything a client chose (the command line and its arguments, the
 * original command of a forced login, environment names and values) reaches
 * the log escaped by cv_log_escape, so that it can neither end a line nor
 * drive a terminal, and bounded, so that one login writes a bounded amount:
 * a text beyond its bound is cut and ends in the cut mark.  The identity
 * fields have bounds of their own, sized so that a refusal line always keeps
 * them whole beside the longest command text. */

/* cv_log_info keeps this many bytes of a message. */
inline constexpr std::size_t SHELL_LOG_MESSAGE_ROOM = 4089;
/* One command line, argument or original command, escaped, terminator
 * included: a command of the shell's 2047-byte command size is kept whole
 * when it needs no escapes. */
inline constexpr std::size_t SHELL_LOG_TEXT_SIZE = 2048;
/* The user field of a log line: a user name of the 1024-byte name buffer
 * fits whole unless most of its bytes need escapes. */
inline constexpr std::size_t SHELL_LOG_USER_SIZE = 1536;
/* The client field: the 100-byte SSH_CONNECTION buffer, every byte
 * escaped. */
inline constexpr std::size_t SHELL_LOG_CLIENT_SIZE = 400;
/* One environment entry, or one variable name, in a listing. */
inline constexpr std::size_t SHELL_LOG_ENV_ENTRY_SIZE = 256;
/* At most this many "Env var" lines; the rest is counted on one line. */
inline constexpr std::size_t SHELL_LOG_ENV_ENTRIES = 64;
/* The list of removed variable names on one line. */
inline constexpr std::size_t SHELL_LOG_NAMES_SIZE = 2048;
/* What one login adds to the log at most, whatever the client sends.  The
 * command path writes about a dozen lines, each with at most one bounded
 * text: the owner mismatch (under 1 KiB), two arguments, the login's
 * identity, the command, the original command (2 KiB each), the refusal
 * (4 KiB), the removed names (2 KiB), the execution (4 KiB) and a few short
 * ones, some 21 KiB with the line headers.  The failure path of a forced
 * login writes the bounded environment listing, at most 65 lines of about
 * 330 bytes. */
inline constexpr std::size_t SHELL_LOG_LOGIN_BOUND = 32 * 1024;
/* The most a log line adds beside its message: timestamp, ids, level, CR LF. */
inline constexpr std::size_t SHELL_LOG_LINE_OVERHEAD = 64;

/* `text` escaped for the log, cut with the cut mark when its escaped form
 * does not fit `capacity` bytes (terminator included). */
std::string shell_log_text(std::string_view text, std::size_t capacity = SHELL_LOG_TEXT_SIZE);

/* Who the login is for and where it comes from. */
struct shell_identity {
    cv_status name_status = CV_OK; /* the user-name look-up's status */
    std::string name;         /* the current user's name; empty when unknown */
    std::string user_text;    /* the user field of log lines: the name or "unknown", escaped */
    std::string client_text;  /* SSH_CONNECTION or "unknown", escaped */
};

/* The login's identity, resolved on first use (the current user's name from
 * the platform, the client from SSH_CONNECTION) and kept for the process. */
const shell_identity &shell_login_identity();

/* The environment step of start-up: leaves one entry per variable name (the
 * one the shell reads), sets CORVANE_AUTH_TOKEN on a forced login and removes
 * any the client brought otherwise, and sets CORVANE_SHELL. */
void shell_prepare_environment(bool forced_command, bool full_shell);

/* Logs an environment block, one "Env var: %s" line per entry, each entry
 * escaped and bounded, at most SHELL_LOG_ENV_ENTRIES lines; how many were
 * left out is said on one more line. */
void shell_log_environment_block(char *const *envp);
