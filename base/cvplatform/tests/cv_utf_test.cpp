// Tests of the strict UTF-8/UTF-16 conversions and of trimming a cut-off
// character: every legal boundary value converts both ways, every illegal
// class is refused with 22, and size queries report the size needed.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cvplatform/cv_str.h"

namespace {

struct LegalCase {
    const char *utf8;
    std::u16string utf16;
};

// Boundary values of every sequence length, and surrogate pairs.
const LegalCase kLegal[] = {
    {"", u""},
    {"A", u"A"},
    {"\x7F", u"\u007F"},
    {"\xC2\x80", u"\u0080"},
    {"\xDF\xBF", u"\u07FF"},
    {"\xE0\xA0\x80", u"\u0800"},
    {"\xED\x9F\xBF", u"\uD7FF"},
    {"\xEE\x80\x80", u"\uE000"},
    {"\xEF\xBF\xBF", u"\uFFFF"},
    {"\xF0\x90\x80\x80", u"\U00010000"},
    {"\xF0\x9F\x98\x80", u"\U0001F600"},
    {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
    {"a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z", u"a\u00E9\u20AC\U0001F600z"},
};

TEST(Utf8ToUtf16, ConvertsEveryLegalBoundaryValue) {
    for (const auto &c : kLegal) {
        char16_t dst[16];
        std::size_t capacity = sizeof(dst);
        ASSERT_EQ(cv_utf8_to_utf16(c.utf8, dst, &capacity), CV_OK) << c.utf8;
        EXPECT_EQ(std::u16string(dst), c.utf16) << c.utf8;
        EXPECT_EQ(capacity, c.utf16.size() * 2) << "written bytes without terminator";
    }
}

TEST(Utf16ToUtf8, ConvertsEveryLegalBoundaryValue) {
    for (const auto &c : kLegal) {
        char dst[32];
        std::size_t capacity = sizeof(dst);
        ASSERT_EQ(cv_utf16_to_utf8(c.utf16.c_str(), dst, &capacity), CV_OK) << c.utf8;
        EXPECT_STREQ(dst, c.utf8);
        EXPECT_EQ(capacity, sizeof(dst)) << "capacity left unchanged";
    }
}

struct IllegalUtf8 {
    const char *why;
    const char *text;
};

TEST(Utf8ToUtf16, RefusesEveryIllegalClass) {
    const IllegalUtf8 cases[] = {
        {"lone continuation byte", "a\x80z"},
        {"continuation byte BF first", "\xBF"},
        {"overlong two-byte C0", "\xC0\xAF"},
        {"overlong two-byte C1", "\xC1\xBF"},
        {"overlong three-byte", "\xE0\x80\xAF"},
        {"overlong three-byte top", "\xE0\x9F\xBF"},
        {"overlong four-byte", "\xF0\x80\x80\xAF"},
        {"overlong four-byte top", "\xF0\x8F\xBF\xBF"},
        {"encoded high surrogate", "\xED\xA0\x80"},
        {"encoded low surrogate", "\xED\xBF\xBF"},
        {"encoded surrogate pair", "\xED\xA0\xBD\xED\xB8\x80"},
        {"above U+10FFFF via F4", "\xF4\x90\x80\x80"},
        {"above U+10FFFF via F5", "\xF5\x80\x80\x80"},
        {"five-byte form", "\xF8\x88\x80\x80\x80"},
        {"six-byte form", "\xFC\x84\x80\x80\x80\x80"},
        {"byte FE", "\xFE"},
        {"byte FF", "\xFF"},
        {"lead without continuation", "\xC3z"},
        {"three-byte with ascii inside", "\xE2\x82z"},
        {"cut-off two-byte at end", "ab\xC3"},
        {"cut-off three-byte at end", "ab\xE2\x82"},
        {"cut-off four-byte at end", "ab\xF0\x9F\x98"},
    };
    for (const auto &c : cases) {
        char16_t dst[16] = {u'S', 0};
        std::size_t capacity = sizeof(dst);
        EXPECT_EQ(cv_utf8_to_utf16(c.text, dst, &capacity), CV_E_INVALID) << c.why;
        EXPECT_EQ(dst[0], u'S') << "destination untouched: " << c.why;
        std::size_t query = 0;
        EXPECT_EQ(cv_utf8_to_utf16(c.text, nullptr, &query), CV_E_INVALID) << c.why;
    }
}

TEST(Utf16ToUtf8, RefusesUnpairedSurrogates) {
    const std::u16string cases[] = {
        {u'a', char16_t(0xD800)},                                // high surrogate at the end
        {char16_t(0xD83D), u'x'},                                // high followed by a non-surrogate
        {char16_t(0xDC00), u'x'},                                // lone low surrogate
        {char16_t(0xD83D), char16_t(0xD83D), char16_t(0xDE00)},  // two highs
        {u'x', char16_t(0xDFFF)},                                // low at the end
    };
    for (const auto &c : cases) {
        char dst[16] = "S";
        std::size_t capacity = sizeof(dst);
        EXPECT_EQ(cv_utf16_to_utf8(c.c_str(), dst, &capacity), CV_E_INVALID);
        EXPECT_STREQ(dst, "S");
    }
}

TEST(Utf8ToUtf16, ReportsTheNeededSizeWhenTooSmall) {
    std::size_t capacity = 0;
    EXPECT_EQ(cv_utf8_to_utf16("a\xF0\x9F\x98\x80", nullptr, &capacity), CV_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(capacity, 8u);  // a, a surrogate pair, the terminator

    char16_t dst[4] = {u'S', 0, 0, 0};
    capacity = 6;
    EXPECT_EQ(cv_utf8_to_utf16("a\xF0\x9F\x98\x80", dst, &capacity), CV_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(capacity, 8u);
    EXPECT_EQ(dst[0], u'S');

    capacity = 7;  // an odd size still lacks room for the last unit
    EXPECT_EQ(cv_utf8_to_utf16("a\xF0\x9F\x98\x80", dst, &capacity), CV_E_BUFFER_TOO_SMALL);
    capacity = 8;
    EXPECT_EQ(cv_utf8_to_utf16("a\xF0\x9F\x98\x80", dst, &capacity), CV_OK);
    EXPECT_EQ(capacity, 6u);
}

TEST(Utf16ToUtf8, ReportsTheNeededSizeWhenTooSmall) {
    const std::u16string text = u"a\u00E9\u20AC\U0001F600";
    std::size_t capacity = 0;
    EXPECT_EQ(cv_utf16_to_utf8(text.c_str(), nullptr, &capacity), CV_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(capacity, 11u);  // 1 + 2 + 3 + 4 + terminator
    char dst[11] = "S";
    capacity = 10;
    EXPECT_EQ(cv_utf16_to_utf8(text.c_str(), dst, &capacity), CV_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(capacity, 11u);
    EXPECT_STREQ(dst, "S");
    capacity = 11;
    EXPECT_EQ(cv_utf16_to_utf8(text.c_str(), dst, &capacity), CV_OK);
}

TEST(UtfConversion, RefusesBadArguments) {
    char16_t wide[4];
    char narrow[4];
    std::size_t capacity = 8;
    EXPECT_EQ(cv_utf8_to_utf16(nullptr, wide, &capacity), CV_E_INVALID);
    EXPECT_EQ(cv_utf8_to_utf16("a", wide, nullptr), CV_E_INVALID);
    EXPECT_EQ(cv_utf8_to_utf16("a", nullptr, &capacity), CV_E_INVALID);
    capacity = 4;
    EXPECT_EQ(cv_utf16_to_utf8(nullptr, narrow, &capacity), CV_E_INVALID);
    EXPECT_EQ(cv_utf16_to_utf8(u"a", narrow, nullptr), CV_E_INVALID);
    EXPECT_EQ(cv_utf16_to_utf8(u"a", nullptr, &capacity), CV_E_INVALID);
}

struct TrimCase {
    const char *why;
    const char *text;
    const char *kept;
    cv_status status;
};

TEST(Utf8TrimPartial, CutsOnlyAnIncompleteLastCharacter) {
    const TrimCase cases[] = {
        {"empty", "", "", CV_OK},
        {"ascii end", "abc", "abc", CV_OK},
        {"complete two-byte", "a\xC3\xA9", "a\xC3\xA9", CV_OK},
        {"complete four-byte", "a\xF0\x9F\x98\x80", "a\xF0\x9F\x98\x80", CV_OK},
        {"lone lead byte", "ab\xC3", "ab", CV_OK},
        {"three-byte missing one", "ab\xE2\x82", "ab", CV_OK},
        {"four-byte missing one", "ab\xF0\x9F\x98", "ab", CV_OK},
        {"continuation after ascii", "ab\x80", "ab\x80", CV_E_INVALID},
        {"continuation at the start", "\x80\x80", "\x80\x80", CV_E_INVALID},
    };
    for (const auto &c : cases) {
        char text[16];
        ASSERT_LT(std::strlen(c.text), sizeof(text));
        std::memcpy(text, c.text, std::strlen(c.text) + 1);
        std::size_t length = std::strlen(text);
        EXPECT_EQ(cv_utf8_trim_partial(text, &length), c.status) << c.why;
        EXPECT_STREQ(text, c.kept) << c.why;
        EXPECT_EQ(length, std::strlen(c.kept)) << c.why;
    }
}

TEST(Utf8TrimPartial, UsesTheGivenLengthOrTheStringsOwn) {
    char text[] = "ab\xC3\xA9zz";
    std::size_t length = 3;  // only "ab" and a lead byte are considered
    EXPECT_EQ(cv_utf8_trim_partial(text, &length), CV_OK);
    EXPECT_EQ(length, 2u);
    EXPECT_STREQ(text, "ab");

    char own[] = "x\xE2\x82";
    EXPECT_EQ(cv_utf8_trim_partial(own, nullptr), CV_OK);
    EXPECT_STREQ(own, "x");
    EXPECT_EQ(cv_utf8_trim_partial(nullptr, nullptr), CV_E_INVALID);
}

}  // namespace
