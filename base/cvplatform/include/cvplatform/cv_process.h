// Child processes and the console.
//
// A child is described by a command line in the Windows form (one string)
// and started from an argument vector split from it by the Windows C
// runtime's rules, so that the same command line gives the same argument
// vector on every platform.  A child is never started through a command
// interpreter and never looked up on the search path: the program is the
// path that the caller names.  It inherits the caller's standard input,
// output and error, its environment and its working directory.
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

/* Writes `count` bytes to standard output or error, unbuffered, repeating on
 * partial writes.  0 or the system error. */
cv_status cv_console_write(int stream, const char *bytes, std::size_t count);

/* A started child process. */
struct cv_process {
    long id;  /* the process id; 0 when not started */
};

/* Starts `program` (a path, never searched for) with the argument vector
 * `argv` (argv[0] included) and the calling process's environment, working
 * directory and standard streams.  0, or the system error (e.g. 2 when the
 * program does not exist, 13 when it is not executable). */
cv_status cv_process_start(const char *program, const std::vector<std::string> &argv,
                           cv_process *process);

/* Waits until `process` ends (retrying on interruption) and stores its exit
 * code, or 128 + the signal number when a signal ended it.  0 or the system
 * error. */
cv_status cv_process_wait(cv_process *process, int *exit_code);
