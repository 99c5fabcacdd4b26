// Which entries apply to a user and in which order: the user's own entries
// (exact, by domain pattern, by wildcard), the groups the providers name,
// the groups matched by name, the defaults; the bound of the list; and the
// settings read through it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cv_test_log_capture.h"
#include "uac/cv_uac.h"
#include "uac/cv_uac_user.h"

CV_TEST_LOG_CAPTURE();

namespace {

/* Two fake providers.  Each records who it was asked about and sets the
 * bits of the master group entries named in its answer list; it answers
 * non-zero when told to. */
struct fake_provider {
    cv_uac_group_provider record{};
    const cv_uac_master_group_set *groups = nullptr;
    std::vector<std::string> members;
    bool answers = false;
    std::vector<std::string> asked;
};
fake_provider first_provider, second_provider;

fake_provider &owner_of(cv_uac_group_provider *provider) {
    return provider == &first_provider.record ? first_provider : second_provider;
}

void fake_set_groups(const cv_uac_master_group_set *groups, cv_uac_group_provider *provider) {
    owner_of(provider).groups = groups;
}

std::int32_t fake_find(const char *realm, const char *user, std::uint32_t *bits,
                       cv_uac_group_provider *provider) {
    fake_provider &self = owner_of(provider);
    self.asked.push_back(std::string(realm) + " " + user);
    for (std::uint32_t i = 0; self.groups && i < self.groups->count; ++i)
        for (const std::string &member : self.members)
            if (member == self.groups->entries[i].name) bits[i / 32] |= 1u << (i % 32);
    return self.answers ? 1 : 0;
}

void register_fakes(cv_uac_group_provider ***tail) {
    for (fake_provider *fake : {&first_provider, &second_provider}) {
        fake->record = {fake_set_groups, fake_find, nullptr, nullptr};
        **tail = &fake->record;
        *tail = &fake->record.next;
    }
}

class framework : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(cv_uac_init(register_fakes), 0u); }
    void TearDown() override { cv_uac_deinit(); }
};
[[maybe_unused]] ::testing::Environment *const framework_env =
    ::testing::AddGlobalTestEnvironment(new framework);

const char *const kConf = R"(<CONF version="2">
  <default><cvsync_enabled>false</cvsync_enabled></default>
  <aaa><realms><realm><name>transfer</name>
    <users>
      <user><name>CORP\alice</name><cvsync_enabled>true</cvsync_enabled></user>
      <user><name>bob</name></user>
      <user><name> Carol@Sales </name></user>
      <user><name>a*</name></user>
      <user><name>an*</name></user>
      <user><name>EAST\dave</name></user>
      <user><name>west\dave</name></user>
    </users>
    <groups>
      <group><name>late</name></group>
      <group><name>staff</name><precedence>5</precedence></group>
      <group><name>bob</name></group>
      <group><name>CORP\alice</name></group>
      <group><name>ops</name><precedence>1</precedence></group>
    </groups>
  </realm></realms></aaa>
  <default><name>second default</name></default>
</CONF>)";

/* Owns a configuration set with its master group set selected. */
struct resolved_conf {
    cv_uac_conf_set *set;
    explicit resolved_conf(const std::string &text)
        : set(cv_uac_load_conf_file(text.c_str(), CV_UAC_LOAD_NO_CONF_D)) {
        EXPECT_NE(set, nullptr);
        EXPECT_EQ(cv_uac_select_master_conf_file_set(set), 0u);
    }
    ~resolved_conf() {
        (void)cv_uac_select_master_conf_file_set(nullptr);
        (void)cv_uac_release_conf_file_set(set);
    }
    resolved_conf(const resolved_conf &) = delete;
    resolved_conf &operator=(const resolved_conf &) = delete;
};

/* "user NAME", "group NAME" or "default" for each listed entry. */
std::vector<std::string> describe(xmlNode **list) {
    std::vector<std::string> out;
    for (xmlNode **at = list; at && *at; ++at) {
        const std::string kind(reinterpret_cast<const char *>((*at)->name));
        xmlNode *const start[] = {*at, nullptr};
        const char *name =
            parse_xml_get_first_matching_text_args(start, PARSE_XML_TAG_name, PARSE_XML_END);
        out.push_back(kind == "default" ? kind : kind + " " + (name ? name : "?"));
    }
    cv_uac_free(list);
    return out;
}

void reset_providers() {
    for (fake_provider *fake : {&first_provider, &second_provider}) {
        fake->members.clear();
        fake->answers = false;
        fake->asked.clear();
    }
}

using list = std::vector<std::string>;

}  // namespace

TEST(UserResolution, OwnEntriesComeFirstByExactNameThenDomainPatternThenWildcard) {
    resolved_conf conf(kConf);
    reset_providers();
    struct row {
        const char *login;
        list expected;
    } rows[] = {
        // Exact after normalisation: the case and the form of the name do not matter.
        {"bob", {"user bob", "group bob", "default", "default"}},
        {"BOB", {"user bob", "group bob", "default", "default"}},
        {"carol@sales", {"user  Carol@Sales ", "default", "default"}},
        {"SALES\\carol", {"user  Carol@Sales ", "default", "default"}},
        // A bare name finds its domain-qualified entry, and the group named
        // like that entry comes with it.
        {"alice", {"user CORP\\alice", "group CORP\\alice", "default", "default"}},
        {"ALICE", {"user CORP\\alice", "group CORP\\alice", "default", "default"}},
        // Every domain-qualified entry of that name is taken.
        {"dave", {"user EAST\\dave", "user west\\dave", "default", "default"}},
        // No entry of his own: the first wildcard entry, and only that one.
        {"anne", {"user a*", "default", "default"}},
        {"zoe", {"default", "default"}},
        // Wildcard characters in a login name stand only for themselves.
        {"*", {"default", "default"}},
        {"?ave", {"default", "default"}},
    };
    for (const row &r : rows)
        EXPECT_EQ(describe(cv_uac_get_user_or_group(conf.set, r.login)), r.expected) << r.login;
}

TEST(UserResolution, MembershipGroupsFollowInPrecedenceOrderAndTheFirstAnswerEnds) {
    resolved_conf conf(kConf);
    reset_providers();
    first_provider.members = {"late", "staff"};
    first_provider.answers = false;  // answered nothing: the next one is asked
    second_provider.members = {"ops"};
    EXPECT_EQ(describe(cv_uac_get_user_or_group(conf.set, "alice")),
              (list{"user CORP\\alice", "group ops", "group staff", "group late",
                    "group CORP\\alice", "default", "default"}));
    // The providers were asked about the domain-qualified name.
    EXPECT_EQ(first_provider.asked, list{"* CORP\\alice"});
    EXPECT_EQ(second_provider.asked, list{"* CORP\\alice"});

    reset_providers();
    first_provider.members = {"staff"};
    first_provider.answers = true;
    second_provider.members = {"ops"};
    EXPECT_EQ(describe(cv_uac_get_user_or_group(conf.set, "bob")),
              (list{"user bob", "group staff", "group bob", "default", "default"}));
    EXPECT_TRUE(second_provider.asked.empty());
}

TEST(UserResolution, AGroupIsListedOnceWhateverFindsIt) {
    resolved_conf conf(kConf);
    reset_providers();
    first_provider.members = {"bob"};
    EXPECT_EQ(describe(cv_uac_get_user_or_group(conf.set, "bob")),
              (list{"user bob", "group bob", "default", "default"}));
}

TEST(UserResolution, GroupNamesAreMatchedAsPatternsOfTheNamesListed) {
    resolved_conf conf(R"(<CONF version="2"><aaa><realms><realm>
      <users><user><name>eve</name><name>team-*</name></user></users>
      <groups>
        <group><name>team-b</name><name>extra</name></group>
        <group><name>Team-A</name></group>
        <group><name>extra</name></group>
        <group><name>other</name></group>
      </groups></realm></realms></aaa></CONF>)");
    reset_providers();
    // team-* finds team-b and, normalised, Team-A; team-b's second name
    // finds the group extra.
    EXPECT_EQ(describe(cv_uac_get_user_or_group(conf.set, "eve")),
              (list{"user eve", "group team-b", "group Team-A", "group extra"}));
}

TEST(UserResolution, WithoutAUserNameOrASetOnlyTheDefaultsOrNothing) {
    resolved_conf conf(kConf);
    reset_providers();
    EXPECT_EQ(describe(cv_uac_get_user_or_group(conf.set, nullptr)), (list{"default", "default"}));
    EXPECT_EQ(cv_uac_get_user_or_group(nullptr, "bob"), nullptr);
    resolved_conf bare(R"(<CONF version="2"><aaa/></CONF>)");
    EXPECT_EQ(cv_uac_get_user_or_group(bare.set, "bob"), nullptr);
}

TEST(UserResolution, AMasterGroupSetOfAnotherConfigurationIsNotUsed) {
    resolved_conf conf(kConf);
    resolved_conf other(kConf);  // selected last: its groups are the master set
    reset_providers();
    first_provider.members = {"staff"};
    first_provider.answers = true;
    EXPECT_EQ(describe(cv_uac_get_user_or_group(conf.set, "bob")),
              (list{"user bob", "group bob", "default", "default"}));
    EXPECT_EQ(describe(cv_uac_get_user_or_group(other.set, "bob")),
              (list{"user bob", "group staff", "group bob", "default", "default"}));
}

TEST(UserResolution, EntriesBeyondTheListsRoomAreLeftOutAndLogged) {
    std::string text = R"(<CONF version="2"><aaa><realms><realm><users>)"
                       R"(<user><name>bob</name></user></users></realm></realms></aaa>)";
    for (int i = 0; i < 70; ++i) text += "\n<default/>";  // one line each
    resolved_conf conf(text + "</CONF>");
    reset_providers();
    const std::string mark = cv_test_log_capture::mark();
    const list entries = describe(cv_uac_get_user_or_group(conf.set, "bob"));
    ASSERT_EQ(entries.size(), 63u);
    EXPECT_EQ(entries.front(), "user bob");
    const std::string log = cv_test_log_capture::since(mark);
    std::size_t lines = 0;
    for (std::size_t at = log.find("Entry list full: default entry - ("); at != std::string::npos;
         at = log.find("Entry list full: default entry - (", at + 1))
        ++lines;
    EXPECT_EQ(lines, 8u);  // 1 user + 62 defaults kept of 70
    EXPECT_NE(log.find("not applied to user bob"), std::string::npos);
}

TEST(UserSettings, TheUsersOwnEntryOutranksGroupsAndDefaults) {
    resolved_conf conf(kConf);
    reset_providers();
    struct row {
        const char *login;
        bool cvsync_enabled;
    } rows[] = {{"alice", true}, {"bob", false}, {nullptr, false}};
    for (const row &r : rows) {
        cv_uac_user *user = cv_uac_get_user_settings(conf.set, r.login);
        ASSERT_NE(user, nullptr);
        EXPECT_EQ(user->cvsync_enabled != 0, r.cvsync_enabled) << (r.login ? r.login : "null");
        if (r.login) {
            EXPECT_STREQ(user->user_name, r.login);
        }
        cv_uac_config_release(&user->object);
    }
}

TEST(UserSettings, NothingThatAppliesStillGivesTheClassDefaults) {
    resolved_conf conf(R"(<CONF version="2"/>)");
    for (const cv_uac_conf_set *set : {static_cast<const cv_uac_conf_set *>(conf.set),
                                       static_cast<const cv_uac_conf_set *>(nullptr)}) {
        cv_uac_user *user = cv_uac_get_user_settings(set, "nobody");
        ASSERT_NE(user, nullptr);
        EXPECT_NE(user->cvsync_enabled, 0);  // the catalogue's default
        EXPECT_EQ(user->additional_shell_calls, nullptr);
        cv_uac_config_release(&user->object);
    }
}
