// Command acceptance as the login meets it: the policy's verdict (policy.h)
// turned into what the client and the log see.
//
// A refusal is one log line that names the command, the user and the client
// (the identity fields kept whole whatever the command's length), and one
// line on standard error; the shell then ends with status 1.  The reason of
// the refusal and the entry that accepted a command are diagnostics, written
// only at debug verbosity.
#include <string>

#include "cvplatform/cv_log.h"
#include "cvshell/policy.h"
#include "cvshell/shell.h"
#include "shell_internal.h"

namespace {

/* The exit status of a refused command. */
constexpr int refused_status = 1;

/* "built-in entry 2" or "extra entry 0 (file:line)". */
std::string entry_place(const shell_decision &decision) {
    if (decision.source == shell_entry_source::builtin)
        return "built-in entry " + std::to_string(decision.index);
    std::string place = "extra entry " + std::to_string(decision.index);
    if (decision.extra && !decision.extra->file.empty())
        place += " (" + decision.extra->file + ":" + std::to_string(decision.extra->line) + ")";
    return shell_log_text(place);
}

}  // namespace

void log_illegal_use(const char *command) {
    // The command is cut before the identity fields could be: the line
    // keeps user= and client= whole whatever the command's length.
    static_assert(sizeof "Illegal cvshell use command= user= client=" - 1 +
                          SHELL_LOG_TEXT_SIZE - 1 + SHELL_LOG_USER_SIZE - 1 +
                          SHELL_LOG_CLIENT_SIZE - 1 <=
                      SHELL_LOG_MESSAGE_ROOM);
    const shell_identity &identity = shell_login_identity();
    cv_log_info("Illegal cvshell use command=%s user=%s client=%s",
                shell_log_text(command ? command : "").c_str(), identity.user_text.c_str(),
                identity.client_text.c_str());
}

void log_decision(const shell_decision &decision) {
    if (cv_log_verbosity < 1) return;
    if (decision.accepted)
        cv_log_debug("Command accepted by %s", entry_place(decision).c_str());
    else if (decision.source == shell_entry_source::none)
        cv_log_debug("Command refused: %s", shell_refusal_text(decision.reason));
    else
        cv_log_debug("Command refused: %s, %s", shell_refusal_text(decision.reason),
                     entry_place(decision).c_str());
}

int refuse_command(const char *command) {
    log_illegal_use(command);
    err_printf("Command not accepted: %s\n", command);
    return refused_status;
}
