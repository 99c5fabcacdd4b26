// Tests of the owner-checking mutex: normal use, blocking between threads,
// refused releases (with their log line) and the reacquire trap, which must
// log and end the process with a breakpoint.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "cvplatform/cv_log.h"
#include "cvplatform/cv_mutex.h"
#include "cv_test_temp_dir.h"

namespace fs = std::filesystem;

namespace {


// The bodies ("LOG text") of the lines logged during the test.
class Mutex : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path().empty());
        cv_log_close();
        ASSERT_EQ(cv_log_init(1, (dir.path() + "/mutex.log").c_str()), 0u);
        ASSERT_EQ(cv_mutex_init(&m), 0u);
    }
    void TearDown() override {
        cv_mutex_destroy(&m);
        cv_log_close();
    }
    std::vector<std::string> logged() {
        std::ifstream in(dir.path() + "/mutex.0.log", std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        std::vector<std::string> bodies;
        std::istringstream lines(text.str());
        for (std::string line; std::getline(lines, line);) {
            const std::size_t at = line.find("] ");
            bodies.push_back(at == std::string::npos ? line : line.substr(at + 2));
        }
        return bodies;
    }

    temp_dir dir;
    cv_mutex m;
};

const std::string NON_OWNER = "LOG Attempt to release mutex by non-owner thread\r";

TEST_F(Mutex, AcquireReleaseAcquireAgain) {
    EXPECT_EQ(cv_mutex_acquire(&m), 0u);
    EXPECT_EQ(cv_mutex_release(&m), 0u);
    EXPECT_EQ(cv_mutex_acquire(&m), 0u);
    EXPECT_EQ(cv_mutex_release(&m), 0u);
    EXPECT_TRUE(logged().empty());
}

TEST_F(Mutex, ReleaseWhenNotHeldIsRefusedAndLogged) {
    EXPECT_EQ(cv_mutex_release(&m), 1u);
    EXPECT_EQ(logged(), std::vector<std::string>{NON_OWNER});
    // Still usable.
    EXPECT_EQ(cv_mutex_acquire(&m), 0u);
    EXPECT_EQ(cv_mutex_release(&m), 0u);
}

TEST_F(Mutex, SecondThreadWaitsForTheRelease) {
    ASSERT_EQ(cv_mutex_acquire(&m), 0u);
    std::atomic<int> stage{0};
    std::thread other([&] {
        stage = 1;
        const cv_status taken = cv_mutex_acquire(&m);
        stage = 2;
        if (taken == 0) cv_mutex_release(&m);
    });
    while (stage.load() == 0) std::this_thread::yield();
    // Give the other thread ample opportunity to get through if the lock
    // failed to hold it.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(stage.load(), 1);
    EXPECT_EQ(cv_mutex_release(&m), 0u);
    other.join();
    EXPECT_EQ(stage.load(), 2);
    EXPECT_TRUE(logged().empty());
}

TEST_F(Mutex, ReleaseByAnotherThreadIsRefused) {
    ASSERT_EQ(cv_mutex_acquire(&m), 0u);
    cv_status foreign = 0;
    std::uint32_t other_id = 0;
    std::thread other([&] {
        foreign = cv_mutex_release(&m);
        other_id = cv_thread_id();
    });
    other.join();
    EXPECT_EQ(foreign, 1u);
    EXPECT_NE(other_id, 0u);
    EXPECT_NE(other_id, cv_thread_id());
    // The lock was left alone: its owner still releases it.
    EXPECT_EQ(cv_mutex_release(&m), 0u);
    EXPECT_EQ(logged(), std::vector<std::string>{NON_OWNER});
}

TEST_F(Mutex, ReacquireReturnsWhenTheBreakpointIsIgnored) {
    // As when a debugger lets the process go on: 183, without locking.
    ASSERT_EQ(cv_mutex_acquire(&m), 0u);
    const auto previous = std::signal(SIGTRAP, SIG_IGN);
    const cv_status again = cv_mutex_acquire(&m);
    std::signal(SIGTRAP, previous);
    EXPECT_EQ(again, 183u);
    EXPECT_EQ(cv_mutex_release(&m), 0u);
    const std::vector<std::string> lines = logged();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "ERR cv_mutex_acquire: attempt to reacquire non-recursive mutex.  Aborting.\r");
    EXPECT_EQ(lines[1].rfind("ERR Backtrace hash:0x", 0), 0u) << "backtrace line: " << lines[1];
    // One line per frame, numbered from 0, each with its address and a name.
    const std::regex frame(R"(ERR  ?(\d+):0x[0-9a-f]{16} [^ ]+\+-?\d+\r)");
    for (std::size_t i = 2; i < lines.size(); ++i) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(lines[i], match, frame)) << "frame line: " << lines[i];
        EXPECT_EQ(std::stoul(match[1]), i - 2);
    }
}

// The reacquire, in a child that logs to standard error: the message and a
// backtrace line, then death by the breakpoint.
void reacquire_in_child() {
    const struct rlimit no_core = {0, 0};
    ::setrlimit(RLIMIT_CORE, &no_core);
    cv_log_close();
    if (cv_log_init(1, "-") != 0) return;
    cv_mutex lock;
    cv_mutex_init(&lock);
    (void)cv_mutex_acquire(&lock);
    (void)cv_mutex_acquire(&lock);
}

TEST(MutexDeathTest, ReacquireOnTheSameThreadTraps) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(reacquire_in_child(), ::testing::KilledBySignal(SIGTRAP),
                "^ERR cv_mutex_acquire: attempt to reacquire non-recursive mutex\\.  "
                "Aborting\\.\r\nERR Backtrace hash:0x[0-9a-f]+ [^\r\n]+\r\n"
                "(ERR  ?[0-9]+:0x[0-9a-f]{16} [^\r\n]+\r\n)+$");
}

TEST(ThreadId, EachThreadAndForkedChildHasItsOwn) {
    const std::uint32_t main_id = cv_thread_id();
    EXPECT_EQ(main_id, static_cast<std::uint32_t>(::syscall(SYS_gettid)));
    std::uint32_t other_id = 0;
    std::thread([&] { other_id = cv_thread_id(); }).join();
    EXPECT_NE(other_id, main_id);

    const pid_t child = fork();
    if (child == 0)
        _exit(cv_thread_id() == static_cast<std::uint32_t>(::syscall(SYS_gettid)) ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
