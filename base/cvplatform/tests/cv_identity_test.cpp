// Tests of the host name, the current user's name under both platform rules
// (the environment's name on Windows, the process owner's on POSIX), the
// normal form of account names and the domain cache.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <pwd.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "../src/cv_identity_internal.h"
#include "cv_test_log_capture.h"
#include "cvplatform/cv_error.h"

CV_TEST_LOG_CAPTURE();

namespace {

using captured = cv_test_log_capture;

std::string this_host() {
    char name[256] = {};
    EXPECT_EQ(::gethostname(name, sizeof name - 1), 0);
    return name;
}

std::string process_owner() {
    const passwd *entry = ::getpwuid(::geteuid());
    return entry ? entry->pw_name : "";
}

std::string upper(std::string text) {
    for (char &c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::string normalized(const std::string &name, int mode) {
    char buf[2048];
    std::snprintf(buf, sizeof buf, "%s", name.c_str());
    const cv_status status = cv_user_name_normalize(buf, sizeof buf, mode);
    return status == 0 ? std::string(buf) : "<status " + std::to_string(status) + ">";
}

/* Replaces the user variables for one test and puts them back afterwards. */
class user_environment {
public:
    user_environment() {
        for (const char *name : kNames) {
            const char *value = std::getenv(name);
            saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
            ::unsetenv(name);
        }
    }
    ~user_environment() {
        for (const auto &[name, value] : saved_) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }
    void set(const char *name, const std::string &value) { ::setenv(name, value.c_str(), 1); }

private:
    static constexpr const char *kNames[] = {"USER", "LOGNAME", "USERNAME", "USERDOMAIN",
                                             "DOMAINNAME"};
    std::map<std::string, std::optional<std::string>> saved_;
};

/* The current user under the Windows rule, where the environment names the
 * user (the rule this platform does not use itself). */
std::string current_user(cv_status expected = 0) {
    char buf[1024] = "garbage";
    EXPECT_EQ(cv_current_user_name_by_rule(cv_user_name_rule::environment_first, buf, sizeof buf),
              expected);
    return buf;
}

/* The current user under this platform's own rule. */
std::string native_user(cv_status expected = 0) {
    char buf[1024] = "garbage";
    EXPECT_EQ(cv_get_current_user_name(buf, sizeof buf), expected);
    return buf;
}

/* A directory that knows a few domains and counts the questions it gets. */
struct fake_directory {
    static inline int questions = 0;
    static cv_status lookup(const char *domain, char *flat, std::size_t size) {
        ++questions;
        std::string name(domain);
        if (name.rfind("unknown", 0) == 0) return 1355;
        const std::size_t dot = name.find('.');
        std::snprintf(flat, size, "%s", ("FLAT-" + name.substr(0, dot)).c_str());
        return 0;
    }
};

/* Installs the fake directory for one test. */
class directory_hook {
public:
    directory_hook() : saved_(cv_domain_lookup_hook) {
        cv_domain_lookup_hook = fake_directory::lookup;
        fake_directory::questions = 0;
    }
    ~directory_hook() { cv_domain_lookup_hook = saved_; }

private:
    cv_domain_lookup_fn saved_;
};

}  // namespace

TEST(HostName, IsTheComputersName) {
    char buf[CV_HOST_NAME_SIZE];
    ASSERT_EQ(cv_get_host_name(buf, sizeof buf), 0u);
    EXPECT_EQ(std::string(buf), this_host());
    char tiny[2];
    EXPECT_EQ(cv_get_host_name(tiny, sizeof tiny), 28677u);
    EXPECT_EQ(cv_get_host_name(nullptr, 10), 22u);
    EXPECT_EQ(cv_get_host_name(buf, 0), 22u);
}

TEST(NormalizeName, Forms) {
    const std::string host = this_host();
    ASSERT_NE(upper(host), "SALES");
    const struct {
        std::string in, out;
    } cases[] = {
        {"Alice@sales", "SALES\\alice"},
        {".\\Bob", "bob"},
        {host + "\\Bob", "bob"},
        {upper(host) + "\\Bob", "bob"},
        {"Bob@" + host, "bob"},
        {"corp/Jim", "CORP\\jim"},
        {"CORP\\Jim", "CORP\\jim"},
        {"Jim", "jim"},
        {"\\Jim", "jim"},
        {"jim@", "jim"},
        {"a@b\\c", "B\\C\\a"},        // "@" splits first
        {"d\\u/x", "D\\u/x"},          // then "\"
        {"\xC3\x84nne@x", "X\\\xC3\x84nne"},  // bytes beyond ASCII keep their case
    };
    for (const auto &c : cases) EXPECT_EQ(normalized(c.in, CV_NAME_LOCAL), c.out) << c.in;
}

TEST(NormalizeName, DottedHostMatchesByFirstLabel) {
    const std::string host = this_host();
    const std::size_t dot = host.find('.');
    if (dot == std::string::npos) {
        // The short name is the whole name; a dotted domain is not this host.
        EXPECT_EQ(normalized(host + ".example\\Bob", CV_NAME_LOCAL),
                  upper(host) + ".EXAMPLE\\bob");
    } else {
        EXPECT_EQ(normalized(host.substr(0, dot) + "\\Bob", CV_NAME_LOCAL), "bob");
    }
}

TEST(NormalizeName, ModeZeroLeavesTheName) {
    EXPECT_EQ(normalized("Alice@sales", CV_NAME_UNTOUCHED), "Alice@sales");
}

TEST(NormalizeName, BadArguments) {
    char name[8] = "abcdefg";
    EXPECT_EQ(cv_user_name_normalize(nullptr, 8, CV_NAME_LOCAL), 22u);
    EXPECT_EQ(cv_user_name_normalize(name, 0, CV_NAME_LOCAL), 22u);
    EXPECT_EQ(cv_user_name_normalize(name, 7, CV_NAME_LOCAL), 22u);  // unterminated within 7
    EXPECT_EQ(cv_user_name_normalize(name, sizeof name, 4), 22u);
    EXPECT_EQ(cv_user_name_normalize(name, sizeof name, -1), 22u);
    EXPECT_STREQ(name, "abcdefg");
}

TEST(NormalizeName, PartsUpTo511Bytes) {
    const std::string user511(511, 'U');
    const std::string user512(512, 'U');
    EXPECT_EQ(normalized("dom\\" + user511, CV_NAME_LOCAL), "DOM\\" + std::string(511, 'u'));
    EXPECT_EQ(normalized("dom\\" + user512, CV_NAME_LOCAL), "<status 28677>");
    EXPECT_EQ(normalized(user512 + "@dom", CV_NAME_LOCAL), "<status 28677>");
    EXPECT_EQ(normalized("u@" + std::string(512, 'd'), CV_NAME_LOCAL), "<status 28677>");
}

TEST(NormalizeName, WithoutADirectoryServiceTheDomainStaysSilently) {
    // POSIX has no directory service: every comparison of a qualified name
    // normalises it, so a complaint here would fill the log.
    const std::string mark = captured::mark();
    EXPECT_EQ(normalized("Alice@sales", CV_NAME_DOMAIN_CACHE), "SALES\\alice");
    EXPECT_EQ(normalized("Alice@sales", CV_NAME_DIRECTORY), "SALES\\alice");
    EXPECT_EQ(captured::since(mark).find("Unable to locate domain"), std::string::npos);
    char flat[64];
    EXPECT_EQ(cv_domain_cache_lookup("sales", flat, sizeof flat), 28700u);
}

TEST(NormalizeName, FailedDirectoryLookupKeepsTheDomainAndSaysSo) {
    directory_hook hook;
    const std::string mark = captured::mark();
    EXPECT_EQ(normalized("Alice@unknown", CV_NAME_DOMAIN_CACHE), "UNKNOWN\\alice");
    EXPECT_NE(captured::since(mark).find("ERR Unable to locate domain unknown.  Leaving name as is."),
              std::string::npos);
}

TEST(NormalizeName, DirectoryGivesTheFlatName) {
    directory_hook hook;
    EXPECT_EQ(normalized("Alice@corp.example.com", CV_NAME_DIRECTORY), "FLAT-CORP\\alice");
    EXPECT_EQ(normalized("Alice@norm-cache.example.com", CV_NAME_DOMAIN_CACHE),
              "FLAT-NORM-CACHE\\alice");
    EXPECT_EQ(normalized("Alice@sales", CV_NAME_LOCAL), "SALES\\alice");  // mode 1 never asks
    EXPECT_EQ(fake_directory::questions, 2);
}

TEST(NormalizeName, ResultThatDoesNotFitLeavesTheNameUnchanged) {
    directory_hook hook;
    char name[16] = "al@longdomain";  // becomes FLAT-LONGDOMAIN\al: 18 bytes
    EXPECT_EQ(cv_user_name_normalize(name, sizeof name, CV_NAME_DIRECTORY), 28677u);
    EXPECT_STREQ(name, "al@longdomain");
}

TEST(DomainCache, AnswersRepeatedQuestionsFromTheCache) {
    directory_hook hook;
    char flat[64];
    ASSERT_EQ(cv_domain_cache_lookup("repeat.example", flat, sizeof flat), 0u);
    EXPECT_STREQ(flat, "FLAT-repeat");
    ASSERT_EQ(cv_domain_cache_lookup("REPEAT.Example", flat, sizeof flat), 0u);  // any case
    EXPECT_STREQ(flat, "FLAT-repeat");
    EXPECT_EQ(fake_directory::questions, 1);
}

TEST(DomainCache, FailuresAreNotCached) {
    directory_hook hook;
    char flat[64] = "garbage";
    EXPECT_EQ(cv_domain_cache_lookup("unknown.example", flat, sizeof flat), 2u);
    EXPECT_STREQ(flat, "");
    EXPECT_EQ(cv_domain_cache_lookup("unknown.example", flat, sizeof flat), 2u);
    EXPECT_EQ(fake_directory::questions, 2);
}

TEST(DomainCache, TwentyFirstDomainReplacesTheLeastRecentlyUsed) {
    directory_hook hook;
    char flat[64];
    // Twenty new domains push out whatever earlier tests left in the cache.
    for (int i = 0; i < 20; ++i) {
        const std::string domain = "lru" + std::to_string(i);
        ASSERT_EQ(cv_domain_cache_lookup(domain.c_str(), flat, sizeof flat), 0u);
    }
    ASSERT_EQ(fake_directory::questions, 20);
    ASSERT_EQ(cv_domain_cache_lookup("lru0", flat, sizeof flat), 0u);  // lru1 is now oldest
    ASSERT_EQ(cv_domain_cache_lookup("lru20", flat, sizeof flat), 0u);
    EXPECT_EQ(fake_directory::questions, 21);
    ASSERT_EQ(cv_domain_cache_lookup("lru0", flat, sizeof flat), 0u);
    ASSERT_EQ(cv_domain_cache_lookup("lru2", flat, sizeof flat), 0u);
    ASSERT_EQ(cv_domain_cache_lookup("lru20", flat, sizeof flat), 0u);
    EXPECT_EQ(fake_directory::questions, 21);  // all three were kept
    ASSERT_EQ(cv_domain_cache_lookup("lru1", flat, sizeof flat), 0u);
    EXPECT_EQ(fake_directory::questions, 22);  // lru1 was replaced
    EXPECT_STREQ(flat, "FLAT-lru1");
}

TEST(DomainCache, SmallOutputAndBadArguments) {
    directory_hook hook;
    char flat[4];
    EXPECT_EQ(cv_domain_cache_lookup("small.example", flat, sizeof flat), 28677u);
    EXPECT_EQ(cv_domain_cache_lookup(nullptr, flat, sizeof flat), 22u);
    EXPECT_EQ(cv_domain_cache_lookup("x", nullptr, 4), 22u);
    EXPECT_EQ(cv_domain_cache_lookup("x", flat, 0), 22u);
}

TEST(CurrentUserWindowsRule, UserVariableComesFirst) {
    user_environment env;
    env.set("USER", "alice");
    env.set("LOGNAME", "bob");
    EXPECT_EQ(current_user(), "alice");
}

TEST(CurrentUserWindowsRule, UnsetOrEmptyUserFallsThroughToLogname) {
    user_environment env;
    env.set("LOGNAME", "bob");
    EXPECT_EQ(current_user(), "bob");
    env.set("USER", "");
    EXPECT_EQ(current_user(), "bob");
}

TEST(CurrentUserWindowsRule, UsernameWithDomain) {
    const std::string host = this_host();
    if (upper(host) == "CORP") GTEST_SKIP() << "this computer is named CORP";
    user_environment env;
    env.set("USERNAME", "jsmith");
    env.set("USERDOMAIN", "CORP");
    EXPECT_EQ(current_user(), "CORP\\jsmith");
    env.set("USERDOMAIN", host);
    EXPECT_EQ(current_user(), "jsmith");
}

TEST(CurrentUserWindowsRule, DomainnameWhenUserdomainIsAbsent) {
    user_environment env;
    env.set("USERNAME", "JSmith");
    env.set("DOMAINNAME", "corp-dn");
    EXPECT_EQ(current_user(), "CORP-DN\\jsmith");
}

TEST(CurrentUserWindowsRule, UsernameAloneIsTakenAsItIs) {
    user_environment env;
    env.set("USERNAME", "JSmith");
    EXPECT_EQ(current_user(), "JSmith");
}

TEST(CurrentUserWindowsRule, NoNameIsAFailure) {
    user_environment env;
    const std::string mark = captured::mark();
    EXPECT_EQ(current_user(22), "");
    char text[256];
    const std::string expected = std::string("ERR Failed to resolve user name, errno:22, err desc:") +
                                 cv_strerror(22, text, sizeof text);
    EXPECT_NE(captured::since(mark).find(expected), std::string::npos) << expected;
}

TEST(CurrentUserWindowsRule, NameTooLongForTheBufferIsAFailure) {
    user_environment env;
    env.set("USER", std::string(100, 'a'));
    env.set("LOGNAME", "bob");
    char buf[16] = "garbage";
    const std::string mark = captured::mark();
    EXPECT_EQ(cv_current_user_name_by_rule(cv_user_name_rule::environment_first, buf, sizeof buf),
              28677u);
    EXPECT_STREQ(buf, "");
    EXPECT_NE(captured::since(mark).find(
                  "ERR Failed to resolve user name, errno:28677, err desc:Insufficient buffer space"),
              std::string::npos);
    EXPECT_EQ(cv_get_current_user_name(nullptr, 16), 22u);
}

TEST(CurrentUserWindowsRule, MismatchWithTheProcessOwnerIsLoggedButTheEnvironmentWins) {
    const std::string owner = process_owner();
    ASSERT_FALSE(owner.empty());
    user_environment env;
    env.set("USER", owner + "-other");
    std::string mark = captured::mark();
    EXPECT_EQ(current_user(), owner + "-other");
    const std::string message = "LOG Process owner and %USER% name mismatch, using env name";
    EXPECT_NE(captured::since(mark).find(message), std::string::npos);

    env.set("USER", owner);
    mark = captured::mark();
    EXPECT_EQ(current_user(), owner);
    EXPECT_EQ(captured::since(mark).find(message), std::string::npos);
}

TEST(UserNameRule, WhichSourceNamesTheUser) {
    using rule = cv_user_name_rule;
    using source = cv_user_name_source;
    const struct {
        rule r;
        bool owner, environment;
        source expected;
    } cases[] = {
        {rule::environment_first, true, true, source::environment},
        {rule::environment_first, true, false, source::none},  // Windows needs the variable
        {rule::environment_first, false, true, source::environment},
        {rule::environment_first, false, false, source::none},
        {rule::owner_first, true, true, source::process_owner},
        {rule::owner_first, true, false, source::process_owner},
        {rule::owner_first, false, true, source::none},  // never the client's choice
        {rule::owner_first, false, false, source::none},
    };
    for (const auto &c : cases)
        EXPECT_EQ(cv_user_name_source_for(c.r, c.owner, c.environment), c.expected)
            << static_cast<int>(c.r) << " owner " << c.owner << " environment " << c.environment;
}

TEST(UserNameRule, PosixUsesTheProcessOwner) {
    EXPECT_EQ(cv_native_user_name_rule, cv_user_name_rule::owner_first);
}

TEST(CurrentUserPosixRule, OwnerWinsAndDifferingVariablesAreLoggedEscaped) {
    const std::string owner = process_owner();
    ASSERT_FALSE(owner.empty());
    user_environment env;
    env.set("USER", "root-or-not");
    env.set("LOGNAME", "other\r\nLOG forged\x1b[2J");
    env.set("USERNAME", owner);
    const std::string mark = captured::mark();
    EXPECT_EQ(native_user(), owner);
    const std::string log = captured::since(mark);
    EXPECT_NE(log.find("LOG Process owner and %USER% name mismatch, using owner name: "
                       "USER=root-or-not LOGNAME=other\\x0D\\x0ALOG forged\\x1B[2J\r\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(captured::count(log, "\n"), 2) << log;  // the mark's line end and one line
}

TEST(CurrentUserPosixRule, MatchingOrAbsentVariablesLogNothing) {
    const std::string owner = process_owner();
    user_environment env;
    const std::string mark = captured::mark();
    EXPECT_EQ(native_user(), owner);
    env.set("USER", "");
    env.set("LOGNAME", owner);
    EXPECT_EQ(native_user(), owner);
    EXPECT_EQ(captured::since(mark).find("mismatch"), std::string::npos);
}

TEST(CurrentUserPosixRule, LongValuesAreCutInTheLogNotInTheName) {
    const std::string owner = process_owner();
    user_environment env;
    env.set("USER", std::string(5000, 'u'));
    const std::string mark = captured::mark();
    EXPECT_EQ(native_user(), owner);
    const std::string log = captured::since(mark);
    const std::size_t at = log.find("USER=");
    ASSERT_NE(at, std::string::npos) << log;
    const std::size_t end = log.find("\r\n", at);
    // 255 bytes of escaped text at most, the cut mark within them.
    EXPECT_EQ(log.substr(at + 5, end - at - 5), std::string(250, 'u') + "[...]");
}

TEST(CurrentUserPosixRule, OwnerNameTooLongForTheBufferIsAFailure) {
    const std::string owner = process_owner();
    ASSERT_GE(owner.size(), 1u);
    char buf[1] = {'x'};
    EXPECT_EQ(cv_get_current_user_name(buf, sizeof buf), 28677u);
    EXPECT_EQ(buf[0], '\0');
}

/* Runs `body` in a child process whose effective user is a uid without an
 * account, and returns what it wrote to the pipe it is given. */
template <typename Body>
std::string as_uid_without_account(Body body) {
    uid_t uid = 60000;
    while (::getpwuid(uid) != nullptr) ++uid;
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        if (::setresgid(uid, uid, uid) != 0 || ::setresuid(uid, uid, uid) != 0) ::_exit(3);
        const std::string text = body();
        if (::write(fds[1], text.data(), text.size()) < 0) ::_exit(4);
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string text;
    char chunk[256];
    for (ssize_t n; (n = ::read(fds[0], chunk, sizeof chunk)) > 0;) text.append(chunk, n);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    return text;
}

TEST(CurrentUserPosixRule, AnOwnerWithoutAnAccountNameIsNoUserWhateverTheEnvironmentSays) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run as a uid without an account";
    user_environment env;
    env.set("LOGNAME", "envname");
    env.set("USER", "root");
    const std::string mark = captured::mark();
    const std::string name = as_uid_without_account([] {
        char buf[64] = "garbage";
        const cv_status status = cv_get_current_user_name(buf, sizeof buf);
        return std::to_string(status) + ":" + buf;
    });
    EXPECT_EQ(name, "2:");
    EXPECT_NE(captured::since(mark).find("LOG Process owner has no account name"),
              std::string::npos);
}
