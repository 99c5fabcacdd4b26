// The restricted login shell: process-wide state and the steps of a login.
//
// An SSH server starts the shell once per login.  The shell reads its
// arguments and environment, brings them into the form "-c" and one command
// line, accepts that line only when it is one of the built-in transfer tool
// forms or an extra command that the configuration grants the user, starts
// it from the shell's own program directory and waits for it.  Everything
// else is refused and logged.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

/* Size of the command buffer and of the console print buffer. */
inline constexpr std::size_t SHELL_COMMAND_SIZE = 2048;
inline constexpr std::size_t SHELL_PRINT_BUFFER_SIZE = 2048;
/* The database port reserved when no server settings say otherwise. */
inline constexpr int SHELL_DEFAULT_DB_PORT = 31415;

/* What the shell keeps of the user's settings. */
struct shell_user_settings {
    bool cvsync_enabled = true;
    bool has_additional_shell_calls = false;
    std::vector<std::string> additional_shell_calls; /* trimmed, document order */
};

/* The shell's process-wide state, set during set-up and read by acceptance
 * and launch. */
struct shell_state {
    int full_shell = 1;            /* 0 = restricted: the "!" forms are refused */
    int dir_commands_allowed = 1;  /* the user's first docroot allows directory commands */
    int reserved_db_port = SHELL_DEFAULT_DB_PORT;
    std::string exe_dir;           /* directory of the running executable */
    std::string conf_path;         /* full path of corvane.conf */
    const shell_user_settings *user_settings = nullptr; /* none until loaded */
};

extern shell_state g_shell;

/* The console writer: formats into one 2048-byte buffer (longer output is
 * cut) and writes it unbuffered to standard error.  There is no writer for
 * standard output: it is the child's data channel, never the shell's. */
void err_printf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

/* Fills g_shell.exe_dir and g_shell.conf_path.  0, or -1 (logged). */
int find_install_paths();

/* Puts the program's own directory first on the search path.  Always 0. */
int fix_path_environment();

/* The Windows form of the search-path assignment: "<name>=/cygdrive/<dir>:"
 * followed by the old value, where <dir> is `exe_dir` with every backslash
 * and colon turned into "/" (D:\srv\bin becomes D//srv/bin). */
std::string shell_cygdrive_path_assignment(const std::string &name, const std::string &exe_dir,
                                           const std::string &old_value);

/* The POSIX form: the program's directory as it is, then the old value
 * (no empty element when there is no old value). */
std::string shell_posix_path_value(const std::string &exe_dir, const std::string &old_value);

/* Joins `count` strings (at most 3) with single blanks into `buffer`.
 * 0; -1 for more than three strings or when the result does not fit. */
int join_args(int count, char *const *args, char *buffer, std::size_t size);

/* Loads the user's settings and the server's database port.  0 on success. */
int load_shell_settings();

/* 1 when `command` may run, 0 when not (reads g_shell). */
int accept_command(const char *command);

/* 1 when `command` matches the table entry `entry` (without its "!"). */
int match_command_pattern(const char *command, const char *entry);

/* Logs "Illegal cvshell use command=%s user=%s client=%s". */
void log_illegal_use(const char *command);

/* Checks and runs the third argument; exits with status 1 on refusal or on
 * an error before the child runs; after the child has ended, returns the
 * shell's exit status (see launch_process). */
int run_command(int argc, char **argv);

/* The shell's entry: every step of a login.  Returns the exit status. */
int shell_main(int argc, char **argv, char **envp);
