// End-to-end tests of the child's end: the real cvshell in a staged
// installation tree runs a stand-in tool that exits with a chosen code, dies
// of a chosen signal, or waits for a signal that the test sends to the shell.
// What is checked is what the SSH client and the administrator see: the
// shell's exit status, its console, what the tool recorded, and the log.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.h"

namespace {

using e2e::contains;
using e2e::run_result;
namespace fs = std::filesystem;

std::map<std::string, std::string> base_env() {
    return {{"PATH", "/usr/bin:/bin"}, {"USER", "transfer"}, {"HOME", "/tmp"}};
}

struct end_case {
    const char *name;
    std::map<std::string, std::string> tool_env;
    int status;            /* the shell's exit status */
    const char *log_line;  /* how the log says the command ended */
};

class ChildEnd : public ::testing::TestWithParam<end_case> {
protected:
    e2e::installation inst_;
};

TEST_P(ChildEnd, ShellEndsWithTheCommandsStatus) {
    const end_case &c = GetParam();
    auto env = base_env();
    env.insert(c.tool_env.begin(), c.tool_env.end());
    const run_result r = inst_.run({"-c", "cvcp -S. -V1"}, env);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(contains(r.out, "argv[2]=-V1\n")) << "the tool ran: " << r.out;
    const std::string log = inst_.log();
    EXPECT_TRUE(contains(log, "LOG Process finished\r\n")) << log;
    EXPECT_TRUE(contains(log, std::string("LOG ") + c.log_line + "\r\n")) << log;
}

INSTANTIATE_TEST_SUITE_P(
    Ends, ChildEnd,
    ::testing::Values(
        end_case{"Success", {}, 0, "Process exited with status 0"},
        end_case{"Three", {{"CV_STANDIN_EXIT", "3"}}, 3, "Process exited with status 3"},
        end_case{"HighestCode", {{"CV_STANDIN_EXIT", "255"}}, 255, "Process exited with status 255"},
        end_case{"Killed", {{"CV_STANDIN_SIGNAL", "9"}}, 137,
                 "Process ended by signal 9 (SIGKILL), exit status 137"},
        end_case{"Terminated", {{"CV_STANDIN_SIGNAL", "15"}}, 143,
                 "Process ended by signal 15 (SIGTERM), exit status 143"}),
    [](const auto &info) { return std::string(info.param.name); });

/* A shell started in the background, so that the test can signal it. */
class running_shell {
public:
    running_shell(const e2e::installation &inst, const std::vector<std::string> &args,
                  const std::map<std::string, std::string> &env) {
        const fs::path out = inst.base() / "stdout", err = inst.base() / "stderr";
        std::vector<std::string> argv_text{inst.shell().string()};
        argv_text.insert(argv_text.end(), args.begin(), args.end());
        std::vector<std::string> env_text;
        for (const auto &[k, v] : env) env_text.push_back(k + "=" + v);
        std::vector<char *> argv, envp;
        for (auto &a : argv_text) argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto &e : env_text) envp.push_back(e.data());
        envp.push_back(nullptr);

        pid_ = fork();
        if (pid_ == 0) {
            dup2(open("/dev/null", O_RDONLY), 0);
            dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
            dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
    }
    ~running_shell() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    running_shell(const running_shell &) = delete;
    running_shell &operator=(const running_shell &) = delete;

    pid_t pid() const { return pid_; }

    /* The exit status (1000 + the signal when one ended it), or -1 when the
     * shell has not ended within `seconds`. */
    int wait(int seconds) {
        for (int i = 0; i < seconds * 100; ++i) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = 0;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

private:
    pid_t pid_ = 0;
};

/* Polls `file` until it holds `part`, up to ten seconds; its text. */
std::string await_text(const fs::path &file, const std::string &part) {
    std::string text;
    for (int i = 0; i < 1000; ++i) {
        text = e2e::read_file(file);
        if (contains(text, part)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return text;
}

bool still_running(pid_t pid) { return kill(pid, 0) == 0 || errno != ESRCH; }

struct forward_case {
    const char *name;
    int sig;
    const char *signal_exit;  /* the tool's exit code after the signal; null: it dies of it */
    int status;
    const char *log_line;
};

class SignalToShell : public ::testing::TestWithParam<forward_case> {
protected:
    e2e::installation inst_;
};

TEST_P(SignalToShell, ReachesTheCommandAndTheShellEndsAfterIt) {
    const forward_case &c = GetParam();
    const fs::path record = inst_.base() / "tool-signal";
    auto env = base_env();
    env["CV_STANDIN_AWAIT_SIGNAL"] = record.string();
    if (c.signal_exit) env["CV_STANDIN_SIGNAL_EXIT"] = c.signal_exit;

    running_shell shell(inst_, {"-c", "cvcp -S. -V1"}, env);
    const std::string announced = await_text(record, "pid=");
    ASSERT_TRUE(contains(announced, "pid=")) << "the tool never started waiting";
    const pid_t tool = static_cast<pid_t>(std::stol(announced.substr(announced.find('=') + 1)));
    ASSERT_GT(tool, 0);

    ASSERT_EQ(kill(shell.pid(), c.sig), 0);
    const int status = shell.wait(20);
    if (status < 0) kill(tool, SIGKILL);
    ASSERT_GE(status, 0) << "the shell did not end";
    EXPECT_EQ(status, c.status);

    EXPECT_TRUE(contains(e2e::read_file(record), "signal=" + std::to_string(c.sig) + "\n"))
        << e2e::read_file(record);
    EXPECT_FALSE(still_running(tool)) << "the tool outlived the shell";

    const std::string log = inst_.log();
    const std::string name = std::string("(SIG") + c.name + ")";
    EXPECT_TRUE(contains(log, "LOG Passed signal " + std::to_string(c.sig) + " " + name +
                                  " on to the process\r\n"))
        << log;
    EXPECT_TRUE(contains(log, "LOG Process finished\r\n")) << log;
    EXPECT_TRUE(contains(log, std::string("LOG ") + c.log_line + "\r\n")) << log;
    EXPECT_EQ(e2e::read_file(inst_.base() / "stderr"), "");
}

INSTANTIATE_TEST_SUITE_P(
    Signals, SignalToShell,
    ::testing::Values(
        forward_case{"TERM", SIGTERM, nullptr, 143,
                     "Process ended by signal 15 (SIGTERM), exit status 143"},
        forward_case{"HUP", SIGHUP, nullptr, 129,
                     "Process ended by signal 1 (SIGHUP), exit status 129"},
        forward_case{"INT", SIGINT, nullptr, 130,
                     "Process ended by signal 2 (SIGINT), exit status 130"},
        // A tool that handles the signal and ends in its own time: the shell
        // waits and takes the tool's own status.
        forward_case{"QUIT", SIGQUIT, "6", 6, "Process exited with status 6"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ChildEndFailures, MissingToolStillEndsWithStatusOne) {
    e2e::installation inst;
    fs::remove(inst.bin() / "cvcp4");
    const run_result r = inst.run({"-c", "cvcp4 -S."}, base_env());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "Error executing command ret=-1 errno=2\n")) << r.err;
    EXPECT_FALSE(contains(inst.log(), "Process finished"));
}

}  // namespace

namespace {

// A login started with its standard streams closed: their numbers
// must not go to the log's folder or file, or what the shell and its tool
// write to the console would land in the log.
run_result run_with_closed_streams(const e2e::installation &inst, const char *command) {
    const std::string shell = inst.shell().string();
    const pid_t pid = fork();
    if (pid == 0) {
        close(0);
        close(1);
        close(2);
        char arg0[] = "cvshell", arg1[] = "-c";
        std::string arg2 = command;
        char *argv[] = {arg0, arg1, arg2.data(), nullptr};
        char env0[] = "PATH=/usr/bin:/bin", env1[] = "HOME=/tmp";
        char *envp[] = {env0, env1, nullptr};
        execve(shell.c_str(), argv, envp);
        _exit(127);
    }
    int status = 0;
    run_result r;
    r.status = waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

TEST(ClosedStreams, NothingMeantForTheConsoleReachesTheLog) {
    e2e::installation inst;
    EXPECT_EQ(run_with_closed_streams(inst, "cvcp -S. -V1").status, 0);
    EXPECT_EQ(run_with_closed_streams(inst, "rm -rf /").status, 1);
    const std::string log = inst.log();
    EXPECT_TRUE(contains(log, "LOG Process exited with status 0\r\n")) << log;
    EXPECT_TRUE(contains(log, "Illegal cvshell use command=rm -rf /")) << log;
    EXPECT_FALSE(contains(log, "argv[2]=-V1")) << log;
    EXPECT_FALSE(contains(log, "Command not accepted")) << log;
}

}  // namespace
