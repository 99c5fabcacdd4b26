// Child processes and console writes over posix_spawn, waitpid and write.
#include "cvplatform/cv_process.h"

#include <cerrno>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

cv_status cv_console_write(int stream, const char *bytes, std::size_t count) {
    if (stream != CV_CONSOLE_OUT && stream != CV_CONSOLE_ERR) return CV_E_INVALID;
    while (count > 0) {
        const ssize_t n = ::write(stream, bytes, count);
        if (n < 0) {
            if (errno == EINTR) continue;
            return static_cast<cv_status>(errno);
        }
        bytes += n;
        count -= static_cast<std::size_t>(n);
    }
    return CV_OK;
}

cv_status cv_process_start(const char *program, const std::vector<std::string> &argv,
                           cv_process *process) {
    if (!program || !process || argv.empty()) return CV_E_INVALID;
    process->id = 0;

    std::vector<char *> args;
    args.reserve(argv.size() + 1);
    for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);

    pid_t pid = 0;
    // posix_spawn, not posix_spawnp: the program is a path, never searched for.
    const int rc = ::posix_spawn(&pid, program, nullptr, nullptr, args.data(), environ);
    if (rc != 0) return static_cast<cv_status>(rc);
    process->id = pid;
    return CV_OK;
}

cv_status cv_process_wait(cv_process *process, int *exit_code) {
    if (!process || process->id <= 0 || !exit_code) return CV_E_INVALID;
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(static_cast<pid_t>(process->id), &status, 0);
    } while (r < 0 && errno == EINTR);
    if (r < 0) return static_cast<cv_status>(errno);
    process->id = 0;
    if (WIFEXITED(status))
        *exit_code = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        *exit_code = 128 + WTERMSIG(status);
    else
        *exit_code = -1;
    return CV_OK;
}
