// Tests of variable expansion: references, escapes and how each pass
// consumes one level of them, the pass limit, HOME, the size bound, and the
// messages logged on failure.
#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cvplatform/cv_containers.h"
#include "cvplatform/cv_log.h"
#include "cvplatform/cv_str.h"

namespace {

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/cv_vars_test.XXXXXX";
        path_ = ::mkdtemp(pattern);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

// The process log, opened in a private directory for one test.
class LogCapture {
public:
    LogCapture() : file_(dir_.path() + "/vars.log") { cv_log_init(1, file_.c_str()); }
    ~LogCapture() { cv_log_close(); }
    bool contains(const std::string &text) const {
        cv_log_flush();
        std::ifstream in(file_, std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        return all.str().find(text) != std::string::npos;
    }

private:
    TempDir dir_;
    std::string file_;
};

class Vars {
public:
    Vars(std::initializer_list<std::pair<const char *, const char *>> entries) {
        EXPECT_EQ(cv_btree_create_strings(&tree_), CV_OK);
        for (const auto &[key, value] : entries) EXPECT_EQ(cv_btree_set(tree_, key, value), CV_OK);
    }
    Vars(const Vars &) = delete;
    Vars &operator=(const Vars &) = delete;
    ~Vars() { cv_btree_destroy(tree_, nullptr); }
    cv_btree *tree() const { return tree_; }

private:
    cv_btree *tree_ = nullptr;
};

struct Result {
    cv_status status;
    std::string text;
    std::size_t length;
};

Result expand(const char *src, cv_btree *vars, std::size_t capacity = 256) {
    std::vector<char> dst(capacity + 1, '#');
    dst[capacity] = '\0';
    std::size_t length = 0;
    const cv_status status =
        cv_parse_variables_into_string(src, dst.data(), capacity, vars, &length);
    return {status, std::string(dst.data()), length};
}

struct ExpandCase {
    const char *src;
    const char *expected;
};

TEST(ParseVariables, SubstitutesAndUnescapes) {
    Vars vars({{"a", "1"}, {"b", "B"}, {"user_dir", "/data/$(a)"}, {"a)b", "paren"}});
    const ExpandCase cases[] = {
        {"plain text", "plain text"},
        {"", ""},
        {"x$(a)y$(b)z", "x1yBz"},
        {"cost $5 and $ (a)", "cost $5 and $ (a)"},
        {"$(user_dir)/in", "/data/1/in"},
        {"a||b", "a|b"},
        {"abc|", "abc|"},       // a final bar is itself literal
        {"|$(a)", "$(a)"},      // nothing else substituted: stays literal
        {"|$(a) $(b)", "1 B"},  // expanded again in the next pass
        {"||||$(a)", "|1"},     // one level of escapes per pass
        {"$(a|)b)", "paren"},   // a bar escapes inside a name
    };
    for (const auto &c : cases) {
        const Result r = expand(c.src, vars.tree());
        EXPECT_EQ(r.status, CV_OK) << c.src;
        EXPECT_EQ(r.text, c.expected) << c.src;
        EXPECT_EQ(r.length, std::strlen(c.expected) + 1) << c.src;
    }
}

TEST(ParseVariables, FollowsValuesThatReferToOtherVariables) {
    Vars vars({{"a", "$(b)"}, {"b", "x"}});
    const Result r = expand("[$(a)]", vars.tree());
    EXPECT_EQ(r.status, CV_OK);
    EXPECT_EQ(r.text, "[x]");
}

TEST(ParseVariables, AllowsFiveSubstitutingPasses) {
    // Each level of the chain takes one pass.
    Vars five({{"v0", "$(v1)"}, {"v1", "$(v2)"}, {"v2", "$(v3)"}, {"v3", "$(v4)"}, {"v4", "end"}});
    const Result r = expand("$(v0)", five.tree());
    EXPECT_EQ(r.status, CV_OK);
    EXPECT_EQ(r.text, "end");
    Vars six({{"v0", "$(v1)"},
              {"v1", "$(v2)"},
              {"v2", "$(v3)"},
              {"v3", "$(v4)"},
              {"v4", "$(v5)"},
              {"v5", "end"}});
    EXPECT_EQ(expand("$(v0)", six.tree()).status, CV_E_INVALID);
}

TEST(ParseVariables, StopsASelfReferenceInTheSixthPass) {
    LogCapture log;
    Vars vars({{"loop", "<$(loop)>"}});
    const Result r = expand("$(loop)", vars.tree());
    EXPECT_EQ(r.status, CV_E_INVALID);
    EXPECT_EQ(r.text, std::string(256, '#')) << "destination left as it was";
    EXPECT_TRUE(
        log.contains("Possible uncontrolled recursion in cv_parse_variables_into_string."
                     "  5 recursions exceeded"));
}

TEST(ParseVariables, RefusesAnUnterminatedReference) {
    LogCapture log;
    Vars vars({{"a", "1"}});
    EXPECT_EQ(expand("x $(abc and more", vars.tree()).status, CV_E_INVALID);
    EXPECT_TRUE(log.contains("Unterminated internal string var: \"abc and more\""));
    EXPECT_EQ(expand("x $(ab|)", vars.tree()).status, CV_E_INVALID);
}

TEST(ParseVariables, ReportsAnUnresolvedName) {
    LogCapture log;
    Vars vars({{"a", "1"}});
    const int saved_verbosity = cv_log_verbosity;
    const int saved_debug = cv_log_debug_enabled;
    cv_log_debug_enabled = 1;
    cv_log_verbosity = 0;
    EXPECT_EQ(expand("$(quiet)", vars.tree()).status, CV_E_FILE_NOT_FOUND);
    EXPECT_FALSE(log.contains("Unmatched var in string translation: quiet."));
    cv_log_verbosity = 1;
    EXPECT_EQ(expand("$(a)$(nope)", vars.tree()).status, CV_E_FILE_NOT_FOUND);
    EXPECT_TRUE(log.contains("Unmatched var in string translation: nope."));
    EXPECT_EQ(expand("$(a)", nullptr).status, CV_E_FILE_NOT_FOUND);
    cv_log_verbosity = saved_verbosity;
    cv_log_debug_enabled = saved_debug;
}

TEST(ParseVariables, RefusesAResultThatDoesNotFit) {
    LogCapture log;
    Vars vars({{"long", "0123456789"}});
    EXPECT_EQ(expand("ab$(long)", vars.tree(), 13).status, CV_OK);  // 12 bytes and terminator
    EXPECT_EQ(expand("ab$(long)", vars.tree(), 12).status, CV_E_BUFFER_TOO_SMALL);
    EXPECT_TRUE(log.contains("Unable to parse variable string.  Dest too small."));
    EXPECT_EQ(expand("abcd", vars.tree(), 4).status, CV_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(expand("abc", vars.tree(), 4).status, CV_OK);
    EXPECT_EQ(expand("", vars.tree(), 1).status, CV_OK);
    std::size_t length = 0;
    EXPECT_EQ(cv_parse_variables_into_string("", nullptr, 0, nullptr, &length),
              CV_E_BUFFER_TOO_SMALL);
}

TEST(ParseVariables, GivesTheLengthWithoutADestination) {
    Vars vars({{"a", "123"}});
    std::size_t length = 0;
    EXPECT_EQ(cv_parse_variables_into_string("<$(a)>", nullptr, 64, vars.tree(), &length), CV_OK);
    EXPECT_EQ(length, 6u);
    EXPECT_EQ(cv_parse_variables_into_string("<$(a)>", nullptr, 64, vars.tree(), nullptr), CV_OK);
    EXPECT_EQ(cv_parse_variables_into_string(nullptr, nullptr, 64, vars.tree(), &length),
              CV_E_INVALID);
}

TEST(ParseVariables, ExpandsInPlace) {
    Vars vars({{"a", "a much longer value"}});
    char text[64] = "[$(a)]";
    EXPECT_EQ(cv_parse_variables_into_string(text, text, sizeof(text), vars.tree(), nullptr),
              CV_OK);
    EXPECT_STREQ(text, "[a much longer value]");
}

std::string canonical(const std::string &path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr ? resolved : path;
}

TEST(ParseVariables, HomeIsTheCurrentUsersProfileWithoutAUserEntry) {
    TempDir home;
    const char *saved = ::getenv("HOME");
    const std::string saved_home = saved != nullptr ? saved : "";
    ASSERT_EQ(::setenv("HOME", home.path().c_str(), 1), 0);
    Vars vars({{"a", "1"}});
    const std::string expected = canonical(home.path()) + "/x";
    EXPECT_EQ(expand("$(HOME)/x", nullptr).text, expected);
    EXPECT_EQ(expand("$(home)/x", vars.tree()).text, expected);
    EXPECT_EQ(expand("$(hOmE)/x", vars.tree()).text, expected);
    Vars own({{"home", "/from/table"}});
    EXPECT_EQ(expand("$(home)/x", own.tree()).text, "/from/table/x");
    if (saved != nullptr) ::setenv("HOME", saved_home.c_str(), 1);
}

TEST(ParseVariables, HomeIsTheNamedUsersProfileWithAUserEntry) {
    const passwd *me = ::getpwuid(::geteuid());
    ASSERT_NE(me, nullptr);
    const std::string name = me->pw_name;
    const std::string dir = me->pw_dir;
    Vars vars({{"user", name.c_str()}});
    const Result r = expand("$(home)", vars.tree());
    EXPECT_EQ(r.status, CV_OK);
    EXPECT_EQ(r.text, dir);

    Vars stranger({{"user", "cv-no-such-user-4711"}});
    EXPECT_EQ(expand("$(home)", stranger.tree()).status, CV_E_FILE_NOT_FOUND);
}

}  // namespace
