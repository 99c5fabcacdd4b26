// Tests of wildcard matching: the shell's forced-command pattern, escapes,
// the rules at the end of the text, agreement with the plain recursive
// statement of the rule on many generated inputs, and pathological patterns.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "cvplatform/cv_str.h"

namespace {

struct WildcardCase {
    const char *pattern;
    const char *text;
    int expected;  // 0 match, 1 no match
};

TEST(WildcardMatch, MatchesTheForcedCommandPattern) {
    const WildcardCase cases[] = {
        {"*cvshell -t", "/opt/x/cvshell -t", 0},
        {"*cvshell -t", "cvshell -t -x", 1},
        {"*cvshell -t", "/opt/x/cvshell -T", 1},
        {"*cvshell -t", "/opt/x/cvshell -t ", 1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(cv_wildcard_match(c.pattern, c.text), c.expected) << c.pattern << " / " << c.text;
}

TEST(WildcardMatch, FollowsTheRulesOfEachPatternCharacter) {
    const WildcardCase cases[] = {
        {"*", "", 0},  // a lone asterisk matches the empty text
        {"*", "anything", 0},
        {"", "", 0},
        {"", "a", 1},
        {"a", "", 1},
        {"a?c", "abc", 0},
        {"a?c", "ac", 1},
        {"a\\*c", "a*c", 0},  // the backslash makes the asterisk literal
        {"a\\*c", "abc", 1},
        {"a\\?c", "abc", 1},
        {"a\\\\b", "a\\b", 0},  // a doubled backslash is one literal backslash
        {"*\\\\alice", "DOMAIN\\alice", 0},
        {"*\\\\alice", "alice", 1},
        {"abc\\", "abc", 1},  // a dangling backslash matches nothing
        {"ABC", "abc", 1},    // case-sensitive
        {"a*", "a", 0},       // a final star also matches the empty rest
        {"a*b*c", "aXbYc", 0},
        {"a*b*c", "aXbY", 1},
        {"*b*", "ab", 0},
        {"a**b", "ab", 0},
        {"a**", "a", 1},  // the text is used up and the rest is not exactly "*"
        {"a*?", "a", 1},
        {"*?", "x", 0},
        {"\xC3\xA9*", "\xC3\xA9t\xC3\xA9", 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(cv_wildcard_match(c.pattern, c.text), c.expected) << c.pattern << " / " << c.text;
}

TEST(WildcardMatch, NullArgumentsDoNotMatch) {
    EXPECT_EQ(cv_wildcard_match(nullptr, "a"), 1);
    EXPECT_EQ(cv_wildcard_match("a", nullptr), 1);
}

// The rule as first stated, recursively, for comparison.
int reference_match(const char *p, const char *t) {
    while (*p != '\0' && *t != '\0') {
        if (*p == '*') {
            if (p[1] == '\0') return 0;
            for (const char *s = t; *s != '\0'; ++s)
                if (reference_match(p + 1, s) == 0) return 0;
            return 1;
        }
        if (*p == '?') {
            ++p;
            ++t;
            continue;
        }
        if (*p == '\\') ++p;
        if (*p != *t) return 1;
        ++p;
        ++t;
    }
    if (*p == '\0' && *t == '\0') return 0;
    return std::string(p) == "*" ? 0 : 1;
}

TEST(WildcardMatch, AgreesWithTheRecursiveRuleOnGeneratedInputs) {
    std::mt19937 random(12345);
    const std::string pattern_chars = "ab*?\\";
    const std::string text_chars = "ab*?\\";
    for (int round = 0; round < 20000; ++round) {
        std::string pattern, text;
        for (int i = random() % 7; i > 0; --i)
            pattern += pattern_chars[random() % pattern_chars.size()];
        for (int i = random() % 7; i > 0; --i) text += text_chars[random() % text_chars.size()];
        ASSERT_EQ(cv_wildcard_match(pattern.c_str(), text.c_str()),
                  reference_match(pattern.c_str(), text.c_str()))
            << "pattern '" << pattern << "' text '" << text << "'";
    }
}

TEST(WildcardMatch, ManyStarsAgainstALongTextStillAnswer) {
    const std::string pattern = "*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b";
    const std::string text(4000, 'a');
    EXPECT_EQ(cv_wildcard_match(pattern.c_str(), text.c_str()), 1);
    EXPECT_EQ(cv_wildcard_match(pattern.c_str(), (text + "b").c_str()), 0);
}

}  // namespace
