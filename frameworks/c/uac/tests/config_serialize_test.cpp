// Tests of serialization (the round trip of every class's catalogue is in
// config_class_round_trip_test.cpp): the exact layout of the written XML, what is left out, formatters and comments,
// duplicates, and conf.d override files (their content and their atomic
// replacement).
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "config_test_support.h"
#include "cv_test_temp_dir.h"
#include "cvplatform/cv_str.h"
#include "uac/cv_uac_classes.h"

namespace {

namespace fs = std::filesystem;

/* Owns a text the framework allocated. */
struct owned_text {
    char *text = nullptr;
    ~owned_text() { cv_uac_free(text); }
    std::string str() const { return text ? text : "<null>"; }
};

std::string serialized(cv_uac_config_object *object, const char *indent = "",
                       const char *unit = "   ", std::int32_t all = 0) {
    owned_text xml;
    EXPECT_EQ(object->header.descriptor->serialize(object, indent, unit, all, nullptr, nullptr,
                                                   &xml.text),
              0u);
    return xml.str();
}

TEST(config_serialize, a_trunk_is_written_one_element_a_line_in_catalogue_order) {
    loaded_conf conf(config_fixture("trunks.conf"));
    cv_uac_trunk *read = nullptr;
    ASSERT_EQ(cv_uac_get_trunk(conf.set, 7, &read), 0u);
    held<cv_uac_trunk> trunk(read);
    EXPECT_EQ(serialized(trunk.base()),
              "<name>seven</name>\n"
              "<id>7</id>\n"
              "<on>true</on>\n"
              "<ignore_direction>true</ignore_direction>\n"
              "<capacity><schedule format=\"ranges\">start=8 end=17 days=mon-fri "
              "capacity=100M;capacity=10M</schedule></capacity>\n"
              "<mcast_iface_address>10.0.0.1</mcast_iface_address>\n"
              "<mcast_group_address>239.1.1.1</mcast_group_address>\n"
              "<mcast_port>5000</mcast_port>\n"
              "<mcast_ttl>4</mcast_ttl>\n"
              "<target_queue>100</target_queue>\n"
              "<min_queue>10</min_queue>\n"
              "<tightness_in>0.5</tightness_in>\n"
              "<tightness_out>1.25</tightness_out>\n"
              "<qb_over_qmax>0.75</qb_over_qmax>\n");
}

TEST(config_serialize, a_logging_object_is_written_with_the_callers_indent) {
    loaded_conf conf(config_fixture("logging.conf"));
    cv_uac_logging *read = nullptr;
    ASSERT_EQ(cv_uac_get_logging(conf.set, "cvcp4", nullptr, nullptr, &read), 0u);
    held<cv_uac_logging> logging(read);
    EXPECT_EQ(serialized(logging.base(), "  ", "\t"),
              "  <classes>cvcp*;sync</classes>\n"
              "  <level>dbg1</level>\n"
              "  <directory>/var/log/transfers</directory>\n"
              "  <log_size>20</log_size>\n");
}

TEST(config_serialize, shared_path_prefixes_share_elements_and_some_options_never_appear) {
    test_conf conf(
        "<user><name>alice</name><token>secret</token>"
        "<cvshell_commands><command>a</command><command>b &amp; c</command></cvshell_commands>"
        "<transfer><in><value>deny</value></in><out><value>allow</value></out></transfer></user>");
    held<test_object> test(conf.load());
    ASSERT_STREQ(test->realm, "corp");
    ASSERT_STREQ(test->token_key_INTERNAL, "secret");
    const std::string expected =
        "<name>alice</name>\n"
        "<cvshell_commands><command>a</command><command>b &amp; c</command></cvshell_commands>\n"
        "<transfer>\n"
        "   <in>\n"
        "      <value>deny</value>\n"
        "   </in>\n"
        "   <out>\n"
        "      <value>allow</value>\n"
        "   </out>\n"
        "</transfer>\n";
    EXPECT_EQ(serialized(test.base()), expected);

    test_conf again("<user>" + expected + "</user>");
    held<test_object> reread(again.load());
    EXPECT_EQ(serialized(reread.base()), expected);
}

TEST(config_serialize, all_adds_the_unset_options_with_their_defaults) {
    held<test_object> test(test_conf("").load());
    EXPECT_EQ(serialized(test.base()), "");
    EXPECT_EQ(serialized(test.base(), "", "", 1),
              "<name>CV_NULL</name>\n"
              "<session_timeout_sec>60</session_timeout_sec>\n"
              "<cvshell_commands>CV_NULL</cvshell_commands>\n"
              "<priority>fair</priority>\n"
              "<transfer>\n"
              "<in>\n"
              "<value>allow</value>\n"
              "</in>\n"
              "<out>\n"
              "<value>allow</value>\n"
              "</out>\n"
              "</transfer>\n");
}

/* Writes each value in brackets with its option number as comment, and
 * passes over `priority`. */
std::int32_t bracketing_formatter(const cv_uac_generic_entry *entry, char *text,
                                  std::size_t text_capacity, char *comment,
                                  std::size_t comment_capacity, void *context) {
    ++*static_cast<int *>(context);
    if (std::string(entry->name) == "priority") return -1;
    char value[CV_UAC_VALUE_TEXT_SIZE];
    (void)cv_uac_type_write(entry->type, entry->value, value, sizeof value, entry->lookup);
    (void)cv_snprintf(text, text_capacity, "[%s]", value);
    (void)cv_snprintf(comment, comment_capacity, "option %d", entry->number);
    return 0;
}

TEST(config_serialize, a_formatter_writes_the_values_and_their_comments) {
    held<test_object> test(test_conf("<user><name>bob</name><priority>high</priority>"
                                     "<session_timeout_sec>5</session_timeout_sec></user>")
                               .load());
    int calls = 0;
    owned_text xml;
    ASSERT_EQ(test->object.header.descriptor->serialize(test.base(), "", " ", 0,
                                                        bracketing_formatter, &calls, &xml.text),
              0u);
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(xml.str(),
              "<name>[bob]</name> <!-- option 1 -->\n"
              "<session_timeout_sec>[5]</session_timeout_sec> <!-- option 2 -->\n");
}

TEST(config_serialize, a_value_tree_is_written_with_header_comments_extras_and_footer) {
    cv_uac_heap *heap = nullptr;
    ASSERT_EQ(cv_uac_heap_create(&heap, nullptr, nullptr), 0u);
    cv_uac_xml_tree *tree = nullptr;
    ASSERT_EQ(cv_uac_xml_tree_create(heap, &tree), 0u);
    const std::int32_t value[] = {PARSE_XML_TAG_transfer, PARSE_XML_TAG_in, PARSE_XML_TAG_value,
                                  PARSE_XML_END};
    const std::int32_t transfer[] = {PARSE_XML_TAG_transfer, PARSE_XML_END};
    const std::int32_t name[] = {PARSE_XML_TAG_name, PARSE_XML_END};
    const std::int32_t climbing[] = {PARSE_XML_TAG_Move_Up_to_Parent, PARSE_XML_TAG_name,
                                     PARSE_XML_END};
    EXPECT_EQ(cv_uac_xml_tree_add(tree, name, "bob", nullptr), 0u);
    EXPECT_EQ(cv_uac_xml_tree_add(tree, value, "de", "why"), 0u);
    EXPECT_EQ(cv_uac_xml_tree_add(tree, value, "ny", nullptr), 0u);  // texts are joined
    EXPECT_EQ(cv_uac_xml_tree_add(tree, transfer, nullptr, "traffic"), 0u);
    EXPECT_EQ(cv_uac_xml_tree_add(tree, climbing, "x", nullptr), 22u);
    const char *const extras[] = {"<extra/>\n", nullptr};
    const std::int32_t order[] = {PARSE_XML_TAG_transfer, PARSE_XML_TAG_in, PARSE_XML_TAG_value,
                                  PARSE_XML_END};  // leaves `name` out: it still comes, last
    owned_text xml;
    ASSERT_EQ(serialize_tree_to_xml(tree, " ", "  ", "<user>", "</user>", order, extras, &xml.text),
              0u);
    EXPECT_EQ(xml.str(),
              " <user>\n"
              "   <transfer>\n"
              "     <!-- traffic -->\n"
              "\n"
              "     <in>\n"
              "       <value>deny</value> <!-- why -->\n"
              "     </in>\n"
              "   </transfer>\n"
              "   <name>bob</name>\n"
              "<extra/>\n"
              " </user>\n");
    (void)cv_uac_heap_release(&heap);
}

TEST(config_duplicate, is_an_independent_object_read_back_from_the_serialized_text) {
    test_conf conf(
        "<user><name>alice</name><cvshell_commands><command>a</command></cvshell_commands>"
        "<transfer><out><value>deny</value></out></transfer></user>");
    held<test_object> test(conf.load());
    cv_uac_config_object *made = nullptr;
    ASSERT_EQ(test->object.header.descriptor->duplicate(test.base(), &made), 0u);
    held<test_object> copy(reinterpret_cast<test_object *>(made));
    EXPECT_EQ(serialized(copy.base()), serialized(test.base()));
    EXPECT_EQ(items_of(copy->cvshell_commands), (std::vector<std::string>{"a"}));
    EXPECT_EQ(copy->realm, nullptr);  // a climbing path is not serialized, so not copied
    EXPECT_STREQ(parse_xml_get_node_name(copy->words.sources[0]), "name");

    ASSERT_EQ(cv_uac_config_set_by_name(copy.base(), "name", "bob", nullptr), 0u);
    EXPECT_STREQ(test->name, "alice");
}

/* A configuration folder with corvane.conf in it. */
struct conf_folder {
    temp_dir dir;
    std::string main;
    conf_folder() : main(dir / "corvane.conf") {
        std::ofstream(main) << "<CONF version=\"2\"><test><name>main</name></test></CONF>\n";
    }
    std::string conf_d(const std::string &name = "") const {
        return dir / ("conf.d" + (name.empty() ? "" : "/" + name));
    }
};

TEST(config_conf_d, an_override_file_holds_the_options_path_under_the_class_element) {
    conf_folder folder;
    held<test_object> test(test_conf("").load());
    ASSERT_EQ(cv_uac_config_write_conf_d_override(test.base(), nullptr, nullptr,
                                                  "transfer_in_value", "deny", folder.main.c_str()),
              0u);
    EXPECT_STREQ(test->transfer_in_value, "deny");
    EXPECT_EQ(entries_of(folder.conf_d()),
              (std::vector<std::string>{"test_transfer_in_value.conf"}));
    EXPECT_EQ(read_file(folder.conf_d("test_transfer_in_value.conf")),
              "<CONF version=\"2\">\n"
              "   <test>\n"
              "      <transfer><in><value fitness=\"2147483647\">deny</value></in></transfer>\n"
              "   </test>\n"
              "</CONF>\n");

    // A condition decides; the file holds the text after it.
    ASSERT_EQ(
        cv_uac_config_write_conf_d_override(test.base(), nullptr, nullptr, "session_timeout_sec",
                                            "?60:120", folder.main.c_str()),
        0u);
    EXPECT_NE(read_file(folder.conf_d("test_session_timeout_sec.conf"))
                  .find("<session_timeout_sec fitness=\"2147483647\">120</session_timeout_sec>"),
              std::string::npos);
    ASSERT_EQ(cv_uac_config_write_conf_d_override(test.base(), nullptr, nullptr, "name",
                                                  "?nobody:carol", folder.main.c_str()),
              0u);
    EXPECT_EQ(entries_of(folder.conf_d()).size(), 2u);
}

TEST(config_conf_d, the_new_file_joins_the_callers_configuration) {
    conf_folder folder;
    cv_uac_trunk *read = nullptr;
    ASSERT_EQ(cv_uac_get_trunk(nullptr, 1, &read), 0u);
    held<cv_uac_trunk> trunk(read);
    cv_uac_conf_set *set = cv_uac_load_conf_file(folder.main.c_str(), 0);
    ASSERT_NE(set, nullptr);
    ASSERT_EQ(set->count, 1);
    EXPECT_EQ(cv_uac_config_write_conf_d_override(trunk.base(), &set, nullptr, "trunk_name", "pool",
                                                  folder.main.c_str()),
              0u);
    EXPECT_EQ(set->count, 2);
    EXPECT_STREQ(parse_xml_get_first_matching_text_args(set->roots, PARSE_XML_TAG_trunks,
                                                        PARSE_XML_TAG_trunk, PARSE_XML_TAG_name,
                                                        PARSE_XML_END),
                 "pool");
    EXPECT_EQ(cv_uac_release_conf_file_set(set), 0u);

    cv_uac_conf_set *loaded = nullptr;  // without a set, one is loaded from the base path
    EXPECT_EQ(cv_uac_config_write_conf_d_override(trunk.base(), &loaded, nullptr, "trunk_on",
                                                  "true", folder.main.c_str()),
              0u);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->count, 3);
    EXPECT_EQ(cv_uac_release_conf_file_set(loaded), 0u);
}

TEST(config_conf_d, a_failed_rename_leaves_the_target_as_it_was_and_no_temporary_file) {
    conf_folder folder;
    fs::create_directories(folder.conf_d("test_name.conf"));
    std::ofstream(folder.conf_d("test_name.conf/kept")) << "kept";
    held<test_object> test(test_conf("").load());
    EXPECT_EQ(cv_uac_config_write_conf_d_override(test.base(), nullptr, nullptr, "name", "carol",
                                                  folder.main.c_str()),
              static_cast<cv_status>(EISDIR));
    EXPECT_EQ(entries_of(folder.conf_d()), (std::vector<std::string>{"test_name.conf"}));
    EXPECT_EQ(read_file(folder.conf_d("test_name.conf/kept")), "kept");
}

TEST(config_conf_d, an_override_that_cannot_be_written_changes_nothing) {
    conf_folder folder;
    held<test_object> test(test_conf("").load());
    ASSERT_EQ(cv_uac_config_write_conf_d_override(test.base(), nullptr, nullptr, "name", "first",
                                                  folder.main.c_str()),
              0u);
    const std::string old = read_file(folder.conf_d("test_name.conf"));
    const std::string too_long(CV_UAC_CONF_D_CONTENT_SIZE, 'x');
    EXPECT_EQ(cv_uac_config_write_conf_d_override(test.base(), nullptr, nullptr, "name",
                                                  too_long.c_str(), folder.main.c_str()),
              CV_E_BUFFER_SPACE);
    EXPECT_STREQ(test->name, "first");
    EXPECT_EQ(read_file(folder.conf_d("test_name.conf")), old);

    EXPECT_EQ(cv_uac_config_write_conf_d_override(test.base(), nullptr, nullptr, "realm", "x",
                                                  folder.main.c_str()),
              22u);  // a climbing path has no place below the class element
    EXPECT_EQ(cv_uac_config_write_conf_d_override(test.base(), nullptr, nullptr, "nickname", "x",
                                                  folder.main.c_str()),
              22u);
    EXPECT_EQ(cv_uac_config_write_conf_d_override(
                  test.base(), nullptr, nullptr, "session_timeout_sec", "12x", folder.main.c_str()),
              CV_E_UAC_PARSE);
    EXPECT_EQ(entries_of(folder.conf_d()), (std::vector<std::string>{"test_name.conf"}));
}

}  // namespace
