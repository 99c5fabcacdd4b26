// The catalogue round trip of every registered class (and of the tests'
// own class): every option is set to a value other than its default, the
// object is serialized with every option, read back from that text and
// serialized again.  Both texts must be equal, and the object read back
// must hold every value that was set, so that no row of any catalogue can
// lose, cut or change a value on its way through the XML.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "config_test_support.h"
#include "uac/cv_uac_class_registry.h"
#include "uac/cv_uac_classes.h"

namespace {

/* Owns a text the framework allocated. */
struct owned_text {
    char *text = nullptr;
    ~owned_text() { cv_uac_free(text); }
};

std::string serialized_all(cv_uac_config_object *object) {
    owned_text xml;
    EXPECT_EQ(object->header.descriptor->serialize(object, "", "   ", 1, nullptr, nullptr,
                                                   &xml.text),
              0u);
    return xml.text ? xml.text : "<null>";
}

std::string written(const cv_uac_generic_entry &entry) {
    owned_text text;
    if (cv_uac_type_write_alloc(entry.type, entry.value, entry.lookup, &text.text) != 0)
        return "<unwritable>";
    return text.text;
}

/* The "name:value" pairs of a lookup list, without its leading scale. */
std::vector<std::pair<std::string, std::string>> lookup_words(std::string_view list) {
    std::vector<std::pair<std::string, std::string>> words;
    while (!list.empty()) {
        const std::size_t end = std::min(list.find(';'), list.size());
        const std::string_view part = list.substr(0, end);
        if (const std::size_t colon = part.find(':'); colon != std::string_view::npos)
            words.emplace_back(part.substr(0, colon), part.substr(colon + 1));
        list.remove_prefix(end == list.size() ? end : end + 1);
    }
    return words;
}

/* A word of the lookup list whose value differs from the default's; a
 * plain number when the list names no other value (a lookup reads numbers
 * too). */
std::string other_word(const cv_uac_option &row) {
    const auto words = lookup_words(row.lookup ? row.lookup : "");
    std::string default_value;
    for (const auto &[word, value] : words)
        if (row.default_text && word == row.default_text) default_value = value;
    for (auto it = words.rbegin(); it != words.rend(); ++it)
        if (it->second != default_value) return it->first;
    return default_value == "7" ? "8" : "7";
}

/* An override text for `row` that its type reads as a value other than
 * the default. */
std::string non_default_text(const cv_uac_option &row) {
    const std::string_view fallback = row.default_text ? row.default_text : "";
    switch (row.type) {
        case CV_UAC_TYPE_LOOKUP:
            return other_word(row);
        case CV_UAC_TYPE_BOOLEAN:
            return fallback == "true" ? "false" : "true";
        case CV_UAC_TYPE_INT64:
        case CV_UAC_TYPE_UINT64:
        case CV_UAC_TYPE_INT32:
        case CV_UAC_TYPE_UINT32:
        case CV_UAC_TYPE_OCTAL32:
            return "7";
        case CV_UAC_TYPE_DOUBLE:
            return "2.5";
        case CV_UAC_TYPE_TIME:
            return "1d 02:03:04.005";
        case CV_UAC_TYPE_BPS:
            return "3M";
        case CV_UAC_TYPE_CHAR_PTR:
        case CV_UAC_TYPE_TRIMMED_CHAR_PTR:
        case CV_UAC_TYPE_BLANKABLE_CHAR_PTR:
            return std::string(row.key) + " & <more>";
        case CV_UAC_TYPE_STRING_LIST: {
            const std::string item = row.lookup ? row.lookup : "item";
            return "<" + item + ">one</" + item + "><" + item + ">two &amp; three</" + item + ">";
        }
        case CV_UAC_TYPE_CRON:
            return "<schedule format=\"ranges\">start=8 end=17 days=mon-fri "
                   "capacity=100M;capacity=10M</schedule>";
        case CV_UAC_TYPE_RANGE:
            return "2:5";
        default:
            ADD_FAILURE() << row.key << " has a type without a test value: " << row.type;
            return "";
    }
}

bool climbs(const std::int32_t *path) {
    for (; *path != PARSE_XML_END; ++path)
        if (*path == PARSE_XML_TAG_Move_Up_to_Parent) return true;
    return false;
}

bool serialized_option(const cv_uac_option &row) {
    return !std::string_view(row.key).ends_with("_INTERNAL") && !climbs(row.path);
}

std::vector<cv_uac_class_entry> classes_to_walk() {
    std::vector<cv_uac_class_entry> classes(cv_uac_registered_classes().begin(),
                                            cv_uac_registered_classes().end());
    classes.push_back({"test", &test_class, cv_uac_test_option_count, cv_uac_config_from_fragment});
    return classes;
}

TEST(class_registry, names_each_class_once_with_its_descriptor_and_count) {
    const auto classes = cv_uac_registered_classes();
    ASSERT_GE(classes.size(), 2u);
    for (const cv_uac_class_entry &entry : classes) {
        SCOPED_TRACE(entry.name);
        EXPECT_STREQ(entry.descriptor->name, entry.name);
        EXPECT_EQ(entry.descriptor->option_count, entry.option_count);
        EXPECT_EQ(cv_uac_registered_class(entry.name), &entry);
    }
    EXPECT_EQ(cv_uac_registered_class("trunk")->option_count, 15u);
    EXPECT_EQ(cv_uac_registered_class("logging")->option_count, 4u);
    ASSERT_NE(cv_uac_registered_class("user"), nullptr);
    EXPECT_EQ(cv_uac_registered_class("user")->option_count, 172u);
    ASSERT_NE(cv_uac_registered_class("docroot"), nullptr);
    EXPECT_EQ(cv_uac_registered_class("docroot")->option_count, 10u);
    EXPECT_EQ(cv_uac_registered_class("base"), nullptr);
    EXPECT_EQ(cv_uac_registered_class(nullptr), nullptr);
}

TEST(class_registry, a_fragment_that_is_not_xml_makes_no_object) {
    cv_uac_config_object *object = reinterpret_cast<cv_uac_config_object *>(&object);
    EXPECT_EQ(cv_uac_config_from_fragment(&cv_uac_trunk_class, "<id>7</i>", &object),
              CV_E_XML_PARSE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(cv_uac_config_from_fragment(nullptr, "", &object), 22u);
}

TEST(class_round_trip, every_option_of_every_class_survives_serialize_and_read_back) {
    for (const cv_uac_class_entry &entry : classes_to_walk()) {
        SCOPED_TRACE(entry.name);
        cv_uac_config_object *made = nullptr;
        ASSERT_EQ(entry.from_fragment(entry.descriptor, "", &made), 0u);
        held<cv_uac_config_object> object(made);
        cv_uac_config_object *defaults = cv_uac_class_defaults(entry.descriptor);
        ASSERT_NE(defaults, nullptr);

        const cv_uac_option *catalogue = entry.descriptor->catalogue;
        for (std::size_t i = 0; i < entry.option_count; ++i) {
            const cv_uac_option &row = catalogue[i];
            SCOPED_TRACE(row.key);
            const std::string text = non_default_text(row);
            ASSERT_EQ(cv_uac_config_set_by_name(made, row.key, text.c_str(), nullptr), 0u)
                << text;
            EXPECT_NE(written(*entry_of(made, row.key)), written(*entry_of(defaults, row.key)))
                << "the test value of " << row.key << " is its default";
        }

        const std::string first = serialized_all(made);
        cv_uac_config_object *read = nullptr;
        ASSERT_EQ(entry.from_fragment(entry.descriptor, first.c_str(), &read), 0u) << first;
        held<cv_uac_config_object> copy(read);
        EXPECT_EQ(serialized_all(read), first);
        for (std::size_t i = 0; i < entry.option_count; ++i) {
            if (!serialized_option(catalogue[i])) continue;
            SCOPED_TRACE(catalogue[i].key);
            EXPECT_EQ(written(*entry_of(read, catalogue[i].key)),
                      written(*entry_of(made, catalogue[i].key)));
        }
    }
}

}  // namespace
