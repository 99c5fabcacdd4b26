// End-to-end tests of what a client sends: the real cvshell in a staged
// installation tree, fed hostile command lines, original commands and
// environments.  They check that the log keeps one event per line with the
// client's text escaped, that refusal lines keep the identity fields whole,
// that one login adds a bounded amount to the log, that the user is the
// account the shell runs as, and that the child's environment holds exactly
// what the shell means it to.
#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace {

using e2e::contains;
using e2e::run_result;
namespace fs = std::filesystem;

/* What one login may add to the log at most. */
constexpr std::uintmax_t login_log_bound = 32 * 1024;

const std::string &owner() {
    static const std::string name = e2e::own_account_name();
    return name;
}

std::map<std::string, std::string> base_env() {
    return {{"PATH", "/usr/bin:/bin"}, {"USER", owner()}, {"HOME", "/tmp"},
            {"SSH_CONNECTION", "192.0.2.7 50022 192.0.2.1 22"}};
}

/* The lines of `log` without their CR LF ends; a last piece without CR LF
 * is returned as it is, so that a cut line shows. */
std::vector<std::string> lines_of(const std::string &log) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < log.size()) {
        const std::size_t end = log.find("\r\n", at);
        if (end == std::string::npos) {
            lines.push_back(log.substr(at));
            break;
        }
        lines.push_back(log.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

/* True when `text` is well-formed UTF-8 (no overlong forms, surrogates or
 * values above U+10FFFF). */
bool is_utf8(const std::string &text) {
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        std::size_t n = b < 0x80 ? 1 : b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3
                                   : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
        if (n == 0 || i + n > text.size()) return false;
        unsigned cp = n == 1 ? b : b & (0x7F >> n);
        for (std::size_t k = 1; k < n; ++k) {
            const unsigned char c = static_cast<unsigned char>(text[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        if ((n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
            (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
            return false;
        i += n;
    }
    return true;
}

/* Fails the test unless every line of `log` is one whole event: a header
 * with a level, no control byte, well-formed UTF-8 and a CR LF end. */
void expect_whole_lines(const std::string &log) {
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
    const std::regex header(
        "^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3} "
        "\\[[0-9a-f]+-[0-9a-f]+\\] (ERR|LOG|DBG) ");
    for (const std::string &line : lines_of(log)) {
        EXPECT_TRUE(std::regex_search(line, header)) << line;
        for (unsigned char c : line) EXPECT_FALSE(c < 0x20 || c == 0x7F) << line;
        EXPECT_TRUE(is_utf8(line)) << line;
    }
}

/* The message of the first line of `log` that holds `start`, from `start`
 * on; "" when there is none. */
std::string message(const std::string &log, const std::string &start) {
    for (const std::string &line : lines_of(log))
        if (const std::size_t at = line.find(start); at != std::string::npos)
            return line.substr(at);
    return "";
}

int count_lines_with(const std::string &log, const std::string &part) {
    int n = 0;
    for (const std::string &line : lines_of(log)) n += contains(line, part) ? 1 : 0;
    return n;
}

class Input : public ::testing::Test {
protected:
    e2e::installation inst_;
};

/* A text with every kind of byte that could end a line or drive a terminal:
 * CR, LF, CR LF, ESC sequences, a C1 control, DEL and bytes that are not
 * UTF-8.  `escaped` is how the log must show it. */
const std::string controls = "a\rb\nc\r\nd\x1b[2J\x1b]0;t\x07" "e\xc2\x9b" "f\x7fg\\";
const std::string controls_escaped =
    "a\\x0Db\\x0Ac\\x0D\\x0Ad\\x1B[2J\\x1B]0;t\\x07e\\u009Bf\\x7Fg\\\\";
const std::string hostile = controls + "\xff\xc3(h";
const std::string hostile_escaped = controls_escaped + "\\xFF\\xC3(h";

TEST_F(Input, CommandLineTextIsEscapedInEveryLine) {
    const run_result r = inst_.run({"-c", "cvcp " + hostile}, base_env());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    const std::string log = inst_.log();
    expect_whole_lines(log);
    const std::string shown = "cvcp " + hostile_escaped;
    EXPECT_EQ(message(log, "Arg: cvcp"), "Arg: " + shown);
    EXPECT_EQ(message(log, "Execute shell command:"), "Execute shell command: " + shown);
    EXPECT_EQ(message(log, "Illegal cvshell use"),
              "Illegal cvshell use command=" + shown + " user=" + owner() +
                  " client=192.0.2.7 50022 192.0.2.1 22");
    // The configuration used, Arg -c, Arg, Login, Execute shell command,
    // Illegal: six events.
    EXPECT_EQ(lines_of(log).size(), 6u) << log;
}

TEST_F(Input, OriginalCommandTextIsEscapedAndKeptAsSent) {
    // Only UTF-8 can be read from the variable (the next test sends the rest).
    auto env = base_env();
    env["SSH_ORIGINAL_COMMAND"] = "sh" + controls + " -c cvcp " + controls;
    const run_result r = inst_.run({"-t"}, env);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    const std::string log = inst_.log();
    expect_whole_lines(log);
    EXPECT_EQ(message(log, "Original command as sent:"),
              "Original command as sent: sh" + controls_escaped + " -c cvcp " + controls_escaped);
    EXPECT_EQ(message(log, "Execute shell command:"),
              "Execute shell command: cvcp " + controls_escaped);
    EXPECT_TRUE(contains(log, "command=cvcp " + controls_escaped + " user=" + owner() + " "))
        << log;
}

TEST_F(Input, EnvironmentTextIsEscapedInTheFailureListing) {
    // Not UTF-8: the original command cannot be read, and the forced login
    // fails with a listing of its environment.
    auto env = base_env();
    env["SSH_ORIGINAL_COMMAND"] = "cvcp \xff -S. -V1";
    env["LC_HOSTILE"] = hostile;
    const run_result r = inst_.run({"-t"}, env);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Invalid arguments.  -t without SSH_ORIGINAL_COMMAND\n");
    EXPECT_EQ(r.out, "");
    const std::string log = inst_.log();
    expect_whole_lines(log);
    EXPECT_EQ(message(log, "Env var: LC_HOSTILE"), "Env var: LC_HOSTILE=" + hostile_escaped);
    EXPECT_EQ(message(log, "Env var: SSH_ORIGINAL"),
              "Env var: SSH_ORIGINAL_COMMAND=cvcp \\xFF -S. -V1");
    EXPECT_EQ(count_lines_with(log, "Env var: "), static_cast<int>(env.size()));
    EXPECT_FALSE(contains(log, "not logged")) << log;
}

TEST_F(Input, RemovedVariableNamesAreEscaped) {
    auto env = base_env();
    env["BASH_FUNC_x\x1b[31m\r\nLOG forged%%"] = "() { sh; }";
    const run_result r = inst_.run({"-c", "cvcp -S. -V1"}, env);
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string log = inst_.log();
    expect_whole_lines(log);
    EXPECT_EQ(message(log, "Removed from"),
              "Removed from the command's environment: BASH_FUNC_x\\x1B[31m\\x0D\\x0ALOG forged%%");
}

TEST_F(Input, RefusalKeepsTheIdentityWholeWhateverTheCommandsLength) {
    const std::string identity = " user=" + owner() + " client=192.0.2.7 50022 192.0.2.1 22";
    const std::string fits(2047, 'a');
    run_result r = inst_.run({"-c", fits}, base_env());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(message(inst_.log(), "Illegal cvshell use"),
              "Illegal cvshell use command=" + fits + identity);

    // 100 KiB: the command is cut, and the cut is marked.
    const std::string huge(100 * 1024, 'b');
    r = inst_.run({"-c", huge}, base_env());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    const std::string log = inst_.log();
    expect_whole_lines(log);
    EXPECT_EQ(message(log, "Illegal cvshell use command=b"),
              "Illegal cvshell use command=" + std::string(2042, 'b') + "[...]" + identity);
    EXPECT_EQ(message(log, "Arg: b"), "Arg: " + std::string(2042, 'b') + "[...]");
    EXPECT_EQ(message(log, "Execute shell command: b"),
              "Execute shell command: " + std::string(2042, 'b') + "[...]");

    // Escapes take four bytes each: the cut falls on a whole escape.
    r = inst_.run({"-c", std::string(1000, '\x01')}, base_env());
    std::string expected;
    for (int i = 0; i < 510; ++i) expected += "\\x01";
    EXPECT_EQ(message(inst_.log(), "Illegal cvshell use command=\\x01"),
              "Illegal cvshell use command=" + expected + "[...]" + identity);
}

TEST_F(Input, AcceptedCommandSaysWhoAndFromWhere) {
    const run_result r = inst_.run({"-c", "cvcp -S. -V1"}, base_env());
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = lines_of(inst_.log());
    std::vector<std::string> messages;
    for (const std::string &line : lines) messages.push_back(line.substr(line.find(" LOG ") + 5));
    const std::vector<std::string> expected = {
        "Configuration: using v2 configuration file \"" + inst_.root().string() +
            "/etc/corvane.conf\", user " + owner(),
        "Arg: -c",
        "Arg: cvcp -S. -V1",
        "Login user=" + owner() + " client=192.0.2.7 50022 192.0.2.1 22",
        "Execute shell command: cvcp -S. -V1",
        "Executing: " + inst_.bin().string() + "/cvcp -S. -V1",
    };
    ASSERT_GE(messages.size(), expected.size()) << inst_.log();
    EXPECT_EQ(std::vector<std::string>(messages.begin(), messages.begin() + 6), expected);
}

/* Sizes of the log before and after each of a set of logins. */
class LoginLogGrowth {
public:
    explicit LoginLogGrowth(const e2e::installation &inst) : inst_(inst) {}
    /* Runs one login and returns the bytes it added to the log. */
    std::uintmax_t login(const std::vector<std::string> &args,
                         const std::vector<std::string> &entries) {
        const std::uintmax_t before = inst_.log_size();
        inst_.run_entries(args, entries);
        return inst_.log_size() - before;
    }

private:
    const e2e::installation &inst_;
};

TEST_F(Input, OneLoginAddsABoundedAmountToTheLog) {
    // Escapes quadruple a text: control bytes are the costliest input.
    const std::string costly(8000, '\x01');
    std::vector<std::string> base = e2e::env_entries(base_env());
    base.push_back("USER=" + costly);
    base.push_back("LOGNAME=" + costly);
    base.push_back("USERNAME=" + costly);
    base.push_back("SSH_CONNECTION=" + std::string(99, '\x1b'));

    LoginLogGrowth growth(inst_);
    struct login {
        const char *what;
        std::vector<std::string> args;
        std::vector<std::string> extra;
    };
    std::vector<std::string> many_variables;
    for (int i = 0; i < 150; ++i)
        many_variables.push_back("LC_V" + std::to_string(i) + "=" + costly);
    std::vector<std::string> many_unsafe;
    for (int i = 0; i < 150; ++i)
        many_unsafe.push_back("BASH_FUNC_" + std::to_string(i) + costly + "%%=() { :; }");
    const std::vector<login> logins = {
        {"huge -c command", {"-c", std::string(100 * 1024, '\x01')}, {}},
        {"huge refused form", {"-x", std::string(100 * 1024, '\x01')}, {}},
        {"many large arguments", {"-c", costly, costly, costly, costly, costly}, {}},
        {"huge original command",
         {"-t"},
         {"SSH_ORIGINAL_COMMAND=" + std::string(1000, '\x02') + " -c " +
          std::string(1000, '\x01')}},
        {"many large variables, forced login failing", {"-t"}, many_variables},
        {"many unsafe variables, accepted command", {"-c", "cvcp -S. -V1"}, many_unsafe},
    };
    for (const login &l : logins) {
        std::vector<std::string> entries = base;
        entries.insert(entries.end(), l.extra.begin(), l.extra.end());
        const std::uintmax_t added = growth.login(l.args, entries);
        EXPECT_GT(added, 0u) << l.what;
        EXPECT_LE(added, login_log_bound) << l.what;
    }
    expect_whole_lines(inst_.log());
}

TEST_F(Input, FailureListingIsBoundedPerEntryAndInCount) {
    auto env = base_env();
    for (int i = 0; i < 130; ++i) env["LC_" + std::to_string(1000 + i)] = std::string(4000, 'v');
    const run_result r = inst_.run({"-t"}, env);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    const std::string log = inst_.log();
    expect_whole_lines(log);
    EXPECT_EQ(count_lines_with(log, "Env var: "), 64);
    // 255 bytes of text at most, the cut marked.
    EXPECT_EQ(message(log, "Env var: LC_1000="),
              "Env var: LC_1000=" + std::string(250 - 8, 'v') + "[...]");
    EXPECT_EQ(message(log, "Env vars not logged"),
              "Env vars not logged: " + std::to_string(env.size() - 64));
}

/* The account other than root that a root test runs the shell as. */
struct other_account {
    std::string name;
    uid_t uid = 0;
    gid_t gid = 0;
};

std::optional<other_account> nobody() {
    const passwd *entry = getpwnam("nobody");
    if (!entry) return std::nullopt;
    return other_account{entry->pw_name, entry->pw_uid, entry->pw_gid};
}

TEST_F(Input, TheAccountNamesTheUserNotTheEnvironment) {
    // As root the shell runs as another account, so that USER=root is a lie.
    std::string account = owner();
    e2e::run_identity who;
    if (geteuid() == 0) {
        const std::optional<other_account> other = nobody();
        if (!other) GTEST_SKIP() << "no account nobody to run the shell as";
        account = other->name;
        who = {true, other->uid, other->gid};
        inst_.open_to(other->uid, other->gid);
    }
    ASSERT_NE(account, "root");
    auto env = base_env();
    env["USER"] = "root";
    env["LOGNAME"] = "other\x1b[1m";
    const run_result r = inst_.run_entries({"-c", "sh"}, e2e::env_entries(env), who);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "");
    const std::string log = inst_.log();
    expect_whole_lines(log);
    EXPECT_TRUE(contains(log, "LOG Illegal cvshell use command=sh user=" + account + " client="))
        << log;
    EXPECT_TRUE(contains(log, "LOG Login user=" + account + " client=")) << log;
    EXPECT_EQ(message(log, "Process owner"),
              "Process owner and %USER% name mismatch, using owner name: USER=root "
              "LOGNAME=other\\x1B[1m");
    EXPECT_EQ(count_lines_with(log, "Process owner"), 1) << log;
}

TEST_F(Input, AnOwnerWithoutAccountNameLeavesTheEnvironmentsName) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run the shell as a uid without an account";
    uid_t uid = 60000;
    while (getpwuid(uid) != nullptr) ++uid;
    inst_.open_to(uid, uid);
    auto env = base_env();
    env["USER"] = "envname";
    const run_result r = inst_.run_entries({"-c", "sh"}, e2e::env_entries(env), {true, uid, uid});
    EXPECT_EQ(r.status, 1) << r.err;
    const std::string log = inst_.log();
    EXPECT_TRUE(contains(log, "LOG Process owner has no account name, using env name\r\n")) << log;
    EXPECT_TRUE(contains(log, "command=sh user=envname client=")) << log;
}

/* The child's environment as the stand-in prints it, one entry per line. */
std::vector<std::string> child_environment(const std::string &out) {
    std::vector<std::string> entries;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("env: ", 0) == 0) entries.push_back(line.substr(5));
    return entries;
}

int entries_named(const std::vector<std::string> &entries, const std::string &name) {
    int n = 0;
    for (const std::string &e : entries) n += e.rfind(name + "=", 0) == 0 || e == name ? 1 : 0;
    return n;
}

TEST_F(Input, ChildSeesOneEntryPerNameWithTheShellsValues) {
    const std::string bin = inst_.bin().string();
    const std::vector<std::string> entries = {
        "CV_STANDIN_PRINT_ENV=1",       "USER=" + owner(),
        "PATH=/first",                  "A=1",
        "CORVANE_SHELL=forged",         "CORVANE_AUTH_TOKEN=forged",
        "A=2",                          "PATH=/second",
        "CORVANE_SHELL=forged-again",   "CORVANE_AUTH_TOKEN=forged-again",
        "NOT_A_VARIABLE",               "=nameless",
        "LD_PRELOAD=/tmp/x.so",         "LD_PRELOAD=/tmp/y.so",
    };
    for (const char *args : {"-c", "-t"}) {
        std::vector<std::string> env = entries;
        env.push_back("SSH_ORIGINAL_COMMAND=cvcp -S. -V1");
        const bool forced = std::string(args) == "-t";
        const run_result r = forced ? inst_.run_entries({"-t"}, env)
                                    : inst_.run_entries({"-c", "cvcp -S. -V1"}, env);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<std::string> child = child_environment(r.out);
        for (const char *name : {"A", "PATH", "CORVANE_SHELL", "USER"})
            EXPECT_EQ(entries_named(child, name), 1) << args << " " << name << "\n" << r.out;
        EXPECT_TRUE(contains(r.out, "env: A=1\n")) << r.out;
        EXPECT_TRUE(contains(r.out, "env: PATH=" + bin + ":/first\n")) << r.out;
        EXPECT_TRUE(contains(r.out, std::string("env: CORVANE_SHELL=") +
                                        (forced ? "cvshell-r" : "cvshell") + "\n"))
            << r.out;
        EXPECT_EQ(entries_named(child, "CORVANE_AUTH_TOKEN"), forced ? 1 : 0) << r.out;
        if (forced) {
            EXPECT_TRUE(contains(r.out, "env: CORVANE_AUTH_TOKEN=TOKEN\n")) << r.out;
        }
        EXPECT_EQ(entries_named(child, "LD_PRELOAD"), 0) << r.out;
        EXPECT_EQ(entries_named(child, "NOT_A_VARIABLE"), 0) << r.out;
        EXPECT_FALSE(contains(r.out, "env: =nameless")) << r.out;
    }
}

TEST_F(Input, SearchPathIsKeptWhateverItsLengthOrBytes) {
    const std::string bin = inst_.bin().string();
    std::string long_path;
    while (long_path.size() < 20 * 1024)
        long_path += "/opt/p" + std::to_string(long_path.size()) + ":";
    long_path += "/usr/bin";
    for (const std::string &path : {long_path, std::string("/usr/bin:/opt/\xff\xfe:/x\xc3")}) {
        auto env = base_env();
        env["PATH"] = path;
        const run_result r = inst_.run({"-c", "cvcp -S. -V1"}, env);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(contains(r.out, "\nPATH=" + bin + ":" + path + "\n")) << r.out.substr(0, 300);
        EXPECT_EQ(r.out.rfind("cvcp: stand-in transfer tool\n", 0), 0u) << r.out.substr(0, 300);
        EXPECT_FALSE(contains(inst_.log(), "Error reading PATH"));
    }
}

TEST_F(Input, SearchPathSetToNothingIsTheOneUpdated) {
    auto env = base_env();
    env["PATH"] = "";
    env["Path"] = "/elsewhere";
    const run_result r = inst_.run({"-c", "cvcp -S. -V1"}, env);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "\nPATH=" + inst_.bin().string() + "\n")) << r.out;
    EXPECT_FALSE(contains(inst_.log(), "Error reading PATH")) << inst_.log();
}

TEST_F(Input, StandardOutputCarriesNothingOfTheShells) {
    struct login {
        const char *what;
        std::vector<std::string> args;
        std::map<std::string, std::string> changes;
        bool remove_path = false;
    };
    const std::vector<login> logins = {
        {"refused command", {"-c", "sh -i"}, {}},
        {"refused command without PATH", {"-c", "sh -i"}, {}, true},
        {"no command", {}, {}},
        {"other form", {"-x", "y"}, {}},
        {"too many pieces", {"-c", "a", "b", "c", "d"}, {}},
        {"forced without original command", {"-t"}, {}},
        {"forced, refused", {"-t"}, {{"SSH_ORIGINAL_COMMAND", "bash -i"}}},
        {"forced, not UTF-8", {"-t"}, {{"SSH_ORIGINAL_COMMAND", "\xff"}}},
        {"missing tool", {"-c", "cvcmd -V2"}, {}},
    };
    fs::remove(inst_.bin() / "cvcmd");
    for (const login &l : logins) {
        auto env = base_env();
        for (const auto &[k, v] : l.changes) env[k] = v;
        if (l.remove_path) env.erase("PATH");
        const run_result r = inst_.run(l.args, env);
        EXPECT_EQ(r.out, "") << l.what;
    }
    fs::remove(inst_.root() / "etc/corvane.conf");
    EXPECT_EQ(inst_.run({"-c", "cvcp -S. -V1"}, base_env()).out, "") << "no configuration";
}

}  // namespace
