// Tests of the list of elements that no option of a class reads: misspelt
// and unknown names, known names in the wrong place, what a type reads
// below its element, paths that climb to a parent, and what is no element.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config_test_support.h"
#include "uac/cv_uac_classes.h"
#include "uac/cv_uac_unread.h"
#include "uac/cv_uac_user.h"

namespace {

std::string unread_fixture(const std::string &name) {
    return std::string(CV_TEST_DATA_DIR) + "/unread/" + name;
}

/* A class whose `group` is read by climbing back from `transfer`, and whose
 * string list of filters is also fed by the alias `exclude`. */
#define DETOUR_OPTIONS(X)                                                                    \
    X(group, trimmed_char_ptr, (transfer, Move_Up_to_Parent, group), CV_NULL, CV_NULL) \
    X(file_filters, string_list, (file_system, filters), CV_NULL, "filter")

#define DETOUR_FIELD(key, type, path, default_text, lookup) cv_uac_value_##type key;
#define DETOUR_COUNT(key, type, path, default_text, lookup) +1
#define DETOUR_ROW(key, type, path, default_text, lookup) \
    CV_UAC_CATALOGUE_ROW(detour_object, key, type, path, default_text, lookup, #lookup, "0"),

constexpr std::size_t kDetourOptionCount = 0 DETOUR_OPTIONS(DETOUR_COUNT);

struct detour_object {
    cv_uac_config_object object;
    DETOUR_OPTIONS(DETOUR_FIELD)
    cv_uac_option_words<kDetourOptionCount> words;
};

#define CV_NULL nullptr
constexpr cv_uac_option kDetourCatalogue[] = {DETOUR_OPTIONS(DETOUR_ROW)};
#undef CV_NULL

cv_uac_class detour_class = {
    .parent = &cv_uac_base_class,
    .name = "detour",
    .catalogue = kDetourCatalogue,
    .option_count = kDetourOptionCount,
    .layout = CV_UAC_OBJECT_LAYOUT(detour_object),
};

/* An unread element as "name@line", the parent's name first when the
 * element is not a child of the entry. */
std::vector<std::string> unread_of(const cv_uac_class *cls, const xmlNode *entry) {
    cv_uac_unread_element *elements = nullptr;
    std::size_t count = 99;
    EXPECT_EQ(cv_uac_list_unread_elements(cls, entry, &elements, &count), 0u);
    std::vector<std::string> listed;
    for (std::size_t i = 0; i < count; ++i) {
        std::string text = elements[i].name;
        if (elements[i].element->parent != entry)
            text = reinterpret_cast<const char *>(elements[i].element->parent->name) + ("/" + text);
        listed.push_back(text + "@" + std::to_string(elements[i].line));
        EXPECT_EQ(std::string(elements[i].name),
                  reinterpret_cast<const char *>(elements[i].element->name));
    }
    if (count == 0) {
        EXPECT_EQ(elements, nullptr);
    }
    cv_uac_free(elements);
    return listed;
}

xmlNode *nth_match(const cv_uac_conf_set *set, const std::int32_t *path, int n) {
    parse_xml_search_handle *handle = nullptr;
    xmlNode *node = parse_xml_get_first_matching_node(set->roots, &handle, path, nullptr, nullptr,
                                                      nullptr);
    while (node && n-- > 0) node = parse_xml_get_next_matching_node(handle, nullptr);
    if (handle) (void)parse_xml_free_search_handle(handle);
    return node;
}

TEST(unread_elements, a_misspelt_trunk_option_and_unread_children_of_known_ones) {
    loaded_conf conf(unread_fixture("trunk_misspelt.conf"));
    ASSERT_NE(conf.set, nullptr);
    const std::int32_t path[] = {PARSE_XML_TAG_trunks, PARSE_XML_TAG_trunk, PARSE_XML_END};
    xmlNode *trunk = nth_match(conf.set, path, 0);
    ASSERT_NE(trunk, nullptr);
    // The comment, the blank line and the processing instruction are not
    // listed; the schedule's own elements are read by its type, a boolean
    // reads nothing below its element.
    const std::vector<std::string> expected = {"mcast_prot@7", "change_point/valeu@13",
                                               "on/when@17"};
    EXPECT_EQ(unread_of(&cv_uac_trunk_class, trunk), expected);
}

TEST(unread_elements, unknown_names_inside_containers_and_known_names_out_of_place) {
    loaded_conf conf(unread_fixture("user_entry.conf"));
    ASSERT_NE(conf.set, nullptr);
    const std::int32_t path[] = {PARSE_XML_TAG_aaa,   PARSE_XML_TAG_realms, PARSE_XML_TAG_realm,
                                 PARSE_XML_TAG_users, PARSE_XML_TAG_user,   PARSE_XML_END};
    xmlNode *user = nth_match(conf.set, path, 0);
    ASSERT_NE(user, nullptr);
    // `realm` climbs two levels to the realm's `name`: nothing below the
    // entry counts as read by it, and the entry's own `name` stays read.
    // Everything below an unread element is unread too.
    const std::vector<std::string> expected = {
        "in/valeu@10", "transfer/sideways@11",       "sideways/value@11", "transfer/name@12",
        "value@14",    "cvshell_commands/comand@17", "notatag@19",        "notatag/name@19"};
    EXPECT_EQ(unread_of(&test_class, user), expected);
}

TEST(unread_elements, a_path_that_climbs_back_reads_only_where_it_can_climb_from) {
    loaded_conf conf(unread_fixture("detour.conf"));
    ASSERT_NE(conf.set, nullptr);
    const std::int32_t path[] = {PARSE_XML_TAG_users, PARSE_XML_TAG_user, PARSE_XML_END};
    xmlNode *first = nth_match(conf.set, path, 0);
    xmlNode *second = nth_match(conf.set, path, 1);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    // `exclude` is read as a `filter` item, `include` is no tag at all.
    EXPECT_EQ(unread_of(&detour_class, first), std::vector<std::string>{"filters/include@10"});
    // Without `transfer` the climb never starts, so `group` is not read.
    EXPECT_EQ(unread_of(&detour_class, second), std::vector<std::string>{"group@15"});
}

TEST(unread_elements, a_user_entry_read_by_the_user_class) {
    loaded_conf conf(unread_fixture("user_class_entry.conf"));
    ASSERT_NE(conf.set, nullptr);
    const std::int32_t path[] = {PARSE_XML_TAG_realms, PARSE_XML_TAG_realm, PARSE_XML_TAG_users,
                                 PARSE_XML_TAG_user, PARSE_XML_END};
    xmlNode *user = nth_match(conf.set, path, 0);
    ASSERT_NE(user, nullptr);
    const std::vector<std::string> expected = {"cvsync_enabeld@8", "transfer/cap@11"};
    EXPECT_EQ(unread_of(&cv_uac_user_class, user), expected);
}

TEST(unread_elements, an_entry_whose_every_element_is_read_lists_nothing) {
    loaded_conf conf(config_fixture("trunks.conf"));
    ASSERT_NE(conf.set, nullptr);
    const std::int32_t path[] = {PARSE_XML_TAG_trunks, PARSE_XML_TAG_trunk, PARSE_XML_END};
    for (int n = 0; n < 2; ++n) {
        SCOPED_TRACE(n);
        xmlNode *trunk = nth_match(conf.set, path, n);
        ASSERT_NE(trunk, nullptr);
        EXPECT_EQ(unread_of(&cv_uac_trunk_class, trunk), std::vector<std::string>{});
    }
}

TEST(unread_elements, null_arguments_are_refused) {
    loaded_conf conf(unread_fixture("detour.conf"));
    ASSERT_NE(conf.set, nullptr);
    xmlNode *root = conf.set->roots[0];
    cv_uac_unread_element *elements = nullptr;
    std::size_t count = 0;
    EXPECT_EQ(cv_uac_list_unread_elements(nullptr, root, &elements, &count), 22u);
    EXPECT_EQ(cv_uac_list_unread_elements(&detour_class, nullptr, &elements, &count), 22u);
    EXPECT_EQ(cv_uac_list_unread_elements(&detour_class, root, nullptr, &count), 22u);
    EXPECT_EQ(cv_uac_list_unread_elements(&detour_class, root, &elements, nullptr), 22u);
}

}  // namespace
