// End-to-end tests behind a real OpenSSH server.
//
// Private sshd servers listen on loopback ports, each with its own host key
// and configuration in a temporary folder, one per way the administrator's
// guide sets the shell up: as the transfer account's login shell (sshd runs
// `cvshell -c "<client command>"`), through ForceCommand in a Match block for
// the transfer group, and through restrict,command="..." in authorized_keys.
// Every transfer account has cvshell as its login shell.  The real ssh, scp
// and sftp clients log in; the tests read what the client sees (exit status,
// output), what reaches listeners the tests open on loopback, the files a
// refused transfer would have written, and the shell's log.  Two control
// accounts show that the checks can see what they look for: one outside the
// transfer group (its forwardings and internal-sftp are not refused), one
// with a general-purpose login shell under ForceCommand (which runs the
// account's .bashrc).  Every client and connection is bounded in time; all
// traffic stays on 127.0.0.1.  The accounts are removed afterwards.  Without
// root, sshd or the account tools the tests are skipped with the reason.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <regex>
#include <thread>

#include "e2e_support.h"

namespace {

using e2e::contains;
using e2e::run_result;
namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;
using steady = std::chrono::steady_clock;

constexpr const char *sshd_program = "/usr/sbin/sshd";
constexpr const char *ssh_program = "/usr/bin/ssh";
constexpr const char *sftp_server = "/usr/lib/openssh/sftp-server";

/* The longest any one client may run, and the wait for a connection. */
constexpr auto client_limit = seconds(120);
constexpr auto forwarding_limit = seconds(15);
constexpr int connect_timeout_ms = 2000;

/* The servers, one per documented set-up. */
enum server : int {
    login_server,  /* login shell; external sftp-server; Match block for the group */
    forced_server, /* ForceCommand in the Match block for the group; internal-sftp */
    key_server,    /* restrict,command= in authorized_keys; internal-sftp; no Match block */
    server_count,
};

/* The accounts.  All but bash_user have cvshell as their login shell; all
 * but open_user are in the transfer group, which owns var/log. */
enum account : int {
    login_user,  /* reaches the login-shell server */
    forced_user, /* reaches the ForceCommand server */
    key_user,    /* its key carries restrict,command= */
    bash_user,   /* control: /bin/bash as login shell under ForceCommand */
    open_user,   /* control: outside the transfer group */
    account_count,
};

/* A documented set-up: the server and the account that use it. */
struct form {
    const char *name;
    server s;
    account a;
};
constexpr form documented_forms[] = {
    {"login shell", login_server, login_user},
    {"ForceCommand", forced_server, forced_user},
    {"command= in authorized_keys", key_server, key_user},
};

std::uint64_t fnv1a64(const std::string &data) {
    std::uint64_t hash = 1469598103934665603ULL;
    for (unsigned char c : data) {
        hash ^= c;
        hash *= 1099511628211ULL;
    }
    return hash;
}

sockaddr_in loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

int free_loopback_port() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = loopback(0);
    bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

/* A connection to 127.0.0.1:`port` made within the connect timeout, or -1. */
int connect_loopback(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const sockaddr_in addr = loopback(port);
    if (connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0) {
        pollfd p{fd, POLLOUT, 0};
        int error = 0;
        socklen_t len = sizeof error;
        if (errno != EINPROGRESS || poll(&p, 1, connect_timeout_ms) != 1 ||
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) {
            close(fd);
            return -1;
        }
    }
    return fd;
}

bool port_accepts(int port) {
    const int fd = connect_loopback(port);
    if (fd < 0) return false;
    close(fd);
    return true;
}

/* True when `fd` reads end of file (the peer closed) within `limit`. */
bool closed_within(int fd, milliseconds limit) {
    const auto deadline = steady::now() + limit;
    char byte;
    while (steady::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) == 1) {
            const ssize_t n = recv(fd, &byte, 1, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) return true;
        }
    }
    return false;
}

/* A listener on 127.0.0.1 that counts the connections that reach it. */
class loopback_listener {
public:
    loopback_listener() : fd_(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {
        sockaddr_in addr = loopback(0);
        bind(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        listen(fd_, 16);
        socklen_t len = sizeof addr;
        getsockname(fd_, reinterpret_cast<sockaddr *>(&addr), &len);
        port_ = ntohs(addr.sin_port);
    }
    ~loopback_listener() { close(fd_); }
    loopback_listener(const loopback_listener &) = delete;
    loopback_listener &operator=(const loopback_listener &) = delete;
    int port() const { return port_; }

    /* True when a connection arrives within `limit` (0: one already waiting). */
    bool reached_within(milliseconds limit) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(limit.count())) != 1) return false;
        const int c = accept(fd_, nullptr, nullptr);
        if (c < 0) return false;
        close(c);
        return true;
    }

private:
    int fd_;
    int port_ = 0;
};

/* A client started in the background, its output in files of its own. */
class background {
public:
    background(const std::vector<std::string> &argv_text,
               const std::map<std::string, std::string> &env, const fs::path &input,
               const fs::path &out, const fs::path &err)
        : err_(err) {
        std::vector<std::string> env_text;
        for (const auto &[k, v] : env) env_text.push_back(k + "=" + v);
        pid_ = fork();
        if (pid_ == 0) {
            std::vector<char *> argv, envp;
            for (const auto &a : argv_text) argv.push_back(const_cast<char *>(a.c_str()));
            argv.push_back(nullptr);
            for (auto &e : env_text) envp.push_back(e.data());
            envp.push_back(nullptr);
            dup2(open(input.c_str(), O_RDONLY), 0);
            dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
            dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
            execve(argv_text[0].c_str(), argv.data(), envp.data());
            _exit(127);
        }
    }
    ~background() { (void)stop(); }
    background(const background &) = delete;
    background &operator=(const background &) = delete;

    /* True when the client ended within `limit`. */
    bool ended_within(milliseconds limit) {
        const auto deadline = steady::now() + limit;
        while (status_ < 0) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
                break;
            }
            if (steady::now() >= deadline) return false;
            std::this_thread::sleep_for(milliseconds(20));
        }
        return true;
    }
    bool running() { return !ended_within(milliseconds(0)); }

    /* Ends the client (it is killed when it does not end by itself) and
     * returns its status: the exit status, or 1000 + the signal. */
    int stop() {
        if (status_ < 0 && pid_ > 0) {
            kill(pid_, SIGTERM);
            if (!ended_within(seconds(3))) {
                kill(pid_, SIGKILL);
                (void)ended_within(seconds(10));
            }
        }
        return status_;
    }
    std::string err() const { return e2e::read_file(err_); }

private:
    pid_t pid_ = -1;
    int status_ = -1;
    fs::path err_;
};

/* The servers, their accounts and keys: set up once for the suite. */
class ssh_site {
public:
    std::string skip_reason; /* what this machine lacks: the tests are skipped */
    std::string failure;     /* what went wrong setting up: the tests fail */
    e2e::installation inst;
    fs::path dir;     /* keys, configuration, logs */
    fs::path home;    /* every account's home directory */
    fs::path markers; /* world-writable: where planted start-up files would write */
    fs::path drop;    /* world-writable: where a refused upload would land */
    int port[server_count] = {};
    pid_t sshd[server_count] = {-1, -1, -1};
    std::string user[account_count];
    bool created[account_count] = {};
    std::string group; /* the transfer accounts' group, which owns var/log */
    bool group_created = false;

    ssh_site()
        : dir(inst.base() / "ssh"),
          home(dir / "home"),
          markers(dir / "markers"),
          drop(dir / "drop") {
        if (geteuid() != 0) {
            skip_reason = "needs root to run sshd and create test accounts";
            return;
        }
        for (const char *tool : {sshd_program, ssh_program, "/usr/bin/scp", "/usr/bin/sftp",
                                 sftp_server, "/usr/sbin/useradd", "/usr/sbin/userdel",
                                 "/usr/sbin/groupadd", "/usr/sbin/groupdel", "/usr/bin/ssh-keygen"})
            if (access(tool, X_OK) != 0) {
                skip_reason = std::string(tool) +
                              " is not installed (packages openssh-server, openssh-client)";
                return;
            }
        failure = set_up();
    }

    ~ssh_site() {
        for (pid_t &pid : sshd)
            if (pid > 0) {
                kill(pid, SIGTERM);
                waitpid(pid, nullptr, 0);
                pid = -1;
            }
        for (int a = 0; a < account_count; ++a)
            if (created[a]) tool({"/usr/sbin/userdel", user[a]});
        if (group_created) tool({"/usr/sbin/groupdel", group});
    }

    fs::path config(server s) const { return dir / ("sshd_config." + std::to_string(s)); }

    /* Runs a tool.  The account tools lock the account database and fail
     * while another test program holds it: they are tried again. */
    run_result tool(const std::vector<std::string> &argv) const {
        const fs::path empty = dir / "empty-input";
        if (!fs::exists(empty)) e2e::write_file(empty, "");
        run_result r;
        for (int attempt = 0; attempt < 50; ++attempt) {
            r = e2e::run_program(argv, {{"PATH", "/usr/sbin:/usr/bin:/sbin:/bin"}}, empty, dir);
            if (r.status == 0 || !contains(r.err, "lock")) break;
            std::this_thread::sleep_for(milliseconds(100));
        }
        return r;
    }

    /* The client's options for a login to server `s`. */
    std::vector<std::string> client_options(bool quiet) const {
        std::vector<std::string> o{"-F", "/dev/null",
                                   "-i", (dir / "plain").string(),
                                   "-o", "StrictHostKeyChecking=no",
                                   "-o", "UserKnownHostsFile=/dev/null",
                                   "-o", "BatchMode=yes",
                                   "-o", "ConnectTimeout=5",
                                   "-o", "ServerAliveInterval=5",
                                   "-o", "ServerAliveCountMax=2"};
        if (quiet) o.insert(o.begin(), "-q");
        o.insert(o.end(), {"-o", quiet ? "LogLevel=ERROR" : "LogLevel=INFO"});
        return o;
    }

    std::map<std::string, std::string> client_env() const {
        return {{"PATH", "/usr/bin:/bin"}, {"HOME", dir.string()}};
    }

    /* The ssh command line of one login of `a` to `s`. */
    std::vector<std::string> ssh_argv(server s, account a, const std::vector<std::string> &remote,
                                      const std::vector<std::string> &options, bool quiet) const {
        std::vector<std::string> argv{ssh_program, "-p", std::to_string(port[s])};
        const std::vector<std::string> common = client_options(quiet);
        argv.insert(argv.end(), common.begin(), common.end());
        argv.insert(argv.end(), options.begin(), options.end());
        argv.push_back(user[a] + "@127.0.0.1");
        argv.insert(argv.end(), remote.begin(), remote.end());
        return argv;
    }

    /* Runs a client to its end.  One still running at the client limit is
     * killed, and its status is then 2000 more than the one it died with. */
    run_result run_client(const std::vector<std::string> &argv,
                          const std::string &input = "") const {
        const fs::path in = dir / "client-input";
        e2e::write_file(in, input);
        background client(argv, client_env(), in, dir / "client-out", dir / "client-err");
        run_result r;
        r.status = client.ended_within(client_limit) ? client.stop() : 2000 + client.stop();
        r.out = e2e::read_file(dir / "client-out");
        r.err = client.err();
        return r;
    }

    /* One login of `a` to `s` with the real client. */
    run_result ssh(server s, account a, const std::vector<std::string> &remote,
                   const std::string &input = "", const std::vector<std::string> &options = {},
                   bool quiet = true) const {
        return run_client(ssh_argv(s, a, remote, options, quiet), input);
    }

    /* Starts `ssh -N` with `forwarding` (such as {"-L", "..."}) in the background. */
    std::unique_ptr<background> forward(server s, account a,
                                        const std::vector<std::string> &forwarding) const {
        std::vector<std::string> options{"-N", "-o", "ExitOnForwardFailure=yes"};
        options.insert(options.end(), forwarding.begin(), forwarding.end());
        const fs::path in = dir / "empty-input";
        return std::make_unique<background>(ssh_argv(s, a, {}, options, false), client_env(), in,
                                            dir / "forward-out", dir / "forward-err");
    }

private:
    std::string set_up() {
        fs::create_directories(dir / "keys");
        fs::create_directories(home);
        for (const fs::path &open : {markers, drop}) {
            fs::create_directories(open);
            fs::permissions(open, fs::perms::all | fs::perms::sticky_bit);
        }
        // The accounts must reach the installation.
        fs::permissions(inst.base(),
                        fs::perms::all & ~(fs::perms::group_write | fs::perms::others_write));
        fs::create_directories("/run/sshd");

        for (const char *key : {"host_key", "plain"}) {
            const run_result r = tool({"/usr/bin/ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f",
                                       (dir / key).string()});
            if (r.status != 0) return "ssh-keygen failed: " + r.err;
        }

        const std::string shell = inst.shell().string();
        const std::string tag = std::to_string(getpid());

        // As the administrator's guide sets it up: the transfer accounts share
        // a group that owns the log folder (root:group, 2770), so that every
        // account appends to the files any of them created and no one else
        // reads them.
        group = "cvlg" + tag;
        tool({"/usr/sbin/groupdel", group});
        const run_result g = tool({"/usr/sbin/groupadd", group});
        if (g.status != 0) return "groupadd failed: " + g.err;
        group_created = true;
        const std::string log_dir = (inst.root() / "var/log").string();
        if (tool({"/bin/chown", "root:" + group, log_dir}).status != 0 ||
            tool({"/bin/chmod", "2770", log_dir}).status != 0)
            return "cannot hand the log folder to the group";
        const char *names[account_count] = {"cvls", "cvsf", "cvkf", "cvbf", "cvop"};
        for (int a = 0; a < account_count; ++a) {
            user[a] = std::string(names[a]) + tag;
            tool({"/usr/sbin/userdel", user[a]});
            // "*" as password: no password login, yet the account is not locked.
            const std::string login_shell = a == bash_user ? "/bin/bash" : shell;
            std::vector<std::string> add{"/usr/sbin/useradd", "-M", "-d", home.string(),
                                         "-s", login_shell, "-p", "*"};
            if (a != open_user) add.insert(add.end(), {"-G", group});
            add.push_back(user[a]);
            const run_result r = tool(add);
            if (r.status != 0) return "useradd failed: " + r.err;
            created[a] = true;
        }

        const std::string plain = e2e::read_file(dir / "plain.pub");
        for (int a = 0; a < account_count; ++a)
            e2e::write_file(
                dir / "keys" / user[a],
                a == key_user ? "restrict,command=\"" + shell + " -t\" " + plain : plain);

        for (int s = 0; s < server_count; ++s)
            if (std::string why = start_server(static_cast<server>(s), shell); !why.empty())
                return why;
        return "";
    }

    /* The three lines that take everything but the shell away. */
    static std::string restrictions() {
        return "    DisableForwarding yes\n"
               "    PermitTTY no\n"
               "    PermitTunnel no\n";
    }

    void write_config(server s, const std::string &shell) const {
        std::string text;
        text += "Port " + std::to_string(port[s]) + "\n";
        text += "ListenAddress 127.0.0.1\n";
        text += "HostKey " + (dir / "host_key").string() + "\n";
        text += "PidFile " + (dir / ("sshd.pid." + std::to_string(s))).string() + "\n";
        text += "AuthorizedKeysFile " + (dir / "keys").string() + "/%u\n";
        text += "UsePAM no\nStrictModes no\nPasswordAuthentication no\n"
                "KbdInteractiveAuthentication no\nPubkeyAuthentication yes\n"
                "PermitUserEnvironment no\nAcceptEnv LANG LC_*\n";
        text += "AllowUsers";
        for (const std::string &u : user) text += " " + u;
        text += "\n";
        // Each server as the guide shows its form.
        switch (s) {
        case login_server:
            text += "Subsystem sftp " + std::string(sftp_server) + "\n";
            text += "Match Group " + group + "\n" + restrictions();
            break;
        case forced_server:
            text += "Subsystem sftp internal-sftp\n";
            text += "Match Group " + group + "\n";
            text += "    ForceCommand " + shell + " -t\n" + restrictions();
            break;
        default:
            text += "Subsystem sftp internal-sftp\n";
            break;
        }
        e2e::write_file(config(s), text);
    }

    /* A port that another program takes between the choice and sshd's bind
     * makes sshd exit at once: it is tried again with another one. */
    std::string start_server(server s, const std::string &shell) {
        const fs::path log = dir / ("sshd.log." + std::to_string(s));
        for (int attempt = 0; attempt < 3; ++attempt) {
            port[s] = free_loopback_port();
            write_config(s, shell);
            const run_result check = tool({sshd_program, "-t", "-f", config(s).string()});
            if (check.status != 0) return "sshd rejects the test configuration: " + check.err;
            if (start_sshd(s, log)) return "";
        }
        return "sshd did not start: " + e2e::read_file(log);
    }

    /* Starts sshd and waits until it listens; false (and no sshd) when it
     * ended instead. */
    bool start_sshd(server s, const fs::path &log_file) {
        const pid_t pid = fork();
        if (pid == 0) {
            const int log = open(log_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(log, 2);
            execl(sshd_program, sshd_program, "-D", "-e", "-f", config(s).c_str(),
                  static_cast<char *>(nullptr));
            _exit(127);
        }
        sshd[s] = pid;
        for (int i = 0; i < 100; ++i) {
            if (waitpid(pid, nullptr, WNOHANG) == pid) {
                sshd[s] = -1;
                return false;
            }
            if (port_accepts(port[s])) return true;
            std::this_thread::sleep_for(milliseconds(50));
        }
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        sshd[s] = -1;
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

std::string stand_in_argv(const std::vector<std::string> &args) {
    std::string text = "argv[0]=" + site->inst.bin().string() + "/" + args[0] + "\n";
    for (std::size_t i = 1; i < args.size(); ++i)
        text += "argv[" + std::to_string(i) + "]=" + args[i] + "\n";
    return text;
}

TEST_F(Sshd, LoginShellRunsAnAcceptedCommand) {
    const run_result r = site->ssh(login_server, login_user, {"cvcp -S. -V1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, stand_in_argv({"cvcp", "-S.", "-V1"}))) << r.out;
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
    const run_result r = site->ssh(login_server, login_user, {"cvsync -q -S -s-"}, data);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, expected)) << r.out;
}

TEST_F(Sshd, LoginShellRefusesOtherCommandsWithStatusOne) {
    const run_result r = site->ssh(login_server, login_user, {"sh -c id"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Command not accepted: sh -c id\n");
    EXPECT_EQ(r.out, "");
}

TEST_F(Sshd, LogCarriesTheClientConnection) {
    site->ssh(login_server, login_user, {"ls /"});
    const std::regex line("Illegal cvshell use command=ls / user=" + site->user[login_user] +
                          " client=127\\.0\\.0\\.1 [0-9]+ 127\\.0\\.0\\.1 " +
                          std::to_string(site->port[login_server]) + "\r\n");
    EXPECT_TRUE(std::regex_search(site->inst.log(), line)) << site->inst.log();
}

TEST_F(Sshd, InteractiveLoginIsRefused) {
    const run_result r = site->ssh(login_server, login_user, {}, "echo hello\n", {"-T"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(contains(site->inst.log(), "command=shell user=" + site->user[login_user]))
        << site->inst.log();
}

TEST_F(Sshd, ForceCommandRunsTheClientCommandRestricted) {
    const run_result r = site->ssh(forced_server, forced_user, {"cvcp4 -S."});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, stand_in_argv({"cvcp4", "-S."}))) << r.out;
    EXPECT_TRUE(contains(r.out, "CORVANE_SHELL=cvshell-r\nCORVANE_AUTH_TOKEN=TOKEN\n")) << r.out;
    const run_result refused = site->ssh(forced_server, forced_user, {"bash -i"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "Command not accepted: bash -i\n");
    // Restricted mode: the directory commands are never available.
    const run_result gated = site->ssh(forced_server, forced_user, {"cvcmd"});
    EXPECT_EQ(gated.status, 1);
}

TEST_F(Sshd, ForcedCommandWithoutClientCommandFails) {
    const run_result r = site->ssh(forced_server, forced_user, {}, "", {"-T"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Invalid arguments.  -t without SSH_ORIGINAL_COMMAND\n");
}

TEST_F(Sshd, CommandInAuthorizedKeys) {
    const run_result r = site->ssh(key_server, key_user, {"cvcp -S. -V1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, stand_in_argv({"cvcp", "-S.", "-V1"}))) << r.out;
    EXPECT_TRUE(contains(r.out, "CORVANE_SHELL=cvshell-r\n")) << r.out;
    const run_result refused = site->ssh(key_server, key_user, {"cvcp -S. -V1; id"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "Command not accepted: cvcp -S. -V1; id\n");
}

/* What sshd itself makes of each Match block for the account it applies to. */
TEST_F(Sshd, MatchBlocksApplyToTheTransferAccounts) {
    for (const form &f : {documented_forms[0], documented_forms[1]}) {
        SCOPED_TRACE(f.name);
        const run_result r =
            site->tool({sshd_program, "-T", "-f", site->config(f.s).string(), "-C",
                        "user=" + site->user[f.a] + ",host=localhost,addr=127.0.0.1"});
        ASSERT_EQ(r.status, 0) << r.err;
        // DisableForwarding overrides every forwarding option (which sshd
        // still prints with its own value).
        for (const char *line :
             {"\ndisableforwarding yes\n", "\npermittty no\n", "\npermittunnel no\n"})
            EXPECT_TRUE(contains("\n" + r.out, line)) << line;
        EXPECT_EQ(contains(r.out, "\nforcecommand " + site->inst.shell().string() + " -t\n"),
                  f.s == forced_server);
    }
    // The control account is outside the block.
    const run_result open =
        site->tool({sshd_program, "-T", "-f", site->config(login_server).string(), "-C",
                    "user=" + site->user[open_user] + ",host=localhost,addr=127.0.0.1"});
    EXPECT_TRUE(contains("\n" + open.out, "\ndisableforwarding no\n")) << open.out;
}

/* ssh -N -L: the client listens, the server must refuse every channel. */
void expect_local_forwarding_refused(server s, account a) {
    loopback_listener target;
    const int local = free_loopback_port();
    const auto client = site->forward(s, a,
                                      {"-L", "127.0.0.1:" + std::to_string(local) +
                                                 ":127.0.0.1:" + std::to_string(target.port())});
    int connection = -1;
    for (const auto deadline = steady::now() + forwarding_limit;
         connection < 0 && steady::now() < deadline;) {
        if (!client->running()) break;
        connection = connect_loopback(local);
        if (connection < 0) std::this_thread::sleep_for(milliseconds(50));
    }
    ASSERT_GE(connection, 0) << "the client never listened: " << client->err();
    (void)send(connection, "x", 1, MSG_NOSIGNAL);
    EXPECT_TRUE(closed_within(connection, seconds(5))) << "the forwarded connection stayed open";
    close(connection);
    EXPECT_FALSE(target.reached_within(milliseconds(500)));
    client->stop();
    EXPECT_TRUE(contains(client->err(), "open failed: administratively prohibited"))
        << client->err();
}

/* ssh -N -R: the server must refuse to listen, and the client then exits. */
void expect_remote_forwarding_refused(server s, account a) {
    loopback_listener target;
    const int remote = free_loopback_port();
    const auto client = site->forward(s, a,
                                      {"-R", "127.0.0.1:" + std::to_string(remote) +
                                                 ":127.0.0.1:" + std::to_string(target.port())});
    bool remote_listened = false;
    for (const auto deadline = steady::now() + forwarding_limit; steady::now() < deadline;) {
        if (client->ended_within(milliseconds(100))) break;
        if (port_accepts(remote)) {
            remote_listened = true;
            break;
        }
    }
    EXPECT_FALSE(remote_listened);
    EXPECT_EQ(client->stop(), 255);
    EXPECT_TRUE(contains(client->err(),
                         "remote port forwarding failed for listen port " + std::to_string(remote)))
        << client->err();
    EXPECT_FALSE(port_accepts(remote));
    EXPECT_FALSE(target.reached_within(milliseconds(0)));
}

TEST_F(Sshd, EveryFormRefusesLocalForwarding) {
    for (const form &f : documented_forms) {
        SCOPED_TRACE(f.name);
        expect_local_forwarding_refused(f.s, f.a);
    }
}

TEST_F(Sshd, EveryFormRefusesRemoteForwarding) {
    for (const form &f : documented_forms) {
        SCOPED_TRACE(f.name);
        expect_remote_forwarding_refused(f.s, f.a);
    }
}

/* The control: an account outside the transfer group forwards both ways, and
 * the listener sees it. */
TEST_F(Sshd, ForwardingOutsideTheTransferGroupReachesTheListener) {
    {
        loopback_listener target;
        const int local = free_loopback_port();
        const auto client =
            site->forward(login_server, open_user,
                          {"-L", "127.0.0.1:" + std::to_string(local) +
                                     ":127.0.0.1:" + std::to_string(target.port())});
        int connection = -1;
        for (const auto deadline = steady::now() + forwarding_limit;
             connection < 0 && steady::now() < deadline && client->running();)
            if ((connection = connect_loopback(local)) < 0)
                std::this_thread::sleep_for(milliseconds(50));
        ASSERT_GE(connection, 0) << client->err();
        EXPECT_TRUE(target.reached_within(seconds(5)));
        close(connection);
    }
    loopback_listener target;
    const int remote = free_loopback_port();
    const auto client = site->forward(login_server, open_user,
                                      {"-R", "127.0.0.1:" + std::to_string(remote) +
                                                 ":127.0.0.1:" + std::to_string(target.port())});
    int connection = -1;
    for (const auto deadline = steady::now() + forwarding_limit;
         connection < 0 && steady::now() < deadline && client->running();)
        if ((connection = connect_loopback(remote)) < 0)
            std::this_thread::sleep_for(milliseconds(50));
    ASSERT_GE(connection, 0) << client->err();
    EXPECT_TRUE(target.reached_within(seconds(5)));
    close(connection);
}

/* A client that insists on a terminal (-tt) gives up when the server refuses
 * it, before any command runs. */
TEST_F(Sshd, EveryFormRefusesATerminal) {
    for (const form &f : documented_forms) {
        SCOPED_TRACE(f.name);
        const run_result r = site->ssh(f.s, f.a, {"cvcp -S. -V1"}, "", {"-tt"}, false);
        EXPECT_EQ(r.status, 255);
        EXPECT_TRUE(contains(r.err, "PTY allocation request failed on channel 0")) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

/* scp (both protocols) and sftp, each trying to write into a folder anyone
 * may write. */
struct upload_result {
    std::string what;
    int status;
    bool landed;
};

std::vector<upload_result> try_uploads(server s, account a) {
    const fs::path file = site->dir / "upload.txt";
    e2e::write_file(file, "data\n");
    const std::string target = site->user[a] + "@127.0.0.1:";
    std::vector<std::string> common = site->client_options(true);
    common.insert(common.end(), {"-P", std::to_string(site->port[s])});
    std::vector<upload_result> results;
    for (const char *how : {"scp -O", "scp", "sftp"}) {
        const fs::path landing =
            site->drop / (std::to_string(s) + "-" + std::to_string(a) + "-" +
                          std::string(how).substr(std::string(how).size() - 2));
        std::vector<std::string> argv;
        std::string batch;
        if (std::string(how) == "sftp") {
            argv = {"/usr/bin/sftp", "-b", "-"};
            argv.insert(argv.end(), common.begin(), common.end());
            argv.push_back(site->user[a] + "@127.0.0.1");
            batch = "put " + file.string() + " " + landing.string() + "\n";
        } else {
            argv = {"/usr/bin/scp"};
            if (std::string(how) == "scp -O") argv.push_back("-O");
            argv.insert(argv.end(), common.begin(), common.end());
            argv.push_back(file.string());
            argv.push_back(target + landing.string());
        }
        const run_result r = site->run_client(argv, batch);
        results.push_back({how, r.status, fs::exists(landing)});
    }
    return results;
}

TEST_F(Sshd, EveryFormRefusesScpAndSftp) {
    for (const form &f : documented_forms) {
        SCOPED_TRACE(f.name);
        for (const upload_result &u : try_uploads(f.s, f.a)) {
            EXPECT_NE(u.status, 0) << u.what;
            EXPECT_FALSE(u.landed) << u.what;
        }
    }
    const std::string log = site->inst.log();
    for (const form &f : documented_forms)
        EXPECT_TRUE(std::regex_search(
            log,
            std::regex("Illegal cvshell use command=scp -t [^ ]+ user=" + site->user[f.a] + " ")))
            << f.name << "\n"
            << log;
    // sftp reaches the shell: as the external server's command line under the
    // login shell, as "internal-sftp" under a forced command.
    EXPECT_TRUE(contains(log, "Illegal cvshell use command=" + std::string(sftp_server) +
                                  " user=" + site->user[login_user]))
        << log;
    for (const account a : {forced_user, key_user})
        EXPECT_TRUE(
            contains(log, "Illegal cvshell use command=internal-sftp user=" + site->user[a]))
            << log;
}

/* The control: internal-sftp serves an account that no forced command covers
 * without starting its shell, which is why the guide's login-shell form keeps
 * sftp on the external server. */
TEST_F(Sshd, InternalSftpBypassesTheShellOfAnAccountWithoutForcedCommand) {
    const std::vector<upload_result> uploads = try_uploads(forced_server, open_user);
    ASSERT_EQ(uploads.size(), 3u);
    EXPECT_EQ(uploads[2].what, "sftp");
    EXPECT_EQ(uploads[2].status, 0);
    EXPECT_TRUE(uploads[2].landed);
}

/* Start-up files in the home directory, each writing a marker when run. */
void plant_start_up_files() {
    fs::create_directories(site->home / ".ssh");
    for (const char *file : {".bashrc", ".bash_profile", ".profile", ".bash_login", ".ssh/rc"}) {
        std::string name = file;
        std::replace(name.begin(), name.end(), '/', '_');
        e2e::write_file(site->home / file,
                        "echo ran > " + (site->markers / (name + "-")).string() + "$(id -un)\n");
    }
}

void remove_start_up_files() {
    for (const char *file : {".bashrc", ".bash_profile", ".profile", ".bash_login", ".ssh/rc"})
        fs::remove(site->home / file);
}

std::vector<std::string> markers() {
    std::vector<std::string> found;
    for (const auto &entry : fs::directory_iterator(site->markers))
        found.push_back(entry.path().filename());
    return found;
}

TEST_F(Sshd, PlantedStartUpFilesNeverRun) {
    plant_start_up_files();
    for (const form &f : documented_forms) {
        SCOPED_TRACE(f.name);
        const run_result r = site->ssh(f.s, f.a, {"cvcp -S. -V1"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(contains(r.out, stand_in_argv({"cvcp", "-S.", "-V1"}))) << r.out;
    }
    remove_start_up_files();
    EXPECT_EQ(markers(), std::vector<std::string>{});
    // Under the login shell sshd hands ~/.ssh/rc to the shell, which refuses
    // it; the forced forms never start it.
    const std::string log = site->inst.log();
    const std::string rc = (site->home / ".ssh/rc").string();
    EXPECT_TRUE(contains(log, "Illegal cvshell use command=/bin/sh " + rc + " user=" +
                                  site->user[login_user] + " "))
        << log;
    for (const account a : {forced_user, key_user})
        EXPECT_FALSE(contains(log, ".ssh/rc user=" + site->user[a] + " ")) << log;
}

/* The control: a general-purpose login shell under ForceCommand runs the
 * account's .bashrc before the forced command, which is why the guide gives
 * the transfer accounts cvshell as their shell in every form. */
TEST_F(Sshd, BashLoginShellRunsThePlantedBashrcBeforeTheForcedCommand) {
    plant_start_up_files();
    const run_result r = site->ssh(forced_server, bash_user, {"cvcp -S. -V1"});
    remove_start_up_files();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(markers(), std::vector<std::string>{".bashrc-" + site->user[bash_user]});
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
        const run_result r = site->ssh(login_server, login_user, {command});
        EXPECT_EQ(r.status, 1) << "[" << command.substr(0, 80) << "]";
        EXPECT_EQ(r.err.rfind("Command not accepted: ", 0), 0u)
            << "[" << command.substr(0, 80) << "] " << r.err;
        EXPECT_EQ(r.out, "") << "[" << command.substr(0, 80) << "]";
        refused += r.status == 1;
    }
    RecordProperty("hostile_commands", static_cast<int>(commands.size()));
    RecordProperty("refused", refused);
    std::printf("hostile command lines: %zu, refused: %d\n", commands.size(), refused);
}

}  // namespace
