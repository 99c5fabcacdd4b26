// End-to-end tests behind a real OpenSSH server.
//
// A private sshd listens on a loopback port with its own host key,
// configuration and authorized keys in a temporary folder.  Test accounts
// reach the staged cvshell the ways an administrator sets it up: as the login
// shell (sshd runs `cvshell -c "<client command>"`), through ForceCommand
// with a bash or a cvshell login shell, and through command="..." in
// authorized_keys.  The real ssh, scp and sftp clients log in; the tests read
// what the client sees (exit status, output) and the shell's log.  The
// accounts are removed afterwards.  Without root, sshd or the account tools
// the tests are skipped with the reason.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <regex>
#include <thread>

#include "e2e_support.h"

namespace {

using e2e::contains;
using e2e::run_result;
namespace fs = std::filesystem;

constexpr const char *sshd_program = "/usr/sbin/sshd";
constexpr const char *ssh_program = "/usr/bin/ssh";
constexpr const char *sftp_server = "/usr/lib/openssh/sftp-server";

/* The accounts of the suite, each a way to reach the shell. */
enum account : int {
    login_shell,     /* login shell cvshell; key "plain" and key "forced" (command=) */
    bash_forced,     /* login shell bash, ForceCommand cvshell -t */
    shell_forced,    /* login shell cvshell, ForceCommand cvshell -t */
    bash_key_forced, /* login shell bash, command="cvshell -t" in authorized_keys */
    account_count,
};

std::uint64_t fnv1a64(const std::string &data) {
    std::uint64_t hash = 1469598103934665603ULL;
    for (unsigned char c : data) {
        hash ^= c;
        hash *= 1099511628211ULL;
    }
    return hash;
}

int free_loopback_port() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

bool port_accepts(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

/* The server, its accounts and keys: set up once for the suite. */
class ssh_site {
public:
    std::string skip_reason;  /* what this machine lacks: the tests are skipped */
    std::string failure;      /* what went wrong setting up: the tests fail */
    e2e::installation inst;
    fs::path dir;  /* keys, configuration, logs */
    int port = 0;
    pid_t sshd = -1;
    std::string user[account_count];
    bool created[account_count] = {};
    std::string group;  /* the transfer accounts' group, which owns var/log */
    bool group_created = false;

    ssh_site() : dir(inst.base() / "ssh") {
        if (geteuid() != 0) {
            skip_reason = "needs root to run sshd and create test accounts";
            return;
        }
        for (const char *tool : {sshd_program, ssh_program, "/usr/sbin/useradd", "/usr/sbin/userdel",
                                 "/usr/sbin/groupadd", "/usr/sbin/groupdel",
                                 "/usr/bin/ssh-keygen"})
            if (access(tool, X_OK) != 0) {
                skip_reason = std::string(tool) + " is not installed (package openssh-server)";
                return;
            }
        failure = set_up();
    }

    ~ssh_site() {
        if (sshd > 0) {
            kill(sshd, SIGTERM);
            waitpid(sshd, nullptr, 0);
        }
        for (int a = 0; a < account_count; ++a)
            if (created[a]) tool({"/usr/sbin/userdel", user[a]});
        if (group_created) tool({"/usr/sbin/groupdel", group});
    }

    /* Runs a tool.  The account tools lock the account database and fail
     * while another test program holds it: they are tried again. */
    run_result tool(const std::vector<std::string> &argv) const {
        const fs::path empty = dir / "empty-input";
        if (!fs::exists(empty)) e2e::write_file(empty, "");
        run_result r;
        for (int attempt = 0; attempt < 50; ++attempt) {
            r = e2e::run_program(argv, {{"PATH", "/usr/sbin:/usr/bin:/sbin:/bin"}}, empty, dir);
            if (r.status == 0 || !contains(r.err, "lock")) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return r;
    }

    /* One login with the real client; `key` names the client key. */
    run_result ssh(account a, const std::vector<std::string> &remote, const std::string &input = "",
                   const std::string &key = "plain", const std::vector<std::string> &options = {}) const {
        std::vector<std::string> argv{ssh_program, "-q", "-F", "/dev/null", "-i", (dir / key).string(),
                                      "-p", std::to_string(port), "-o", "StrictHostKeyChecking=no",
                                      "-o", "UserKnownHostsFile=/dev/null", "-o", "BatchMode=yes",
                                      "-o", "LogLevel=ERROR"};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.push_back(user[a] + "@127.0.0.1");
        argv.insert(argv.end(), remote.begin(), remote.end());
        const fs::path in = dir / "ssh-input";
        e2e::write_file(in, input);
        return e2e::run_program(argv, {{"PATH", "/usr/bin:/bin"}, {"HOME", dir.string()}}, in, dir);
    }

private:
    std::string set_up() {
        fs::create_directories(dir / "keys");
        fs::create_directories(dir / "home");
        // The accounts must reach the installation.
        fs::permissions(inst.base(), fs::perms::all & ~(fs::perms::group_write | fs::perms::others_write));
        fs::create_directories("/run/sshd");

        for (const char *key : {"host_key", "plain", "forced"}) {
            const run_result r = tool({"/usr/bin/ssh-keygen", "-q", "-t", "ed25519", "-N", "",
                                       "-f", (dir / key).string()});
            if (r.status != 0) return "ssh-keygen failed: " + r.err;
        }

        const std::string shell = inst.shell().string();
        const std::string tag = std::to_string(getpid());

        // As an administrator sets it up: the transfer accounts share a group
        // that owns the log folder, group-writable and set-group-id, so that
        // every account appends to the files any of them created.
        group = "cvlg" + tag;
        tool({"/usr/sbin/groupdel", group});
        const run_result g = tool({"/usr/sbin/groupadd", group});
        if (g.status != 0) return "groupadd failed: " + g.err;
        group_created = true;
        if (tool({"/bin/chgrp", group, (inst.root() / "var/log").string()}).status != 0 ||
            tool({"/bin/chmod", "2775", (inst.root() / "var/log").string()}).status != 0)
            return "cannot hand the log folder to the group";
        const char *names[account_count] = {"cvls", "cvbf", "cvsf", "cvbk"};
        const std::string shells[account_count] = {shell, "/bin/bash", shell, "/bin/bash"};
        for (int a = 0; a < account_count; ++a) {
            user[a] = std::string(names[a]) + tag;
            tool({"/usr/sbin/userdel", user[a]});
            // "*" as password: no password login, yet the account is not locked.
            const run_result r = tool({"/usr/sbin/useradd", "-M", "-d", (dir / "home").string(),
                                       "-s", shells[a], "-G", group, "-p", "*", user[a]});
            if (r.status != 0) return "useradd failed: " + r.err;
            created[a] = true;
        }

        const std::string plain = e2e::read_file(dir / "plain.pub");
        const std::string forced = e2e::read_file(dir / "forced.pub");
        const std::string key_command = "restrict,command=\"" + shell + " -t\" ";
        e2e::write_file(dir / "keys" / user[login_shell], plain + key_command + forced);
        e2e::write_file(dir / "keys" / user[bash_forced], plain);
        e2e::write_file(dir / "keys" / user[shell_forced], plain);
        e2e::write_file(dir / "keys" / user[bash_key_forced], key_command + plain);

        // A port that another program takes between the choice and sshd's
        // bind makes sshd exit at once: try again with another one.
        for (int attempt = 0; attempt < 3; ++attempt) {
            port = free_loopback_port();
            write_config(shell);
            const run_result check = tool({sshd_program, "-t", "-f", (dir / "sshd_config").string()});
            if (check.status != 0) return "sshd rejects the test configuration: " + check.err;
            if (start_sshd()) return "";
        }
        return "sshd did not start: " + e2e::read_file(dir / "sshd.log");
    }

    void write_config(const std::string &shell) const {
        e2e::write_file(dir / "sshd_config",
                        "Port " + std::to_string(port) + "\n"
                        "ListenAddress 127.0.0.1\n"
                        "HostKey " + (dir / "host_key").string() + "\n"
                        "PidFile " + (dir / "sshd.pid").string() + "\n"
                        "AuthorizedKeysFile " + (dir / "keys").string() + "/%u\n"
                        "UsePAM no\nStrictModes no\nPasswordAuthentication no\n"
                        "KbdInteractiveAuthentication no\nPubkeyAuthentication yes\n"
                        "PermitUserEnvironment no\nAcceptEnv LANG LC_*\n"
                        "Subsystem sftp " + std::string(sftp_server) + "\n"
                        "AllowUsers " + user[0] + " " + user[1] + " " + user[2] + " " + user[3] + "\n"
                        "Match User " + user[bash_forced] + "," + user[shell_forced] + "\n"
                        "    ForceCommand " + shell + " -t\n");
    }

    /* Starts sshd and waits until it listens; false (and no sshd) when it
     * ended instead. */
    bool start_sshd() {
        sshd = fork();
        if (sshd == 0) {
            const int log = open((dir / "sshd.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(log, 2);
            execl(sshd_program, sshd_program, "-D", "-e", "-f", (dir / "sshd_config").c_str(),
                  static_cast<char *>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 100; ++i) {
            if (waitpid(sshd, nullptr, WNOHANG) == sshd) {
                sshd = -1;
                return false;
            }
            if (port_accepts(port)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        kill(sshd, SIGTERM);
        waitpid(sshd, nullptr, 0);
        sshd = -1;
        return false;
    }
};

ssh_site *site = nullptr;

class Sshd : public ::testing::Test {
protected:
    static void SetUpTestSuite() { site = new ssh_site(); }
    static void TearDownTestSuite() {
        delete site;
        site = nullptr;
    }
    void SetUp() override {
        if (!site->skip_reason.empty()) GTEST_SKIP() << site->skip_reason;
        ASSERT_TRUE(site->failure.empty()) << site->failure;
    }
};

TEST_F(Sshd, LoginShellRunsAnAcceptedCommand) {
    const run_result r = site->ssh(login_shell, {"cvcp -S. -V1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "argv[0]=" + site->inst.bin().string() + "/cvcp\nargv[1]=-S.\nargv[2]=-V1\n"))
        << r.out;
    EXPECT_TRUE(contains(r.out, "CORVANE_SHELL=cvshell\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "PATH=" + site->inst.bin().string() + ":")) << r.out;
}

TEST_F(Sshd, LoginShellPassesStandardInputThroughByteForByte) {
    std::string data(10 * 1024 * 1024, '\0');
    std::uint32_t x = 12345;
    for (char &c : data) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    char expected[64];
    snprintf(expected, sizeof expected, "stdin_bytes=%zu\nstdin_fnv1a64=%016llx\n", data.size(),
             static_cast<unsigned long long>(fnv1a64(data)));
    const run_result r = site->ssh(login_shell, {"cvsync -q -S -s-"}, data);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, expected)) << r.out;
}

TEST_F(Sshd, LoginShellRefusesOtherCommandsWithStatusOne) {
    const run_result r = site->ssh(login_shell, {"sh -c id"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Command not accepted: sh -c id\n");
    EXPECT_EQ(r.out, "");
}

TEST_F(Sshd, LogCarriesTheClientConnection) {
    site->ssh(login_shell, {"ls /"});
    const std::regex line("Illegal cvshell use command=ls / user=" + site->user[login_shell] +
                          " client=127\\.0\\.0\\.1 [0-9]+ 127\\.0\\.0\\.1 " + std::to_string(site->port) +
                          "\r\n");
    EXPECT_TRUE(std::regex_search(site->inst.log(), line)) << site->inst.log();
}

TEST_F(Sshd, InteractiveLoginIsRefused) {
    const run_result r = site->ssh(login_shell, {}, "echo hello\n", "plain", {"-T"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(contains(site->inst.log(), "command=shell user=" + site->user[login_shell]))
        << site->inst.log();
}

TEST_F(Sshd, ForceCommandWithBashLoginShell) {
    const run_result r = site->ssh(bash_forced, {"cvcp -S. -V1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "CORVANE_SHELL=cvshell-r\nCORVANE_AUTH_TOKEN=TOKEN\n")) << r.out;
    const run_result refused = site->ssh(bash_forced, {"bash -i"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "Command not accepted: bash -i\n");
}

TEST_F(Sshd, ForceCommandWithCvshellLoginShell) {
    const run_result r = site->ssh(shell_forced, {"cvcp4 -S."});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "CORVANE_SHELL=cvshell-r\n")) << r.out;
    // Restricted mode: the directory commands are never available.
    const run_result gated = site->ssh(shell_forced, {"cvcmd"});
    EXPECT_EQ(gated.status, 1);
}

TEST_F(Sshd, ForcedCommandWithoutClientCommandFails) {
    const run_result r = site->ssh(bash_forced, {}, "", "plain", {"-T"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Invalid arguments.  -t without SSH_ORIGINAL_COMMAND\n");
}

TEST_F(Sshd, CommandInAuthorizedKeys) {
    for (const auto &[a, key] : {std::pair{login_shell, "forced"}, std::pair{bash_key_forced, "plain"}}) {
        const run_result r = site->ssh(a, {"cvcp -S. -V1"}, "", key);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(contains(r.out, "CORVANE_SHELL=cvshell-r\n")) << r.out;
        const run_result refused = site->ssh(a, {"cvcp -S. -V1; id"}, "", key);
        EXPECT_EQ(refused.status, 1);
    }
}

TEST_F(Sshd, ScpAndSftpAreRefused) {
    const fs::path file = site->dir / "upload.txt";
    e2e::write_file(file, "data\n");
    const std::string target = site->user[login_shell] + "@127.0.0.1:/tmp/cvshell-e2e-upload";
    const std::vector<std::string> common{"-F", "/dev/null", "-i", (site->dir / "plain").string(),
                                          "-P", std::to_string(site->port), "-o",
                                          "StrictHostKeyChecking=no", "-o", "UserKnownHostsFile=/dev/null",
                                          "-o", "BatchMode=yes", "-o", "LogLevel=ERROR"};
    const fs::path empty = site->dir / "empty-input";
    const std::map<std::string, std::string> env{{"PATH", "/usr/bin:/bin"}, {"HOME", site->dir.string()}};

    for (bool legacy : {true, false}) {
        std::vector<std::string> argv{"/usr/bin/scp"};
        if (legacy) argv.push_back("-O");
        argv.insert(argv.end(), common.begin(), common.end());
        argv.push_back(file.string());
        argv.push_back(target);
        const run_result r = e2e::run_program(argv, env, empty, site->dir);
        EXPECT_NE(r.status, 0) << (legacy ? "scp -O" : "scp");
    }
    std::vector<std::string> sftp{"/usr/bin/sftp", "-b", "-"};
    sftp.insert(sftp.end(), common.begin(), common.end());
    sftp.push_back(site->user[login_shell] + "@127.0.0.1");
    const fs::path batch = site->dir / "sftp-batch";
    e2e::write_file(batch, "ls\n");
    EXPECT_NE(e2e::run_program(sftp, env, batch, site->dir).status, 0);

    EXPECT_FALSE(fs::exists("/tmp/cvshell-e2e-upload"));
    const std::string log = site->inst.log();
    EXPECT_TRUE(contains(log, "Illegal cvshell use command=scp -t /tmp/cvshell-e2e-upload")) << log;
    EXPECT_TRUE(contains(log, "Illegal cvshell use command=" + std::string(sftp_server))) << log;
}

/* Hostile command lines: each refused, the client seeing status 1. */
std::vector<std::string> hostile_commands() {
    std::vector<std::string> c = {
        "cvcp -S. -V1 -o ProxyCommand=sh", "cvcp -S. -V1 -F /tmp/x", "cvsync -q -S -s- -e sh",
        "cvcp -S. -V1 --help", "cvcp -S. -V1 -S /tmp/x", "cvcp4 -S. -o x",
        "cvcp -S. -V1; sh", "cvcp -S. -V1 && id", "cvcp -S. -V1 | sh", "cvcp -S. -V1 `id`",
        "cvcp -S. $(id)", "cvcp -S. -V1 > /tmp/x", "cvcp -S. -V1 &", "cvcp -S. -V1 #",
        "\"cvcp\" -S. -V1", "cvcp '-S.' -V1", "cvcp -S.\"\" -V1", "cvcp -S. -V1\"",
        "cvcp -S. -V1\nid", "cvcp -S. -V1\r", "cvcp -S. -V1\r\nid", "cvcp\t-S. -V1",
        "cvcp -S.\t-V1", "cvcp  -S. -V1", "cvcp -S. -V1 ", " cvcp -S. -V1", "cvcp -S. -V1\x1b[2J",
        "cvcp -S. -V1\x7f", "cvcp -S. -V1\x01", "cvcp -S. -V\xff", "cvcp \xc3\xa9 -V1",
        "cvcp -S. -V1\xed\xa0\x80", "cvcp --no-mgmt-port-files -M 33001\n-S. -V1",
        "cvcp --no-mgmt-port-files -M 31415 -S. -V1", "/usr/bin/cvcp -S. -V1", "../bin/cvcp -S. -V1",
        std::string("cvcp -S. -V1 ") + std::string(100 * 1024, 'A'),
    };
    // Each built-in literal form with one character changed.
    for (const std::string form : {"cvcp -S. -V1", "cvcp4 -S.", "cvsync -q -S -s-"})
        for (std::size_t i = 0; i < form.size(); ++i) {
            std::string changed = form;
            changed[i] = changed[i] == 'x' ? 'y' : 'x';
            c.push_back(changed);
        }
    return c;
}

TEST_F(Sshd, HostileCommandLinesAreRefused) {
    int refused = 0;
    const std::vector<std::string> commands = hostile_commands();
    for (const std::string &command : commands) {
        const run_result r = site->ssh(login_shell, {command});
        EXPECT_EQ(r.status, 1) << "[" << command.substr(0, 80) << "]";
        EXPECT_EQ(r.err.rfind("Command not accepted: ", 0), 0u) << "[" << command.substr(0, 80) << "] " << r.err;
        EXPECT_EQ(r.out, "") << "[" << command.substr(0, 80) << "]";
        refused += r.status == 1;
    }
    RecordProperty("hostile_commands", static_cast<int>(commands.size()));
    RecordProperty("refused", refused);
    std::printf("hostile command lines: %zu, refused: %d\n", commands.size(), refused);
}

}  // namespace
