// Tests of the `user` class: its descriptor and defaults object, reading
// a user from its entries, the chunk size rule, duplicates, release of
// what a user holds, and conf.d overrides laid out where a user's entries
// are.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "config_test_support.h"
#include "cv_test_temp_dir.h"
#include "uac/cv_uac_class_registry.h"
#include "uac/cv_uac_user.h"

namespace {

struct owned_text {
    char *text = nullptr;
    ~owned_text() { cv_uac_free(text); }
};

std::string serialized(cv_uac_config_object *object, std::int32_t all = 0) {
    owned_text xml;
    EXPECT_EQ(object->header.descriptor->serialize(object, "", " ", all, nullptr, nullptr,
                                                   &xml.text),
              0u);
    return xml.text ? xml.text : "<null>";
}

/* The `user` elements of realm "corp" (or of the realm `realm`) in a
 * configuration, in search order. */
struct user_conf {
    loaded_conf conf;
    std::vector<xmlNode *> entries;
    explicit user_conf(const std::string &users, const std::string &realm = "corp")
        : conf("<CONF version=\"2\"><aaa><realms><realm><name>" + realm + "</name><users>" +
               users + "</users></realm></realms></aaa></CONF>") {
        collect();
    }
    explicit user_conf(loaded_conf &&) = delete;
    user_conf(const std::string &path, std::uint32_t flags) : conf(path, flags) { collect(); }
    void collect() {
        if (!conf.set) return;
        parse_xml_search_handle *handle = nullptr;
        for (xmlNode *node = parse_xml_get_first_matching_node_args(
                 conf.set->roots, &handle, PARSE_XML_TAG_aaa, PARSE_XML_TAG_realms,
                 PARSE_XML_TAG_realm, PARSE_XML_TAG_users, PARSE_XML_TAG_user, PARSE_XML_END);
             node; node = parse_xml_get_next_matching_node(handle, nullptr))
            entries.push_back(node);
        if (handle) (void)parse_xml_free_search_handle(handle);
        entries.push_back(nullptr);
    }
    held<cv_uac_user> load() {
        cv_uac_user *user = nullptr;
        EXPECT_EQ(cv_uac_load_user(conf.set, entries.size() > 1 ? entries.data() : nullptr,
                                   nullptr, nullptr, 0, &user),
                  0u);
        return held<cv_uac_user>(user);
    }
};

TEST(user_class, is_registered_with_its_name_flags_and_172_options) {
    const cv_uac_class_entry *entry = cv_uac_registered_class("user");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->descriptor, &cv_uac_user_class);
    EXPECT_EQ(entry->option_count, 172u);
    ASSERT_EQ(cv_uac_class_init(&cv_uac_user_class), 0u);
    EXPECT_EQ(cv_uac_user_class.flags, 0x30u);
    EXPECT_STREQ(cv_uac_user_class.name, "user");
}

TEST(user_class, the_defaults_object_holds_each_options_parsed_default) {
    const cv_uac_user *defaults = cv_uac_user_defaults();
    ASSERT_NE(defaults, nullptr);
    EXPECT_EQ(defaults, cv_uac_user_defaults()) << "one defaults object for the process";
    EXPECT_EQ(defaults->transfer_in_bandwidth_flow_target_rate_default, 10000000u);
    EXPECT_EQ(defaults->transfer_in_bandwidth_flow_target_rate_cap, 0x3E7FFFFFFFFFFC18u);
    EXPECT_EQ(defaults->token_life_seconds, 86400u);
    EXPECT_EQ(defaults->token_encryption_type, 16);
    EXPECT_EQ(defaults->file_create_mode, 0xFFFFFFFFu);
    EXPECT_EQ(defaults->file_create_grant_mask, 0644u);
    EXPECT_EQ(defaults->use_stgl, -1);
    EXPECT_EQ(defaults->transfer_encryption_allowed_cipher, -1);
    EXPECT_EQ(defaults->session_timeout_sec, 60u);
    EXPECT_EQ(defaults->cvsync_enabled, 1);
    EXPECT_DOUBLE_EQ(defaults->precedence, 1000.0);
    EXPECT_EQ(defaults->stgl_cmd_timeout.seconds, 600);
    EXPECT_EQ(defaults->time_test.seconds, 5400);
    EXPECT_EQ(defaults->name, nullptr);
    EXPECT_EQ(defaults->additional_shell_calls, nullptr);
    EXPECT_EQ(defaults->object.warnings, nullptr) << defaults->object.warnings->text;

    // The notes: only user_value has one.
    auto *object = const_cast<cv_uac_config_object *>(&defaults->object);
    const char *note = nullptr;
    ASSERT_EQ(cv_uac_user_class.get_description_by_name(object, "user_value", &note, nullptr), 0u);
    EXPECT_STREQ(note, "\"64 bit value for application use\"");
    ASSERT_EQ(cv_uac_user_class.get_description_by_name(object, "cvsync_enabled", &note, nullptr),
              0u);
    EXPECT_STREQ(note, "0");
}

TEST(user_class, an_entry_without_options_reads_as_the_defaults) {
    user_conf conf("<user></user>");
    held<cv_uac_user> user = conf.load();
    ASSERT_NE(user.object, nullptr);
    EXPECT_EQ(serialized(user.base(), 1),
              serialized(const_cast<cv_uac_config_object *>(&cv_uac_user_defaults()->object), 1));
    EXPECT_STREQ(user->realm, "corp") << "the realm is two levels above the entry";
}

TEST(user_class, reads_the_realm_two_levels_up_and_the_extra_commands_in_order) {
    user_conf conf(
        "<user><name>alice</name><realm>not this</realm><cvshell_commands>"
        "<command>b --x</command><command>a</command><command>!c</command>"
        "</cvshell_commands></user>",
        "partners");
    held<cv_uac_user> user = conf.load();
    EXPECT_STREQ(user->name, "alice");
    EXPECT_STREQ(user->realm, "partners");
    EXPECT_EQ(items_of(user->additional_shell_calls),
              (std::vector<std::string>{"b --x", "a", "!c"}));
}

struct chunk_case {
    const char *options;
    std::uint32_t protocol;
    std::uint32_t stgl;
};

TEST(user_on_change, the_storage_chunk_size_follows_the_protocols_unless_given) {
    const chunk_case cases[] = {
        {"", 0, 0},
        {"<transfer><protocol_options><chunk_size>4096</chunk_size></protocol_options></transfer>",
         4096, 4096},
        {"<transfer><protocol_options><chunk_size>4096</chunk_size></protocol_options></transfer>"
         "<stgl><chunk_size>512</chunk_size></stgl>",
         4096, 512},
        {"<stgl><chunk_size>512</chunk_size></stgl>", 0, 512},
    };
    for (const chunk_case &c : cases) {
        SCOPED_TRACE(c.options);
        user_conf conf(std::string("<user>") + c.options + "</user>");
        held<cv_uac_user> user = conf.load();
        EXPECT_EQ(user->transfer_protocol_options_chunk_size, c.protocol);
        EXPECT_EQ(user->stgl_chunk_size, c.stgl);
    }
}

TEST(user_on_change, an_override_of_either_size_keeps_the_rule) {
    user_conf conf("<user></user>");
    held<cv_uac_user> user = conf.load();
    ASSERT_EQ(cv_uac_config_set_by_name(user.base(), "transfer_protocol_options_chunk_size",
                                        "8192", nullptr),
              0u);
    EXPECT_EQ(user->stgl_chunk_size, 8192u);
    // A storage size of its own is kept through later changes.
    ASSERT_EQ(cv_uac_config_set_by_name(user.base(), "stgl_chunk_size", "1024", nullptr), 0u);
    ASSERT_EQ(cv_uac_config_set_by_name(user.base(), "transfer_protocol_options_chunk_size",
                                        "2048", nullptr),
              0u);
    EXPECT_EQ(user->stgl_chunk_size, 1024u);
    EXPECT_EQ(user->transfer_protocol_options_chunk_size, 2048u);
}

TEST(user_duplicate, equals_the_original_and_is_independent_of_it) {
    user_conf conf(
        "<user><name>alice</name><session_timeout_sec>120</session_timeout_sec>"
        "<cvshell_commands><command>a &amp; b</command></cvshell_commands>"
        "<transfer><in><bandwidth><flow><target_rate><cap>500</cap></target_rate></flow>"
        "</bandwidth></in></transfer></user>");
    held<cv_uac_user> user = conf.load();
    cv_uac_config_object *made = nullptr;
    ASSERT_EQ(cv_uac_user_class.duplicate(user.base(), &made), 0u);
    held<cv_uac_user> copy(reinterpret_cast<cv_uac_user *>(made));
    EXPECT_EQ(serialized(copy.base(), 1), serialized(user.base(), 1));
    std::size_t count = 0;
    const cv_uac_generic_entry *original = cv_uac_user_class.get_generic_form(user.base(), &count);
    const cv_uac_generic_entry *copied = cv_uac_user_class.get_generic_form(copy.base(), nullptr);
    ASSERT_EQ(count, 172u);
    for (std::size_t i = 0; i < count; ++i) {
        SCOPED_TRACE(original[i].name);
        owned_text a, b;
        ASSERT_EQ(cv_uac_type_write_alloc(original[i].type, original[i].value, original[i].lookup,
                                          &a.text),
                  0u);
        ASSERT_EQ(cv_uac_type_write_alloc(copied[i].type, copied[i].value, copied[i].lookup,
                                          &b.text),
                  0u);
        EXPECT_STREQ(b.text, a.text);
    }
    EXPECT_STREQ(copy->realm, "corp") << "a value the text leaves out is carried over";
    EXPECT_EQ(copy->transfer_in_bandwidth_flow_target_rate_cap, 500000u);
    EXPECT_EQ(items_of(copy->additional_shell_calls), std::vector<std::string>{"a & b"});
    ASSERT_EQ(cv_uac_config_set_by_name(copy.base(), "name", "bob", nullptr), 0u);
    EXPECT_STREQ(user->name, "alice");
}

TEST(user_duplicate, a_text_beyond_the_scratch_size_is_copied_whole) {
    const std::string long_name(30000, 'n');
    user_conf conf("<user><name>" + long_name + "</name></user>");
    held<cv_uac_user> user = conf.load();
    ASSERT_EQ(std::string(user->name), long_name);
    cv_uac_config_object *made = nullptr;
    ASSERT_EQ(cv_uac_user_class.duplicate(user.base(), &made), 0u);
    held<cv_uac_user> copy(reinterpret_cast<cv_uac_user *>(made));
    EXPECT_EQ(std::string(copy->name), long_name);
}

TEST(user_release, lets_go_of_the_attached_trunks_and_logging) {
    // The defaults object, and what its build step attached, live for the
    // process: build them before counting.
    ASSERT_NE(cv_uac_user_defaults(), nullptr);
    const std::int32_t before = cv_uac_config_object_count();
    {
        user_conf conf("<user><name>alice</name></user>");
        held<cv_uac_user> user = conf.load();
        // The build step attached both trunks and the logging object.
        ASSERT_NE(user->in_trunk, nullptr);
        ASSERT_NE(user->out_trunk, nullptr);
        ASSERT_NE(user->logging, nullptr);
        EXPECT_EQ(cv_uac_config_object_count(), before + 4);
    }
    EXPECT_EQ(cv_uac_config_object_count(), before);
    // The defaults object is never released.
    cv_uac_config_release(&cv_uac_user_defaults()->object);
    EXPECT_EQ(cv_uac_user_defaults()->session_timeout_sec, 60u);
}

TEST(user_conf_d, an_override_is_laid_out_where_the_users_entries_are) {
    temp_dir dir;
    const std::string main = dir / "corvane.conf";
    std::ofstream(main) << "<CONF version=\"2\"><aaa><realms><realm><name>corp</name><users>"
                           "<user><name>alice</name><cvsync_enabled>false</cvsync_enabled>"
                           "<session_timeout_sec>30</session_timeout_sec></user>"
                           "</users></realm></realms></aaa></CONF>\n";
    {
        user_conf conf(main, 0);
        held<cv_uac_user> user = conf.load();
        ASSERT_EQ(user->session_timeout_sec, 30u);
        ASSERT_EQ(cv_uac_config_write_conf_d_override(user.base(), nullptr, nullptr,
                                                      "session_timeout_sec", "90", main.c_str()),
                  0u);
        EXPECT_EQ(read_file(dir / "conf.d/user_session_timeout_sec@alice@corp.conf"),
                  "<CONF version=\"2\">\n"
                  "   <aaa>\n"
                  "      <realms>\n"
                  "         <realm>\n"
                  "            <users>\n"
                  "               <user>\n"
                  "                  <name>alice</name>\n"
                  "                  <session_timeout_sec fitness=\"2147483647\">"
                  "90</session_timeout_sec>\n"
                  "               </user>\n"
                  "            </users>\n"
                  "            <name>corp</name>\n"
                  "         </realm>\n"
                  "      </realms>\n"
                  "   </aaa>\n"
                  "</CONF>\n");
    }
    user_conf again(main, 0);
    held<cv_uac_user> user = again.load();
    EXPECT_EQ(user->session_timeout_sec, 90u);
    EXPECT_EQ(user->cvsync_enabled, 0) << "the main file's other values still hold";
    EXPECT_STREQ(user->realm, "corp");
}

TEST(user_conf_d, a_user_without_a_realm_is_told_apart_by_name_alone) {
    temp_dir dir;
    const std::string main = dir / "corvane.conf";
    std::ofstream(main) << "<CONF version=\"2\"/>\n";
    held<cv_uac_user> user = user_conf("<user></user>").load();
    ASSERT_EQ(cv_uac_config_set_by_name(user.base(), "name", "bob", nullptr), 0u);
    ASSERT_EQ(cv_uac_config_set_by_name(user.base(), "realm", "CV_NULL", nullptr), 0u);
    ASSERT_EQ(user->realm, nullptr);
    ASSERT_EQ(cv_uac_config_write_conf_d_override(user.base(), nullptr, nullptr, "cvsync_enabled",
                                                  "false", main.c_str()),
              0u);
    const std::string text = read_file(dir / "conf.d/user_cvsync_enabled@bob.conf");
    EXPECT_EQ(text,
              "<CONF version=\"2\">\n"
              "   <aaa>\n"
              "      <realms>\n"
              "         <realm>\n"
              "            <users>\n"
              "               <user>\n"
              "                  <name>bob</name>\n"
              "                  <cvsync_enabled fitness=\"2147483647\">false</cvsync_enabled>\n"
              "               </user>\n"
              "            </users>\n"
              "         </realm>\n"
              "      </realms>\n"
              "   </aaa>\n"
              "</CONF>\n");

    // Without a name there is nothing to tell the user apart by.
    held<cv_uac_user> nameless = user_conf("<user></user>").load();
    EXPECT_EQ(cv_uac_config_write_conf_d_override(nameless.base(), nullptr, nullptr,
                                                  "cvsync_enabled", "false", main.c_str()),
              22u);
}

}  // namespace
