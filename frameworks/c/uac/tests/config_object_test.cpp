// Tests of the option model: class set-up and inheritance, defaults
// objects, loading, holders, overrides by name and by index, override
// checks, warnings and findings.
#include <gtest/gtest.h>

#include <string>

#include "config_test_support.h"
#include "cv_uac_test_variables.h"
#include "uac/cv_uac_classes.h"

namespace {

using captured = cv_test_log_capture;

struct warnings_list {
    cv_uac_warning *head = nullptr;
    ~warnings_list() { cv_uac_free_warnings(&head); }
    std::string newest() const { return head ? head->text : ""; }
};

TEST(config_class, set_up_inherits_empty_slots_and_derives_tables_from_the_catalogue) {
    ASSERT_EQ(cv_uac_class_init(&cv_uac_trunk_class), 0u);
    EXPECT_EQ(cv_uac_trunk_class.flags, 0x90u);
    EXPECT_EQ(cv_uac_trunk_class.set_by_name, cv_uac_base_class.set_by_name);
    EXPECT_NE(cv_uac_trunk_class.class_init, &cv_uac_class_init);  // now a no-op
    EXPECT_EQ(cv_uac_class_init(&cv_uac_trunk_class), 0u);
    EXPECT_EQ(cv_uac_trunk_class.flags, 0x90u);
    ASSERT_EQ(cv_uac_class_init(&test_class), 0u);
    EXPECT_EQ(test_class.on_change, &test_on_change);  // a slot the class fills stays its own

    const cv_uac_override_row *rows = cv_uac_trunk_class.override_table;
    std::size_t count = 0;
    while (rows[count].name) ++count;
    EXPECT_EQ(count, cv_uac_trunk_option_count);
    EXPECT_STREQ(rows[5].name, "trunk_capacity");
    EXPECT_EQ(rows[5].check, cv_uac_type_descriptor_of(CV_UAC_TYPE_CRON)->check_override);
    EXPECT_STREQ(cv_uac_trunk_class.path_table[2].name, "trunk_id");
    EXPECT_EQ(cv_uac_trunk_class.path_table[2].path[0], PARSE_XML_TAG_id);
    EXPECT_EQ(cv_uac_trunk_class.path_table[2].path[1], PARSE_XML_END);
}

TEST(config_defaults, hold_every_default_text_parsed_by_its_type) {
    held<test_object> test(test_conf("").load());
    ASSERT_NE(test.object, nullptr);
    EXPECT_EQ(test->session_timeout_sec, 60u);
    EXPECT_EQ(test->priority, 4);
    EXPECT_STREQ(test->transfer_in_value, "allow");
    const cv_uac_generic_entry *priority = entry_of(test.base(), "priority");
    EXPECT_EQ(priority->default_value,
              &reinterpret_cast<test_object *>(cv_uac_class_defaults(&test_class))->priority);
    EXPECT_STREQ(priority->lookup_display, "\"any:0;high:3;fair:4\"");
    EXPECT_STREQ(entry_of(test.base(), "name")->lookup_display, "CV_NULL");
    EXPECT_STREQ(priority->description, "0");
    EXPECT_EQ(priority->is_set, 0);
    EXPECT_EQ(priority->number, 5);
}

TEST(config_object, reads_each_option_with_the_objects_variables) {
    test_conf conf(
        "<user><name>$(who)</name><session_timeout_sec>90</session_timeout_sec>"
        "<cvshell_commands><command>a</command><command>b</command></cvshell_commands>"
        "<transfer><in><value>deny</value></in></transfer></user>");
    test_variables variables{{"who", "alice"}};
    held<test_object> test(conf.load(variables.tree()));
    ASSERT_NE(test.object, nullptr);
    EXPECT_STREQ(test->name, "alice");
    EXPECT_STREQ(test->realm, "corp");
    EXPECT_EQ(test->session_timeout_sec, 90u);
    EXPECT_EQ(items_of(test->cvshell_commands), (std::vector<std::string>{"a", "b"}));
    EXPECT_STREQ(test->transfer_in_value, "deny");
    EXPECT_EQ(test->words.start, conf.start[0]);
    EXPECT_STREQ(parse_xml_get_node_name(test->words.sources[1]), "session_timeout_sec");
    const char *host = nullptr;
    EXPECT_EQ(cv_btree_get(test->object.variables, "hostname", &host), 0u);  // the framework's
}

TEST(config_object, collects_alternates_when_asked) {
    test_conf conf(
        "<user><session_timeout_sec>1</session_timeout_sec>"
        "<session_timeout_sec>2</session_timeout_sec></user>");
    held<test_object> test(conf.load(nullptr, 1));
    ASSERT_NE(test.object, nullptr);
    EXPECT_EQ(test->session_timeout_sec, 1u);
    xmlNode **alternates = test->words.alternates[1];
    ASSERT_NE(alternates, nullptr);
    EXPECT_NE(alternates[1], nullptr);
    EXPECT_EQ(alternates[2], nullptr);
    EXPECT_EQ(entry_of(test.base(), "session_timeout_sec")->alternates, alternates);
}

TEST(config_object, last_holder_frees_the_object_and_the_counts_follow) {
    const std::int32_t before = cv_uac_config_object_count();
    cv_uac_trunk *trunk = nullptr;
    ASSERT_EQ(cv_uac_get_trunk(nullptr, 1, &trunk), 0u);
    EXPECT_EQ(cv_uac_config_object_count(), before + 1);
    cv_uac_config_hold(&trunk->object);
    EXPECT_EQ(trunk->object.header.lock_count, 2);
    cv_uac_config_release(&trunk->object);
    EXPECT_EQ(trunk->object.header.lock_count, 1);  // still alive
    cv_uac_config_release(&trunk->object);          // freed: the sanitizer build checks it
    EXPECT_EQ(cv_uac_config_object_count(), before);

    // Defaults objects are shared: never released, never overridden.
    cv_uac_trunk *defaults = cv_uac_trunk_defaults();
    cv_uac_config_release(&defaults->object);
    EXPECT_EQ(cv_uac_config_set_by_name(&defaults->object, "trunk_name", "x", nullptr), 22u);
    EXPECT_STREQ(defaults->trunk_capacity->ranges_text, "50000");
    EXPECT_EQ(defaults->trunk_name, nullptr);
}

TEST(config_object, an_object_reached_again_while_dying_is_freed_once) {
    const std::int32_t before = cv_uac_config_object_count();
    held<test_object> test(test_conf("").load());
    test->object.child = test.base();  // its destruction releases it again
    cv_uac_config_release(test.base());
    test.object = nullptr;  // freed once: the sanitizer build checks it
    EXPECT_EQ(cv_uac_config_object_count(), before);
}

TEST(config_object, a_holder_count_below_one_is_logged_and_the_object_freed) {
    cv_uac_trunk *trunk = nullptr;
    ASSERT_EQ(cv_uac_get_trunk(nullptr, 1, &trunk), 0u);
    trunk->object.header.lock_count = 0;
    (void)cv_uac_config_object_count_add(-1);
    const std::string mark = captured::mark();
    cv_uac_config_release(&trunk->object);
    EXPECT_NE(captured::since(mark).find("Invalid object lock count: 0"), std::string::npos);
}

struct conditional_case {
    const char *text;
    std::uint32_t expected_value;
    bool applied;
};

TEST(config_override, a_condition_applies_the_override_only_when_it_holds) {
    const conditional_case cases[] = {
        {"?60:120", 120, true},  {"?61:120", 60, false}, {"?!60:120", 60, false},
        {"?!61:120", 120, true}, {"?:120", 60, false},
    };
    cv_log_debug_enabled = 1;
    for (const conditional_case &c : cases) {
        SCOPED_TRACE(c.text);
        held<test_object> test(test_conf("").load());
        const std::string mark = captured::mark();
        EXPECT_EQ(cv_uac_config_set_by_name(test.base(), "session_timeout_sec", c.text, nullptr),
                  0u);
        EXPECT_EQ(test->session_timeout_sec, c.expected_value);
        EXPECT_EQ(entry_of(test.base(), "session_timeout_sec")->is_set, c.applied ? 1 : 0);
        const bool rejected_logged =
            captured::since(mark).find(
                "Override rejected.  60 is the current value for session_timeout_sec.") !=
            std::string::npos;
        EXPECT_EQ(rejected_logged, !c.applied);
    }
    cv_log_debug_enabled = 0;
}

TEST(config_override, cv_null_restores_the_default_and_counts_as_set) {
    held<test_object> test(test_conf("<user><name>bob</name></user>").load());
    ASSERT_EQ(cv_uac_config_set_by_name(test.base(), "session_timeout_sec", "300", nullptr), 0u);
    ASSERT_EQ(cv_uac_config_set_by_name(test.base(), "session_timeout_sec", "CV_NULL", nullptr),
              0u);
    EXPECT_EQ(test->session_timeout_sec, 60u);
    ASSERT_EQ(cv_uac_config_set_by_name(test.base(), "name", "CV_NULL", nullptr), 0u);
    EXPECT_EQ(test->name, nullptr);
    EXPECT_EQ(entry_of(test.base(), "name")->is_set, 1);
}

TEST(config_override, a_string_list_override_replaces_the_whole_list) {
    held<test_object> test(test_conf("<user><cvshell_commands><command>a</command><command>b"
                                     "</command><command>c</command></cvshell_commands></user>")
                               .load());
    ASSERT_EQ(cv_uac_config_set_by_index(test.base(), 3, "<command>x</command><command>y</command>",
                                         nullptr),
              0u);
    EXPECT_EQ(items_of(test->cvshell_commands), (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(entry_of(test.base(), "cvshell_commands")->value_copy,
              reinterpret_cast<std::uint64_t>(test->cvshell_commands));
}

struct refusal_case {
    const char *name;  // null: by index
    std::int32_t index;
    const char *text;
    cv_status status;
    const char *warning;
};

TEST(config_override, refusals_keep_the_previous_value_and_say_why) {
    const std::string too_long(CV_UAC_OVERRIDE_XML_SIZE, '1');
    const refusal_case cases[] = {
        {"nickname", 0, "x", 22, "test objects have no member named nickname"},
        {nullptr, 8, "x", 22, "Option index 8 is too high for a test.  Can't be greater than 8."},
        {nullptr, -1, "x", 22, "Option index -1 is too high for a test.  Can't be greater than 8."},
        {"cvshell_commands", 0, "<command>a&b</command>", 22,
         "Override string \"<command>a&b</command>\" breaks XML"},
        {"cvshell_commands", 0, "<command>a", 22,
         "Override string \"<command>a\" refused (Missing terminating XML tag.)"},
        {"session_timeout_sec", 0, "12x", CV_E_UAC_PARSE,
         "Invalid value passed to CONF: \"12x\" (Malformed numeric.  Invalid characters after the "
         "number).  Using default of 60 instead"},
        {"session_timeout_sec", 0, too_long.c_str(), CV_E_BUFFER_SPACE,
         "Insufficient buffer space"},
    };
    for (const refusal_case &c : cases) {
        SCOPED_TRACE(c.warning);
        held<test_object> test(
            test_conf(
                "<user><name>alice</name><session_timeout_sec>90</session_timeout_sec></user>")
                .load());
        warnings_list warnings;
        const cv_status status =
            c.name ? cv_uac_config_set_by_name(test.base(), c.name, c.text, &warnings.head)
                   : cv_uac_config_set_by_index(test.base(), c.index, c.text, &warnings.head);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(warnings.newest(), c.warning);
        EXPECT_STREQ(test->name, "alice");
        EXPECT_EQ(test->session_timeout_sec, 90u);
    }
}

TEST(config_override, earlier_warnings_do_not_fail_a_good_override) {
    held<test_object> test(test_conf("").load());
    warnings_list warnings;
    add_warning(&warnings.head, CV_E_UAC_PARSE, "an earlier finding");
    EXPECT_EQ(cv_uac_config_set_by_name(test.base(), "session_timeout_sec", "5", &warnings.head),
              0u);
    EXPECT_EQ(test->session_timeout_sec, 5u);
}

TEST(config_override, on_change_runs_once_per_applied_override_under_its_guard) {
    held<test_object> test(test_conf("").load());
    test_on_change_runs = 0;
    test_on_change_recurses = true;
    EXPECT_EQ(cv_uac_config_set_by_name(test.base(), "session_timeout_sec", "5", nullptr), 0u);
    // Its own override of `priority` runs it once more; the guard stops the third.
    EXPECT_EQ(test_on_change_runs, 2);
    EXPECT_EQ(test->priority, 3);
    test_on_change_recurses = false;
    EXPECT_EQ(cv_uac_config_set_by_name(test.base(), "name", "fail", nullptr), CV_E_NOT_ENABLED);
    EXPECT_STREQ(test->name, "fail");
}

TEST(config_override, checks_and_conversions_go_by_the_options_row) {
    held<test_object> test(test_conf("").load());
    cv_uac_class *cls = test->object.header.descriptor;
    const char *message = nullptr;
    EXPECT_EQ(cls->check_override_by_name(test.base(), "priority", "fast", &message), 22u);
    EXPECT_STREQ(message, "Lookup value not in list.  Acceptable values are:  any, high, fair");
    EXPECT_EQ(cls->check_override_by_name(test.base(), "priority", "High", &message), 0u);
    EXPECT_EQ(cls->check_override_by_name(test.base(), "session_timeout_sec", "CV_NULL", &message),
              0u);
    EXPECT_EQ(cls->check_override_by_name(test.base(), "nickname", "1", &message), 22u);

    char xml[CV_UAC_VALUE_TEXT_SIZE];
    ASSERT_EQ(
        cls->override_to_xml_by_name(test.base(), "cvshell_commands", ",a,b", xml, sizeof xml), 0u);
    EXPECT_STREQ(xml, "<command>a</command><command>b</command>");
    EXPECT_EQ(cls->override_to_xml_by_name(test.base(), "nickname", "a", xml, sizeof xml), 22u);
    EXPECT_STREQ(xml, "");

    EXPECT_EQ(cls->index_by_name(test.base(), "priority"), 5);
    EXPECT_EQ(cls->index_by_name(test.base(), "nickname"), 0);
    const char *description = nullptr;
    EXPECT_EQ(cls->get_description_by_name(test.base(), "priority", &description, nullptr), 0u);
    EXPECT_STREQ(description, "0");
}

TEST(config_warnings, are_kept_newest_first_and_logged) {
    warnings_list warnings;
    const std::string mark = captured::mark();
    add_warning(&warnings.head, CV_E_UAC_PARSE, "first %d", 1);
    add_warning_kind(&warnings.head, CV_E_INVALID, 0, "second");
    add_warning(nullptr, CV_E_INVALID, "dropped");
    ASSERT_EQ(cv_uac_warning_count(warnings.head), 2u);
    EXPECT_STREQ(warnings.head->text, "second");
    EXPECT_EQ(warnings.head->kind, 0);
    EXPECT_EQ(warnings.head->next->status, CV_E_UAC_PARSE);
    const std::string log = captured::since(mark);
    EXPECT_NE(log.find("corvane.conf parsing error: first 1"), std::string::npos);
    EXPECT_EQ(log.find("dropped"), std::string::npos);
}

TEST(config_warnings, findings_go_by_strictness) {
    warnings_list warnings;
    cv_status status = 0;
    const std::string mark = captured::mark();
    report_setting(0, &status, &warnings.head, "finding %s", "zero");
    report_setting(-1, &status, &warnings.head, "finding %s", "info");
    report_setting(-2, &status, &warnings.head, "finding %s", "debug");
    EXPECT_EQ(status, 22u);
    ASSERT_EQ(cv_uac_warning_count(warnings.head), 1u);
    EXPECT_STREQ(warnings.head->text, "finding zero");
    EXPECT_EQ(warnings.head->status, 22u);
    const std::string log = captured::since(mark);
    EXPECT_NE(log.find("Configuration: finding info"), std::string::npos);
    EXPECT_EQ(log.find("finding debug"), std::string::npos);  // verbosity is 0
}

}  // namespace
