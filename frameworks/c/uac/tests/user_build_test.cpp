// The user class's build step (identity variables, entry variables, trunks,
// docroots, logging) and its validation checks, on users read from the
// fixtures of data/user_build.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config_test_support.h"
#include "cvplatform/cv_containers.h"
#include "uac/cv_uac_docroot.h"
#include "uac/cv_uac_user.h"
#include "uac/cv_uac_user_context.h"

namespace {

std::string user_build_fixture(const std::string &name) {
    return std::string(CV_TEST_DATA_DIR) + "/user_build/" + name;
}

/* A fixture configuration and the users read from it. */
struct user_conf {
    loaded_conf conf;
    explicit user_conf(const std::string &fixture) : conf(user_build_fixture(fixture)) {}

    /* The entry of the user named `name`, or null. */
    xmlNode *entry(const char *name) const {
        if (!conf.set) return nullptr;
        return parse_xml_get_first_matching_node_args(
            conf.set->roots, nullptr, PARSE_XML_TAG_aaa, PARSE_XML_TAG_realms,
            PARSE_XML_TAG_realm, PARSE_XML_TAG_users, PARSE_XML_TAG_user,
            PARSE_XML_STRING_EQUALS, name, PARSE_XML_TAG_name, PARSE_XML_TAG_Move_Up_to_Parent,
            PARSE_XML_END);
    }

    /* The user `name` read from its entry; `login` is the name the
     * resolution received (null: no context). */
    cv_uac_user *load(const char *name, const char *login = nullptr) const {
        xmlNode *start[2] = {entry(name), nullptr};
        EXPECT_NE(start[0], nullptr) << name;
        cv_uac_user_context context{login, nullptr};
        cv_uac_user *user = nullptr;
        EXPECT_EQ(cv_uac_load_user(conf.set, start, nullptr, login ? &context : nullptr, 0, &user),
                  0u);
        return user;
    }
};

std::vector<std::string> shown_paths(const cv_uac_docroot *docroot) {
    std::vector<std::string> shown;
    for (; docroot; docroot = docroot->next) shown.emplace_back(docroot->expanded_show_as);
    return shown;
}

const cv_uac_warning *find_warning(const cv_uac_warning *warnings, const std::string &text) {
    for (; warnings; warnings = warnings->next)
        if (text == warnings->text) return warnings;
    return nullptr;
}

std::vector<std::string> texts_of(const cv_uac_warning *warnings) {
    std::vector<std::string> texts;
    for (; warnings; warnings = warnings->next) texts.emplace_back(warnings->text);
    return texts;
}

std::string variable(const cv_uac_user *user, const char *name) {
    const char *value = nullptr;
    if (cv_btree_get(user->object.variables, name, &value) != 0 || !value) return "<unset>";
    return value;
}

// ---- build -------------------------------------------------------------

TEST(UserBuild, DocrootsLongestShownPathFirstDuplicatesDropped) {
    user_conf conf("users.conf");
    held<cv_uac_user> alice(conf.load("alice"));
    ASSERT_NE(alice.object, nullptr);
    EXPECT_EQ(shown_paths(alice->docroots),
              (std::vector<std::string>{"/reports", "/in", "/"}));
    ASSERT_NE(alice->docroots, nullptr);
    // The real paths expand the user's own variables and its entry's.
    EXPECT_STREQ(alice->docroots->next->expanded_absolute, "/srv/alice/in");
    EXPECT_STREQ(alice->docroots->next->next->expanded_absolute, "/srv/north");
    // /IN repeats /in: the later one, which denies directories, is gone.
    EXPECT_EQ(alice->docroots->next->dir_allowed, 1);
    EXPECT_EQ(alice->docroots->dir_allowed, 0);
    EXPECT_EQ(find_warning(alice->object.warnings,
                           "Docroot for alice has no root (\"/\") show_as member"),
              nullptr);
}

TEST(UserBuild, DocrootsWithoutRootAreReported) {
    user_conf conf("users.conf");
    held<cv_uac_user> user(conf.load("rootless"));
    ASSERT_NE(user.object, nullptr);
    const cv_uac_warning *own = find_warning(
        user->object.warnings, "Docroot for rootless has no root (\"/\") show_as member");
    ASSERT_NE(own, nullptr) << testing::PrintToString(texts_of(user->object.warnings));
    EXPECT_EQ(own->status, 28672u);
    EXPECT_EQ(own->kind, 1);
    // The list's own finding comes over from its first docroot.
    const cv_uac_warning *carried = find_warning(
        user->object.warnings, "(Docroot 1) Docroot list has no root (\"/\") show_as member.");
    ASSERT_NE(carried, nullptr);
    EXPECT_EQ(carried->status, 1u);
    EXPECT_EQ(carried->kind, 3);
}

TEST(UserBuild, NoDocrootNoRootMessage) {
    user_conf conf("users.conf");
    held<cv_uac_user> user(conf.load("plain"));
    ASSERT_NE(user.object, nullptr);
    EXPECT_EQ(user->docroots, nullptr);
    for (const std::string &text : texts_of(user->object.warnings))
        EXPECT_EQ(text.find("has no root"), std::string::npos) << text;
}

TEST(UserBuild, TrunksByIdAndDefaultsForAMissingOne) {
    user_conf conf("users.conf");
    held<cv_uac_user> alice(conf.load("alice"));
    ASSERT_NE(alice.object, nullptr);
    ASSERT_NE(alice->in_trunk, nullptr);
    ASSERT_NE(alice->out_trunk, nullptr);
    EXPECT_EQ(alice->in_trunk->trunk_id, 7u);
    EXPECT_STREQ(alice->in_trunk->trunk_name, "shared-in");
    EXPECT_EQ(alice->in_trunk->trunk_on, 1);
    // No <trunk> has id 9: the out-trunk holds the defaults.
    EXPECT_EQ(alice->out_trunk->trunk_id, 9u);
    EXPECT_EQ(alice->out_trunk->trunk_on, 0);
    EXPECT_EQ(alice->out_trunk->trunk_name, nullptr);
    for (const std::string &text : texts_of(alice->object.warnings))
        EXPECT_EQ(text.rfind("(Out Trunk)", 0), std::string::npos) << text;
}

TEST(UserBuild, TrunkFindingsAreCarriedOverWithTheirStatus) {
    user_conf conf("users.conf");
    held<cv_uac_user> user(conf.load("plain"));
    ASSERT_NE(user.object, nullptr);
    ASSERT_NE(user->in_trunk, nullptr);
    EXPECT_EQ(user->in_trunk->trunk_id, 3u);
    const cv_uac_warning *trunk_finding = user->in_trunk->object.warnings;
    ASSERT_NE(trunk_finding, nullptr) << "<on>maybe</on> is no boolean";
    const cv_uac_warning *carried =
        find_warning(user->object.warnings, std::string("(In Trunk) ") + trunk_finding->text);
    ASSERT_NE(carried, nullptr) << testing::PrintToString(texts_of(user->object.warnings));
    EXPECT_EQ(carried->status, trunk_finding->status);
    EXPECT_EQ(carried->kind, trunk_finding->kind);
}

TEST(UserBuild, LoggingSelectedByTheUsersClass) {
    user_conf conf("users.conf");
    held<cv_uac_user> alice(conf.load("alice"));
    held<cv_uac_user> plain(conf.load("plain"));
    ASSERT_NE(alice.object, nullptr);
    ASSERT_NE(plain.object, nullptr);
    ASSERT_NE(alice->logging, nullptr);
    ASSERT_NE(plain->logging, nullptr);
    EXPECT_EQ(alice->logging->level, 3) << "cvcp-alice matches cvcp-*: dbg2";
    EXPECT_EQ(plain->logging->level, 1) << "no class selects nothing: the default log";
}

TEST(UserBuild, IdentityAndEntryVariables) {
    user_conf conf("users.conf");
    held<cv_uac_user> alice(conf.load("alice"));
    ASSERT_NE(alice.object, nullptr);
    EXPECT_STREQ(alice->user_name, "alice");
    for (const char *name : {"name", "user", "NAME", "USER"})
        EXPECT_EQ(variable(alice.object, name), "alice") << name;
    EXPECT_EQ(variable(alice.object, "domain"), "");
    EXPECT_EQ(variable(alice.object, "DOMAIN"), "");
    EXPECT_EQ(variable(alice.object, "realm"), "corp");
    EXPECT_EQ(variable(alice.object, "site"), "north");
    EXPECT_EQ(variable(alice.object, "filter"), "a=b") << "the value keeps its own \"=\"";
    EXPECT_EQ(variable(alice.object, "no equals sign"), "<unset>");
}

TEST(UserBuild, DomainAndUserFromTheResolutionsName) {
    user_conf conf("users.conf");
    held<cv_uac_user> user(conf.load("plain", "CORP\\bob"));
    ASSERT_NE(user.object, nullptr);
    EXPECT_STREQ(user->user_name, "CORP\\bob");
    for (const char *name : {"user", "USER", "name", "NAME"})
        EXPECT_EQ(variable(user.object, name), "bob") << name;
    EXPECT_EQ(variable(user.object, "domain"), "CORP");
    EXPECT_EQ(variable(user.object, "DOMAIN"), "CORP");
}

TEST(UserBuild, LongNameKeepsItsVariablesWhole) {
    user_conf conf("users.conf");
    const std::string login = "DOM\\" + std::string(300, 'u');
    held<cv_uac_user> user(conf.load("plain", login.c_str()));
    ASSERT_NE(user.object, nullptr);
    EXPECT_EQ(variable(user.object, "user"), std::string(300, 'u'));
    EXPECT_EQ(std::string(user->user_name), login.substr(0, CV_UAC_USER_NAME_SIZE - 1));
    bool reported = false;
    for (const std::string &text : texts_of(user->object.warnings))
        reported = reported || text.find("longer than 255 bytes") != std::string::npos;
    EXPECT_TRUE(reported) << "a cut user name is never silent";
}

TEST(UserBuild, InvalidTokenTypeIsLoggedAndKept) {
    user_conf conf("users.conf");
    const std::string mark = cv_test_log_capture::mark();
    held<cv_uac_user> bad(conf.load("bad_token_type"));
    held<cv_uac_user> good(conf.load("good_token_type"));
    ASSERT_NE(bad.object, nullptr);
    const std::string log = cv_test_log_capture::since(mark);
    EXPECT_EQ(cv_test_log_capture::count(
                  log, "User settings: Invalid token encryption type for user bad_token_type!"),
              1);
    EXPECT_EQ(log.find("good_token_type!"), std::string::npos);
    EXPECT_EQ(bad->token_encryption_type, 20);
}

TEST(UserBuild, DefaultsObjectIsBuiltWithoutAConfiguration) {
    const cv_uac_user *defaults = cv_uac_user_defaults();
    ASSERT_NE(defaults, nullptr);
    EXPECT_STREQ(defaults->user_name, "Unknown");
    EXPECT_EQ(defaults->docroots, nullptr);
    ASSERT_NE(defaults->in_trunk, nullptr);
    EXPECT_EQ(defaults->in_trunk->trunk_on, 0);
    ASSERT_NE(defaults->logging, nullptr);
    EXPECT_EQ(defaults->logging->level, 1);
}

// ---- validate ----------------------------------------------------------

struct findings {
    cv_uac_warning *list = nullptr;
    ~findings() { cv_uac_free_warnings(&list); }
};

cv_status validate(cv_uac_user *user, std::int32_t strictness, findings *found) {
    return user->object.header.descriptor->validate(&user->object, &found->list, strictness);
}

struct check_row {
    const char *user;
    const char *message;
    std::int32_t base; /* the strictness at which the finding is a warning */
};

const check_row kCheckRows[] = {
    {"token_keyfile", "Private key token encryption is currently disabled", 3},
    {"token_type_none", "Private key token encryption is currently disabled", 3},
    {"token_md5", "md5 token filename hash is no longer supported.  Please switch to sha1", 3},
    {"out_target_default", "Output bandwidth cap is less than the default", 3},
    {"in_target_default", "Input bandwidth cap is less than the default", 3},
    {"out_min_default", "Output minimum rate cap is less than the default", 3},
    {"in_min_default", "Input minimum rate cap is less than the default", 3},
    {"in_policy", "Input bandwidth policy default is more permissive than allowed", 3},
    {"compression_zero", "Input compression algorithm is not allowed", 3},
    {"out_policy", "Output bandwidth policy default is more permissive than allowed", 3},
    {"in_aggressiveness", "Aggressiveness cap is less than the default", 3},
    {"sock_buffer", "Minimum socket buffer is greater than the maximum", 3},
    {"file_cache", "Max file cache buffer is set even though the file cache is off", 0},
    {"out_min_above_target", "Output bandwidth cap is less than the minimum", 3},
    {"in_min_above_target", "Input bandwidth cap is less than the minimum", 3},
    {"suffixes", "Partial file suffix can not be the same as the resume suffix", 3},
    {"xattr_storage",
     "preserve_mac_xattr_storage is no longer supported and can not be specified.", 3},
    {"xattr", "preserve_mac_xattr is no longer supported and can not be specified.", 3},
};

TEST(UserValidate, EachCheckFiresAtItsLevel) {
    user_conf conf("checks.conf");
    const int verbosity = cv_log_verbosity;
    const int debug = cv_log_debug_enabled;
    cv_log_verbosity = 1;
    cv_log_debug_enabled = 1;
    for (const check_row &row : kCheckRows) {
        held<cv_uac_user> user(conf.load(row.user));
        ASSERT_NE(user.object, nullptr) << row.user;
        {
            findings found;
            EXPECT_EQ(validate(user.object, row.base, &found), 22u) << row.user;
            EXPECT_EQ(texts_of(found.list), std::vector<std::string>{row.message}) << row.user;
            ASSERT_NE(found.list, nullptr);
            EXPECT_EQ(found.list->status, 22u);
        }
        const std::string line = std::string("Configuration: ") + row.message;
        {
            const std::string mark = cv_test_log_capture::mark();
            findings found;
            EXPECT_EQ(validate(user.object, row.base + 1, &found), 0u) << row.user;
            EXPECT_EQ(found.list, nullptr) << row.user;
            EXPECT_NE(cv_test_log_capture::since(mark).find("LOG " + line), std::string::npos)
                << row.user;
        }
        {
            const std::string mark = cv_test_log_capture::mark();
            findings found;
            EXPECT_EQ(validate(user.object, row.base + 2, &found), 0u) << row.user;
            EXPECT_EQ(found.list, nullptr) << row.user;
            const std::string log = cv_test_log_capture::since(mark);
            EXPECT_NE(log.find("DBG " + line), std::string::npos) << row.user;
            EXPECT_EQ(log.find("LOG " + line), std::string::npos) << row.user;
        }
        // A negative strictness asks for none of these checks.
        for (std::int32_t strictness : {-1, -2}) {
            const std::string mark = cv_test_log_capture::mark();
            findings found;
            EXPECT_EQ(validate(user.object, strictness, &found), 0u) << row.user;
            EXPECT_EQ(found.list, nullptr) << row.user;
            EXPECT_EQ(cv_test_log_capture::since(mark).find(row.message), std::string::npos)
                << row.user;
        }
    }
    cv_log_verbosity = verbosity;
    cv_log_debug_enabled = debug;
}

TEST(UserValidate, ContentProtectionOnlyAtStrictnessMinusOne) {
    user_conf conf("checks.conf");
    held<cv_uac_user> user(conf.load("content_protection"));
    ASSERT_NE(user.object, nullptr);
    for (std::int32_t strictness : {-2, 0, 3}) {
        findings found;
        EXPECT_EQ(validate(user.object, strictness, &found), 0u) << strictness;
        EXPECT_EQ(found.list, nullptr) << strictness;
    }
    findings found;
    EXPECT_EQ(validate(user.object, -1, &found), 22u);
    EXPECT_EQ(texts_of(found.list),
              std::vector<std::string>{"Content protection can not be required"});
}

TEST(UserValidate, SoundUsersAndNearMissesStaySilent) {
    user_conf conf("checks.conf");
    for (const char *name : {"sound", "token_lzw", "in_target_equal", "in_policy_fair",
                             "out_aggressiveness", "sock_buffer_no_max", "file_cache_on",
                             "min_unlimited", "suffixes_case", "suffixes_blank"}) {
        held<cv_uac_user> user(conf.load(name));
        ASSERT_NE(user.object, nullptr) << name;
        for (std::int32_t strictness : {0, -1}) {
            findings found;
            EXPECT_EQ(validate(user.object, strictness, &found), 0u) << name;
            EXPECT_EQ(texts_of(found.list), std::vector<std::string>{}) << name;
        }
    }
}

TEST(UserValidate, DefaultsPassTheCheckSlot) {
    cv_uac_user *defaults = cv_uac_user_defaults();
    ASSERT_NE(defaults, nullptr);
    findings found;
    EXPECT_EQ(defaults->object.header.descriptor->check(&defaults->object, &found.list), 0u);
    EXPECT_EQ(found.list, nullptr);
    EXPECT_EQ(validate(defaults, 0, &found), 0u);
    EXPECT_EQ(found.list, nullptr);
}

}  // namespace
