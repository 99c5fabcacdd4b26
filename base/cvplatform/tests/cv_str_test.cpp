// Tests of the bounded copy, append and print primitives: what they keep,
// the statuses they give, that a cut never splits a UTF-8 character, that
// nothing is written past the capacity or read past a source's bound, and
// the warnings they log.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cvplatform/cv_log.h"
#include "cvplatform/cv_str.h"

namespace {

// Opens the process log in a private temporary directory and reads it back.
class LogCapture {
public:
    LogCapture() {
        char pattern[] = "/tmp/cv_str_test.XXXXXX";
        dir_ = ::mkdtemp(pattern);
        path_ = dir_ + "/str.log";
        cv_log_init(1, path_.c_str());
    }
    ~LogCapture() {
        cv_log_close();
        std::filesystem::remove_all(dir_);
    }
    std::string text() const {
        cv_log_flush();
        std::ifstream in(path_, std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }

private:
    std::string dir_;
    std::string path_;
};

std::string pointer_text(const void *p) {
    char text[64];
    std::snprintf(text, sizeof(text), "%p", p);
    return text;
}

// True when `prefix` ends where a character of `source` ends.
bool cut_on_boundary(const std::string &source, std::size_t length) {
    return length >= source.size() || (static_cast<unsigned char>(source[length]) & 0xC0) != 0x80;
}

struct CopyCase {
    const char *name;
    const char *src;
    std::size_t capacity;
    const char *expected;
    cv_status status;
};

TEST(StrCopy, KeepsWholeCharactersAndReportsTruncation) {
    const CopyCase cases[] = {
        {"fits", "abc", 4, "abc", CV_OK},
        {"one short", "abc", 3, "ab", CV_E_BUFFER_SPACE},
        {"two-byte char into two bytes", "\xC3\xA9", 2, "", CV_E_BUFFER_SPACE},
        {"two-byte char after ascii", "a\xC3\xA9", 3, "a", CV_E_BUFFER_SPACE},
        {"three-byte char cut after two", "a\xE2\x82\xAC", 4, "a", CV_E_BUFFER_SPACE},
        {"three-byte char fits", "a\xE2\x82\xAC", 5, "a\xE2\x82\xAC", CV_OK},
        {"four-byte char cut", "\xF0\x9F\x98\x80", 4, "", CV_E_BUFFER_SPACE},
        {"empty source", "", 1, "", CV_OK},
        {"room for the terminator only", "abc", 1, "", CV_E_BUFFER_SPACE},
    };
    for (const auto &c : cases) {
        char dst[16];
        std::memset(dst, 'X', sizeof(dst));
        EXPECT_EQ(cv_str_copy(dst, c.src, c.capacity), c.status) << c.name;
        EXPECT_STREQ(dst, c.expected) << c.name;
    }
}

TEST(StrTo, ReadsAnUnterminatedSourceOnlyUpToItsBound) {
    const char raw[3] = {'a', 'b', 'c'};  // no terminator
    char dst[8];
    EXPECT_EQ(cv_str_to(dst, raw, 3, sizeof(dst), nullptr), CV_OK);
    EXPECT_STREQ(dst, "abc");
    EXPECT_EQ(cv_str_to(dst, raw, 2, sizeof(dst), nullptr), CV_OK);
    EXPECT_STREQ(dst, "ab");
    EXPECT_EQ(cv_str_to(dst, raw, 3, 3, nullptr), CV_E_BUFFER_SPACE);
    EXPECT_STREQ(dst, "ab");
}

TEST(StrAppend, AdvancesTheCursorOverWhatWasKept) {
    char dst[6];
    std::size_t cursor = 0;
    EXPECT_EQ(cv_str_append(dst, "abc", sizeof(dst), &cursor), CV_OK);
    EXPECT_EQ(cursor, 3u);
    EXPECT_EQ(cv_str_append(dst, "d\xC3\xA9", sizeof(dst), &cursor), CV_E_BUFFER_SPACE);
    EXPECT_STREQ(dst, "abcd");
    EXPECT_EQ(cursor, 4u);
}

TEST(StrTo, RefusesACursorAtTheCapacityWithTheWarning) {
    LogCapture log;
    char dst[6] = "hello";
    const char *src = "xyz";
    std::size_t cursor = sizeof(dst);
    EXPECT_EQ(cv_str_append(dst, src, sizeof(dst), &cursor), CV_E_INVALID);
    EXPECT_STREQ(dst, "");
    EXPECT_EQ(cursor, sizeof(dst));
    const std::string expected = "Warning: cv_str_to failure, args " + pointer_text(dst) + " " +
                                 pointer_text(src) + " 6 6 'xyz'";
    EXPECT_NE(log.text().find(expected), std::string::npos) << log.text();
}

TEST(StrTo, RefusesNullArgumentsWithoutWritingOutOfBounds) {
    LogCapture log;
    char dst[4] = "abc";
    EXPECT_EQ(cv_str_copy(dst, nullptr, sizeof(dst)), CV_E_INVALID);
    EXPECT_STREQ(dst, "");
    EXPECT_NE(log.text().find("Warning: cv_str_to failure, args " + pointer_text(dst) +
                              " (nil) 4 0 '(nil)'"),
              std::string::npos)
        << log.text();
    EXPECT_EQ(cv_str_copy(nullptr, "abc", 4), CV_E_INVALID);

    char untouched[2] = {'Q', 'Q'};
    EXPECT_EQ(cv_str_copy(untouched, "abc", 0), CV_E_INVALID);
    EXPECT_EQ(untouched[0], 'Q');
}

TEST(StrCat, AppendsAtTheEndOfTheDestination) {
    char dst[8] = "ab";
    EXPECT_EQ(cv_str_cat(dst, "cd", sizeof(dst)), CV_OK);
    EXPECT_STREQ(dst, "abcd");
    EXPECT_EQ(cv_str_cat(dst, "", sizeof(dst)), CV_OK);
    EXPECT_EQ(cv_str_cat(dst, "efghij", sizeof(dst)), CV_E_BUFFER_SPACE);
    EXPECT_STREQ(dst, "abcdefg");
    EXPECT_EQ(cv_str_cat(dst, "x", sizeof(dst)), CV_E_BUFFER_SPACE);
    EXPECT_STREQ(dst, "abcdefg");
    EXPECT_EQ(cv_str_cat(nullptr, "x", 8), CV_E_INVALID);
    EXPECT_EQ(cv_str_cat(dst, nullptr, 8), CV_E_INVALID);

    char unterminated[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(cv_str_cat(unterminated, "x", sizeof(unterminated)), CV_E_BUFFER_SPACE);
    EXPECT_EQ(std::memcmp(unterminated, "abcd", 4), 0);
}

TEST(StrAppendMany, AppendsInOrderAndStopsAtTheFirstFailure) {
    char dst[8];
    std::size_t cursor = 0;
    EXPECT_EQ(cv_str_append_many(dst, sizeof(dst), &cursor, "ab", "cd", "ef", nullptr), CV_OK);
    EXPECT_STREQ(dst, "abcdef");
    EXPECT_EQ(cursor, 6u);
    EXPECT_EQ(cv_str_append_many(dst, sizeof(dst), &cursor, "gh", "ij", nullptr),
              CV_E_BUFFER_SPACE);
    EXPECT_STREQ(dst, "abcdefg");

    cursor = 0;
    EXPECT_EQ(cv_str_append_many(dst, sizeof(dst), &cursor, static_cast<const char *>(nullptr)),
              CV_OK);
    EXPECT_EQ(cursor, 0u);
}

TEST(StrAppendMany, WithoutACursorAppendsAfterTheCurrentText) {
    const struct {
        const char *name;
        const char *before;
        std::size_t capacity;
        const char *after;
        cv_status status;
    } cases[] = {
        {"fits", "ab", 16, "abcdef", CV_OK},
        {"empty destination", "", 16, "cdef", CV_OK},
        {"cut", "ab", 6, "abcde", CV_E_BUFFER_SPACE},
        {"already full", "abcde", 6, "abcde", CV_E_BUFFER_SPACE},
    };
    for (const auto &c : cases) {
        char dst[16];
        std::strcpy(dst, c.before);
        EXPECT_EQ(cv_str_append_many(dst, c.capacity, nullptr, "cd", "ef", nullptr), c.status)
            << c.name;
        EXPECT_STREQ(dst, c.after) << c.name;
    }
    // No terminator within the capacity: nothing is written.
    char full[4] = {'w', 'x', 'y', 'z'};
    EXPECT_EQ(cv_str_append_many(full, sizeof full, nullptr, "a", nullptr), CV_E_BUFFER_SPACE);
    EXPECT_EQ(std::memcmp(full, "wxyz", 4), 0);
}

TEST(StrAppendMany, TakesNineStringsAndRefusesATenth) {
    char dst[32];
    std::size_t cursor = 0;
    EXPECT_EQ(cv_str_append_many(dst, sizeof(dst), &cursor, "1", "2", "3", "4", "5", "6", "7", "8",
                                 "9", nullptr),
              CV_OK);
    EXPECT_STREQ(dst, "123456789");
    cursor = 0;
    EXPECT_EQ(cv_str_append_many(dst, sizeof(dst), &cursor, "1", "2", "3", "4", "5", "6", "7", "8",
                                 "9", "10", nullptr),
              CV_E_INVALID);
    EXPECT_STREQ(dst, "");
    EXPECT_EQ(cursor, 0u);
}

TEST(TrimmedStrTo, LeavesOutSurroundingWhiteSpace) {
    const CopyCase cases[] = {
        {"both sides", " \t abc d \r\n", 16, "abc d", CV_OK},
        {"only white space", " \t\n ", 16, "", CV_OK},
        {"fits once trimmed", "abc        ", 4, "abc", CV_OK},
        {"too long", "  abcdef  ", 4, "abc", CV_E_BUFFER_SPACE},
        {"cut inside a character", "  a\xC3\xA9  ", 3, "a", CV_E_BUFFER_SPACE},
        {"nothing to trim", "abc", 4, "abc", CV_OK},
    };
    for (const auto &c : cases) {
        char dst[16];
        std::memset(dst, 'X', sizeof(dst));
        EXPECT_EQ(cv_trimmed_str_to(dst, c.src, c.capacity, nullptr), c.status) << c.name;
        EXPECT_STREQ(dst, c.expected) << c.name;
    }
}

TEST(TrimmedStrTo, AppendsAtTheCursorAndLogsRefusals) {
    LogCapture log;
    char dst[8] = "";
    std::size_t cursor = 0;
    EXPECT_EQ(cv_trimmed_str_to(dst, " ab ", sizeof(dst), &cursor), CV_OK);
    EXPECT_EQ(cv_trimmed_str_to(dst, " cd ", sizeof(dst), &cursor), CV_OK);
    EXPECT_STREQ(dst, "abcd");
    EXPECT_EQ(cursor, 4u);

    cursor = 8;
    EXPECT_EQ(cv_trimmed_str_to(dst, "x", sizeof(dst), &cursor), CV_E_INVALID);
    EXPECT_STREQ(dst, "");
    const std::string expected = "cv_trimmed_str_to failure, args " + pointer_text(dst) + " ";
    EXPECT_NE(log.text().find(expected), std::string::npos) << log.text();
    EXPECT_NE(log.text().find(" 8 8 " + pointer_text(&cursor)), std::string::npos) << log.text();
}

TEST(Snprintf, ReturnsTheLengthOrCapacityMinusOne) {
    char dst[8];
    EXPECT_EQ(cv_snprintf(dst, sizeof(dst), "%d-%s", 42, "ab"), 5);
    EXPECT_STREQ(dst, "42-ab");
    EXPECT_EQ(cv_snprintf(dst, sizeof(dst), "%s", "abcdefghij"), 7);
    EXPECT_STREQ(dst, "abcdefg");
    EXPECT_EQ(cv_snprintf(nullptr, 0, "%s", "abcdefghij"), 10);
    EXPECT_EQ(cv_snprintf(dst, 3, "%s", "a\xC3\xA9"), 2);
    EXPECT_STREQ(dst, "a");
    EXPECT_EQ(cv_snprintf(nullptr, 4, "x"), -1);
}

TEST(Snprintf, LogsTruncationOnlyAtVerbosityTwo) {
    LogCapture log;
    const int saved_verbosity = cv_log_verbosity;
    const int saved_debug = cv_log_debug_enabled;
    cv_log_debug_enabled = 1;
    char dst[4];
    cv_log_verbosity = 1;
    EXPECT_EQ(cv_snprintf(dst, sizeof(dst), "%s", "abcdef"), 3);
    EXPECT_EQ(log.text().find("Call to snprintf() lead to a truncation"), std::string::npos);
    cv_log_verbosity = 2;
    EXPECT_EQ(cv_snprintf(dst, sizeof(dst), "%s", "abcdef"), 3);
    EXPECT_NE(log.text().find("Call to snprintf() lead to a truncation"), std::string::npos);
    cv_log_verbosity = saved_verbosity;
    cv_log_debug_enabled = saved_debug;
}

int vprint(char *dst, std::size_t capacity, const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    const int printed = cv_vsnprintf(dst, capacity, fmt, args);
    va_end(args);
    return printed;
}

TEST(Vsnprintf, ReturnsTheCapacityWhenTruncated) {
    char dst[4];
    EXPECT_EQ(vprint(dst, sizeof(dst), "%s", "ab"), 2);
    EXPECT_EQ(vprint(dst, sizeof(dst), "%s", "abcdef"), 4);
    EXPECT_STREQ(dst, "abc");
    EXPECT_EQ(vprint(nullptr, 0, "%s", "abcdef"), 6);
}

TEST(StrAppendPrintf, AppendsFormattedTextAtTheCursor) {
    char dst[8];
    std::size_t cursor = 0;
    EXPECT_EQ(cv_str_append_printf(dst, sizeof(dst), &cursor, "%d", 12), CV_OK);
    EXPECT_EQ(cv_str_append_printf(dst, sizeof(dst), &cursor, "%s", "abcde"), CV_OK);
    EXPECT_STREQ(dst, "12abcde");
    EXPECT_EQ(cursor, 7u);
    EXPECT_EQ(cv_str_append_printf(dst, sizeof(dst), &cursor, "%s", "x"), CV_E_BUFFER_SPACE);
    EXPECT_STREQ(dst, "12abcde");
    EXPECT_EQ(cursor, 7u);
    cursor = sizeof(dst);
    EXPECT_EQ(cv_str_append_printf(dst, sizeof(dst), &cursor, "%s", "x"), CV_E_INVALID);
    EXPECT_STREQ(dst, "");

    cursor = 3;
    std::memcpy(dst, "abc", 4);
    EXPECT_EQ(cv_str_append_printf(dst, 6, &cursor, "%s", "d\xE2\x82\xAC"), CV_E_BUFFER_SPACE);
    EXPECT_STREQ(dst, "abcd");
    EXPECT_EQ(cursor, 4u);
}

TEST(StrAppendPrintf, RefusesNullArguments) {
    char dst[4] = "abc";
    std::size_t cursor = 0;
    EXPECT_EQ(cv_str_append_printf(nullptr, 4, &cursor, "x"), CV_E_INVALID);
    EXPECT_EQ(cv_str_append_printf(dst, sizeof(dst), &cursor, nullptr), CV_E_INVALID);
    EXPECT_STREQ(dst, "");
}

TEST(StrLength, StopsAtTheBound) {
    const char raw[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(cv_str_length(raw, 4), 4u);
    EXPECT_EQ(cv_str_length(raw, 2), 2u);
    EXPECT_EQ(cv_str_length("ab", 10), 2u);
    EXPECT_EQ(cv_str_length(nullptr, 10), 0u);
}

// Hostile sources through every copy and print, at every small capacity:
// nothing is written past the capacity, the result is terminated, it is a
// prefix of what was asked for, and a cut of valid UTF-8 falls on a
// character boundary.
TEST(BoundedWrites, HostileSourcesNeverOverrunAndCutOnBoundaries) {
    const std::vector<std::string> sources = {
        std::string(300, 'a'),
        "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9",
        "a\xE2\x82\xAC\xF0\x9F\x98\x80z",
        "\x80\x80\x80\x80",          // continuation bytes only
        "ab\xC3",                    // cut-off last character
        "\xF8\x88\x80\x80\x80",      // five-byte form
        "  \t padded \xC3\xA9 \n ",  // white space around
    };
    constexpr std::size_t kGuard = 16;
    for (const auto &source : sources) {
        const bool valid_utf8 =
            source != "\x80\x80\x80\x80" && source != "ab\xC3" && source != "\xF8\x88\x80\x80\x80";
        for (std::size_t capacity = 1; capacity < 24; ++capacity) {
            for (int op = 0; op < 4; ++op) {
                std::vector<char> buffer(capacity + kGuard, 'G');
                char *dst = buffer.data();
                std::size_t cursor = 0;
                switch (op) {
                    case 0:
                        (void)cv_str_copy(dst, source.c_str(), capacity);
                        break;
                    case 1:
                        (void)cv_trimmed_str_to(dst, source.c_str(), capacity, &cursor);
                        break;
                    case 2:
                        (void)cv_snprintf(dst, capacity, "%s", source.c_str());
                        break;
                    case 3:
                        (void)cv_str_append_printf(dst, capacity, &cursor, "%s", source.c_str());
                        break;
                }
                for (std::size_t i = capacity; i < buffer.size(); ++i)
                    ASSERT_EQ(buffer[i], 'G') << "op " << op << " capacity " << capacity;
                const std::size_t length = cv_str_length(dst, capacity);
                ASSERT_LT(length, capacity) << "unterminated, op " << op;
                const std::string result(dst, length);
                if (op == 1) {
                    ASSERT_NE(source.find(result), std::string::npos) << op;
                    continue;
                }
                ASSERT_EQ(source.compare(0, length, result), 0) << "op " << op;
                if (valid_utf8) {
                    EXPECT_TRUE(cut_on_boundary(source, length))
                        << "op " << op << " capacity " << capacity;
                }
            }
        }
    }
}

}  // namespace
