// Child processes and the console.
//
// A child is described by a command line in the Windows form (one string)
// and started from an argument vector split from it by the Windows C
// runtime's rules, so that the same command line gives the same argument
// vector on every platform.  A child is never started through a command
// interpreter and never looked up on the search path: the program is the
// path that the caller names.  It inherits the caller's standard input,
// output and error, its environment and its working directory, but not its
// signal state: a child starts with every signal at its default action and
// none blocked.  A caller that stands in for its child, as a login shell
// does, has the termination signals it receives passed on to the child while
// it waits, and learns how the child ended: its exit code, or the signal.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "cvplatform/cv_status.h"

/* Splits `cmdline` into arguments by the Windows C runtime's rules: blanks and
 * tabs separate; double quotes group; 2n backslashes before a quote give n
 * backslashes and the quote toggles grouping; 2n+1 give n backslashes and a
 * literal quote; other backslashes are literal.  `*rest`, when given, gets the offset in
 * `cmdline` where the text after the first argument begins (its separating
 * blanks included), or the text's length when there is none. */
std::vector<std::string> cv_cmdline_split(const char *cmdline, std::size_t *rest);

/* Standard streams of cv_console_write. */
enum : int { CV_CONSOLE_OUT = 1, CV_CONSOLE_ERR = 2 };

/* Makes sure standard input, output and error are open, opening the null
 * device read-write on each that is closed.  Run it first, before anything
 * opens a file: a process started with one of them closed would otherwise
 * hand that number to the next file it opens (the log, say), and a child
 * writing to its standard output would write into that file.  0, or the
 * system error of the first stream that could not be opened. */
cv_status cv_process_ensure_standard_streams();

/* Writes `count` bytes to standard output or error, unbuffered, repeating on
 * partial writes.  0 or the system error. */
cv_status cv_console_write(int stream, const char *bytes, std::size_t count);

/* The exit code that cv_process_exit_code reports for a child that is still
 * running; no child ends with it (exit codes are 0 to 255, deaths by signal
 * 128 + the signal number). */
inline constexpr int CV_PROCESS_STILL_ACTIVE = 259;

/* Flags of cv_process_start. */
enum : unsigned {
    /* While the child is waited for, the termination signals that reach the
     * caller (hang-up, interrupt, quit, terminate) are passed on to the child
     * instead of acting on the caller.  They are held back from the start on,
     * so that one arriving between the start and the wait is not lost. */
    CV_PROCESS_FORWARD_SIGNALS = 1u,
};

/* How a child ended. */
struct cv_process_end {
    int exit_code;  /* its exit code, or 128 + the signal number when a signal ended it */
    int signal;     /* the signal that ended it; 0 when it exited */
};

/* A started child process. */
struct cv_process {
    long id;               /* the process id; 0 when not started */
    bool forwarding;       /* started with CV_PROCESS_FORWARD_SIGNALS and not yet waited for */
    bool ended;            /* it has ended and `end` says how */
    cv_process_end end;
    int forwarded_signal;  /* the first signal passed on to it; 0 when none was */
};

/* Starts `program` (a path, never searched for) with the argument vector
 * `argv` (argv[0] included) and the calling process's environment, working
 * directory and standard streams.  The child starts with every signal at its
 * default action and none blocked, whatever the caller ignores or blocks.
 * `flags`: 0 or CV_PROCESS_FORWARD_SIGNALS; only one child at a time may be
 * started with it (CV_E_INVALID otherwise).  0, or the system error (e.g. 2
 * when the program does not exist, 13 when it is not executable); on failure
 * the caller's signal state is as it was. */
cv_status cv_process_start(const char *program, const std::vector<std::string> &argv,
                           unsigned flags, cv_process *process);

/* Waits until `process` ends, retrying on interruption, and records how it
 * ended in `process->end`.  A child started with CV_PROCESS_FORWARD_SIGNALS
 * is handed every termination signal that reaches the caller meanwhile (the
 * first is noted in `process->forwarded_signal`); one that arrives after the
 * child ended has nobody to go to and is dropped.  Once the wait returns,
 * successful or not, the caller's signal mask and child-signal action are as
 * they were before the start.  0 (also when it had already been waited for),
 * or the system error. */
cv_status cv_process_wait(cv_process *process);

/* Reads how `process` ended without waiting: `*end` gets the recorded end,
 * or exit code CV_PROCESS_STILL_ACTIVE while the child still runs.  0, or the
 * system error (e.g. 10 when the child is not there to be asked, because
 * somebody else collected its end). */
cv_status cv_process_exit_code(cv_process *process, cv_process_end *end);

/* The short name of signal `signal` without its "SIG" prefix ("TERM"), or
 * "?" for a number that names no signal.  Never null. */
const char *cv_process_signal_name(int signal);
