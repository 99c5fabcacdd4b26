// Tests of the shell's pieces around the decision (shell_policy_test.cpp
// has the decision itself): the launch built from an accepted command, the
// variables kept from the child, the search path and the joined arguments.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cvshell/shell.h"
#include "shell_internal.h"

namespace {

TEST(Launch, JoinsTheProgramWordOnlyAndKeepsTheArguments) {
    shell_launch launch;
    ASSERT_EQ(shell_build_launch("/opt/my corvane/bin", "mytool a/../b \"c d\"", launch), 0);
    EXPECT_EQ(launch.program, "/opt/my corvane/bin/mytool");
    EXPECT_EQ(launch.argv,
              (std::vector<std::string>{"/opt/my corvane/bin/mytool", "a/../b", "c d"}));
    EXPECT_EQ(launch.command_line, "/opt/my corvane/bin/mytool a/../b \"c d\"");
}

TEST(Launch, DropsLeadingSlashesOfTheProgramWord) {
    shell_launch launch;
    ASSERT_EQ(shell_build_launch("/opt/c/bin", "/tools/x -v", launch), 0);
    EXPECT_EQ(launch.program, "/opt/c/bin/tools/x");
}

TEST(Launch, NeverLeavesTheProgramDirectory) {
    shell_launch launch;
    EXPECT_EQ(shell_build_launch("/opt/c/bin", "../../bin/sh", launch), -1);
    EXPECT_EQ(shell_build_launch("/opt/c/bin", "a/../../sh", launch), -1);
    EXPECT_EQ(shell_build_launch("/opt/c/bin", "..", launch), -1);
    EXPECT_EQ(shell_build_launch("/opt/c/bin", ".", launch), -1);
    EXPECT_EQ(shell_build_launch("/opt/c/bin", "", launch), -1);
    EXPECT_EQ(shell_build_launch("/opt/c/bin", "\"\" x", launch), -1);
    EXPECT_EQ(shell_build_launch("/opt/c/bin", "a/../cvcp", launch), 0);
    EXPECT_EQ(launch.program, "/opt/c/bin/cvcp");
}

TEST(ChildEnvironment, UnsafeVariablesByNameAndPrefix) {
    for (const char *name : {"LD_PRELOAD", "LD_AUDIT", "LD_", "BASH_ENV", "ENV", "SHELLOPTS",
                             "BASHOPTS", "PS4", "IFS", "CDPATH", "GCONV_PATH", "MALLOC_CHECK_",
                             "BASH_FUNC_ls%%", "GLIBC_TUNABLES", "PYTHONPATH", "PERL5OPT"})
        EXPECT_TRUE(shell_is_unsafe_variable(name)) << name;
    for (const char *name : {"PATH", "HOME", "USER", "LANG", "LC_ALL", "TERM", "SSH_CONNECTION",
                             "CORVANE_SHELL", "CORVANE_AUTH_TOKEN", "ENVIRONMENT", "ld_preload",
                             "XLD_PRELOAD", "IFS2", "TMPDIR"})
        EXPECT_FALSE(shell_is_unsafe_variable(name)) << name;
}

TEST(SearchPath, WindowsFormPrefixesTheCygdriveDirectory) {
    EXPECT_EQ(shell_cygdrive_path_assignment("PATH", "D:\\srv\\bin", "/usr/bin"),
              "PATH=/cygdrive/D//srv/bin:/usr/bin");
    EXPECT_EQ(shell_cygdrive_path_assignment("Path", "D:/x", ""), "Path=/cygdrive/D//x:");
}

TEST(SearchPath, PosixFormPutsTheDirectoryFirstAsItIs) {
    EXPECT_EQ(shell_posix_path_value("/opt/corvane/bin", "/usr/bin"), "/opt/corvane/bin:/usr/bin");
    EXPECT_EQ(shell_posix_path_value("/opt/corvane/bin", ""), "/opt/corvane/bin");
}

TEST(JoinArgs, JoinsUpToThreePiecesThatFit) {
    char buffer[SHELL_COMMAND_SIZE];
    char a[] = "cvcp", b[] = "-S.", c[] = "-V1";
    char *args[] = {a, b, c, a};
    ASSERT_EQ(join_args(3, args, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "cvcp -S. -V1");
    EXPECT_EQ(join_args(4, args, buffer, sizeof buffer), -1);
    EXPECT_EQ(join_args(0, args, buffer, sizeof buffer), 0);

    std::string big(SHELL_COMMAND_SIZE - 5, 'x');
    char *long_args[] = {a, big.data()};
    EXPECT_EQ(join_args(2, long_args, buffer, sizeof buffer), -1);
}

}  // namespace
