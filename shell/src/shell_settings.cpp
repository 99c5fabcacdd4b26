// The user's settings as the shell needs them, and who the login is for.
//
// The user is the one the platform names (cv_get_current_user_name: on
// POSIX the process owner, the account the SSH server authenticated), never
// a name the login's environment merely claims; the client is the SSH
// server's SSH_CONNECTION.  Both are resolved once, at start-up, and kept:
// every log line of the login names the same user and client.
//
// The configuration framework does not resolve users yet: the shell runs
// without user settings, so only the built-in literal command forms are
// accepted; the scan-pattern form and the extra command lists need a user's
// settings and are refused.
#include "cvplatform/cv_error.h"
#include "cvplatform/cv_str.h"
#include "cvshell/shell.h"
#include "shell_internal.h"

namespace {

constexpr std::size_t user_name_size = 1024;
constexpr std::size_t client_size = 100;
constexpr const char *unknown = "unknown";

shell_identity resolve_identity() {
    shell_identity identity;
    char user[user_name_size];
    if (cv_get_current_user_name(user, sizeof user) == CV_OK && user[0] != '\0')
        identity.name = user;
    char client[client_size];
    if (cv_getenv("SSH_CONNECTION", client, sizeof client) != CV_OK)
        (void)cv_str_copy(client, unknown, sizeof client);
    identity.user_text =
        shell_log_text(identity.name.empty() ? unknown : identity.name, SHELL_LOG_USER_SIZE);
    identity.client_text = shell_log_text(client, SHELL_LOG_CLIENT_SIZE);
    return identity;
}

}  // namespace

const shell_identity &shell_login_identity() {
    static const shell_identity identity = resolve_identity();
    return identity;
}

int load_shell_settings() {
    (void)shell_login_identity();
    g_shell.user_settings = nullptr;
    return 0;
}
