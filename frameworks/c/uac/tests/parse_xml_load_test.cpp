// Tests of document loading: the root and version test, legacy relocation,
// bad input of every kind (each must give its status and message, never a
// crash or a hang), entity handling, and the layer's start counter.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "cv_test_log_capture.h"
#include "parse_xml_test_support.h"

CV_TEST_LOG_CAPTURE();
PARSE_XML_TEST_LAYER();

namespace {

using captured = cv_test_log_capture;

/* Owns a loaded document. */
struct loaded {
    xmlDoc *document = nullptr;
    cv_status status = 0;
    loaded(const std::string &source, std::int32_t *version) {
        status = parse_xml_load_document(source.c_str(), version, &document);
    }
    ~loaded() { parse_xml_free_document(document); }
    xmlNode *root() const { return parse_xml_get_root(document); }
};

/* The first element at `path` ("a/b/c") below `parent`, by plain tree walk. */
xmlNode *element_at(xmlNode *parent, std::string_view path) {
    xmlNode *current = parent;
    while (current && !path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view name = path.substr(0, slash);
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
        xmlNode *found = nullptr;
        for (xmlNode *child = current->children; child && !found; child = child->next)
            if (child->type == XML_ELEMENT_NODE &&
                name == reinterpret_cast<const char *>(child->name))
                found = child;
        current = found;
    }
    return current;
}

int count_children_named(xmlNode *parent, std::string_view name) {
    int n = 0;
    for (xmlNode *child = parent->children; child; child = child->next)
        if (child->type == XML_ELEMENT_NODE && name == reinterpret_cast<const char *>(child->name))
            ++n;
    return n;
}

std::string text_at(xmlNode *root, std::string_view path) {
    const char *text = parse_xml_get_node_text(element_at(root, path));
    return text ? text : "<none>";
}

TEST(ParseXmlLoad, LowercaseRootWithWantedVersionLoads) {
    std::int32_t version = 2;
    loaded conf(fixture_path("lowercase_root_version_2.conf"), &version);
    ASSERT_EQ(conf.status, 0u);
    ASSERT_NE(conf.root(), nullptr);
    EXPECT_STREQ(parse_xml_get_node_name(conf.root()), "conf");
    EXPECT_EQ(text_at(conf.root(), "server/db_port"), "31415");
    EXPECT_EQ(version, 2);
}

TEST(ParseXmlLoad, WrongVersionGivesAnEmptyConfigurationNotAnError) {
    std::int32_t version = 2;
    loaded conf(fixture_path("version_3.conf"), &version);
    EXPECT_EQ(conf.status, 0u);
    ASSERT_NE(conf.document, nullptr);
    EXPECT_EQ(conf.root(), nullptr);
    EXPECT_EQ(version, 2);
}

TEST(ParseXmlLoad, AnyVersionReportsTheVersionFound) {
    std::int32_t version = PARSE_XML_ANY_VERSION;
    loaded conf(fixture_path("version_3.conf"), &version);
    ASSERT_EQ(conf.status, 0u);
    EXPECT_EQ(version, 3);
    EXPECT_EQ(text_at(conf.root(), "server/db_port"), "31415");
}

TEST(ParseXmlLoad, RootWithoutAttributesLoadsOnlyForAnyVersion) {
    std::int32_t any = PARSE_XML_ANY_VERSION;
    loaded with_any(fixture_path("root_without_attributes.conf"), &any);
    ASSERT_EQ(with_any.status, 0u);
    EXPECT_NE(with_any.root(), nullptr);
    EXPECT_EQ(any, PARSE_XML_ANY_VERSION);

    std::int32_t two = 2;
    loaded with_two(fixture_path("root_without_attributes.conf"), &two);
    EXPECT_EQ(with_two.status, 0u);
    EXPECT_EQ(with_two.root(), nullptr);
}

TEST(ParseXmlLoad, RootNotConfIsSkippedWithAVersionAndKeptWithout) {
    std::int32_t version = PARSE_XML_ANY_VERSION;
    loaded checked(fixture_path("root_not_conf.conf"), &version);
    EXPECT_EQ(checked.status, 0u);
    EXPECT_EQ(checked.root(), nullptr);

    loaded unchecked(fixture_path("root_not_conf.conf"), nullptr);
    ASSERT_EQ(unchecked.status, 0u);
    EXPECT_STREQ(parse_xml_get_node_name(unchecked.root()), "settings");
}

TEST(ParseXmlLoad, VersionIsReadLikeAnIntegerPrefixAndHugeValuesDoNotOverflow) {
    struct row {
        const char *xml;
        std::int32_t reported;
    };
    const row rows[] = {
        {"<CONF version=\" 2abc\"/>", 2},
        {"<CONF version=\"x\"/>", 0},
        {"<CONF version=\"99999999999999999999\"/>", INT32_MAX},
        {"<CONF version=\"-99999999999999999999\"/>", INT32_MIN},
        {"<CONF other=\"1\"/>", PARSE_XML_ANY_VERSION},
    };
    for (const row &r : rows) {
        std::int32_t version = PARSE_XML_ANY_VERSION;
        loaded conf(r.xml, &version);
        EXPECT_EQ(conf.status, 0u) << r.xml;
        EXPECT_EQ(version, r.reported) << r.xml;
        EXPECT_NE(conf.root(), nullptr) << r.xml;
    }
}

TEST(ParseXmlLoad, NodesAroundAndInsideAKeptRootAreAllKept) {
    std::int32_t version = 2;
    loaded conf("<!--before--><?tool run?><CONF version=\"2\"><!--inside--><server>"
                "<name>a<!--x-->b</name><notatag><item>deep</item></notatag></server></CONF>"
                "<!--after-->",
                &version);
    ASSERT_EQ(conf.status, 0u);
    std::string kinds;
    for (xmlNode *node = conf.document->children; node; node = node->next)
        kinds += node->type == XML_COMMENT_NODE ? 'c' : node->type == XML_PI_NODE ? 'p' : 'e';
    EXPECT_EQ(kinds, "cpec");
    EXPECT_EQ(conf.root()->children->type, XML_COMMENT_NODE);
    EXPECT_EQ(text_at(conf.root(), "server/notatag/item"), "deep");
    xmlNode *name = element_at(conf.root(), "server/name");
    ASSERT_NE(name, nullptr);
    ASSERT_NE(name->last, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char *>(name->last->content), "b");
}

TEST(ParseXmlLoad, LegacyPathsMoveAndTheOldValueWins) {
    std::int32_t version = 2;
    loaded conf(fixture_path("legacy_watch_paths.conf"), &version);
    ASSERT_EQ(conf.status, 0u);
    xmlNode *root = conf.root();
    EXPECT_EQ(element_at(root, "server/watchd"), nullptr);
    EXPECT_EQ(element_at(root, "default/watchfolderd"), nullptr);
    EXPECT_EQ(text_at(root, "server/watch/log_level"), "debug");
    EXPECT_EQ(count_children_named(element_at(root, "server/watch"), "log_level"), 1);
    EXPECT_EQ(text_at(root, "server/watch/log_directory"), "/var/log/watch");
    EXPECT_EQ(text_at(root, "server/watch/watchd/max_snapshots"), "12");
    EXPECT_EQ(text_at(root, "server/watch/watchd/scan_period"), "30s");
    EXPECT_EQ(text_at(root, "server/watch/watchfolderd/remote_tmpdir_conf"), "/tmp/remote");
    EXPECT_EQ(text_at(root, "server/watch/watchfolderd/purge_drops_max_age"), "7d");
    /* The moved element's parent links point at its new place. */
    xmlNode *level = element_at(root, "server/watch/log_level");
    EXPECT_EQ(level->children->parent, level);
}

TEST(ParseXmlLoad, LegacyPathsStayWithoutAVersionCheck) {
    loaded conf(fixture_path("legacy_watch_paths.conf"), nullptr);
    ASSERT_EQ(conf.status, 0u);
    EXPECT_EQ(text_at(conf.root(), "server/watchd/log_level"), "debug");
    EXPECT_EQ(text_at(conf.root(), "server/watch/log_level"), "info");
}

TEST(ParseXmlLoad, RepeatedLegacyElementsAreAllMoved) {
    std::int32_t version = 2;
    loaded conf(
        "<CONF version=\"2\"><server><watchd><log_level>a</log_level></watchd>"
        "<watchd><log_level>b</log_level></watchd></server></CONF>",
        &version);
    ASSERT_EQ(conf.status, 0u);
    EXPECT_EQ(element_at(conf.root(), "server/watchd"), nullptr);
    /* Each pass moves the first old element found; the later one wins. */
    EXPECT_EQ(text_at(conf.root(), "server/watch/log_level"), "b");
}

struct bad_input {
    const char *name;
    std::string source;
    cv_status status;
    std::string message;
};

/* Names the case in test listings (the default prints the bytes). */
void PrintTo(const bad_input &c, std::ostream *os) { *os << c.name; }

class ParseXmlBadInput : public ::testing::TestWithParam<bad_input> {};

TEST_P(ParseXmlBadInput, GivesItsStatusAndMessage) {
    const bad_input &c = GetParam();
    const std::string mark = captured::mark();
    std::int32_t version = 2;
    xmlDoc *document = reinterpret_cast<xmlDoc *>(0x1);
    EXPECT_EQ(parse_xml_load_document(c.source.c_str(), &version, &document), c.status);
    EXPECT_EQ(document, nullptr);
    const std::string log = captured::since(mark);
    EXPECT_NE(log.find(c.message), std::string::npos) << log.substr(0, 2000);
}

std::string deep_nesting(int levels) {
    std::string xml = "<CONF version=\"2\">";
    for (int i = 0; i < levels; ++i) xml += "<item>";
    for (int i = 0; i < levels; ++i) xml += "</item>";
    return xml + "</CONF>";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseXmlBadInput,
    ::testing::Values(
        bad_input{"MissingFile", fixture_path("no_such_file.conf"), 2,
                  "Error allocating LibXML reader for " + fixture_path("no_such_file.conf") +
                      ".  Does the file exist?\r\n"},
        bad_input{"EmptyFile", fixture_path("empty.conf"), 28682,
                  "Error reading configuration file " + fixture_path("empty.conf") +
                      ".  Malformed XML?\r\n"},
        bad_input{"Malformed", fixture_path("malformed.conf"), 28682,
                  "Error reading configuration file " + fixture_path("malformed.conf") +
                      ".  Malformed XML?\r\n"},
        bad_input{"NotUtf8", fixture_path("not_utf8.conf"), 28682,
                  "Error reading configuration file " + fixture_path("not_utf8.conf") +
                      ".  Malformed XML?\r\n"},
        bad_input{"BillionLaughs", fixture_path("billion_laughs.conf"), 28682,
                  "Error reading configuration file " + fixture_path("billion_laughs.conf") +
                      ".  Malformed XML?\r\n"},
        bad_input{"ExternalEntity", fixture_path("external_entity.conf"), 28682,
                  "Error reading configuration file " + fixture_path("external_entity.conf") +
                      ".  Malformed XML?\r\n"},
        bad_input{"ExternalParameterEntity", fixture_path("external_parameter_entity.conf"),
                  28682,
                  "Error reading configuration file " +
                      fixture_path("external_parameter_entity.conf") + ".  Malformed XML?\r\n"},
        bad_input{"UnclosedString", "<CONF version=\"2\"><server>", 28682,
                  "Error reading configuration file <CONF version=\"2\"><server>.  Malformed "
                  "XML?\r\n"},
        bad_input{"DeepNesting", deep_nesting(5000), 28682,
                  "Error reading configuration file <CONF version=\"2\"><item><item>"},
        bad_input{"HugeText",
                  "<CONF version=\"2\"><name>" + std::string(11000000, 'x') + "</name></CONF>",
                  28682, "Error reading configuration file <CONF version=\"2\"><name>xxx"}),
    [](const ::testing::TestParamInfo<bad_input> &info) { return info.param.name; });

TEST(ParseXmlLoad, ExternalEntityIsNeverRead) {
    const std::string mark = captured::mark();
    xmlDoc *document = nullptr;
    EXPECT_NE(parse_xml_load_document(fixture_path("external_entity.conf").c_str(), nullptr,
                                      &document),
              0u);
    const std::string log = captured::since(mark);
    EXPECT_NE(log.find("Refused external entity"), std::string::npos) << log;
    EXPECT_EQ(log.find("secret-from-outside"), std::string::npos) << log;
}

TEST(ParseXmlLoad, InternalEntitiesAreStillSubstituted) {
    std::int32_t version = 2;
    loaded conf(fixture_path("internal_entity.conf"), &version);
    ASSERT_EQ(conf.status, 0u);
    EXPECT_EQ(text_at(conf.root(), "server/name"), "corvane server");
}

TEST(ParseXmlLoad, TheEntityLoaderIsPutBackAfterALoad) {
    const xmlExternalEntityLoader before = xmlGetExternalEntityLoader();
    std::int32_t version = 2;
    loaded conf(fixture_path("lowercase_root_version_2.conf"), &version);
    EXPECT_EQ(xmlGetExternalEntityLoader(), before);
}

TEST(ParseXmlLoad, NodeTextAccessorReadsTextNodesAndFirstTextChild) {
    loaded conf("<CONF><name>first<!--c-->second</name><empty/></CONF>", nullptr);
    ASSERT_EQ(conf.status, 0u);
    xmlNode *name = element_at(conf.root(), "name");
    EXPECT_STREQ(parse_xml_get_node_text(name), "first");
    EXPECT_STREQ(parse_xml_get_node_text(name->children), "first");
    EXPECT_EQ(parse_xml_get_node_text(element_at(conf.root(), "empty")), nullptr);
    EXPECT_EQ(parse_xml_get_node_text(name->children->next), nullptr); /* the comment */
    EXPECT_EQ(parse_xml_get_node_text(nullptr), nullptr);
    EXPECT_EQ(parse_xml_get_node_name(nullptr), nullptr);
    EXPECT_EQ(parse_xml_get_root(nullptr), nullptr);
}

TEST(ParseXmlLayer, StartsAndStopsAreCountedAndAnUnmatchedStopIsLogged) {
    /* The environment holds one start. */
    ASSERT_EQ(parse_xml_initialize(), 0u);
    parse_xml_deinitialize();
    {
        std::int32_t version = 2;
        loaded still_working(fixture_path("lowercase_root_version_2.conf"), &version);
        EXPECT_EQ(still_working.status, 0u);
    }

    parse_xml_deinitialize(); /* the environment's start */
    const std::string mark = captured::mark();
    parse_xml_deinitialize();
    EXPECT_NE(captured::since(mark).find("Unmatched call to parse_xml_deinitialize()\r\n"),
              std::string::npos);
    ASSERT_EQ(parse_xml_initialize(), 0u); /* for the environment's stop */
}

}  // namespace
