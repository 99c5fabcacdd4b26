// Tests of command line splitting and child processes: exit codes, deaths by
// signal, the child's signal state, and termination signals passed on to a
// child while it is waited for.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cv_test_temp_dir.h"
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

/* Starts `argv` and waits for it; the end it reports. */
cv_process_end run_to_end(const std::vector<std::string> &argv, unsigned flags = 0) {
    cv_process child{};
    cv_process_end end{-1, -1};
    EXPECT_EQ(cv_process_start(argv[0].c_str(), argv, flags, &child), CV_OK);
    EXPECT_EQ(cv_process_wait(&child), CV_OK);
    EXPECT_EQ(cv_process_exit_code(&child, &end), CV_OK);
    return end;
}

TEST(Process, StartsAProgramByPathAndReadsItsExitCode) {
    for (unsigned flags : {0u, unsigned{CV_PROCESS_FORWARD_SIGNALS}}) {
        const cv_process_end end = run_to_end({"/bin/sh", "-c", "exit 3"}, flags);
        EXPECT_EQ(end.exit_code, 3) << flags;
        EXPECT_EQ(end.signal, 0) << flags;
    }
}

TEST(Process, NeverSearchesTheSearchPath) {
    cv_process child{};
    // "true" exists on the search path, but a bare name is not a path here.
    EXPECT_EQ(cv_process_start("true", {"true"}, 0, &child), 2u);
    EXPECT_EQ(cv_process_start("/nonexistent/program", {"x"}, 0, &child), 2u);
    EXPECT_EQ(child.id, 0);
}

TEST(Process, ReportsASignalAsExitCode) {
    const cv_process_end end = run_to_end({"/bin/sh", "-c", "kill -TERM $$"});
    EXPECT_EQ(end.exit_code, 128 + 15);
    EXPECT_EQ(end.signal, SIGTERM);
}

TEST(Process, RefusesBadArguments) {
    cv_process child{};
    cv_process_end end{};
    EXPECT_EQ(cv_process_start(nullptr, {"x"}, 0, &child), CV_E_INVALID);
    EXPECT_EQ(cv_process_start("/bin/true", {}, 0, &child), CV_E_INVALID);
    EXPECT_EQ(cv_process_start("/bin/true", {"true"}, 2, &child), CV_E_INVALID);
    EXPECT_EQ(cv_process_wait(&child), CV_E_INVALID);
    EXPECT_EQ(cv_process_exit_code(&child, &end), CV_E_INVALID);
    EXPECT_EQ(cv_console_write(0, "x", 1), CV_E_INVALID);
}

TEST(Process, ReadsStillActiveWhileTheChildRuns) {
    cv_process child{};
    ASSERT_EQ(cv_process_start("/bin/sleep", {"sleep", "30"}, 0, &child), CV_OK);
    cv_process_end end{};
    ASSERT_EQ(cv_process_exit_code(&child, &end), CV_OK);
    EXPECT_EQ(end.exit_code, CV_PROCESS_STILL_ACTIVE);

    ASSERT_EQ(::kill(static_cast<pid_t>(child.id), SIGKILL), 0);
    ASSERT_EQ(cv_process_wait(&child), CV_OK);
    ASSERT_EQ(cv_process_exit_code(&child, &end), CV_OK);
    EXPECT_EQ(end.exit_code, 137);
    EXPECT_EQ(end.signal, SIGKILL);
    // A second wait gives the recorded end and never asks about the id again.
    EXPECT_EQ(cv_process_wait(&child), CV_OK);
}

TEST(Process, AWaitThatFindsNoChildFailsAndSoDoesTheRead) {
    cv_process child{};
    ASSERT_EQ(cv_process_start("/bin/sh", {"sh", "-c", "exit 4"}, 0, &child), CV_OK);
    int status = 0;
    ASSERT_EQ(::waitpid(static_cast<pid_t>(child.id), &status, 0), child.id);
    EXPECT_EQ(cv_process_wait(&child), static_cast<cv_status>(ECHILD));
    cv_process_end end{};
    EXPECT_EQ(cv_process_exit_code(&child, &end), static_cast<cv_status>(ECHILD));
}

/* The caller's signal state, saved and put back around a test. */
class SignalState : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::sigprocmask(SIG_SETMASK, nullptr, &mask_), 0);
        for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGCHLD, SIGUSR2})
            ASSERT_EQ(::sigaction(sig, nullptr, &actions_[sig]), 0);
    }
    void TearDown() override {
        for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGCHLD, SIGUSR2})
            ::sigaction(sig, &actions_[sig], nullptr);
        ::sigprocmask(SIG_SETMASK, &mask_, nullptr);
    }
    static bool blocked(int sig) {
        sigset_t now;
        ::sigprocmask(SIG_SETMASK, nullptr, &now);
        return sigismember(&now, sig) == 1;
    }
    static void set_action(int sig, void (*handler)(int)) {
        struct sigaction sa {};
        sa.sa_handler = handler;
        sigemptyset(&sa.sa_mask);
        ASSERT_EQ(::sigaction(sig, &sa, nullptr), 0);
    }
    sigset_t mask_;
    struct sigaction actions_[NSIG];
};

/* The "Name:\tvalue" line of a /proc status text. */
std::string status_field(const std::string &text, const std::string &name) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind(name + ":\t", 0) == 0) return line.substr(name.size() + 2);
    return "<missing>";
}

TEST_F(SignalState, ChildStartsWithDefaultActionsAndNothingBlocked) {
    sigset_t extra;
    sigemptyset(&extra);
    sigaddset(&extra, SIGUSR1);
    ASSERT_EQ(::sigprocmask(SIG_BLOCK, &extra, nullptr), 0);
    set_action(SIGUSR2, SIG_IGN);
    set_action(SIGHUP, SIG_IGN);

    for (unsigned flags : {0u, unsigned{CV_PROCESS_FORWARD_SIGNALS}}) {
        temp_dir dir;
        const std::string out = dir / "status";
        // The child's standard output is ours: point it at a file meanwhile.
        const int saved = ::dup(1);
        const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ::dup2(fd, 1);
        ::close(fd);
        cv_process child{};
        const cv_status started =
            cv_process_start("/bin/cat", {"cat", "/proc/self/status"}, flags, &child);
        ::dup2(saved, 1);
        ::close(saved);
        ASSERT_EQ(started, CV_OK);
        ASSERT_EQ(cv_process_wait(&child), CV_OK);

        std::ifstream in(out);
        std::stringstream text;
        text << in.rdbuf();
        EXPECT_EQ(status_field(text.str(), "SigBlk"), "0000000000000000") << flags;
        // Signals 1 to 31; the C library keeps two real-time signals of its
        // own to itself.
        const unsigned long long ignored =
            std::stoull(status_field(text.str(), "SigIgn"), nullptr, 16);
        EXPECT_EQ(ignored & 0x7fffffffULL, 0u) << std::hex << ignored << " flags " << flags;
    }
}

/* Polls for `path` to exist, up to ten seconds. */
bool appears(const std::string &path) {
    for (int i = 0; i < 1000; ++i) {
        if (std::filesystem::exists(path)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST_F(SignalState, TerminationSignalsSentBeforeTheWaitReachTheChild) {
    // The child answers each signal with its own exit code, so the code says
    // which signal arrived.  It announces that its traps are set first.
    struct signal_case {
        int sig;
        int code;
    };
    for (const signal_case c : {signal_case{SIGHUP, 41}, signal_case{SIGINT, 42},
                                signal_case{SIGQUIT, 43}, signal_case{SIGTERM, 44}}) {
        temp_dir dir;
        const std::string ready = dir / "ready";
        const std::string script =
            "trap 'exit 41' HUP; trap 'exit 42' INT; trap 'exit 43' QUIT; trap 'exit 44' TERM; "
            ": > '" + ready + "'; i=0; while [ $i -lt 600 ]; do sleep 0.05; i=$((i+1)); done";
        cv_process child{};
        ASSERT_EQ(cv_process_start("/bin/sh", {"sh", "-c", script}, CV_PROCESS_FORWARD_SIGNALS,
                                   &child),
                  CV_OK);
        ASSERT_TRUE(appears(ready));
        // Held back since the start: this neither ends the test nor is lost.
        ASSERT_EQ(::kill(::getpid(), c.sig), 0);
        ASSERT_EQ(cv_process_wait(&child), CV_OK);
        cv_process_end end{};
        ASSERT_EQ(cv_process_exit_code(&child, &end), CV_OK);
        EXPECT_EQ(end.exit_code, c.code) << c.sig;
        EXPECT_EQ(end.signal, 0) << c.sig;
        EXPECT_EQ(child.forwarded_signal, c.sig);
        EXPECT_FALSE(blocked(c.sig)) << "the caller's mask is given back";
    }
}

TEST_F(SignalState, ChildDiesOfAForwardedSignalAtItsDefaultAction) {
    cv_process child{};
    ASSERT_EQ(cv_process_start("/bin/sleep", {"sleep", "30"}, CV_PROCESS_FORWARD_SIGNALS, &child),
              CV_OK);
    EXPECT_TRUE(blocked(SIGTERM));
    EXPECT_TRUE(blocked(SIGHUP));
    ASSERT_EQ(::kill(::getpid(), SIGTERM), 0);
    ASSERT_EQ(cv_process_wait(&child), CV_OK);
    cv_process_end end{};
    ASSERT_EQ(cv_process_exit_code(&child, &end), CV_OK);
    EXPECT_EQ(end.exit_code, 143);
    EXPECT_EQ(end.signal, SIGTERM);
    EXPECT_FALSE(blocked(SIGTERM));
    EXPECT_FALSE(blocked(SIGCHLD));
}

TEST_F(SignalState, EndIsCollectedWhenTheCallerIgnoresChildSignals) {
    set_action(SIGCHLD, SIG_IGN);
    const cv_process_end end = run_to_end({"/bin/sh", "-c", "exit 3"}, CV_PROCESS_FORWARD_SIGNALS);
    EXPECT_EQ(end.exit_code, 3);
    struct sigaction now {};
    ASSERT_EQ(::sigaction(SIGCHLD, nullptr, &now), 0);
    EXPECT_EQ(now.sa_handler, SIG_IGN) << "the caller's action is given back";
}

TEST_F(SignalState, OneForwardingChildAtATime) {
    cv_process first{}, second{};
    ASSERT_EQ(cv_process_start("/bin/sleep", {"sleep", "30"}, CV_PROCESS_FORWARD_SIGNALS, &first),
              CV_OK);
    EXPECT_EQ(cv_process_start("/bin/true", {"true"}, CV_PROCESS_FORWARD_SIGNALS, &second),
              CV_E_INVALID);
    ASSERT_EQ(::kill(static_cast<pid_t>(first.id), SIGKILL), 0);
    ASSERT_EQ(cv_process_wait(&first), CV_OK);
    // The first one waited for, the next may start.
    EXPECT_EQ(run_to_end({"/bin/true"}, CV_PROCESS_FORWARD_SIGNALS).exit_code, 0);
}

TEST_F(SignalState, FailedStartGivesTheSignalStateBack) {
    cv_process child{};
    EXPECT_EQ(cv_process_start("/nonexistent", {"x"}, CV_PROCESS_FORWARD_SIGNALS, &child), 2u);
    EXPECT_FALSE(blocked(SIGTERM));
    EXPECT_EQ(run_to_end({"/bin/true"}, CV_PROCESS_FORWARD_SIGNALS).exit_code, 0);
}

TEST(Process, SignalNames) {
    EXPECT_STREQ(cv_process_signal_name(SIGTERM), "TERM");
    EXPECT_STREQ(cv_process_signal_name(SIGKILL), "KILL");
    EXPECT_STREQ(cv_process_signal_name(SIGHUP), "HUP");
    EXPECT_STREQ(cv_process_signal_name(0), "?");
    EXPECT_STREQ(cv_process_signal_name(-1), "?");
    EXPECT_STREQ(cv_process_signal_name(100000), "?");
}

}  // namespace
