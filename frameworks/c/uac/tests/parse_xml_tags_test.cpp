// Tests of the tag indexer: known names against the numbers the
// configuration format assigns them, the aliases, names that are no tag, and
// the number-to-name direction with its refusals.
#include <gtest/gtest.h>

#include <string>

#include "cv_test_log_capture.h"
#include "uac/parse_xml.h"

CV_TEST_LOG_CAPTURE();

namespace {

using captured = cv_test_log_capture;

struct known_tag {
    const char *name;
    std::int32_t number;
};

/* Numbers fixed by the format: a tag's number is its place in the list. */
constexpr known_tag kKnownTags[] = {
    {"Move_Up_to_Parent", 0}, {"absolute", 1},      {"value", 11},       {"filter", 77},
    {"filters", 78},          {"shardkv", 99},      {"name", 146},       {"server", 164},
    {"default", 181},         {"user", 215},        {"CONF", 227},       {"groups", 242},
    {"users", 243},           {"realm", 246},       {"conf", 252},       {"trunk", 272},
    {"item", 277},            {"change_points", 280}, {"epoch", 283},    {"cvej_host", 310},
    {"cvej_port", 311},       {"log_level", 331},   {"watch", 357},      {"watchd", 358},
    {"sync_perc", 395},
};

TEST(ParseXmlTags, KnownNamesHaveTheirNumbersBothWays) {
    for (const known_tag &tag : kKnownTags) {
        EXPECT_EQ(parse_xml_tag_index(tag.name), tag.number) << tag.name;
        EXPECT_STREQ(parse_xml_tag_name(tag.number), tag.name) << tag.number;
    }
}

TEST(ParseXmlTags, ThereAre396TagsAndEveryNumberRoundTrips) {
    EXPECT_EQ(PARSE_XML_TAG_COUNT, 396);
    EXPECT_EQ(PARSE_XML_TAG_user, 215);
    for (std::int32_t tag = 0; tag < PARSE_XML_TAG_COUNT; ++tag) {
        const char *name = parse_xml_tag_name(tag);
        ASSERT_NE(name, nullptr) << tag;
        EXPECT_EQ(parse_xml_tag_index(name), tag) << name;
    }
}

TEST(ParseXmlTags, AliasesAreExactAndCaseSensitive) {
    EXPECT_EQ(parse_xml_tag_index("exclude"), PARSE_XML_TAG_filter);
    EXPECT_EQ(parse_xml_tag_index("excludes"), PARSE_XML_TAG_filters);
    EXPECT_EQ(parse_xml_tag_index("sharddb"), PARSE_XML_TAG_shardkv);
    EXPECT_EQ(parse_xml_tag_index("Exclude"), PARSE_XML_UNKNOWN_TAG);
    EXPECT_EQ(parse_xml_tag_index("sharddbs"), PARSE_XML_UNKNOWN_TAG);
}

TEST(ParseXmlTags, NamesThatAreNoTagGiveMinusNine) {
    const std::string long_name(200, 'a');
    const char *const unknown[] = {
        "",          "x",         "notatag",   "Conf",      "USER",      "use",
        "users2",    "cvej_hosu", "cvej_posr", "name ",     " name",     "nam\xc3\xa9",
        "Move_Up_to_Parent_", long_name.c_str(),
    };
    for (const char *name : unknown) EXPECT_EQ(parse_xml_tag_index(name), -9) << name;
    EXPECT_EQ(parse_xml_tag_index(nullptr), -9);
}

TEST(ParseXmlTags, LookupByLengthNeedsNoTerminator) {
    const char buffer[] = {'u', 's', 'e', 'r', 's', 'X'};
    EXPECT_EQ(parse_xml_tag_index_n(buffer, 4), PARSE_XML_TAG_user);
    EXPECT_EQ(parse_xml_tag_index_n(buffer, 5), PARSE_XML_TAG_users);
    EXPECT_EQ(parse_xml_tag_index_n(buffer, 6), -9);
    EXPECT_EQ(parse_xml_tag_index_n("exclude!", 7), PARSE_XML_TAG_filter);
    EXPECT_EQ(parse_xml_tag_index_n(nullptr, 3), -9);
}

TEST(ParseXmlTags, NumbersOutsideTheTableGiveNoNameAndAreLogged) {
    for (std::int32_t bad : {-1, -9, PARSE_XML_TAG_COUNT, 65537}) {
        const std::string mark = captured::mark();
        EXPECT_EQ(parse_xml_tag_name(bad), nullptr);
        EXPECT_NE(captured::since(mark).find("UAC XML Tag indexer: Invalid index: " +
                                             std::to_string(bad) + "\r\n"),
                  std::string::npos)
            << bad;
    }
}

}  // namespace
