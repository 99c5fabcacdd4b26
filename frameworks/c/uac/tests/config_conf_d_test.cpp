// Tests of conf.d overrides as an administrator's tool meets them: an
// override written for a trunk or a logging setting is read back through
// the same configuration set and through a fresh load, wins over the main
// file, replaces its own file when written again and disappears with
// CV_NULL; and of catalogue defaults written as "".
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "config_test_support.h"
#include "cv_test_temp_dir.h"
#include "uac/cv_uac_classes.h"

namespace {

namespace fs = std::filesystem;

struct warnings_list {
    cv_uac_warning *head = nullptr;
    ~warnings_list() { cv_uac_free_warnings(&head); }
    std::string newest() const { return head ? head->text : ""; }
};

/* An installation's etc folder holding a copy of the overrides fixture, and
 * the configuration set loaded from it. */
struct installation {
    temp_dir dir;
    std::string main;
    cv_uac_conf_set *set = nullptr;
    installation() : main(dir / "corvane.conf") {
        fs::copy_file(std::string(CV_TEST_DATA_DIR) + "/conf_sets/overrides/corvane.conf", main);
        set = cv_uac_load_conf_file(main.c_str(), 0);
    }
    ~installation() { (void)cv_uac_release_conf_file_set(set); }
    std::string conf_d(const std::string &name = "") const {
        return dir / ("conf.d" + (name.empty() ? "" : "/" + name));
    }
};

held<cv_uac_trunk> trunk_of(const cv_uac_conf_set *set, std::uint32_t id) {
    cv_uac_trunk *trunk = nullptr;
    EXPECT_EQ(cv_uac_get_trunk(set, id, &trunk), 0u);
    return held<cv_uac_trunk>(trunk);
}

held<cv_uac_logging> logging_of(const cv_uac_conf_set *set, const char *wanted) {
    cv_uac_logging *logging = nullptr;
    EXPECT_EQ(cv_uac_get_logging(set, wanted, nullptr, nullptr, &logging), 0u);
    return held<cv_uac_logging>(logging);
}

template <typename T>
cv_status write_override(const held<T> &object, cv_uac_conf_set **set, const char *name,
                         const char *text, const std::string &main,
                         cv_uac_warning **warnings = nullptr) {
    return cv_uac_config_write_conf_d_override(object.base(), set, warnings, name, text,
                                               main.c_str());
}

TEST(conf_d_override, a_trunk_override_wins_through_the_same_set_and_a_new_load) {
    installation etc;
    ASSERT_NE(etc.set, nullptr);
    held<cv_uac_trunk> seven = trunk_of(etc.set, 7);
    ASSERT_EQ(seven->trunk_mcast_port, 5000u);

    ASSERT_EQ(write_override(seven, &etc.set, "trunk_mcast_port", "6000", etc.main), 0u);
    EXPECT_EQ(seven->trunk_mcast_port, 6000u);
    EXPECT_EQ(entries_of(etc.conf_d()), std::vector<std::string>{"trunk_trunk_mcast_port@7.conf"});
    EXPECT_EQ(read_file(etc.conf_d("trunk_trunk_mcast_port@7.conf")),
              "<CONF version=\"2\">\n"
              "   <trunks>\n"
              "      <trunk>\n"
              "         <id>7</id>\n"
              "         <mcast_port fitness=\"2147483647\">6000</mcast_port>\n"
              "      </trunk>\n"
              "   </trunks>\n"
              "</CONF>\n");

    held<cv_uac_trunk> again = trunk_of(etc.set, 7);
    EXPECT_EQ(again->trunk_mcast_port, 6000u);
    EXPECT_STREQ(again->trunk_name, "seven");  // the main file's other values stay
    EXPECT_EQ(trunk_of(etc.set, 8)->trunk_mcast_port, 8000u);

    loaded_conf fresh(etc.main, 0);
    EXPECT_EQ(trunk_of(fresh.set, 7)->trunk_mcast_port, 6000u);
    EXPECT_EQ(trunk_of(fresh.set, 8)->trunk_mcast_port, 8000u);
}

TEST(conf_d_override, a_text_with_markup_characters_is_written_escaped_and_reads_back_whole) {
    installation etc;
    held<cv_uac_trunk> seven = trunk_of(etc.set, 7);
    ASSERT_EQ(write_override(seven, &etc.set, "trunk_name", "R&D <east>", etc.main), 0u);
    EXPECT_STREQ(seven->trunk_name, "R&D <east>");
    EXPECT_EQ(read_file(etc.conf_d("trunk_trunk_name@7.conf")),
              "<CONF version=\"2\">\n"
              "   <trunks>\n"
              "      <trunk>\n"
              "         <id>7</id>\n"
              "         <name fitness=\"2147483647\">R&amp;D &lt;east></name>\n"
              "      </trunk>\n"
              "   </trunks>\n"
              "</CONF>\n");
    EXPECT_STREQ(trunk_of(etc.set, 7)->trunk_name, "R&D <east>");
    loaded_conf fresh(etc.main, 0);
    EXPECT_STREQ(trunk_of(fresh.set, 7)->trunk_name, "R&D <east>");
}

TEST(conf_d_override, an_override_outranks_a_main_file_value_whose_rules_hold) {
    installation etc;
    held<cv_uac_trunk> seven = trunk_of(etc.set, 7);
    ASSERT_EQ(seven->trunk_mcast_ttl, 4u);
    ASSERT_EQ(write_override(seven, &etc.set, "trunk_mcast_ttl", "9", etc.main), 0u);
    EXPECT_EQ(trunk_of(etc.set, 7)->trunk_mcast_ttl, 9u);
    loaded_conf fresh(etc.main, 0);
    EXPECT_EQ(trunk_of(fresh.set, 7)->trunk_mcast_ttl, 9u);
}

TEST(conf_d_override, a_trunk_the_main_file_lacks_gets_an_override_of_its_own_id) {
    installation etc;
    held<cv_uac_trunk> twelve = trunk_of(etc.set, 12);
    EXPECT_EQ(twelve->trunk_id, 12u);
    ASSERT_EQ(write_override(twelve, &etc.set, "trunk_on", "true", etc.main), 0u);
    EXPECT_EQ(trunk_of(etc.set, 12)->trunk_on, 1);
    EXPECT_EQ(trunk_of(etc.set, 7)->trunk_on, 0);
    EXPECT_EQ(trunk_of(etc.set, 0)->trunk_on, 0);
}

TEST(conf_d_override, writing_again_replaces_the_file_and_never_grows_the_set) {
    installation etc;
    ASSERT_EQ(etc.set->count, 1);
    held<cv_uac_trunk> seven = trunk_of(etc.set, 7);
    // More writes than a set holds files.
    for (int i = 1; i <= 105; ++i)
        ASSERT_EQ(write_override(seven, &etc.set, "trunk_mcast_port", std::to_string(i).c_str(),
                                 etc.main),
                  0u)
            << i;
    EXPECT_EQ(etc.set->count, 2);
    EXPECT_EQ(trunk_of(etc.set, 7)->trunk_mcast_port, 105u);

    // Another option of the same trunk, and the same option of another.
    ASSERT_EQ(write_override(seven, &etc.set, "trunk_on", "true", etc.main), 0u);
    held<cv_uac_trunk> eight = trunk_of(etc.set, 8);
    ASSERT_EQ(write_override(eight, &etc.set, "trunk_mcast_port", "8080", etc.main), 0u);
    ASSERT_EQ(write_override(seven, &etc.set, "trunk_on", "false", etc.main), 0u);
    EXPECT_EQ(etc.set->count, 4);
    EXPECT_EQ(entries_of(etc.conf_d()),
              (std::vector<std::string>{"trunk_trunk_mcast_port@7.conf",
                                        "trunk_trunk_mcast_port@8.conf", "trunk_trunk_on@7.conf"}));
    held<cv_uac_trunk> seven_again = trunk_of(etc.set, 7);
    EXPECT_EQ(seven_again->trunk_mcast_port, 105u);
    EXPECT_EQ(seven_again->trunk_on, 0);
    EXPECT_EQ(trunk_of(etc.set, 8)->trunk_mcast_port, 8080u);
}

TEST(conf_d_override, cv_null_removes_the_override_and_the_main_files_value_returns) {
    installation etc;
    held<cv_uac_trunk> seven = trunk_of(etc.set, 7);
    ASSERT_EQ(write_override(seven, &etc.set, "trunk_mcast_port", "6000", etc.main), 0u);
    ASSERT_EQ(write_override(seven, &etc.set, "trunk_name", "pool", etc.main), 0u);
    ASSERT_EQ(etc.set->count, 3);

    ASSERT_EQ(write_override(seven, &etc.set, "trunk_mcast_port", "CV_NULL", etc.main), 0u);
    EXPECT_EQ(seven->trunk_mcast_port, 0u);  // the object falls back on the default
    EXPECT_EQ(entries_of(etc.conf_d()), std::vector<std::string>{"trunk_trunk_name@7.conf"});
    EXPECT_EQ(etc.set->count, 2);
    EXPECT_EQ(trunk_of(etc.set, 7)->trunk_mcast_port, 5000u);
    EXPECT_STREQ(trunk_of(etc.set, 7)->trunk_name, "pool");

    // A condition that holds removes it too; removing what is not there is
    // no failure.
    ASSERT_EQ(write_override(seven, &etc.set, "trunk_name", "?pool:CV_NULL", etc.main), 0u);
    EXPECT_TRUE(entries_of(etc.conf_d()).empty());
    EXPECT_EQ(write_override(seven, &etc.set, "trunk_name", "CV_NULL", etc.main), 0u);
    EXPECT_EQ(etc.set->count, 1);

    loaded_conf fresh(etc.main, 0);
    EXPECT_EQ(fresh.set->count, 1);
    held<cv_uac_trunk> read = trunk_of(fresh.set, 7);
    EXPECT_EQ(read->trunk_mcast_port, 5000u);
    EXPECT_STREQ(read->trunk_name, "seven");
}

TEST(conf_d_override, a_logging_override_applies_to_the_classes_of_its_setting) {
    installation etc;
    held<cv_uac_logging> cvcp = logging_of(etc.set, "cvcp");
    ASSERT_EQ(cvcp->level, 1);
    ASSERT_EQ(write_override(cvcp, &etc.set, "level", "dbg2", etc.main), 0u);
    EXPECT_EQ(cvcp->level, 3);
    EXPECT_EQ(entries_of(etc.conf_d()), std::vector<std::string>{"logging_level@cv%2A.conf"});
    EXPECT_EQ(read_file(etc.conf_d("logging_level@cv%2A.conf")),
              "<CONF version=\"2\">\n"
              "   <logging>\n"
              "      <log_setting>\n"
              "         <classes>cv*</classes>\n"
              "         <level fitness=\"2147483647\">dbg2</level>\n"
              "      </log_setting>\n"
              "   </logging>\n"
              "</CONF>\n");

    struct row {
        const char *wanted;
        std::int32_t level;
        std::uint32_t log_size;
    };
    loaded_conf fresh(etc.main, 0);
    for (const cv_uac_conf_set *set : {static_cast<const cv_uac_conf_set *>(etc.set),
                                       static_cast<const cv_uac_conf_set *>(fresh.set)})
        for (const row &r : {row{"cvcp", 3, 20}, row{"cvsync", 3, 20}, row{"sync", 1, 10}}) {
            SCOPED_TRACE(r.wanted);
            held<cv_uac_logging> logging = logging_of(set, r.wanted);
            EXPECT_EQ(logging->level, r.level);
            EXPECT_EQ(logging->log_size, r.log_size);
        }
}

TEST(conf_d_override, an_empty_holder_gets_a_set_that_holds_the_override) {
    installation etc;
    held<cv_uac_trunk> seven = trunk_of(etc.set, 7);
    cv_uac_conf_set *loaded = nullptr;
    ASSERT_EQ(write_override(seven, &loaded, "trunk_mcast_port", "6100", etc.main), 0u);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(trunk_of(loaded, 7)->trunk_mcast_port, 6100u);
    EXPECT_EQ(cv_uac_release_conf_file_set(loaded), 0u);
}

TEST(conf_d_override, what_tells_objects_apart_is_refused_and_nothing_is_written) {
    installation etc;
    held<cv_uac_trunk> seven = trunk_of(etc.set, 7);
    for (const char *key : {"trunk_id", "trunk_id_string_INTERNAL"}) {
        SCOPED_TRACE(key);
        warnings_list warnings;
        EXPECT_EQ(write_override(seven, &etc.set, key, "8", etc.main, &warnings.head),
                  CV_E_INVALID);
        EXPECT_EQ(warnings.newest(),
                  std::string(key) + " tells trunk objects apart: it has no conf.d override of "
                                     "its own");
    }
    EXPECT_EQ(seven->trunk_id, 7u);

    // A logging setting whose classes would make too long a file name.
    const std::string classes(250, 'c');
    loaded_conf long_classes("<CONF version=\"2\"><logging><log_setting><classes>" + classes +
                             "</classes><level>dbg1</level></log_setting></logging></CONF>");
    held<cv_uac_logging> logging = logging_of(long_classes.set, classes.c_str());
    ASSERT_EQ(logging->level, 2);
    warnings_list warnings;
    EXPECT_EQ(write_override(logging, &etc.set, "level", "dbg2", etc.main, &warnings.head),
              CV_E_NAME_TOO_LONG);
    EXPECT_EQ(warnings.newest(),
              "The conf.d override file of level for this logging object would have too long a "
              "name");
    EXPECT_EQ(logging->level, 2);
    EXPECT_FALSE(fs::exists(etc.conf_d()));
    EXPECT_EQ(etc.set->count, 1);
}

TEST(conf_d_override, key_values_are_escaped_in_the_file_name) {
    installation etc;
    loaded_conf odd("<CONF version=\"2\"><logging><log_setting><classes>../a b;c\\d@%</classes>"
                    "</log_setting></logging></CONF>");
    held<cv_uac_logging> logging = logging_of(odd.set, "../a b");
    ASSERT_STREQ(logging->classes, "../a b;c\\d@%");
    ASSERT_EQ(write_override(logging, &etc.set, "log_size", "30", etc.main), 0u);
    EXPECT_EQ(entries_of(etc.conf_d()),
              std::vector<std::string>{"logging_log_size@..%2Fa%20b%3Bc%5Cd%40%25.conf"});
    EXPECT_EQ(logging_of(etc.set, "../a b")->log_size, 30u);
}

// ---- defaults written as "" ------------------------------------------------

#define EMPTY_DEFAULT_OPTIONS(X)                                         \
    X(plain, char_ptr, (name), "", CV_NULL)                              \
    X(trimmed, trimmed_char_ptr, (absolute), "", CV_NULL)                \
    X(blankable, blankable_char_ptr, (show_as), "", CV_NULL)             \
    X(items, string_list, (cvshell_commands), "", "command")             \
    X(none, trimmed_char_ptr, (description), CV_NULL, CV_NULL)           \
    X(none_list, string_list, (db_port), "CV_NULL", CV_NULL)

#define CV_UAC_CLASS empty_default
#define CV_UAC_CLASS_ROW_LIST EMPTY_DEFAULT_OPTIONS
#include "uac/cv_uac_class_declare.h"

using empty_default_object = cv_uac_empty_default;
CV_UAC_DEFINE_CLASS(empty_default, 0, cv_uac_base_class, nullptr, nullptr);

/* An object of the class read from the children of a CONF root. */
held<empty_default_object> empty_default_read(const loaded_conf &conf) {
    const cv_uac_load_request request{conf.set, conf.set->roots, nullptr, nullptr, 0};
    cv_uac_config_object *object = nullptr;
    EXPECT_EQ(cv_uac_config_load(&cv_uac_empty_default_class, &request, &object), 0u);
    return held<empty_default_object>(reinterpret_cast<empty_default_object *>(object));
}

TEST(catalogue_defaults, an_empty_default_is_the_empty_value_and_cv_null_is_none) {
    loaded_conf nothing("<CONF version=\"2\"/>");
    held<empty_default_object> read = empty_default_read(nothing);
    ASSERT_NE(read.object, nullptr);
    for (const char *value : {read->plain, read->trimmed, read->blankable}) {
        ASSERT_NE(value, nullptr);
        EXPECT_STREQ(value, "");
    }
    ASSERT_NE(read->items, nullptr);  // a list, without items
    EXPECT_TRUE(items_of(read->items).empty());
    EXPECT_EQ(read->none, nullptr);
    EXPECT_EQ(read->none_list, nullptr);
    EXPECT_EQ(cv_uac_class_defaults(&cv_uac_empty_default_class)->warnings, nullptr);

    // An override and its undoing: CV_NULL gives the empty default back.
    ASSERT_EQ(cv_uac_config_set_by_name(read.base(), "trimmed", "/data", nullptr), 0u);
    EXPECT_STREQ(read->trimmed, "/data");
    ASSERT_EQ(cv_uac_config_set_by_name(read.base(), "trimmed", "CV_NULL", nullptr), 0u);
    ASSERT_NE(read->trimmed, nullptr);
    EXPECT_STREQ(read->trimmed, "");
}

TEST(catalogue_defaults, values_in_the_configuration_replace_an_empty_default) {
    loaded_conf conf(
        "<CONF version=\"2\"><name>n</name><absolute> /srv </absolute><show_as>/</show_as>"
        "<cvshell_commands><command>a</command></cvshell_commands></CONF>");
    held<empty_default_object> read = empty_default_read(conf);
    ASSERT_NE(read.object, nullptr);
    EXPECT_STREQ(read->plain, "n");
    EXPECT_STREQ(read->trimmed, "/srv");
    EXPECT_STREQ(read->blankable, "/");
    EXPECT_EQ(items_of(read->items), std::vector<std::string>{"a"});
}

}  // namespace

// The writer treats conf.d as a folder another account may have planted
// things in: it never writes or removes through a link, nor in a folder
// others can write, and never writes through a name planted for its
// temporary file.
struct unsafe_place {
    const char *what;
    void (*arrange)(const installation &etc, const std::string &elsewhere);
};

const unsafe_place kUnsafePlaces[] = {
    {"conf.d is a link to another folder",
     [](const installation &etc, const std::string &elsewhere) {
         fs::create_directory(elsewhere);
         fs::create_directory_symlink(elsewhere, etc.conf_d());
     }},
    {"conf.d is writable by others",
     [](const installation &etc, const std::string &) {
         fs::create_directory(etc.conf_d());
         fs::permissions(etc.conf_d(), fs::perms::others_write, fs::perm_options::add);
     }},
    {"the folder holding conf.d is writable by others",
     [](const installation &etc, const std::string &) {
         fs::permissions(etc.dir.path(), fs::perms::others_write, fs::perm_options::add);
     }},
    {"the override's name is a link",
     [](const installation &etc, const std::string &elsewhere) {
         fs::create_directory(etc.conf_d());
         std::ofstream(elsewhere) << "kept";
         fs::create_symlink(elsewhere, etc.conf_d("trunk_trunk_mcast_port@7.conf"));
     }},
};

TEST(conf_d_override, an_unsafe_folder_or_name_is_refused_and_nothing_changes) {
    for (const unsafe_place &place : kUnsafePlaces) {
        SCOPED_TRACE(place.what);
        installation etc;
        temp_dir outside;
        const std::string elsewhere = outside / "target";
        place.arrange(etc, elsewhere);
        held<cv_uac_trunk> seven = trunk_of(etc.set, 7);
        const std::uint32_t before = seven->trunk_mcast_port;
        for (const char *text : {"6000", "CV_NULL"}) {
            warnings_list warnings;
            const cv_status status =
                write_override(seven, &etc.set, "trunk_mcast_port", text, etc.main, &warnings.head);
            EXPECT_EQ(status, CV_E_FILE_NOT_VALID) << text;
            EXPECT_NE(warnings.newest().find("conf.d"), std::string::npos) << warnings.newest();
            EXPECT_EQ(seven->trunk_mcast_port, before);
        }
        EXPECT_EQ(etc.set->count, 1);
        // Nothing was written where a link leads.
        std::error_code ec;
        if (fs::is_directory(elsewhere, ec)) {
            EXPECT_TRUE(fs::is_empty(elsewhere));
        } else if (fs::exists(elsewhere, ec)) {
            EXPECT_EQ(read_file(elsewhere), "kept");
        }
    }
}

TEST(conf_d_override, a_link_planted_under_the_temporary_name_is_not_written_through) {
    installation etc;
    temp_dir outside;
    const std::string victim = outside / "victim";
    std::ofstream(victim) << "precious";
    fs::create_directory(etc.conf_d());
    const std::string temporary =
        etc.conf_d("trunk_trunk_mcast_port@7.conf_" + std::to_string(getpid()));
    fs::create_symlink(victim, temporary);
    held<cv_uac_trunk> seven = trunk_of(etc.set, 7);
    EXPECT_EQ(write_override(seven, &etc.set, "trunk_mcast_port", "6000", etc.main), 0u);
    EXPECT_EQ(read_file(victim), "precious");
    EXPECT_FALSE(fs::is_symlink(temporary));
    EXPECT_NE(read_file(etc.conf_d("trunk_trunk_mcast_port@7.conf")).find(">6000<"),
              std::string::npos);
}
