// The user's settings as the shell needs them, and who the login is for.
//
// The user is the one the platform names (cv_get_current_user_name: on
// POSIX the process owner, the account the SSH server authenticated), never
// a name the login's environment merely claims; the client is the SSH
// server's SSH_CONNECTION.  Both are resolved once, at start-up, and kept:
// every log line of the login names the same user and client, and the
// settings are resolved for that same name.
//
// The settings come from the configuration framework, once per login: the
// configuration set (corvane.conf and its conf.d folder), the master group
// set the group providers are handed, the user's settings resolved from the
// user's, the groups' and the default entries, and the server's settings of
// the same set.  The shell keeps what its decision reads (policy.h).  Any
// step that fails refuses the login as a whole: a configuration that cannot
// be read grants nothing, not even the built-in commands.
#include <cstddef>

#include "cvplatform/cv_error.h"
#include "cvplatform/cv_log.h"
#include "cvplatform/cv_str.h"
#include "cvshell/shell.h"
#include "shell_internal.h"
#include "uac/cv_uac.h"
#include "uac/cv_uac_group_provider.h"
#include "uac/cv_uac_server.h"
#include "uac/cv_uac_user.h"

namespace {

constexpr std::size_t user_name_size = 1024;
constexpr std::size_t error_text_size = 1024;
constexpr std::size_t client_size = 100;
constexpr const char *unknown = "unknown";

/* The only configuration version the shell reads. */
constexpr std::int32_t conf_version = 2;

/* load_shell_settings's results besides 0 and the user-name status. */
constexpr int no_configuration = -2;
constexpr int unusable_configuration = -1;

shell_identity resolve_identity() {
    shell_identity identity;
    char user[user_name_size];
    identity.name_status = cv_get_current_user_name(user, sizeof user);
    if (identity.name_status == CV_OK) identity.name = user;
    char client[client_size];
    if (cv_getenv("SSH_CONNECTION", client, sizeof client) != CV_OK)
        (void)cv_str_copy(client, unknown, sizeof client);
    identity.user_text =
        shell_log_text(identity.name.empty() ? unknown : identity.name, SHELL_LOG_USER_SIZE);
    identity.client_text = shell_log_text(client, SHELL_LOG_CLIENT_SIZE);
    return identity;
}

/* Ends what a failed load started: the set, then the framework's start. */
int give_up(cv_uac_conf_set *set, int result) {
    (void)cv_uac_release_conf_file_set(set);
    cv_uac_deinit();
    return result;
}

}  // namespace

const shell_identity &shell_login_identity() {
    static const shell_identity identity = resolve_identity();
    return identity;
}

int load_shell_settings() {
    const shell_identity &identity = shell_login_identity();
    if (identity.name_status != CV_OK) {
        char text[error_text_size];
        cv_log_error("Error retrieving current user name (%s)",
                     cv_strerror(identity.name_status, text, sizeof text));
        return static_cast<int>(identity.name_status);
    }
    const std::string user_text = shell_log_text(identity.name, SHELL_LOG_USER_SIZE);
    if (cv_log_verbosity >= 1) cv_log_debug("Configuration v2: user %s", user_text.c_str());

    cv_net_startup();
    if (const cv_status status = cv_uac_init(cv_uac_register_group_providers); status != CV_OK) {
        char text[error_text_size];
        cv_log_error("Configuration: framework start failed, errno:%d, err desc:%s",
                     static_cast<int>(status), cv_strerror(status, text, sizeof text));
        return unusable_configuration;
    }

    cv_uac_conf_set *set = cv_uac_load_conf_file(g_shell.conf_path.c_str(), 0);
    if (!set) return no_configuration;
    if (cv_uac_get_conf_version(set) != conf_version) {
        if (cv_log_verbosity >= 1) cv_log_debug("Configuration v2: not v2");
        return give_up(set, unusable_configuration);
    }
    // Without the master group set no group entry would apply, and a
    // group's settings may be what restricts the user.
    if (cv_uac_select_master_conf_file_set(set) != CV_OK) return give_up(set, unusable_configuration);

    cv_uac_user *user = cv_uac_get_user_settings(set, identity.name.c_str());
    if (!user) {
        cv_log_error("Configuration: error reading options for %s", user_text.c_str());
        return give_up(set, unusable_configuration);
    }
    cv_log_info("Configuration: using v2 configuration file \"%s\", user %s",
                shell_log_text(g_shell.conf_path).c_str(),
                identity.name.empty() ? "-" : user_text.c_str());

    cv_uac_server *server = cv_uac_get_server_settings(set);
    const cv_status built = shell_policy_from_settings(user, server, &g_shell.policy);
    if (server) cv_uac_config_release(&server->object);
    if (built != CV_OK) {
        char text[error_text_size];
        cv_log_error("Configuration: settings of %s not kept, errno:%d, err desc:%s",
                     user_text.c_str(), static_cast<int>(built),
                     cv_strerror(built, text, sizeof text));
        cv_uac_config_release(&user->object);
        return give_up(set, unusable_configuration);
    }
    g_shell.conf_set = set;
    g_shell.user_settings = user;
    return 0;
}
