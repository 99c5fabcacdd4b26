// The shell's entry: the steps of one login, from the arguments and the
// environment to an accepted command or a refusal.
//
// The log is opened first.  The login's arguments come in one of a few forms:
// "-c" and a command line (the SSH server running the user's login shell),
// "-t" or "-c" with "...cvshell -t" (a forced command, where the client's
// command is in SSH_ORIGINAL_COMMAND), or anything else, which is refused.
// Whatever the form, the command is brought into the shape "-c" plus one
// command line before acceptance sees it.
//
// shell_main is the list of a login's steps: the login form, the
// configuration, the decision, the hardened environment, the launch.  Each
// step either lets the login go on or gives the shell's exit status, and
// shell_main alone returns it: nothing below ends the process.
//
// Standard output is the child's data channel: the shell never writes to
// it.  Its own notices go to the log, its answers to the client to standard
// error.  Whatever of the client's text the log records goes through
// shell_log_text first: escaped and bounded.
#include <cstdarg>
#include <cstring>
#include <string>

#include "cvplatform/cv_env.h"
#include "cvplatform/cv_error.h"
#include "cvplatform/cv_log.h"
#include "cvplatform/cv_path.h"
#include "cvplatform/cv_process.h"
#include "cvplatform/cv_str.h"
#include "cvshell/shell.h"
#include "shell_internal.h"
#include "uac/cv_uac.h"

shell_state g_shell;

namespace {

constexpr const char *log_name = "corvane-cvshell.log";
constexpr const char *forced_command_pattern = "*cvshell -t";
constexpr const char *original_command_variable = "SSH_ORIGINAL_COMMAND";
constexpr const char *restricted_program_marker = "cvshell-r";
/* The executable path buffer leaves one byte of the path size unused. */
constexpr std::size_t exe_path_size = CV_PATH_SIZE - 1;
constexpr std::size_t error_text_size = 256;

char print_buffer[SHELL_PRINT_BUFFER_SIZE];

void console_vprintf(int stream, const char *fmt, va_list args) {
    int n = cv_vsnprintf(print_buffer, sizeof print_buffer, fmt, args);
    if (n < 0) return;
    std::size_t len = static_cast<std::size_t>(n);
    if (len >= sizeof print_buffer) len = std::strlen(print_buffer);
    (void)cv_console_write(stream, print_buffer, len);
}

/* The forced-command forms: "-t" alone, or "-c" with "...cvshell -t". */
bool is_forced_command_form(int argc, char **argv) {
    if (argc == 2 && std::strcmp(argv[1], "-t") == 0) return true;
    return argc == 3 && std::strcmp(argv[1], "-c") == 0 &&
           cv_wildcard_match(forced_command_pattern, argv[2]) == 0;
}

/* A step's result when the login goes on to the next step. */
constexpr int login_continues = -1;

/* The exit status of a login that cannot be served. */
constexpr int failure_status = 1;
/* The exit status of an argument form the shell does not serve. */
constexpr int no_command_status = 0;

int fail_without_original_command(char **envp) {
    err_printf("Invalid arguments.  -t without SSH_ORIGINAL_COMMAND\n");
    shell_log_environment_block(envp);
    cv_log_flush();
    cv_log_close();
    return failure_status;
}

int configuration_error() {
    err_printf("Server configuration error\n");
    return failure_status;
}

/* The login's arguments, brought into the form "-c" and one command line
 * where they have it. */
struct login_form {
    int argc;
    char **argv;
    bool forced = false;
};

/* The login form: the mode from the program's name, and on a forced
 * command the client's command from SSH_ORIGINAL_COMMAND in place of the
 * arguments (in restricted mode). */
int read_login_form(login_form &login, char **envp) {
    g_shell.policy.full_shell = !(login.argc > 0 && login.argv[0] &&
                                  std::strstr(login.argv[0], restricted_program_marker));

    static char command[SHELL_COMMAND_SIZE];
    static char *forced_argv[4];
    login.forced = is_forced_command_form(login.argc, login.argv);
    if (!login.forced) return login_continues;
    if (cv_getenv(original_command_variable, command, sizeof command) != CV_OK)
        return fail_without_original_command(envp);
    const char *start = std::strstr(command, " -c ");
    if (start) {
        cv_log_info("Original command as sent: %s", shell_log_text(command).c_str());
        start += 4;
        std::memmove(command, start, std::strlen(start) + 1);
    }
    forced_argv[0] = login.argv[0];
    forced_argv[1] = const_cast<char *>("-c");
    forced_argv[2] = command;
    forced_argv[3] = nullptr;
    login.argv = forced_argv;
    login.argc = 3;
    g_shell.policy.full_shell = false;
    return login_continues;
}

/* The configuration: the install paths, the search path, the settings. */
int load_configuration() {
    if (find_install_paths() != 0) return configuration_error();
    fix_path_environment();
    if (load_shell_settings() != 0) return configuration_error();
    return login_continues;
}

/* The command to decide on: the pieces of a split command joined, the
 * arguments logged, and anything but "-c" and one command line refused
 * without a word to the client. */
int take_command(login_form &login) {
    static char joined[SHELL_COMMAND_SIZE];
    static char *joined_argv[4];
    if (login.argc > 3) {
        if (join_args(login.argc - 2, login.argv + 2, joined, sizeof joined) != 0) {
            log_illegal_use("too many or too large args");
            return no_command_status;
        }
        joined_argv[0] = login.argv[0];
        joined_argv[1] = login.argv[1];
        joined_argv[2] = joined;
        joined_argv[3] = nullptr;
        login.argv = joined_argv;
        login.argc = 3;
    }

    // At most two arguments are left here: the join took any more.
    for (int i = 1; i < login.argc; ++i)
        cv_log_info("Arg: %s", shell_log_text(login.argv[i]).c_str());

    if (login.argc != 3 || std::strcmp(login.argv[1], "-c") != 0) {
        log_illegal_use("shell");
        return no_command_status;
    }
    const shell_identity &identity = shell_login_identity();
    cv_log_info("Login user=%s client=%s", identity.user_text.c_str(),
                identity.client_text.c_str());
    cv_log_info("Execute shell command: %s", shell_log_text(login.argv[2]).c_str());
    return login_continues;
}

}  // namespace

void err_printf(const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    console_vprintf(CV_CONSOLE_ERR, fmt, args);
    va_end(args);
}

int find_install_paths() {
    char exe_path[exe_path_size];
    const int rc = cv_path_get_exe_path(exe_path, sizeof exe_path);
    if (rc < 0) {
        cv_log_error("Error determining executable path (rc=%d)", rc);
        err_printf("Error determining executable path\n");
        return -1;
    }
    char dir[CV_PATH_SIZE];
    if (cv_path_get_exe_dir(dir, sizeof dir) < 0) {
        cv_log_error("Error determining executable path (rc=%d)", -1);
        err_printf("Error determining executable path\n");
        return -1;
    }
    g_shell.exe_dir = dir;

    char conf[CV_PATH_SIZE];
    // The framework's own search: corvane.conf, or the place it would have
    // beside a conf.d folder that stands alone.
    if (cv_uac_find_conf_file(exe_path, conf, sizeof conf) != CV_OK) {
        cv_log_error("Error: configuration file not found.");
        return -1;
    }
    g_shell.conf_path = conf;
    if (cv_log_verbosity >= 1) cv_log_debug("Configuration file: %s", conf);
    return 0;
}

std::string shell_cygdrive_path_assignment(const std::string &name, const std::string &exe_dir,
                                           const std::string &old_value) {
    std::string dir = exe_dir;
    for (char &c : dir)
        if (c == '\\' || c == ':') c = '/';
    return name + "=/cygdrive/" + dir + ":" + old_value;
}

std::string shell_posix_path_value(const std::string &exe_dir, const std::string &old_value) {
    // An empty element would put the working directory on the search path.
    if (old_value.empty()) return exe_dir;
    return exe_dir + ":" + old_value;
}

int fix_path_environment() {
    // The first spelling that is set (even to nothing) is the search path.
    // Its old value is kept exactly, whatever its length or bytes: a search
    // path cut or dropped would send the child's own lookups elsewhere.
    std::string old_value;
    const char *name = nullptr;
    for (const char *candidate : {"PATH", "path", "Path"}) {
        if (cv_getenv_bytes(candidate, &old_value) == CV_OK) {
            name = candidate;
            break;
        }
    }
    if (!name) {
        cv_log_error("Error reading PATH");
        name = "PATH";
        old_value.clear();
    }
    const std::string value = shell_posix_path_value(g_shell.exe_dir, old_value);
    if (const cv_status status = cv_setenv_bytes(name, value); status != CV_OK) {
        char text[error_text_size];
        cv_log_error("Error setting %s, errno:%d, err desc:%s", name, static_cast<int>(status),
                     cv_strerror(status, text, sizeof text));
    }
    return 0;
}

std::string shell_log_text(std::string_view text, std::size_t capacity) {
    std::string escaped(capacity, '\0');
    (void)cv_log_escape(text.data(), text.size(), escaped.data(), escaped.size());
    escaped.resize(std::strlen(escaped.c_str()));
    return escaped;
}

int join_args(int count, char *const *args, char *buffer, std::size_t size) {
    if (count > 3) return -1;
    if (count < 1) return 0;
    std::size_t pos = 0;
    for (int i = 0; i < count; ++i) {
        if (i > 0 && cv_str_to(buffer, " ", 1, size, &pos) != CV_OK) return -1;
        if (cv_str_append(buffer, args[i], size, &pos) != CV_OK) return -1;
    }
    return 0;
}

int shell_main(int argc, char **argv, char **envp) {
    // Before the log opens: a closed standard stream would lend its number
    // to the log's folder or file, and console answers would land in the log.
    (void)cv_process_ensure_standard_streams();
    (void)cv_log_init(1, log_name);

    login_form login{argc, argv};
    if (const int status = read_login_form(login, envp); status != login_continues)
        return status;
    shell_prepare_environment(login.forced, g_shell.policy.full_shell);
    if (const int status = load_configuration(); status != login_continues) return status;
    if (const int status = take_command(login); status != login_continues) return status;

    const char *command = login.argv[2];
    const shell_decision decision = shell_decide(g_shell.policy, command);
    log_decision(decision);
    if (!decision.accepted) return refuse_command(command);
    shell_harden_environment();
    return run_command(command);
}
