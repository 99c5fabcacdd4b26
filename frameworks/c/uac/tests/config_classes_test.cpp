// Tests of the trunk and logging classes: finding a trunk by its number and
// selecting the logging elements for a logging class.
#include <gtest/gtest.h>

#include <string>

#include "config_test_support.h"
#include "cv_uac_test_variables.h"
#include "uac/cv_uac_classes.h"

namespace {

held<cv_uac_trunk> trunk_of(const cv_uac_conf_set *set, std::uint32_t id) {
    cv_uac_trunk *trunk = nullptr;
    EXPECT_EQ(cv_uac_get_trunk(set, id, &trunk), 0u);
    return held<cv_uac_trunk>(trunk);
}

TEST(trunk_lookup, finds_the_trunk_whose_id_reads_as_the_number) {
    loaded_conf conf(config_fixture("trunks.conf"));
    held<cv_uac_trunk> seven = trunk_of(conf.set, 7);
    ASSERT_NE(seven.object, nullptr);
    EXPECT_STREQ(seven->trunk_name, "seven");
    EXPECT_EQ(seven->trunk_on, 1);
    EXPECT_EQ(seven->trunk_mcast_port, 5000u);
    EXPECT_DOUBLE_EQ(seven->trunk_tightness_out, 1.25);
    ASSERT_NE(seven->trunk_capacity, nullptr);
    EXPECT_EQ(seven->trunk_capacity->count, 2);

    held<cv_uac_trunk> eight = trunk_of(conf.set, 8);
    EXPECT_STREQ(eight->trunk_name, "eight & more");
    EXPECT_EQ(eight->trunk_id, 8u);
    EXPECT_STREQ(eight->trunk_id_string_INTERNAL, "0x8");
    EXPECT_STREQ(eight->trunk_capacity->points[0].value, "5M");
}

TEST(trunk_lookup, reads_each_option_from_all_trunks_of_the_same_id) {
    loaded_conf conf(config_fixture("trunks.conf"));
    held<cv_uac_trunk> nine = trunk_of(conf.set, 9);
    EXPECT_STREQ(nine->trunk_name, "nine");
    EXPECT_EQ(nine->trunk_mcast_port, 9009u);
}

TEST(trunk_lookup, an_unknown_id_gives_the_defaults) {
    loaded_conf conf(config_fixture("trunks.conf"));
    for (const cv_uac_conf_set *set : {static_cast<const cv_uac_conf_set *>(conf.set),
                                       static_cast<const cv_uac_conf_set *>(nullptr)}) {
        held<cv_uac_trunk> none = trunk_of(set, 70);
        ASSERT_NE(none.object, nullptr);
        EXPECT_STREQ(none->trunk_capacity->ranges_text, "50000");
        EXPECT_EQ(none->trunk_on, 0);
        EXPECT_EQ(none->trunk_name, nullptr);
        EXPECT_EQ(none->words.start, nullptr);
    }
}

struct selection_case {
    const char *wanted;
    std::int32_t level;
    std::uint32_t log_size;
    const char *directory;
};

TEST(logging_selection, a_pattern_or_a_plain_name_selects_case_sensitively) {
    loaded_conf conf(config_fixture("logging.conf"));
    const selection_case cases[] = {
        {"cvcp4", 2, 20, "/var/log/transfers"},
        {"cvcp", 2, 20, "/var/log/transfers"},
        {"sync", 2, 20, "/var/log/transfers"},
        {"Sync", 0, 30, nullptr},
        {"syncd", 0, 30, nullptr},
        {"xcvcp", 0, 30, nullptr},
    };
    for (const selection_case &c : cases) {
        SCOPED_TRACE(c.wanted);
        cv_uac_logging *read = nullptr;
        ASSERT_EQ(cv_uac_get_logging(conf.set, c.wanted, nullptr, nullptr, &read), 0u);
        held<cv_uac_logging> logging(read);
        EXPECT_EQ(logging->level, c.level);
        EXPECT_EQ(logging->log_size, c.log_size);
        EXPECT_STREQ(logging->directory, c.directory);
    }
}

TEST(logging_selection, the_entries_own_settings_come_before_the_servers) {
    loaded_conf conf(config_fixture("logging.conf"));
    xmlNode *user = parse_xml_get_first_matching_node_args(
        conf.set->roots, nullptr, PARSE_XML_TAG_users, PARSE_XML_TAG_user, PARSE_XML_END);
    xmlNode *entries[] = {user, nullptr};
    test_variables variables{{"logging_class", "sync"}};
    cv_uac_logging *read = nullptr;
    // The wanted class comes from the variables when none is named.
    ASSERT_EQ(cv_uac_get_logging(conf.set, nullptr, variables.tree(), entries, &read), 0u);
    held<cv_uac_logging> logging(read);
    EXPECT_EQ(logging->level, 3);                            // the user's own
    EXPECT_STREQ(logging->directory, "/var/log/transfers");  // the server's first match
    EXPECT_EQ(logging->log_size, 20u);
}

TEST(logging_selection, no_matching_element_gives_the_defaults) {
    cv_uac_logging *read = nullptr;
    ASSERT_EQ(cv_uac_get_logging(nullptr, "cvcp", nullptr, nullptr, &read), 0u);
    held<cv_uac_logging> logging(read);
    EXPECT_STREQ(logging->classes, "*");
    EXPECT_EQ(logging->level, 1);
    EXPECT_EQ(logging->log_size, 10u);
    EXPECT_EQ(logging->directory, nullptr);
}

/* A configuration of `count` matching log settings of which only the last
 * sets log_size, to 77. */
std::string many_settings(int count) {
    std::string text = "<CONF version=\"2\"><logging>";
    for (int i = 1; i < count; ++i) text += "<log_setting><classes>app*</classes></log_setting>";
    text += "<log_setting><classes>app</classes><log_size>77</log_size></log_setting>";
    return text + "</logging></CONF>";
}

TEST(logging_selection, at_most_63_elements_are_selected_in_candidate_order) {
    for (const auto &[count, log_size] : {std::pair{63, 77u}, std::pair{64, 10u}}) {
        SCOPED_TRACE(count);
        loaded_conf conf(many_settings(count));
        cv_uac_logging *read = nullptr;
        ASSERT_EQ(cv_uac_get_logging(conf.set, "app", nullptr, nullptr, &read), 0u);
        held<cv_uac_logging> logging(read);
        EXPECT_EQ(logging->log_size, log_size);
    }
}

}  // namespace
