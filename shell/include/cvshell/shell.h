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

#include "cvshell/policy.h"

struct cv_uac_conf_set;
struct cv_uac_user;

/* Size of the command buffer and of the console print buffer. */
inline constexpr std::size_t SHELL_COMMAND_SIZE = 2048;
inline constexpr std::size_t SHELL_PRINT_BUFFER_SIZE = 2048;

/* The shell's process-wide state, set during set-up and read by the
 * decision and the launch. */
struct shell_state {
    /* The mode, the user's and the server's settings the decision reads. */
    shell_policy policy;
    std::string exe_dir;   /* directory of the running executable */
    std::string conf_path; /* full path of corvane.conf (it may be absent beside its conf.d) */
    cv_uac_conf_set *conf_set = nullptr;  /* the loaded configuration; lives to the end */
    cv_uac_user *user_settings = nullptr; /* the login's user settings; live to the end */
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

/* Loads the user's settings and the server's database port into
 * g_shell.policy, logging every failure.  0 on success; the user-name
 * look-up's status when the user cannot be named; -2 when no configuration
 * set could be loaded; -1 when the configuration is not of version 2, the
 * master group set cannot be made, or the user's settings cannot be
 * built. */
int load_shell_settings();

/* Logs "Illegal cvshell use command=%s user=%s client=%s". */
void log_illegal_use(const char *command);

/* At debug verbosity, logs the entry that accepted a command or the reason
 * it was refused. */
void log_decision(const shell_decision &decision);

/* Answers a refused command: the illegal-use line in the log, "Command not
 * accepted: %s" on standard error.  Returns the shell's exit status, 1. */
int refuse_command(const char *command);

/* Builds and runs an accepted command from the program directory.  After
 * the child has ended, the shell's exit status (see launch_process); 1,
 * with the reason on standard error, when it could not be started. */
int run_command(const char *command);

/* The shell's entry: every step of a login.  Returns the exit status. */
int shell_main(int argc, char **argv, char **envp);
