// Tests of the host name, the current user's name from the environment, the
// normal form of account names and the domain cache.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <pwd.h>
#include <string>
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

std::string current_user(cv_status expected = 0) {
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

TEST(NormalizeName, FailedDirectoryLookupKeepsTheDomain) {
    // POSIX has no directory service: the name keeps its domain as written.
    const std::string mark = captured::mark();
    EXPECT_EQ(normalized("Alice@sales", CV_NAME_DOMAIN_CACHE), "SALES\\alice");
    EXPECT_NE(captured::since(mark).find("ERR Unable to locate domain sales.  Leaving name as is."),
              std::string::npos);
    EXPECT_EQ(normalized("Alice@sales", CV_NAME_DIRECTORY), "SALES\\alice");
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

TEST(CurrentUser, UserVariableComesFirst) {
    user_environment env;
    env.set("USER", "alice");
    env.set("LOGNAME", "bob");
    EXPECT_EQ(current_user(), "alice");
}

TEST(CurrentUser, UnsetOrEmptyUserFallsThroughToLogname) {
    user_environment env;
    env.set("LOGNAME", "bob");
    EXPECT_EQ(current_user(), "bob");
    env.set("USER", "");
    EXPECT_EQ(current_user(), "bob");
}

TEST(CurrentUser, UsernameWithDomain) {
    const std::string host = this_host();
    if (upper(host) == "CORP") GTEST_SKIP() << "this computer is named CORP";
    user_environment env;
    env.set("USERNAME", "jsmith");
    env.set("USERDOMAIN", "CORP");
    EXPECT_EQ(current_user(), "CORP\\jsmith");
    env.set("USERDOMAIN", host);
    EXPECT_EQ(current_user(), "jsmith");
}

TEST(CurrentUser, DomainnameWhenUserdomainIsAbsent) {
    user_environment env;
    env.set("USERNAME", "JSmith");
    env.set("DOMAINNAME", "corp-dn");
    EXPECT_EQ(current_user(), "CORP-DN\\jsmith");
}

TEST(CurrentUser, UsernameAloneIsTakenAsItIs) {
    user_environment env;
    env.set("USERNAME", "JSmith");
    EXPECT_EQ(current_user(), "JSmith");
}

TEST(CurrentUser, NoNameIsAFailure) {
    user_environment env;
    const std::string mark = captured::mark();
    EXPECT_EQ(current_user(22), "");
    char text[256];
    const std::string expected = std::string("ERR Failed to resolve user name, errno:22, err desc:") +
                                 cv_strerror(22, text, sizeof text);
    EXPECT_NE(captured::since(mark).find(expected), std::string::npos) << expected;
}

TEST(CurrentUser, NameTooLongForTheBufferIsAFailure) {
    user_environment env;
    env.set("USER", std::string(100, 'a'));
    env.set("LOGNAME", "bob");
    char buf[16] = "garbage";
    const std::string mark = captured::mark();
    EXPECT_EQ(cv_get_current_user_name(buf, sizeof buf), 28677u);
    EXPECT_STREQ(buf, "");
    EXPECT_NE(captured::since(mark).find(
                  "ERR Failed to resolve user name, errno:28677, err desc:Insufficient buffer space"),
              std::string::npos);
    EXPECT_EQ(cv_get_current_user_name(nullptr, 16), 22u);
}

TEST(CurrentUser, MismatchWithTheProcessOwnerIsLoggedButTheEnvironmentWins) {
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
