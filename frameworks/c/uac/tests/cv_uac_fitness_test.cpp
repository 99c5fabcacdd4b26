// Tests of element fitness, the function registry, the built-in rule
// functions (peer_ip above all) and the best-fit choice of the search
// engine with the fitness scorer installed.
#include "uac/cv_uac_fitness.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "cv_test_log_capture.h"
#include "cv_uac_test_variables.h"
#include "parse_xml_test_support.h"

CV_TEST_LOG_CAPTURE();
PARSE_XML_TEST_LAYER();

namespace {

constexpr std::int32_t E = PARSE_XML_END;

/* The fitness of the root element of `xml`. */
std::int32_t fitness_of(const std::string &xml, cv_btree *variables,
                        const cv_uac_function_registry *registry = nullptr,
                        std::string *error = nullptr) {
    xmlDoc *document = parse_xml_load_string(xml.c_str());
    EXPECT_NE(document, nullptr) << xml;
    char text[CV_UAC_FITNESS_ERROR_SIZE] = "";
    const std::int32_t fitness = parse_xml_eval_fitness(
        parse_xml_get_root(document), cv_uac_variable_lookup_tree, variables,
        registry ? registry : cv_uac_default_function_registry(), text, nullptr);
    if (error) *error = text;
    parse_xml_free_document(document);
    return fitness;
}

class Fitness : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(cv_uac_fitness_install(), 0u); }
    void TearDown() override { cv_uac_fitness_uninstall(); }
};

TEST_F(Fitness, IsTwiceTheSumOfTheRulesLessOne) {
    test_variables variables{
        {"peer_ip", "10.1.1.1"}, {"cookie", "abc"}, {"other", "x"}, {"state", "on"}};
    const struct {
        const char *xml;
        std::int32_t fitness;
    } cases[] = {
        {"<x/>", 0},
        {"<x name=\"a\" unrelated=\"b\"/>", 0},
        {"<x fitness=\"1\"/>", 1},
        {"<x fitness=\"0\"/>", -1},
        {"<x fitness=\"2+3*4\"/>", 27},
        {"<x fitness=\"5\"/>", 9},
        {"<x fitness=\"2147483647\"/>", INT_MAX},
        {"<x fitness=\"-2147483648\"/>", INT_MIN},
        {"<x peer_ip_a=\"10.0.0.0/8\" peer_ip_b=\"192.168.0.0/16\"/>", 1},
        {"<x peer_ip=\"10.0.0.0/8\" cookie_1=\"a*\"/>", 3},
        {"<x cookie=\"zzz\" fitness=\"1\"/>", 1},
        {"<x state=\"on\"/>", 0},
        {"<x other=\"5\"/>", -1},
        {"<x fitness=\"1\" cookie=\"a*\" peer_ip=\"bogus\" fitness_late=\"1\"/>", -1},
        {"<x fitness=\"\"/>", -1},
    };
    for (const auto &c : cases) EXPECT_EQ(fitness_of(c.xml, variables.tree()), c.fitness) << c.xml;
}

TEST_F(Fitness, FailsWithTheRuleTextWhenNothingIsSupplied) {
    std::string error;
    EXPECT_EQ(fitness_of("<x cookie=\"abc*\"/>", nullptr, nullptr, &error), -1);
    EXPECT_EQ(error, "No cookie supplied to compare to");
    EXPECT_EQ(fitness_of("<x other=\"5\"/>", nullptr, nullptr, &error), 0);

    test_variables variables{{"other", "5"}};
    EXPECT_EQ(fitness_of("<x other=\"5\"/>", variables.tree(), nullptr, &error), -1);
    EXPECT_EQ(error, "Function other() not found");
}

cv_status always_seven(const char *, const char *, std::int32_t *result, char *) {
    *result = 7;
    return 0;
}
cv_status always_zero(const char *, const char *, std::int32_t *result, char *) {
    *result = 0;
    return 0;
}

TEST_F(Fitness, LongestRegisteredNamePrefixWins) {
    cv_uac_function_registry registry{};
    ASSERT_EQ(cv_uac_register_function_in(&registry, "peer", always_zero, nullptr), 0u);
    ASSERT_EQ(cv_uac_register_function_in(&registry, "peer_ip", always_seven, nullptr), 0u);
    ASSERT_EQ(cv_uac_register_function_in(&registry, "p", always_zero, nullptr), 0u);
    EXPECT_EQ(fitness_of("<x peer_ip_2=\"x\"/>", nullptr, &registry), 13);
    EXPECT_EQ(fitness_of("<x peerless=\"x\"/>", nullptr, &registry), -1);
    EXPECT_EQ(fitness_of("<x fitness=\"peer_ip(1) + p(2)\"/>", nullptr, &registry), 13);

    std::size_t previous_length = SIZE_MAX;
    for (const cv_uac_function_record *r = registry.head; r; r = r->next) {
        EXPECT_LE(r->name_length, previous_length);
        previous_length = r->name_length;
    }
    cv_uac_function_registry_clear(&registry);
    EXPECT_EQ(registry.head, nullptr);
}

TEST_F(Fitness, RegisteringAgainReplacesAndReturnsTheOldFunction) {
    cv_uac_rule_function previous = nullptr;
    ASSERT_EQ(cv_uac_register_function("cookie", always_seven, &previous), 0u);
    EXPECT_EQ(previous, cv_uac_rule_cookie);
    EXPECT_EQ(fitness_of("<x cookie=\"q\"/>", nullptr), 13);
    ASSERT_EQ(cv_uac_register_function("cookie", cv_uac_rule_cookie, &previous), 0u);
    EXPECT_EQ(previous, always_seven);

    EXPECT_EQ(cv_uac_register_function(std::string(63, 'n').c_str(), always_zero, nullptr), 0u);
    EXPECT_EQ(cv_uac_register_function(std::string(64, 'n').c_str(), always_zero, nullptr), 22u);
    EXPECT_EQ(cv_uac_register_function("", always_zero, nullptr), 22u);
    EXPECT_EQ(cv_uac_register_function("x", nullptr, nullptr), 22u);
}

TEST_F(Fitness, AShorthandValueIsTheArgumentAndCannotAddFormulaTerms) {
    test_variables variables{
        {"peer_ip", "10.1.1.1"}, {"cookie", "x\"y"}, {"classes", "silver"}, {"other", "5"}};
    const struct {
        std::string xml;
        std::int32_t fitness; /* as the function rules on the literal value */
    } cases[] = {
        /* Not an address: the rule fails; it used to read as ...)|(1, true. */
        {"<x peer_ip=\"192.168.0.0/16)|(1\"/>", -1},
        {"<x peer_ip=\"192.168.0.0/16) | (1\"/>", -1},
        /* Patterns that match nothing, not terms of a formula. */
        {"<x cookie=\"zzz)|(1\"/>", -1},
        {"<x cookie=\"q) + (5\"/>", -1},
        {"<x cookie=\"q*) | cookie(*\"/>", -1},
        {"<x classes=\"gold)|(1\"/>", -1},
        {"<x classes=\"gold);(1\"/>", -1},
        /* Quote characters and brackets are data too. */
        {"<x cookie='x\"*'/>", 1},
        {"<x cookie=\"x'y|x&quot;y\"/>", 1},
        {"<x cookie=\"#$'|x*\"/>", 1},
        {"<x cookie=\"[x]|{x}|&lt;x&gt;|x?y\"/>", 1},
        {"<x classes=\"gold;s*\"/>", 1},
        {"<x peer_ip=\"10.0.0.0/8\"/>", 1},
        /* A value holding every quote character cannot be passed: refused. */
        {"<x cookie=\"x&quot;y'#$\"/>", -1},
        /* Too long to pass whole: refused, never cut. */
        {"<x cookie=\"" + std::string(600, '*') + "\"/>", -1},
        /* Named like a variable: quoted as well, and no such function. */
        {"<x other=\"1)|(1\"/>", -1},
    };
    for (const auto &c : cases) EXPECT_EQ(fitness_of(c.xml, variables.tree()), c.fitness) << c.xml;
}

TEST_F(Fitness, RefusedShorthandValuesSayWhy) {
    test_variables variables{{"cookie", "abc"}};
    const std::string mark = cv_test_log_capture::mark();
    std::string error;
    EXPECT_EQ(fitness_of("<x cookie_a=\"&quot;'#$\"/>", variables.tree(), nullptr, &error), -1);
    EXPECT_EQ(error, "Value of attribute cookie_a holds every quote character");
    /* cookie(...) holds at most 511 characters: a value of 503. */
    EXPECT_EQ(fitness_of("<x cookie=\"" + std::string(504, '*') + "\"/>", variables.tree(),
                         nullptr, &error),
              -1);
    EXPECT_EQ(error, "Rule of attribute cookie longer than 511 characters");
    EXPECT_EQ(fitness_of("<x cookie=\"" + std::string(503, '*') + "\"/>", variables.tree(),
                         nullptr, &error),
              1)
        << error;
    const std::string log = cv_test_log_capture::since(mark);
    EXPECT_NE(log.find("UAC failed to apply fitness rule: Value of attribute cookie_a holds every "
                       "quote character"),
              std::string::npos)
        << log;
}

TEST_F(Fitness, StateIsSkippedOnlyAsAVariableName) {
    cv_uac_function_registry registry{};
    ASSERT_EQ(cv_uac_register_function_in(&registry, "sta", always_seven, nullptr), 0u);
    test_variables variables{{"state", "on"}, {"statement", "on"}};
    /* A name that begins with a function's name is that function's rule. */
    EXPECT_EQ(fitness_of("<x state=\"on\"/>", variables.tree(), &registry), 13);
    EXPECT_EQ(fitness_of("<x state_2=\"on\"/>", nullptr, &registry), 13);
    cv_uac_function_registry_clear(&registry);
    /* Named like a variable: `state` is no rule, other names are. */
    std::string error;
    EXPECT_EQ(fitness_of("<x state=\"on\"/>", variables.tree(), nullptr, &error), 0);
    EXPECT_EQ(fitness_of("<x statement=\"on\"/>", variables.tree(), nullptr, &error), -1);
    EXPECT_EQ(error, "Function statement() not found");
}

struct rule_case {
    const char *argument;
    const char *value;
    cv_status status;
    std::int32_t result;
    const char *error;
};

void expect_rule(cv_uac_rule_function function, const rule_case &c) {
    std::int32_t result = -1;
    char error[CV_UAC_FITNESS_ERROR_SIZE] = "";
    const cv_status status = function(c.argument, c.value, &result, error);
    const std::string where = std::string(c.argument) + " with " + (c.value ? c.value : "(none)");
    EXPECT_EQ(status, c.status) << where << ": " << error;
    if (c.status == 0) {
        EXPECT_EQ(result, c.result) << where;
    }
    if (c.error) {
        EXPECT_STREQ(error, c.error) << where;
    }
}

TEST(PeerIp, ComparesAddressesSubnetsAndPorts) {
    const rule_case cases[] = {
        {"10.0.0.0/8", "10.2.3.4", 0, 1, nullptr},
        {"10.0.0.0/8", "11.2.3.4", 0, 0, nullptr},
        {"10.0.0.0/8", "10.2.3.4:33001", 0, 0, nullptr},
        {"10.0.0.0/8:*", "10.2.3.4:33001", 0, 1, nullptr},
        {"10.0.0.0/8:22", "10.2.3.4:22", 0, 1, nullptr},
        {"10.0.0.0/8:22", "10.2.3.4:23", 0, 0, nullptr},
        {"10.0.0.0/8", "10.2.3.4:*", 0, 1, nullptr},
        {"10.1.2.3", "10.1.2.3", 0, 1, nullptr},
        {"10.1.2.3", "10.1.2.4", 0, 0, nullptr},
        {"10.1.2.3/32", "10.1.2.3", 0, 1, nullptr},
        {"192.168.128.0/17", "192.168.200.1", 0, 1, nullptr},
        {"192.168.128.0/17", "192.168.127.1", 0, 0, nullptr},
        {"fe80::/10", "10.2.3.4", 0, 0, nullptr},
        {"10.0.0.0/8", "::ffff:10.0.0.1", 0, 0, nullptr},
        {"fe80::/10", "fe80::1%eth0", 0, 1, nullptr},
        {"fe80::/10", "fec0::1", 0, 0, nullptr},
        {"2001:db8::/32", "2001:db8:1::5", 0, 1, nullptr},
        {"::1", "::1", 0, 1, nullptr},
        {"::1", "::2", 0, 0, nullptr},
        {"[fe80::/10]:22", "[fe80::1]:22", 0, 1, nullptr},
        {"[fe80::/10]:22", "[fe80::1]:23", 0, 0, nullptr},
        {"[fe80::/10]:*", "fe80::1", 0, 1, nullptr},
        // After the bracket only a port counts: the prefix here is dropped,
        // and with it the port.
        {"[fe80::1]/64:22", "[fe80::1]:22", 0, 0, nullptr},
    };
    for (const rule_case &c : cases) expect_rule(cv_uac_rule_peer_ip, c);
}

TEST(PeerIp, RefusesMalformedAddressesPortsAndPrefixes) {
    const rule_case cases[] = {
        {"10.0.0.0/8", nullptr, 2, 0, "No IP address supplied to compare to"},
        {"", "10.0.0.1", 2, 0, "No IP address present in xml to compare to"},
        {"10.0.0.0/0", "10.0.0.1", 22, 0, "Invalid ipv4 subnet mask size: 0"},
        {"10.0.0.0/33", "10.0.0.1", 22, 0, "Invalid ipv4 subnet mask size: 33"},
        {"10.0.0.0/8x", "10.0.0.1", 22, 0, "Invalid ipv4 subnet mask size: 8"},
        {"fe80::/0", "fe80::1", 22, 0, "Invalid ipv6 subnet mask size: 0"},
        {"fe80::/129", "fe80::1", 22, 0, "Invalid ipv6 subnet mask size: 129"},
        {"[fe80::1", "fe80::1", 22, 0, "Badly formatted IPV6 address"},
        {"10.0.0.1", "[fe80::1", 22, 0, "Badly formatted IPV6 address"},
        {"10.0.0.1:70000", "10.0.0.1", 22, 0, "Invalid port: 70000"},
        {"10.0.0.1", "10.0.0.1:-1", 22, 0, "Invalid port: -1"},
        {"10.0.0.1", "10.0.0.1:22x", 22, 0, "Invalid port: 22"},
        {"10.0.0.1", "10.0.0.1:", 22, 0, "Invalid port: 0"},
        {"bogus", "10.0.0.1", 22, 0, "Invalid ip address in conf file: bogus"},
        {"10.0.0.1", "10.0.0.999", 22, 0, "Invalid ip address passed: 10.0.0.999"},
    };
    for (const rule_case &c : cases) expect_rule(cv_uac_rule_peer_ip, c);
    const std::string long_address(128, '1');
    expect_rule(cv_uac_rule_peer_ip, {long_address.c_str(), "10.0.0.1", 122, 0, nullptr});
}

TEST(RuleFunctions, MatchWildcardListsAndDomains) {
    const rule_case cookie_cases[] = {
        {"abc*", "abcdef", 0, 1, nullptr},
        {"x|y*", "yes", 0, 1, nullptr},
        {"x|y*", "no", 0, 0, nullptr},
        {"", "", 0, 1, nullptr},
        {"abc", nullptr, 2, 0, "No cookie supplied to compare to"},
    };
    for (const rule_case &c : cookie_cases) expect_rule(cv_uac_rule_cookie, c);
    const std::string long_pattern(512, '*');
    expect_rule(cv_uac_rule_cookie, {long_pattern.c_str(), "a", 122, 0, nullptr});

    const rule_case domain_cases[] = {
        {"*.example.com", "host.example.com", 0, 1, nullptr},
        {"*.example.com", "example.org", 0, 0, nullptr},
        {"a|b", "a", 0, 0, nullptr},
        {"*", nullptr, 2, 0, "No domain supplied to compare to"},
    };
    for (const rule_case &c : domain_cases) expect_rule(cv_uac_rule_peer_domain, c);

    const rule_case classes_cases[] = {
        {"silver;g*", "gold", 0, 1, nullptr},
        {"silver;bronze", "gold", 0, 0, nullptr},
        {"gold", nullptr, 0, 0, nullptr},
    };
    for (const rule_case &c : classes_cases) expect_rule(cv_uac_rule_classes, c);
}

TEST_F(Fitness, SearchTakesTheBestMatchAndSkipsFailingOnes) {
    decorated_conf conf(
        "<CONF version=\"2\"><default>"
        "<db_port cookie=\"x*\">1</db_port>"
        "<db_port peer_ip=\"10.0.0.0/8\">2</db_port>"
        "<db_port peer_ip_a=\"10.0.0.0/8\" cookie=\"a*\">3</db_port>"
        "<db_port peer_ip=\"192.168.0.0/16\">4</db_port>"
        "</default></CONF>");
    ASSERT_EQ(conf.decorate_status, 0u);
    const std::int32_t path[] = {PARSE_XML_TAG_default, PARSE_XML_TAG_db_port, E};
    auto best = [&](cv_btree *variables) {
        xmlNode *node = parse_xml_get_best_matching_node(conf.roots(), path, variables, nullptr);
        return node ? std::string(parse_xml_get_node_text(node)) : std::string("<none>");
    };
    test_variables both{{"peer_ip", "10.1.1.1"}, {"cookie", "abc"}};
    EXPECT_EQ(best(both.tree()), "3");
    test_variables address_only{{"peer_ip", "10.1.1.1"}};
    EXPECT_EQ(best(address_only.tree()), "2");
    test_variables elsewhere{{"peer_ip", "172.16.0.1"}};
    EXPECT_EQ(best(elsewhere.tree()), "<none>");
}

TEST_F(Fitness, AFailedRuleAnywhereOnThePathPutsTheMatchOut) {
    decorated_conf conf(fixture_path("fitness_failed_elements.conf"));
    ASSERT_EQ(conf.decorate_status, 0u);
    test_variables variables{{"cookie", "abc"}};
    struct row {
        std::int32_t list_tag;
        std::int32_t entry_tag;
        const char *best;
    };
    const row rows[] = {
        /* failed parent, high child */
        {PARSE_XML_TAG_users, PARSE_XML_TAG_user, "plain user"},
        /* failed child, high parent */
        {PARSE_XML_TAG_groups, PARSE_XML_TAG_group, "plain group"},
        /* every element passes: the sums rank, the first of equals wins */
        {PARSE_XML_TAG_realms, PARSE_XML_TAG_realm, "sum 3"},
        /* every path out */
        {PARSE_XML_TAG_trunks, PARSE_XML_TAG_trunk, "<none>"},
    };
    for (const row &r : rows) {
        const std::int32_t path[] = {r.list_tag, r.entry_tag, PARSE_XML_TAG_name, E};
        xmlNode *node = parse_xml_get_best_matching_node(conf.roots(), path, variables.tree(),
                                                         nullptr);
        EXPECT_EQ(node ? std::string(parse_xml_get_node_text(node)) : std::string("<none>"),
                  r.best)
            << parse_xml_tag_name(r.list_tag);
    }
}

TEST_F(Fitness, AMatchThroughAFailedElementScoresOutAndOthersTheirSum) {
    decorated_conf conf(fixture_path("fitness_failed_elements.conf"));
    ASSERT_EQ(conf.decorate_status, 0u);
    test_variables variables{{"cookie", "abc"}};
    const std::int32_t path[] = {PARSE_XML_TAG_realms, PARSE_XML_TAG_realm, PARSE_XML_TAG_name, E};
    std::vector<std::int32_t> scores;
    std::int32_t score = 0;
    parse_xml_search_handle *handle = nullptr;
    for (xmlNode *m = parse_xml_get_first_matching_node(conf.roots(), &handle, path,
                                                        variables.tree(), nullptr, &score);
         m; m = parse_xml_get_next_matching_node(handle, &score))
        scores.push_back(score);
    EXPECT_EQ(parse_xml_free_search_handle(handle), 0u);
    EXPECT_EQ(scores, (std::vector<std::int32_t>{2, 3, 3}));

    const std::int32_t users[] = {PARSE_XML_TAG_users, PARSE_XML_TAG_user, PARSE_XML_TAG_name, E};
    EXPECT_NE(parse_xml_get_first_matching_node(conf.roots(), nullptr, users, variables.tree(),
                                                nullptr, &score),
              nullptr);
    EXPECT_EQ(score, PARSE_XML_MATCH_OUT); /* -1 + 9 used to make 8 */
}

TEST_F(Fitness, RelocatedLegacyElementsKeepTheirConditions) {
    decorated_conf conf(fixture_path("legacy_conditions_and_repeats.conf"), 2);
    ASSERT_EQ(conf.decorate_status, 0u);
    const std::int32_t snapshots[] = {PARSE_XML_TAG_server, PARSE_XML_TAG_watch,
                                      PARSE_XML_TAG_watchd, PARSE_XML_TAG_max_snapshots, E};
    const std::int32_t level[] = {PARSE_XML_TAG_server, PARSE_XML_TAG_watch,
                                  PARSE_XML_TAG_log_level, E};
    auto best = [&](const std::int32_t *path, cv_btree *variables) {
        xmlNode *node = parse_xml_get_best_matching_node(conf.roots(), path, variables, nullptr);
        return node ? std::string(parse_xml_get_node_text(node)) : std::string("<none>");
    };
    test_variables small{{"cookie", "small"}, {"peer_ip", "10.1.1.1"}};
    test_variables big{{"cookie", "big"}, {"peer_ip", "10.1.1.1"}};
    EXPECT_EQ(best(snapshots, small.tree()), "5");  /* its rule holds: 1 beats 0 */
    EXPECT_EQ(best(snapshots, big.tree()), "50");   /* its rule fails: the plain one */
    /* The first server's conditional level; the second server's plain one. */
    EXPECT_EQ(best(level, small.tree()), "debug");
    test_variables elsewhere{{"cookie", "small"}, {"peer_ip", "192.168.1.1"}};
    EXPECT_EQ(best(level, elsewhere.tree()), "warning");
}

}  // namespace
