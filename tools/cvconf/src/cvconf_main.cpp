// cvconf: what a user's settings are and where each comes from, whether
// the configuration is sound, whether the shell would run a command line,
// and one setting changed safely.
#include <cstdio>
#include <cstring>

#include "cvconf.h"

#ifndef CVCONF_VERSION
#define CVCONF_VERSION "0"
#endif

namespace {

int run(const cvconf_args &args) {
    const std::vector<std::string> &words = args.words;
    const std::string command = words.empty() ? "" : words[0];
    if (command == "show") return cvconf_show(args);
    if (command == "check") return cvconf_check(args);
    if (command == "test") return cvconf_test(args);
    if (command == "set") return cvconf_set(args, false);
    if (command == "unset") return cvconf_set(args, true);
    if (command.empty()) return cvconf_fail(CVCONF_EXIT_ERROR, "no command (see cvconf --help)");
    return cvconf_fail(CVCONF_EXIT_ERROR,
                       "unknown command " + cvconf_display(command) + " (see cvconf --help)");
}

}  // namespace

int main(int argc, char **argv) {
    cvconf_args args;
    std::string error;
    if (cvconf_parse_args(argc, argv, &args, &error) != CVCONF_EXIT_OK)
        return cvconf_fail(CVCONF_EXIT_ERROR, error);
    if (args.help) {
        std::fputs(cvconf_usage(), stdout);
        return CVCONF_EXIT_OK;
    }
    if (args.version) {
        std::printf("cvconf %s\n", CVCONF_VERSION);
        return CVCONF_EXIT_OK;
    }
    const int status = run(args);
    if (std::fflush(stdout) != 0) return cvconf_fail(CVCONF_EXIT_ERROR, "cannot write the output");
    return status;
}
