// Command launch: an accepted command runs as a child of the shell.
//
// The command line is split into an argument vector by the Windows C
// runtime's rules.  The program word alone is joined to the shell's own
// program directory and brought into canonical form; the arguments are handed
// over exactly as they were split, so that "a/../b" in an argument stays what
// the administrator wrote.  A program word that would leave the program
// directory (through "..") is refused: the shell only ever starts programs
// that lie in its own directory, and never searches the search path.  The
// child inherits the shell's standard streams, environment and working
// directory.  The shell passes the termination signals that reach it on to
// the child (the SSH server sends a hang-up when the connection drops, and
// the command must not outlive its login), waits for it, and ends with the
// child's own exit status, or 128 + the signal number when a signal ended it,
// as a POSIX shell does.
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "cvplatform/cv_log.h"
#include "cvplatform/cv_path.h"
#include "cvplatform/cv_process.h"
#include "cvplatform/cv_str.h"
#include "cvshell/shell.h"
#include "shell_internal.h"

namespace {

/* The UTF-16 command line buffer, in bytes. */
constexpr std::size_t wide_cmdline_bytes = 65536;

/* launch_process's result when the child could not be started. */
constexpr int launch_failed = -1;

/* The shell's exit status when a started child's end cannot be read. */
constexpr int unknown_end_status = 1;

/* The exit status of a command that could not be started. */
constexpr int not_started_status = 1;

int internal_error(const char *log_text) {
    cv_log_error("%s", log_text);
    err_printf("Internal server configuration error\n");
    return not_started_status;
}

/* True when `path` lies inside directory `dir` (both canonical). */
bool lies_in(const std::string &path, const std::string &dir) {
    if (dir == "/") return path.size() > 1 && path[0] == '/';
    return path.size() > dir.size() + 1 && path.compare(0, dir.size(), dir) == 0 &&
           path[dir.size()] == '/';
}

/* Reads how the child ended, logs it, and gives the shell's exit status:
 * the child's own, or 1 when how it ended cannot be known. */
int finish_status(cv_process *child) {
    cv_process_end end{};
    const cv_status read = cv_process_exit_code(child, &end);
    if (read != CV_OK) {
        cv_log_info("Error reading the exit status of the subprocess (%d)",
                    static_cast<int>(read));
        return unknown_end_status;
    }
    if (end.exit_code == CV_PROCESS_STILL_ACTIVE) {
        cv_log_info("Internal error: we thought the process was finished but Windows tells us "
                    "it is still running");
        return unknown_end_status;
    }
    cv_log_info("Process finished");
    if (end.signal != 0)
        cv_log_info("Process ended by signal %d (SIG%s), exit status %d", end.signal,
                    cv_process_signal_name(end.signal), end.exit_code);
    else
        cv_log_info("Process exited with status %d", end.exit_code);
    return end.exit_code;
}

}  // namespace

int shell_build_launch(const char *exe_dir, const char *command, shell_launch &launch) {
    std::size_t rest = 0;
    std::vector<std::string> args = cv_cmdline_split(command, &rest);
    if (args.empty() || args[0].empty()) return -1;

    char program[CV_PATH_SIZE];
    if (cv_path_join(exe_dir, args[0].c_str(), program, sizeof program) != 0) return -1;

    char dir[CV_PATH_SIZE];
    if (cv_path_canonicalize(exe_dir, dir, sizeof dir) != 0) return -1;
    if (!lies_in(program, dir)) return -1;

    launch.program = program;
    args[0] = launch.program;
    launch.argv = std::move(args);
    launch.command_line = launch.program + std::string(command + rest);
    return 0;
}

int launch_process(const shell_launch &launch, int *os_error) {
    *os_error = 0;
    cv_log_info("Executing: %s", launch.command_line.c_str());

    // The same command line in the form a Windows child would be handed; it
    // also proves the text is valid UTF-8 before anything starts.
    static char16_t wide[wide_cmdline_bytes / sizeof(char16_t)];
    char16_t *heap = nullptr;
    const cv_status built = cv_cmdline_build(launch.command_line.c_str(), nullptr, 0, wide,
                                             sizeof wide, &heap);
    (void)cv_cmdline_free(&heap);
    if (built != CV_OK) {
        cv_log_error("failed to created cmdline %s err %d", launch.command_line.c_str(),
                     static_cast<int>(built));
        *os_error = static_cast<int>(built);
        return launch_failed;
    }

    cv_process child{};
    const cv_status started = cv_process_start(launch.program.c_str(), launch.argv,
                                               CV_PROCESS_FORWARD_SIGNALS, &child);
    if (started != CV_OK) {
        cv_log_error("Error starting windows process (%d): %s", static_cast<int>(started),
                     launch.command_line.c_str());
        *os_error = static_cast<int>(started);
        return launch_failed;
    }

    cv_log_info("Waiting for process to finish");
    const cv_status waited = cv_process_wait(&child);
    if (waited != CV_OK)
        cv_log_info("Error waiting for subprocess to finish (%d)", static_cast<int>(waited));
    if (child.forwarded_signal != 0)
        cv_log_info("Passed signal %d (SIG%s) on to the process", child.forwarded_signal,
                    cv_process_signal_name(child.forwarded_signal));
    return finish_status(&child);
}

int run_command(const char *command) {
    char exe_dir[CV_PATH_SIZE];
    if (cv_path_get_exe_dir(exe_dir, sizeof exe_dir) < 0)
        return internal_error("Error getting executable path");

    shell_launch launch;
    if (shell_build_launch(exe_dir, command, launch) != 0)
        return internal_error("Error assembling executable path");

    int os_error = 0;
    const int ret = launch_process(launch, &os_error);
    if (ret < 0) {
        err_printf("Error executing command ret=%d errno=%d\n", ret,
                   os_error != 0 ? os_error : errno);
        return not_started_status;
    }
    return ret;
}
