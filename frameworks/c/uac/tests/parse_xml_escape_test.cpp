// Tests of escaping for XML text and of the override-string checker.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cv_test_log_capture.h"
#include "uac/parse_xml.h"

CV_TEST_LOG_CAPTURE();

namespace {

std::string escaped(const char *source, std::size_t capacity = 256) {
    std::string buffer(capacity, '\0');
    const cv_status status = cv_uac_escape_string_for_xml(buffer.data(), source, capacity);
    EXPECT_EQ(status, 0u) << source;
    return buffer.c_str();
}

TEST(XmlEscape, QuoteAmpersandAndLessThanAreEscapedTheRestCopied) {
    EXPECT_EQ(escaped("a<b & \"c\">"), "a&lt;b &amp; &quot;c&quot;>");
    EXPECT_EQ(escaped("it's > 3"), "it's > 3");
    EXPECT_EQ(escaped(""), "");
    EXPECT_EQ(escaped("caf\xc3\xa9"), "caf\xc3\xa9");
}

TEST(XmlEscape, GreaterThanClosingACdataEndIsEscaped) {
    EXPECT_EQ(escaped("a]]>b"), "a]]&gt;b");
    EXPECT_EQ(escaped("]]>"), "]]&gt;");
    EXPECT_EQ(escaped("]>]]x>"), "]>]]x>");
}

TEST(XmlEscape, DestinationMayBeTheSource) {
    char buffer[64] = "x<y";
    ASSERT_EQ(cv_uac_escape_string_for_xml(buffer, buffer, sizeof buffer), 0u);
    EXPECT_STREQ(buffer, "x&lt;y");
}

TEST(XmlEscape, ResultMustFitWithItsTerminatorElseDestinationIsUnchanged) {
    /* "&amp;" is five bytes: a capacity of six holds it, five does not. */
    char fits[6] = "zzzzz";
    EXPECT_EQ(cv_uac_escape_string_for_xml(fits, "&", sizeof fits), 0u);
    EXPECT_STREQ(fits, "&amp;");

    char small[5] = "keep";
    EXPECT_EQ(cv_uac_escape_string_for_xml(small, "&", sizeof small), 28677u);
    EXPECT_STREQ(small, "keep");

    char same[4] = "abc";
    EXPECT_EQ(cv_uac_escape_string_for_xml(same, same, 3), 28677u);
    EXPECT_STREQ(same, "abc");
}

struct check_case {
    const char *text;
    std::int32_t tag;
    const char *message; /* null: accepted */
};

class CheckItems : public ::testing::TestWithParam<check_case> {};

TEST_P(CheckItems, AcceptsSimpleItemsAndNamesTheFirstProblem) {
    const check_case &c = GetParam();
    const char *message = "untouched";
    const cv_status status = parse_xml_check_items(c.text, c.tag, &message);
    if (!c.message) {
        EXPECT_EQ(status, 0u) << c.text;
        EXPECT_EQ(message, nullptr) << c.text;
    } else {
        EXPECT_EQ(status, 22u) << c.text;
        ASSERT_NE(message, nullptr) << c.text;
        EXPECT_STREQ(message, c.message) << c.text;
    }
}

constexpr std::int32_t kItem = PARSE_XML_TAG_Move_Up_to_Parent; /* 0 means "item" */

INSTANTIATE_TEST_SUITE_P(
    Cases, CheckItems,
    ::testing::Values(
        check_case{"", kItem, nullptr}, check_case{"  \n\t ", kItem, nullptr},
        check_case{"<item>a</item> <item/>", kItem, nullptr},
        check_case{"<item >a</item >", kItem, nullptr},
        check_case{"<item />\n<item></item>", kItem, nullptr},
        check_case{"<user>x</user>", PARSE_XML_TAG_user, nullptr},
        check_case{"<item>a</item>", PARSE_XML_TAG_item, nullptr},
        check_case{"x<item/>", kItem, "Data needs to be inside XML tags."},
        check_case{"<item/> x", kItem, "Data needs to be inside XML tags."},
        check_case{"<name>a</name>", kItem, "Unexpected XML tag"},
        check_case{"<", kItem, "Unexpected XML tag"},
        check_case{"<item/ >", kItem, "Malformed self-terminated XML tag"},
        check_case{"<item a=\"1\">x</item>", kItem,
                   "Unexpected data in opening tag (No attributes allowed)"},
        check_case{"<items>x</items>", kItem,
                   "Unexpected data in opening tag (No attributes allowed)"},
        check_case{"<item", kItem, "Unexpected data in opening tag (No attributes allowed)"},
        check_case{"<item>x", kItem, "Missing terminating XML tag."},
        check_case{"<item><item>x</item></item>", kItem,
                   "Each opening XML tag must be followed by a matching closing tag (no nested "
                   "tags allowed)"},
        check_case{"<item>x</name>", kItem, "Mismatched closing tag."},
        check_case{"<item>x</", kItem, "Mismatched closing tag."},
        check_case{"<item>x</items>", kItem,
                   "Unexpected data in closing tag (No attributes allowed)"},
        check_case{"<item>x</item", kItem,
                   "Unexpected data in closing tag (No attributes allowed)"}));

TEST(CheckItemsArguments, NullMessageAndBadArguments) {
    EXPECT_EQ(parse_xml_check_items("<item/>", 0, nullptr), 0u);
    EXPECT_EQ(parse_xml_check_items("x", 0, nullptr), 22u);
    const char *message = nullptr;
    EXPECT_EQ(parse_xml_check_items(nullptr, 0, &message), 22u);
    EXPECT_NE(message, nullptr);
    EXPECT_EQ(parse_xml_check_items("<item/>", -5, &message), 22u);
    EXPECT_STREQ(message, "Unexpected XML tag");
}

}  // namespace
