// The child's environment, prepared at start-up and made safe before an
// accepted command starts.
//
// At start-up the environment is made unique: a raw environment block may
// name a variable twice, and while the shell reads the first entry, a child
// might read another, so only the first is kept.  Then the shell sets what
// it owns: CORVANE_SHELL always, CORVANE_AUTH_TOKEN on a forced login only
// (one that a client's environment brought to any other login is removed),
// and the search path (shell_entry.cpp).
//
// Before the child starts, every variable through which a dynamic loader, a
// language runtime or a command interpreter that the command might start
// reads code to load or run is removed: an SSH client can send variables,
// and a forced command may be reached from a login whose environment the
// shell does not control.  Where a runtime reads a family of such names
// (versioned forms, per-feature options), the whole family goes by its
// prefix.  The names removed are logged on one line.  Every other variable
// is kept, including the ones the shell set itself.
#include <string>
#include <string_view>

#include "cvplatform/cv_env.h"
#include "cvplatform/cv_log.h"
#include "cvplatform/cv_str.h"
#include "shell_internal.h"

namespace {

/* The token a forced login hands its command. */
constexpr const char *auth_token_variable = "CORVANE_AUTH_TOKEN";
constexpr const char *auth_token_value = "TOKEN";

struct unsafe_variable {
    std::string_view name;
    bool prefix;  /* every variable whose name starts with `name` */
};

constexpr unsafe_variable unsafe_variables[] = {
    // Dynamic loaders and the C library.
    {"LD_", true},
    {"DYLD_", true},
    {"MALLOC_", true},
    {"GLIBC_TUNABLES", false},
    {"GCONV_PATH", false},
    {"GETCONF_DIR", false},
    {"HOSTALIASES", false},
    {"LOCALDOMAIN", false},
    {"LOCPATH", false},
    {"NIS_PATH", false},
    {"NLSPATH", false},
    {"RESOLV_HOST_CONF", false},
    {"RES_OPTIONS", false},
    // Command interpreters.
    {"BASH_FUNC_", true},
    {"BASH_ENV", false},
    {"ENV", false},
    {"SHELLOPTS", false},
    {"BASHOPTS", false},
    {"PS4", false},
    {"PROMPT_COMMAND", false},
    {"IFS", false},
    {"CDPATH", false},
    {"ZDOTDIR", false},
    // Language runtimes that load code named by the environment.
    {"PERL5", true},
    {"PERLLIB", false},
    {"PYTHON", true},
    {"RUBY", true},
    {"GEM_", true},
    {"NODE_", true},
    {"LUA_INIT", true},
    {"LUA_PATH", true},
    {"LUA_CPATH", true},
    {"TCLLIBPATH", false},
    {"JAVA_TOOL_OPTIONS", false},
    {"_JAVA_OPTIONS", false},
    {"JDK_JAVA_OPTIONS", false},
    {"CLASSPATH", false},
    // Programs that run other programs named by the environment.
    {"GIT_SSH", false},
    {"GIT_SSH_COMMAND", false},
    {"GIT_EXEC_PATH", false},
    {"GIT_CONFIG", true},
    // Libraries that load modules or configuration named by the environment.
    {"OPENSSL_", true},
};

}  // namespace

bool shell_is_unsafe_variable(std::string_view name) {
    for (const unsafe_variable &v : unsafe_variables) {
        if (v.prefix ? name.starts_with(v.name) : name == v.name) return true;
    }
    return false;
}

void shell_harden_environment() {
    std::string removed;
    std::size_t left_out = 0;
    for (const std::string &name : cv_environment_names()) {
        if (!shell_is_unsafe_variable(name)) continue;
        if (cv_unsetenv(name.c_str()) != CV_OK) continue;
        const std::string text = shell_log_text(name, SHELL_LOG_ENV_ENTRY_SIZE);
        if (removed.size() + 1 + text.size() >= SHELL_LOG_NAMES_SIZE) {
            ++left_out;
            continue;
        }
        if (!removed.empty()) removed += ' ';
        removed += text;
    }
    if (removed.empty()) return;
    if (left_out == 0)
        cv_log_info("Removed from the command's environment: %s", removed.c_str());
    else
        cv_log_info("Removed from the command's environment: %s and %zu more", removed.c_str(),
                    left_out);
}

void shell_prepare_environment(bool forced_command, bool full_shell) {
    (void)cv_environment_make_unique(nullptr);
    if (forced_command)
        (void)cv_setenv(auth_token_variable, auth_token_value);
    else
        (void)cv_unsetenv(auth_token_variable);
    (void)cv_setenv("CORVANE_SHELL", full_shell ? "cvshell" : "cvshell-r");
}

static_assert((SHELL_LOG_ENV_ENTRIES + 1) *
                      (SHELL_LOG_LINE_OVERHEAD + sizeof "Env var: " - 1 +
                       SHELL_LOG_ENV_ENTRY_SIZE - 1) <=
                  SHELL_LOG_LOGIN_BOUND,
              "the environment listing of a failed forced login fits one login's share");

void shell_log_environment_block(char *const *envp) {
    if (!envp) return;
    std::size_t count = 0;
    for (char *const *entry = envp; *entry; ++entry, ++count)
        if (count < SHELL_LOG_ENV_ENTRIES)
            cv_log_info("Env var: %s",
                        shell_log_text(*entry, SHELL_LOG_ENV_ENTRY_SIZE).c_str());
    if (count > SHELL_LOG_ENV_ENTRIES)
        cv_log_info("Env vars not logged: %zu", count - SHELL_LOG_ENV_ENTRIES);
}
