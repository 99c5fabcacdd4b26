// Child processes and console writes over posix_spawn, waitpid and write.
//
// Passing signals on without a race: a child started with
// CV_PROCESS_FORWARD_SIGNALS has the termination signals and SIGCHLD blocked
// in the caller before it is spawned, so a signal that arrives at any point
// from then on stays pending until the wait takes it with sigtimedwait and
// sends it to the child.  The child itself is spawned with an empty mask and
// every action at its default.  The wait polls the child after each signal
// and at least every wait slice, so a lost SIGCHLD can delay it by one slice
// at most.  A caller that ignores SIGCHLD would have the child's end
// collected by the kernel and never learn it; the action is set to its
// default for the time of the wait.
#include "cvplatform/cv_process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <ctime>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

/* The signals that end a login and are passed on to the child. */
constexpr int termination_signals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

/* The longest stretch the wait sleeps before it looks at the child again. */
constexpr long wait_slice_ns = 100L * 1000 * 1000;

/* The caller's signal state while a forwarding child runs. */
struct forwarding_state {
    bool active = false;
    sigset_t saved_mask;
    struct sigaction saved_child_action;
};
forwarding_state g_forwarding;

sigset_t forwarded_set(bool with_child_signal) {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : termination_signals) sigaddset(&set, sig);
    if (with_child_signal) sigaddset(&set, SIGCHLD);
    return set;
}

bool is_termination_signal(int sig) {
    for (int t : termination_signals)
        if (t == sig) return true;
    return false;
}

/* Holds the termination signals and SIGCHLD back and makes sure the
 * child's end is kept for the wait. */
cv_status begin_forwarding() {
    if (g_forwarding.active) return CV_E_INVALID;
    const sigset_t set = forwarded_set(true);
    const int rc = ::pthread_sigmask(SIG_BLOCK, &set, &g_forwarding.saved_mask);
    if (rc != 0) return static_cast<cv_status>(rc);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    if (::sigaction(SIGCHLD, &dfl, &g_forwarding.saved_child_action) != 0) {
        const int err = errno;
        (void)::pthread_sigmask(SIG_SETMASK, &g_forwarding.saved_mask, nullptr);
        return static_cast<cv_status>(err);
    }
    g_forwarding.active = true;
    return CV_OK;
}

/* Drops what is still pending of the held signals (the child they were
 * meant for has ended) and gives the caller its own signal state back. */
void end_forwarding() {
    if (!g_forwarding.active) return;
    const sigset_t set = forwarded_set(true);
    const struct timespec no_wait {};
    while (::sigtimedwait(&set, nullptr, &no_wait) > 0) {
    }
    (void)::sigaction(SIGCHLD, &g_forwarding.saved_child_action, nullptr);
    (void)::pthread_sigmask(SIG_SETMASK, &g_forwarding.saved_mask, nullptr);
    g_forwarding.active = false;
}

void record_end(cv_process *process, int status) {
    process->ended = true;
    if (WIFSIGNALED(status)) {
        process->end.signal = WTERMSIG(status);
        process->end.exit_code = 128 + process->end.signal;
    } else {
        process->end.signal = 0;
        process->end.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
}

/* posix_spawn with the child's signal state reset. */
int spawn(pid_t *pid, const char *program, char *const *args) {
    posix_spawnattr_t attr;
    int rc = ::posix_spawnattr_init(&attr);
    if (rc != 0) return rc;
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    rc = ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    if (rc == 0) rc = ::posix_spawnattr_setsigmask(&attr, &none);
    if (rc == 0) rc = ::posix_spawnattr_setsigdefault(&attr, &all);
    // posix_spawn, not posix_spawnp: the program is a path, never searched for.
    if (rc == 0) rc = ::posix_spawn(pid, program, nullptr, &attr, args, environ);
    (void)::posix_spawnattr_destroy(&attr);
    return rc;
}

/* Waits for a forwarding child, passing the termination signals on. */
cv_status wait_forwarding(cv_process *process) {
    const pid_t pid = static_cast<pid_t>(process->id);
    const sigset_t set = forwarded_set(true);
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            record_end(process, status);
            return CV_OK;
        }
        if (r < 0 && errno != EINTR) return static_cast<cv_status>(errno);

        const struct timespec slice {0, wait_slice_ns};
        const int sig = ::sigtimedwait(&set, nullptr, &slice);
        if (sig > 0 && is_termination_signal(sig)) {
            // The child has not been collected, so its id cannot have been
            // given to another process yet.
            (void)::kill(pid, sig);
            if (process->forwarded_signal == 0) process->forwarded_signal = sig;
        }
        // SIGCHLD, the end of a slice or an interruption: look again.
    }
}

cv_status wait_plain(cv_process *process) {
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(static_cast<pid_t>(process->id), &status, 0);
    } while (r < 0 && errno == EINTR);
    if (r < 0) return static_cast<cv_status>(errno);
    record_end(process, status);
    return CV_OK;
}

}  // namespace

cv_status cv_process_ensure_standard_streams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // open() returns the lowest free number: this one.
        const int opened = ::open("/dev/null", O_RDWR | O_NOCTTY);
        if (opened < 0) return static_cast<cv_status>(errno);
        if (opened != fd) {
            ::close(opened);
            return CV_E_INTERNAL;
        }
    }
    return CV_OK;
}

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
                           unsigned flags, cv_process *process) {
    if (!program || !process || argv.empty()) return CV_E_INVALID;
    if ((flags & ~CV_PROCESS_FORWARD_SIGNALS) != 0) return CV_E_INVALID;
    *process = cv_process{};

    std::vector<char *> args;
    args.reserve(argv.size() + 1);
    for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);

    const bool forward = (flags & CV_PROCESS_FORWARD_SIGNALS) != 0;
    if (forward) {
        const cv_status held = begin_forwarding();
        if (held != CV_OK) return held;
    }
    pid_t pid = 0;
    const int rc = spawn(&pid, program, args.data());
    if (rc != 0) {
        if (forward) end_forwarding();
        return static_cast<cv_status>(rc);
    }
    process->id = pid;
    process->forwarding = forward;
    return CV_OK;
}

cv_status cv_process_wait(cv_process *process) {
    if (!process || process->id <= 0) return CV_E_INVALID;
    if (process->ended) return CV_OK;
    cv_status rc;
    if (process->forwarding) {
        rc = wait_forwarding(process);
        end_forwarding();
        process->forwarding = false;
    } else {
        rc = wait_plain(process);
    }
    return rc;
}

cv_status cv_process_exit_code(cv_process *process, cv_process_end *end) {
    if (!process || process->id <= 0 || !end) return CV_E_INVALID;
    if (!process->ended) {
        int status = 0;
        pid_t r;
        do {
            r = ::waitpid(static_cast<pid_t>(process->id), &status, WNOHANG);
        } while (r < 0 && errno == EINTR);
        if (r < 0) return static_cast<cv_status>(errno);
        if (r == 0) {
            *end = cv_process_end{CV_PROCESS_STILL_ACTIVE, 0};
            return CV_OK;
        }
        record_end(process, status);
    }
    *end = process->end;
    return CV_OK;
}

const char *cv_process_signal_name(int signal) {
    const char *name = signal > 0 ? ::sigabbrev_np(signal) : nullptr;
    return name ? name : "?";
}
