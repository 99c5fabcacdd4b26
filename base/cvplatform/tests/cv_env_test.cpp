// Tests of the POSIX layer under the string module: reading and setting
// environment variables with the statuses of the UTF-16 environment, and as
// exact bytes; making an environment block unique; reading IPv4 and IPv6
// address literals.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "cvplatform/cv_env.h"
#include "cvplatform/cv_str.h"

extern char **environ;

namespace {

constexpr char kUntouched[] = "untouched";

struct Destination {
    char text[64];
    Destination() { std::memcpy(text, kUntouched, sizeof(kUntouched)); }
};

TEST(Getenv, UnsetOrEmptyGivesInvalidAndLeavesTheDestination) {
    ::unsetenv("CV_ENV_TEST_UNSET");
    Destination dst;
    EXPECT_EQ(cv_getenv("CV_ENV_TEST_UNSET", dst.text, sizeof(dst.text)), CV_E_INVALID);
    EXPECT_STREQ(dst.text, kUntouched);
    ASSERT_EQ(::setenv("CV_ENV_TEST_EMPTY", "", 1), 0);
    EXPECT_EQ(cv_getenv("CV_ENV_TEST_EMPTY", dst.text, sizeof(dst.text)), CV_E_INVALID);
    EXPECT_STREQ(dst.text, kUntouched);
}

struct SizeCase {
    const char *value;
    std::size_t capacity;
    cv_status status;
};

TEST(Getenv, GivesTheStatusesOfTheWideRead) {
    const SizeCase cases[] = {
        {"abc", 4, CV_OK},
        {"abc", 3, CV_E_BUFFER_SPACE},  // needs capacity wide characters or more
        {"abc", 0, CV_E_BUFFER_SPACE},
        {"\xC3\xA9\xC3\xA9\xC3\xA9", 7, CV_OK},
        {"\xC3\xA9\xC3\xA9\xC3\xA9", 4, CV_E_BUFFER_TOO_SMALL},  // fits wide, not as UTF-8
        {"\xC3\xA9\xC3\xA9\xC3\xA9", 3, CV_E_BUFFER_SPACE},
        {"\xF0\x9F\x98\x80", 3, CV_E_BUFFER_TOO_SMALL},  // two wide units, five bytes
        {"\xF0\x9F\x98\x80", 2, CV_E_BUFFER_SPACE},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(::setenv("CV_ENV_TEST_SIZE", c.value, 1), 0);
        Destination dst;
        EXPECT_EQ(cv_getenv("CV_ENV_TEST_SIZE", dst.text, c.capacity), c.status)
            << c.value << " capacity " << c.capacity;
        EXPECT_STREQ(dst.text, c.status == CV_OK ? c.value : kUntouched);
    }
}

TEST(Getenv, ReadsTheForcedCommandIntoItsBuffer) {
    constexpr std::size_t kCommandSize = 2048;
    const std::string fits(kCommandSize - 1, 'c');
    ASSERT_EQ(::setenv("SSH_ORIGINAL_COMMAND", fits.c_str(), 1), 0);
    std::string dst(kCommandSize, '\0');
    EXPECT_EQ(cv_getenv("SSH_ORIGINAL_COMMAND", dst.data(), kCommandSize), CV_OK);
    EXPECT_EQ(std::string(dst.c_str()), fits);
    ASSERT_EQ(::setenv("SSH_ORIGINAL_COMMAND", (fits + "c").c_str(), 1), 0);
    EXPECT_EQ(cv_getenv("SSH_ORIGINAL_COMMAND", dst.data(), kCommandSize), CV_E_BUFFER_SPACE);
    ::unsetenv("SSH_ORIGINAL_COMMAND");
}

TEST(Getenv, RefusesValuesAndNamesThatAreNotUtf8) {
    const char *values[] = {"\xFF", "ok\xC3", "\xED\xA0\x80", "\xC0\xAF"};
    for (const char *value : values) {
        ASSERT_EQ(::setenv("CV_ENV_TEST_BYTES", value, 1), 0);
        Destination dst;
        EXPECT_EQ(cv_getenv("CV_ENV_TEST_BYTES", dst.text, sizeof(dst.text)), CV_E_INVALID);
        EXPECT_STREQ(dst.text, kUntouched);
    }
    Destination dst;
    EXPECT_EQ(cv_getenv("CV_\xFF", dst.text, sizeof(dst.text)), CV_E_INVALID);
    EXPECT_EQ(cv_getenv("", dst.text, sizeof(dst.text)), CV_E_INVALID);
    EXPECT_EQ(cv_getenv("A=B", dst.text, sizeof(dst.text)), CV_E_INVALID);
    EXPECT_EQ(cv_getenv(nullptr, dst.text, sizeof(dst.text)), CV_E_INVALID);
    EXPECT_EQ(cv_getenv("PATH", nullptr, 16), CV_E_INVALID);
    EXPECT_STREQ(dst.text, kUntouched);
}

TEST(Getenv, RefusesANameTooLongForTheWideNameBuffer) {
    Destination dst;
    const std::string fits(4095, 'N');  // 8192 bytes with the terminator
    const std::string too_long(4096, 'N');
    EXPECT_EQ(cv_getenv(fits.c_str(), dst.text, sizeof(dst.text)), CV_E_INVALID);  // unset
    EXPECT_EQ(cv_getenv(too_long.c_str(), dst.text, sizeof(dst.text)), CV_E_BUFFER_TOO_SMALL);
}

TEST(Setenv, SetsAndReplacesValues) {
    EXPECT_EQ(cv_setenv("CV_ENV_TEST_SET", "first \xC3\xA9"), CV_OK);
    EXPECT_STREQ(::getenv("CV_ENV_TEST_SET"), "first \xC3\xA9");
    EXPECT_EQ(cv_setenv("CV_ENV_TEST_SET", "second"), CV_OK);
    Destination dst;
    EXPECT_EQ(cv_getenv("CV_ENV_TEST_SET", dst.text, sizeof(dst.text)), CV_OK);
    EXPECT_STREQ(dst.text, "second");
}

TEST(Setenv, RefusesInvalidNamesAndValues) {
    ::unsetenv("CV_ENV_TEST_BAD");
    EXPECT_EQ(cv_setenv("CV_ENV_TEST_BAD", "\xC3"), CV_E_INVALID);
    EXPECT_EQ(cv_setenv("CV_ENV_TEST_\xFF", "v"), CV_E_INVALID);
    EXPECT_EQ(cv_setenv("", "v"), CV_E_INVALID);
    EXPECT_EQ(cv_setenv("CV_ENV=TEST", "v"), CV_E_INVALID);
    EXPECT_EQ(cv_setenv(nullptr, "v"), CV_E_INVALID);
    EXPECT_EQ(cv_setenv("CV_ENV_TEST_BAD", nullptr), CV_E_INVALID);
    EXPECT_EQ(::getenv("CV_ENV_TEST_BAD"), nullptr);
}

TEST(NetParseAddress, ReadsIpv4Literals) {
    cv_net_address address{};
    int is_ipv6 = -1;
    ASSERT_EQ(cv_net_parse_address("192.168.1.10", &address, &is_ipv6), CV_OK);
    EXPECT_EQ(address.family, CV_NET_FAMILY_IPV4);
    EXPECT_EQ(is_ipv6, 0);
    const std::uint8_t expected[4] = {192, 168, 1, 10};
    EXPECT_EQ(std::memcmp(address.ipv4, expected, 4), 0);
}

TEST(NetParseAddress, ReadsIpv6LiteralsWithOrWithoutAZone) {
    const char *texts[] = {"fe80::1", "fe80::1%eth0", "fe80::1%"};
    for (const char *text : texts) {
        cv_net_address address{};
        int is_ipv6 = 0;
        ASSERT_EQ(cv_net_parse_address(text, &address, &is_ipv6), CV_OK) << text;
        EXPECT_EQ(address.family, CV_NET_FAMILY_IPV6);
        EXPECT_EQ(is_ipv6, 1);
        EXPECT_EQ(address.ipv6[0], 0xFE);
        EXPECT_EQ(address.ipv6[1], 0x80);
        EXPECT_EQ(address.ipv6[15], 0x01);
    }
    cv_net_address address{};
    EXPECT_EQ(cv_net_parse_address("::ffff:10.0.0.1", &address, nullptr), CV_OK);
    EXPECT_EQ(address.family, CV_NET_FAMILY_IPV6);
}

TEST(NetParseAddress, RefusesWhatIsNeither) {
    const std::string long_text = std::string(200, '1') + "%zone";
    const char *texts[] = {"",           "1.2.3",        "1.2.3.4%eth0",   "256.1.1.1",
                           "fe80::1::2", "host.example", long_text.c_str()};
    for (const char *text : texts) {
        cv_net_address address{};
        EXPECT_EQ(cv_net_parse_address(text, &address, nullptr), CV_E_INVALID) << text;
    }
    cv_net_address address{};
    EXPECT_EQ(cv_net_parse_address(nullptr, &address, nullptr), CV_E_INVALID);
    EXPECT_EQ(cv_net_parse_address("1.2.3.4", nullptr, nullptr), CV_E_INVALID);
    cv_net_startup();  // nothing to start on POSIX; must simply return
}

TEST(Unsetenv, RemovesAVariableAndListsNames) {
    ASSERT_EQ(cv_setenv("CV_TEST_UNSET_ME", "x"), CV_OK);
    auto names = cv_environment_names();
    EXPECT_NE(std::find(names.begin(), names.end(), "CV_TEST_UNSET_ME"), names.end());
    EXPECT_EQ(cv_unsetenv("CV_TEST_UNSET_ME"), CV_OK);
    EXPECT_EQ(::getenv("CV_TEST_UNSET_ME"), nullptr);
    names = cv_environment_names();
    EXPECT_EQ(std::find(names.begin(), names.end(), "CV_TEST_UNSET_ME"), names.end());
    EXPECT_EQ(cv_unsetenv("CV_TEST_NEVER_SET"), CV_OK);
    EXPECT_EQ(cv_unsetenv(""), CV_E_INVALID);
    EXPECT_EQ(cv_unsetenv("A=B"), CV_E_INVALID);
    EXPECT_EQ(cv_unsetenv(nullptr), CV_E_INVALID);
}

TEST(GetenvBytes, ReadsAnyValueExactly) {
    const std::string long_value(20000, 'p');
    const std::string values[] = {"\xFF\xFE not UTF-8 \xC3", long_value, "a=b=c", "\r\n\x1b[0m"};
    for (const std::string &value : values) {
        ASSERT_EQ(::setenv("CV_ENV_TEST_BYTES", value.c_str(), 1), 0);
        std::string read = "old";
        EXPECT_EQ(cv_getenv_bytes("CV_ENV_TEST_BYTES", &read), CV_OK);
        EXPECT_EQ(read, value);
    }
    ASSERT_EQ(::setenv("CV_ENV_TEST_BYTES", "", 1), 0);
    std::string read = "old";
    EXPECT_EQ(cv_getenv_bytes("CV_ENV_TEST_BYTES", &read), CV_OK);  // set, to nothing
    EXPECT_EQ(read, "");
    ::unsetenv("CV_ENV_TEST_BYTES");
    read = "old";
    EXPECT_EQ(cv_getenv_bytes("CV_ENV_TEST_BYTES", &read), CV_E_FILE_NOT_FOUND);
    EXPECT_EQ(read, "old");
    EXPECT_EQ(cv_getenv_bytes("", &read), CV_E_INVALID);
    EXPECT_EQ(cv_getenv_bytes("A=B", &read), CV_E_INVALID);
    EXPECT_EQ(cv_getenv_bytes(nullptr, &read), CV_E_INVALID);
    EXPECT_EQ(cv_getenv_bytes("PATH", nullptr), CV_E_INVALID);
    EXPECT_EQ(read, "old");
}

TEST(SetenvBytes, WritesAnyValueExactly) {
    const std::string value = "/opt/bin:\xFF\xC3:" + std::string(30000, 'q');
    EXPECT_EQ(cv_setenv_bytes("CV_ENV_TEST_SETB", value), CV_OK);
    EXPECT_EQ(std::string(::getenv("CV_ENV_TEST_SETB")), value);
    EXPECT_EQ(cv_setenv_bytes("CV_ENV_TEST_SETB", ""), CV_OK);
    EXPECT_STREQ(::getenv("CV_ENV_TEST_SETB"), "");
    EXPECT_EQ(cv_setenv_bytes("CV_ENV_TEST_SETB", std::string("a\0b", 3)), CV_E_INVALID);
    EXPECT_EQ(cv_setenv_bytes("", "v"), CV_E_INVALID);
    EXPECT_EQ(cv_setenv_bytes("A=B", "v"), CV_E_INVALID);
    EXPECT_EQ(cv_setenv_bytes(nullptr, "v"), CV_E_INVALID);
    EXPECT_STREQ(::getenv("CV_ENV_TEST_SETB"), "");
    ::unsetenv("CV_ENV_TEST_SETB");
}

/* Puts a crafted block in place of the process environment for one test. */
class crafted_environment {
public:
    explicit crafted_environment(std::vector<std::string> entries) : text_(std::move(entries)) {
        for (std::string &entry : text_) block_.push_back(entry.data());
        block_.push_back(nullptr);
        saved_ = environ;
        environ = block_.data();
    }
    ~crafted_environment() { environ = saved_; }
    std::vector<std::string> entries() const {
        std::vector<std::string> now;
        for (char **e = environ; *e; ++e) now.emplace_back(*e);
        return now;
    }

private:
    std::vector<std::string> text_;
    std::vector<char *> block_;
    char **saved_;
};

TEST(EnvironmentMakeUnique, KeepsTheFirstEntryOfEachNameInOrder) {
    const struct {
        std::vector<std::string> in, out;
    } cases[] = {
        {{"A=1", "B=2", "A=3"}, {"A=1", "B=2"}},
        {{"PATH=/evil", "HOME=/h", "PATH=/usr/bin", "PATH=/x"}, {"PATH=/evil", "HOME=/h"}},
        {{"A=", "A=full"}, {"A="}},
        {{"NOEQUALS", "=nameless", "C=3", "C"}, {"C=3"}},
        {{"AB=1", "A=2", "A=B=3"}, {"AB=1", "A=2"}},  // names compare whole
        {{"X=1", "Y=2"}, {"X=1", "Y=2"}},
        {{}, {}},
    };
    for (const auto &c : cases) {
        crafted_environment env(c.in);
        std::size_t removed = 99;
        ASSERT_EQ(cv_environment_make_unique(&removed), CV_OK);
        EXPECT_EQ(env.entries(), c.out);
        EXPECT_EQ(removed, c.in.size() - c.out.size());
        std::string value;
        if (!c.out.empty() && c.out[0] == "PATH=/evil") {
            EXPECT_EQ(cv_getenv_bytes("PATH", &value), CV_OK);
            EXPECT_EQ(value, "/evil");  // what every earlier read returned
        }
    }
    crafted_environment env({"A=1", "A=2"});
    EXPECT_EQ(cv_environment_make_unique(nullptr), CV_OK);
    EXPECT_EQ(env.entries(), std::vector<std::string>{"A=1"});
}

}  // namespace
