// Test support for the option model: the framework started around a test
// program, the log captured, fixture paths, an owner that releases a config
// object, file reading, and a small class `test` whose catalogue has what the real small
// classes lack: a string list, a path that climbs to a parent, an option
// named *_INTERNAL, two paths sharing a prefix and a change rule.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "cv_test_log_capture.h"
#include "uac/cv_uac.h"
#include "uac/cv_uac_class_recipe.h"
#include "uac/cv_uac_config.h"

CV_TEST_LOG_CAPTURE();

class framework_environment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(cv_uac_init(nullptr), 0u); }
    void TearDown() override { cv_uac_deinit(); }
};
[[maybe_unused]] static ::testing::Environment *const framework_env =
    ::testing::AddGlobalTestEnvironment(new framework_environment);

/* The whole content of file `path` ("" when it cannot be read). */
inline std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

/* The names of the entries of `folder`, sorted (none when it cannot be
 * listed). */
inline std::vector<std::string> entries_of(const std::string &folder) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto &entry : std::filesystem::directory_iterator(folder, ignored))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

inline std::string config_fixture(const std::string &name) {
    return std::string(CV_TEST_DATA_DIR) + "/config/" + name;
}

/* Releases a config object (of any class struct) when it goes. */
template <typename T>
struct held {
    T *object = nullptr;
    held() = default;
    explicit held(T *o) : object(o) {}
    ~held() {
        if (object) cv_uac_config_release(base());
    }
    held(const held &) = delete;
    held &operator=(const held &) = delete;
    T *operator->() const { return object; }
    cv_uac_config_object *base() const { return reinterpret_cast<cv_uac_config_object *>(object); }
};

/* Owns a configuration set. */
struct loaded_conf {
    cv_uac_conf_set *set;
    explicit loaded_conf(const std::string &path_or_text,
                         std::uint32_t flags = CV_UAC_LOAD_NO_CONF_D)
        : set(cv_uac_load_conf_file(path_or_text.c_str(), flags)) {}
    ~loaded_conf() { (void)cv_uac_release_conf_file_set(set); }
    loaded_conf(const loaded_conf &) = delete;
    loaded_conf &operator=(const loaded_conf &) = delete;
};

// ---- the class `test` ----------------------------------------------------

#define TEST_CLASS_OPTIONS(X)                                                                  \
    X(name, trimmed_char_ptr, (name), CV_NULL, CV_NULL)                                        \
    X(session_timeout_sec, u_int32_t, (session_timeout_sec), "60", CV_NULL)                    \
    X(realm, trimmed_char_ptr, (Move_Up_to_Parent, Move_Up_to_Parent, name), CV_NULL, CV_NULL) \
    X(cvshell_commands, string_list, (cvshell_commands), CV_NULL, "command")                   \
    X(priority, lookup, (priority), "fair", "any:0;high:3;fair:4")                             \
    X(transfer_in_value, trimmed_char_ptr, (transfer, in, value), "allow", CV_NULL)            \
    X(transfer_out_value, trimmed_char_ptr, (transfer, out, value), "allow", CV_NULL)          \
    X(token_key_INTERNAL, trimmed_char_ptr, (token), CV_NULL, CV_NULL)

#define CV_UAC_CLASS test
#define CV_UAC_CLASS_ROW_LIST TEST_CLASS_OPTIONS
#include "uac/cv_uac_class_declare.h"

using test_object = cv_uac_test;

/* The change rule counts its runs and fails when `name` is "fail"; when
 * `test_on_change_recurses` is on it sets `priority` itself, so that a
 * missing guard would recurse without end. */
inline int test_on_change_runs = 0;
inline bool test_on_change_recurses = false;
inline cv_status test_on_change(cv_uac_config_object *object) {
    ++test_on_change_runs;
    auto *test = reinterpret_cast<test_object *>(object);
    if (test->name && std::string(test->name) == "fail") return CV_E_NOT_ENABLED;
    if (!test_on_change_recurses) return CV_OK;
    return cv_uac_config_set_by_name(object, "priority", "high", nullptr);
}

CV_UAC_DEFINE_CLASS(test, 0x4, cv_uac_base_class, nullptr, nullptr, .on_change = test_on_change);
inline cv_uac_class &test_class = cv_uac_test_class;

/* Reads a `test` object from the first `user` element of an XML text (or
 * of nothing, for defaults). */
struct test_conf {
    loaded_conf conf;
    xmlNode *start[2] = {nullptr, nullptr};
    explicit test_conf(const std::string &users)
        : conf("<CONF version=\"2\"><aaa><realms><realm><name>corp</name><users>" + users +
               "</users></realm></realms></aaa></CONF>") {
        static const std::int32_t path[] = {PARSE_XML_TAG_aaa,   PARSE_XML_TAG_realms,
                                            PARSE_XML_TAG_realm, PARSE_XML_TAG_users,
                                            PARSE_XML_TAG_user,  PARSE_XML_END};
        if (conf.set)
            start[0] = parse_xml_get_first_matching_node(conf.set->roots, nullptr, path, nullptr,
                                                         nullptr, nullptr);
    }
    /* A new object read from the user element (with `variables` merged). */
    test_object *load(cv_btree *variables = nullptr, std::int32_t alternates = 0) {
        const cv_uac_load_request request{conf.set, start[0] ? start : nullptr, variables, nullptr,
                                          alternates};
        cv_uac_config_object *object = nullptr;
        EXPECT_EQ(cv_uac_config_load(&test_class, &request, &object), 0u);
        return reinterpret_cast<test_object *>(object);
    }
};

/* The generic form's entry of option `name`. */
inline cv_uac_generic_entry *entry_of(cv_uac_config_object *object, const char *name) {
    cv_uac_generic_entry *form = object->header.descriptor->get_generic_form(object, nullptr);
    for (; form && form->type != CV_UAC_TYPE_END; ++form)
        if (std::string(form->name) == name) return form;
    return nullptr;
}

/* The items of a string list. */
inline std::vector<std::string> items_of(const char *list) {
    std::vector<std::string> items;
    for (const char *item = cv_uac_string_list_first(list); item;
         item = cv_uac_string_list_next(item))
        items.emplace_back(item);
    return items;
}
