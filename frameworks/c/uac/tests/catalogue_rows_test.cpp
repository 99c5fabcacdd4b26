// Tests of the option rows on their own, before a class is built from them
// (user, docroot, server and the server-side classes): the rows expand into
// a table of key, type, path, default and lookup text, and the table must
// hold the right number of options with unique keys, sections in catalogue
// order, keys that agree with their paths, string lists that name a known
// item element, and defaults that their own type accepts.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "cv_test_log_capture.h"
#include "parse_xml_test_support.h"
#include "uac/cv_uac_config.h"
#include "uac/cv_uac_types.h"
#include "uac/cv_uac_warnings.h"
#include "uac/parse_xml.h"

CV_TEST_LOG_CAPTURE();
PARSE_XML_TEST_LAYER();

namespace {

struct catalogue_row {
    const char *key;
    std::int32_t type;
    const char *type_name;
    std::int32_t path[CV_UAC_OPTION_PATH_SIZE];
    const char *default_text;
    const char *lookup;
};

#define CV_NULL nullptr
#define CV_UAC_OPTION(key, type, path, default_text, lookup) \
    catalogue_row{#key, cv_uac_type_code_##type, #type, CV_UAC_PATH path, default_text, lookup},

const catalogue_row kUserRows[] = {
#include "uac/cv_uac_user_options.def"
};

const catalogue_row kDocrootRows[] = {
#include "uac/cv_uac_docroot_options.def"
};

const catalogue_row kServerRows[] = {
#include "uac/cv_uac_server_options.def"
};

const catalogue_row kProviderRows[] = {
#include "uac/cv_uac_provider_options.def"
};

const catalogue_row kProcessRows[] = {
#include "uac/cv_uac_process_options.def"
};

const catalogue_row kRproxyRows[] = {
#include "uac/cv_uac_rproxy_options.def"
};

const catalogue_row kDatabaseRows[] = {
#include "uac/cv_uac_database_options.def"
};

const catalogue_row kCentralServerRows[] = {
#include "uac/cv_uac_central_server_options.def"
};

const catalogue_row kHttpServerRows[] = {
#include "uac/cv_uac_http_server_options.def"
};

const catalogue_row kClientRows[] = {
#include "uac/cv_uac_client_options.def"
};

#undef CV_UAC_OPTION
#undef CV_NULL

struct catalogue {
    const char *name;
    const catalogue_row *rows;
    std::size_t count;
};

const catalogue kCatalogues[] = {
    {"user", kUserRows, std::size(kUserRows)},
    {"docroot", kDocrootRows, std::size(kDocrootRows)},
    {"server", kServerRows, std::size(kServerRows)},
    {"provider", kProviderRows, std::size(kProviderRows)},
    {"process", kProcessRows, std::size(kProcessRows)},
    {"rproxy", kRproxyRows, std::size(kRproxyRows)},
    {"database", kDatabaseRows, std::size(kDatabaseRows)},
    {"central_server", kCentralServerRows, std::size(kCentralServerRows)},
    {"http_server", kHttpServerRows, std::size(kHttpServerRows)},
    {"client", kClientRows, std::size(kClientRows)},
};

const catalogue &catalogue_named(std::string_view name) {
    for (const catalogue &cat : kCatalogues)
        if (name == cat.name) return cat;
    ADD_FAILURE() << "no catalogue " << name;
    return kCatalogues[0];
}

/* The row of `key` in catalogue `name`; fails the test when there is none. */
const catalogue_row *row_named(std::string_view name, std::string_view key) {
    const catalogue &cat = catalogue_named(name);
    for (std::size_t i = 0; i < cat.count; ++i)
        if (key == cat.rows[i].key) return &cat.rows[i];
    ADD_FAILURE() << name << " has no row " << key;
    return nullptr;
}

std::vector<std::int32_t> path_of(const catalogue_row &row) {
    std::vector<std::int32_t> tags;
    for (std::int32_t tag : row.path) {
        if (tag == PARSE_XML_END) break;
        tags.push_back(tag);
    }
    return tags;
}

/* The row's path as the tag names joined by "_". */
std::string joined_path(const catalogue_row &row) {
    std::string joined;
    for (std::int32_t tag : path_of(row)) {
        if (!joined.empty()) joined += '_';
        joined += parse_xml_tag_name(tag);
    }
    return joined;
}

const catalogue_row &user_row(std::size_t ordinal) { return kUserRows[ordinal - 1]; }

TEST(CatalogueRows, EachCatalogueHasItsNumberOfOptions) {
    EXPECT_EQ(std::size(kUserRows), 172u);
    EXPECT_EQ(std::size(kDocrootRows), 10u);
    EXPECT_EQ(std::size(kServerRows), 130u);
    EXPECT_EQ(std::size(kProviderRows), 3u);
    EXPECT_EQ(std::size(kProcessRows), 4u);
    EXPECT_EQ(std::size(kRproxyRows), 7u);
    EXPECT_EQ(std::size(kDatabaseRows), 21u);
    EXPECT_EQ(std::size(kCentralServerRows), 23u);
    EXPECT_EQ(std::size(kHttpServerRows), 12u);
    EXPECT_EQ(std::size(kClientRows), 10u);
}

TEST(CatalogueRows, KeysAreUniqueWithinACatalogue) {
    for (const catalogue &cat : kCatalogues) {
        std::set<std::string_view> keys;
        for (std::size_t i = 0; i < cat.count; ++i)
            EXPECT_TRUE(keys.insert(cat.rows[i].key).second)
                << cat.name << " #" << i + 1 << " " << cat.rows[i].key;
    }
}

TEST(CatalogueRows, TypesAreKnownAndPathsAreEndedTagLists) {
    for (const catalogue &cat : kCatalogues) {
        for (std::size_t i = 0; i < cat.count; ++i) {
            const catalogue_row &row = cat.rows[i];
            const cv_uac_type_descriptor *type = cv_uac_type_descriptor_of(row.type);
            ASSERT_NE(type, nullptr) << row.key;
            EXPECT_STREQ(type->name, row.type_name) << row.key;
            EXPECT_NE(row.type, CV_UAC_TYPE_CRON) << row.key;

            const std::vector<std::int32_t> tags = path_of(row);
            ASSERT_FALSE(tags.empty()) << row.key;
            ASSERT_LT(tags.size(), CV_UAC_OPTION_PATH_SIZE) << row.key;
            // Steps to the parent come first and the path ends at an element.
            bool descended = false;
            for (std::int32_t tag : tags) {
                ASSERT_GE(tag, 0) << row.key;
                ASSERT_LT(tag, PARSE_XML_TAG_COUNT) << row.key;
                if (tag == PARSE_XML_TAG_Move_Up_to_Parent)
                    EXPECT_FALSE(descended) << row.key;
                else
                    descended = true;
            }
            EXPECT_TRUE(descended) << row.key;
        }
    }
}

/* The first key of each section of the user catalogue, by ordinal. */
struct section_start {
    std::size_t ordinal;
    const char *key;
};

TEST(CatalogueRows, UserSectionsStandAtTheirOrdinals) {
    const section_start starts[] = {
        {1, "user_value"},
        {5, "realm"},
        {8, "authorization_transfer_in_value"},
        {14, "token_encryption_type"},
        {19, "transfer_in_bandwidth_aggregate_trunk_id"},
        {39, "transfer_in_bandwidth_flow_network_rc_target_queue"},
        {40, "transfer_out_bandwidth_aggregate_trunk_id"},
        {60, "transfer_out_bandwidth_flow_network_rc_target_queue"},
        {61, "transfer_encryption_allowed_cipher"},
        {66, "transfer_encryption_content_protection_extension"},
        {67, "transfer_protocol_options_bind_ip_address"},
        {83, "transfer_protocol_options_rtt_show_dist_on_congestion"},
        {84, "transfer_log_files_activity"},
        {96, "transfer_multi_session_threshold_default"},
        {97, "transfer_protocol_options_rex_table_size"},
        {99, "transfer_protocol_options_chunk_size"},
        {100, "file_create_mode"},
        {138, "file_filters"},
        {139, "stgl_params"},
        {151, "stgl_plugin_checksum"},
        {152, "partial_file_suffix"},
        {153, "file_checksum"},
        {154, "cvsync_activity_logging"},
        {162, "cvsync_watchd"},
        {163, "use_stgl"},
        {165, "precedence"},
        {166, "additional_shell_calls"},
        {170, "logging_class"},
        {172, "range_test"},
    };
    for (const section_start &start : starts)
        EXPECT_STREQ(user_row(start.ordinal).key, start.key) << "#" << start.ordinal;
}

TEST(CatalogueRows, ServerSectionsStandAtTheirOrdinals) {
    const section_start starts[] = {
        {1, "server_name"},
        {25, "db_dir"},
        {35, "shardkv_sstore_type"},
        {52, "activity_logging"},
        {74, "key_value_parameters"},
        {84, "proxy_enabled"},
        {93, "rproxy_enabled"},
        {103, "initd_user"},
        {109, "rund_log_dir"},
        {112, "watch_log_dir"},
        {115, "watchd_max_directories"},
        {121, "watchfolderd_remote_tmpdir_conf"},
        {125, "ssl_ciphers"},
        {130, "ssl_protocol"},
    };
    for (const section_start &start : starts)
        EXPECT_STREQ(kServerRows[start.ordinal - 1].key, start.key) << "#" << start.ordinal;
}

/* Rows whose key is not their path's tags joined by "_" (after dropping a
 * leading file_system step, the authorization step before token and the
 * watch step before a watch daemon's own element), with the key they have
 * instead. */
struct key_exception {
    const char *catalogue;
    const char *key;
    const char *path;
};

TEST(CatalogueRows, KeysFollowTheirPathsExceptTheNamedOnes) {
    const key_exception exceptions[] = {
        {"user", "realm", "Move_Up_to_Parent_Move_Up_to_Parent_name"},
        {"user", "token_encryption_keyfile", "token_key_file"},
        {"user", "transfer_encryption_content_protection_extension", "transfer_encryption_extension"},
        {"user", "validation_file_start", "transfer_validation_file_start"},
        {"user", "validation_file_stop", "transfer_validation_file_stop"},
        {"user", "validation_session_start", "transfer_validation_session_start"},
        {"user", "validation_session_stop", "transfer_validation_session_stop"},
        {"user", "validation_threshold", "transfer_validation_threshold"},
        {"user", "validation_uri", "transfer_validation_uri"},
        {"user", "validation_threshold_kb", "transfer_validation_threshold_kb"},
        {"user", "validation_threads", "transfer_validation_threads"},
        {"user", "validation_lua_script_base64", "transfer_validation_lua_script_base64"},
        {"user", "validation_lua_script_path", "transfer_validation_lua_script_path"},
        {"user", "old_preserve_mac_xattr", "preserve_mac_xattr"},
        {"user", "old_preserve_mac_xattr_storage", "preserve_mac_xattr_storage"},
        {"user", "file_filters", "filters"},
        {"user", "stgl_params", "stgl"},
        {"user", "stgl_download_target_rate_policy", "stgl_download_target_rate_strategy_policy"},
        {"user", "stgl_download_target_rate", "stgl_download_target_rate_strategy_target_rate"},
        {"user", "additional_shell_calls", "cvshell_commands"},
        {"user", "time_test", "ignore_direction"},
        {"user", "bps_test", "file_checksum"},
        {"user", "bps2_test", "max_mem"},
        {"user", "range_test", "transfer_encryption_user_value"},
        {"docroot", "file_restriction", "restrictions"},
        {"server", "initd_log_dir", "initd_log_directory"},
        {"server", "rund_log_dir", "rund_log_directory"},
        {"server", "watch_log_dir", "watch_log_directory"},
        {"client", "ssh_key", "default_ssh_key"},
        {"client", "transport_cipher", "encryption_cipher"},
    };
    std::size_t exceptions_met = 0;
    for (const catalogue &cat : kCatalogues) {
        for (std::size_t i = 0; i < cat.count; ++i) {
            const catalogue_row &row = cat.rows[i];
            std::string path = joined_path(row);
            if (path.starts_with("file_system_"))
                path.erase(0, std::string_view("file_system_").size());
            else if (path.starts_with("authorization_token_"))
                path.erase(0, std::string_view("authorization_").size());
            else if (path.starts_with("watch_watchd_") || path.starts_with("watch_watchfolderd_"))
                path.erase(0, std::string_view("watch_").size());
            const key_exception *exception = nullptr;
            for (const key_exception &e : exceptions)
                if (std::string_view(e.catalogue) == cat.name && std::string_view(e.key) == row.key)
                    exception = &e;
            if (exception) {
                ++exceptions_met;
                EXPECT_EQ(path, exception->path) << cat.name << " " << row.key;
            } else {
                EXPECT_EQ(path, row.key) << cat.name << " #" << i + 1;
            }
        }
    }
    EXPECT_EQ(exceptions_met, std::size(exceptions));
}

TEST(CatalogueRows, OutgoingBandwidthRepeatsIncomingRowForRow) {
    for (std::size_t i = 0; i < 21; ++i) {
        const catalogue_row &in = user_row(19 + i);
        const catalogue_row &out = user_row(40 + i);
        std::string key = in.key;
        ASSERT_TRUE(key.starts_with("transfer_in_bandwidth_")) << key;
        key.replace(0, std::string_view("transfer_in").size(), "transfer_out");
        EXPECT_EQ(key, out.key) << "#" << 40 + i;
        EXPECT_EQ(in.type, out.type) << out.key;
        EXPECT_STREQ(in.default_text, out.default_text) << out.key;
        EXPECT_STREQ(in.lookup, out.lookup) << out.key;
        std::vector<std::int32_t> path = path_of(in);
        ASSERT_GE(path.size(), 2u);
        EXPECT_EQ(path[1], PARSE_XML_TAG_in) << in.key;
        path[1] = PARSE_XML_TAG_out;
        EXPECT_EQ(path, path_of(out)) << out.key;
    }
}

TEST(CatalogueRows, StringListsNameAnItemElementBelowTheirContainer) {
    struct list_row {
        const char *key;
        std::int32_t item;
    };
    const list_row lists[] = {
        {"file_filters", PARSE_XML_TAG_filter},
        {"stgl_params", PARSE_XML_TAG_opt},
        {"stgl_blacklist", PARSE_XML_TAG_opt},
        {"stgl_whitelist", PARSE_XML_TAG_opt},
        {"additional_shell_calls", PARSE_XML_TAG_command},
        {"file_restriction", PARSE_XML_TAG_restriction},
        {"hosts", PARSE_XML_TAG_host},
    };
    std::size_t seen = 0;
    for (const catalogue &cat : kCatalogues) {
        for (std::size_t i = 0; i < cat.count; ++i) {
            const catalogue_row &row = cat.rows[i];
            if (row.type != CV_UAC_TYPE_STRING_LIST) continue;
            ++seen;
            EXPECT_EQ(row.default_text, nullptr) << row.key;
            ASSERT_NE(row.lookup, nullptr) << row.key;
            const list_row *expected = nullptr;
            for (const list_row &list : lists)
                if (std::string_view(list.key) == row.key) expected = &list;
            ASSERT_NE(expected, nullptr) << row.key;
            EXPECT_EQ(cv_uac_string_list_item_tag(row.lookup), expected->item) << row.key;
        }
    }
    EXPECT_EQ(seen, std::size(lists));
}

/* The named values of a list: every "name:value" pair, the scale skipped. */
std::vector<std::string> pair_values(const char *lookup) {
    std::vector<std::string> values;
    std::string_view rest(lookup);
    while (!rest.empty()) {
        const std::size_t end = rest.find(';');
        const std::string_view part = rest.substr(0, end);
        const std::size_t colon = part.rfind(':');
        if (colon != std::string_view::npos) values.emplace_back(part.substr(colon + 1));
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
    }
    return values;
}

TEST(CatalogueRows, LookupListsPairNamesWithNumbers) {
    for (const catalogue &cat : kCatalogues) {
        for (std::size_t i = 0; i < cat.count; ++i) {
            const catalogue_row &row = cat.rows[i];
            if (row.type == CV_UAC_TYPE_LOOKUP) {
                ASSERT_NE(row.lookup, nullptr) << row.key;
                EXPECT_FALSE(pair_values(row.lookup).empty()) << row.key;
            }
            if (!row.lookup || row.type == CV_UAC_TYPE_STRING_LIST ||
                row.type == CV_UAC_TYPE_BPS)
                continue;
            for (const std::string &value : pair_values(row.lookup)) {
                char *end = nullptr;
                const int base = row.type == CV_UAC_TYPE_OCTAL32 ? 8 : 0;
                (void)std::strtoll(value.c_str(), &end, base);
                EXPECT_TRUE(!value.empty() && *end == '\0') << row.key << ": " << value;
            }
        }
    }
}

TEST(CatalogueRows, EveryDefaultIsAcceptedByItsType) {
    for (const catalogue &cat : kCatalogues) {
        for (std::size_t i = 0; i < cat.count; ++i) {
            const catalogue_row &row = cat.rows[i];
            if (!row.default_text) continue;
            const char *message = nullptr;
            EXPECT_EQ(cv_uac_type_check_override(row.type, row.default_text, row.lookup, &message),
                      CV_OK)
                << cat.name << " " << row.key << " \"" << row.default_text
                << "\": " << (message ? message : "");
        }
    }
}

/* A server row and the row of a server-side class that reads the same
 * setting: the two must agree on type, default and lookup text. */
struct shared_row {
    const char *server_key;
    const char *catalogue;
    const char *key;
};

TEST(CatalogueRows, SettingsReadByTwoClassesAgree) {
    const shared_row shared[] = {
        {"rproxy_rules_rule_proxy_port", "rproxy", "proxy_port"},
        {"rproxy_rules_rule_host", "rproxy", "host"},
        {"rproxy_rules_rule_squash_user", "rproxy", "squash_user"},
        {"rproxy_rules_rule_keyfile", "rproxy", "keyfile"},
        {"rproxy_rules_rule_src_port_filtering", "rproxy", "src_port_filtering"},
        {"ssl_ciphers", "client", "ssl_ciphers"},
        {"cvtp_ciphers", "client", "cvtp_ciphers"},
        {"cvtp_macs", "client", "cvtp_macs"},
        {"ssl_protocol", "client", "ssl_protocol"},
        {"initd_log_level", "server", "rund_log_level"},
        {"initd_log_level", "server", "watch_log_level"},
    };
    for (const shared_row &pair : shared) {
        const catalogue_row *a = row_named("server", pair.server_key);
        const catalogue_row *b = row_named(pair.catalogue, pair.key);
        if (!a || !b) continue;
        EXPECT_EQ(a->type, b->type) << pair.key;
        EXPECT_STREQ(a->default_text, b->default_text) << pair.key;
        EXPECT_STREQ(a->lookup, b->lookup) << pair.key;
    }
}

union parsed_value {
    std::int32_t i32;
    std::uint32_t u32;
    std::uint64_t u64;
};

/* A text read through a row's own type and lookup list, and the number it
 * must give. */
struct named_value {
    const char *catalogue;
    const char *key;
    const char *text;  // null: the row's default
    std::uint64_t expected;
};

TEST(CatalogueRows, NamedValuesReadAsTheirNumbers) {
    const named_value cases[] = {
        {"server", "db_port", nullptr, 31415},
        {"server", "db_port", "shardkv default", 36001},
        {"server", "db_port", "sharddb default", 36001},
        {"server", "db_type", nullptr, 0},
        {"server", "db_type", "sharddb", 1},
        {"server", "db_type", "ha_redis", 3},
        {"server", "ssl_protocol", nullptr, 3},
        {"server", "ssl_protocol", "tlsv1.2", 5},
        {"server", "initd_log_level", nullptr, 1},
        {"server", "shardkv_sstore_port", nullptr, 31415},
        {"server", "watchfolderd_purge_drops_max_files", nullptr, 0x7FFFFFFFFFFFFFFFull},
        {"server", "files_filelock_restriction", "write", 1},
        {"client", "transport_cipher", nullptr, 1},
        {"client", "transport_cipher", "aes-256-gcm", 9},
        {"database", "buffer_capacity", nullptr, 150000},
        {"database", "buffer_capacity", "Unlimited", 0xFFFFFFFFull},
        {"central_server", "persistent_store_max_age", "Unlimited", 0xFFFFFFFFull},
        {"central_server", "db_journal", "memory", 4},
        {"central_server", "event_buffer_overrun", nullptr, 1},
    };
    for (const named_value &c : cases) {
        const catalogue_row *row = row_named(c.catalogue, c.key);
        if (!row) continue;
        const char *text = c.text ? c.text : row->default_text;
        ASSERT_NE(text, nullptr) << c.key;
        parsed_value value{};
        value.u64 = 0;
        cv_uac_warning *warnings = nullptr;
        EXPECT_EQ(cv_uac_type_parse_text(row->type, text, row->lookup, &value, &warnings), CV_OK)
            << c.key << " \"" << text << "\"";
        cv_uac_free_warnings(&warnings);
        std::uint64_t got = 0;
        switch (row->type) {
        case CV_UAC_TYPE_UINT64: got = value.u64; break;
        case CV_UAC_TYPE_UINT32: got = value.u32; break;
        default: got = static_cast<std::uint64_t>(value.i32); break;
        }
        EXPECT_EQ(got, c.expected) << c.key << " \"" << text << "\"";
    }
}

}  // namespace
