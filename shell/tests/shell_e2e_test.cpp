// End-to-end tests: the real cvshell binary in a staged installation tree
// (bin/, etc/, var/log/, product-info.mf) with stand-in transfer tools, run as
// an SSH server runs it, checked by what a user and an administrator see:
// exit status, console output, what the tool was handed, and the log.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace {

using e2e::contains;
using e2e::run_result;
using Installation = e2e::installation;
namespace fs = std::filesystem;

/* The account the shell runs as here, which names the user in the log. */
const std::string &owner() {
    static const std::string name = e2e::own_account_name();
    return name;
}

/* What an SSH server hands a login: USER names the account it runs as. */
std::map<std::string, std::string> base_env() {
    return {{"PATH", "/usr/bin:/bin"}, {"USER", owner()}, {"HOME", "/tmp"}};
}

class Shell : public ::testing::Test {
protected:
    Installation inst_;
};

TEST_F(Shell, AcceptedCommandRunsTheToolFromTheProgramDirectory) {
    const run_result r = inst_.run({"-c", "cvcp -S. -V1"}, base_env(), "hello");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const std::string bin = inst_.bin().string();
    EXPECT_TRUE(contains(r.out, "argc=3\nargv[0]=" + bin + "/cvcp\nargv[1]=-S.\nargv[2]=-V1\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "CORVANE_SHELL=cvshell\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "CORVANE_AUTH_TOKEN=<unset>\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "PATH=" + bin + ":/usr/bin:/bin\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "stdin_bytes=5\n")) << r.out;

    const std::string log = inst_.log();
    for (const std::string &line : std::vector<std::string>{"LOG Arg: -c\r\n", "LOG Arg: cvcp -S. -V1\r\n", "LOG Execute shell command: cvcp -S. -V1\r\n",
          "LOG Executing: " + bin + "/cvcp -S. -V1\r\n", "LOG Waiting for process to finish\r\n",
          "LOG Process finished\r\n"})
        EXPECT_TRUE(contains(log, line)) << line << "\n" << log;
}

TEST_F(Shell, ChildExitCodeIsPassedOn) {
    auto env = base_env();
    env["CV_STANDIN_EXIT"] = "3";
    const run_result r = inst_.run({"-c", "cvsync -q -S -s-"}, env);
    EXPECT_EQ(r.status, 3);
    EXPECT_TRUE(contains(inst_.log(), "Process finished"));
}

TEST_F(Shell, RefusedCommandIsAnsweredAndLogged) {
    auto env = base_env();
    env["SSH_CONNECTION"] = "192.0.2.7 50022 192.0.2.1 22";
    const run_result r = inst_.run({"-c", "sh -i"}, env);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Command not accepted: sh -i\n");
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(contains(inst_.log(),
                         "LOG Illegal cvshell use command=sh -i user=" + owner() +
                             " client=192.0.2.7 50022 192.0.2.1 22\r\n"))
        << inst_.log();
}

TEST_F(Shell, ClientIsUnknownWithoutSshConnection) {
    const run_result r = inst_.run({"-c", "ls"}, base_env());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(inst_.log(), "command=ls user=" + owner() + " client=unknown\r\n"))
        << inst_.log();
}

TEST_F(Shell, ForcedCommandTakesTheOriginalCommandInRestrictedMode) {
    auto env = base_env();
    env["SSH_ORIGINAL_COMMAND"] = "cvcp -S. -V1";
    const run_result r = inst_.run({"-t"}, env, "abc");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "CORVANE_SHELL=cvshell-r\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "CORVANE_AUTH_TOKEN=TOKEN\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "stdin_bytes=3\n")) << r.out;
}

TEST_F(Shell, ForcedCommandUsesTheTextAfterTheFirstDashC) {
    auto env = base_env();
    env["SSH_ORIGINAL_COMMAND"] = "bash -c cvcp -S. -V1";
    const run_result r = inst_.run({"-c", "/opt/corvane/bin/cvshell -t"}, env);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(inst_.log(), "Execute shell command: cvcp -S. -V1\r\n")) << inst_.log();
}

TEST_F(Shell, ForcedCommandCanNeverRunTheGatedForms) {
    auto env = base_env();
    env["SSH_ORIGINAL_COMMAND"] = "cvcmd";
    const run_result r = inst_.run({"-t"}, env);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Command not accepted: cvcmd\n");

    const run_result full = inst_.run({"-c", "cvcmd"}, base_env());
    EXPECT_EQ(full.status, 0) << full.err;
}

TEST_F(Shell, TextAfterTheForcedFormIsAnOrdinaryCommand) {
    const run_result r = inst_.run({"-c", "cvshell -t x"}, base_env());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Command not accepted: cvshell -t x\n");
}

TEST_F(Shell, ForcedCommandWithoutOriginalCommandFails) {
    auto env = base_env();
    env["SECRET_LOOKING"] = "value";
    const run_result r = inst_.run({"-t"}, env);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Invalid arguments.  -t without SSH_ORIGINAL_COMMAND\n");
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(contains(inst_.log(), "LOG Env var: SECRET_LOOKING=value\r\n")) << inst_.log();
}

TEST_F(Shell, OverlongOriginalCommandCountsAsMissing) {
    auto env = base_env();
    env["SSH_ORIGINAL_COMMAND"] = "cvcp -S. -V1" + std::string(2100, ' ');
    const run_result r = inst_.run({"-t"}, env);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Invalid arguments.  -t without SSH_ORIGINAL_COMMAND\n");
}

TEST_F(Shell, RestrictedProgramNameRefusesTheGatedForms) {
    inst_.install_shell("cvshell-r");
    const run_result r = inst_.run({"-c", "cvcmd"}, base_env(), "", "cvshell-r");
    EXPECT_EQ(r.status, 1);
    const run_result ok = inst_.run({"-c", "cvcp -S. -V1"}, base_env(), "", "cvshell-r");
    EXPECT_EQ(ok.status, 0);
    EXPECT_TRUE(contains(ok.out, "CORVANE_SHELL=cvshell-r\n")) << ok.out;
}

TEST_F(Shell, OtherArgumentFormsAreRefusedSilently) {
    for (const std::vector<std::string> &args :
         std::vector<std::vector<std::string>>{{}, {"-x", "y"}, {"-c"}, {"-l"}}) {
        const run_result r = inst_.run(args, base_env());
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
    }
    EXPECT_TRUE(contains(inst_.log(), "LOG Illegal cvshell use command=shell user=" + owner() +
                                          " client=unknown\r\n"));
}

TEST_F(Shell, PiecesAreJoinedIntoOneCommand) {
    const run_result r = inst_.run({"-c", "cvcp", "-S.", "-V1"}, base_env());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(inst_.log(), "LOG Arg: cvcp -S. -V1\r\n")) << inst_.log();

    const run_result six = inst_.run({"-c", "cvcp", "-S.", "-V1", "x"}, base_env());
    EXPECT_EQ(six.status, 0);
    EXPECT_EQ(six.err, "");
    EXPECT_TRUE(contains(inst_.log(), "command=too many or too large args")) << inst_.log();
}

TEST_F(Shell, MissingConfigurationIsAServerConfigurationError) {
    fs::remove(inst_.root() / "etc/corvane.conf");
    const run_result r = inst_.run({"-c", "cvcp -S. -V1"}, base_env());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Server configuration error\n");
    EXPECT_TRUE(contains(inst_.log(), "ERR Error: configuration file not found.\r\n")) << inst_.log();
}

TEST_F(Shell, MissingToolIsAnExecutionError) {
    fs::remove(inst_.bin() / "cvcp4");
    const run_result r = inst_.run({"-c", "cvcp4 -S."}, base_env());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error executing command ret=-1 errno=2\n");
    EXPECT_TRUE(contains(inst_.log(), "ERR Error starting windows process (2): " +
                                          inst_.bin().string() + "/cvcp4 -S.\r\n"))
        << inst_.log();
}

TEST_F(Shell, MissingSearchPathIsLoggedAndReplaced) {
    auto env = base_env();
    env.erase("PATH");
    const run_result r = inst_.run({"-c", "cvcp -S. -V1"}, env);
    EXPECT_EQ(r.status, 0);
    // Standard output is the tool's alone.
    EXPECT_EQ(r.out.rfind("cvcp: stand-in transfer tool\n", 0), 0u) << r.out;
    EXPECT_FALSE(contains(r.out, "Error reading PATH")) << r.out;
    EXPECT_TRUE(contains(r.out, "PATH=" + inst_.bin().string() + "\n")) << r.out;
    EXPECT_TRUE(contains(inst_.log(), "ERR Error reading PATH\r\n")) << inst_.log();
}

TEST_F(Shell, SearchPathSpelledPathIsUpdatedUnderThatName) {
    auto env = base_env();
    env.erase("PATH");
    env["Path"] = "/usr/bin";
    const run_result r = inst_.run({"-c", "cvcp -S. -V1"}, env);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.find("Error reading PATH"), std::string::npos);
    EXPECT_TRUE(contains(r.out, "PATH=<unset>\n")) << r.out;
}

TEST_F(Shell, HostileCommandsAreRefused) {
    const std::vector<std::string> commands = {
        "cvcp -S. -V1 ",  "cvcp  -S. -V1", "CVCP -S. -V1", "cvcp -S. -V1 -o ProxyCommand=sh",
        "cvcp -S. -V1;sh", "cvcp -S. -V1\nsh", "cvcp -S. -V1\r", "cvcp -S. -V1\x1b",
        "cvcp -S. -V\xc3", "cvcp -S.\t-V1", "$(sh)", "`sh`", "../bin/cvcp -S. -V1",
        "cvcp -S. -V1" + std::string(3000, 'x')};
    for (const std::string &command : commands) {
        const run_result r = inst_.run({"-c", command}, base_env());
        EXPECT_EQ(r.status, 1) << command;
        EXPECT_EQ(r.err, "Command not accepted: " + command.substr(0, 2047 - 22) + (command.size() > 2025 ? "" : "\n"))
            << command;
        EXPECT_EQ(r.out, "") << command;
    }
}

TEST_F(Shell, UnsafeVariablesNeverReachTheTool) {
    auto env = base_env();
    env["CV_STANDIN_PRINT_ENV"] = "1";
    env["LD_LIBRARY_PATH"] = "/tmp/evil";
    env["BASH_ENV"] = "/tmp/evil.sh";
    env["BASH_FUNC_cvcp%%"] = "() { sh; }";
    env["GLIBC_TUNABLES"] = "glibc.malloc.check=3";
    env["KEEP_ME"] = "kept";
    env["LANG"] = "C.UTF-8";
    const run_result r = inst_.run({"-c", "cvcp -S. -V1"}, env);
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char *name : {"LD_LIBRARY_PATH", "BASH_ENV", "BASH_FUNC_cvcp%%", "GLIBC_TUNABLES"})
        EXPECT_FALSE(contains(r.out, std::string("env: ") + name + "=")) << name << "\n" << r.out;
    EXPECT_TRUE(contains(r.out, "env: KEEP_ME=kept\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "env: LANG=C.UTF-8\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "env: CORVANE_SHELL=cvshell\n")) << r.out;
    EXPECT_TRUE(contains(inst_.log(), "LOG Removed from the command's environment: ")) << inst_.log();
    for (const char *name : {"LD_LIBRARY_PATH", "BASH_ENV", "BASH_FUNC_cvcp%%", "GLIBC_TUNABLES"})
        EXPECT_TRUE(contains(inst_.log(), name)) << name;
}

TEST_F(Shell, CleanEnvironmentLogsNoRemoval) {
    const run_result r = inst_.run({"-c", "cvcp -S. -V1"}, base_env());
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(contains(inst_.log(), "Removed from the command's environment"));
}

TEST(ShellInFolderWithBlanks, StartsTheTool) {
    Installation inst("my corvane");
    const run_result r = inst.run({"-c", "cvcp4 -S."}, base_env());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "argv[0]=" + inst.bin().string() + "/cvcp4\nargv[1]=-S.\n")) << r.out;
}

TEST(ShellLog, EveryLineIsWhole) {
    Installation inst;
    for (int i = 0; i < 5; ++i) inst.run({"-c", "cvcp -S. -V1"}, base_env());
    const std::string log = inst.log();
    ASSERT_FALSE(log.empty());
    std::istringstream lines(log);
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        ++count;
        ASSERT_FALSE(line.empty());
        EXPECT_EQ(line.back(), '\r') << line;
    }
    EXPECT_GE(count, 5 * 6);
}

}  // namespace
