// Tests of command line splitting and child processes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cvplatform/cv_process.h"

namespace {

struct split_case {
    const char *cmdline;
    std::vector<std::string> args;
};

class CmdlineSplit : public ::testing::TestWithParam<split_case> {};

TEST_P(CmdlineSplit, FollowsTheWindowsRuntimeRules) {
    const split_case &c = GetParam();
    EXPECT_EQ(cv_cmdline_split(c.cmdline, nullptr), c.args) << c.cmdline;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, CmdlineSplit,
    ::testing::Values(
        split_case{"", {}},
        split_case{"   \t ", {}},
        split_case{"cvcp -S. -V1", {"cvcp", "-S.", "-V1"}},
        split_case{"  a \t b  ", {"a", "b"}},
        split_case{"\"a b\" c", {"a b", "c"}},
        split_case{"a\"b c\"d", {"ab cd"}},
        split_case{"\"\"", {""}},
        split_case{"a \"\" b", {"a", "", "b"}},
        split_case{"a\\\\b", {"a\\\\b"}},              // backslashes not before a quote
        split_case{"a\\\"b", {"a\"b"}},                // 1 backslash + quote: literal quote
        split_case{"a\\\\\"b c\"", {"a\\b c"}},        // 2 backslashes + quote: 1 backslash, toggle
        split_case{"a\\\\\\\"b", {"a\\\"b"}},          // 3 backslashes + quote: 1 backslash, quote
        split_case{"\"unterminated arg", {"unterminated arg"}},
        split_case{"a/../b x/../y", {"a/../b", "x/../y"}},
        split_case{"semi;colon $(x) `y` |z", {"semi;colon", "$(x)", "`y`", "|z"}},
        split_case{"new\nline", {"new\nline"}}));

TEST(CmdlineSplit, ReportsWhereTheArgumentsBegin) {
    std::size_t rest = 0;
    const char *text = "  prog  arg1 \"arg 2\"";
    auto args = cv_cmdline_split(text, &rest);
    ASSERT_EQ(args.size(), 3u);
    EXPECT_EQ(std::string(text + rest), "  arg1 \"arg 2\"");

    cv_cmdline_split("prog", &rest);
    EXPECT_EQ(rest, 4u);
    cv_cmdline_split("", &rest);
    EXPECT_EQ(rest, 0u);
}

TEST(Process, StartsAProgramByPathAndReadsItsExitCode) {
    cv_process child{};
    ASSERT_EQ(cv_process_start("/bin/sh", {"sh", "-c", "exit 3"}, &child), CV_OK);
    int code = -1;
    ASSERT_EQ(cv_process_wait(&child, &code), CV_OK);
    EXPECT_EQ(code, 3);
}

TEST(Process, NeverSearchesTheSearchPath) {
    cv_process child{};
    // "true" exists on the search path, but a bare name is not a path here.
    EXPECT_EQ(cv_process_start("true", {"true"}, &child), 2u);
    EXPECT_EQ(cv_process_start("/nonexistent/program", {"x"}, &child), 2u);
    EXPECT_EQ(child.id, 0);
}

TEST(Process, ReportsASignalAsExitCode) {
    cv_process child{};
    ASSERT_EQ(cv_process_start("/bin/sh", {"sh", "-c", "kill -TERM $$"}, &child), CV_OK);
    int code = -1;
    ASSERT_EQ(cv_process_wait(&child, &code), CV_OK);
    EXPECT_EQ(code, 128 + 15);
}

TEST(Process, RefusesBadArguments) {
    cv_process child{};
    int code = 0;
    EXPECT_EQ(cv_process_start(nullptr, {"x"}, &child), CV_E_INVALID);
    EXPECT_EQ(cv_process_start("/bin/true", {}, &child), CV_E_INVALID);
    EXPECT_EQ(cv_process_wait(&child, &code), CV_E_INVALID);
    EXPECT_EQ(cv_console_write(0, "x", 1), CV_E_INVALID);
}

}  // namespace
