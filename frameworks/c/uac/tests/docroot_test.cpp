// The docroot class: a user's docroot list (order, duplicates, the missing
// root), the post-processing of each docroot (paths, separator, filter,
// restrictions) and the path rules of both platforms.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config_test_support.h"
#include "cvplatform/cv_containers.h"
#include "uac/cv_uac_docroot.h"

namespace {

/* A user entry whose docroots are the given `<path>` elements. */
struct docroot_conf {
    test_conf conf;
    explicit docroot_conf(const std::string &paths)
        : conf("<user><name>alice</name><file_system><access><paths>" + paths +
               "</paths></access></file_system></user>") {}

    cv_uac_docroot *build(cv_btree *variables = nullptr) {
        cv_uac_docroot *head = nullptr;
        EXPECT_EQ(cv_uac_get_docroots(conf.start, variables, nullptr, &head), 0u);
        return head;
    }
};

std::string path_element(const std::string &absolute, const std::string &show_as,
                         const std::string &more = "") {
    return "<path><absolute>" + absolute + "</absolute><show_as>" + show_as + "</show_as>" + more +
           "</path>";
}

std::vector<std::string> shown_paths(const cv_uac_docroot *head) {
    std::vector<std::string> shown;
    for (; head; head = head->next) shown.emplace_back(head->expanded_show_as);
    return shown;
}

std::vector<std::string> texts_of(const cv_uac_warning *warnings) {
    std::vector<std::string> texts;
    for (; warnings; warnings = warnings->next) texts.emplace_back(warnings->text);
    return texts;
}

constexpr const char *kNoRoot = "Docroot list has no root (\"/\") show_as member.";

TEST(DocrootList, LongerShownPathsFirstAndCaseDuplicatesDropped) {
    docroot_conf conf(path_element("/srv/root", "/") + path_element("/srv/data", "/data") +
                      path_element("/srv/other", "/DATA"));
    held<cv_uac_docroot> head(conf.build());
    ASSERT_NE(head.object, nullptr);
    EXPECT_EQ(shown_paths(head.object), (std::vector<std::string>{"/data", "/"}));
    // The first docroot shown as /data is kept, not the later one.
    EXPECT_STREQ(head->expanded_absolute, "/srv/data");
    EXPECT_STREQ(head->next->expanded_absolute, "/srv/root");
}

TEST(DocrootList, EqualLengthsKeepEntryOrder) {
    docroot_conf conf(path_element("/1", "/bb") + path_element("/2", "/") +
                      path_element("/3", "/aa") + path_element("/4", "/a/long"));
    held<cv_uac_docroot> head(conf.build());
    EXPECT_EQ(shown_paths(head.object), (std::vector<std::string>{"/a/long", "/bb", "/aa", "/"}));
}

TEST(DocrootList, MissingRootWarnsOnTheFirstDocrootOnly) {
    docroot_conf conf(path_element("/1", "/in") + path_element("/2", "/outgoing"));
    held<cv_uac_docroot> head(conf.build());
    ASSERT_NE(head.object, nullptr);
    ASSERT_EQ(texts_of(head->object.warnings), (std::vector<std::string>{kNoRoot}));
    EXPECT_EQ(head->object.warnings->status, 1u);
    EXPECT_EQ(head->object.warnings->kind, 3);
    EXPECT_EQ(head->next->object.warnings, nullptr);
}

TEST(DocrootList, RootByAnySpellingSilencesTheWarning) {
    // A docroot without show_as, or with one that comes to "/", is the root.
    for (const std::string &root :
         {path_element("/r", "/"), std::string("<path><absolute>/r</absolute></path>"),
          path_element("/r", "/x/.."), path_element("/r", "")}) {
        docroot_conf conf(path_element("/1", "/in") + root);
        held<cv_uac_docroot> head(conf.build());
        ASSERT_NE(head.object, nullptr) << root;
        EXPECT_EQ(shown_paths(head.object), (std::vector<std::string>{"/in", "/"})) << root;
        EXPECT_EQ(head->object.warnings, nullptr) << root;
    }
}

TEST(DocrootList, ReleasingTheHeadReleasesTheList) {
    const std::int32_t before = cv_uac_config_object_count();
    {
        docroot_conf conf(path_element("/1", "/") + path_element("/2", "/a") +
                          path_element("/3", "/bb"));
        held<cv_uac_docroot> head(conf.build());
        EXPECT_EQ(cv_uac_config_object_count(), before + 3);
    }
    EXPECT_EQ(cv_uac_config_object_count(), before);
}

TEST(DocrootList, AHeldDocrootKeepsItsTail) {
    docroot_conf conf(path_element("/1", "/") + path_element("/2", "/a") +
                      path_element("/3", "/bb"));
    cv_uac_docroot *head = conf.build();
    ASSERT_NE(head, nullptr);
    cv_uac_docroot *middle = head->next;
    ASSERT_NE(middle, nullptr);
    cv_uac_config_hold(&middle->object);
    cv_uac_config_release(&head->object);
    EXPECT_EQ(shown_paths(middle), (std::vector<std::string>{"/a", "/"}));
    cv_uac_config_release(&middle->object);
}

TEST(DocrootPostProcessing, PathsAreExpandedAndCanonical) {
    cv_btree *variables = nullptr;
    ASSERT_EQ(cv_btree_create_strings(&variables), 0u);
    ASSERT_EQ(cv_btree_set(variables, "user", "bob"), 0u);
    docroot_conf conf(path_element("/home/$(user)/./in/../files/", "$(user)//share"));
    held<cv_uac_docroot> head(conf.build(variables));
    (void)cv_btree_destroy(variables, nullptr);
    ASSERT_NE(head.object, nullptr);
    EXPECT_STREQ(head->expanded_absolute, "/home/bob/files");
    EXPECT_STREQ(head->expanded_show_as, "/bob/share");
    EXPECT_EQ(head->separator, '/');
}

TEST(DocrootPostProcessing, RelativeRealPathHasNoSeparator) {
    docroot_conf conf(path_element("data/x/..", "/"));
    held<cv_uac_docroot> head(conf.build());
    ASSERT_NE(head.object, nullptr);
    EXPECT_STREQ(head->expanded_absolute, "data");
    EXPECT_EQ(head->separator, '\0');
}

TEST(DocrootPostProcessing, UnresolvedVariableIsLoggedAndLeavesThePathEmpty) {
    const std::string mark = cv_test_log_capture::mark();
    docroot_conf conf(path_element("/home/$(nobody_defines_this)", "/"));
    held<cv_uac_docroot> head(conf.build());
    ASSERT_NE(head.object, nullptr);
    EXPECT_STREQ(head->expanded_absolute, "");
    EXPECT_NE(cv_test_log_capture::since(mark).find(
                  "Unable to parse docroot absolute path /home/$(nobody_defines_this)."),
              std::string::npos);
}

TEST(DocrootPostProcessing, FilterComponentCount) {
    struct row {
        const char *element; /* the filter and scope elements, or "" */
        std::uint64_t count;
        const char *copy;
    };
    const row rows[] = {
        {"<filter>a/b/c</filter><filter_scope>Directory</filter_scope>", 3, "a/b/c"},
        {"<filter>/a/b/c</filter><filter_scope>Directory</filter_scope>", 3, "/a/b/c"},
        {"<filter>a/b/c</filter><filter_scope>String</filter_scope>", 1, "a/b/c"},
        {"<filter>a/b/c</filter>", 1, "a/b/c"},
        {"", 1, "*"},
    };
    for (const row &r : rows) {
        docroot_conf conf(path_element("/r", "/", r.element));
        held<cv_uac_docroot> head(conf.build());
        ASSERT_NE(head.object, nullptr) << r.element;
        EXPECT_EQ(head->filter_component_count, r.count) << r.element;
        ASSERT_NE(head->filter_copy, nullptr) << r.element;
        EXPECT_STREQ(head->filter_copy, r.copy) << r.element;
        EXPECT_NE(head->filter_copy, head->filter) << "the copy is the docroot's own";
    }
}

TEST(DocrootPostProcessing, RestrictionsAreLowerCased) {
    docroot_conf conf(path_element(
        "/r", "/",
        "<restrictions><restriction>*.TXT</restriction><restriction>Data/*.Log</restriction>"
        "</restrictions>"));
    held<cv_uac_docroot> head(conf.build());
    ASSERT_NE(head.object, nullptr);
    EXPECT_EQ(items_of(head->file_restriction), (std::vector<std::string>{"*.txt", "data/*.log"}));
}

TEST(DocrootPathRules, LeadingSlashRefusedOnlyByWindows) {
    struct row {
        const char *absolute;
        bool windows_refuses;
    };
    const row rows[] = {
        {"/srv/data", true}, {"/", true},      {"//host/share", false}, {"C:/data", false},
        {"data", false},     {"", false},      {"\\\\host\\s", false},  {"s3://b/x", false},
    };
    for (const row &r : rows) {
        EXPECT_EQ(cv_uac_docroot_path_refused(r.absolute, cv_uac_path_rules::windows),
                  r.windows_refuses)
            << r.absolute;
        EXPECT_FALSE(cv_uac_docroot_path_refused(r.absolute, cv_uac_path_rules::posix))
            << r.absolute;
    }
    EXPECT_FALSE(cv_uac_docroot_path_refused(nullptr, cv_uac_path_rules::windows));
    EXPECT_EQ(CV_UAC_NATIVE_PATH_RULES, cv_uac_path_rules::posix);
    EXPECT_STREQ(CV_UAC_DOCROOT_REFUSED_TEXT,
                 "Windows does not allow docroots that start with a '/'.");
}

TEST(DocrootCanonicalize, UrlsKeepSchemeAndQuery) {
    struct row {
        const char *path;
        int status;
        const char *canonical;
    };
    const row rows[] = {
        {"/a/./b//c/", 0, "/a/b/c"},
        {"s3://bucket/a/../b//c", 0, "s3://bucket/b/c"},
        {"s3:///bucket/./x", 0, "s3:///bucket/x"},
        {"azu://acct/c/x/..?sig=a/../b&x=1", 0, "azu://acct/c?sig=a/../b&x=1"},
        {"s3://", 0, "s3://"},
        {"", 0, ""},
    };
    for (const row &r : rows) {
        char buffer[CV_PATH_SIZE];
        std::snprintf(buffer, sizeof buffer, "%s", r.path);
        EXPECT_EQ(cv_uac_docroot_canonicalize(buffer, sizeof buffer), r.status) << r.path;
        EXPECT_STREQ(buffer, r.canonical) << r.path;
    }
    char tiny[12] = "s3://b/abcd";
    EXPECT_EQ(cv_uac_docroot_canonicalize(tiny, 8), -1);
    EXPECT_STREQ(tiny, "");
}

}  // namespace
