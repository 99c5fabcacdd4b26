// Tests of the group providers that come with the framework.
//
// Registration: plug-ins in the byte order of their names, only "*.cveu"
// files, refused when another account could have planted them, at most
// CV_UAC_MAX_GROUP_PLUGINS kept, the system provider last.  Membership
// (over a fake account database, cv_test_fake_accounts.h, in a second run
// of this program): the account's groups set the bits of configured groups
// of the same name whatever their case, duplicates included, and of
// "DOMAIN\group" for a user with a domain; a user is asked of the database
// once; a plug-in that answers ends the questioning, one that does not
// leaves it to the system provider.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cv_test_fake_accounts.h"
#include "cv_test_log_capture.h"
#include "cv_test_temp_dir.h"
#include "cvplatform/cv_account.h"
#include "cvplatform/cv_log.h"
#include "uac/cv_uac.h"
#include "uac/cv_uac_group_provider.h"

CV_TEST_LOG_CAPTURE();

namespace {

namespace fs = std::filesystem;
namespace fake = cv_test_fake_accounts;

/* The configured groups; each precedence fixes the group's bit (its place
 * in the master group set). */
constexpr const char *kConfiguration =
    "<CONF version=\"2\"><aaa><realms><realm><name>corp</name><groups>"
    "<group><name>ops</name><precedence>1</precedence></group>"
    "<group><name>STAFF</name><precedence>2</precedence></group>"
    "<group><name>devs</name><precedence>3</precedence></group>"
    "<group><name>staff</name><precedence>4</precedence></group>"
    "<group><name>CORP\\devs</name><precedence>5</precedence></group>"
    "<group><name>corp\\Staff</name><precedence>6</precedence></group>"
    "<group><name>OTHER\\devs</name><precedence>7</precedence></group>"
    "<group><name>corp\\admins</name><precedence>8</precedence></group>"
    "<group><name>from-plugin</name><precedence>9</precedence></group>"
    "</groups></realm></realms></aaa></CONF>";
constexpr std::uint32_t kConfiguredGroups = 9;

/* The plug-in folder the registration below reads; empty for none. */
std::string plugin_folder;

/* The first provider the registration appended. */
cv_uac_group_provider *registered = nullptr;

void register_for_test(cv_uac_group_provider ***tail_holder) {
    cv_uac_group_provider **first = *tail_holder;
    cv_uac_register_group_providers_from(plugin_folder.empty() ? nullptr : plugin_folder.c_str(),
                                         tail_holder);
    registered = *first;
}

/* What the providers answer for one user, asked in list order as the user
 * look-up asks them: the answer that ended the questioning (0 when none
 * did) and the bits set. */
struct membership {
    std::int32_t answer;
    std::vector<std::uint32_t> bits;
    bool operator==(const membership &) const = default;
};

std::ostream &operator<<(std::ostream &out, const membership &m) {
    out << "answer " << m.answer << ", bits {";
    for (std::uint32_t bit : m.bits) out << " " << bit;
    return out << " }";
}

membership ask(const char *user) {
    const cv_uac_master_group_set *groups = cv_uac_get_master_group_set();
    const std::uint32_t count = groups ? groups->count : 0;
    std::vector<std::uint32_t> words((count + 31) / 32 + 1, 0);
    membership result{0, {}};
    for (cv_uac_group_provider *p = registered; p && result.answer == 0; p = p->next)
        result.answer = p->find_user_groups("*", user, words.data(), p);
    for (std::uint32_t bit = 0; bit < words.size() * 32; ++bit)
        if (words[bit / 32] & (std::uint32_t{1} << (bit % 32))) result.bits.push_back(bit);
    return result;
}

/* The framework up with the providers of `folder` and the configured groups
 * selected. */
class Providers : public ::testing::Test {
protected:
    void start(const std::string &folder) {
        plugin_folder = folder;
        registered = nullptr;
        ASSERT_EQ(cv_uac_init(register_for_test), 0u);
        set_ = cv_uac_load_conf_file(kConfiguration, 0);
        ASSERT_NE(set_, nullptr);
        ASSERT_EQ(cv_uac_select_master_conf_file_set(set_), 0u);
        ASSERT_EQ(cv_uac_get_master_group_set()->count, kConfiguredGroups);
    }
    void TearDown() override {
        (void)cv_uac_release_conf_file_set(set_);
        while (cv_uac_init_count() > 0) cv_uac_deinit();
    }
    cv_uac_conf_set *set_ = nullptr;
};

/* Copies plug-in `library` into `folder` as `name`, mode `mode`. */
void place(const std::string &library, const temp_dir &folder, const std::string &name,
           fs::perms mode = fs::perms(0755)) {
    fs::copy_file(library, folder / name);
    fs::permissions(folder / name, mode);
}

/* The providers of a list from `head`. */
std::vector<cv_uac_group_provider *> providers_from(cv_uac_group_provider *head) {
    std::vector<cv_uac_group_provider *> list;
    for (cv_uac_group_provider *p = head; p; p = p->next) list.push_back(p);
    return list;
}

/* Registers into a list of the test's own and releases it as the
 * framework's end would; what the registration logged. */
struct registration {
    std::size_t providers;
    std::string log;
};

registration register_from(const std::string &folder) {
    const std::string mark = cv_test_log_capture::mark();
    cv_uac_group_provider *head = nullptr;
    cv_uac_group_provider **holder = &head;
    cv_uac_register_group_providers_trusting(folder.c_str(), 1000, &holder);
    const std::vector<cv_uac_group_provider *> list = providers_from(head);
    // The holder is left at the system provider's link, the last one.
    EXPECT_FALSE(list.empty());
    if (!list.empty()) {
        EXPECT_EQ(holder, &list.back()->next);
    }
    for (cv_uac_group_provider *p : list) p->release(p);
    return {list.size(), cv_test_log_capture::since(mark)};
}

std::string loaded_line(const temp_dir &folder, const std::string &name) {
    return "LOG Group plug-in " + (folder / name) + " loaded\r\n";
}

TEST(GroupRegistration, LoadsPlugInsInByteOrderAndOnlyByThePattern) {
    temp_dir folder;
    for (const char *name : {"b.cveu", "B.cveu", "a.cveu", "x.so", "a.cveu.off", "cveu"})
        place(CV_TEST_ANSWERING_PLUGIN, folder, name);
    place(CV_TEST_NOT_A_GROUP_PLUGIN, folder, "0-other.cveu");
    const registration r = register_from(folder.path());
    EXPECT_EQ(r.providers, 4u) << r.log;  // three plug-ins and the system provider
    const std::size_t upper_b = r.log.find(loaded_line(folder, "B.cveu"));
    const std::size_t lower_a = r.log.find(loaded_line(folder, "a.cveu"));
    const std::size_t lower_b = r.log.find(loaded_line(folder, "b.cveu"));
    ASSERT_NE(upper_b, std::string::npos) << r.log;
    ASSERT_NE(lower_a, std::string::npos) << r.log;
    ASSERT_NE(lower_b, std::string::npos) << r.log;
    EXPECT_LT(upper_b, lower_a);
    EXPECT_LT(lower_a, lower_b);
    EXPECT_EQ(cv_test_log_capture::count(r.log, " loaded\r\n"), 3) << r.log;
    EXPECT_NE(r.log.find("ERR Group plug-in " + (folder / "0-other.cveu") +
                         " not loaded: it does not export get_external_group_objects\r\n"),
              std::string::npos)
        << r.log;
}

TEST(GroupRegistration, RefusesPlugInsAnotherAccountCouldHavePlanted) {
    temp_dir folder;
    place(CV_TEST_ANSWERING_PLUGIN, folder, "shared.cveu", fs::perms(0775));
    fs::create_symlink(CV_TEST_ANSWERING_PLUGIN, folder / "link.cveu");
    const bool root = ::geteuid() == 0;
    if (root) {
        place(CV_TEST_ANSWERING_PLUGIN, folder, "foreign.cveu");
        ASSERT_EQ(::chown((folder / "foreign.cveu").c_str(), 65534, 65534), 0);
    }
    const registration r = register_from(folder.path());
    EXPECT_EQ(r.providers, 1u) << r.log;  // the system provider alone
    EXPECT_NE(r.log.find("ERR Group plug-in " + (folder / "shared.cveu") +
                         " refused: writable by group or others\r\n"),
              std::string::npos)
        << r.log;
    EXPECT_NE(r.log.find("ERR Group plug-in " + (folder / "link.cveu") +
                         " refused: a symbolic link\r\n"),
              std::string::npos)
        << r.log;
    if (!root) GTEST_SKIP() << "the foreign owner's case needs root to change an owner";
    EXPECT_NE(r.log.find("ERR Group plug-in " + (folder / "foreign.cveu") +
                         " refused: owned by uid 65534\r\n"),
              std::string::npos)
        << r.log;
}

TEST(GroupRegistration, KeepsAtMostSixteenPlugIns) {
    temp_dir folder;
    for (int i = 0; i < 20; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "p%02d.cveu", i);
        place(CV_TEST_ANSWERING_PLUGIN, folder, name);
    }
    const registration r = register_from(folder.path());
    EXPECT_EQ(r.providers, 17u) << r.log;
    EXPECT_NE(r.log.find(loaded_line(folder, "p15.cveu")), std::string::npos) << r.log;
    EXPECT_EQ(r.log.find(loaded_line(folder, "p16.cveu")), std::string::npos) << r.log;
    EXPECT_NE(r.log.find("ERR Group plug-in limit of 16 reached: p16.cveu and the plug-ins "
                         "after it are not loaded\r\n"),
              std::string::npos)
        << r.log;
}

TEST(GroupRegistration, WithoutAFolderOnlyTheSystemProvider) {
    cv_uac_group_provider *head = nullptr;
    cv_uac_group_provider **holder = &head;
    cv_uac_register_group_providers_from(nullptr, &holder);
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(head->next, nullptr);
    EXPECT_EQ(holder, &head->next);
    head->release(head);
    cv_uac_register_group_providers_from(nullptr, nullptr);  // nothing to append to
}

TEST_F(Providers, NoGroupsNoAnswer) {
    start("");
    // No master group set, then an empty one: nothing to look up.
    ASSERT_EQ(cv_uac_select_master_conf_file_set(nullptr), 0u);
    EXPECT_EQ(ask("root"), (membership{0, {}}));
    cv_uac_conf_set *empty = cv_uac_load_conf_file("<CONF version=\"2\"></CONF>", 0);
    ASSERT_NE(empty, nullptr);
    ASSERT_EQ(cv_uac_select_master_conf_file_set(empty), 0u);
    EXPECT_EQ(ask("root"), (membership{0, {}}));
    (void)cv_uac_release_conf_file_set(empty);
}

TEST(GroupMembership, PassUnderTheFakeAccountDatabase) {
    if (fake::wrapper_library().empty()) GTEST_SKIP() << fake::kNoWrapper;
    fake::database accounts(CV_TEST_DATA_DIR "/accounts/passwd", CV_TEST_DATA_DIR "/accounts/group");
    ASSERT_FALSE(accounts.folder().empty());
    fake::expect_all_passed(fake::run_child("ProvidersUnderFakeAccounts.*", accounts.folder()));
}

class ProvidersUnderFakeAccounts : public Providers {};

TEST_F(ProvidersUnderFakeAccounts, GroupsOfTheDatabaseSetTheBitsOfConfiguredGroups) {
    CV_TEST_FAKE_ACCOUNTS_CHILD_ONLY();
    start("");
    // Bits: 0 ops, 1 STAFF, 2 devs, 3 staff, 4 CORP\devs, 5 corp\Staff,
    // 6 OTHER\devs, 7 corp\admins, 8 from-plugin.
    struct row {
        const char *user;
        membership expected;
    };
    const row rows[] = {
        // staff matches STAFF and staff alike; ops has no members.
        {"alice", {1, {1, 2, 3}}},
        // No account CORP\alice: the bare alice's groups, also as CORP\...
        {"CORP\\alice", {1, {1, 2, 3, 4, 5}}},
        {"alice@corp", {1, {1, 2, 3, 4, 5}}},
        {"corp/alice", {1, {1, 2, 3, 4, 5}}},
        {"OTHER\\alice", {1, {1, 2, 3, 6}}},
        // An account known by its qualified name: its qualified group keeps
        // its own domain, its bare one gets the user's.
        {"CORP\\carol", {1, {2, 4, 7}}},
        // Groups, but none configured; no account at all.
        {"dave", {0, {}}},
        {"nobody", {0, {}}},
        {"CORP\\nobody", {0, {}}},
    };
    for (const row &r : rows) EXPECT_EQ(ask(r.user), r.expected) << r.user;
}

TEST_F(ProvidersUnderFakeAccounts, AUserIsAskedOfTheDatabaseOnce) {
    CV_TEST_FAKE_ACCOUNTS_CHILD_ONLY();
    start("");
    EXPECT_EQ(ask("erin"), (membership{1, {1, 3}}));

    // erin moves from staff to ops in the database.
    const std::string group_file = fake::group_file(fake::child_folder());
    const std::string replacement = group_file + ".new";
    {
        std::ifstream in(group_file);
        std::ofstream out(replacement);
        for (std::string line; std::getline(in, line);) {
            if (line == "staff:x:2001:alice,erin") line = "staff:x:2001:alice";
            if (line == "ops:x:2005:") line = "ops:x:2005:erin";
            out << line << "\n";
        }
    }
    fs::rename(replacement, group_file);
    cv_account_groups groups{};
    ASSERT_EQ(cv_account_get_groups("erin", &groups), 0u);
    std::vector<std::string> names;
    for (const char *at = groups.names; *at; at += std::strlen(at) + 1) names.emplace_back(at);
    cv_account_groups_free(&groups);
    EXPECT_EQ(names, (std::vector<std::string>{"erin", "ops"})) << "the database saw the change";

    // The provider answers from what it found the first time, also for a
    // master group set selected anew.
    EXPECT_EQ(ask("erin"), (membership{1, {1, 3}}));
    ASSERT_EQ(cv_uac_select_master_conf_file_set(set_), 0u);
    EXPECT_EQ(ask("erin"), (membership{1, {1, 3}}));

    // The framework's last end forgets it.
    (void)cv_uac_release_conf_file_set(set_);
    set_ = nullptr;
    cv_uac_deinit();
    start("");
    EXPECT_EQ(ask("erin"), (membership{1, {0}}));
}

TEST_F(ProvidersUnderFakeAccounts, TracesTheLookUpOnlyWhenVerbose) {
    CV_TEST_FAKE_ACCOUNTS_CHILD_ONLY();
    start("");
    const int debug_enabled = cv_log_debug_enabled;
    const int verbosity = cv_log_verbosity;
    cv_log_debug_enabled = 1;
    cv_log_verbosity = 0;
    std::string mark = cv_test_log_capture::mark();
    EXPECT_EQ(ask("alice").answer, 1);
    EXPECT_EQ(cv_test_log_capture::since(mark).find("DBG"), std::string::npos);

    cv_log_verbosity = 1;
    mark = cv_test_log_capture::mark();
    EXPECT_EQ(ask("CORP\\alice").answer, 1);
    const std::string log = cv_test_log_capture::since(mark);
    cv_log_debug_enabled = debug_enabled;
    cv_log_verbosity = verbosity;
    // Names are escaped: a backslash reads "\\".
    for (const char *line : {
             "DBG Checking for groups in domain CORP, user CORP\\\\alice\r\n",
             "DBG No account CORP\\\\alice, checking for groups of user alice\r\n",
             "DBG user CORP\\\\alice is a member of 3 groups\r\n",
             "DBG Result: 0\r\n",
             "DBG user CORP\\\\alice is a member of staff\r\n",
             "DBG Checking for existence of group CORP\\\\staff\r\n",
         })
        EXPECT_NE(log.find(line), std::string::npos) << line << "\nin:\n" << log;
}

TEST_F(ProvidersUnderFakeAccounts, AnAnsweringPlugInIsAskedFirstAndEndsTheQuestioning) {
    CV_TEST_FAKE_ACCOUNTS_CHILD_ONLY();
    temp_dir folder;
    place(CV_TEST_ANSWERING_PLUGIN, folder, "answering.cveu");
    start(folder.path());
    // alice's own groups (1, 2, 3) would come from the system provider.
    EXPECT_EQ(ask("alice"), (membership{1, {8}}));
}

TEST_F(ProvidersUnderFakeAccounts, APlugInThatDoesNotAnswerLeavesItToTheSystemProvider) {
    CV_TEST_FAKE_ACCOUNTS_CHILD_ONLY();
    temp_dir folder;
    place(CV_TEST_SILENT_PLUGIN, folder, "silent.cveu");
    start(folder.path());
    EXPECT_EQ(ask("alice"), (membership{1, {1, 2, 3, 8}}));
    EXPECT_EQ(ask("dave"), (membership{0, {8}}));
}

}  // namespace
