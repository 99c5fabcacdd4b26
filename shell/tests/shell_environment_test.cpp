// Tests of the variables removed from a command's environment: the families
// that language runtimes and tools read by prefix, and the names beside them
// that must stay.
#include <gtest/gtest.h>

#include <string>

#include "shell_internal.h"

namespace {

TEST(UnsafeVariables, RuntimeFamiliesGoByPrefix) {
    const struct {
        const char *name;
        bool unsafe;
    } cases[] = {
        {"LUA_INIT", true},           {"LUA_INIT_5_4", true},    {"LUA_INI", false},
        {"LUA_PATH_5_3", true},       {"LUA_CPATH", true},       {"LUA_CPATH_5_4", true},
        {"LUA_VERSION", false},       {"PYTHON", true},          {"PYTHONWARNINGS", true},
        {"PYTHONSAFEPATH", true},     {"PYTHO", false},          {"PERL5LIB", true},
        {"PERL5_DEBUG_ROLE", true},   {"PERLLIB", true},         {"PERL", false},
        {"RUBYOPT", true},            {"RUBYGEMS_GEMDEPS", true}, {"GEM_HOME", true},
        {"GEM_PATH", true},           {"GEM", false},            {"NODE_OPTIONS", true},
        {"NODE_EXTRA_CA_CERTS", true}, {"NODE", false},           {"NODEJS", false},
        {"JAVA_TOOL_OPTIONS", true},  {"_JAVA_OPTIONS", true},   {"JDK_JAVA_OPTIONS", true},
        {"JAVA_HOME", false},         {"CLASSPATH", true},       {"CLASSPATH_X", false},
        {"GIT_SSH", true},            {"GIT_SSH_COMMAND", true}, {"GIT_EXEC_PATH", true},
        {"GIT_CONFIG", true},         {"GIT_CONFIG_GLOBAL", true}, {"GIT_CONFIG_COUNT", true},
        {"GIT_CONFIG_KEY_0", true},   {"GIT_CONFIG_PARAMETERS", true}, {"GIT_DIR", false},
        {"GIT_SSH_VARIANT", false},   {"OPENSSL_CONF", true},    {"OPENSSL_MODULES", true},
        {"OPENSSL_ENGINES", true},    {"OPENSSL", false},        {"SSL_CERT_FILE", false},
        {"python", false},            {"Node_OPTIONS", false},
    };
    for (const auto &c : cases) EXPECT_EQ(shell_is_unsafe_variable(c.name), c.unsafe) << c.name;
}

TEST(UnsafeVariables, NamesAreComparedAsBytes) {
    EXPECT_TRUE(shell_is_unsafe_variable(std::string("PYTHON\xff\x01", 8)));
    EXPECT_TRUE(shell_is_unsafe_variable(std::string("BASH_FUNC_\x1b[1m%%")));
    EXPECT_FALSE(shell_is_unsafe_variable(std::string("\xffPYTHONPATH")));
    EXPECT_FALSE(shell_is_unsafe_variable(""));
}

}  // namespace
