// Tests of the group look-up of an account, over a fake account database
// (cv_test_fake_accounts.h): primary and supplementary groups, an account
// in more groups than the look-up first makes room for, a group name longer
// than the first record buffer, a directory-style name, an unknown account.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "cv_test_fake_accounts.h"
#include "cvplatform/cv_account.h"

namespace {

namespace fake = cv_test_fake_accounts;

/* Groups the parent adds to the fixture: "crowd" is in kCrowdGroups groups
 * of its own besides its primary group, bob in one with a long name. */
constexpr int kCrowdGroups = 70;
constexpr std::size_t kLongNameLength = 3000;

std::string crowd_group(int i) {
    char name[16];
    std::snprintf(name, sizeof name, "crowd_%02d", i);
    return name;
}

std::string long_group_name() { return std::string(kLongNameLength, 'g') + "_end"; }

/* The names of a group block, sorted, after checking that the block holds
 * `count` terminated names and ends with an empty one. */
std::vector<std::string> names_of(const cv_account_groups &groups) {
    std::vector<std::string> names;
    const char *at = groups.names;
    while (at && *at) {
        names.emplace_back(at);
        at += std::strlen(at) + 1;
    }
    EXPECT_EQ(names.size(), groups.count);
    std::sort(names.begin(), names.end());
    return names;
}

TEST(AccountGroups, PassUnderTheFakeAccountDatabase) {
    if (fake::wrapper_library().empty()) GTEST_SKIP() << fake::kNoWrapper;
    fake::database accounts(CV_TEST_DATA_DIR "/accounts/passwd", CV_TEST_DATA_DIR "/accounts/group");
    ASSERT_FALSE(accounts.folder().empty());
    for (int i = 0; i < kCrowdGroups; ++i)
        accounts.add_group(crowd_group(i) + ":x:" + std::to_string(3000 + i) + ":crowd");
    accounts.add_group(long_group_name() + ":x:4000:bob");
    fake::expect_all_passed(fake::run_child("AccountGroupsChild.*", accounts.folder()));
}

TEST(AccountGroupsChild, ListsPrimaryAndSupplementaryGroupsOnce) {
    CV_TEST_FAKE_ACCOUNTS_CHILD_ONLY();
    struct row {
        const char *user;
        std::vector<std::string> groups;  // sorted
    };
    const row rows[] = {
        // alice's primary group is listed although no member list names her.
        {"alice", {"alice", "devs", "staff"}},
        {"bob", {"bob", long_group_name(), "staff"}},
        {"CORP\\carol", {"CORP\\admins", "carol"}},
        // A primary group id without a name gives nothing to match.
        {"lonely", {}},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.user);
        cv_account_groups groups{};
        ASSERT_EQ(cv_account_get_groups(r.user, &groups), 0u);
        EXPECT_EQ(names_of(groups), r.groups);
        cv_account_groups_free(&groups);
        EXPECT_EQ(groups.names, nullptr);
    }
}

TEST(AccountGroupsChild, ListsMoreGroupsThanTheFirstGuess) {
    CV_TEST_FAKE_ACCOUNTS_CHILD_ONLY();
    std::vector<std::string> expected{"crowd"};
    for (int i = 0; i < kCrowdGroups; ++i) expected.push_back(crowd_group(i));
    cv_account_groups groups{};
    ASSERT_EQ(cv_account_get_groups("crowd", &groups), 0u);
    EXPECT_EQ(groups.count, 71u);
    EXPECT_EQ(names_of(groups), expected);
    cv_account_groups_free(&groups);
}

TEST(AccountGroupsChild, RefusalsLeaveTheListEmpty) {
    CV_TEST_FAKE_ACCOUNTS_CHILD_ONLY();
    struct row {
        const char *user;
        cv_status status;
    };
    const row rows[] = {
        {"nobody-such", 2},
        {"Alice", 2},  // account names are exact
        {"", 22},
        {nullptr, 22},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.user ? r.user : "(null)");
        cv_account_groups groups{reinterpret_cast<char *>(1), 5};
        EXPECT_EQ(cv_account_get_groups(r.user, &groups), r.status);
        EXPECT_EQ(groups.names, nullptr);
        EXPECT_EQ(groups.count, 0u);
    }
    EXPECT_EQ(cv_account_get_groups("alice", nullptr), 22u);
    cv_account_groups_free(nullptr);
}

}  // namespace
