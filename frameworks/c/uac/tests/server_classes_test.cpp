// The server-side classes: the provider, process and rule lists in document
// order (with and without a type filter), the release of a list through its
// head, the rule and HTTP port checks, the expansion of the central server's
// paths and of the client's key path, and defaults read from the rows.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "config_test_support.h"
#include "cv_test_temp_dir.h"
#include "cvplatform/cv_containers.h"
#include "uac/cv_uac_class_registry.h"
#include "uac/cv_uac_server_classes.h"

namespace {

std::string fixture(const std::string &name) {
    return std::string(CV_TEST_DATA_DIR) + "/server_classes/" + name;
}

std::string text_of(const char *text) { return text ? text : "<null>"; }

std::vector<std::string> texts_of(const cv_uac_warning *warnings) {
    std::vector<std::string> texts;
    for (; warnings; warnings = warnings->next) texts.emplace_back(warnings->text);
    return texts;
}

/* A string variable tree. */
struct variables {
    cv_btree *tree = nullptr;
    variables(std::initializer_list<std::pair<const char *, const char *>> entries) {
        EXPECT_EQ(cv_btree_create_strings(&tree), 0u);
        for (const auto &[name, value] : entries) EXPECT_EQ(cv_btree_set(tree, name, value), 0u);
    }
    ~variables() { (void)cv_btree_destroy(tree, nullptr); }
    variables(const variables &) = delete;
    variables &operator=(const variables &) = delete;
};

// ---- the lists -----------------------------------------------------------

std::vector<std::string> provider_types(const cv_uac_provider *head) {
    std::vector<std::string> types;
    for (; head; head = head->next) types.push_back(text_of(head->type));
    return types;
}

TEST(provider_list, every_provider_of_every_server_in_document_order) {
    loaded_conf conf(fixture("lists.conf"));
    ASSERT_NE(conf.set, nullptr);
    cv_uac_provider *head = nullptr;
    ASSERT_EQ(cv_uac_get_provider_list(conf.set, nullptr, nullptr, &head), 0u);
    held<cv_uac_provider> list(head);
    // The provider outside <authentication> is no member; "local" is trimmed.
    EXPECT_EQ(provider_types(head), (std::vector<std::string>{"ldap", "local", "ldap-backup"}));
    EXPECT_EQ(text_of(head->spec), "ldap://directory.example");
    EXPECT_EQ(text_of(head->next->squash_user), "xfer");
    EXPECT_EQ(text_of(head->next->next->spec), "ldap://backup.example");
}

TEST(provider_list, a_type_filter_takes_the_matching_providers_in_order) {
    loaded_conf conf(fixture("lists.conf"));
    ASSERT_NE(conf.set, nullptr);
    const struct {
        const char *filter;
        std::vector<std::string> types;
    } cases[] = {
        {"ldap*", {"ldap", "ldap-backup"}},
        {"local", {"local"}},  // compared with the trimmed text
        {"*", {"ldap", "local", "ldap-backup"}},
        {"LDAP", {"<default>"}},  // case counts
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.filter);
        cv_uac_provider *head = nullptr;
        ASSERT_EQ(cv_uac_get_provider_list(conf.set, nullptr, c.filter, &head), 0u);
        held<cv_uac_provider> list(head);
        if (c.types.front() == "<default>") {
            ASSERT_NE(head, nullptr);
            EXPECT_EQ(head->next, nullptr);
            EXPECT_EQ(text_of(head->type), c.filter);
            EXPECT_EQ(head->spec, nullptr);
        } else {
            EXPECT_EQ(provider_types(head), c.types);
        }
    }
}

TEST(provider_list, a_filter_that_matches_nothing_is_the_type_of_one_default_provider) {
    loaded_conf conf(fixture("lists.conf"));
    ASSERT_NE(conf.set, nullptr);
    // A text set_by_name would otherwise read as a condition is kept
    // exactly.
    for (const char *filter : {"kerberos", "a&b<c>", "?ldap:local", "?!?:x", "?"}) {
        SCOPED_TRACE(filter);
        cv_uac_provider *head = nullptr;
        ASSERT_EQ(cv_uac_get_provider_list(conf.set, nullptr, filter, &head), 0u);
        held<cv_uac_provider> list(head);
        ASSERT_NE(head, nullptr);
        EXPECT_EQ(head->next, nullptr);
        EXPECT_EQ(text_of(head->type), filter);
        EXPECT_EQ(head->squash_user, nullptr);
        EXPECT_EQ(head->object.warnings, nullptr);
    }
    // "CV_NULL" would set no type at all: refused, and no list.
    cv_uac_provider *none = reinterpret_cast<cv_uac_provider *>(&conf);
    EXPECT_EQ(cv_uac_get_provider_list(conf.set, nullptr, "CV_NULL", &none), 22u);
    EXPECT_EQ(none, nullptr);
    // Without a configuration nothing matches either.
    cv_uac_provider *head = nullptr;
    ASSERT_EQ(cv_uac_get_provider_list(nullptr, nullptr, "ldap", &head), 0u);
    held<cv_uac_provider> list(head);
    EXPECT_EQ(provider_types(head), (std::vector<std::string>{"ldap"}));
}

TEST(server_lists, processes_and_rules_in_document_order) {
    loaded_conf conf(fixture("lists.conf"));
    ASSERT_NE(conf.set, nullptr);
    cv_uac_process *processes = nullptr;
    ASSERT_EQ(cv_uac_get_process_list(conf.set, nullptr, &processes), 0u);
    held<cv_uac_process> process_list(processes);
    ASSERT_NE(processes, nullptr);
    ASSERT_NE(processes->next, nullptr);
    EXPECT_EQ(processes->next->next, nullptr);
    EXPECT_EQ(text_of(processes->start), "bin/cvnoded start");
    EXPECT_EQ(text_of(processes->stop), "bin/cvnoded stop");
    EXPECT_EQ(text_of(processes->next->start), "bin/cvsyncd start");
    EXPECT_EQ(text_of(processes->next->status), "bin/cvsyncd status");
    EXPECT_EQ(processes->next->stop, nullptr);

    cv_uac_rproxy *rules = nullptr;
    ASSERT_EQ(cv_uac_get_rproxy_rules(conf.set, nullptr, &rules), 0u);
    held<cv_uac_rproxy> rule_list(rules);
    std::vector<std::string> seen;
    for (const cv_uac_rproxy *rule = rules; rule; rule = rule->next)
        seen.push_back(std::to_string(rule->proxy_port) + " " + text_of(rule->host) + " " +
                       text_of(rule->balancing) + " " + text_of(rule->keyfile));
    // The rule under <proxy> is no rproxy rule; an unset port is 33001.
    EXPECT_EQ(seen, (std::vector<std::string>{"33002 10.0.0.2 <null> <null>",
                                              "33001 <null> round_robin <null>",
                                              "33001 <null> <null> etc/rproxy.key"}));
    EXPECT_EQ(items_of(rules->next->hosts), (std::vector<std::string>{"10.0.0.3", "10.0.0.4"}));
}

TEST(server_lists, a_configuration_without_list_elements_gives_empty_lists) {
    loaded_conf conf("<CONF version=\"2\"><server><rproxy><enabled>true</enabled></rproxy>"
                     "</server></CONF>");
    ASSERT_NE(conf.set, nullptr);
    for (const cv_uac_conf_set *set : {static_cast<const cv_uac_conf_set *>(conf.set),
                                       static_cast<const cv_uac_conf_set *>(nullptr)}) {
        cv_uac_provider *providers = reinterpret_cast<cv_uac_provider *>(&conf);
        cv_uac_process *processes = reinterpret_cast<cv_uac_process *>(&conf);
        cv_uac_rproxy *rules = reinterpret_cast<cv_uac_rproxy *>(&conf);
        EXPECT_EQ(cv_uac_get_provider_list(set, nullptr, nullptr, &providers), 0u);
        EXPECT_EQ(cv_uac_get_process_list(set, nullptr, &processes), 0u);
        EXPECT_EQ(cv_uac_get_rproxy_rules(set, nullptr, &rules), 0u);
        EXPECT_EQ(providers, nullptr);
        EXPECT_EQ(processes, nullptr);
        EXPECT_EQ(rules, nullptr);
    }
    EXPECT_EQ(cv_uac_get_provider_list(conf.set, nullptr, nullptr, nullptr), 22u);
    EXPECT_EQ(cv_uac_get_process_list(conf.set, nullptr, nullptr), 22u);
    EXPECT_EQ(cv_uac_get_rproxy_rules(conf.set, nullptr, nullptr), 22u);
}

// The sanitizer build's leak check shows that releasing the head frees
// every member; a member another holder keeps outlives the head with its
// tail.
TEST(server_lists, releasing_the_head_releases_the_list_but_not_a_held_member) {
    loaded_conf conf(fixture("lists.conf"));
    ASSERT_NE(conf.set, nullptr);
    cv_uac_provider *head = nullptr;
    ASSERT_EQ(cv_uac_get_provider_list(conf.set, nullptr, nullptr, &head), 0u);
    ASSERT_EQ(provider_types(head).size(), 3u);
    cv_uac_provider *second = head->next;
    cv_uac_config_hold(&second->object);
    cv_uac_config_release(&head->object);
    EXPECT_EQ(provider_types(second), (std::vector<std::string>{"local", "ldap-backup"}));
    cv_uac_config_release(&second->object);

    cv_uac_rproxy *rules = nullptr;
    ASSERT_EQ(cv_uac_get_rproxy_rules(conf.set, nullptr, &rules), 0u);
    cv_uac_config_release(&rules->object);
    cv_uac_process *processes = nullptr;
    ASSERT_EQ(cv_uac_get_process_list(conf.set, nullptr, &processes), 0u);
    cv_uac_config_release(&processes->object);
}

TEST(server_lists, a_duplicate_of_a_member_is_that_member_alone) {
    loaded_conf conf(fixture("lists.conf"));
    ASSERT_NE(conf.set, nullptr);
    cv_uac_rproxy *rules = nullptr;
    ASSERT_EQ(cv_uac_get_rproxy_rules(conf.set, nullptr, &rules), 0u);
    held<cv_uac_rproxy> list(rules);
    cv_uac_config_object *copy = nullptr;
    ASSERT_EQ(rules->next->object.header.descriptor->duplicate(&rules->next->object, &copy), 0u);
    held<cv_uac_rproxy> second(reinterpret_cast<cv_uac_rproxy *>(copy));
    EXPECT_EQ(second->next, nullptr);
    EXPECT_EQ(text_of(second->balancing), "round_robin");
    EXPECT_EQ(items_of(second->hosts), (std::vector<std::string>{"10.0.0.3", "10.0.0.4"}));
}

// ---- the checks ------------------------------------------------------------

/* A rule read from the XML of one <rule> element's content. */
cv_uac_rproxy *rule_from(const std::string &content) {
    cv_uac_config_object *object = nullptr;
    EXPECT_EQ(cv_uac_config_from_fragment(&cv_uac_rproxy_class, content.c_str(), &object), 0u);
    return reinterpret_cast<cv_uac_rproxy *>(object);
}

constexpr const char *kNoHost = "if load balancing is off then host has to be valid";

TEST(rproxy_validate, a_rule_needs_a_host_or_balancing_over_hosts) {
    const std::string two_hosts = "<hosts><host>a</host><host>b</host></hosts>";
    const struct {
        const char *name;
        std::string content;
        bool reported;
    } cases[] = {
        {"nothing", "", true},
        {"balancing without hosts", "<balancing>round_robin</balancing>", true},
        {"hosts without balancing", two_hosts, true},
        {"an empty host", "<host> </host>", true},
        {"balancing over two hosts", "<balancing>round_robin</balancing>" + two_hosts, false},
        {"a host", "<host>10.0.0.2</host>", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        held<cv_uac_rproxy> rule(rule_from(c.content));
        ASSERT_NE(rule.object, nullptr);
        cv_uac_warning *warnings = nullptr;
        const cv_status status = cv_uac_rproxy_class.validate(rule.base(), &warnings, 3);
        EXPECT_EQ(status, c.reported ? 22u : 0u);
        EXPECT_EQ(texts_of(warnings),
                  c.reported ? std::vector<std::string>{kNoHost} : std::vector<std::string>{});
        cv_uac_free_warnings(&warnings);
    }
}

TEST(http_server_validate, equal_ports_are_reported) {
    held<cv_uac_http_server> same;
    {
        cv_uac_config_object *object = nullptr;
        ASSERT_EQ(cv_uac_config_from_fragment(&cv_uac_http_server_class,
                                              "<https_port>8080</https_port>", &object),
                  0u);
        same.object = reinterpret_cast<cv_uac_http_server *>(object);
    }
    cv_uac_warning *warnings = nullptr;
    EXPECT_EQ(cv_uac_http_server_class.validate(same.base(), &warnings, 3), 22u);
    EXPECT_EQ(texts_of(warnings),
              (std::vector<std::string>{"HTTP and HTTPS port are the same (8080)"}));
    cv_uac_free_warnings(&warnings);

    // The defaults (8080 and 8443) are sound.
    cv_uac_config_object *defaults = nullptr;
    ASSERT_EQ(cv_uac_config_from_fragment(&cv_uac_http_server_class, "", &defaults), 0u);
    held<cv_uac_config_object> sound(defaults);
    EXPECT_EQ(cv_uac_http_server_class.validate(defaults, &warnings, 3), 0u);
    EXPECT_EQ(warnings, nullptr);
}

TEST(server_validate, the_strictness_sets_where_a_finding_goes) {
    held<cv_uac_rproxy> rule(rule_from(""));
    ASSERT_NE(rule.object, nullptr);
    // Strictness 0 to 3 give levels 3 to 0: the warning list.
    for (std::int32_t strictness : {0, 3}) {
        cv_uac_warning *warnings = nullptr;
        EXPECT_EQ(cv_uac_rproxy_class.validate(rule.base(), &warnings, strictness), 22u);
        EXPECT_EQ(cv_uac_warning_count(warnings), 1u);
        cv_uac_free_warnings(&warnings);
    }
    // Strictness 4 gives level -1: an information line, no warning.
    const std::string mark = cv_test_log_capture::mark();
    cv_uac_warning *warnings = nullptr;
    EXPECT_EQ(cv_uac_rproxy_class.validate(rule.base(), &warnings, 4), 0u);
    EXPECT_EQ(warnings, nullptr);
    EXPECT_EQ(cv_test_log_capture::count(cv_test_log_capture::since(mark),
                                         std::string("Configuration: ") + kNoHost),
              1);
    // A negative strictness checks nothing.
    const std::string quiet = cv_test_log_capture::mark();
    EXPECT_EQ(cv_uac_rproxy_class.validate(rule.base(), &warnings, -1), 0u);
    EXPECT_EQ(warnings, nullptr);
    EXPECT_EQ(cv_test_log_capture::count(cv_test_log_capture::since(quiet), kNoHost), 0);
}

// ---- the single objects ------------------------------------------------------

/* The root elements named `tag` of the services fixture. */
struct services {
    loaded_conf conf{fixture("services.conf")};
    xmlNode *start[2] = {nullptr, nullptr};
    xmlNode *const *of(std::int32_t tag) {
        start[0] = conf.set ? parse_xml_get_first_matching_node_args(conf.set->roots, nullptr,
                                                                     tag, PARSE_XML_END)
                            : nullptr;
        EXPECT_NE(start[0], nullptr);
        return start;
    }
};

TEST(central_server, its_paths_are_expanded_and_a_failure_logged) {
    services conf;
    variables vars{{"store_root", "/var/lib/corvane"}};
    const std::string mark = cv_test_log_capture::mark();
    cv_uac_central_server *made = nullptr;
    ASSERT_EQ(cv_uac_load_central_server(conf.conf.set, conf.of(PARSE_XML_TAG_central_server),
                                         vars.tree, 0, &made),
              0u);
    held<cv_uac_central_server> server(made);
    EXPECT_STREQ(server->expanded_persistent_store_path, "/var/lib/corvane/store.db");
    // The path that cannot be expanded leaves its buffer empty and its text.
    EXPECT_STREQ(server->expanded_transfer_list_path, "");
    EXPECT_EQ(text_of(server->transfer_list_path), "$(no_such_variable)/transfers");
    EXPECT_EQ(cv_test_log_capture::count(
                  cv_test_log_capture::since(mark),
                  "Unable to parse transfer list path $(no_such_variable)/transfers."),
              1);
    EXPECT_EQ(server->db_journal, 2);
}

TEST(client, a_key_path_in_the_home_folder_is_expanded) {
    services conf;
    variables vars{{"home", "/home/alice"}, {"keys", "/etc/keys"}};
    cv_uac_client *made = nullptr;
    ASSERT_EQ(cv_uac_load_client(conf.conf.set, conf.of(PARSE_XML_TAG_client), vars.tree, 0,
                                 &made),
              0u);
    held<cv_uac_client> client(made);
    EXPECT_STREQ(client->expanded_ssh_key, "/home/alice/.ssh/id_ed25519");
    EXPECT_EQ(client->transport_cipher, 9);

    // Each change expands the key path again.
    const struct {
        const char *text;
        const char *expanded;
    } cases[] = {
        {"$(keys)/id_rsa", "/etc/keys/id_rsa"},
        {"~keys/id", "~keys/id"},  // only "~/" is the home folder
        {"/srv/id", "/srv/id"},
        {"CV_NULL", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_EQ(cv_uac_config_set_by_name(client.base(), "ssh_key", c.text, nullptr), 0u);
        EXPECT_STREQ(client->expanded_ssh_key, c.expanded);
    }
    EXPECT_EQ(client->object.warnings, nullptr);

    ASSERT_EQ(cv_uac_config_set_by_name(client.base(), "ssh_key", "~/$(no_such_variable)", nullptr),
              0u);
    EXPECT_STREQ(client->expanded_ssh_key, "");
    ASSERT_NE(client->object.warnings, nullptr);
    EXPECT_STREQ(client->object.warnings->text, "Unable to parse path string");
    EXPECT_EQ(client->object.warnings->status, 2u);
}

TEST(server_classes, defaults_and_values_read_from_the_rows) {
    services conf;
    cv_uac_database *made = nullptr;
    ASSERT_EQ(cv_uac_load_database(conf.conf.set, conf.of(PARSE_XML_TAG_database), nullptr, 0,
                                   &made),
              0u);
    held<cv_uac_database> database(made);
    EXPECT_EQ(text_of(database->server), "db.example");
    EXPECT_EQ(database->port, 3306u);
    EXPECT_EQ(database->buffer_capacity, 0xFFFFFFFFu);  // "Unlimited"
    EXPECT_EQ(text_of(database->adapter), "mysql");
    EXPECT_EQ(cv_uac_database_defaults()->buffer_capacity, 150000u);

    const cv_uac_central_server *central = cv_uac_central_server_defaults();
    ASSERT_NE(central, nullptr);
    EXPECT_EQ(central->persistent_store_max_age, 86400u);
    EXPECT_EQ(central->event_buffer_overrun, 1);  // "block"
    EXPECT_EQ(text_of(central->transfer_list_path), "");

    const cv_uac_http_server *http = cv_uac_http_server_defaults();
    ASSERT_NE(http, nullptr);
    EXPECT_EQ(text_of(http->bind_address), "0.0.0.0");
    EXPECT_EQ(http->https_port, 8443u);

    const cv_uac_client *client = cv_uac_client_defaults();
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(client->transport_cipher, 1);  // "aes-128"
    EXPECT_EQ(client->ssl_protocol, 3);      // "tlsv1"
    EXPECT_STREQ(client->expanded_ssh_key, "");
}

TEST(server_classes, each_is_registered_with_its_flags) {
    const struct {
        const char *name;
        std::uint32_t flags;
        std::size_t options;
    } cases[] = {
        {"provider", 0x4000, 3},     {"process", 0x8000, 4},      {"rproxy", 0x20000, 7},
        {"database", 0x100, 21},     {"central_server", 0x200, 23}, {"http_server", 0x400, 12},
        {"client", 0x40000, 10},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const cv_uac_class_entry *entry = cv_uac_registered_class(c.name);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->option_count, c.options);
        ASSERT_NE(cv_uac_class_defaults(entry->descriptor), nullptr);
        EXPECT_EQ(entry->descriptor->flags, c.flags | CV_UAC_BASE_CLASS_FLAGS);
    }
}

// ---- conf.d overrides -------------------------------------------------------

/* An etc folder whose corvane.conf is a copy of fixture `name`. */
struct installation {
    temp_dir dir;
    std::string main;
    explicit installation(const std::string &name) : main(dir / "corvane.conf") {
        std::filesystem::copy_file(fixture(name), main);
    }
    std::string conf_d(const std::string &file) const { return dir / ("conf.d/" + file); }
};

/* The http_server read from every root http_server element of `set`. */
held<cv_uac_http_server> http_server_of(const cv_uac_conf_set *set) {
    xmlNode *found[CV_UAC_MAX_FOUND_NODES + 1] = {};
    std::size_t count = 0;
    parse_xml_search_handle *handle = nullptr;
    for (xmlNode *node = parse_xml_get_first_matching_node_args(
             set->roots, &handle, PARSE_XML_TAG_http_server, PARSE_XML_END);
         node && count < CV_UAC_MAX_FOUND_NODES;
         node = parse_xml_get_next_matching_node(handle, nullptr))
        found[count++] = node;
    if (handle) (void)parse_xml_free_search_handle(handle);
    cv_uac_http_server *made = nullptr;
    EXPECT_EQ(cv_uac_load_http_server(set, found, nullptr, 0, &made), 0u);
    return held<cv_uac_http_server>(made);
}

TEST(server_conf_d, a_single_object_override_is_its_root_element_and_wins_on_reload) {
    installation etc("services.conf");
    loaded_conf conf(etc.main, 0);
    ASSERT_NE(conf.set, nullptr);
    held<cv_uac_http_server> server = http_server_of(conf.set);
    ASSERT_EQ(server->https_port, 8080u);
    ASSERT_EQ(cv_uac_config_write_conf_d_override(server.base(), nullptr, nullptr, "https_port",
                                                  "8443", etc.main.c_str()),
              0u);
    EXPECT_EQ(read_file(etc.conf_d("http_server_https_port.conf")),
              "<CONF version=\"2\">\n"
              "   <http_server>\n"
              "      <https_port fitness=\"2147483647\">8443</https_port>\n"
              "   </http_server>\n"
              "</CONF>\n");
    loaded_conf fresh(etc.main, 0);
    ASSERT_NE(fresh.set, nullptr);
    held<cv_uac_http_server> again = http_server_of(fresh.set);
    EXPECT_EQ(again->https_port, 8443u);
    EXPECT_EQ(again->http_port, 8080u);  // the main file's other values stay
}

// A list member's override file must not become a member of its list.
TEST(server_conf_d, a_provider_override_adds_no_provider) {
    installation etc("lists.conf");
    loaded_conf conf(etc.main, 0);
    ASSERT_NE(conf.set, nullptr);
    cv_uac_provider *head = nullptr;
    ASSERT_EQ(cv_uac_get_provider_list(conf.set, nullptr, nullptr, &head), 0u);
    held<cv_uac_provider> list(head);
    ASSERT_EQ(cv_uac_config_write_conf_d_override(&head->object, nullptr, nullptr, "spec",
                                                  "ldap://other.example", etc.main.c_str()),
              0u);
    loaded_conf fresh(etc.main, 0);
    cv_uac_provider *again = nullptr;
    ASSERT_EQ(cv_uac_get_provider_list(fresh.set, nullptr, nullptr, &again), 0u);
    held<cv_uac_provider> fresh_list(again);
    EXPECT_EQ(provider_types(again), (std::vector<std::string>{"ldap", "local", "ldap-backup"}));
    EXPECT_EQ(text_of(again->spec), "ldap://directory.example");
}

}  // namespace
