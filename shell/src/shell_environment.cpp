// The child's environment, made safe before an accepted command starts.
//
// The child inherits the shell's environment.  Some variables make a dynamic
// loader, a language runtime or a command interpreter run code that the
// client chose (LD_PRELOAD, BASH_ENV, exported shell functions, ...); an SSH
// client can send some variables, and a forced command may be reached from a
// login whose environment the shell does not control.  Those variables are
// removed before the child starts, and their names logged on one line.  Every
// other variable is kept, including the ones the shell set itself.
#include <string>
#include <string_view>

#include "cvplatform/cv_log.h"
#include "cvplatform/cv_str.h"
#include "shell_internal.h"

namespace {

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
    {"OPENSSL_CONF", false},
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
    {"PERL5LIB", false},
    {"PERLLIB", false},
    {"PERL5OPT", false},
    {"PERL5DB", false},
    {"PYTHONPATH", false},
    {"PYTHONHOME", false},
    {"PYTHONSTARTUP", false},
    {"PYTHONINSPECT", false},
    {"RUBYLIB", false},
    {"RUBYOPT", false},
    {"NODE_OPTIONS", false},
    {"NODE_PATH", false},
    {"LUA_INIT", false},
    {"LUA_PATH", false},
    {"LUA_CPATH", false},
    {"TCLLIBPATH", false},
    {"JAVA_TOOL_OPTIONS", false},
    {"_JAVA_OPTIONS", false},
    {"JDK_JAVA_OPTIONS", false},
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
    for (const std::string &name : cv_environment_names()) {
        if (!shell_is_unsafe_variable(name)) continue;
        if (cv_unsetenv(name.c_str()) != CV_OK) continue;
        if (!removed.empty()) removed += ' ';
        removed += name;
    }
    if (!removed.empty())
        cv_log_info("Removed from the command's environment: %s", removed.c_str());
}
