// Tests of the shell's decision: the built-in forms and their gates, the
// management-port scan pattern and its port rules, the user's extra
// commands, the near misses that must be refused, the strict scanner, and
// the policy built from a user's and the server's settings.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cvshell/policy.h"
#include "shell_internal.h"
#include "uac/cv_uac.h"
#include "uac/cv_uac_config.h"
#include "uac/cv_uac_server.h"
#include "uac/cv_uac_user.h"

namespace {

/* The decision in words: "accepted by builtin 0", "refused (no entry
 * matches)", "refused by extra 1 (management port out of range)"; an extra
 * entry adds its place, " at f.conf:3". */
std::string describe(const shell_decision &d) {
    std::string text = d.accepted ? "accepted" : "refused";
    if (d.source != shell_entry_source::none) {
        text += d.source == shell_entry_source::builtin ? " by builtin " : " by extra ";
        text += std::to_string(d.index);
        if (d.extra && !d.extra->file.empty())
            text += " at " + d.extra->file + ":" + std::to_string(d.extra->line);
    }
    if (!d.accepted) text += std::string(" (") + shell_refusal_text(d.reason) + ")";
    return text;
}

struct decide_case {
    const char *command;
    const char *expected;
    bool full_shell = true;
    bool dir_allowed = true;
    bool cvsync = true;
    std::uint32_t db_port = 31415;
};

class Decide : public ::testing::TestWithParam<decide_case> {};

TEST_P(Decide, ByTheBuiltInTable) {
    const decide_case &c = GetParam();
    shell_policy policy;
    policy.full_shell = c.full_shell;
    policy.dir_commands_allowed = c.dir_allowed;
    policy.cvsync_enabled = c.cvsync;
    policy.reserved_db_port = c.db_port;
    const shell_decision d = shell_decide(policy, c.command);
    EXPECT_EQ(describe(d), c.expected) << "command [" << c.command << "]";
    if (d.source == shell_entry_source::builtin) {
        EXPECT_EQ(d.entry, policy.builtin[d.index]);
    }
}

constexpr bool R = false;  // restricted mode
constexpr bool no = false;

constexpr const char *no_match = "refused (no entry matches)";
constexpr const char *by_port_form = "accepted by builtin 2";
constexpr const char *port_range = "refused by builtin 2 (management port out of range)";
constexpr const char *control = "refused by builtin 2 (control character in the command)";

INSTANTIATE_TEST_SUITE_P(
    BuiltIn, Decide,
    ::testing::Values(
        // The literal forms, in either mode.
        decide_case{"cvcp -S. -V1", "accepted by builtin 0"},
        decide_case{"cvcp -S. -V1", "accepted by builtin 0", R, no, no},
        decide_case{"cvcp4 -S.", "accepted by builtin 1", R},
        decide_case{"cvsync -q -S -s-", "accepted by builtin 3", R},
        // The gated forms: full mode and directory commands both needed.
        decide_case{"cvcmd", "accepted by builtin 4"},
        decide_case{"cvcmd -V2", "accepted by builtin 5"},
        decide_case{"cvcmd", "refused by builtin 4 (\"!\" entry in restricted mode)", R},
        decide_case{"cvcmd -V2", "refused by builtin 5 (\"!\" entry without directory commands)",
                    true, no},
        decide_case{"cvcmd", "refused by builtin 4 (\"!\" entry in restricted mode)", R, no},
        decide_case{"!cvcmd", no_match},
        // The management-port form, with and without -6, at the port edges.
        decide_case{"cvcp --no-mgmt-port-files -M 33001 -S. -V1", by_port_form, R},
        decide_case{"cvcp --no-mgmt-port-files -M 33001 -6 -S. -V1", by_port_form, R},
        decide_case{"cvcp --no-mgmt-port-files -M 1024 -S. -V1", by_port_form},
        decide_case{"cvcp --no-mgmt-port-files -M 65535 -6 -S. -V1", by_port_form},
        decide_case{"cvcp --no-mgmt-port-files -M 1023 -S. -V1", port_range},
        decide_case{"cvcp --no-mgmt-port-files -M 65536 -S. -V1", port_range},
        decide_case{"cvcp --no-mgmt-port-files -M 0 -S. -V1", port_range},
        // Leading zeros are digits like any other: ten of them at most.
        decide_case{"cvcp --no-mgmt-port-files -M 0000033001 -S. -V1", by_port_form},
        decide_case{"cvcp --no-mgmt-port-files -M 00000033001 -S. -V1", port_range},
        decide_case{"cvcp --no-mgmt-port-files -M 4294967297 -S. -V1", port_range},
        decide_case{"cvcp --no-mgmt-port-files -M 99999999999999999999 -S. -V1", port_range},
        // The database's port, wherever the server puts it.
        decide_case{"cvcp --no-mgmt-port-files -M 31415 -S. -V1",
                    "refused by builtin 2 (management port reserved for the database)"},
        decide_case{"cvcp --no-mgmt-port-files -M 31415 -S. -V1", by_port_form, true, true, true,
                    6379},
        decide_case{"cvcp --no-mgmt-port-files -M 6379 -S. -V1",
                    "refused by builtin 2 (management port reserved for the database)", true,
                    true, true, 6379},
        // The user's switch, before any port rule.
        decide_case{"cvcp --no-mgmt-port-files -M 33001 -S. -V1",
                    "refused by builtin 2 (management port form with cvsync disabled)", true,
                    true, no},
        decide_case{"cvcp --no-mgmt-port-files -M 1023 -6 -S. -V1",
                    "refused by builtin 2 (management port form with cvsync disabled)", true,
                    true, no},
        decide_case{"cvcp -S. -V1", "accepted by builtin 0", true, true, no}));

// Near misses of the management-port form: every one differs from an
// accepted form in what the tool would be handed.
INSTANTIATE_TEST_SUITE_P(
    PortNearMisses, Decide,
    ::testing::Values(
        // Blanks: exactly one, never a tab, a run or none.
        decide_case{"cvcp --no-mgmt-port-files -M\t33001 -S. -V1", no_match},
        decide_case{"cvcp\t--no-mgmt-port-files -M 33001 -S. -V1", no_match},
        decide_case{"cvcp --no-mgmt-port-files -M 33001\t-S. -V1", no_match},
        decide_case{"cvcp --no-mgmt-port-files -M 33001 -S.\t-V1", no_match},
        decide_case{"cvcp --no-mgmt-port-files  -M 33001 -S. -V1", no_match},
        decide_case{"cvcp --no-mgmt-port-files -M  33001 -S. -V1", no_match},
        decide_case{"cvcp --no-mgmt-port-files -M 33001  -S. -V1", no_match},
        decide_case{"cvcp  --no-mgmt-port-files   -M   33001   -S. -V1", no_match},
        decide_case{"cvcp --no-mgmt-port-files -M33001 -S. -V1", no_match},
        decide_case{"cvcp --no-mgmt-port-files -M2000 -S. -V1", no_match},
        decide_case{"cvcp --no-mgmt-port-files-M 33001 -S. -V1", no_match},
        decide_case{"cvcp--no-mgmt-port-files -M 33001 -S. -V1", no_match},
        decide_case{"cvcp --no-mgmt-port-files -M 33001-S. -V1", no_match},
        decide_case{" cvcp --no-mgmt-port-files -M 33001 -S. -V1", no_match},
        decide_case{"cvcp --no-mgmt-port-files -M 33001 -S. -V1 ", no_match},
        decide_case{"cvcp --no-mgmt-port-files -M 33001 -6 -S. -V1 ", no_match},
        decide_case{"cvcp --no-mgmt-port-files -M 33001\n-S. -V1", control},
        decide_case{"cvcp --no-mgmt-port-files -M 33001\r-S. -V1", control},
        // The port: unsigned decimal digits only.
        decide_case{"cvcp --no-mgmt-port-files -M +33001 -S. -V1", no_match},
        decide_case{"cvcp --no-mgmt-port-files -M -33001 -S. -V1", no_match},
        decide_case{"cvcp --no-mgmt-port-files -M +2000 -S. -V1", no_match},
        decide_case{"cvcp --no-mgmt-port-files -M -2000 -S. -V1", no_match},
        decide_case{"cvcp --no-mgmt-port-files -M 0x8000 -S. -V1", no_match},
        decide_case{"cvcp --no-mgmt-port-files -M 3300l -S. -V1", no_match},
        decide_case{"cvcp --no-mgmt-port-files -M  -S. -V1", no_match},
        // The tail: exactly one of the two, nothing after it.
        decide_case{"cvcp --no-mgmt-port-files -M 33001 -S. -V1 x", no_match},
        decide_case{"cvcp --no-mgmt-port-files -M 33001 -S. -V1x", no_match},
        decide_case{"cvcp --no-mgmt-port-files -M 33001 -S.", no_match},
        decide_case{"cvcp --no-mgmt-port-files -M 33001", no_match},
        decide_case{"cvcp --no-mgmt-port-files -M 33001 ", no_match},
        decide_case{"cvcp --no-mgmt-port-files -M 33001 -S. -V11", no_match},
        decide_case{"cvcp --no-mgmt-port-files -M 33001 -6 -6 -S. -V1", no_match},
        decide_case{"cvcp --no-mgmt-port-files -M 33001 -6  -S. -V1", no_match},
        decide_case{"cvcp --no-mgmt-port-files -M 33001 -S. -V1 -6", no_match}));

// Near misses of every built-in form: each must be refused.
INSTANTIATE_TEST_SUITE_P(
    NearMisses, Decide,
    ::testing::Values(
        decide_case{"", no_match}, decide_case{" ", no_match},
        decide_case{"cvcp -S. -V1 ", no_match}, decide_case{" cvcp -S. -V1", no_match},
        decide_case{"cvcp  -S. -V1", no_match}, decide_case{"cvcp\t-S. -V1", no_match},
        decide_case{"CVCP -S. -V1", no_match}, decide_case{"cvcp -s. -V1", no_match},
        decide_case{"cvcp -S. -V2", no_match},
        decide_case{"cvcp -S. -V1 -o ProxyCommand=x", no_match},
        decide_case{"cvcp -S. -V1 --help", no_match}, decide_case{"cvcp -S. -V1; sh", no_match},
        decide_case{"cvcp -S. -V1 && sh", no_match}, decide_case{"cvcp -S. -V1\nsh", control},
        decide_case{"cvcp -S. -V1\r", control}, decide_case{"cvcp -S. -V1\x01", control},
        decide_case{"cvcp -S. -V1\x7f", control}, decide_case{"cvcp -S. $(sh)", no_match},
        decide_case{"\"cvcp\" -S. -V1", no_match}, decide_case{"/usr/bin/cvcp -S. -V1", no_match},
        decide_case{"../cvcp -S. -V1", no_match}, decide_case{"cvcp4 -S", no_match},
        decide_case{"cvcp4 -S. ", no_match}, decide_case{"cvsync -q -S -s", no_match},
        decide_case{"cvsync -q -S -s- -e sh", no_match}, decide_case{"cvcmd ", no_match},
        decide_case{"cvcmd -V2 -V2", no_match}, decide_case{"cvcp -S. -V\xc3", no_match},
        decide_case{"cvcp -S.\xff-V1", no_match},
        decide_case{"cvcp --no-mgmt-port-files -M 33001 -S. -V1; sh", no_match},
        decide_case{"cvcp --no-mgmt-port-files -M 33001 -S.-V1", no_match},
        decide_case{"cvcp --no-mgmt-port-files -N 33001 -S. -V1", no_match},
        decide_case{"bash -c cvcp -S. -V1", no_match}, decide_case{"shell", no_match}));

TEST(Decide, TextWithAZeroByteIsNeverTheLiteral) {
    using namespace std::string_literals;
    EXPECT_EQ(describe(shell_decide(shell_policy{}, "cvcp -S. -V1\0x"s)), control);
    EXPECT_EQ(describe(shell_decide(shell_policy{}, "cvcp -S.\0-V1"s)), control);
}

class ExtraCommands : public ::testing::Test {
protected:
    void SetUp() override {
        policy_.extra = {{"mytool a/../b", "/etc/u.conf", 3},
                         {"!dirtool", "/etc/u.conf", 4},
                         {"", "/etc/u.conf", 5},
                         {"xtool -M %d %20[ -16.SV]%1s", "/etc/conf.d/x.conf", 9},
                         {"ytool %s %d", "", 0}};
    }
    std::string decide(const char *command) const {
        return describe(shell_decide(policy_, command));
    }
    shell_policy policy_;
};

TEST_F(ExtraCommands, AddCommandLinesBesideTheBuiltInOnes) {
    EXPECT_EQ(decide("mytool a/../b"), "accepted by extra 0 at /etc/u.conf:3");
    EXPECT_EQ(decide("mytool a/../b "), no_match);
    EXPECT_EQ(decide("mytool"), no_match);
    EXPECT_EQ(decide("cvcp -S. -V1"), "accepted by builtin 0");
    const shell_decision d = shell_decide(policy_, "mytool a/../b");
    EXPECT_EQ(d.entry, "mytool a/../b");
    EXPECT_EQ(d.extra, &policy_.extra[0]);
}

TEST_F(ExtraCommands, EmptyEntryMatchesOnlyTheEmptyCommand) {
    EXPECT_EQ(decide(""), "accepted by extra 2 at /etc/u.conf:5");
    policy_.extra = {{"x", "", 0}};
    EXPECT_EQ(decide(""), no_match);
}

TEST_F(ExtraCommands, GatedEntriesFollowTheSameGates) {
    EXPECT_EQ(decide("dirtool"), "accepted by extra 1 at /etc/u.conf:4");
    policy_.full_shell = false;
    EXPECT_EQ(decide("dirtool"),
              "refused by extra 1 at /etc/u.conf:4 (\"!\" entry in restricted mode)");
    policy_.full_shell = true;
    policy_.dir_commands_allowed = false;
    EXPECT_EQ(decide("dirtool"),
              "refused by extra 1 at /etc/u.conf:4 (\"!\" entry without directory commands)");
    EXPECT_EQ(decide("!dirtool"), no_match);
}

TEST_F(ExtraCommands, ScanPatternsFollowThePortAndTailRules) {
    EXPECT_EQ(decide("xtool -M 40000 -6 -S. -V1"), "accepted by extra 3 at /etc/conf.d/x.conf:9");
    EXPECT_EQ(decide("xtool -M 31415 -6 -S. -V1"),
              "refused by extra 3 at /etc/conf.d/x.conf:9 (management port reserved for the "
              "database)");
    EXPECT_EQ(decide("xtool -M 1023 -6 -S. -V1"),
              "refused by extra 3 at /etc/conf.d/x.conf:9 (management port out of range)");
    EXPECT_EQ(decide("xtool -M 40000 -S. -V2"), no_match);
    policy_.cvsync_enabled = false;
    EXPECT_EQ(decide("xtool -M 40000 -6 -S. -V1"),
              "refused by extra 3 at /etc/conf.d/x.conf:9 (management port form with cvsync "
              "disabled)");
}

TEST_F(ExtraCommands, ScanPatternWithItemsInTheWrongOrderMatchesNothing) {
    EXPECT_EQ(decide("ytool -S. 40000"), no_match);
}

TEST_F(ExtraCommands, ScanPatternsAreReadAsStrictlyAsTheBuiltInOne) {
    for (const char *command : {"xtool -M40000 -6 -S. -V1", "xtool  -M 40000 -6 -S. -V1",
                                "xtool -M\t40000 -6 -S. -V1", "xtool -M +40000 -6 -S. -V1",
                                "xtool -M 40000 -6 -S. -V1 ", "xtool-M 40000 -6 -S. -V1"})
        EXPECT_EQ(decide(command), no_match) << command;
    EXPECT_EQ(decide("xtool -M 40000 -6 -S.\x0b-V1"), control);
    // A pattern without a trailing conversion still needs the whole text.
    policy_.extra = {{"ztool %d %20[ -16.SV]", "", 0}};
    EXPECT_EQ(decide("ztool 40000 -S. -V1"), "accepted by extra 0");
    EXPECT_EQ(decide("ztool 40000 -S. -V1x"), no_match);
}

TEST_F(ExtraCommands, NeverTakeABuiltInFormAway) {
    policy_.extra = {{"cvcp -S. -V1", "/etc/u.conf", 1}, {"!cvcmd", "/etc/u.conf", 2}};
    EXPECT_EQ(decide("cvcp -S. -V1"), "accepted by builtin 0");
    // A refusal names the first entry that had the form.
    policy_.full_shell = false;
    EXPECT_EQ(decide("cvcmd"), "refused by builtin 4 (\"!\" entry in restricted mode)");
}

TEST(Scan, ReadsThePortAndTheTail) {
    const char *pattern = "cvcp --no-mgmt-port-files -M %d %20[ -16.SV]%1s";
    scan_result r = shell_scan("cvcp --no-mgmt-port-files -M 33001 -S. -V1", pattern);
    ASSERT_EQ(r.items.size(), 2u);
    EXPECT_EQ(r.items[0].number, 33001);
    EXPECT_EQ(r.items[1].text, "-S. -V1");
    EXPECT_EQ(r.consumed, 42u);

    r = shell_scan("cvcp --no-mgmt-port-files -M 33001 -S. -V1 x", pattern);
    ASSERT_EQ(r.items.size(), 3u);
    EXPECT_EQ(r.items[2].text, "x");

    // The tail takes at most 20 characters of its set; the rest is a third item.
    r = shell_scan("cvcp --no-mgmt-port-files -M 1 ------------------------S", pattern);
    ASSERT_EQ(r.items.size(), 3u);
    EXPECT_EQ(r.items[1].text.size(), 20u);

    r = shell_scan("cvcp --no-mgmt-port-files -M x", pattern);
    EXPECT_TRUE(r.items.empty());
    EXPECT_FALSE(r.overflow);
    EXPECT_EQ(r.consumed, 29u);
}

TEST(Scan, ABlankMatchesExactlyOneBlank) {
    struct blank_case {
        const char *input;
        std::size_t items;
        std::size_t consumed;
    };
    for (const blank_case &c : {blank_case{"a 1 b", 2, 5}, blank_case{"a  1 b", 0, 2},
                                blank_case{"a1 b", 0, 1}, blank_case{"a\t1 b", 0, 1},
                                blank_case{"a 1b", 1, 3}, blank_case{"a 1 \tb", 1, 4}}) {
        const scan_result r = shell_scan(c.input, "a %d %s");
        EXPECT_EQ(r.items.size(), c.items) << c.input;
        EXPECT_EQ(r.consumed, c.consumed) << c.input;
    }
}

TEST(Scan, NumbersAreUnsignedDecimalDigitsOnly) {
    for (const char *input : {"+1", "-1", " 1", "\t1", "x1", ""}) {
        const scan_result r = shell_scan(input, "%d");
        EXPECT_TRUE(r.items.empty()) << input;
        EXPECT_EQ(r.consumed, 0u) << input;
    }
    scan_result r = shell_scan("2147483647", "%d");
    ASSERT_EQ(r.items.size(), 1u);
    EXPECT_EQ(r.items[0].number, 2147483647);
    r = shell_scan("123456", "%3d");
    ASSERT_EQ(r.items.size(), 1u);
    EXPECT_EQ(r.items[0].number, 123);
    EXPECT_EQ(r.consumed, 3u);
}

TEST(Scan, RefusesNumbersBeyondThirtyTwoBits) {
    EXPECT_TRUE(shell_scan("2147483648", "%d").overflow);
    EXPECT_TRUE(shell_scan("9999999999", "%d").overflow);
    EXPECT_TRUE(shell_scan("12345678901", "%d").overflow);
    EXPECT_TRUE(shell_scan("00000000001", "%d").overflow);
}

TEST(Scan, NoConversionSkipsWhiteSpace) {
    EXPECT_TRUE(shell_scan(" x", "%s").items.empty());
    EXPECT_TRUE(shell_scan(" %", "%%").items.empty());
    EXPECT_EQ(shell_scan(" %", "%%").consumed, 0u);
    EXPECT_EQ(shell_scan("%", "%%").consumed, 1u);
}

TEST(Scan, UnsupportedConversionsMatchNothing) {
    EXPECT_TRUE(shell_scan("1", "%x").unsupported);
    EXPECT_TRUE(shell_scan("1", "%n").unsupported);
    EXPECT_TRUE(shell_scan("abc", "%[abc").unsupported);
    EXPECT_TRUE(shell_scan("1", "%").unsupported);
    EXPECT_EQ(shell_scan("100%", "%d%%").items.size(), 1u);
}

TEST(Scan, SetsWithRangesNegationAndBrackets) {
    scan_result r = shell_scan("]a-b", "%[]a-]");
    ASSERT_EQ(r.items.size(), 1u);
    EXPECT_EQ(r.items[0].text, "]a-");
    r = shell_scan("xyz1", "%[^0-9]");
    ASSERT_EQ(r.items.size(), 1u);
    EXPECT_EQ(r.items[0].text, "xyz");
}

// ---- the policy from settings ------------------------------------------

/* The framework, started for the settings tests. */
class framework_environment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(cv_uac_init(nullptr), 0u); }
    void TearDown() override { cv_uac_deinit(); }
};
[[maybe_unused]] ::testing::Environment *const framework =
    ::testing::AddGlobalTestEnvironment(new framework_environment);

/* A configuration file of its own, loaded, and the user object read from
 * its first `user` entry. */
class Settings : public ::testing::Test {
protected:
    void load(const std::string &text) {
        char folder[] = "/tmp/cvshell-policy-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        folder_ = folder;
        path_ = folder_ + "/corvane.conf";
        std::ofstream(path_) << text;
        set_ = cv_uac_load_conf_file(path_.c_str(), CV_UAC_LOAD_NO_CONF_D);
        ASSERT_NE(set_, nullptr);
        const std::int32_t user_path[] = {PARSE_XML_TAG_aaa,   PARSE_XML_TAG_realms,
                                          PARSE_XML_TAG_realm, PARSE_XML_TAG_users,
                                          PARSE_XML_TAG_user,  PARSE_XML_END};
        xmlNode **found = cv_uac_find_nodes(set_, user_path);
        xmlNode *entries[2] = {found ? found[0] : nullptr, nullptr};
        cv_uac_free(found);
        ASSERT_EQ(cv_uac_load_user(set_, entries[0] ? entries : nullptr, nullptr, nullptr, 0,
                                   &user_),
                  0u);
        server_ = cv_uac_get_server_settings(set_);
        ASSERT_NE(server_, nullptr);
    }
    void TearDown() override {
        if (user_) cv_uac_config_release(&user_->object);
        if (server_) cv_uac_config_release(&server_->object);
        (void)cv_uac_release_conf_file_set(set_);
        std::error_code ignored;
        if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
    }
    std::string folder_, path_;
    cv_uac_conf_set *set_ = nullptr;
    cv_uac_user *user_ = nullptr;
    cv_uac_server *server_ = nullptr;
};

/* "text @ line" per item, the file checked apart. */
std::vector<std::string> items_of(const shell_policy &policy, const std::string &file) {
    std::vector<std::string> items;
    for (const shell_extra_command &item : policy.extra) {
        EXPECT_EQ(item.file, item.line == 0 ? "" : file) << item.text;
        items.push_back(item.text + " @ " + std::to_string(item.line));
    }
    return items;
}

TEST_F(Settings, TakeEachValueTheDecisionReads) {
    load("<CONF version=\"2\">\n"                                          // 1
         "  <server><db_port>6379</db_port></server>\n"                    // 2
         "  <aaa><realms><realm><users><user>\n"                           // 3
         "    <name>alice</name>\n"                                        // 4
         "    <cvsync_enabled>false</cvsync_enabled>\n"                    // 5
         "    <cvshell_commands>\n"                                        // 6
         "      <command>  mytool --report  </command>\n"                  // 7
         "      <command fitness=\"0\">ruled out</command>\n"              // 8
         "      <command fitness=\"1\">!mytool --purge</command>\n"        // 9
         "    </cvshell_commands>\n"                                       // 10
         "    <file_system><access><paths>\n"                              // 11
         "      <path><absolute>/srv/a</absolute><show_as>/a</show_as>\n"  // 12
         "        <dir_allowed>false</dir_allowed></path>\n"               // 13
         "      <path><absolute>/srv</absolute><show_as>/</show_as></path>\n"
         "    </paths></access></file_system>\n"
         "  </user></users></realm></realms></aaa>\n"
         "</CONF>\n");
    shell_policy policy;
    policy.full_shell = false;
    ASSERT_EQ(shell_policy_from_settings(user_, server_, &policy), 0u);
    EXPECT_EQ(items_of(policy, path_),
              (std::vector<std::string>{"mytool --report @ 7", "!mytool --purge @ 9"}));
    EXPECT_FALSE(policy.cvsync_enabled);
    EXPECT_FALSE(policy.dir_commands_allowed);
    EXPECT_EQ(policy.reserved_db_port, 6379u);
    EXPECT_FALSE(policy.full_shell) << "the mode is the login's, not the settings'";
    EXPECT_EQ(policy.builtin.size(), 6u);

    ASSERT_EQ(shell_policy_from_settings(user_, nullptr, &policy), 0u);
    EXPECT_EQ(policy.reserved_db_port, 31415u);
}

TEST_F(Settings, WithoutEntriesAreTheDefaults) {
    load("<CONF version=\"2\"/>\n");
    shell_policy policy;
    policy.cvsync_enabled = false;
    policy.dir_commands_allowed = false;
    policy.extra = {{"stale", "", 0}};
    ASSERT_EQ(shell_policy_from_settings(user_, server_, &policy), 0u);
    EXPECT_TRUE(policy.extra.empty());
    EXPECT_TRUE(policy.cvsync_enabled);
    EXPECT_TRUE(policy.dir_commands_allowed);
    EXPECT_EQ(policy.reserved_db_port, 31415u);
}

TEST_F(Settings, AListSetOtherwiseKeepsItsTextsWithoutPlaces) {
    load("<CONF version=\"2\"><aaa><realms><realm><users><user>\n"
         "  <name>alice</name>\n"
         "  <cvshell_commands><command>from the file</command></cvshell_commands>\n"
         "</user></users></realm></realms></aaa></CONF>\n");
    ASSERT_EQ(cv_uac_config_set_by_name(&user_->object, "additional_shell_calls", ",a,b",
                                        nullptr),
              0u);
    shell_policy policy;
    ASSERT_EQ(shell_policy_from_settings(user_, server_, &policy), 0u);
    EXPECT_EQ(items_of(policy, path_), (std::vector<std::string>{"a @ 0", "b @ 0"}));
}

TEST_F(Settings, RefuseNullArguments) {
    load("<CONF version=\"2\"/>\n");
    shell_policy policy;
    EXPECT_EQ(shell_policy_from_settings(nullptr, server_, &policy), 22u);
    EXPECT_EQ(shell_policy_from_settings(user_, server_, nullptr), 22u);
}

}  // namespace
