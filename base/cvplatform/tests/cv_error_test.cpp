// Tests of the status texts and the clock: the platform's table, system texts
// without line ends, too-small buffers, the current time and local time.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "../src/cv_error_internal.h"
#include "cvplatform/cv_error.h"

namespace {

std::string text_of(cv_status code) {
    char buf[1024];
    EXPECT_EQ(cv_error_to_string(code, buf, sizeof buf), 0u) << code;
    return buf;
}

/* Sets TZ for one test and puts the old value back. */
class time_zone {
public:
    explicit time_zone(const char *zone) {
        const char *old = std::getenv("TZ");
        had_ = old != nullptr;
        if (had_) old_ = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~time_zone() {
        if (had_)
            ::setenv("TZ", old_.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    bool had_ = false;
    std::string old_;
};

}  // namespace

TEST(ErrorText, PlatformCodes) {
    const struct {
        cv_status code;
        const char *text;
    } cases[] = {
        {28672, "Invalid doc root path"},
        {28673, "Invalid command or token separator mismatch"},
        {28677, "Insufficient buffer space"},
        {28678, "End or directory reached"},
        {28682, "Could not parse xml file for configs"},
        {28686, "Could not log message"},
        {28687, "Invalid user name"},
        {28688, "Parse error inside UAC"},
        {28691, "Internal error"},
        {28694, "Bad pathname"},
        {28697, "Connection insecure"},
        {28703, "Lock time skew detected"},
        {28707, "Illegal character(s) in path name"},
        {28711, "File upload already in progress"},
    };
    for (const auto &c : cases) EXPECT_EQ(text_of(c.code), c.text) << c.code;
}

TEST(ErrorText, GapsAndNeighboursOfTheTableAreSystemTexts) {
    for (const cv_status code : {28671u, 28695u, 28696u, 28712u})
        EXPECT_EQ(text_of(code), std::strerror(static_cast<int>(code))) << code;
}

TEST(ErrorText, SystemTextHasNoLineEnd) {
    const std::string text = text_of(2);
    EXPECT_EQ(text, std::strerror(2));
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
}

TEST(ErrorText, SystemWideStatusesKeepTheirMeaning) {
    // Out of memory is 8 throughout the system, though errno 8 means
    // something else on POSIX.
    EXPECT_EQ(text_of(8), "Not enough memory resources are available to process this command.");
    EXPECT_EQ(text_of(122), "The data area passed to a system call is too small.");
    EXPECT_EQ(text_of(206), "The filename or extension is too long.");
    EXPECT_EQ(text_of(22), std::strerror(22));
}

TEST(ErrorText, LineEndTrimming) {
    const struct {
        const char *in, *out;
    } cases[] = {
        {"Access is denied.\r\n", "Access is denied."},
        {"a\r\n", "a"},
        {"text\n", "text"},
        {"\r\n", "\r"},  // too short for the CR LF rule: only the LF goes
        {"\n", ""},
        {"x\n\n", "x\n"},
        {"no end", "no end"},
        {"", ""},
    };
    for (const auto &c : cases) {
        char buf[64];
        std::strcpy(buf, c.in);
        cv_error_trim_line_end(buf);
        EXPECT_STREQ(buf, c.out) << '"' << c.in << '"';
    }
}

TEST(ErrorText, TooSmallBufferReportsTheCut) {
    // A system text (glibc's "No such file or directory", 25 bytes) cut to
    // fit, reported as cut.
    const struct {
        std::size_t size;
        cv_status status;
        const char *text;
    } cases[] = {
        {5, CV_E_BUFFER_SPACE, "No s"},
        {25, CV_E_BUFFER_SPACE, "No such file or director"},
        {26, CV_OK, "No such file or directory"},
        {1, CV_E_BUFFER_SPACE, ""},
    };
    for (const auto &c : cases) {
        char buf[32];
        std::memset(buf, 'x', sizeof buf);
        EXPECT_EQ(cv_error_to_string(2, buf, c.size), c.status) << c.size;
        EXPECT_STREQ(buf, c.text) << c.size;
    }
    char buf[5];
    EXPECT_STREQ(cv_strerror(2, buf, sizeof buf), "Could not retrieve error message");
    // A table text is cut the same way.
    char small[10];
    EXPECT_EQ(cv_error_to_string(28677, small, sizeof small), 28677u);
    EXPECT_STREQ(small, "Insuffici");
    EXPECT_STREQ(cv_strerror(28677, small, sizeof small), "Could not retrieve error message");
}

TEST(ErrorText, NullOrEmptyBuffer) {
    char buf[8];
    EXPECT_EQ(cv_error_to_string(2, nullptr, 8), 22u);
    EXPECT_EQ(cv_error_to_string(2, buf, 0), 22u);
    EXPECT_STREQ(cv_strerror(2, nullptr, 0), "Could not retrieve error message");
}

TEST(ErrorText, StrerrorReturnsTheCallersBuffer) {
    char buf[64];
    EXPECT_EQ(cv_strerror(28677, buf, sizeof buf), buf);
    EXPECT_STREQ(buf, "Insufficient buffer space");
}

TEST(Time, NowIsTheWallClock) {
    const std::time_t before = std::time(nullptr);
    cv_time now{};
    ASSERT_EQ(cv_time_now(&now), 0u);
    const std::time_t after = std::time(nullptr);
    EXPECT_GE(now.seconds, static_cast<std::int64_t>(before));
    EXPECT_LE(now.seconds, static_cast<std::int64_t>(after));
    EXPECT_GE(now.microseconds, 0);
    EXPECT_LT(now.microseconds, 1000000);
    EXPECT_EQ(now.microseconds % 1000, 0);  // millisecond resolution
    EXPECT_EQ(cv_time_now(nullptr), 22u);
}

TEST(Time, Infinite) {
    EXPECT_TRUE(cv_time_is_infinite(&CV_TIME_INFINITE));
    const cv_time almost = {2147483647, 999998};
    const cv_time later = {2147483648, 999999};
    EXPECT_FALSE(cv_time_is_infinite(&almost));
    EXPECT_FALSE(cv_time_is_infinite(&later));
    EXPECT_FALSE(cv_time_is_infinite(nullptr));
}

TEST(Time, ToLocalCalendar) {
    time_zone utc("UTC0");
    const struct {
        std::int64_t seconds;
        int year, month, day, hour, minute, second;
    } cases[] = {
        {0, 1970, 1, 1, 0, 0, 0},
        {2147483647, 2038, 1, 19, 3, 14, 7},
        {2147483648, 2038, 1, 19, 3, 14, 8},  // past the end of 32-bit seconds
        {4102444800, 2100, 1, 1, 0, 0, 0},
        {-1, 1969, 12, 31, 23, 59, 59},
    };
    for (const auto &c : cases) {
        struct tm calendar {};
        ASSERT_EQ(cv_time_to_local(c.seconds, &calendar), 0u) << c.seconds;
        EXPECT_EQ(calendar.tm_year + 1900, c.year) << c.seconds;
        EXPECT_EQ(calendar.tm_mon + 1, c.month) << c.seconds;
        EXPECT_EQ(calendar.tm_mday, c.day) << c.seconds;
        EXPECT_EQ(calendar.tm_hour, c.hour) << c.seconds;
        EXPECT_EQ(calendar.tm_min, c.minute) << c.seconds;
        EXPECT_EQ(calendar.tm_sec, c.second) << c.seconds;
    }
    EXPECT_EQ(cv_time_to_local(0, nullptr), 22u);
}

TEST(Time, ToLocalAppliesTheTimeZone) {
    time_zone east("XYZ-2");  // two hours east of UTC
    struct tm calendar {};
    ASSERT_EQ(cv_time_to_local(0, &calendar), 0u);
    EXPECT_EQ(calendar.tm_hour, 2);
}

TEST(Time, FromFileTime) {
    const struct {
        std::uint64_t file_time;
        std::int64_t seconds;
    } cases[] = {
        {116444736000000000ULL, 0},
        {116444736000000000ULL + 10000000ULL, 1},
        {116444736000000000ULL + 9999999ULL, 0},
        {116444736000000000ULL + 21474836470000000ULL, 2147483647},
        {0, -11644473600},
    };
    for (const auto &c : cases) EXPECT_EQ(cv_time_from_file_time(c.file_time), c.seconds);
}
