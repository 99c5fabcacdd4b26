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
// Standard output is the child's data channel: the shell never writes to
// it.  Its own notices go to the log, its answers to the client to standard
// error.  Whatever of the client's text the log records goes through
// shell_log_text first: escaped and bounded.
#include <cstdarg>
#include <cstdlib>
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

shell_state g_shell;

namespace {

constexpr const char *log_name = "corvane-cvshell.log";
constexpr const char *conf_name = "corvane.conf";
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

[[noreturn]] void exit_without_original_command(char **envp) {
    err_printf("Invalid arguments.  -t without SSH_ORIGINAL_COMMAND\n");
    shell_log_environment_block(envp);
    cv_log_flush();
    cv_log_close();
    std::exit(1);
}

[[noreturn]] void exit_configuration_error() {
    err_printf("Server configuration error\n");
    std::exit(1);
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
    if (cv_path_find_conf_file(conf_name, exe_path, conf, sizeof conf) < 0) {
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

    g_shell.full_shell = 1;
    if (argc > 0 && argv[0] && std::strstr(argv[0], restricted_program_marker))
        g_shell.full_shell = 0;

    static char command[SHELL_COMMAND_SIZE];
    static char *forced_argv[4];
    const bool forced = is_forced_command_form(argc, argv);
    if (forced) {
        if (cv_getenv(original_command_variable, command, sizeof command) != CV_OK)
            exit_without_original_command(envp);
        const char *start = std::strstr(command, " -c ");
        if (start) {
            cv_log_info("Original command as sent: %s", shell_log_text(command).c_str());
            start += 4;
            std::memmove(command, start, std::strlen(start) + 1);
        }
        forced_argv[0] = argv[0];
        forced_argv[1] = const_cast<char *>("-c");
        forced_argv[2] = command;
        forced_argv[3] = nullptr;
        argv = forced_argv;
        argc = 3;
        g_shell.full_shell = 0;
    }
    shell_prepare_environment(forced, g_shell.full_shell != 0);

    if (find_install_paths() != 0) exit_configuration_error();
    fix_path_environment();
    if (load_shell_settings() != 0) exit_configuration_error();

    static char joined[SHELL_COMMAND_SIZE];
    static char *joined_argv[4];
    if (argc > 3) {
        if (join_args(argc - 2, argv + 2, joined, sizeof joined) != 0) {
            log_illegal_use("too many or too large args");
            return 0;
        }
        joined_argv[0] = argv[0];
        joined_argv[1] = argv[1];
        joined_argv[2] = joined;
        joined_argv[3] = nullptr;
        argv = joined_argv;
        argc = 3;
    }

    // At most two arguments are left here: the join took any more.
    for (int i = 1; i < argc; ++i) cv_log_info("Arg: %s", shell_log_text(argv[i]).c_str());

    if (argc == 3 && std::strcmp(argv[1], "-c") == 0) {
        const shell_identity &identity = shell_login_identity();
        cv_log_info("Login user=%s client=%s", identity.user_text.c_str(),
                    identity.client_text.c_str());
        cv_log_info("Execute shell command: %s", shell_log_text(argv[2]).c_str());
        return run_command(argc, argv);
    }
    log_illegal_use("shell");
    return 0;
}
