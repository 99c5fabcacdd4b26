// `test`: would the shell run this command line for this user, and why?
//
// The answer is the shell's own: the policy is built from the user's
// resolved settings and the server's settings by the function the shell
// uses (shell_policy_from_settings), the mode is set as the shell sets it
// for cvshell-r and for a forced command, and the command line is judged by
// shell_decide.  Nothing here decides anything itself.
#include "cvconf.h"
#include "cvshell/policy.h"
#include "uac/cv_uac_server.h"
#include "uac/cv_uac_user.h"

namespace {

/* Words of `test` before its command line: "test" and the user name. */
constexpr std::size_t kPrefixWords = 2;

std::string command_line(const std::vector<std::string> &words) {
    std::string line;
    for (std::size_t i = kPrefixWords; i < words.size(); ++i) {
        if (i > kPrefixWords) line += ' ';
        line += words[i];
    }
    return line;
}

std::string where(const shell_decision &decision) {
    if (decision.source == shell_entry_source::builtin) return "built-in";
    if (!decision.extra || decision.extra->file.empty()) return "configuration";
    return cvconf_display(decision.extra->file) + ":" + std::to_string(decision.extra->line);
}

}  // namespace

int cvconf_test(const cvconf_args &args) {
    const std::vector<std::string> &words = args.words;
    if (words.size() <= kPrefixWords)
        return cvconf_fail(
            CVCONF_EXIT_ERROR,
            "usage: cvconf test NAME [--restricted | --forced] [--] COMMAND LINE...");
    const std::string &name = words[1];
    if (name.empty()) return cvconf_fail(CVCONF_EXIT_ERROR, "the user name is empty");
    cvconf_config config;
    std::string error;
    if (config.load(args.conf, &error) != CVCONF_EXIT_OK)
        return cvconf_fail(CVCONF_EXIT_ERROR, error);

    cv_uac_user *user = cv_uac_get_user_settings(config.set, name.c_str());
    if (!user)
        return cvconf_fail(CVCONF_EXIT_ERROR, "the settings of user " + cvconf_display(name) +
                                                  " could not be built from " +
                                                  cvconf_display(config.path));
    cv_uac_server *server = cv_uac_get_server_settings(config.set);
    shell_policy policy;
    // cvshell-r and a forced command both run the shell restricted.
    policy.full_shell = !args.restricted && !args.forced;
    const cv_status built = shell_policy_from_settings(user, server, &policy);
    if (server) cv_uac_config_release(&server->object);
    if (built != CV_OK) {
        cv_uac_config_release(&user->object);
        return cvconf_fail(CVCONF_EXIT_ERROR, "the shell's view of user " + cvconf_display(name) +
                                                  " could not be built");
    }
    const shell_decision decision = shell_decide(policy, command_line(words));
    if (decision.accepted) {
        std::printf("accepted: %s (%s)\n", cvconf_display(decision.entry).c_str(),
                    where(decision).c_str());
    } else if (decision.source == shell_entry_source::none) {
        std::printf("refused: %s\n", shell_refusal_text(decision.reason));
    } else {
        std::printf("refused: %s: %s (%s)\n", shell_refusal_text(decision.reason),
                    cvconf_display(decision.entry).c_str(), where(decision).c_str());
    }
    cv_uac_config_release(&user->object);
    return decision.accepted ? CVCONF_EXIT_OK : CVCONF_EXIT_FOUND;
}
