// Tests of decoration and search: the tracker records, elements that are no
// tag staying invisible, path reading and its limits, compare modes and
// flags, depth-first order over start nodes, resuming handles, and scores
// summed along a path for the best match.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "cv_test_log_capture.h"
#include "cvplatform/cv_containers.h"
#include "parse_xml_test_support.h"

CV_TEST_LOG_CAPTURE();
PARSE_XML_TEST_LAYER();

namespace {

using captured = cv_test_log_capture;

constexpr std::int32_t E = PARSE_XML_END;

std::string name_of(xmlNode *entry) {
    const char *text = parse_xml_get_first_matching_text_args(&entry, PARSE_XML_TAG_name, E);
    return text ? text : "<none>";
}

using names = std::vector<std::string>;

/* The texts of all matches of a variable-argument path (ended here). */
template <typename... Codes>
names collect(xmlNode *const *roots, Codes... codes) {
    names found;
    parse_xml_search_handle *handle = nullptr;
    for (xmlNode *m = parse_xml_get_first_matching_node_args(roots, &handle, codes..., E); m;
         m = parse_xml_get_next_matching_node(handle, nullptr)) {
        const char *text = parse_xml_get_node_text(m);
        found.push_back(text ? text : "<none>");
    }
    EXPECT_EQ(parse_xml_free_search_handle(handle), 0u);
    return found;
}

/* The names of the users whose name passes a test: users/user/name with the
 * test, then back up and down to the name. */
template <typename... Test>
names names_where(xmlNode *const *roots, Test... test) {
    return collect(roots, PARSE_XML_TAG_users, PARSE_XML_TAG_user, test..., PARSE_XML_TAG_name,
                   PARSE_XML_TAG_Move_Up_to_Parent, PARSE_XML_TAG_name);
}


TEST(ParseXmlDecorate, RecordsIndexChildrenByTagInCompactRange) {
    decorated_conf conf("<CONF version=\"2\"><server><db_port>1</db_port><name>a</name>"
                        "<db_port>2</db_port></server></CONF>");
    ASSERT_EQ(conf.decorate_status, 0u);
    xmlNode *server = parse_xml_tracker_child(parse_xml_get_tracker(conf.start[0]),
                                              PARSE_XML_TAG_server);
    ASSERT_NE(server, nullptr);
    const parse_xml_tracker *record = parse_xml_get_tracker(server);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->node, server);
    EXPECT_EQ(record->parent, conf.start[0]);
    EXPECT_EQ(record->lowest_tag, std::uint32_t(PARSE_XML_TAG_db_port));
    EXPECT_EQ(record->highest_tag, std::uint32_t(PARSE_XML_TAG_name));
    xmlNode *port = parse_xml_tracker_child(record, PARSE_XML_TAG_db_port);
    ASSERT_NE(port, nullptr);
    EXPECT_STREQ(parse_xml_get_tracker(port)->text, "1");
    xmlNode *second = parse_xml_get_tracker(port)->next_same_tag;
    ASSERT_NE(second, nullptr);
    EXPECT_STREQ(parse_xml_get_tracker(second)->text, "2");
    EXPECT_EQ(parse_xml_get_tracker(second)->next_same_tag, nullptr);
    EXPECT_EQ(parse_xml_tracker_child(record, PARSE_XML_TAG_user), nullptr);

    const parse_xml_tracker *leaf = parse_xml_get_tracker(port);
    EXPECT_EQ(leaf->lowest_tag, std::uint32_t(PARSE_XML_TAG_COUNT));
    EXPECT_EQ(leaf->highest_tag, std::uint32_t(PARSE_XML_TAG_COUNT));
    EXPECT_EQ(parse_xml_tracker_child(leaf, PARSE_XML_TAG_COUNT - 1), nullptr);
}

TEST(ParseXmlDecorate, TheWholeTextIsTheElementsText) {
    decorated_conf conf("<CONF><name>first<!--c-->second</name></CONF>");
    ASSERT_EQ(conf.decorate_status, 0u);
    EXPECT_EQ(name_of(conf.start[0]), "firstsecond");
}

TEST(ParseXmlSearch, ValuesInCdataOrSplitByCommentsAreFoundByTheirWholeText) {
    decorated_conf conf(fixture_path("element_texts.conf"));
    ASSERT_EQ(conf.decorate_status, 0u);
    /* The id of the user whose name equals the value. */
    auto id_of = [&](const char *value) {
        const char *text = parse_xml_get_first_matching_text_args(
            conf.roots(), PARSE_XML_TAG_users, PARSE_XML_TAG_user, PARSE_XML_STRING_EQUALS, value,
            PARSE_XML_TAG_name, PARSE_XML_TAG_Move_Up_to_Parent, PARSE_XML_TAG_id, E);
        return std::string(text ? text : "<none>");
    };
    EXPECT_EQ(id_of("bob"), "cdata");
    EXPECT_EQ(id_of("alice"), "comment");
    EXPECT_EQ(id_of("carol"), "pi");
    EXPECT_EQ(id_of("a<b>c"), "mixed");
    EXPECT_EQ(id_of("d&e"), "entity");
    /* Pieces of a split value match nothing. */
    EXPECT_EQ(id_of("al"), "<none>");
    EXPECT_EQ(id_of("ice"), "<none>");
    EXPECT_EQ(id_of("c"), "<none>");
    /* Blanks inside a CDATA section belong to the value; trimming sees them. */
    EXPECT_EQ(parse_xml_get_first_matching_text_args(
                  conf.roots(), PARSE_XML_TAG_users, PARSE_XML_TAG_user, PARSE_XML_TRIM,
                  PARSE_XML_STRING_EQUALS, "eve", PARSE_XML_TAG_name,
                  PARSE_XML_TAG_Move_Up_to_Parent, PARSE_XML_TAG_id, E),
              std::string("blanks"));
}

TEST(ParseXmlDecorate, ManySameTagSiblingsChainInDocumentOrder) {
    std::string xml = "<CONF><users>";
    for (int i = 0; i < 5000; ++i) xml += "<user><id>" + std::to_string(i) + "</id></user>";
    decorated_conf conf(xml + "</users></CONF>");
    ASSERT_EQ(conf.decorate_status, 0u);
    parse_xml_search_handle *handle = nullptr;
    int expected = 0;
    for (xmlNode *id = parse_xml_get_first_matching_node_args(
             conf.roots(), &handle, PARSE_XML_TAG_users, PARSE_XML_TAG_user, PARSE_XML_TAG_id, E);
         id; id = parse_xml_get_next_matching_node(handle, nullptr))
        ASSERT_EQ(parse_xml_get_node_text(id), std::to_string(expected++));
    EXPECT_EQ(expected, 5000);
    EXPECT_EQ(parse_xml_free_search_handle(handle), 0u);
}

TEST(ParseXmlDecorate, TrackerHolderIsFilledReusedAndChainsRootsOfSeveralDocuments) {
    xmlDoc *first = parse_xml_load_string("<CONF><name>one</name></CONF>");
    xmlDoc *second = parse_xml_load_string("<CONF><name>two</name></CONF>");
    ASSERT_TRUE(first && second);
    cv_uac_heap *heap = nullptr;
    ASSERT_EQ(cv_uac_heap_create(&heap, nullptr, nullptr), 0u);
    parse_xml_tracker *tracker = nullptr;
    ASSERT_EQ(parse_xml_decorate_tree(parse_xml_get_root(first), &tracker, heap), 0u);
    ASSERT_NE(tracker, nullptr);
    parse_xml_tracker *const kept = tracker;
    ASSERT_EQ(parse_xml_decorate_tree(parse_xml_get_root(second), &tracker, heap), 0u);
    EXPECT_EQ(tracker, kept);

    xmlNode *root = parse_xml_tracker_child(tracker, PARSE_XML_TAG_CONF);
    ASSERT_EQ(root, parse_xml_get_root(first));
    EXPECT_EQ(parse_xml_get_tracker(root)->next_same_tag, parse_xml_get_root(second));
    EXPECT_EQ(tracker->lowest_tag, 0u);
    EXPECT_EQ(tracker->highest_tag, std::uint32_t(PARSE_XML_TAG_COUNT));

    /* Without a holder a private tracker is used. */
    EXPECT_EQ(parse_xml_undecorate_tree(parse_xml_get_root(first)), 0u);
    EXPECT_EQ(parse_xml_decorate_tree(parse_xml_get_root(first), nullptr, heap), 0u);
    EXPECT_NE(parse_xml_get_tracker(parse_xml_get_root(first)), nullptr);

    EXPECT_EQ(parse_xml_undecorate_tree(parse_xml_get_root(first)), 0u);
    EXPECT_EQ(parse_xml_undecorate_tree(parse_xml_get_root(second)), 0u);
    cv_uac_heap_release(&heap);
    parse_xml_free_document(first);
    parse_xml_free_document(second);
}

TEST(ParseXmlDecorate, UndecorateClearsEveryNodeBelow) {
    decorated_conf conf("<CONF><server><name>x</name></server></CONF>");
    xmlNode *server = parse_xml_tracker_child(parse_xml_get_tracker(conf.start[0]),
                                              PARSE_XML_TAG_server);
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(parse_xml_undecorate_tree(conf.start[0]), 0u);
    EXPECT_EQ(parse_xml_get_tracker(conf.start[0]), nullptr);
    EXPECT_EQ(parse_xml_get_tracker(server), nullptr);
    EXPECT_EQ(parse_xml_get_tracker(server->children), nullptr);
    EXPECT_EQ(parse_xml_undecorate_tree(nullptr), 22u);
    EXPECT_EQ(parse_xml_decorate_tree(nullptr, nullptr, conf.heap), 22u);
    EXPECT_EQ(parse_xml_decorate_tree(conf.start[0], nullptr, nullptr), 22u);
}

TEST(ParseXmlSearch, ElementThatIsNoTagHidesEverythingBelowIt) {
    decorated_conf conf(fixture_path("unknown_element_hides_children.conf"));
    ASSERT_EQ(conf.decorate_status, 0u);
    EXPECT_EQ(collect(conf.roots(), PARSE_XML_TAG_users, PARSE_XML_TAG_user, PARSE_XML_TAG_name),
              names({"visible"}));
    EXPECT_EQ(parse_xml_get_first_matching_node_args(conf.roots(), nullptr, PARSE_XML_TAG_users,
                                                     PARSE_XML_UNKNOWN_TAG, E),
              nullptr);
}

TEST(ParseXmlSearch, StringEqualsIsCaseSensitiveUnlessNocase) {
    decorated_conf conf(fixture_path("users_bob_and_Bob.conf"));
    ASSERT_EQ(conf.decorate_status, 0u);
    EXPECT_EQ(names_where(conf.roots(), PARSE_XML_STRING_EQUALS, "bob"), names({"bob"}));
    EXPECT_EQ(names_where(conf.roots(), PARSE_XML_NOCASE, PARSE_XML_STRING_EQUALS, "bob"),
              names({"Bob", "bob"}));
}

TEST(ParseXmlSearch, TrimFlagComparesWithoutSurroundingBlanks) {
    decorated_conf conf(fixture_path("users_bob_and_Bob.conf"));
    EXPECT_EQ(names_where(conf.roots(), PARSE_XML_STRING_EQUALS, "carol"), names());
    EXPECT_EQ(names_where(conf.roots(), PARSE_XML_TRIM, PARSE_XML_STRING_EQUALS, "carol"),
              names({"  carol  "}));
    EXPECT_EQ(names_where(conf.roots(), PARSE_XML_TRIM, PARSE_XML_NOCASE, PARSE_XML_STRING_EQUALS, " CAROL\t"),
              names({"  carol  "}));
}

TEST(ParseXmlSearch, WildcardModesPutThePatternOnTheirSide) {
    decorated_conf conf(fixture_path("users_bob_and_Bob.conf"));
    EXPECT_EQ(names_where(conf.roots(), PARSE_XML_VALUE_IS_PATTERN, "b*"),
              names({"bob", "b*"}));
    EXPECT_EQ(names_where(conf.roots(), PARSE_XML_VALUE_IS_PATTERN, "?ob"),
              names({"Bob", "bob"}));
    /* The element's text b* is the pattern; the value is matched against it. */
    EXPECT_EQ(names_where(conf.roots(), PARSE_XML_TEXT_IS_PATTERN, "bill"), names({"b*"}));
    EXPECT_EQ(names_where(conf.roots(), PARSE_XML_VALUE_IS_PATTERN, "b\\*"), names({"b*"}));
}

TEST(ParseXmlSearch, NumberEqualsReadsBasesAndCountsAMalformedValueAsZero) {
    decorated_conf conf(fixture_path("users_bob_and_Bob.conf"));
    auto ids_equal = [&](const char *value) {
        return collect(conf.roots(), PARSE_XML_TAG_users, PARSE_XML_TAG_user,
                       PARSE_XML_NUMBER_EQUALS, value, PARSE_XML_TAG_id,
                       PARSE_XML_TAG_Move_Up_to_Parent,
                       PARSE_XML_TAG_name);
    };
    EXPECT_EQ(ids_equal("16"), names({"Bob"}));     /* text 0x10 */
    EXPECT_EQ(ids_equal("%10001"), names({"bob"})); /* 17 */
    EXPECT_EQ(ids_equal("021"), names({"bob"}));    /* octal 17 */
    EXPECT_EQ(ids_equal("17  "), names({"bob"}));
    EXPECT_EQ(ids_equal("zzz"), names({"b*"}));     /* value counts as 0; text abc never matches */
}

TEST(ParseXmlSearch, AccountNameFlagComparesNormalisedNames) {
    decorated_conf conf("<CONF><users><user><name> Bob@corp </name></user>"
                        "<user><name>CORP\\bob</name></user><user><name>bob</name></user>"
                        "</users></CONF>");
    EXPECT_EQ(names_where(conf.roots(), PARSE_XML_ACCOUNT_NAME, PARSE_XML_STRING_EQUALS,
                          "corp\\BOB"),
              names({" Bob@corp ", "CORP\\bob"}));
}

TEST(ParseXmlSearch, TextsOfTheCompareBufferSizeFailOnlyWithFlags) {
    const std::string long_name(PARSE_XML_COMPARE_SIZE, 'n');
    decorated_conf conf("<CONF><users><user><name>" + long_name + "</name></user></users></CONF>");
    EXPECT_EQ(names_where(conf.roots(), PARSE_XML_STRING_EQUALS, long_name.c_str()).size(),
              1u);
    EXPECT_EQ(names_where(conf.roots(), PARSE_XML_TRIM, PARSE_XML_STRING_EQUALS,
                          long_name.c_str())
                  .size(),
              0u);
}

TEST(ParseXmlSearch, CompareWithoutTextOrValueFails) {
    decorated_conf conf("<CONF><users><user><name/></user></users></CONF>");
    EXPECT_EQ(names_where(conf.roots(), PARSE_XML_STRING_EQUALS, "").size(), 0u);
    decorated_conf other("<CONF><users><user><name>x</name></user></users></CONF>");
    EXPECT_EQ(names_where(other.roots(), PARSE_XML_STRING_EQUALS, nullptr).size(), 0u);
}

TEST(ParseXmlSearch, MoveUpToParentStepsToTheParent) {
    decorated_conf conf("<CONF><name>top</name><realms><name>realms</name>"
                        "<realm><name>r1</name></realm></realms></CONF>");
    xmlNode *realm = parse_xml_get_first_matching_node_args(conf.roots(), nullptr,
                                                            PARSE_XML_TAG_realms,
                                                            PARSE_XML_TAG_realm, E);
    ASSERT_NE(realm, nullptr);
    xmlNode *from[] = {realm, nullptr};
    EXPECT_STREQ(parse_xml_get_first_matching_text_args(from, PARSE_XML_TAG_name, E), "r1");
    EXPECT_STREQ(parse_xml_get_first_matching_text_args(from, PARSE_XML_TAG_Move_Up_to_Parent,
                                                        PARSE_XML_TAG_name, E),
                 "realms");
    EXPECT_STREQ(parse_xml_get_first_matching_text_args(from, PARSE_XML_TAG_Move_Up_to_Parent,
                                                        PARSE_XML_TAG_Move_Up_to_Parent,
                                                        PARSE_XML_TAG_name, E),
                 "top");
    /* Above the root there is no element. */
    EXPECT_EQ(parse_xml_get_first_matching_node_args(conf.roots(), nullptr,
                                                     PARSE_XML_TAG_Move_Up_to_Parent, E),
              nullptr);
}

/* A document of `depth` nested item elements below CONF, the deepest
 * holding the text "bottom". */
std::string nested_items(int depth) {
    std::string xml = "<CONF>";
    for (int i = 0; i < depth; ++i) xml += "<item>";
    xml += "bottom";
    for (int i = 0; i < depth; ++i) xml += "</item>";
    return xml + "</CONF>";
}

TEST(ParseXmlSearch, ThirtyTwoLevelsWorkAndThirtyThreeAreRefused) {
    decorated_conf conf(nested_items(40), PARSE_XML_ANY_VERSION);
    ASSERT_EQ(conf.decorate_status, 0u);
    std::vector<std::int32_t> path(32, PARSE_XML_TAG_item);
    path.push_back(E);
    xmlNode *deep = parse_xml_get_first_matching_node(conf.roots(), nullptr, path.data(),
                                                      nullptr, nullptr, nullptr);
    ASSERT_NE(deep, nullptr);
    xmlNode *more[] = {deep, nullptr};
    EXPECT_NE(parse_xml_get_first_matching_node_args(more, nullptr, PARSE_XML_TAG_item, E),
              nullptr);

    path.back() = PARSE_XML_TAG_item;
    path.push_back(E);
    const std::string mark = captured::mark();
    parse_xml_search_handle *handle = reinterpret_cast<parse_xml_search_handle *>(0x1);
    EXPECT_EQ(parse_xml_get_first_matching_node(conf.roots(), &handle, path.data(), nullptr,
                                                nullptr, nullptr),
              nullptr);
    EXPECT_EQ(handle, nullptr);
    EXPECT_NE(captured::since(mark).find("parse_xml_get_first_matching_node_args: search path "
                                         "depth exceeds 32 levels!\r\n"),
              std::string::npos);
}

TEST(ParseXmlSearch, CodesOutsideTheirRangeAreInvalidOptions) {
    decorated_conf conf("<CONF><server/></CONF>");
    const std::int32_t bad_codes[] = {-10, PARSE_XML_TAG_COUNT, PARSE_XML_ATTRIBUTE_BASE};
    for (std::int32_t bad : bad_codes) {
        const std::string mark = captured::mark();
        parse_xml_search_handle *handle = reinterpret_cast<parse_xml_search_handle *>(0x1);
        EXPECT_EQ(parse_xml_get_first_matching_node_args(conf.roots(), &handle,
                                                         PARSE_XML_TAG_server, bad, E),
                  nullptr);
        EXPECT_EQ(handle, nullptr);
        EXPECT_NE(captured::since(mark).find("parse_xml_get_first_matching_node_args: Invalid "
                                             "option in XML search path!\r\n"),
                  std::string::npos)
            << bad;
    }
    /* The array form takes no compare or flag codes. */
    const std::int32_t with_compare[] = {PARSE_XML_TAG_server, PARSE_XML_STRING_EQUALS, E};
    const std::string mark = captured::mark();
    EXPECT_EQ(parse_xml_get_first_matching_node(conf.roots(), nullptr, with_compare, nullptr,
                                                nullptr, nullptr),
              nullptr);
    EXPECT_NE(captured::since(mark).find("Invalid option in XML search path!"),
              std::string::npos);
}

TEST(ParseXmlSearch, AttributeStepIsRefusedAndEndsThePath) {
    decorated_conf conf("<CONF><server><name>s</name></server></CONF>");
    const std::string mark = captured::mark();
    xmlNode *match = parse_xml_get_first_matching_node_args(
        conf.roots(), nullptr, PARSE_XML_TAG_server, PARSE_XML_ATTRIBUTE_BASE + 1,
        PARSE_XML_TAG_name, E);
    ASSERT_NE(match, nullptr);
    EXPECT_STREQ(parse_xml_get_node_name(match), "server");
    EXPECT_NE(captured::since(mark).find(
                  "UAC XML Attribute indexer: Invalid attribute index: 65537\r\n"),
              std::string::npos);
}

TEST(ParseXmlSearch, MatchesComeDepthFirstStartNodeAfterStartNode) {
    decorated_conf a("<CONF><groups><group><name>a1</name><name>a2</name></group>"
                     "<group><name>a3</name></group></groups></CONF>");
    decorated_conf b("<CONF><groups><group><name>b1</name></group></groups></CONF>");
    xmlNode *both[] = {a.start[0], b.start[0], nullptr};
    names found;
    parse_xml_search_handle *handle = nullptr;
    std::int32_t score = 77;
    for (xmlNode *m = parse_xml_get_first_matching_node_args(both, &handle, PARSE_XML_TAG_groups,
                                                             PARSE_XML_TAG_group,
                                                             PARSE_XML_TAG_name, E);
         m; m = parse_xml_get_next_matching_node(handle, &score)) {
        found.push_back(parse_xml_get_node_text(m));
        EXPECT_EQ(score == 77 || score == 0, true);
    }
    EXPECT_EQ(found, names({"a1", "a2", "a3", "b1"}));
    EXPECT_EQ(score, 0);
    /* An exhausted handle stays exhausted. */
    EXPECT_EQ(parse_xml_get_next_matching_node(handle, nullptr), nullptr);
    EXPECT_EQ(parse_xml_free_search_handle(handle), 0u);
}

/* Scores an element by its "score" attribute; counts its calls. */
int g_scorer_calls = 0;
std::int32_t score_attribute(xmlNode *element, cv_btree *, void *extra, std::uint8_t) {
    ++g_scorer_calls;
    if (extra) ++*static_cast<int *>(extra);
    xmlChar *value = xmlGetProp(element, BAD_CAST "score");
    const std::int32_t score = value ? std::atoi(reinterpret_cast<char *>(value)) : 0;
    xmlFree(value);
    return score;
}

/* Installs the attribute scorer and a variable tree for one test. */
struct scoring : ::testing::Test {
    cv_btree *variables = nullptr;
    parse_xml_fitness_callback previous = nullptr;
    void SetUp() override {
        ASSERT_EQ(cv_btree_create_strings(&variables), 0u);
        previous = parse_xml_set_fitness_callback(score_attribute);
        g_scorer_calls = 0;
    }
    void TearDown() override {
        parse_xml_set_fitness_callback(previous);
        cv_btree_destroy(variables, nullptr);
    }
};

TEST_F(scoring, BestMatchIsTheFirstOfTheHighestScores) {
    decorated_conf conf(fixture_path("scored_entries.conf"));
    const std::int32_t path[] = {PARSE_XML_TAG_groups, PARSE_XML_TAG_group, E};
    xmlNode *best = parse_xml_get_best_matching_node(conf.roots(), path, variables, nullptr);
    ASSERT_NE(best, nullptr);
    EXPECT_EQ(name_of(best), "third");
}

TEST_F(scoring, MatchesScoredMinusOneOrLowerAreNeverBest) {
    decorated_conf conf(fixture_path("scored_entries.conf"));
    const std::int32_t path[] = {PARSE_XML_TAG_users, PARSE_XML_TAG_user, E};
    EXPECT_EQ(parse_xml_get_best_matching_node(conf.roots(), path, variables, nullptr), nullptr);
}

TEST_F(scoring, ScoresAreSummedAlongThePathButNotForTheStartNode) {
    decorated_conf conf(fixture_path("scored_entries.conf"));
    const std::int32_t path[] = {PARSE_XML_TAG_realms, PARSE_XML_TAG_realm,
                                 PARSE_XML_TAG_transfer, E};
    std::int32_t score = 0;
    parse_xml_search_handle *handle = nullptr;
    int extra_calls = 0;
    xmlNode *first = parse_xml_get_first_matching_node(conf.roots(), &handle, path, variables,
                                                       &extra_calls, &score);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(score, -1); /* realms 0 + realm 2 + transfer -3 */
    ASSERT_NE(parse_xml_get_next_matching_node(handle, &score), nullptr);
    EXPECT_EQ(score, 1);
    EXPECT_GT(extra_calls, 0);
    EXPECT_EQ(parse_xml_free_search_handle(handle), 0u);

    xmlNode *best = parse_xml_get_best_matching_node(conf.roots(), path, variables, nullptr);
    ASSERT_NE(best, nullptr);
    EXPECT_EQ(name_of(best), "sum 1");
}

TEST_F(scoring, WithoutAVariableTreeNothingIsScoredAndTheFirstMatchIsBest) {
    decorated_conf conf(fixture_path("scored_entries.conf"));
    const std::int32_t path[] = {PARSE_XML_TAG_users, PARSE_XML_TAG_user, E};
    xmlNode *best = parse_xml_get_best_matching_node(conf.roots(), path, nullptr, nullptr);
    ASSERT_NE(best, nullptr);
    EXPECT_EQ(name_of(best), "refused");
    EXPECT_EQ(g_scorer_calls, 0);
}

TEST_F(scoring, ScoresAreOnlyComputedWhenAsked) {
    decorated_conf conf(fixture_path("scored_entries.conf"));
    const std::int32_t path[] = {PARSE_XML_TAG_groups, PARSE_XML_TAG_group, E};
    EXPECT_NE(parse_xml_get_first_matching_node(conf.roots(), nullptr, path, variables, nullptr,
                                                nullptr),
              nullptr);
    EXPECT_EQ(g_scorer_calls, 0);
}

TEST(ParseXmlSearchDefaultScorer, ScoresEveryElementZero) {
    decorated_conf conf(fixture_path("scored_entries.conf"));
    cv_btree *variables = nullptr;
    ASSERT_EQ(cv_btree_create_strings(&variables), 0u);
    const std::int32_t path[] = {PARSE_XML_TAG_users, PARSE_XML_TAG_user, E};
    std::int32_t score = 5;
    EXPECT_NE(parse_xml_get_first_matching_node(conf.roots(), nullptr, path, variables, nullptr,
                                                &score),
              nullptr);
    EXPECT_EQ(score, 0);
    xmlNode *best = parse_xml_get_best_matching_node(conf.roots(), path, variables, nullptr);
    EXPECT_EQ(name_of(best), "refused");
    cv_btree_destroy(variables, nullptr);
}

TEST(ParseXmlSearchLayer, WithoutTheLayerStartedNoHandleCanBeHad) {
    xmlNode *none[] = {nullptr};
    parse_xml_deinitialize(); /* the environment's start */
    const std::string mark = captured::mark();
    EXPECT_EQ(parse_xml_get_first_matching_node_args(none, nullptr, PARSE_XML_TAG_server, E),
              nullptr);
    EXPECT_NE(captured::since(mark).find("Unable to allocate XML search handle\r\n"),
              std::string::npos);
    ASSERT_EQ(parse_xml_initialize(), 0u);
}

}  // namespace
