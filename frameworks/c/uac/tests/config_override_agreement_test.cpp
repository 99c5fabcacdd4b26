// Tests that the three ways of taking an override agree for every value
// type: the checker by name, the converter to XML by name, and set_by_name
// accept the same texts and give the same value, and the converted XML read
// back from a configuration gives that value too.  Also: "CV_NULL" restores
// each type's default, and long values survive serialization and
// duplication unchanged.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "config_test_support.h"

namespace {

// ---- the class `every`: one option of each type, and a few lists --------

#define EVERY_CLASS_OPTIONS(X)                                                               \
    X(o_lookup, lookup, (address), "fair", "any:0;high:3;fair:4;all:0xFFFFFFFF")             \
    X(o_boolean, boolean, (compression), "true", CV_NULL)                                    \
    X(o_words, boolean, (url), "off", "off:on")                                              \
    X(o_int64, int64_t, (life_seconds), "7", "1000;Unlimited:0xFFFFFFFFFFFFF")               \
    X(o_uint64, u_int64_t, (buffer_capacity), "8", CV_NULL)                                  \
    X(o_int32, int32_t, (node_id), "9", "1;Unlimited:0xFFFFFFFF")                            \
    X(o_uint32, u_int32_t, (cluster_id), "10", "1;Unlimited:0xFFFFFFFF")                     \
    X(o_octal, octal_32, (filename_hash), "644", CV_NULL)                                    \
    X(o_double, double, (encryption_key), "0.5", CV_NULL)                                    \
    X(o_time, time, (absolute), "1m", "0;forever:infinite")                                  \
    X(o_bps, bps, (adapter), "1M", CV_NULL)                                                  \
    X(o_char, char_ptr, (soap_action), "dflt", CV_NULL)                                      \
    X(o_trimmed, trimmed_char_ptr, (cert_file), "dflt", CV_NULL)                             \
    X(o_blankable, blankable_char_ptr, (encryption_type), "dflt", CV_NULL)                   \
    X(o_cron, cron, (capacity), "50000", CV_NULL)                                            \
    X(o_list, string_list, (bind_address), CV_NULL, CV_NULL)                                 \
    X(o_range, range, (ssh_host_key_path), "1:2", CV_NULL)

#define CV_UAC_CLASS every
#define CV_UAC_CLASS_ROW_LIST EVERY_CLASS_OPTIONS
#include "uac/cv_uac_class_declare.h"

using every_object = cv_uac_every;
CV_UAC_DEFINE_CLASS(every, 0, cv_uac_base_class, nullptr, nullptr);
cv_uac_class &every_class = cv_uac_every_class;

/* The tag name of option `name`'s element. */
std::string tag_of(const std::string &name) {
    for (const cv_uac_option &row : cv_uac_every_catalogue)
        if (name == row.key) return parse_xml_tag_name(row.path[0]);
    ADD_FAILURE() << "no option " << name;
    return "none";
}

/* An `every` object read from the XML inside a `user` element. */
struct every_read {
    loaded_conf conf;
    held<every_object> object;
    explicit every_read(const std::string &inside)
        : conf("<CONF version=\"2\"><user>" + inside + "</user></CONF>") {
        static const std::int32_t path[] = {PARSE_XML_TAG_user, PARSE_XML_END};
        if (!conf.set) return;
        xmlNode *start[2] = {parse_xml_get_first_matching_node(conf.set->roots, nullptr, path,
                                                               nullptr, nullptr, nullptr),
                             nullptr};
        const cv_uac_load_request request{conf.set, start[0] ? start : nullptr, nullptr, nullptr,
                                          0};
        cv_uac_config_object *made = nullptr;
        EXPECT_EQ(cv_uac_config_load(&every_class, &request, &made), 0u);
        object.object = reinterpret_cast<every_object *>(made);
    }
    cv_uac_config_object *base() const { return object.base(); }
};

/* The value of option `name` as its type writes it, whatever its length. */
std::string value_text(cv_uac_config_object *object, const char *name) {
    const cv_uac_generic_entry *entry = entry_of(object, name);
    if (!entry) return "<no option>";
    char *text = nullptr;
    if (cv_uac_type_write_alloc(entry->type, entry->value, entry->lookup, &text) != 0)
        return "<unwritable>";
    std::string copy = text;
    cv_uac_free(text);
    return copy;
}

const char *const kDefaults[][2] = {
    {"o_lookup", "fair"},
    {"o_boolean", "true"},
    {"o_words", "off"},
    {"o_int64", "7"},
    {"o_uint64", "8"},
    {"o_int32", "9"},
    {"o_uint32", "10"},
    {"o_octal", "644"},
    {"o_double", "0.5"},
    {"o_time", "1m"},
    {"o_bps", "1M"},
    {"o_char", "dflt"},
    {"o_trimmed", "dflt"},
    {"o_blankable", "dflt"},
    {"o_cron", "<schedule format=\"ranges\">50000</schedule>"},
    {"o_list", "CV_NULL"},
    {"o_range", "1:2"},
};

std::string default_of(const std::string &name) {
    for (const auto &row : kDefaults)
        if (name == row[0]) return row[1];
    return "<no default>";
}

std::string ranges(const std::string &text) {
    return "<schedule format=\"ranges\">" + text + "</schedule>";
}

std::string repeated(const std::string &part, int count, const char *separator = ";") {
    std::string text = part;
    for (int i = 1; i < count; ++i) text += separator + part;
    return text;
}

struct agreement_case {
    const char *option;
    std::string text;
    std::optional<std::string> expected;  // the value written back; none when all refuse
};

constexpr std::nullopt_t kRefused = std::nullopt;

std::vector<agreement_case> agreement_cases() {
    const std::string zeros(200, '0');
    const std::string huge(300, '9');
    return {
        {"o_lookup", "High", "high"},
        {"o_lookup", " high ", "high"},
        {"o_lookup", "7", "7"},
        {"o_lookup", "-5", "-5"},
        {"o_lookup", "5;", "5"},
        {"o_lookup", "0xFFFFFFFF", "all"},
        {"o_lookup", "ALL", "all"},
        {"o_lookup", zeros + "3", "high"},
        {"o_lookup", " CV_NULL ", "fair"},
        {"o_lookup", "4294967296", kRefused},
        {"o_lookup", "fast", kRefused},
        {"o_lookup", "", kRefused},
        {"o_lookup", "   ", kRefused},
        {"o_lookup", huge, kRefused},

        {"o_boolean", "Yes", "true"},
        {"o_boolean", "no", "false"},
        {"o_boolean", "  T", "true"},
        {"o_boolean", "0", "false"},
        {"o_boolean", "maybe", kRefused},
        {"o_boolean", "", kRefused},
        {"o_boolean", " CV_NULL", kRefused},
        {"o_words", "OFF", "off"},
        {"o_words", "on", "on"},
        {"o_words", "yes", "on"},
        {"o_words", "On", kRefused},

        {"o_int64", "5", "5"},
        {"o_int64", "Unlimited", "Unlimited"},
        {"o_int64", "-3", "-3"},
        {"o_int64", "0x10", "16"},
        {"o_int64", zeros + "1", "1"},
        {"o_int64", "9223372036854775807", kRefused},
        {"o_int64", "5x", kRefused},
        {"o_int64", "5 K", kRefused},
        {"o_int64", huge, kRefused},
        {"o_uint64", "9223372036854775807", "9223372036854775807"},
        {"o_uint64", "%101", "5"},
        {"o_uint64", "-1", kRefused},
        {"o_uint64", "18446744073709551615", "18446744073709551615"},
        {"o_uint64", "0xFFFFFFFFFFFFFFFF", "18446744073709551615"},
        {"o_uint64", "18446744073709551616", kRefused},
        {"o_uint64", "-18446744073709551615", kRefused},
        {"o_uint64", "18446744073709551615x", kRefused},
        {"o_int32", "2147483647", "2147483647"},
        {"o_int32", "-2147483648", "-2147483648"},
        {"o_int32", " 12 ; ", "12"},
        {"o_int32", "2147483648", kRefused},
        {"o_int32", "Unlimited", kRefused},
        {"o_uint32", "unlimited", "Unlimited"},
        {"o_uint32", "4294967295", "Unlimited"},
        {"o_uint32", "4294967296", kRefused},
        {"o_uint32", "-1", kRefused},
        {"o_octal", "755", "755"},
        {"o_octal", "7", "007"},
        {"o_octal", "37777777777", "37777777777"},
        {"o_octal", zeros + "755", "755"},
        {"o_octal", "8", kRefused},
        {"o_octal", "", kRefused},
        {"o_octal", "0x10", kRefused},
        {"o_octal", "40000000000", kRefused},

        {"o_double", "1.5", "1.5"},
        {"o_double", " 2. ", "2"},
        {"o_double", "-1", "-1"},
        {"o_double", "1e3", "1000"},
        {"o_double", "0.1234567891", "0.1234567891"},
        {"o_double", zeros + "2.25", "2.25"},
        {"o_double", "abc", kRefused},
        {"o_double", "1.2.3", kRefused},
        {"o_double", ".", kRefused},
        {"o_double", "", kRefused},
        {"o_double", "1e999", kRefused},
        {"o_double", "nan", kRefused},

        {"o_time", "01:00:00", "1h"},
        {"o_time", "90", "1m 30s"},
        {"o_time", "2h 30m", "2h 30m"},
        {"o_time", "infinite", "infinite"},
        {"o_time", "Forever", "infinite"},
        {"o_time", zeros + "5s", "5s"},
        {"o_time", "5" + std::string(200, ' ') + "m", "5m"},
        {"o_time", "1:30", kRefused},
        {"o_time", "5s 6s", kRefused},
        {"o_time", "5x", kRefused},
        {"o_time", "", kRefused},
        {"o_bps", "100K", "100K"},
        {"o_bps", "1G 500M", "1G 500M"},
        {"o_bps", "0", "0B"},
        {"o_bps", "infinite", "18446744T 73G 709M 551K 615B"},
        {"o_bps", zeros + "1K", "1K"},
        {"o_bps", "1" + std::string(200, ' ') + "G", "1G"},
        {"o_bps", "10 Q", kRefused},
        {"o_bps", "", kRefused},
        {"o_bps", huge, kRefused},

        {"o_char", "hello", "hello"},
        {"o_char", "<b>&", "&lt;b>&amp;"},
        {"o_char", "  spaced  ", "  spaced  "},
        {"o_char", " CV_NULL", " CV_NULL"},
        {"o_char", "", "dflt"},
        {"o_char", std::string(9000, 'x'), kRefused},
        {"o_char", "a\x01b", kRefused},  // no XML document can hold it
        {"o_trimmed", "  spaced  ", "spaced"},
        {"o_trimmed", " CV_NULL ", "dflt"},
        {"o_trimmed", "", "dflt"},
        {"o_blankable", "x", "x"},
        {"o_blankable", "", ""},

        {"o_cron", "1000", ranges("1000")},
        {"o_cron", "100M", ranges("100M")},
        {"o_cron", "start=8 end=17 days=mon-fri capacity=100M;capacity=10M",
         ranges("start=8 end=17 days=mon-fri capacity=100M;capacity=10M")},
        {"o_cron", "days=Mon start=1 end=2 capacity=1",
         ranges("days=Mon start=1 end=2 capacity=1")},
        {"o_cron", ranges("capacity=1G"), ranges("capacity=1G")},
        {"o_cron", " " + ranges("1;2"), ranges("1;2")},
        {"o_cron", "0", kRefused},
        {"o_cron", "", kRefused},
        {"o_cron", " CV_NULL", kRefused},
        {"o_cron", "100Q", kRefused},
        {"o_cron", "1000;", kRefused},
        {"o_cron", "capacity=10M start=8", kRefused},
        {"o_cron", "start=25 end=2 days=mon capacity=1", kRefused},
        {"o_cron", "start=1 end=2 days=mon-wed-fri capacity=1", kRefused},
        {"o_cron", "capacity=" + zeros + "1", kRefused},
        {"o_cron",
         "<schedule format=\"cron\"><change_points><change_point><epoch>5</epoch>"
         "<value>1</value></change_point></change_points></schedule>",
         kRefused},
        {"o_cron", "<value>5</value>", kRefused},
        {"o_cron", repeated("1", 257), kRefused},

        {"o_list", ",a,b", "<item>a</item><item>b</item>"},
        {"o_list", ";x", "<item>x</item>"},
        {"o_list", ",a&b,<c>", "<item>a&amp;b</item><item>&lt;c></item>"},
        {"o_list", "<item>a</item> <item>b</item>", "<item>a</item><item>b</item>"},
        {"o_list", "<item/>", "<item></item>"},
        {"o_list", "", "CV_NULL"},
        {"o_list", "<item>a</item><item>b", kRefused},
        {"o_list", "<item a=\"1\">x</item>", kRefused},
        {"o_list", "<other>x</other>", kRefused},
        {"o_list", "<item>a&b</item>", kRefused},
        {"o_list", "<item>a&amp;b</item>", "<item>a&amp;b</item>"},

        {"o_range", "5", "5"},
        {"o_range", "1:9", "1:9"},
        {"o_range", "3:", "3:"},
        {"o_range", ":7", ":7"},
        {"o_range", " 3 : 5 ", "3:5"},
        {"o_range", ":", "-9223372036854775808:"},
        {"o_range", "-9223372036854775808", "-9223372036854775808"},
        {"o_range", zeros + "4", "4"},
        {"o_range", "x:3", kRefused},
        {"o_range", "3:x", kRefused},
        {"o_range", "", kRefused},
    };
}

TEST(config_override_agreement, checker_converter_and_set_by_name_agree_for_every_type) {
    for (const agreement_case &c : agreement_cases()) {
        SCOPED_TRACE(std::string(c.option) + " \"" + c.text.substr(0, 80) + "\"");
        every_read fresh("");
        ASSERT_NE(fresh.object.object, nullptr);
        cv_uac_class *cls = fresh.base()->header.descriptor;
        const char *text = c.text.c_str();

        const char *message = nullptr;
        const cv_status checked = cls->check_override_by_name(fresh.base(), c.option, text, &message);
        char xml[CV_UAC_VALUE_TEXT_SIZE];
        const cv_status converted =
            cls->override_to_xml_by_name(fresh.base(), c.option, text, xml, sizeof xml);
        cv_uac_warning *warnings = nullptr;
        const cv_status set = cv_uac_config_set_by_name(fresh.base(), c.option, text, &warnings);
        cv_uac_free_warnings(&warnings);
        const std::string after_set = value_text(fresh.base(), c.option);

        if (c.expected) {
            EXPECT_EQ(checked, 0u) << (message ? message : "");
            EXPECT_EQ(set, 0u);
            EXPECT_EQ(after_set, *c.expected);
            ASSERT_EQ(converted, 0u);
            const std::string tag = tag_of(c.option);
            every_read back("<" + tag + ">" + xml + "</" + tag + ">");
            ASSERT_NE(back.object.object, nullptr);
            EXPECT_EQ(value_text(back.base(), c.option), *c.expected) << xml;
            EXPECT_EQ(back.base()->warnings, nullptr) << back.base()->warnings->text;
        } else {
            EXPECT_NE(checked, 0u);
            EXPECT_NE(message, nullptr);
            EXPECT_NE(set, 0u);
            EXPECT_EQ(after_set, default_of(c.option));
            if (converted != 0) continue;  // no XML: nothing a file could hold
            const std::string tag = tag_of(c.option);
            every_read back("<" + tag + ">" + xml + "</" + tag + ">");
            if (!back.conf.set) continue;  // XML that breaks the file holding it
            ASSERT_NE(back.object.object, nullptr);
            EXPECT_EQ(value_text(back.base(), c.option), default_of(c.option)) << xml;
            EXPECT_NE(back.base()->warnings, nullptr) << xml;
        }
    }
}

/* The outcome of one override text for one option, by all three paths. */
struct outcome {
    bool checked, set, converted;
    std::string after_set;  // the value after set_by_name
    bool read_back = false; // the converted XML made a configuration
    std::string back;       // the value read back from it
    bool back_warned = false;
};

outcome outcome_of(const char *option, const std::string &text) {
    every_read fresh("");
    cv_uac_class *cls = fresh.base()->header.descriptor;
    outcome o{};
    o.checked = cls->check_override_by_name(fresh.base(), option, text.c_str(), nullptr) == 0;
    char xml[CV_UAC_VALUE_TEXT_SIZE];
    o.converted =
        cls->override_to_xml_by_name(fresh.base(), option, text.c_str(), xml, sizeof xml) == 0;
    o.set = cv_uac_config_set_by_name(fresh.base(), option, text.c_str(), nullptr) == 0;
    o.after_set = value_text(fresh.base(), option);
    if (!o.converted) return o;
    const std::string tag = tag_of(option);
    every_read back("<" + tag + ">" + xml + "</" + tag + ">");
    if (!back.conf.set || !back.object.object) return o;
    o.read_back = true;
    o.back = value_text(back.base(), option);
    o.back_warned = back.base()->warnings != nullptr;
    return o;
}

TEST(config_override_agreement, texts_made_of_the_syntaxes_pieces_agree_too) {
    // Texts put together at random (with a fixed seed) from the pieces of
    // every type's syntax: whatever a text is, the three paths agree.
    const char *const pieces[] = {
        "0", "1", "7", "12", "24", "25", "00", "0x", " ", "\t", ":", ";", ",", "-", "=", ".",
        "x", "e", "+", "%", "<", ">", "&", "K", "M", "G", "T", "B", "m", "s", "ms", "d ", "h",
        "w", "y", "n", "on", "off", "start=", "end=", "days=", "capacity=", "mon", "Sat",
        "infinite", "forever", "CV_NULL", "Unlimited", "high", "all", "<item>", "</item>",
        "<item/>", "<schedule format=\"ranges\">", "</schedule>"};
    std::uint64_t state = 987654321;
    auto next = [&state] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::size_t>(state >> 33);
    };
    int accepted = 0;
    for (int i = 0; i < 3000; ++i) {
        const cv_uac_option &row = cv_uac_every_catalogue[next() % cv_uac_every_option_count];
        std::string text;
        for (std::size_t k = next() % 10 + 1; k > 0; --k) text += pieces[next() % std::size(pieces)];
        if (text == "CV_NULL") continue;
        SCOPED_TRACE(std::string(row.key) + " \"" + text + "\"");
        const outcome o = outcome_of(row.key, text);
        ASSERT_EQ(o.checked, o.set);
        if (o.set) {
            ++accepted;
            ASSERT_TRUE(o.converted);
            ASSERT_TRUE(o.read_back);
            ASSERT_EQ(o.back, o.after_set);
            ASSERT_FALSE(o.back_warned);
        } else {
            ASSERT_EQ(o.after_set, default_of(row.key));
            if (o.read_back) {
                ASSERT_EQ(o.back, default_of(row.key));
                ASSERT_TRUE(o.back_warned);
            }
        }
    }
    // Both outcomes are well represented, so the agreement means something.
    EXPECT_GT(accepted, 300);
    EXPECT_LT(accepted, 2700);
}

TEST(config_override_agreement, the_null_marker_restores_each_types_default) {
    const char *const changes[][2] = {
        {"o_lookup", "high"},       {"o_boolean", "no"},     {"o_words", "on"},
        {"o_int64", "5"},           {"o_uint64", "5"},       {"o_int32", "5"},
        {"o_uint32", "5"},          {"o_octal", "755"},      {"o_double", "2.5"},
        {"o_time", "1h"},           {"o_bps", "5K"},         {"o_char", "other"},
        {"o_trimmed", "other"},     {"o_blankable", "other"}, {"o_cron", "1000"},
        {"o_list", ",a"},           {"o_range", "5:6"},
    };
    every_read fresh("");
    ASSERT_NE(fresh.object.object, nullptr);
    for (const auto &change : changes) {
        SCOPED_TRACE(change[0]);
        ASSERT_EQ(cv_uac_config_set_by_name(fresh.base(), change[0], change[1], nullptr), 0u);
        ASSERT_NE(value_text(fresh.base(), change[0]), default_of(change[0]));
        EXPECT_EQ(cv_uac_config_set_by_name(fresh.base(), change[0], "CV_NULL", nullptr), 0u);
        EXPECT_EQ(value_text(fresh.base(), change[0]), default_of(change[0]));
        EXPECT_EQ(entry_of(fresh.base(), change[0])->is_set, 1);
        // Overriding the restored default again frees nothing it shares.
        EXPECT_EQ(cv_uac_config_set_by_name(fresh.base(), change[0], change[1], nullptr), 0u);
    }
}

/* Owns a text the framework allocated. */
struct owned_text {
    char *text = nullptr;
    ~owned_text() { cv_uac_free(text); }
};

std::string serialized(cv_uac_config_object *object) {
    owned_text xml;
    EXPECT_EQ(object->header.descriptor->serialize(object, "", "", 0, nullptr, nullptr, &xml.text),
              0u);
    return xml.text ? xml.text : "<null>";
}

TEST(config_override_agreement, long_values_survive_serialization_and_duplication) {
    // Each value writes far beyond 8192 bytes, or is read from a text that
    // long; a number text of 200 bytes reads as the number it spells.
    const std::string schedule =
        repeated("start=0 end=12 days=sun,mon,tue capacity=9999K", 199) +
        ";start=12 end=24 days=wed capacity=7G";
    const std::string items = "<item>" + repeated(std::string(100, 'i'), 120, "</item><item>") +
                              "</item><item>" + std::string(9000, 'j') + "</item>";
    const std::string text(12000, 't');
    every_read first("<capacity><schedule format=\"ranges\">" + schedule +
                     "</schedule></capacity><bind_address>" + items +
                     "</bind_address><soap_action>" + text + "</soap_action><life_seconds>" +
                     std::string(200, '0') + "1</life_seconds><ssh_host_key_path>" +
                     "-9223372036854775808</ssh_host_key_path>");
    ASSERT_NE(first.object.object, nullptr);
    EXPECT_EQ(first.base()->warnings, nullptr);
    EXPECT_EQ(first.object->o_cron->count, 200);
    EXPECT_STREQ(first.object->o_cron->points[199].value, "7G");
    EXPECT_EQ(first.object->o_int64, 1000);
    EXPECT_EQ(first.object->o_range.low, INT64_MIN);
    EXPECT_EQ(first.object->o_range.high, INT64_MIN);

    const std::string once = serialized(first.base());
    EXPECT_NE(once.find("<capacity>" + ranges(schedule) + "</capacity>"), std::string::npos);
    EXPECT_NE(once.find("<bind_address>" + items + "</bind_address>"), std::string::npos);
    EXPECT_NE(once.find("<soap_action>" + text + "</soap_action>"), std::string::npos);
    EXPECT_NE(once.find("<ssh_host_key_path>-9223372036854775808</ssh_host_key_path>"),
              std::string::npos);

    every_read second(once);
    ASSERT_NE(second.object.object, nullptr);
    EXPECT_EQ(second.base()->warnings, nullptr);
    EXPECT_EQ(serialized(second.base()), once);

    cv_uac_config_object *made = nullptr;
    ASSERT_EQ(first.base()->header.descriptor->duplicate(first.base(), &made), 0u);
    held<every_object> copy(reinterpret_cast<every_object *>(made));
    ASSERT_NE(copy.object, nullptr);
    EXPECT_EQ(serialized(copy.base()), once);
    EXPECT_EQ(copy->o_cron->count, 200);
    EXPECT_EQ(copy->o_range.low, INT64_MIN);
    EXPECT_EQ(copy->o_range.high, INT64_MIN);
}

TEST(config_override_agreement, a_conditional_override_compares_a_long_current_value_whole) {
    const std::string text(9000, 'c');
    every_read read("<soap_action>" + text + "</soap_action>");
    ASSERT_NE(read.object.object, nullptr);
    // The condition names the whole current value: it holds.
    EXPECT_EQ(cv_uac_config_set_by_name(read.base(), "o_char", ("?" + text + ":short").c_str(),
                                        nullptr),
              0u);
    EXPECT_STREQ(read.object->o_char, "short");
    EXPECT_EQ(cv_uac_config_set_by_name(read.base(), "o_char",
                                        ("?" + text.substr(1) + ":other").c_str(), nullptr),
              0u);
    EXPECT_STREQ(read.object->o_char, "short");
}

}  // namespace
