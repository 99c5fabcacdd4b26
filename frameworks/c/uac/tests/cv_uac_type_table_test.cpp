// Tests of the table of value types: every row's code, catalogue name,
// display name and storage against the values the configuration's stored
// data depends on, written down here by hand; the names generated from the
// rows (the storage aliases, the code constants, the typed readers); and
// how an override text that is no XML fragment is refused.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

#include "cv_test_log_capture.h"
#include "parse_xml_test_support.h"
#include "uac/cv_uac_config.h"
#include "uac/cv_uac_types.h"

CV_TEST_LOG_CAPTURE();
PARSE_XML_TEST_LAYER();

namespace {

struct type_row {
    std::int32_t code;
    const char *name;
    const char *display;
    std::size_t size;
};

constexpr std::size_t kPointer = sizeof(void *);

// The codes are stored in catalogues and generic forms; the widths are what
// a value field of the type takes in every config object.
constexpr type_row kExpected[] = {
    {0, "lookup", "Lookup", 4},
    {1, "boolean", "Boolean", 4},
    {2, "int64_t", "64 bit signed int", 8},
    {3, "u_int64_t", "64 bit unsigned int", 8},
    {4, "int32_t", "32 bit signed int", 4},
    {5, "u_int32_t", "32 bit unsigned int", 4},
    {6, "octal_32", "32 bit octal value", 4},
    {7, "double", "Double precision float", 8},
    {8, "time", "Time value (01:00:00 for instance)", 8},
    {9, "bps", "Bits per second (100K for instance)", 8},
    {10, "char_ptr", "Character string", kPointer},
    {11, "trimmed_char_ptr", "Character string", kPointer},
    {12, "blankable_char_ptr", "Character string", kPointer},
    {13, "cron", "Cron entry", kPointer},
    {14, "string_list", "Set of string values", kPointer},
    {15, "range", "Range of values", 16},
};

TEST(TypeRows, EveryRowHasItsFixedCodeNameAndWidth) {
    ASSERT_EQ(CV_UAC_TYPE_COUNT, 16);
    for (const type_row &row : kExpected) {
        SCOPED_TRACE(row.name);
        const cv_uac_type_descriptor *type = cv_uac_type_descriptor_of(row.code);
        ASSERT_NE(type, nullptr);
        EXPECT_EQ(type->code, row.code);
        EXPECT_STREQ(type->name, row.name);
        EXPECT_STREQ(type->display_name, row.display);
        EXPECT_EQ(type->value_size, row.size);
        EXPECT_TRUE(type->read && type->check_override && type->override_to_xml && type->write &&
                    type->free);
    }
    EXPECT_EQ(cv_uac_type_descriptor_of(-1), nullptr);
    EXPECT_EQ(cv_uac_type_descriptor_of(16), nullptr);
}

TEST(TypeRows, EnumeratorsKeepTheirCodes) {
    const std::int32_t codes[] = {
        CV_UAC_TYPE_LOOKUP,     CV_UAC_TYPE_BOOLEAN,          CV_UAC_TYPE_INT64,
        CV_UAC_TYPE_UINT64,     CV_UAC_TYPE_INT32,            CV_UAC_TYPE_UINT32,
        CV_UAC_TYPE_OCTAL32,    CV_UAC_TYPE_DOUBLE,           CV_UAC_TYPE_TIME,
        CV_UAC_TYPE_BPS,        CV_UAC_TYPE_CHAR_PTR,         CV_UAC_TYPE_TRIMMED_CHAR_PTR,
        CV_UAC_TYPE_BLANKABLE_CHAR_PTR, CV_UAC_TYPE_CRON,     CV_UAC_TYPE_STRING_LIST,
        CV_UAC_TYPE_RANGE,
    };
    for (std::int32_t i = 0; i < 16; ++i) EXPECT_EQ(codes[i], i);
    EXPECT_EQ(CV_UAC_TYPE_END, -1);
}

TEST(TypeRows, StorageAliasesAreTheTypesValuesLiveIn) {
    EXPECT_TRUE((std::is_same_v<cv_uac_value_lookup, std::int32_t>));
    EXPECT_TRUE((std::is_same_v<cv_uac_value_boolean, std::int32_t>));
    EXPECT_TRUE((std::is_same_v<cv_uac_value_int64_t, std::int64_t>));
    EXPECT_TRUE((std::is_same_v<cv_uac_value_u_int64_t, std::uint64_t>));
    EXPECT_TRUE((std::is_same_v<cv_uac_value_int32_t, std::int32_t>));
    EXPECT_TRUE((std::is_same_v<cv_uac_value_u_int32_t, std::uint32_t>));
    EXPECT_TRUE((std::is_same_v<cv_uac_value_octal_32, std::uint32_t>));
    EXPECT_TRUE((std::is_same_v<cv_uac_value_double, double>));
    EXPECT_TRUE((std::is_same_v<cv_uac_value_time, cv_uac_time>));
    EXPECT_TRUE((std::is_same_v<cv_uac_value_bps, std::uint64_t>));
    EXPECT_TRUE((std::is_same_v<cv_uac_value_char_ptr, char *>));
    EXPECT_TRUE((std::is_same_v<cv_uac_value_trimmed_char_ptr, char *>));
    EXPECT_TRUE((std::is_same_v<cv_uac_value_blankable_char_ptr, char *>));
    EXPECT_TRUE((std::is_same_v<cv_uac_value_cron, cv_uac_cron *>));
    EXPECT_TRUE((std::is_same_v<cv_uac_value_string_list, char *>));
    EXPECT_TRUE((std::is_same_v<cv_uac_value_range, cv_uac_range>));
}

TEST(TypeRows, CodeConstantsByCatalogueNameMatchTheEnumerators) {
    EXPECT_EQ(cv_uac_type_code_lookup, 0);
    EXPECT_EQ(cv_uac_type_code_u_int64_t, 3);
    EXPECT_EQ(cv_uac_type_code_octal_32, 6);
    EXPECT_EQ(cv_uac_type_code_bps, 9);
    EXPECT_EQ(cv_uac_type_code_blankable_char_ptr, 12);
    EXPECT_EQ(cv_uac_type_code_range, 15);
}

// The typed readers are generated per row: each must read with its own
// row's type, which a reader bound to the wrong code would not.
TEST(TypeRows, TypedReadersReadWithTheirOwnType) {
    decorated_conf conf(
        "<CONF><default><db_port>755</db_port><dir_allowed>Yes</dir_allowed>"
        "<session_timeout_sec>1h 1s</session_timeout_sec></default></CONF>");
    const std::int32_t port[] = {PARSE_XML_TAG_default, PARSE_XML_TAG_db_port, PARSE_XML_END};
    const std::int32_t allowed[] = {PARSE_XML_TAG_default, PARSE_XML_TAG_dir_allowed,
                                    PARSE_XML_END};
    const std::int32_t timeout[] = {PARSE_XML_TAG_default, PARSE_XML_TAG_session_timeout_sec,
                                    PARSE_XML_END};
    cv_uac_warning *warnings = nullptr;
    EXPECT_EQ(cv_uac_get_octal_32(0, port, conf.roots(), nullptr, nullptr, &warnings, nullptr,
                                  nullptr),
              493u);
    EXPECT_EQ(cv_uac_get_u_int32_t(0, port, conf.roots(), nullptr, nullptr, &warnings, nullptr,
                                   nullptr),
              755u);
    EXPECT_EQ(cv_uac_get_boolean(0, allowed, conf.roots(), nullptr, nullptr, &warnings, nullptr,
                                 nullptr),
              1);
    const cv_uac_time time = cv_uac_get_time({0, 0}, timeout, conf.roots(), nullptr, nullptr,
                                             &warnings, nullptr, nullptr);
    EXPECT_EQ(time.seconds, 3601);
    EXPECT_EQ(time.microseconds, 0);
    EXPECT_EQ(warnings, nullptr);
    cv_uac_free_warnings(&warnings);
}

// An override that is no well-formed fragment is refused whole, its value
// untouched, and the parsed document is released (the sanitizer build
// would see a leak).
TEST(OverrideFragment, TextThatBreaksXmlIsRefusedAndLeavesTheValue) {
    char *list = nullptr;
    cv_uac_warning *warnings = nullptr;
    EXPECT_EQ(cv_uac_type_parse_text(CV_UAC_TYPE_STRING_LIST, "<item>a&b</item>", nullptr, &list,
                                     &warnings),
              22u);
    ASSERT_NE(warnings, nullptr);
    EXPECT_STREQ(warnings->text, "Override string \"<item>a&b</item>\" breaks XML");
    EXPECT_EQ(list, nullptr);
    cv_uac_free_warnings(&warnings);

    // A copied text is escaped into the fragment, so markup in it is read
    // as text (and refused as a number) instead of closing the fragment.
    std::uint32_t mode = 0644;
    EXPECT_EQ(cv_uac_type_parse_text(CV_UAC_TYPE_OCTAL32, "7</CONF><CONF>", nullptr, &mode,
                                     &warnings),
              CV_E_UAC_PARSE);
    ASSERT_NE(warnings, nullptr);
    EXPECT_STREQ(warnings->text,
                 "Invalid value passed to CONF: \"7</CONF><CONF>\" (Malformed numeric.  Invalid "
                 "characters after the number).  Using default of 420 instead");
    EXPECT_EQ(mode, 0644u);
    cv_uac_free_warnings(&warnings);
}

TEST(OverrideFragment, AGoodFragmentIsReadFromItsRoot) {
    char *list = nullptr;
    cv_uac_warning *warnings = nullptr;
    ASSERT_EQ(cv_uac_type_parse_text(CV_UAC_TYPE_STRING_LIST, "<item> a </item><item>b</item>",
                                     nullptr, &list, &warnings),
              0u);
    ASSERT_NE(list, nullptr);
    EXPECT_STREQ(cv_uac_string_list_first(list), "a");
    EXPECT_STREQ(cv_uac_string_list_next(cv_uac_string_list_first(list)), "b");
    EXPECT_EQ(warnings, nullptr);
    (void)cv_uac_type_free(CV_UAC_TYPE_STRING_LIST, &list, nullptr);
}

}  // namespace
