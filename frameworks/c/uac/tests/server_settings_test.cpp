// Tests of the server settings: the lists a server carries through
// serialization and duplication, the database port that follows the
// database type, the value checks, several <server> elements across the
// main file and conf.d, and a server override written to conf.d.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "config_test_support.h"
#include "cv_test_temp_dir.h"
#include "uac/cv_uac_class_registry.h"
#include "uac/cv_uac_server.h"
#include "uac/cv_uac_server_classes.h"

namespace {

namespace fs = std::filesystem;

std::string fixture(const std::string &name) {
    return std::string(CV_TEST_DATA_DIR) + "/server_settings/" + name;
}

/* Owns a text the framework allocated. */
struct owned_text {
    char *text = nullptr;
    ~owned_text() { cv_uac_free(text); }
};

struct warnings_list {
    cv_uac_warning *head = nullptr;
    ~warnings_list() { cv_uac_free_warnings(&head); }
    std::vector<std::string> texts() const {
        std::vector<std::string> all;
        for (const cv_uac_warning *w = head; w; w = w->next) all.emplace_back(w->text);
        return all;
    }
};

held<cv_uac_server> server_of(const cv_uac_conf_set *set) {
    return held<cv_uac_server>(cv_uac_get_server_settings(set));
}

std::string serialized(cv_uac_config_object *object) {
    owned_text xml;
    EXPECT_EQ(cv_uac_server_serialize_to_xml(object, "", "  ", 0, nullptr, nullptr, &xml.text), 0u);
    return xml.text ? xml.text : "<null>";
}

std::string text_or_null(const char *text) { return text ? text : "<null>"; }

/* What a server's lists hold, one line per member. */
std::vector<std::string> lists_of(const cv_uac_server &server) {
    std::vector<std::string> lines;
    for (const cv_uac_provider *p = server.providers; p; p = p->next)
        lines.push_back("provider " + text_or_null(p->type) + " " + text_or_null(p->spec) + " " +
                        text_or_null(p->squash_user));
    for (const cv_uac_process *p = server.processes; p; p = p->next)
        lines.push_back("process " + text_or_null(p->start) + " | " + text_or_null(p->stop));
    for (const cv_uac_rproxy *r = server.rules; r; r = r->next) {
        std::string line = "rule " + text_or_null(r->host) + " " + std::to_string(r->proxy_port) +
                           " " + text_or_null(r->balancing);
        for (const std::string &host : items_of(r->hosts)) line += " " + host;
        lines.push_back(line);
    }
    return lines;
}

const std::vector<std::string> kThreeLists = {
    "provider ldap ldap://directory.example:389 <null>",
    "provider local <null> xfer",
    "process /opt/corvane/bin/cvkv start | /opt/corvane/bin/cvkv stop",
    "process /opt/corvane/bin/cvwatch | <null>",
    "rule edge-1.example 33002 <null> unused-when-host-given",
    "rule <null> 33001 round_robin edge-2.example edge-3.example",
};

TEST(server_settings, the_class_is_registered_with_its_flags_and_parent) {
    const cv_uac_class_entry *entry = cv_uac_registered_class("server");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->descriptor, &cv_uac_server_class);
    EXPECT_EQ(entry->option_count, 130u);
    ASSERT_EQ(cv_uac_class_init(&cv_uac_server_class), 0u);
    EXPECT_EQ(cv_uac_server_class.flags, 0x2010u);
    EXPECT_EQ(cv_uac_server_class.parent, &cv_uac_base_class);
    EXPECT_STREQ(cv_uac_server_class.name, "server");
}

TEST(server_settings, serialized_text_read_back_is_a_fixed_point_with_all_three_lists) {
    loaded_conf conf(fixture("three_lists.conf"));
    held<cv_uac_server> server = server_of(conf.set);
    ASSERT_NE(server.object, nullptr);
    ASSERT_EQ(lists_of(*server.object), kThreeLists);
    EXPECT_EQ(server->rproxy_rules_rule_proxy_port, 33002u);
    const std::string first = serialized(server.base());

    cv_uac_config_object *read = nullptr;
    ASSERT_EQ(cv_uac_server_from_fragment(&cv_uac_server_class, first.c_str(), &read), 0u)
        << first;
    held<cv_uac_config_object> copy(read);
    EXPECT_EQ(serialized(read), first);
    EXPECT_EQ(lists_of(*reinterpret_cast<cv_uac_server *>(read)), kThreeLists) << first;

    // One section per list; the first rule shares the element of the
    // server's rule options, so there is one <rule> more than sections.
    EXPECT_EQ(cv_test_log_capture::count(first, "<authentication>"), 1);
    EXPECT_EQ(cv_test_log_capture::count(first, "<provider>"), 2);
    EXPECT_EQ(cv_test_log_capture::count(first, "<processes>"), 1);
    EXPECT_EQ(cv_test_log_capture::count(first, "<process>"), 2);
    EXPECT_EQ(cv_test_log_capture::count(first, "<rule>"), 2);
    EXPECT_EQ(cv_test_log_capture::count(first, "<host>edge-1.example</host>"), 1);
    EXPECT_LT(first.find("<type>ldap</type>"), first.find("<type>local</type>"));
}

TEST(server_settings, a_duplicate_keeps_options_and_all_three_lists) {
    loaded_conf conf(fixture("three_lists.conf"));
    held<cv_uac_server> server = server_of(conf.set);
    ASSERT_NE(server.object, nullptr);
    cv_uac_config_object *made = nullptr;
    ASSERT_EQ(server->object.header.descriptor->duplicate(server.base(), &made), 0u);
    held<cv_uac_server> copy(reinterpret_cast<cv_uac_server *>(made));
    EXPECT_EQ(lists_of(*copy.object), kThreeLists);
    EXPECT_STREQ(copy->server_name, "node-a");
    EXPECT_EQ(copy->db_port, 36001u);
    EXPECT_STREQ(copy->rproxy_rules_rule_bind_source_address, "gw.example");
    EXPECT_EQ(copy->rproxy_enabled, 1);
    EXPECT_STREQ(copy->initd_user, "svc");
}

TEST(server_settings, processes_and_rules_are_written_without_any_provider) {
    loaded_conf conf(fixture("processes_and_rules.conf"));
    held<cv_uac_server> server = server_of(conf.set);
    ASSERT_NE(server.object, nullptr);
    ASSERT_EQ(server->providers, nullptr);
    const std::vector<std::string> expected = {
        "process /opt/corvane/bin/cvkv start | <null>",
        "rule <null> 33001 least_conn edge-4.example",
    };
    ASSERT_EQ(lists_of(*server.object), expected);
    EXPECT_EQ(serialized(server.base()),
              "<initd>\n"
              "  <processes>\n"
              "    <process>\n"
              "      <start>/opt/corvane/bin/cvkv start</start>\n"
              "    </process>\n"
              "  </processes>\n"
              "</initd>\n"
              "<rproxy>\n"
              "  <rules>\n"
              "    <rule>\n"
              "      <hosts><host>edge-4.example</host></hosts>\n"
              "      <balancing>least_conn</balancing>\n"
              "    </rule>\n"
              "  </rules>\n"
              "</rproxy>\n");

    cv_uac_config_object *made = nullptr;
    ASSERT_EQ(server->object.header.descriptor->duplicate(server.base(), &made), 0u);
    held<cv_uac_server> copy(reinterpret_cast<cv_uac_server *>(made));
    EXPECT_EQ(lists_of(*copy.object), expected);
}

TEST(server_settings, a_text_longer_than_the_first_buffer_is_written_whole) {
    // Long values in the options and in a provider, so that both the
    // options' text and the lists' part pass the first buffer's end.
    const std::string long_text(2 * CV_UAC_SERVER_SERIALIZE_BUFFER_SIZE, 'n');
    loaded_conf conf("<CONF version=\"2\"><server><cvtp_ciphers>" + long_text +
                     "</cvtp_ciphers><authentication><provider><spec>" + long_text +
                     "</spec></provider></authentication><initd><processes><process><start>" +
                     "last</start></process></processes></initd></server></CONF>");
    held<cv_uac_server> server = server_of(conf.set);
    ASSERT_NE(server.object, nullptr);
    const std::string text = serialized(server.base());
    EXPECT_NE(text.find("<cvtp_ciphers>" + long_text + "</cvtp_ciphers>"), std::string::npos);
    EXPECT_NE(text.find("<spec>" + long_text + "</spec>"), std::string::npos);
    EXPECT_TRUE(text.ends_with("<start>last</start>\n    </process>\n  </processes>\n</initd>\n"))
        << text.substr(text.size() - 200);
}

// ---- db_port -------------------------------------------------------------

struct db_port_case {
    const char *server;
    std::uint32_t port;
};

TEST(server_settings, db_port_follows_db_type_unless_given) {
    const db_port_case cases[] = {
        {"", 31415},
        {"<db_type>redis</db_type>", 31415},
        {"<db_type>shardkv</db_type>", 36001},
        {"<db_type>sharddb</db_type>", 36001},
        {"<db_type>ha_redis</db_type>", 31415},
        {"<db_type>redis</db_type><db_port>4000</db_port>", 4000},
        {"<db_type>shardkv</db_type><db_port>4000</db_port>", 4000},
        {"<db_port>shardkv default</db_port>", 36001},
    };
    for (const db_port_case &c : cases) {
        SCOPED_TRACE(c.server);
        loaded_conf conf(std::string("<CONF version=\"2\"><server>") + c.server +
                         "</server></CONF>");
        held<cv_uac_server> server = server_of(conf.set);
        ASSERT_NE(server.object, nullptr);
        EXPECT_EQ(server->db_port, c.port);
    }
    held<cv_uac_server> without_set = server_of(nullptr);
    ASSERT_NE(without_set.object, nullptr);
    EXPECT_EQ(without_set->db_port, 31415u);
}

TEST(server_settings, the_rule_says_what_it_does_from_verbosity_2) {
    const int verbosity = cv_log_verbosity;
    const int debug = cv_log_debug_enabled;
    cv_log_debug_enabled = 1;
    const std::string line =
        "Automatically setting db_port to \"shardkv default\" since FIELD(db_type)==1";
    for (int level : {1, 2}) {
        SCOPED_TRACE(level);
        cv_log_verbosity = level;
        const std::string mark = cv_test_log_capture::mark();
        loaded_conf conf("<CONF version=\"2\"><server><db_type>shardkv</db_type></server></CONF>");
        held<cv_uac_server> server = server_of(conf.set);
        EXPECT_EQ(cv_test_log_capture::count(cv_test_log_capture::since(mark), line),
                  level >= 2 ? 1 : 0);
    }
    cv_log_verbosity = verbosity;
    cv_log_debug_enabled = debug;
}

TEST(server_settings, the_derived_port_follows_later_changes_but_a_set_port_stays) {
    loaded_conf conf("<CONF version=\"2\"><server></server></CONF>");
    held<cv_uac_server> server = server_of(conf.set);
    ASSERT_NE(server.object, nullptr);
    ASSERT_EQ(cv_uac_config_set_by_name(server.base(), "db_type", "sharddb", nullptr), 0u);
    EXPECT_EQ(server->db_port, 36001u);
    // The derived value is no setting of its own: it is not written.
    EXPECT_EQ(serialized(server.base()).find("db_port"), std::string::npos);
    ASSERT_EQ(cv_uac_config_set_by_name(server.base(), "db_type", "redis", nullptr), 0u);
    EXPECT_EQ(server->db_port, 31415u);

    ASSERT_EQ(cv_uac_config_set_by_name(server.base(), "db_port", "4000", nullptr), 0u);
    ASSERT_EQ(cv_uac_config_set_by_name(server.base(), "db_type", "shardkv", nullptr), 0u);
    EXPECT_EQ(server->db_port, 4000u);
    EXPECT_NE(serialized(server.base()).find("<db_port>4000</db_port>"), std::string::npos);
}

// ---- validate --------------------------------------------------------------

struct check_case {
    const char *server;
    const char *message; /* null: no finding */
};

TEST(server_settings, each_check_fires_at_strictness_3_and_only_on_its_condition) {
    const check_case cases[] = {
        {"", nullptr},
        {"<http_port>9091</http_port><https_port>9091</https_port>",
         "HTTP and HTTPS port are the same (9091)"},
        {"<http_port>9092</http_port>", "HTTP and HTTPS port are the same (9092)"},
        {"<files_prefetch_count>0</files_prefetch_count>",
         "files_prefetch_count must be greater than 0"},
        {"<files_prefetch_count>1</files_prefetch_count>", nullptr},
        {"<files_max_count>0</files_max_count>", "files_max_count must be greater than 0"},
        {"<files_max_count>1</files_max_count>", nullptr},
    };
    for (const check_case &c : cases) {
        SCOPED_TRACE(c.server);
        loaded_conf conf(std::string("<CONF version=\"2\"><server>") + c.server +
                         "</server></CONF>");
        held<cv_uac_server> server = server_of(conf.set);
        ASSERT_NE(server.object, nullptr);
        warnings_list found;
        const cv_status status = server->object.header.descriptor->validate(server.base(),
                                                                           &found.head, 3);
        if (c.message) {
            EXPECT_EQ(status, 22u);
            EXPECT_EQ(found.texts(), std::vector<std::string>{c.message});
        } else {
            EXPECT_EQ(status, 0u);
            EXPECT_TRUE(found.texts().empty());
        }
    }
}

TEST(server_settings, strictness_sets_the_level_and_below_0_nothing_is_checked) {
    loaded_conf conf(
        "<CONF version=\"2\"><server><files_max_count>0</files_max_count></server></CONF>");
    held<cv_uac_server> server = server_of(conf.set);
    ASSERT_NE(server.object, nullptr);
    cv_uac_class *cls = server->object.header.descriptor;
    const std::string finding = "files_max_count must be greater than 0";

    for (std::int32_t strictness : {0, 3}) {
        warnings_list found;
        EXPECT_EQ(cls->validate(server.base(), &found.head, strictness), 22u) << strictness;
        EXPECT_EQ(found.texts(), std::vector<std::string>{finding}) << strictness;
    }
    // Level -1: an information line, no warning.
    std::string mark = cv_test_log_capture::mark();
    warnings_list at_four;
    EXPECT_EQ(cls->validate(server.base(), &at_four.head, 4), 0u);
    EXPECT_TRUE(at_four.texts().empty());
    EXPECT_EQ(cv_test_log_capture::count(cv_test_log_capture::since(mark),
                                         "Configuration: " + finding),
              1);
    // Below 0 the checks do not run at all.
    mark = cv_test_log_capture::mark();
    warnings_list below;
    EXPECT_EQ(cls->validate(server.base(), &below.head, -1), 0u);
    EXPECT_TRUE(below.texts().empty());
    EXPECT_EQ(cv_test_log_capture::since(mark).find(finding), std::string::npos);
}

// ---- several <server> elements, conf.d ---------------------------------------

TEST(server_settings, several_server_elements_resolve_in_the_order_of_the_set) {
    loaded_conf conf(fixture("main_and_conf_d/corvane.conf"), 0);
    ASSERT_NE(conf.set, nullptr);
    held<cv_uac_server> server = server_of(conf.set);
    ASSERT_NE(server.object, nullptr);
    EXPECT_EQ(server->http_port, 9100u);  // conf.d before the main file
    EXPECT_EQ(server->workers, 30u);      // the first <server> of the main file
    EXPECT_EQ(server->ssh_port, 2222u);   // only in the second one
    EXPECT_EQ(server->db_port, 6379u);
    EXPECT_EQ(server->https_port, 9092u);  // nowhere: the default
}

TEST(server_settings, an_override_written_to_conf_d_takes_effect_on_the_next_read) {
    temp_dir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string main = dir / "corvane.conf";
    fs::copy_file(fixture("main_and_conf_d/corvane.conf"), main);
    {
        loaded_conf conf(main, 0);
        held<cv_uac_server> server = server_of(conf.set);
        ASSERT_NE(server.object, nullptr);
        ASSERT_EQ(server->db_port, 6379u);
        ASSERT_EQ(cv_uac_config_write_conf_d_override(server.base(), nullptr, nullptr, "db_port",
                                                      "4000", main.c_str()),
                  0u);
        EXPECT_EQ(server->db_port, 4000u);
    }
    EXPECT_TRUE(fs::exists(dir / "conf.d/server_db_port.conf"));
    loaded_conf again(main, 0);
    held<cv_uac_server> server = server_of(again.set);
    ASSERT_NE(server.object, nullptr);
    EXPECT_EQ(server->db_port, 4000u);
    EXPECT_EQ(server->workers, 30u);
}

}  // namespace
