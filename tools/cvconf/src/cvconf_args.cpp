// The command line: options anywhere, then the command's words.
#include <cstring>

#include "cvconf.h"

namespace {

struct flag_option {
    const char *name;
    bool cvconf_args::*field;
};

constexpr flag_option kFlags[] = {
    {"--origin", &cvconf_args::origin},
    {"--json", &cvconf_args::json},
    {"--restricted", &cvconf_args::restricted},
    {"--forced", &cvconf_args::forced},
    {"--help", &cvconf_args::help},
    {"--version", &cvconf_args::version},
};

/* Words of `test` before its command line: "test" and the user name. */
constexpr std::size_t kTestPrefixWords = 2;

bool command_line_started(const cvconf_args &args) {
    return !args.words.empty() && args.words[0] == "test" && args.words.size() >= kTestPrefixWords;
}

}  // namespace

int cvconf_parse_args(int argc, char **argv, cvconf_args *args, std::string *error) {
    bool options_ended = false;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        // The command line `test` judges is taken word for word once it has
        // begun, so that its own options ("--no-mgmt-port-files") stay its.
        if (options_ended || word.size() < 2 || word.compare(0, 2, "--") != 0 ||
            (command_line_started(*args) && args->words.size() > kTestPrefixWords)) {
            args->words.push_back(word);
            continue;
        }
        if (word == "--") {
            options_ended = true;
            continue;
        }
        if (word == "--conf" || word.compare(0, 7, "--conf=") == 0) {
            if (word == "--conf") {
                if (++i == argc) {
                    *error = "--conf needs a file name";
                    return CVCONF_EXIT_ERROR;
                }
                args->conf = argv[i];
            } else {
                args->conf = word.substr(7);
            }
            if (args->conf.empty()) {
                *error = "--conf needs a file name";
                return CVCONF_EXIT_ERROR;
            }
            continue;
        }
        bool known = false;
        for (const flag_option &flag : kFlags)
            if (word == flag.name) args->*flag.field = known = true;
        if (!known) {
            *error = "unknown option " + cvconf_display(word) + " (see cvconf --help)";
            return CVCONF_EXIT_ERROR;
        }
    }
    if (args->restricted && args->forced) {
        *error = "--restricted and --forced exclude each other";
        return CVCONF_EXIT_ERROR;
    }
    return CVCONF_EXIT_OK;
}

const char *cvconf_usage() {
    return "Usage:\n"
           "  cvconf [--conf FILE] show user NAME [--origin] [--json]\n"
           "  cvconf [--conf FILE] show server [--origin] [--json]\n"
           "  cvconf [--conf FILE] check [--json]\n"
           "  cvconf [--conf FILE] test NAME [--restricted | --forced] [--] COMMAND LINE...\n"
           "  cvconf [--conf FILE] set SELECTOR KEY VALUE\n"
           "  cvconf [--conf FILE] unset SELECTOR KEY\n"
           "  cvconf --help | --version\n"
           "\n"
           "SELECTOR is one of: user NAME, group NAME, default, server, trunk ID,\n"
           "logging CLASS.\n"
           "\n"
           "  show    the effective settings of a user (as a login of that account\n"
           "          gets them) or of the server; --origin names the file, line and\n"
           "          entry of each value\n"
           "  check   reads every file and entry, validates them and lists elements\n"
           "          that no option reads\n"
           "  test    whether the shell would run COMMAND LINE for user NAME, and why\n"
           "  set     writes one option's override into conf.d, after checking the value\n"
           "  unset   removes that override again\n"
           "\n"
           "Options:\n"
           "  --conf FILE   the main configuration file (default: found from this\n"
           "                program's own folder, as the shell finds it)\n"
           "  --origin      show where each value comes from\n"
           "  --json        one JSON document instead of text\n"
           "  --restricted  judge as cvshell-r (no \"!\" entries)\n"
           "  --forced      judge as a forced command (cvshell -t)\n"
           "\n"
           "Exit status:\n"
           "  0  done: shown, nothing found, accepted, written\n"
           "  1  check found something, test refused, set refused the value or the\n"
           "     place to write it\n"
           "  2  wrong arguments, or the configuration cannot be read\n";
}
