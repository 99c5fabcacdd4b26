// Tests of configuration sets: locating the main file, loading the main
// file and conf.d (byte order of the conf.d files, the file limit, sets
// founded by conf.d alone, bad files of every kind), adding and re-reading
// a file, searching the set, the master group set and rooted paths.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cv_test_log_capture.h"
#include "cvplatform/cv_file.h"
#include "cvplatform/cv_path.h"
#include "uac/cv_uac.h"

CV_TEST_LOG_CAPTURE();

namespace {

using captured = cv_test_log_capture;
namespace fs = std::filesystem;

/* Starts the framework (and with it the XML layer) around the tests. */
class framework_environment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(cv_uac_init(nullptr), 0u); }
    void TearDown() override { cv_uac_deinit(); }
};
[[maybe_unused]] ::testing::Environment *const framework_env =
    ::testing::AddGlobalTestEnvironment(new framework_environment);

std::string fixture(const std::string &name) {
    return std::string(CV_TEST_DATA_DIR) + "/conf_sets/" + name;
}

/* A private temporary folder, removed with everything in it. */
struct temp_dir {
    std::string path;
    temp_dir() {
        char pattern[] = "/tmp/uac_conf_set_XXXXXX";
        EXPECT_NE(::mkdtemp(pattern), nullptr);
        path = pattern;
    }
    ~temp_dir() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    std::string operator/(const std::string &name) const { return path + "/" + name; }
};

void write_file(const std::string &path, const std::string &text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string conf_text(int db_port) {
    return "<CONF version=\"2\"><server><db_port>" + std::to_string(db_port) +
           "</db_port></server></CONF>";
}

/* Owns a loaded set. */
struct loaded_set {
    cv_uac_conf_set *set;
    loaded_set(const std::string &path, std::uint32_t flags = 0)
        : set(cv_uac_load_conf_file(path.c_str(), flags)) {}
    ~loaded_set() { EXPECT_EQ(cv_uac_release_conf_file_set(set), 0u); }
    cv_uac_conf_set *operator->() const { return set; }
};

/* The file each slot of the set was read from, in search order. */
std::vector<std::string> files_of(const cv_uac_conf_set *set) {
    std::vector<std::string> files;
    for (std::int32_t i = 0; i < set->count; ++i)
        files.emplace_back(set->paths[i] ? set->paths[i] : "<text>");
    return files;
}

/* `names` below `folder`, in the order given. */
std::vector<std::string> paths_in(const std::string &folder,
                                  const std::vector<std::string> &names) {
    std::vector<std::string> paths;
    for (const std::string &name : names) paths.push_back(folder + "/" + name);
    return paths;
}

/* The db_port texts of the set, in search order. */
std::vector<std::string> db_ports(const cv_uac_conf_set *set) {
    static constexpr std::int32_t kPath[] = {PARSE_XML_TAG_server, PARSE_XML_TAG_db_port,
                                             PARSE_XML_END};
    std::vector<std::string> ports;
    xmlNode **nodes = cv_uac_find_nodes(set, kPath);
    for (xmlNode **node = nodes; node && *node; ++node)
        ports.emplace_back(parse_xml_get_node_text(*node));
    cv_uac_free(nodes);
    return ports;
}

std::string not_found_line(const std::string &path) {
    return "conf file " + path + " not found.  Using default settings.";
}

TEST(UacFindConfFile, FindsTheMainFileOrAConfDFolderBesideTheExecutable) {
    struct row {
        std::vector<std::string> present;  // below the install root
        cv_status status;
        std::string found;                 // below the install root
    };
    const row rows[] = {
        {{"etc/corvane.conf", "etc/conf.d/a.conf"}, 0, "etc/corvane.conf"},
        {{"bin/corvane.conf", "etc/corvane.conf"}, 0, "bin/corvane.conf"},
        {{"etc/conf.d/a.conf"}, 0, "etc/corvane.conf"},
        {{"elsewhere/corvane.conf"}, CV_E_FILE_NOT_FOUND, ""},
    };
    for (const row &r : rows) {
        temp_dir root;
        for (const std::string &file : r.present) write_file(root / file, conf_text(1));
        const std::string marker = captured::mark();
        char found[CV_PATH_SIZE] = "unchanged";
        EXPECT_EQ(cv_uac_find_conf_file((root / "bin/cvshell").c_str(), found, sizeof found),
                  r.status);
        EXPECT_EQ(found, r.found.empty() ? "" : root / r.found) << r.present[0];
        EXPECT_EQ(captured::count(captured::since(marker),
                                  "LOG Unable to find either corvane.conf or a conf.d folder"),
                  r.status == 0 ? 0 : 1);
    }
}

TEST(UacLoad, ConfDFilesThatLoadComeBeforeTheMainFile) {
    const std::string marker = captured::mark();
    loaded_set conf(fixture("main_and_conf_d/corvane.conf"));
    ASSERT_NE(conf.set, nullptr);
    EXPECT_EQ(conf->count, 3);
    EXPECT_EQ(cv_uac_get_conf_version(conf.set), 2);
    EXPECT_EQ(files_of(conf.set),
              (std::vector<std::string>{
                  fixture("main_and_conf_d/conf.d/nested/server_http_port.conf"),
                  fixture("main_and_conf_d/conf.d/server_db_port.conf"),
                  fixture("main_and_conf_d/corvane.conf")}));
    EXPECT_EQ(conf->conf_d, fixture("main_and_conf_d/conf.d"));
    EXPECT_EQ(conf->roots[3], nullptr);
    // The README and the empty file are reported; the wrong version and the
    // foreign root leave nothing to add.
    const std::string log = captured::since(marker);
    for (const char *name : {"README", "empty.conf"})
        EXPECT_EQ(captured::count(log, "ERR Error reading configuration file " +
                                           fixture("main_and_conf_d/conf.d/") + name +
                                           ".  Malformed XML?"),
                  1)
            << name;
    EXPECT_EQ(captured::count(log, "not found"), 0);
}

TEST(UacLoad, ConfDFilesLoadInTheByteOrderOfTheirRelativePaths) {
    temp_dir root;
    write_file(root / "corvane.conf", conf_text(0));
    int port = 1;
    for (const char *name : {"z.conf", "b.conf", "a/z.conf", "B.conf", "a.conf", "m/n/c.conf",
                             "m-x.conf", "m/e.conf"})
        write_file(root / (std::string("conf.d/") + name), conf_text(port++));

    loaded_set conf(root / "corvane.conf");
    ASSERT_NE(conf.set, nullptr);
    // Upper case before lower case, "." and "-" before "/", whatever the
    // folder listing says.
    std::vector<std::string> expected =
        paths_in(root / "conf.d", {"B.conf", "a.conf", "a/z.conf", "b.conf", "m-x.conf",
                                   "m/e.conf", "m/n/c.conf", "z.conf"});
    expected.push_back(root / "corvane.conf");
    EXPECT_EQ(files_of(conf.set), expected);
    // The first match of a search is the first conf.d file's.
    EXPECT_EQ(db_ports(conf.set),
              (std::vector<std::string>{"4", "5", "3", "2", "7", "8", "6", "1", "0"}));
}

TEST(UacLoad, ConfDAloneFoundsTheSet) {
    const std::string main_path = fixture("conf_d_only/corvane.conf");
    const std::string marker = captured::mark();
    loaded_set conf(main_path);
    ASSERT_NE(conf.set, nullptr);
    EXPECT_EQ(conf->count, 2);
    EXPECT_EQ(cv_uac_get_conf_version(conf.set), 2);
    EXPECT_EQ(files_of(conf.set), paths_in(fixture("conf_d_only/conf.d"), {"a.conf", "b.conf"}));
    EXPECT_EQ(captured::count(captured::since(marker), "ERR " + not_found_line(main_path)), 1);
}

TEST(UacLoad, AFileThatFailsDoesNotFixTheVersionOfTheSetItWouldFound) {
    temp_dir root;
    write_file(root / "conf.d/a.conf", "<CONF version=\"3\"><server>");  // version 3, broken
    write_file(root / "conf.d/b.conf", conf_text(2));
    loaded_set conf(root / "corvane.conf");
    ASSERT_NE(conf.set, nullptr);
    EXPECT_EQ(cv_uac_get_conf_version(conf.set), 2);
    EXPECT_EQ(files_of(conf.set), paths_in(root / "conf.d", {"b.conf"}));
}

TEST(UacLoad, NothingToReadGivesNoSet) {
    temp_dir root;
    const std::string marker = captured::mark();
    EXPECT_EQ(cv_uac_load_conf_file((root / "corvane.conf").c_str(), 0), nullptr);
    EXPECT_NE(captured::since(marker).find("ERR " + not_found_line(root / "corvane.conf")),
              std::string::npos);
}

TEST(UacLoad, UnreadableMainFileEndsTheLoadBeforeConfD) {
    const std::string marker = captured::mark();
    EXPECT_EQ(cv_uac_load_conf_file(fixture("malformed_main/corvane.conf").c_str(), 0), nullptr);
    const std::string log = captured::since(marker);
    EXPECT_EQ(captured::count(log, "Malformed XML?"), 1);
    EXPECT_EQ(captured::count(log, "not found"), 0);
}

TEST(UacLoad, XmlTextAndTheFlagReadOneFileOnly) {
    loaded_set text("<CONF version=\"2\"><server><db_port>9</db_port></server></CONF>");
    ASSERT_NE(text.set, nullptr);
    EXPECT_EQ(db_ports(text.set), std::vector<std::string>{"9"});

    loaded_set flagged(fixture("main_and_conf_d/corvane.conf"), CV_UAC_LOAD_NO_CONF_D);
    ASSERT_NE(flagged.set, nullptr);
    EXPECT_EQ(db_ports(flagged.set), std::vector<std::string>{"1"});
}

TEST(UacLoad, AHundredFilesAtMostTheFirstInByteOrder) {
    temp_dir root;
    write_file(root / "corvane.conf", conf_text(0));
    for (int i = 1; i <= 100; ++i)
        write_file(root / ("conf.d/file_" + std::to_string(i) + ".conf"), conf_text(i));

    loaded_set conf(root / "corvane.conf");
    ASSERT_NE(conf.set, nullptr);
    ASSERT_EQ(conf->count, 100);
    EXPECT_EQ(conf->roots[100], nullptr);
    // In byte order file_1, file_10, file_100, file_11 ... file_98, file_99:
    // the last one finds the set full.
    const std::vector<std::string> files = files_of(conf.set);
    EXPECT_EQ(std::vector<std::string>(files.begin(), files.begin() + 4),
              paths_in(root / "conf.d", {"file_1.conf", "file_10.conf", "file_100.conf",
                                         "file_11.conf"}));
    EXPECT_EQ(files[98], root / "conf.d/file_98.conf");
    EXPECT_EQ(files[99], root / "corvane.conf");
    EXPECT_EQ(std::count(files.begin(), files.end(), root / "conf.d/file_99.conf"), 0);
    EXPECT_EQ(cv_uac_load_additional_conf_file((root / "conf.d/file_99.conf").c_str(), conf.set),
              0);
    EXPECT_EQ(conf->count, 100);
}

TEST(UacLoad, HostileConfDEntriesAreSkipped) {
    temp_dir root;
    write_file(root / "corvane.conf", conf_text(0));
    write_file(root / "conf.d/real.conf", conf_text(1));
    write_file(root / "conf.d/\xff\xfe.conf", conf_text(2));
    fs::create_directory_symlink("..", root / "conf.d/loop");
    fs::create_symlink(root / "conf.d/missing.conf", root / "conf.d/dangling.conf");
    ASSERT_EQ(::mkfifo((root / "conf.d/fifo.conf").c_str(), 0600), 0);

    loaded_set conf(root / "corvane.conf");
    ASSERT_NE(conf.set, nullptr);
    std::vector<std::string> ports = db_ports(conf.set);
    std::sort(ports.begin(), ports.end());
    EXPECT_EQ(ports, (std::vector<std::string>{"0", "1", "2"}));
}

TEST(UacAddFile, AddsOnlyReadableFilesOfTheSetsVersion) {
    loaded_set conf("<CONF version=\"2\"/>");
    ASSERT_NE(conf.set, nullptr);
    struct row {
        std::string file;
        std::int32_t added;
    };
    const row rows[] = {
        {fixture("main_and_conf_d/conf.d/version_3.conf"), 0},
        {fixture("main_and_conf_d/conf.d/root_not_conf.conf"), 0},
        {fixture("main_and_conf_d/conf.d/empty.conf"), 0},
        {fixture("main_and_conf_d/conf.d/absent.conf"), 0},
        {fixture("main_and_conf_d/conf.d/server_db_port.conf"), 1},
    };
    for (const row &r : rows)
        EXPECT_EQ(cv_uac_load_additional_conf_file(r.file.c_str(), conf.set), r.added) << r.file;
    EXPECT_EQ(conf->count, 2);
    EXPECT_EQ(db_ports(conf.set), std::vector<std::string>{"2"});
    EXPECT_EQ(cv_uac_get_conf_version(conf.set), 2);
}

TEST(UacAddFile, NoSetIsReported) {
    const std::string marker = captured::mark();
    EXPECT_EQ(cv_uac_load_additional_conf_file(fixture("conf_d_only/conf.d/a.conf").c_str(),
                                               nullptr),
              0);
    EXPECT_EQ(captured::count(captured::since(marker),
                              "ERR cv_uac_load_additional_conf_file: Conf set is NULL.  Nothing "
                              "to do!"),
              1);
    EXPECT_EQ(cv_uac_get_conf_version(nullptr), 0);
}

TEST(UacAddFile, AConfDFileTakesItsPlaceAndAFileAddedAgainKeepsIts) {
    temp_dir root;
    write_file(root / "corvane.conf", conf_text(0));
    write_file(root / "conf.d/b.conf", conf_text(2));
    write_file(root / "elsewhere.conf", conf_text(9));
    loaded_set conf(root / "corvane.conf");
    ASSERT_NE(conf.set, nullptr);

    write_file(root / "conf.d/a.conf", conf_text(1));
    write_file(root / "conf.d/c.conf", conf_text(3));
    for (const char *name : {"conf.d/c.conf", "conf.d/a.conf", "elsewhere.conf"})
        EXPECT_EQ(cv_uac_load_additional_conf_file((root / name).c_str(), conf.set), 1) << name;
    EXPECT_EQ(files_of(conf.set),
              (std::vector<std::string>{root / "conf.d/a.conf", root / "conf.d/b.conf",
                                        root / "conf.d/c.conf", root / "corvane.conf",
                                        root / "elsewhere.conf"}));
    EXPECT_EQ(db_ports(conf.set), (std::vector<std::string>{"1", "2", "3", "0", "9"}));

    // Rewritten and added again, under another spelling of its path: read
    // again in its own slot, the set does not grow.
    write_file(root / "conf.d/b.conf", conf_text(20));
    EXPECT_EQ(cv_uac_load_additional_conf_file((root / "conf.d/../conf.d/./b.conf").c_str(),
                                               conf.set),
              1);
    EXPECT_EQ(conf->count, 5);
    EXPECT_EQ(db_ports(conf.set), (std::vector<std::string>{"1", "20", "3", "0", "9"}));

    // A rewrite that cannot be read leaves the slot as it was.
    write_file(root / "conf.d/b.conf", "<CONF version=\"2\"><server>");
    EXPECT_EQ(cv_uac_load_additional_conf_file((root / "conf.d/b.conf").c_str(), conf.set), 0);
    EXPECT_EQ(db_ports(conf.set), (std::vector<std::string>{"1", "20", "3", "0", "9"}));

    // An XML text is searched last, and each one is a slot of its own.
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(cv_uac_load_additional_conf_file(conf_text(42).c_str(), conf.set), 1);
    EXPECT_EQ(db_ports(conf.set),
              (std::vector<std::string>{"1", "20", "3", "0", "9", "42", "42"}));
}

TEST(UacFindNodes, MatchesAcrossTheSetInSearchOrderUpToAHundred) {
    loaded_set conf(fixture("main_and_conf_d/corvane.conf"));
    ASSERT_NE(conf.set, nullptr);
    std::vector<std::string> ports = db_ports(conf.set);
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0], "2");  // conf.d/server_db_port.conf
    EXPECT_EQ(ports[1], "1");  // corvane.conf

    static constexpr std::int32_t kNothing[] = {PARSE_XML_TAG_aaa, PARSE_XML_END};
    EXPECT_EQ(cv_uac_find_nodes(conf.set, kNothing), nullptr);

    std::string many = "<CONF version=\"2\">";
    for (int i = 0; i < 150; ++i)
        many += "<server><db_port>" + std::to_string(i) + "</db_port></server>";
    loaded_set big(many + "</CONF>");
    ports = db_ports(big.set);
    ASSERT_EQ(ports.size(), CV_UAC_MAX_FOUND_NODES);
    EXPECT_EQ(ports.front(), "0");
    EXPECT_EQ(ports.back(), "99");
}

TEST(UacMasterGroups, NamedGroupsSortedByPrecedenceWithTheirRealms) {
    loaded_set conf(fixture("groups_by_precedence.conf"));
    ASSERT_NE(conf.set, nullptr);
    const std::string marker = captured::mark();
    ASSERT_EQ(cv_uac_select_master_conf_file_set(conf.set), 0u);
    EXPECT_EQ(captured::count(captured::since(marker),
                              "ERR Nameless group found in conf file.  Can not possibly have any "
                              "members!"),
              1);

    struct expected_entry {
        const char *name;
        const char *realm;
        double precedence;
    };
    const expected_entry expected[] = {
        {"negative", "", -1.5},          {"padded", "corp", 5.0},
        {"early", "corp", 10.0},         {"defaulted", "corp", 1000.0},
        {"not_a_number", "", 1000.0},    {"a_word", "", 1000.0},
        {"late", "corp", 2000.0},
    };
    const cv_uac_master_group_set *groups = cv_uac_get_master_group_set();
    ASSERT_NE(groups, nullptr);
    ASSERT_EQ(groups->count, std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const cv_uac_group_entry &entry = groups->entries[i];
        EXPECT_STREQ(entry.name, expected[i].name) << i;
        EXPECT_STREQ(entry.realm, expected[i].realm) << i;
        EXPECT_EQ(entry.precedence, expected[i].precedence) << i;
        ASSERT_NE(entry.node, nullptr);
        EXPECT_STREQ(parse_xml_get_node_name(entry.node), "group");
    }
}

TEST(UacMasterGroups, ReleasingTheSetDiscardsItsGroups) {
    cv_uac_conf_set *set = cv_uac_load_conf_file(fixture("groups_by_precedence.conf").c_str(), 0);
    ASSERT_NE(set, nullptr);
    ASSERT_EQ(cv_uac_select_master_conf_file_set(set), 0u);
    ASSERT_NE(cv_uac_get_master_group_set(), nullptr);
    EXPECT_EQ(cv_uac_release_conf_file_set(set), 0u);
    EXPECT_EQ(cv_uac_get_master_group_set(), nullptr);
}

TEST(UacMasterGroups, LongNamesAreKeptWholeAndNeverMerge) {
    // Two groups whose names share their first 600 bytes, in a realm whose
    // name is as long.
    const std::string common(600, 'g');
    const std::string realm(700, 'r');
    loaded_set conf("<CONF version=\"2\"><aaa><realms><realm><name>" + realm +
                    "</name><groups><group><name> " + common + "-one </name>"
                    "<precedence>1</precedence></group><group><name>" + common +
                    "-two</name><precedence>2</precedence></group></groups></realm></realms>"
                    "</aaa></CONF>");
    ASSERT_NE(conf.set, nullptr);
    ASSERT_EQ(cv_uac_select_master_conf_file_set(conf.set), 0u);
    const cv_uac_master_group_set *groups = cv_uac_get_master_group_set();
    ASSERT_NE(groups, nullptr);
    ASSERT_EQ(groups->count, 2u);
    EXPECT_EQ(std::string(groups->entries[0].name), common + "-one");
    EXPECT_EQ(std::string(groups->entries[1].name), common + "-two");
    EXPECT_EQ(std::string(groups->entries[0].realm), realm);
    EXPECT_EQ(std::string(groups->entries[1].realm), realm);
}

TEST(UacRootedPath, RootsThenCanonicalises) {
    struct row {
        const char *path;
        int status;
        const char *rooted;
    };
    const row rows[] = {
        {"a/b", 0, "/a/b"},          {"\\x\\..\\y", 0, "/y"},   {"/a/./b/", 0, "/a/b"},
        {"  data/../..", 0, "/"},    {"C:/x/../y", 0, "C:/y"},  {"", 0, "/"},
        {"C:x", -1, ""},
    };
    for (const row &r : rows) {
        char buffer[CV_PATH_SIZE];
        std::snprintf(buffer, sizeof buffer, "%s", r.path);
        EXPECT_EQ(cv_uac_rooted_path(buffer, buffer, sizeof buffer), r.status) << r.path;
        EXPECT_STREQ(buffer, r.rooted) << r.path;
    }
    const std::string too_long(CV_PATH_SIZE, 'a');
    char out[CV_PATH_SIZE] = "unchanged";
    EXPECT_EQ(cv_uac_rooted_path(too_long.c_str(), out, sizeof out), -1);
    EXPECT_STREQ(out, "");
}

}  // namespace
