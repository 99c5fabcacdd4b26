// Tests of integer reading: base prefixes, where reading stops, the limits
// of each width (read without signed overflow), and the plain wrappers.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "cvplatform/cv_str.h"

namespace {

struct I64Case {
    const char *text;
    cv_status status;
    std::int64_t value;  // when status is 0
    int end;             // offset of the first unread character
};

TEST(StrToI64, ReadsBasePrefixesAndStopsAtTheFirstNonDigit) {
    const I64Case cases[] = {
        {"0x1F", CV_OK, 31, 4},
        {"0X1f", CV_OK, 31, 4},
        {"017", CV_OK, 15, 3},
        {"%101", CV_OK, 5, 4},
        {"08", CV_E_INVALID, 0, 1},  // octal prefix, 8 is no octal digit
        {"12abc", CV_OK, 12, 2},
        {"abc", CV_E_INVALID, 0, 0},
        {"0", CV_OK, 0, 1},
        {"-0", CV_OK, 0, 2},
        {"  \t-42 rest", CV_OK, -42, 6},
        {"0x", CV_E_INVALID, 0, 2},
        {"0xg", CV_E_INVALID, 0, 2},
        {"%", CV_E_INVALID, 0, 1},
        {"%102", CV_OK, 2, 3},
        {"0778", CV_OK, 63, 3},
        {"-", CV_E_INVALID, 0, 1},
        {"", CV_E_INVALID, 0, 0},
        {"+5", CV_E_INVALID, 0, 0},
        {"- 5", CV_E_INVALID, 0, 1},
        {"9223372036854775807", CV_OK, std::numeric_limits<std::int64_t>::max(), 19},
        {"-9223372036854775808", CV_OK, std::numeric_limits<std::int64_t>::min(), 20},
        {"9223372036854775808", CV_E_BUFFER_TOO_SMALL, 0, 19},
        {"-9223372036854775809", CV_E_BUFFER_TOO_SMALL, 0, 20},
        {"99999999999999999999999x", CV_E_BUFFER_TOO_SMALL, 0, 23},
        {"0x7fffffffffffffff", CV_OK, std::numeric_limits<std::int64_t>::max(), 18},
        {"-0x8000000000000000", CV_OK, std::numeric_limits<std::int64_t>::min(), 19},
        {"0x8000000000000000", CV_E_BUFFER_TOO_SMALL, 0, 18},
        {"-01000000000000000000000", CV_OK, std::numeric_limits<std::int64_t>::min(), 24},
    };
    for (const auto &c : cases) {
        std::int64_t value = 777;
        const char *end = nullptr;
        EXPECT_EQ(cv_str_to_i64(c.text, &value, &end), c.status) << c.text;
        EXPECT_EQ(value, c.status == CV_OK ? c.value : 777) << c.text;
        EXPECT_EQ(end - c.text, c.end) << c.text;
    }
}

TEST(StrToI64, RefusesNullArguments) {
    std::int64_t value = 0;
    const char *end = "sentinel";
    EXPECT_EQ(cv_str_to_i64(nullptr, &value, &end), CV_E_INVALID);
    EXPECT_EQ(end, nullptr);
    EXPECT_EQ(cv_str_to_i64("1", nullptr, nullptr), CV_E_INVALID);
    EXPECT_EQ(cv_str_to_i64("12", &value, nullptr), CV_OK);
    EXPECT_EQ(value, 12);
}

TEST(StrToI32, RefusesValuesOutsideThirtyTwoBits) {
    std::int32_t value = 0;
    EXPECT_EQ(cv_str_to_i32("2147483647", &value, nullptr), CV_OK);
    EXPECT_EQ(value, 2147483647);
    EXPECT_EQ(cv_str_to_i32("-2147483648", &value, nullptr), CV_OK);
    EXPECT_EQ(value, std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(cv_str_to_i32("2147483648", &value, nullptr), CV_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(cv_str_to_i32("-2147483649", &value, nullptr), CV_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(cv_str_to_i32("x", &value, nullptr), CV_E_INVALID);
    EXPECT_EQ(value, std::numeric_limits<std::int32_t>::min()) << "kept on failure";
}

TEST(StrToU32, AcceptsOnlyTheUnsignedRange) {
    std::uint32_t value = 0;
    const char *end = nullptr;
    EXPECT_EQ(cv_str_to_u32("4294967295", &value, &end), CV_OK);
    EXPECT_EQ(value, 4294967295u);
    EXPECT_EQ(cv_str_to_u32("0xFFFFFFFF", &value, nullptr), CV_OK);
    EXPECT_EQ(cv_str_to_u32("4294967296", &value, nullptr), CV_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(cv_str_to_u32("-1", &value, &end), CV_E_BUFFER_TOO_SMALL);
    EXPECT_STREQ(end, "");
    EXPECT_EQ(cv_str_to_u32("-0", &value, nullptr), CV_OK);
    EXPECT_EQ(value, 0u);
}

TEST(Atoi, GivesZeroForWhatCannotBeRead) {
    EXPECT_EQ(cv_atoi("  0x10"), 16);
    EXPECT_EQ(cv_atoi("-7 days"), -7);
    EXPECT_EQ(cv_atoi("2147483648"), 0);
    EXPECT_EQ(cv_atoi("junk"), 0);
    EXPECT_EQ(cv_atoi(nullptr), 0);
    EXPECT_EQ(cv_atoll("2147483648"), 2147483648LL);
    EXPECT_EQ(cv_atoll("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(cv_atoll("9223372036854775808"), 0);
    EXPECT_EQ(cv_atoll(nullptr), 0);
}

}  // namespace
