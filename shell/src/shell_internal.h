// Pieces of the shell that its tests reach directly.
#pragma once

#include <string>
#include <string_view>
#include <vector>

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
