// The catalogues checked against a second transcription: the fixtures in
// data/catalogues/ hold each class's options (ordinal, key, type, path,
// default, lookup), written by hand apart from the code.  Each class is read
// back through what the framework itself uses (an object's generic form,
// the per-option path and override tables of its descriptor, the defaults
// object) and compared row by row, every difference reported with the
// option's ordinal and key.
//
// Fixture columns: the path joins element names with "/", ".." standing for
// a step to the parent; "-" is "none" in the default and lookup columns and
// "" the empty text; a string list's lookup is its item element, its path
// the container.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "config_test_support.h"
#include "uac/cv_uac_class_registry.h"
#include "uac/cv_uac_classes.h"

namespace {

constexpr const char *kNone = "-";
constexpr const char *kEmpty = "\"\"";
constexpr const char *kHeader = "ordinal\tkey\ttype\tpath\tdefault\tlookup";

struct fixture_row {
    int line = 0;
    int ordinal = 0;
    std::string key, type, path, default_text, lookup;
};

std::vector<std::string> split(const std::string &text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) parts.push_back(part);
    if (!text.empty() && text.back() == separator) parts.emplace_back();
    return parts;
}

/* The rows of fixture `name`; a malformed line fails the test. */
std::vector<fixture_row> read_fixture(const std::string &name) {
    std::ifstream in(std::string(CV_TEST_DATA_DIR) + "/catalogues/" + name);
    EXPECT_TRUE(in) << name << " cannot be opened";
    std::vector<fixture_row> rows;
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, kHeader) << name << ": first line";
    for (int line = 2; std::getline(in, text); ++line) {
        const std::vector<std::string> columns = split(text, '\t');
        if (columns.size() != 6) {
            ADD_FAILURE() << name << ":" << line << ": " << columns.size() << " columns";
            continue;
        }
        fixture_row row;
        row.line = line;
        row.ordinal = std::atoi(columns[0].c_str());
        row.key = columns[1];
        row.type = columns[2];
        row.path = columns[3];
        row.default_text = columns[4];
        row.lookup = columns[5];
        rows.push_back(row);
    }
    return rows;
}

/* Type codes by the names the catalogues use. */
struct type_name {
    const char *name;
    std::int32_t code;
};
constexpr type_name kTypeNames[] = {
    {"lookup", 0},    {"boolean", 1},   {"int64_t", 2},
    {"u_int64_t", 3}, {"int32_t", 4},   {"u_int32_t", 5},
    {"octal_32", 6},  {"double", 7},    {"time", 8},
    {"bps", 9},       {"char_ptr", 10}, {"trimmed_char_ptr", 11},
    {"blankable_char_ptr", 12},         {"cron", 13},
    {"string_list", 14},                {"range", 15},
};

std::int32_t code_of(const std::string &name) {
    for (const type_name &t : kTypeNames)
        if (name == t.name) return t.code;
    return -100;
}

std::string name_of(std::int32_t code) {
    for (const type_name &t : kTypeNames)
        if (code == t.code) return t.name;
    return "code " + std::to_string(code);
}

/* An option path in the fixture's notation; "(unended)" when it runs past
 * the path's room without PARSE_XML_END. */
std::string path_text(const std::int32_t *path) {
    if (!path) return "(none)";
    std::string text;
    for (std::size_t i = 0; i < CV_UAC_OPTION_PATH_SIZE; ++i) {
        if (path[i] == PARSE_XML_END) return text;
        if (!text.empty()) text += "/";
        if (path[i] == PARSE_XML_TAG_Move_Up_to_Parent) {
            text += "..";
        } else {
            const char *name = parse_xml_tag_name(path[i]);
            text += name ? name : "(tag " + std::to_string(path[i]) + ")";
        }
    }
    return text + "(unended)";
}

/* A default or lookup text in the fixture's notation. */
std::string fixture_text(const char *text) {
    if (!text || std::strcmp(text, CV_UAC_NULL) == 0) return kNone;
    if (!*text) return kEmpty;
    return text;
}

std::string quoted_or_null(const std::string &lookup) {
    return lookup == kNone ? CV_UAC_NULL : "\"" + lookup + "\"";
}

/* Reports a difference of one column. */
void differs(const fixture_row &row, const char *column, const std::string &code,
             const std::string &fixture) {
    if (code != fixture)
        ADD_FAILURE() << "option " << row.ordinal << " " << row.key << ": " << column
                      << " is '" << code << "', the fixture says '" << fixture << "'";
}

/* A new object of `cls` with nothing read: its generic form shows the
 * catalogue. */
held<cv_uac_config_object> fresh_object(cv_uac_class *cls) {
    cv_uac_config_object *object = nullptr;
    EXPECT_EQ(cv_uac_config_load(cls, nullptr, &object), 0u);
    return held<cv_uac_config_object>(object);
}

void compare_with_fixture(cv_uac_class *cls, const std::string &fixture) {
    const std::vector<fixture_row> rows = read_fixture(fixture);
    held<cv_uac_config_object> object = fresh_object(cls);
    ASSERT_NE(object.object, nullptr);
    std::size_t count = 0;
    const cv_uac_generic_entry *form = cls->get_generic_form(object.object, &count);
    ASSERT_NE(form, nullptr);

    EXPECT_EQ(count, rows.size()) << "options of class " << cls->name;
    EXPECT_EQ(form[count].type, CV_UAC_TYPE_END) << "the form's last entry";
    const std::size_t common = count < rows.size() ? count : rows.size();
    for (std::size_t i = 0; i < common; ++i) {
        const fixture_row &row = rows[i];
        const cv_uac_generic_entry &entry = form[i];
        differs(row, "ordinal", std::to_string(entry.number), std::to_string(row.ordinal));
        differs(row, "key", entry.name ? entry.name : "(none)", row.key);
        differs(row, "type", name_of(entry.type), row.type);
        differs(row, "path", path_text(cls->xml_path_by_name(object.object, row.key.c_str())),
                row.path);
        differs(row, "default", fixture_text(cls->catalogue[i].default_text), row.default_text);
        differs(row, "lookup", fixture_text(entry.lookup), row.lookup);
        differs(row, "displayed lookup", entry.lookup_display ? entry.lookup_display : "(none)",
                quoted_or_null(row.lookup));

        // Both per-option tables of the descriptor are in catalogue order.
        const cv_uac_path_row &path_row = cls->path_table[i];
        differs(row, "path table key", path_row.name ? path_row.name : "(none)", row.key);
        differs(row, "path table path", path_text(path_row.path), row.path);
        const cv_uac_override_row &override_row = cls->override_table[i];
        differs(row, "override table key", override_row.name ? override_row.name : "(none)",
                row.key);
        differs(row, "override table parameter", fixture_text(override_row.parameter),
                row.lookup);
    }
    for (std::size_t i = common; i < rows.size(); ++i)
        ADD_FAILURE() << "option " << rows[i].ordinal << " " << rows[i].key
                      << " is not in class " << cls->name;
    for (std::size_t i = common; i < count; ++i)
        ADD_FAILURE() << "option " << form[i].number << " " << form[i].name
                      << " of class " << cls->name << " is not in the fixture";
    EXPECT_EQ(cls->path_table[count].name, nullptr) << "the path table ends after the options";
    EXPECT_EQ(cls->override_table[count].name, nullptr)
        << "the override table ends after the options";
}

// ---- the defaults object -------------------------------------------------

union any_value {
    std::int32_t i32;
    std::int64_t i64;
    double real;
    cv_uac_time time;
    cv_uac_range range;
    char *text;
    cv_uac_cron *cron;
};

std::string describe_list(const char *list) {
    if (!list) return "(null)";
    std::string text = "[";
    for (const std::string &item : items_of(list)) text += "'" + item + "' ";
    return text + "]";
}

std::string describe_cron(const cv_uac_cron *cron) {
    if (!cron) return "(null)";
    std::string text = cron->ranges_text ? std::string("ranges '") + cron->ranges_text + "'" : "";
    for (std::int32_t i = 0; i < cron->count; ++i)
        text += std::string(" {'") + cron->points[i].when + "' '" + cron->points[i].value + "'}";
    return text;
}

/* The two values of type `code` as texts, for comparison and message. */
std::pair<std::string, std::string> describe(std::int32_t code, const void *a, const void *b) {
    // Fields of 32 bits need not be aligned for the union: copy them out.
    const cv_uac_type_descriptor *type = cv_uac_type_descriptor_of(code);
    any_value copies[2] = {};
    if (type) {
        std::memcpy(&copies[0], a, type->value_size);
        std::memcpy(&copies[1], b, type->value_size);
    }
    const any_value *x = &copies[0];
    const any_value *y = &copies[1];
    auto text = [](const char *s) { return s ? "'" + std::string(s) + "'" : "(null)"; };
    switch (code) {
        case CV_UAC_TYPE_CHAR_PTR:
        case CV_UAC_TYPE_TRIMMED_CHAR_PTR:
        case CV_UAC_TYPE_BLANKABLE_CHAR_PTR:
            return {text(x->text), text(y->text)};
        case CV_UAC_TYPE_STRING_LIST:
            return {describe_list(x->text), describe_list(y->text)};
        case CV_UAC_TYPE_CRON:
            return {describe_cron(x->cron), describe_cron(y->cron)};
        case CV_UAC_TYPE_DOUBLE:
            return {std::to_string(x->real), std::to_string(y->real)};
        case CV_UAC_TYPE_TIME:
            return {std::to_string(x->time.seconds) + "s " + std::to_string(x->time.microseconds),
                    std::to_string(y->time.seconds) + "s " + std::to_string(y->time.microseconds)};
        case CV_UAC_TYPE_RANGE:
            return {std::to_string(x->range.low) + ".." + std::to_string(x->range.high),
                    std::to_string(y->range.low) + ".." + std::to_string(y->range.high)};
        case CV_UAC_TYPE_INT64:
        case CV_UAC_TYPE_UINT64:
        case CV_UAC_TYPE_BPS:
            return {std::to_string(x->i64), std::to_string(y->i64)};
        default:
            return {std::to_string(x->i32), std::to_string(y->i32)};
    }
}

bool is_string_type(std::int32_t code) {
    return code == CV_UAC_TYPE_CHAR_PTR || code == CV_UAC_TYPE_TRIMMED_CHAR_PTR ||
           code == CV_UAC_TYPE_BLANKABLE_CHAR_PTR;
}

/* Each option's value in the defaults object against its fixture default
 * parsed by its type with its fixture lookup: "-" is the unset value (null,
 * 0 or false), "" the empty string or list. */
void compare_defaults(cv_uac_class *cls, const std::string &fixture) {
    const std::vector<fixture_row> rows = read_fixture(fixture);
    cv_uac_config_object *defaults = cv_uac_class_defaults(cls);
    ASSERT_NE(defaults, nullptr);
    std::size_t count = 0;
    const cv_uac_generic_entry *form = cls->get_generic_form(defaults, &count);
    ASSERT_NE(form, nullptr);
    ASSERT_EQ(count, rows.size()) << "options of class " << cls->name;
    for (std::size_t i = 0; i < count; ++i) {
        const fixture_row &row = rows[i];
        const std::int32_t code = code_of(row.type);
        any_value expected{};
        std::memset(&expected, 0, sizeof expected);
        static char empty[] = "";
        static char empty_list[] = {CV_UAC_STRING_LIST_END, '\0'};
        if (row.default_text == kEmpty && is_string_type(code)) {
            expected.text = empty;
        } else if (row.default_text == kEmpty && code == CV_UAC_TYPE_STRING_LIST) {
            expected.text = empty_list;
        } else if (row.default_text != kNone) {
            cv_uac_warning *warnings = nullptr;
            const char *lookup = row.lookup == kNone ? nullptr : row.lookup.c_str();
            const cv_status status = cv_uac_type_parse_text(code, row.default_text.c_str(),
                                                            lookup, &expected, &warnings);
            EXPECT_EQ(status, 0u) << "option " << row.ordinal << " " << row.key << ": default '"
                                  << row.default_text << "' does not parse as " << row.type;
            cv_uac_free_warnings(&warnings);
        }
        const auto [held_text, expected_text] = describe(code, form[i].value, &expected);
        if (held_text != expected_text)
            ADD_FAILURE() << "option " << row.ordinal << " " << row.key
                          << ": the defaults object holds " << held_text << ", the default '"
                          << row.default_text << "' reads as " << expected_text;
        if (expected.text != empty && expected.text != empty_list)
            (void)cv_uac_type_free(code, &expected, nullptr);
    }
}

// ---- the fixtures themselves ---------------------------------------------

/* A written default reads by its own type with its own lookup, so a default
 * that landed in the wrong row or column shows before any class reads it. */
void expect_default_parses(const fixture_row &row) {
    const std::int32_t code = code_of(row.type);
    if (row.default_text == kNone || row.default_text == kEmpty || code == -100) return;
    any_value value{};
    cv_uac_warning *warnings = nullptr;
    const char *lookup = row.lookup == kNone || code == CV_UAC_TYPE_STRING_LIST
                             ? nullptr
                             : row.lookup.c_str();
    EXPECT_EQ(cv_uac_type_parse_text(code, row.default_text.c_str(), lookup, &value, &warnings),
              0u)
        << "default '" << row.default_text << "' as " << row.type;
    EXPECT_EQ(warnings, nullptr) << "default '" << row.default_text << "' warns";
    cv_uac_free_warnings(&warnings);
    (void)cv_uac_type_free(code, &value, nullptr);
}

/* A fixture's own form: ordinals 1 to N in order, unique keys, known type
 * names, every path step a known element or "..", a string list's item a
 * known element. */
void check_fixture_form(const std::string &fixture, std::size_t expected_count) {
    const std::vector<fixture_row> rows = read_fixture(fixture);
    EXPECT_EQ(rows.size(), expected_count) << fixture;
    std::set<std::string> keys;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const fixture_row &row = rows[i];
        SCOPED_TRACE(fixture + ":" + std::to_string(row.line) + " " + row.key);
        EXPECT_EQ(row.ordinal, static_cast<int>(i + 1));
        EXPECT_TRUE(keys.insert(row.key).second) << "key twice";
        EXPECT_NE(code_of(row.type), -100) << "type " << row.type;
        EXPECT_FALSE(row.default_text.empty()) << "empty default column";
        EXPECT_FALSE(row.lookup.empty()) << "empty lookup column";
        for (const std::string &step : split(row.path, '/')) {
            if (step != "..") {
                EXPECT_GT(parse_xml_tag_index(step.c_str()), 0) << step;
            }
        }
        if (row.type == "string_list") {
            EXPECT_GT(parse_xml_tag_index(row.lookup.c_str()), 0) << "item " << row.lookup;
        }
        expect_default_parses(row);
    }
}

TEST(catalogue_fixtures, are_well_formed) {
    check_fixture_form("user.tsv", 172);
    check_fixture_form("docroot.tsv", 10);
    check_fixture_form("trunk.tsv", 15);
    check_fixture_form("logging.tsv", 4);
    check_fixture_form("server.tsv", 130);
    check_fixture_form("provider.tsv", 3);
    check_fixture_form("process.tsv", 4);
    check_fixture_form("rproxy.tsv", 7);
    check_fixture_form("database.tsv", 21);
    check_fixture_form("central_server.tsv", 23);
    check_fixture_form("http_server.tsv", 12);
    check_fixture_form("client.tsv", 10);
}

// ---- the classes -----------------------------------------------------------

/* The classes and their fixtures; a class not yet registered is skipped. */
class catalogue : public ::testing::TestWithParam<const char *> {
protected:
    cv_uac_class *registered_or_null() const {
        const cv_uac_class_entry *entry = cv_uac_registered_class(GetParam());
        return entry ? entry->descriptor : nullptr;
    }
    std::string fixture() const { return std::string(GetParam()) + ".tsv"; }
};

#define CLASS_OR_SKIP(cls)                                                                  \
    cv_uac_class *cls = registered_or_null();                                               \
    if (!cls) GTEST_SKIP() << "the class " << GetParam() << " is not registered in this tree"

TEST_P(catalogue, agrees_with_the_fixture) {
    CLASS_OR_SKIP(cls);
    compare_with_fixture(cls, fixture());
}

TEST_P(catalogue, defaults_object_holds_the_parsed_defaults) {
    CLASS_OR_SKIP(cls);
    compare_defaults(cls, fixture());
}

/* Every note is "0" but that of the user's `user_value`. */
TEST_P(catalogue, notes) {
    CLASS_OR_SKIP(cls);
    held<cv_uac_config_object> object = fresh_object(cls);
    ASSERT_NE(object.object, nullptr);
    const cv_uac_generic_entry *form = cls->get_generic_form(object.object, nullptr);
    ASSERT_NE(form, nullptr);
    for (; form->type != CV_UAC_TYPE_END; ++form) {
        const bool noted =
            std::string(GetParam()) == "user" && std::string(form->name) == "user_value";
        EXPECT_STREQ(form->description, noted ? "\"64 bit value for application use\"" : "0")
            << form->name;
    }
}

INSTANTIATE_TEST_SUITE_P(classes, catalogue,
                         ::testing::Values("user", "docroot", "trunk", "logging", "server",
                                           "provider", "process", "rproxy", "database",
                                           "central_server", "http_server", "client"),
                         [](const ::testing::TestParamInfo<const char *> &info) {
                             return std::string(info.param);
                         });

}  // namespace
