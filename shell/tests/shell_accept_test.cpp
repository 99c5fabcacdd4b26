// Tests of command acceptance: the built-in forms, their gates, the
// management-port scan pattern, the user's extra commands, and the near
// misses that must be refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cvshell/shell.h"
#include "shell_internal.h"

namespace {

enum class user_kind { none, cvsync_on, cvsync_off };

struct accept_case {
    const char *command;
    int expected;
    int full_shell = 1;
    int dir_allowed = 1;
    user_kind user = user_kind::cvsync_on;
    int db_port = SHELL_DEFAULT_DB_PORT;
};

class Accept : public ::testing::TestWithParam<accept_case> {
protected:
    void SetUp() override {
        const accept_case &c = GetParam();
        on_.cvsync_enabled = true;
        off_.cvsync_enabled = false;
        g_shell.full_shell = c.full_shell;
        g_shell.dir_commands_allowed = c.dir_allowed;
        g_shell.reserved_db_port = c.db_port;
        g_shell.user_settings = c.user == user_kind::none        ? nullptr
                                : c.user == user_kind::cvsync_on ? &on_
                                                                 : &off_;
    }
    void TearDown() override { g_shell = shell_state{}; }
    shell_user_settings on_, off_;
};

TEST_P(Accept, DecidesByTheTable) {
    const accept_case &c = GetParam();
    EXPECT_EQ(accept_command(c.command), c.expected)
        << "command [" << c.command << "] full=" << c.full_shell << " dir=" << c.dir_allowed;
}

constexpr int R = 0;  // restricted mode

INSTANTIATE_TEST_SUITE_P(
    BuiltIn, Accept,
    ::testing::Values(
        // The literal forms, in either mode and without user settings.
        accept_case{"cvcp -S. -V1", 1},
        accept_case{"cvcp -S. -V1", 1, R, 0, user_kind::none},
        accept_case{"cvcp4 -S.", 1, R},
        accept_case{"cvsync -q -S -s-", 1, R},
        // The gated forms: full mode and directory commands both needed.
        accept_case{"cvcmd", 1},
        accept_case{"cvcmd -V2", 1},
        accept_case{"cvcmd", 0, R},
        accept_case{"cvcmd -V2", 0, 1, 0},
        accept_case{"!cvcmd", 0},
        // The management-port form, with and without -6.
        accept_case{"cvcp --no-mgmt-port-files -M 33001 -S. -V1", 1, R},
        accept_case{"cvcp --no-mgmt-port-files -M 33001 -6 -S. -V1", 1, R},
        accept_case{"cvcp --no-mgmt-port-files -M 1024 -S. -V1", 1},
        accept_case{"cvcp --no-mgmt-port-files -M 65535 -6 -S. -V1", 1},
        accept_case{"cvcp --no-mgmt-port-files -M 0000033001 -S. -V1", 1},
        accept_case{"cvcp --no-mgmt-port-files -M 31415 -S. -V1", 1, 1, 1, user_kind::cvsync_on, 6379},
        // Its gates: the user's cvsync_enabled and the server's database port.
        accept_case{"cvcp --no-mgmt-port-files -M 31415 -S. -V1", 0},
        accept_case{"cvcp --no-mgmt-port-files -M 6379 -S. -V1", 0, 1, 1, user_kind::cvsync_on, 6379},
        accept_case{"cvcp --no-mgmt-port-files -M 33001 -S. -V1", 0, 1, 1, user_kind::cvsync_off},
        accept_case{"cvcp --no-mgmt-port-files -M 33001 -S. -V1", 0, 1, 1, user_kind::none}));

// Near misses of the management-port form: every one differs from an
// accepted form in what the tool would be handed, or in the port's rules.
INSTANTIATE_TEST_SUITE_P(
    PortNearMisses, Accept,
    ::testing::Values(
        // Blanks: exactly one, never a tab, a run or none.
        accept_case{"cvcp --no-mgmt-port-files -M\t33001 -S. -V1", 0},
        accept_case{"cvcp\t--no-mgmt-port-files -M 33001 -S. -V1", 0},
        accept_case{"cvcp --no-mgmt-port-files -M 33001\t-S. -V1", 0},
        accept_case{"cvcp --no-mgmt-port-files -M 33001 -S.\t-V1", 0},
        accept_case{"cvcp --no-mgmt-port-files  -M 33001 -S. -V1", 0},
        accept_case{"cvcp --no-mgmt-port-files -M  33001 -S. -V1", 0},
        accept_case{"cvcp --no-mgmt-port-files -M 33001  -S. -V1", 0},
        accept_case{"cvcp  --no-mgmt-port-files   -M   33001   -S. -V1", 0},
        accept_case{"cvcp --no-mgmt-port-files -M33001 -S. -V1", 0},
        accept_case{"cvcp --no-mgmt-port-files-M 33001 -S. -V1", 0},
        accept_case{"cvcp--no-mgmt-port-files -M 33001 -S. -V1", 0},
        accept_case{"cvcp --no-mgmt-port-files -M 33001-S. -V1", 0},
        accept_case{" cvcp --no-mgmt-port-files -M 33001 -S. -V1", 0},
        accept_case{"cvcp --no-mgmt-port-files -M 33001 -S. -V1 ", 0},
        accept_case{"cvcp --no-mgmt-port-files -M 33001 -6 -S. -V1 ", 0},
        accept_case{"cvcp --no-mgmt-port-files -M 33001\n-S. -V1", 0},
        accept_case{"cvcp --no-mgmt-port-files -M 33001\r-S. -V1", 0},
        // The port: unsigned decimal digits, 1024 to 65535, at most ten digits.
        accept_case{"cvcp --no-mgmt-port-files -M +33001 -S. -V1", 0},
        accept_case{"cvcp --no-mgmt-port-files -M -33001 -S. -V1", 0},
        accept_case{"cvcp --no-mgmt-port-files -M +2000 -S. -V1", 0},
        accept_case{"cvcp --no-mgmt-port-files -M -2000 -S. -V1", 0},
        accept_case{"cvcp --no-mgmt-port-files -M 1023 -S. -V1", 0},
        accept_case{"cvcp --no-mgmt-port-files -M 65536 -S. -V1", 0},
        accept_case{"cvcp --no-mgmt-port-files -M 0 -S. -V1", 0},
        accept_case{"cvcp --no-mgmt-port-files -M 00000033001 -S. -V1", 0},
        accept_case{"cvcp --no-mgmt-port-files -M 4294967297 -S. -V1", 0},
        accept_case{"cvcp --no-mgmt-port-files -M 99999999999999999999 -S. -V1", 0},
        accept_case{"cvcp --no-mgmt-port-files -M 0x8000 -S. -V1", 0},
        accept_case{"cvcp --no-mgmt-port-files -M 3300l -S. -V1", 0},
        accept_case{"cvcp --no-mgmt-port-files -M  -S. -V1", 0},
        // The tail: exactly one of the two, nothing after it.
        accept_case{"cvcp --no-mgmt-port-files -M 33001 -S. -V1 x", 0},
        accept_case{"cvcp --no-mgmt-port-files -M 33001 -S. -V1x", 0},
        accept_case{"cvcp --no-mgmt-port-files -M 33001 -S.", 0},
        accept_case{"cvcp --no-mgmt-port-files -M 33001", 0},
        accept_case{"cvcp --no-mgmt-port-files -M 33001 ", 0},
        accept_case{"cvcp --no-mgmt-port-files -M 33001 -S. -V11", 0},
        accept_case{"cvcp --no-mgmt-port-files -M 33001 -6 -6 -S. -V1", 0},
        accept_case{"cvcp --no-mgmt-port-files -M 33001 -6  -S. -V1", 0},
        accept_case{"cvcp --no-mgmt-port-files -M 33001 -S. -V1 -6", 0}));

// Near misses of every built-in form: each must be refused.
INSTANTIATE_TEST_SUITE_P(
    NearMisses, Accept,
    ::testing::Values(
        accept_case{"", 0}, accept_case{" ", 0},
        accept_case{"cvcp -S. -V1 ", 0}, accept_case{" cvcp -S. -V1", 0},
        accept_case{"cvcp  -S. -V1", 0}, accept_case{"cvcp\t-S. -V1", 0},
        accept_case{"CVCP -S. -V1", 0}, accept_case{"cvcp -s. -V1", 0},
        accept_case{"cvcp -S. -V2", 0}, accept_case{"cvcp -S. -V1 -o ProxyCommand=x", 0},
        accept_case{"cvcp -S. -V1 --help", 0}, accept_case{"cvcp -S. -V1; sh", 0},
        accept_case{"cvcp -S. -V1 && sh", 0}, accept_case{"cvcp -S. -V1\nsh", 0},
        accept_case{"cvcp -S. -V1\r", 0}, accept_case{"cvcp -S. -V1\x01", 0},
        accept_case{"cvcp -S. $(sh)", 0}, accept_case{"\"cvcp\" -S. -V1", 0},
        accept_case{"/usr/bin/cvcp -S. -V1", 0}, accept_case{"../cvcp -S. -V1", 0},
        accept_case{"cvcp4 -S", 0}, accept_case{"cvcp4 -S. ", 0},
        accept_case{"cvsync -q -S -s", 0}, accept_case{"cvsync -q -S -s- -e sh", 0},
        accept_case{"cvcmd ", 0}, accept_case{"cvcmd -V2 -V2", 0},
        accept_case{"cvcp -S. -V\xc3", 0}, accept_case{"cvcp -S.\xff-V1", 0},
        accept_case{"cvcp --no-mgmt-port-files -M 33001 -S. -V1; sh", 0},
        accept_case{"cvcp --no-mgmt-port-files -M 33001 -S.-V1", 0},
        accept_case{"cvcp --no-mgmt-port-files -N 33001 -S. -V1", 0},
        accept_case{"bash -c cvcp -S. -V1", 0}, accept_case{"shell", 0}));

class ExtraCommands : public ::testing::Test {
protected:
    void SetUp() override {
        user_.cvsync_enabled = true;
        user_.has_additional_shell_calls = true;
        user_.additional_shell_calls = {"mytool a/../b", "!dirtool", "",
                                        "xtool -M %d %20[ -16.SV]%1s", "ytool %s %d"};
        g_shell.user_settings = &user_;
    }
    void TearDown() override { g_shell = shell_state{}; }
    shell_user_settings user_;
};

TEST_F(ExtraCommands, AddCommandLinesBesideTheBuiltInOnes) {
    EXPECT_EQ(accept_command("mytool a/../b"), 1);
    EXPECT_EQ(accept_command("mytool a/../b "), 0);
    EXPECT_EQ(accept_command("mytool"), 0);
    EXPECT_EQ(accept_command("cvcp -S. -V1"), 1);
}

TEST_F(ExtraCommands, EmptyEntryMatchesOnlyTheEmptyCommand) {
    EXPECT_EQ(accept_command(""), 1);
    user_.additional_shell_calls = {"x"};
    EXPECT_EQ(accept_command(""), 0);
}

TEST_F(ExtraCommands, GatedEntriesFollowTheSameGates) {
    EXPECT_EQ(accept_command("dirtool"), 1);
    g_shell.full_shell = 0;
    EXPECT_EQ(accept_command("dirtool"), 0);
    g_shell.full_shell = 1;
    g_shell.dir_commands_allowed = 0;
    EXPECT_EQ(accept_command("dirtool"), 0);
}

TEST_F(ExtraCommands, ScanPatternsFollowThePortAndTailRules) {
    EXPECT_EQ(accept_command("xtool -M 40000 -6 -S. -V1"), 1);
    EXPECT_EQ(accept_command("xtool -M 31415 -6 -S. -V1"), 0);
    EXPECT_EQ(accept_command("xtool -M 40000 -S. -V2"), 0);
    user_.cvsync_enabled = false;
    EXPECT_EQ(accept_command("xtool -M 40000 -6 -S. -V1"), 0);
}

TEST_F(ExtraCommands, ScanPatternWithItemsInTheWrongOrderMatchesNothing) {
    EXPECT_EQ(accept_command("ytool -S. 40000"), 0);
}

TEST_F(ExtraCommands, ScanPatternsAreReadAsStrictlyAsTheBuiltInOne) {
    for (const char *command : {"xtool -M40000 -6 -S. -V1", "xtool  -M 40000 -6 -S. -V1",
                                "xtool -M\t40000 -6 -S. -V1", "xtool -M +40000 -6 -S. -V1",
                                "xtool -M 40000 -6 -S. -V1 ", "xtool-M 40000 -6 -S. -V1"})
        EXPECT_EQ(accept_command(command), 0) << command;
    // A pattern without a trailing conversion still needs the whole text.
    user_.additional_shell_calls = {"ztool %d %20[ -16.SV]"};
    EXPECT_EQ(accept_command("ztool 40000 -S. -V1"), 1);
    EXPECT_EQ(accept_command("ztool 40000 -S. -V1x"), 0);
}

TEST_F(ExtraCommands, AbsentListAddsNothing) {
    user_.has_additional_shell_calls = false;
    EXPECT_EQ(accept_command("mytool a/../b"), 0);
}

TEST(Scan, ReadsThePortAndTheTail) {
    const char *pattern = "cvcp --no-mgmt-port-files -M %d %20[ -16.SV]%1s";
    scan_result r = shell_scan("cvcp --no-mgmt-port-files -M 33001 -S. -V1", pattern);
    ASSERT_EQ(r.items.size(), 2u);
    EXPECT_EQ(r.items[0].number, 33001);
    EXPECT_EQ(r.items[1].text, "-S. -V1");
    EXPECT_EQ(r.consumed, 42u);

    r = shell_scan("cvcp --no-mgmt-port-files -M 33001 -S. -V1 x", pattern);
    ASSERT_EQ(r.items.size(), 3u);
    EXPECT_EQ(r.items[2].text, "x");

    // The tail takes at most 20 characters of its set; the rest is a third item.
    r = shell_scan("cvcp --no-mgmt-port-files -M 1 ------------------------S", pattern);
    ASSERT_EQ(r.items.size(), 3u);
    EXPECT_EQ(r.items[1].text.size(), 20u);

    r = shell_scan("cvcp --no-mgmt-port-files -M x", pattern);
    EXPECT_TRUE(r.items.empty());
    EXPECT_FALSE(r.overflow);
    EXPECT_EQ(r.consumed, 29u);
}

TEST(Scan, ABlankMatchesExactlyOneBlank) {
    struct blank_case {
        const char *input;
        std::size_t items;
        std::size_t consumed;
    };
    for (const blank_case &c : {blank_case{"a 1 b", 2, 5}, blank_case{"a  1 b", 0, 2},
                                blank_case{"a1 b", 0, 1}, blank_case{"a\t1 b", 0, 1},
                                blank_case{"a 1b", 1, 3}, blank_case{"a 1 \tb", 1, 4}}) {
        const scan_result r = shell_scan(c.input, "a %d %s");
        EXPECT_EQ(r.items.size(), c.items) << c.input;
        EXPECT_EQ(r.consumed, c.consumed) << c.input;
    }
}

TEST(Scan, NumbersAreUnsignedDecimalDigitsOnly) {
    for (const char *input : {"+1", "-1", " 1", "\t1", "x1", ""}) {
        const scan_result r = shell_scan(input, "%d");
        EXPECT_TRUE(r.items.empty()) << input;
        EXPECT_EQ(r.consumed, 0u) << input;
    }
    scan_result r = shell_scan("2147483647", "%d");
    ASSERT_EQ(r.items.size(), 1u);
    EXPECT_EQ(r.items[0].number, 2147483647);
    r = shell_scan("123456", "%3d");
    ASSERT_EQ(r.items.size(), 1u);
    EXPECT_EQ(r.items[0].number, 123);
    EXPECT_EQ(r.consumed, 3u);
}

TEST(Scan, RefusesNumbersBeyondThirtyTwoBits) {
    EXPECT_TRUE(shell_scan("2147483648", "%d").overflow);
    EXPECT_TRUE(shell_scan("9999999999", "%d").overflow);
    EXPECT_TRUE(shell_scan("12345678901", "%d").overflow);
    EXPECT_TRUE(shell_scan("00000000001", "%d").overflow);
}

TEST(Scan, NoConversionSkipsWhiteSpace) {
    EXPECT_TRUE(shell_scan(" x", "%s").items.empty());
    EXPECT_TRUE(shell_scan(" %", "%%").items.empty());
    EXPECT_EQ(shell_scan(" %", "%%").consumed, 0u);
    EXPECT_EQ(shell_scan("%", "%%").consumed, 1u);
}

TEST(Scan, UnsupportedConversionsMatchNothing) {
    EXPECT_TRUE(shell_scan("1", "%x").unsupported);
    EXPECT_TRUE(shell_scan("1", "%n").unsupported);
    EXPECT_TRUE(shell_scan("abc", "%[abc").unsupported);
    EXPECT_TRUE(shell_scan("1", "%").unsupported);
    EXPECT_EQ(shell_scan("100%", "%d%%").items.size(), 1u);
}

TEST(Scan, SetsWithRangesNegationAndBrackets) {
    scan_result r = shell_scan("]a-b", "%[]a-]");
    ASSERT_EQ(r.items.size(), 1u);
    EXPECT_EQ(r.items[0].text, "]a-");
    r = shell_scan("xyz1", "%[^0-9]");
    ASSERT_EQ(r.items.size(), 1u);
    EXPECT_EQ(r.items[0].text, "xyz");
}

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
