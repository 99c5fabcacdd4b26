// Tests of the value types: each type's text read (as an override is) and
// written back, its warnings, its override checker and override-to-XML
// converter, the lookup-list rules (scale, names, power2), strings and the
// null marker, string lists with rules, and the typed readers.
#include "uac/cv_uac_types.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "cv_test_log_capture.h"
#include "cv_uac_test_variables.h"
#include "parse_xml_test_support.h"
#include "uac/cv_uac_fitness.h"

CV_TEST_LOG_CAPTURE();
PARSE_XML_TEST_LAYER();

namespace {

constexpr std::int32_t E = PARSE_XML_END;

union any_value {
    std::int32_t i32;
    std::uint32_t u32;
    std::int64_t i64;
    std::uint64_t u64;
    double real;
    cv_uac_time time;
    cv_uac_range range;
    char *text;
    cv_uac_cron *cron;
};

/* A value of one type that releases what it owns. */
struct typed_value {
    std::int32_t code;
    any_value value{};
    cv_uac_warning *warnings = nullptr;

    explicit typed_value(std::int32_t type) : code(type) { std::memset(&value, 0, sizeof value); }
    ~typed_value() {
        (void)cv_uac_type_free(code, &value, nullptr);
        cv_uac_free_warnings(&warnings);
    }
    cv_status parse(const char *text, const char *lookup) {
        return cv_uac_type_parse_text(code, text, lookup, &value, &warnings);
    }
    std::string written(const char *lookup) const {
        char output[CV_UAC_VALUE_TEXT_SIZE];
        if (cv_uac_type_write(code, &value, output, sizeof output, lookup) != 0) return "<fail>";
        return output;
    }
    std::string warning() const { return warnings ? warnings->text : ""; }
};

struct read_case {
    std::int32_t code;
    const char *lookup;
    const char *text;
    const char *written;  // after reading from a zeroed value
    const char *warning;  // the newest warning, "" for none
};

void expect_reads(const read_case &c) {
    typed_value v(c.code);
    const cv_status status = v.parse(c.text, c.lookup);
    const std::string where = cv_uac_type_descriptor_of(c.code)->name + std::string(" \"") +
                              c.text + "\" with " + (c.lookup ? c.lookup : "no list");
    EXPECT_EQ(v.warning(), c.warning) << where;
    EXPECT_EQ(status, c.warning[0] ? CV_E_UAC_PARSE : 0u) << where;
    EXPECT_EQ(v.written(c.lookup), c.written) << where;
}

constexpr const char *kUnlimited32 = "1;Unlimited:0xFFFFFFFF";
constexpr const char *kUnlimited64 = "1000;Unlimited:0xFFFFFFFFFFFFF";
constexpr const char *kPriority = "any:0;high:3;fair:4";
constexpr const char *kUndefinedOctal = "1;Undefined:37777777777";
constexpr const char *kCipher = "1;any:-1;none:0;aes-128:1;aes-192:2";

TEST(Types, IntegersTranslateScaleAndWriteBackAsNames) {
    const read_case cases[] = {
        {CV_UAC_TYPE_INT32, kUnlimited32, "unlimited", "0",
         "Invalid value passed to CONF: \"unlimited\" (Malformed numeric.  Out of range).  Using "
         "default of 0 instead"},
        {CV_UAC_TYPE_UINT32, kUnlimited32, "unlimited", "Unlimited", ""},
        {CV_UAC_TYPE_UINT32, kUnlimited32, "4294967295", "Unlimited", ""},
        {CV_UAC_TYPE_UINT32, nullptr, "-1", "0",
         "Invalid value passed to CONF: \"-1\" (Malformed numeric.  Out of range).  Using default "
         "of 0 instead"},
        {CV_UAC_TYPE_INT64, kUnlimited64, "5", "5", ""},
        {CV_UAC_TYPE_INT64, kUnlimited64, "Unlimited", "Unlimited", ""},
        {CV_UAC_TYPE_INT64, kUnlimited64, "0x7FFFFFFFFFFFFFFF", "0",
         "Invalid value passed to CONF: \"0x7FFFFFFFFFFFFFFF\" (Malformed numeric.  Out of "
         "range).  Using default of 0 instead"},
        {CV_UAC_TYPE_UINT64, kUnlimited64, "UNLIMITED", "Unlimited", ""},
        {CV_UAC_TYPE_INT64, "0", "-42", "-42", ""},
        {CV_UAC_TYPE_INT32, nullptr, " 12; ", "12", ""},
        {CV_UAC_TYPE_INT32, nullptr, "%101", "5", ""},
        {CV_UAC_TYPE_INT32, nullptr, "12x", "0",
         "Invalid value passed to CONF: \"12x\" (Malformed numeric.  Invalid characters after the "
         "number).  Using default of 0 instead"},
        {CV_UAC_TYPE_INT32, nullptr, "", "0",
         "Invalid value passed to CONF: \"\" (Malformed numeric.  1234, 0x12FF (hex), 0X12FF "
         "(hex), 0777 (octal) or %101010 (binary) are OK).  Using default of 0 instead"},
        {CV_UAC_TYPE_INT32, nullptr, "CV_NULL", "0", ""},
        {CV_UAC_TYPE_LOOKUP, kPriority, "High", "high", ""},
        {CV_UAC_TYPE_LOOKUP, kPriority, "7", "7", ""},
        {CV_UAC_TYPE_LOOKUP, kPriority, "0xFFFFFFFF", "-1", ""},
        {CV_UAC_TYPE_LOOKUP, kPriority, "fast", "any",
         "Invalid value passed to CONF: \"fast\" (Malformed numeric.  1234, 0x12FF (hex), 0X12FF "
         "(hex), 0777 (octal) or %101010 (binary) are OK).  Using default of 0 instead"},
        {CV_UAC_TYPE_LOOKUP, "\"server only:-1;no:0;yes:1\"", "server only", "server only", ""},
        {CV_UAC_TYPE_OCTAL32, nullptr, "755", "755", ""},
        {CV_UAC_TYPE_OCTAL32, nullptr, "7", "007", ""},
        {CV_UAC_TYPE_OCTAL32, kUndefinedOctal, "Undefined", "Undefined", ""},
        {CV_UAC_TYPE_OCTAL32, nullptr, "8", "000",
         "Invalid value passed to CONF: \"8\" (Malformed numeric.  1234, 0x12FF (hex), 0X12FF "
         "(hex), 0777 (octal) or %101010 (binary) are OK).  Using default of 0 instead"},
        {CV_UAC_TYPE_DOUBLE, nullptr, "1.5", "1.5", ""},
        {CV_UAC_TYPE_DOUBLE, nullptr, "abc", "0",
         "Invalid value passed to CONF: \"abc\" (Invalid char).  Using default of 0 instead"},
        {CV_UAC_TYPE_DOUBLE, nullptr, "-2.5e-3", "-0.0025", ""},
        {CV_UAC_TYPE_DOUBLE, nullptr, "0.1234567891", "0.1234567891", ""},
        {CV_UAC_TYPE_DOUBLE, "10", "2.5", "2.5", ""},
        {CV_UAC_TYPE_RANGE, nullptr, "5", "5", ""},
        {CV_UAC_TYPE_RANGE, nullptr, "1:9", "1:9", ""},
        {CV_UAC_TYPE_RANGE, nullptr, "3:", "3:", ""},
        {CV_UAC_TYPE_RANGE, nullptr, ":7", ":7", ""},
        {CV_UAC_TYPE_RANGE, kCipher, "any:aes-192", "any:aes-192", ""},
        {CV_UAC_TYPE_RANGE, kCipher, "none", "none", ""},
    };
    for (const read_case &c : cases) expect_reads(c);
}

TEST(Types, StoredValuesCarryTheScale) {
    typed_value wide(CV_UAC_TYPE_INT64);
    ASSERT_EQ(wide.parse("5", kUnlimited64), 0u);
    EXPECT_EQ(wide.value.i64, 5000);
    typed_value cap(CV_UAC_TYPE_UINT64);
    ASSERT_EQ(cap.parse("Unlimited", kUnlimited64), 0u);
    EXPECT_EQ(cap.value.u64, 0xFFFFFFFFFFFFFull * 1000);
    typed_value mode(CV_UAC_TYPE_OCTAL32);
    ASSERT_EQ(mode.parse("644", nullptr), 0u);
    EXPECT_EQ(mode.value.u32, 420u);
    typed_value open(CV_UAC_TYPE_RANGE);
    ASSERT_EQ(open.parse(":7", nullptr), 0u);
    EXPECT_EQ(open.value.range.low, INT64_MIN);
    EXPECT_EQ(open.value.range.high, 7);
    typed_value real(CV_UAC_TYPE_DOUBLE);
    ASSERT_EQ(real.parse("2.5", "10"), 0u);
    EXPECT_DOUBLE_EQ(real.value.real, 25.0);
}

TEST(Types, BooleansTakeWordsAndFirstLetters) {
    const read_case cases[] = {
        {CV_UAC_TYPE_BOOLEAN, nullptr, "Yes", "true", ""},
        {CV_UAC_TYPE_BOOLEAN, nullptr, "1", "true", ""},
        {CV_UAC_TYPE_BOOLEAN, nullptr, "  T", "true", ""},
        {CV_UAC_TYPE_BOOLEAN, nullptr, "False", "false", ""},
        {CV_UAC_TYPE_BOOLEAN, nullptr, "maybe", "false",
         "Unrecognized boolean value \"maybe\" (xml).  Reverting to default of false."},
        {CV_UAC_TYPE_BOOLEAN, "off:on", "OFF", "off", ""},
        {CV_UAC_TYPE_BOOLEAN, "off:on", "on", "on", ""},
        {CV_UAC_TYPE_BOOLEAN, "off:on", "yes", "on", ""},
        {CV_UAC_TYPE_BOOLEAN, "off:on", "On", "off",
         "Unrecognized boolean value \"On\" (xml).  Reverting to default of false."},
        {CV_UAC_TYPE_BOOLEAN, "nolist", "yes", "false",
         "Unrecognized boolean value \"yes\" (xml).  Reverting to default of false."},
    };
    for (const read_case &c : cases) expect_reads(c);
}

TEST(Types, TimesInBothSyntaxes) {
    const char *none = "";
    const read_case cases[] = {
        {CV_UAC_TYPE_TIME, nullptr, "01:00:00", "1h", none},
        {CV_UAC_TYPE_TIME, nullptr, "1d 02:03:04.005", "1d 2h 3m 4s 5ms", none},
        {CV_UAC_TYPE_TIME, nullptr, "90", "1m 30s", none},
        {CV_UAC_TYPE_TIME, nullptr, "90061.500", "1d 1h 1m 1s 500ms", none},
        {CV_UAC_TYPE_TIME, nullptr, "12:30", "12m 30s", none},
        {CV_UAC_TYPE_TIME, nullptr, "2h 30m", "2h 30m", none},
        {CV_UAC_TYPE_TIME, nullptr, "2H30M", "2h 30m", none},
        {CV_UAC_TYPE_TIME, nullptr, "1500ms", "1s 500ms", none},
        {CV_UAC_TYPE_TIME, nullptr, "1w 2500us", "1w 2ms 500us", none},
        {CV_UAC_TYPE_TIME, nullptr, "infinite", "infinite", none},
        {CV_UAC_TYPE_TIME, nullptr, "0", "0s", none},
        {CV_UAC_TYPE_TIME, "0;forever:infinite", "Forever", "infinite", none},
        {CV_UAC_TYPE_TIME, nullptr, "1:30", "0s",
         "Error converting \"1:30\" to CONF.  minutes field wrong size"},
        {CV_UAC_TYPE_TIME, nullptr, "01:61", "0s",
         "Error converting \"01:61\" to CONF.  seconds field greater than 59"},
        {CV_UAC_TYPE_TIME, nullptr, "1:30:00", "0s",
         "Error converting \"1:30:00\" to CONF.  hours field wrong size"},
        {CV_UAC_TYPE_TIME, nullptr, "25:00:00", "0s",
         "Error converting \"25:00:00\" to CONF.  hours field greater than 23"},
        {CV_UAC_TYPE_TIME, nullptr, "1x 01:00:00", "0s",
         "Error converting \"1x 01:00:00\" to CONF.  malformed day field"},
        {CV_UAC_TYPE_TIME, nullptr, "a1d 01:00:00", "0s",
         "Error converting \"a1d 01:00:00\" to CONF.  unknown characters before date string"},
        {CV_UAC_TYPE_TIME, nullptr, "1.5", "0s",
         "Error converting \"1.5\" to CONF.  msecs field wrong size"},
        {CV_UAC_TYPE_TIME, nullptr, "5s 6s", "0s",
         "Error converting \"5s 6s\" to CONF.  more than one seconds field"},
        {CV_UAC_TYPE_TIME, nullptr, "5x", "0s",
         "Error converting \"5x\" to CONF.  unrecognized scale type.  Should be us, ms, s, m, h, "
         "d or w (case insensitive)."},
        {CV_UAC_TYPE_TIME, nullptr, "99999999999", "0s",
         "Error converting \"99999999999\" to CONF.  overflow"},
        {CV_UAC_TYPE_TIME, nullptr, "4000w", "0s", "Error converting \"4000w\" to CONF.  overflow"},
    };
    for (const read_case &c : cases) expect_reads(c);

    typed_value time(CV_UAC_TYPE_TIME);
    ASSERT_EQ(time.parse("1d 02:03:04.005", nullptr), 0u);
    EXPECT_EQ(time.value.time.seconds, 93784);
    EXPECT_EQ(time.value.time.microseconds, 5000);
    ASSERT_EQ(time.parse("5q", nullptr), CV_E_UAC_PARSE);
    EXPECT_EQ(time.value.time.seconds, 93784) << "a failed read keeps the value";
}

TEST(Types, RatesAddUpTheirFields) {
    const char *none = "";
    const read_case cases[] = {
        {CV_UAC_TYPE_BPS, nullptr, "100K", "100K", none},
        {CV_UAC_TYPE_BPS, "power2", "100K", "100K", none},
        {CV_UAC_TYPE_BPS, nullptr, "1G 500M", "1G 500M", none},
        {CV_UAC_TYPE_BPS, nullptr, "1500000", "1M 500K", none},
        {CV_UAC_TYPE_BPS, nullptr, "100KB", "100K", none},
        {CV_UAC_TYPE_BPS, nullptr, "0", "0B", none},
        {CV_UAC_TYPE_BPS, nullptr, "7 b", "7B", none},
        {CV_UAC_TYPE_BPS, nullptr, "infinite", "18446744T 73G 709M 551K 615B", none},
        {CV_UAC_TYPE_BPS, nullptr, "10 Q", "0B",
         "Error converting \"10 Q\" to CONF.  unrecognized scale type.  Should be T, G, M, K, or "
         "B (case insensitive)."},
        {CV_UAC_TYPE_BPS, nullptr, "1K 2K", "0B",
         "Error converting \"1K 2K\" to CONF.  more than one kilo field"},
        {CV_UAC_TYPE_BPS, nullptr, "5 6", "0B",
         "Error converting \"5 6\" to CONF.  unrecognized scale type.  Should be T, G, M, K, or B "
         "(case insensitive)."},
        {CV_UAC_TYPE_BPS, nullptr, "18446744073709551616", "0B",
         "Error converting \"18446744073709551616\" to CONF.  overflow"},
        {CV_UAC_TYPE_BPS, nullptr, "20000000T", "0B",
         "Error converting \"20000000T\" to CONF.  overflow"},
    };
    for (const read_case &c : cases) expect_reads(c);

    typed_value rate(CV_UAC_TYPE_BPS);
    ASSERT_EQ(rate.parse("100K", "power2"), 0u);
    EXPECT_EQ(rate.value.u64, 102400u);
    ASSERT_EQ(rate.parse("infinite", nullptr), 0u);
    EXPECT_EQ(rate.value.u64, UINT64_MAX);
}

struct check_case {
    std::int32_t code;
    const char *parameter;
    const char *text;
    cv_status status;
    const char *message;  // null when accepted
};

TEST(Types, OverrideCheckersSayWhy) {
    const check_case cases[] = {
        {CV_UAC_TYPE_LOOKUP, kPriority, "HIGH", 0, nullptr},
        {CV_UAC_TYPE_LOOKUP, kPriority, "-5", 0, nullptr},
        {CV_UAC_TYPE_LOOKUP, kPriority, "fast", 22,
         "Lookup value not in list.  Acceptable values are:  any, high, fair"},
        {CV_UAC_TYPE_LOOKUP, kPriority, "4294967296", 22,
         "Lookup value not in list.  Acceptable values are:  any, high, fair"},
        {CV_UAC_TYPE_INT32, nullptr, " 12 ", 0, nullptr},
        {CV_UAC_TYPE_INT32, nullptr, "0x80000000", 22, "Malformed numeric.  Out of range"},
        // As the reader reads it: a ";" ends the number, and a name is
        // held to the type's range.
        {CV_UAC_TYPE_INT32, nullptr, "12;", 0, nullptr},
        {CV_UAC_TYPE_INT32, kUnlimited32, "Unlimited", 22, "Malformed numeric.  Out of range"},
        {CV_UAC_TYPE_INT64, nullptr, "9223372036854775807", 0, nullptr},
        {CV_UAC_TYPE_INT64, "1000", "9223372036854775807", 22, "Malformed numeric.  Out of range"},
        {CV_UAC_TYPE_UINT32, nullptr, "-1", 22, "Malformed numeric.  Out of range"},
        {CV_UAC_TYPE_OCTAL32, nullptr, "", 22, "Empty string"},
        {CV_UAC_TYPE_OCTAL32, nullptr, "0", 0, nullptr},
        {CV_UAC_TYPE_OCTAL32, nullptr, "755", 0, nullptr},
        {CV_UAC_TYPE_OCTAL32, nullptr, "8", 22,
         "Malformed numeric.  1234, 0x12FF (hex), 0X12FF (hex), 0777 (octal) or %101010 "
         "(binary) are OK"},
        {CV_UAC_TYPE_OCTAL32, kUndefinedOctal, "undefined", 0, nullptr},
        {CV_UAC_TYPE_DOUBLE, nullptr, "1.5", 0, nullptr},
        {CV_UAC_TYPE_DOUBLE, nullptr, " 2. ", 0, nullptr},
        {CV_UAC_TYPE_DOUBLE, nullptr, "CV_NULL", 0, nullptr},
        {CV_UAC_TYPE_DOUBLE, nullptr, "1.2.3", 22, "Mutiple decimal points"},
        {CV_UAC_TYPE_DOUBLE, nullptr, "-1", 0, nullptr},
        {CV_UAC_TYPE_DOUBLE, nullptr, "1e3", 0, nullptr},
        {CV_UAC_TYPE_DOUBLE, nullptr, "1e", 22, "Invalid char"},
        {CV_UAC_TYPE_DOUBLE, nullptr, "1e999", 22, "Malformed numeric.  Out of range"},
        {CV_UAC_TYPE_DOUBLE, nullptr, "inf", 22, "Invalid char"},
        {CV_UAC_TYPE_DOUBLE, nullptr, ".", 22, "Just a period with no numeric digits"},
        {CV_UAC_TYPE_DOUBLE, nullptr, "  ", 22, "Empty value"},
        {CV_UAC_TYPE_DOUBLE, nullptr, "1.5 x", 22, "Invalid characters after the number"},
        {CV_UAC_TYPE_BOOLEAN, nullptr, "yes", 0, nullptr},
        {CV_UAC_TYPE_BOOLEAN, nullptr, "maybe", 22,
         "Not a recognizable boolean value (should start with yY1tT or nN0fF)"},
        {CV_UAC_TYPE_BOOLEAN, "off:on", "OFF", 0, nullptr},
        {CV_UAC_TYPE_BOOLEAN, "off:on", "maybe", 22,
         "Not in custom list of allowable values (off:on)"},
        {CV_UAC_TYPE_BOOLEAN, "nolist", "yes", 22,
         "Not in custom list of allowable values (nolist)"},
        {CV_UAC_TYPE_TIME, nullptr, "", 2, "Empty value"},
        {CV_UAC_TYPE_TIME, nullptr, "2h 30m", 0, nullptr},
        {CV_UAC_TYPE_TIME, nullptr, " infinite ", 0, nullptr},
        {CV_UAC_TYPE_TIME, nullptr, "5s 6s", 22, "more than one seconds field"},
        {CV_UAC_TYPE_BPS, nullptr, " ", 2, "Empty value"},
        {CV_UAC_TYPE_BPS, nullptr, "1G 500M", 0, nullptr},
        {CV_UAC_TYPE_BPS, nullptr, "infinite\n", 0, nullptr},
        {CV_UAC_TYPE_RANGE, nullptr, "3:", 0, nullptr},
        {CV_UAC_TYPE_RANGE, nullptr, ":", 0, nullptr},
        {CV_UAC_TYPE_RANGE, kCipher, "none:aes-128", 0, nullptr},
        {CV_UAC_TYPE_RANGE, nullptr, "x:3", 22,
         "Malformed numeric.  1234, 0x12FF (hex), 0X12FF (hex), 0777 (octal) or %101010 "
         "(binary) are OK"},
        {CV_UAC_TYPE_CHAR_PTR, nullptr, "<anything>", 0, nullptr},
        {CV_UAC_TYPE_STRING_LIST, nullptr, "<item>a</item> <item/>", 0, nullptr},
        {CV_UAC_TYPE_STRING_LIST, nullptr, "<item a=\"1\">x</item>", 22,
         "Unexpected data in opening tag (No attributes allowed)"},
        {CV_UAC_TYPE_STRING_LIST, "command", "<command>x</command>", 0, nullptr},
        {CV_UAC_TYPE_STRING_LIST, "command", "<item>x</item>", 22, "Unexpected XML tag"},
    };
    for (const check_case &c : cases) {
        const char *message = nullptr;
        const std::string where =
            cv_uac_type_descriptor_of(c.code)->name + std::string(" \"") + c.text + "\"";
        EXPECT_EQ(cv_uac_type_check_override(c.code, c.text, c.parameter, &message), c.status)
            << where;
        EXPECT_STREQ(message, c.message) << where;
    }
}

TEST(Types, OverridesBecomeXml) {
    const struct {
        std::int32_t code;
        const char *parameter;
        const char *text;
        const char *xml;
    } cases[] = {
        {CV_UAC_TYPE_STRING_LIST, nullptr, ";a;b", "<item>a</item><item>b</item>"},
        {CV_UAC_TYPE_STRING_LIST, nullptr, ",a,,b<",
         "<item>a</item><item></item><item>b&lt;</item>"},
        {CV_UAC_TYPE_STRING_LIST, "command", "|ls -l", "<command>ls -l</command>"},
        {CV_UAC_TYPE_STRING_LIST, nullptr, "\xC2\xA7x\xC2\xA7y", "<item>x</item><item>y</item>"},
        {CV_UAC_TYPE_STRING_LIST, nullptr, "", ""},
        {CV_UAC_TYPE_STRING_LIST, nullptr, "CV_NULL", "CV_NULL"},
        {CV_UAC_TYPE_CHAR_PTR, nullptr, "a&b \"c\"", "a&amp;b &quot;c&quot;"},
        {CV_UAC_TYPE_INT32, nullptr, "5", "5"},
        {CV_UAC_TYPE_INT32, nullptr, "5</x><y>", "5&lt;/x>&lt;y>"},
    };
    for (const auto &c : cases) {
        char xml[CV_UAC_VALUE_TEXT_SIZE];
        EXPECT_EQ(cv_uac_type_override_to_xml(c.code, c.text, xml, sizeof xml, c.parameter), 0u)
            << c.text;
        EXPECT_STREQ(xml, c.xml) << c.text;
    }
    char small[8];
    EXPECT_EQ(
        cv_uac_type_override_to_xml(CV_UAC_TYPE_STRING_LIST, ",abc", small, sizeof small, nullptr),
        CV_E_BUFFER_SPACE);
    EXPECT_STREQ(small, "");
}

TEST(Types, StringsAndTheNullMarker) {
    typed_value plain(CV_UAC_TYPE_CHAR_PTR);
    ASSERT_EQ(plain.parse("  a<b  ", nullptr), 0u);
    EXPECT_STREQ(plain.value.text, "  a<b  ");
    EXPECT_EQ(plain.written(nullptr), "  a&lt;b  ");
    (void)cv_uac_type_free(plain.code, &plain.value, nullptr);
    ASSERT_EQ(plain.parse("", nullptr), 0u);
    EXPECT_EQ(plain.value.text, cv_uac_shared_empty_string());

    decorated_conf conf("<CONF><name>CV_NULL</name><name/><name>  x  </name></CONF>");
    ASSERT_EQ(conf.decorate_status, 0u);
    xmlNode *null_marker =
        parse_xml_tracker_child(parse_xml_get_tracker(conf.start[0]), PARSE_XML_TAG_name);
    xmlNode *empty = parse_xml_get_tracker(null_marker)->next_same_tag;
    xmlNode *padded = parse_xml_get_tracker(empty)->next_same_tag;
    char old_text[] = "old";
    char *value = old_text;
    ASSERT_EQ(
        cv_uac_type_read(CV_UAC_TYPE_CHAR_PTR, null_marker, nullptr, &value, nullptr, nullptr), 0u);
    EXPECT_EQ(value, nullptr);
    value = old_text;
    ASSERT_EQ(cv_uac_type_read(CV_UAC_TYPE_TRIMMED_CHAR_PTR, null_marker, nullptr, &value, nullptr,
                               nullptr),
              0u);
    EXPECT_EQ(value, old_text);
    ASSERT_EQ(
        cv_uac_type_read(CV_UAC_TYPE_TRIMMED_CHAR_PTR, empty, nullptr, &value, nullptr, nullptr),
        0u);
    EXPECT_EQ(value, old_text);
    ASSERT_EQ(
        cv_uac_type_read(CV_UAC_TYPE_BLANKABLE_CHAR_PTR, empty, nullptr, &value, nullptr, nullptr),
        0u);
    EXPECT_EQ(value, cv_uac_shared_blank_string());
    EXPECT_NE(value, cv_uac_shared_empty_string());
    ASSERT_EQ(
        cv_uac_type_read(CV_UAC_TYPE_BLANKABLE_CHAR_PTR, padded, nullptr, &value, nullptr, nullptr),
        0u);
    EXPECT_STREQ(value, "x");

    // The default's own pointer and the shared strings are never freed.
    char *owned = value;
    (void)cv_uac_type_free(CV_UAC_TYPE_BLANKABLE_CHAR_PTR, &value, &owned);
    EXPECT_EQ(value, owned);
    (void)cv_uac_type_free(CV_UAC_TYPE_BLANKABLE_CHAR_PTR, &value, nullptr);
    EXPECT_EQ(value, nullptr);
    char *blank = cv_uac_shared_blank_string();
    (void)cv_uac_type_free(CV_UAC_TYPE_BLANKABLE_CHAR_PTR, &blank, nullptr);
    EXPECT_EQ(blank, cv_uac_shared_blank_string());

    char *none = nullptr;
    char written[16];
    ASSERT_EQ(cv_uac_type_write(CV_UAC_TYPE_CHAR_PTR, &none, written, sizeof written, nullptr), 0u);
    EXPECT_STREQ(written, "CV_NULL");
}

TEST(Types, StringsExpandVariablesOrStayRaw) {
    decorated_conf conf(
        "<CONF><name> $(user)-x </name><description>$(nobody)</description></CONF>");
    ASSERT_EQ(conf.decorate_status, 0u);
    const parse_xml_tracker *root = parse_xml_get_tracker(conf.start[0]);
    test_variables variables{{"user", "bob"}};
    char *value = nullptr;
    ASSERT_EQ(cv_uac_type_read(CV_UAC_TYPE_TRIMMED_CHAR_PTR,
                               parse_xml_tracker_child(root, PARSE_XML_TAG_name), nullptr, &value,
                               nullptr, variables.tree()),
              0u);
    EXPECT_STREQ(value, "bob-x");
    (void)cv_uac_type_free(CV_UAC_TYPE_TRIMMED_CHAR_PTR, &value, nullptr);

    const std::string mark = cv_test_log_capture::mark();
    ASSERT_EQ(cv_uac_type_read(CV_UAC_TYPE_CHAR_PTR,
                               parse_xml_tracker_child(root, PARSE_XML_TAG_description), nullptr,
                               &value, nullptr, variables.tree()),
              0u);
    EXPECT_STREQ(value, "$(nobody)");
    EXPECT_NE(cv_test_log_capture::since(mark).find(
                  "Missing string variables.  Entire string left untranslated ($(nobody))"),
              std::string::npos);
    (void)cv_uac_type_free(CV_UAC_TYPE_CHAR_PTR, &value, nullptr);
}

std::vector<std::string> items_of(const char *list) {
    std::vector<std::string> items;
    for (const char *item = cv_uac_string_list_first(list); item;
         item = cv_uac_string_list_next(item))
        items.emplace_back(item);
    return items;
}

class StringLists : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(cv_uac_fitness_install(), 0u); }
    void TearDown() override { cv_uac_fitness_uninstall(); }
};

TEST_F(StringLists, KeepItemsWhoseRulesPassInOrder) {
    decorated_conf conf(
        "<CONF><cvshell_commands>"
        "<command> ls </command><command cookie=\"x*\">rm</command>"
        "<command/><command cookie=\"a*\">cat</command>"
        "</cvshell_commands><filters><filter cookie=\"q\">x</filter></filters>"
        "<users/></CONF>");
    ASSERT_EQ(conf.decorate_status, 0u);
    const parse_xml_tracker *root = parse_xml_get_tracker(conf.start[0]);
    test_variables variables{{"cookie", "abc"}};
    char *list = nullptr;
    ASSERT_EQ(cv_uac_type_read(CV_UAC_TYPE_STRING_LIST,
                               parse_xml_tracker_child(root, PARSE_XML_TAG_cvshell_commands),
                               "command", &list, nullptr, variables.tree()),
              0u);
    EXPECT_EQ(items_of(list), (std::vector<std::string>{"ls", "", "cat"}));
    char written[CV_UAC_VALUE_TEXT_SIZE];
    ASSERT_EQ(cv_uac_type_write(CV_UAC_TYPE_STRING_LIST, &list, written, sizeof written, "command"),
              0u);
    EXPECT_STREQ(written, "<command>ls</command><command></command><command>cat</command>");
    (void)cv_uac_type_free(CV_UAC_TYPE_STRING_LIST, &list, nullptr);

    ASSERT_EQ(cv_uac_type_read(CV_UAC_TYPE_STRING_LIST,
                               parse_xml_tracker_child(root, PARSE_XML_TAG_filters), "filter",
                               &list, nullptr, variables.tree()),
              0u);
    ASSERT_NE(list, nullptr) << "items ruled out give an empty list";
    EXPECT_TRUE(items_of(list).empty());
    (void)cv_uac_type_free(CV_UAC_TYPE_STRING_LIST, &list, nullptr);

    ASSERT_EQ(cv_uac_type_read(CV_UAC_TYPE_STRING_LIST,
                               parse_xml_tracker_child(root, PARSE_XML_TAG_users), nullptr, &list,
                               nullptr, variables.tree()),
              0u);
    EXPECT_EQ(list, nullptr) << "no item element leaves the value";
}

TEST_F(StringLists, OverrideTextRoundTrips) {
    typed_value list(CV_UAC_TYPE_STRING_LIST);
    ASSERT_EQ(list.parse(";a; b ;c&d", nullptr), 0u);
    EXPECT_EQ(items_of(list.value.text), (std::vector<std::string>{"a", "b", "c&d"}));
    EXPECT_EQ(list.written(nullptr), "<item>a</item><item>b</item><item>c&amp;d</item>");
}

TEST(TypedReaders, TakeBestMatchFirstMatchOrDefault) {
    ASSERT_EQ(cv_uac_fitness_install(), 0u);
    decorated_conf conf(
        "<CONF><default>"
        "<db_port cookie=\"zzz\">1</db_port>"
        "<db_port cookie=\"a*\">0x10</db_port>"
        "<db_port>bad</db_port>"
        "</default></CONF>");
    ASSERT_EQ(conf.decorate_status, 0u);
    const std::int32_t path[] = {PARSE_XML_TAG_default, PARSE_XML_TAG_db_port, E};
    const std::int32_t absent[] = {PARSE_XML_TAG_server, PARSE_XML_TAG_db_port, E};
    test_variables variables{{"cookie", "abc"}};
    xmlNode *source = nullptr;
    cv_uac_warning *warnings = nullptr;

    EXPECT_EQ(cv_uac_get_int32_t(7, path, conf.roots(), nullptr, &source, &warnings, nullptr,
                                 variables.tree()),
              16);
    EXPECT_STREQ(parse_xml_get_node_text(source), "0x10");
    EXPECT_EQ(
        cv_uac_get_int32_t(7, path, conf.roots(), nullptr, &source, &warnings, nullptr, nullptr),
        1);
    EXPECT_EQ(cv_uac_get_int32_t(7, absent, conf.roots(), nullptr, &source, &warnings, nullptr,
                                 variables.tree()),
              7);
    EXPECT_EQ(source, nullptr);
    EXPECT_EQ(warnings, nullptr);

    xmlNode **alternates = nullptr;
    EXPECT_EQ(cv_uac_get_u_int64_t(9, path, conf.roots(), nullptr, nullptr, &warnings, &alternates,
                                   variables.tree()),
              1u);
    ASSERT_NE(alternates, nullptr);
    std::size_t count = 0;
    while (alternates[count]) ++count;
    EXPECT_EQ(count, 3u);
    cv_uac_free(alternates);
    cv_uac_free_warnings(&warnings);
    cv_uac_fitness_uninstall();
}

TEST(TypedReaders, CutAlternatesAtOneHundred) {
    std::string xml = "<CONF><default>";
    for (int i = 0; i < 120; ++i) xml += "<db_port>" + std::to_string(i) + "</db_port>";
    decorated_conf conf(xml + "</default></CONF>");
    const std::int32_t path[] = {PARSE_XML_TAG_default, PARSE_XML_TAG_db_port, E};
    xmlNode **alternates = nullptr;
    const std::string mark = cv_test_log_capture::mark();
    EXPECT_EQ(
        cv_uac_get_lookup(5, path, conf.roots(), nullptr, nullptr, nullptr, &alternates, nullptr),
        0);
    ASSERT_NE(alternates, nullptr);
    std::size_t count = 0;
    while (alternates[count]) ++count;
    EXPECT_EQ(count, CV_UAC_MAX_ALTERNATES);
    EXPECT_NE(cv_test_log_capture::since(mark).find(
                  "Too many alternate config values.  Cutting off at 100."),
              std::string::npos);
    cv_uac_free(alternates);
}

TEST(TypeTable, DescribesSixteenTypesAndRefusesOthers) {
    EXPECT_STREQ(cv_uac_type_descriptor_of(CV_UAC_TYPE_TIME)->display_name,
                 "Time value (01:00:00 for instance)");
    EXPECT_EQ(cv_uac_type_descriptor_of(CV_UAC_TYPE_RANGE)->value_size, sizeof(cv_uac_range));
    EXPECT_EQ(cv_uac_type_descriptor_of(-1), nullptr);
    EXPECT_EQ(cv_uac_type_descriptor_of(16), nullptr);
    std::int32_t value = 0;
    char output[8];
    EXPECT_EQ(cv_uac_type_write(16, &value, output, sizeof output, nullptr), 22u);
    EXPECT_EQ(cv_uac_type_check_override(-1, "1", nullptr, nullptr), 22u);

    cv_uac_range range{1, 2};
    const cv_uac_range defaults{-5, 5};
    EXPECT_EQ(cv_uac_type_restore_default(CV_UAC_TYPE_RANGE, &range, &defaults), 0u);
    EXPECT_EQ(range.low, -5);
    EXPECT_EQ(range.high, 5);
}

}  // namespace
