// Tests of the escaping of untrusted text for the log: every byte that could
// end a line, drive a terminal or break UTF-8 is escaped, everything else is
// kept, and a cut is marked and never splits a character or an escape.
#include <gtest/gtest.h>

#include <string>

#include "cvplatform/cv_log.h"
#include "cvplatform/cv_status.h"

namespace {

std::string escape(const std::string &text, std::size_t capacity = 256, cv_status *status = nullptr) {
    std::string out(capacity, '#');
    const cv_status got = cv_log_escape(text.data(), text.size(), out.data(), capacity);
    if (status) *status = got;
    return std::string(out.c_str());
}

struct EscapeCase {
    const char *name;
    std::string text;
    const char *expected;
};

TEST(LogEscape, EscapesWhatCouldShapeALine) {
    const EscapeCase cases[] = {
        {"plain", "cvcp -S. -V1", "cvcp -S. -V1"},
        {"line feed", "a\nb", "a\\x0Ab"},
        {"carriage return line feed", "a\r\nIllegal", "a\\x0D\\x0AIllegal"},
        {"escape sequence", "\x1b[2J\x1b]0;x\x07", "\\x1B[2J\\x1B]0;x\\x07"},
        {"tab", "a\tb", "a\\x09b"},
        {"delete", "a\x7f", "a\\x7F"},
        {"nul byte", std::string("a\0b", 3), "a\\x00b"},
        {"backslash", "CORP\\alice", "CORP\\\\alice"},
        {"literal escape text", "\\x0A", "\\\\x0A"},
        {"C1 control (NEL)", "a\xc2\x85z", "a\\u0085z"},
        {"C1 control (CSI)", "\xc2\x9b", "\\u009B"},
        {"first non-control above C1", "\xc2\xa0", "\xc2\xa0"},
        {"two-byte letter", "caf\xc3\xa9", "caf\xc3\xa9"},
        {"three-byte character", "\xe2\x82\xac", "\xe2\x82\xac"},
        {"four-byte character", "\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},
        {"lone continuation byte", "a\x80z", "a\\x80z"},
        {"overlong slash", "\xc0\xaf", "\\xC0\\xAF"},
        {"encoded surrogate", "\xed\xa0\x80", "\\xED\\xA0\\x80"},
        {"above U+10FFFF", "\xf4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},
        {"truncated sequence at the end", "ab\xe2\x82", "ab\\xE2\\x82"},
        {"lead byte followed by ASCII", "\xc3z", "\\xC3z"},
        {"empty", "", ""},
    };
    for (const auto &c : cases) {
        cv_status status = 1;
        EXPECT_EQ(escape(c.text, 256, &status), c.expected) << c.name;
        EXPECT_EQ(status, CV_OK) << c.name;
    }
}

TEST(LogEscape, FitsExactlyWithoutAMark) {
    cv_status status = 1;
    EXPECT_EQ(escape("abcd", 5, &status), "abcd");
    EXPECT_EQ(status, CV_OK);
}

TEST(LogEscape, CutsBetweenPiecesAndMarksTheCut) {
    struct CutCase {
        const char *name;
        std::string text;
        std::size_t capacity;
        const char *expected;
    } cases[] = {
        // Room for 9 bytes: "abcd" and the mark.
        {"plain text", "abcdefghij", 10, "abcd[...]"},
        // The escape of the line feed would straddle the cut: left out whole.
        {"escape at the cut", "abc\ndefghij", 10, "abc[...]"},
        // A three-byte character that would straddle the cut is left out whole.
        {"character at the cut", "abc\xe2\x82\xac" "defgh", 10, "abc[...]"},
        {"room for the mark alone", "abcdefg", 6, "[...]"},
    };
    for (const auto &c : cases) {
        cv_status status = 0;
        EXPECT_EQ(escape(c.text, c.capacity, &status), c.expected) << c.name;
        EXPECT_EQ(status, CV_E_BUFFER_SPACE) << c.name;
    }
}

TEST(LogEscape, RefusesWhatItCannotWrite) {
    char out[8] = "x";
    EXPECT_EQ(cv_log_escape("abcdefgh", 8, out, 4), CV_E_BUFFER_SPACE);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(cv_log_escape("a", 1, nullptr, 8), CV_E_INVALID);
    EXPECT_EQ(cv_log_escape("a", 1, out, 0), CV_E_INVALID);
    EXPECT_EQ(cv_log_escape(nullptr, 1, out, sizeof out), CV_E_INVALID);
    EXPECT_EQ(cv_log_escape(nullptr, 0, out, sizeof out), CV_OK);
    EXPECT_STREQ(out, "");
}

}  // namespace
