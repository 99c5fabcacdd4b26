// Tests of document loading: the root and version test, legacy relocation,
// bad input of every kind (each must give its status and message, never a
// crash or a hang), entity handling, and the layer's start counter.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cv_test_log_capture.h"
#include "parse_xml_test_support.h"
#include "uac/cv_uac.h"

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

/* The texts of the children of `parent` named `name`, in document order. */
std::vector<std::string> child_texts(xmlNode *parent, std::string_view name) {
    std::vector<std::string> texts;
    if (!parent) return texts;
    for (xmlNode *child = parent->children; child; child = child->next)
        if (child->type == XML_ELEMENT_NODE &&
            name == reinterpret_cast<const char *>(child->name)) {
            const char *text = parse_xml_get_node_text(child);
            texts.emplace_back(text ? text : "<none>");
        }
    return texts;
}

/* The value of attribute `name` of `element`, or "<none>". */
std::string attribute_of(xmlNode *element, const char *name) {
    if (!element) return "<no element>";
    xmlChar *value = xmlGetProp(element, BAD_CAST name);
    const std::string text = value ? reinterpret_cast<const char *>(value) : "<none>";
    xmlFree(value);
    return text;
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
    /* The comment inside the value stays; the value's text is one node. */
    xmlNode *name = element_at(conf.root(), "server/name");
    ASSERT_NE(name, nullptr);
    ASSERT_NE(name->children, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char *>(name->children->content), "ab");
    ASSERT_NE(name->last, nullptr);
    EXPECT_EQ(name->last->type, XML_COMMENT_NODE);
}

/* The element children of a document (a refused root leaves none). */
int element_children(xmlDoc *document) {
    int n = 0;
    for (xmlNode *node = document->children; node; node = node->next)
        if (node->type == XML_ELEMENT_NODE) ++n;
    return n;
}

TEST(ParseXmlLoad, ARefusedRootLeavesAnEmptyDocumentWhateverPrecedesIt) {
    const char *const fixtures[] = {"doctype_version_3.conf", "doctype_wrong_root.conf",
                                    "comment_pi_version_3.conf", "version_3.conf",
                                    "root_not_conf.conf"};
    for (const char *name : fixtures) {
        std::int32_t version = 2;
        loaded conf(fixture_path(name), &version);
        ASSERT_EQ(conf.status, 0u) << name;
        ASSERT_NE(conf.document, nullptr) << name;
        EXPECT_EQ(conf.root(), nullptr) << name;
        EXPECT_EQ(element_children(conf.document), 0) << name;
        EXPECT_EQ(version, 2) << name;
    }
    /* The same files with their own version or without a check keep their
     * content, so the refusal above is the check's doing. */
    std::int32_t any = PARSE_XML_ANY_VERSION;
    loaded doctype(fixture_path("doctype_version_3.conf"), &any);
    EXPECT_EQ(any, 3);
    EXPECT_EQ(text_at(doctype.root(), "server/db_port"), "31415");
    loaded unchecked(fixture_path("doctype_wrong_root.conf"), nullptr);
    EXPECT_EQ(text_at(unchecked.root(), "server/db_port"), "31415");
}

/* Starts the framework for one test (the XML layer's start is counted). */
struct framework_started {
    framework_started() { EXPECT_EQ(cv_uac_init(nullptr), 0u); }
    ~framework_started() { cv_uac_deinit(); }
};

TEST(ParseXmlLoad, ConfDFilesWithRefusedRootsAddNothingToTheSet) {
    framework_started framework;
    cv_uac_conf_set *set =
        cv_uac_load_conf_file(fixture_path("conf_sets/refused_roots/corvane.conf").c_str(), 0);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->count, 1);
    static constexpr std::int32_t kPath[] = {PARSE_XML_TAG_server, PARSE_XML_TAG_db_port,
                                             PARSE_XML_END};
    std::vector<std::string> ports;
    xmlNode **nodes = cv_uac_find_nodes(set, kPath);
    for (xmlNode **node = nodes; node && *node; ++node)
        ports.emplace_back(parse_xml_get_node_text(*node));
    cv_uac_free(nodes);
    EXPECT_EQ(ports, std::vector<std::string>{"2718"});
    EXPECT_EQ(cv_uac_release_conf_file_set(set), 0u);
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

TEST(ParseXmlLoad, RepeatedLegacyElementsAreAllMovedInDocumentOrder) {
    std::int32_t version = 2;
    loaded conf(
        "<CONF version=\"2\"><server><watchd><log_level>a</log_level></watchd>"
        "<watchd><log_level>b</log_level></watchd></server></CONF>",
        &version);
    ASSERT_EQ(conf.status, 0u);
    EXPECT_EQ(element_at(conf.root(), "server/watchd"), nullptr);
    xmlNode *watch = element_at(conf.root(), "server/watch");
    ASSERT_NE(watch, nullptr);
    EXPECT_EQ(child_texts(watch, "log_level"), (std::vector<std::string>{"a", "b"}));
}

TEST(ParseXmlLoad, LegacyRelocationKeepsConditionsRepeatsAndEveryServer) {
    std::int32_t version = 2;
    loaded conf(fixture_path("legacy_conditions_and_repeats.conf"), &version);
    ASSERT_EQ(conf.status, 0u);
    xmlNode *root = conf.root();
    std::vector<xmlNode *> servers;
    for (xmlNode *child = root->children; child; child = child->next)
        if (child->type == XML_ELEMENT_NODE && std::string_view("server") ==
                                                      reinterpret_cast<const char *>(child->name))
            servers.push_back(child);
    ASSERT_EQ(servers.size(), 2u);
    for (xmlNode *server : servers) EXPECT_EQ(element_at(server, "watchd"), nullptr);
    EXPECT_EQ(element_at(root, "default/watchfolderd"), nullptr);

    /* First server: a conditional level, two repeated snapshot limits. */
    xmlNode *first_watch = element_at(servers[0], "watch");
    ASSERT_NE(first_watch, nullptr);
    EXPECT_EQ(child_texts(first_watch, "log_level"), (std::vector<std::string>{"debug"}));
    EXPECT_EQ(attribute_of(element_at(first_watch, "log_level"), "peer_ip"), "10.0.0.0/8");
    EXPECT_EQ(child_texts(element_at(first_watch, "watchd"), "max_snapshots"),
              (std::vector<std::string>{"5", "50"}));
    EXPECT_EQ(attribute_of(element_at(first_watch, "watchd/max_snapshots"), "fitness"),
              "cookie(small)");

    /* Second server: its own legacy elements moved below its own watch. */
    xmlNode *second_watch = element_at(servers[1], "watch");
    ASSERT_NE(second_watch, nullptr);
    EXPECT_EQ(child_texts(second_watch, "log_level"), (std::vector<std::string>{"warning"}));
    EXPECT_EQ(child_texts(second_watch, "db_spec"), (std::vector<std::string>{"redis:x"}));
    EXPECT_EQ(child_texts(element_at(second_watch, "watchd"), "scan_period"),
              (std::vector<std::string>{"10s"}));

    /* The default's watchfolderd settings go to the first server. */
    EXPECT_EQ(child_texts(element_at(first_watch, "watchfolderd"), "raw_options"),
              (std::vector<std::string>{"-a", "-b"}));
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
        bad_input{"SplitTextOverTheTextLimit",
                  "<CONF version=\"2\"><name>" + std::string(6000000, 'x') + "<!--c-->" +
                      std::string(6000000, 'y') + "</name></CONF>",
                  28682, "Error reading configuration file <CONF version=\"2\"><name>xxx"},
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

TEST(ParseXmlLoad, NodeTextAccessorReadsTheWholeTextOfAnElement) {
    loaded conf("<CONF><name>first<!--c-->second</name><empty/></CONF>", nullptr);
    ASSERT_EQ(conf.status, 0u);
    xmlNode *name = element_at(conf.root(), "name");
    EXPECT_STREQ(parse_xml_get_node_text(name), "firstsecond");
    EXPECT_STREQ(parse_xml_get_node_text(name->children), "firstsecond");
    EXPECT_EQ(parse_xml_get_node_text(element_at(conf.root(), "empty")), nullptr);
    EXPECT_EQ(parse_xml_get_node_text(name->children->next), nullptr); /* the comment */
    EXPECT_EQ(parse_xml_get_node_text(nullptr), nullptr);
    EXPECT_EQ(parse_xml_get_node_name(nullptr), nullptr);
    EXPECT_EQ(parse_xml_get_root(nullptr), nullptr);
}

TEST(ParseXmlLoad, CdataCommentsProcessingInstructionsAndEntitiesKeepTheValueWhole) {
    std::int32_t version = 2;
    loaded conf(fixture_path("element_texts.conf"), &version);
    ASSERT_EQ(conf.status, 0u);
    std::vector<std::string> texts;
    for (xmlNode *user = element_at(conf.root(), "users")->children; user; user = user->next)
        if (user->type == XML_ELEMENT_NODE) texts.push_back(text_at(user, "name"));
    EXPECT_EQ(texts, (std::vector<std::string>{"bob", "alice", "carol", "a<b>c", "d&e",
                                               "    eve   "}));
}

/* Sends file descriptors 1 and 2 to files while it lives, and reads back
 * what was written to them. */
class console_capture {
public:
    console_capture() {
        std::fflush(stdout);
        std::fflush(stderr);
        for (int fd : {1, 2}) {
            char pattern[] = "/tmp/parse_xml_console_XXXXXX";
            const int file = ::mkstemp(pattern);
            EXPECT_GE(file, 0);
            paths_[fd - 1] = pattern;
            saved_[fd - 1] = ::dup(fd);
            EXPECT_GE(::dup2(file, fd), 0);
            ::close(file);
        }
    }
    /* Puts the console back and returns what fd 1 and fd 2 received. */
    std::pair<std::string, std::string> finish() {
        std::fflush(stdout);
        std::fflush(stderr);
        std::string written[2];
        for (int fd : {1, 2}) {
            ::dup2(saved_[fd - 1], fd);
            ::close(saved_[fd - 1]);
            std::ifstream in(paths_[fd - 1], std::ios::binary);
            std::stringstream text;
            text << in.rdbuf();
            written[fd - 1] = text.str();
            std::remove(paths_[fd - 1].c_str());
        }
        return {written[0], written[1]};
    }

private:
    std::string paths_[2];
    int saved_[2] = {-1, -1};
};

TEST(ParseXmlLoad, ParserMessagesGoToTheLogNeverToTheConsole) {
    const std::string mark = captured::mark();
    console_capture console;
    const std::string sources[] = {
        fixture_path("no_such_file.conf"),
        CV_TEST_DATA_DIR, /* a folder, not a file */
        fixture_path("malformed.conf"),
        fixture_path("not_utf8.conf"),
        "<CONF version=\"2\"><server><db_port>1</server></CONF>",
        "<?xml version=\"1.0\" encoding=\"no-such-encoding\"?><CONF/>",
        "<CONF version=\"2\">&undefined;</CONF>",
    };
    for (const std::string &source : sources) {
        std::int32_t version = 2;
        xmlDoc *document = nullptr;
        EXPECT_NE(parse_xml_load_document(source.c_str(), &version, &document), 0u) << source;
        EXPECT_EQ(parse_xml_load_string(source.c_str()), nullptr) << source;
    }
    const auto [out, err] = console.finish();
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "");
    const std::string log = captured::since(mark);
    EXPECT_NE(log.find("XML parser error, line 1: Opening and ending tag mismatch"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("XML parser error, line 0: Is a directory"), std::string::npos) << log;
    /* Every parser message is one line of the log. */
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("XML parser") != std::string::npos) {
            EXPECT_EQ(line.back(), '\r') << line;
        }
    }
}

TEST(ParseXmlLoad, ParserMessagesAreEscapedInTheLog) {
    const std::string mark = captured::mark();
    /* The undefined entity's name reaches the message: make it hostile. */
    const std::string source = "<CONF version=\"2\">&evil\x1b[2J;</CONF>";
    std::int32_t version = 2;
    xmlDoc *document = nullptr;
    EXPECT_NE(parse_xml_load_document(source.c_str(), &version, &document), 0u);
    const std::string log = captured::since(mark);
    EXPECT_EQ(log.find('\x1b'), std::string::npos) << log;
    EXPECT_NE(log.find("\\x1B"), std::string::npos) << log;
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
