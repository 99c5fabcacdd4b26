// Tests of the schedule type: ranges texts converted to change points and
// written back as they were, the cron form, the lone value, the warnings of
// bad parts, the limit of change points, the override checker and the
// override's XML.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "cv_test_log_capture.h"
#include "parse_xml_test_support.h"
#include "uac/cv_uac_types.h"

CV_TEST_LOG_CAPTURE();
PARSE_XML_TEST_LAYER();

namespace {

using points = std::vector<std::pair<std::string, std::string>>;

points points_of(const cv_uac_cron *record) {
    points out;
    for (std::int32_t i = 0; record && i < record->count; ++i)
        out.emplace_back(record->points[i].when, record->points[i].value);
    return out;
}

std::string written(const cv_uac_cron *record) {
    char text[CV_UAC_VALUE_TEXT_SIZE];
    EXPECT_EQ(cv_uac_type_write(CV_UAC_TYPE_CRON, &record, text, sizeof text, nullptr), 0u);
    return text;
}

/* A schedule read from an override text, with its warnings. */
struct schedule {
    cv_uac_cron *record = nullptr;
    cv_uac_warning *warnings = nullptr;
    explicit schedule(const char *text) {
        (void)cv_uac_type_parse_text(CV_UAC_TYPE_CRON, text, nullptr, &record, &warnings);
    }
    ~schedule() {
        (void)cv_uac_type_free(CV_UAC_TYPE_CRON, &record, nullptr);
        cv_uac_free_warnings(&warnings);
    }
};

TEST(Cron, RangesBecomeChangePointsAndWriteBackAsGiven) {
    const char *text = "start=8 end=17 days=mon-fri capacity=100M;capacity=10M";
    schedule s(text);
    EXPECT_EQ(points_of(s.record), (points{{"* 8-16 * * 1-5", "100M"}, {"* * * * *", "10M"}}));
    EXPECT_EQ(s.warnings, nullptr);
    EXPECT_EQ(written(s.record),
              std::string("<schedule format=\"ranges\">") + text + "</schedule>");
}

TEST(Cron, ConvertsHoursAndWeekdays) {
    const struct {
        const char *part;
        const char *when;
        const char *value;
    } cases[] = {
        {"start=0 end=24 days=sun-sat capacity=1G", "* 0-23 * * 0-6", "1G"},
        {"start=22 end=6 days=fri capacity=5M", "* 22-5 * * 5", "5M"},
        {"start=5 end=6 days=Mon capacity=1", "* 5 * * 1", "1"},
        {"capacity=2 days=SAT,sun end=08 start=-1", "* 23-7 * * 6,0", "2"},
        {"start=1 end=2 days=monday capacity=3", "* 1 * * 1day", "3"},
        {"1000", "", "1000"},
        {" 100M ", "", "100M"},
    };
    for (const auto &c : cases) {
        schedule s(c.part);
        EXPECT_EQ(points_of(s.record), (points{{c.when, c.value}})) << c.part;
        EXPECT_EQ(s.warnings, nullptr) << c.part;
    }
}

TEST(Cron, DropsBadPartsWithAWarning) {
    const struct {
        const char *text;
        const char *warning;
    } cases[] = {
        {"capacity=10M start=8", "Either all of start, end and days must be present or none"},
        {"0", "Missing capacity.  Value provided is 0"},
        {"start=1 end=2 days=mon", "Missing capacity.  Value provided is start=1 end=2 days=mon"},
    };
    for (const auto &c : cases) {
        schedule s(c.text);
        EXPECT_EQ(s.record, nullptr) << c.text;
        ASSERT_NE(s.warnings, nullptr) << c.text;
        EXPECT_STREQ(s.warnings->text, c.warning);
        EXPECT_EQ(s.warnings->status, CV_E_UAC_PARSE);
    }
    schedule partly("capacity=1;0;capacity=2");
    EXPECT_EQ(points_of(partly.record), (points{{"* * * * *", "1"}, {"* * * * *", "2"}}));
    EXPECT_EQ(cv_uac_warning_count(partly.warnings), 1u);
}

TEST(Cron, KeepsAtMostTheRecordsChangePoints) {
    std::string text = "1";
    for (int i = 0; i < 299; ++i) text += ";1";
    schedule s(text.c_str());
    ASSERT_NE(s.record, nullptr);
    EXPECT_EQ(s.record->count, static_cast<std::int32_t>(CV_UAC_CRON_MAX_POINTS));
    EXPECT_EQ(cv_uac_warning_count(s.warnings), 1u);

    const std::string long_value(100, '7');
    schedule cut(("capacity=" + long_value).c_str());
    ASSERT_NE(cut.record, nullptr);
    EXPECT_EQ(std::string(cut.record->points[0].value), long_value.substr(0, 63));
}

TEST(Cron, ReadsTheCronFormAndALoneValue) {
    decorated_conf conf(
        "<CONF><capacity>"
        "<schedule format=\"cron\"><change_points>"
        "<change_point><epoch>1700000000</epoch><value>1G</value></change_point>"
        "<change_point><epoch>1800000000</epoch></change_point>"
        "<change_point><epoch/><value>2G</value></change_point>"
        "</change_points></schedule>"
        "<schedule>start=1 end=2 days=mon capacity=9</schedule>"
        "<schedule format=\"Cron\">1</schedule>"
        "<value>ignored</value>"
        "</capacity><bandwidth><value>5M</value></bandwidth><trunk/></CONF>");
    ASSERT_EQ(conf.decorate_status, 0u);
    const parse_xml_tracker *root = parse_xml_get_tracker(conf.start[0]);
    cv_uac_cron *record = nullptr;
    ASSERT_EQ(
        cv_uac_type_read(CV_UAC_TYPE_CRON, parse_xml_tracker_child(root, PARSE_XML_TAG_capacity),
                         nullptr, &record, nullptr, nullptr),
        0u);
    EXPECT_EQ(points_of(record), (points{{"1700000000", "1G"}, {"", "2G"}}));
    EXPECT_EQ(written(record),
              "<schedule format=\"cron\"><change_points>"
              "<change_point><epoch>1700000000</epoch><value>1G</value></change_point>"
              "<change_point><epoch></epoch><value>2G</value></change_point>"
              "</change_points></schedule>");
    (void)cv_uac_type_free(CV_UAC_TYPE_CRON, &record, nullptr);

    ASSERT_EQ(
        cv_uac_type_read(CV_UAC_TYPE_CRON, parse_xml_tracker_child(root, PARSE_XML_TAG_bandwidth),
                         nullptr, &record, nullptr, nullptr),
        0u);
    EXPECT_EQ(points_of(record), (points{{"", "5M"}}));
    (void)cv_uac_type_free(CV_UAC_TYPE_CRON, &record, nullptr);

    ASSERT_EQ(cv_uac_type_read(CV_UAC_TYPE_CRON, parse_xml_tracker_child(root, PARSE_XML_TAG_trunk),
                               nullptr, &record, nullptr, nullptr),
              0u);
    EXPECT_EQ(record, nullptr);
    EXPECT_EQ(written(record), "<undefined />");
}

TEST(Cron, FreeSparesTheDefaultsRecord) {
    schedule s("1000");
    cv_uac_cron *value = s.record;
    (void)cv_uac_type_free(CV_UAC_TYPE_CRON, &value, &s.record);
    EXPECT_EQ(value, s.record);
}

TEST(Cron, OverrideCheckerNamesTheFirstFault) {
    const struct {
        const char *text;
        const char *message;  // null when accepted
    } cases[] = {
        {"1000", nullptr},
        {"0x10;007", nullptr},
        {"start=8 end=17 days=mon-fri capacity=100M;capacity=10M", nullptr},
        {"<schedule format=\"ranges\">capacity=1G</schedule>", nullptr},
        {"start=08 end=24 days=sun,tue-thu capacity=1", nullptr},
        {"capacity=10M start=8", "Must have all of start, end and days or none"},
        {"start=8 end=25 days=mon capacity=1M", "Invalid numeric in end field (must from 0 to 24)"},
        {"start=-1 end=2 days=mon capacity=1",
         "Invalid numeric in start field (must from 0 to 24)"},
        {"start=x end=2 days=mon capacity=1",
         "Malformed numeric.  1234, 0x12FF (hex), 0X12FF (hex), 0777 (octal) or %101010 "
         "(binary) are OK"},
        {"start=1 end=2 days=Mon capacity=1",
         "Invalid weekday.  Must be sun, mon, tue, wed, thu, fri or sat"},
        {"start=1 end=2 days=mon-wed-fri capacity=1", "Two consecutive \"-\" separators"},
        {"start=1 end=2 days=mon capacity=", "Invalid numeric in capacity field"},
        {"capacity=10 Q",
         "Field with no equal sign (whitespace before and after equal signs is "
         "forbidden)"},
        {"capacity = 10",
         "Field with no equal sign (whitespace before and after equal signs is "
         "forbidden)"},
        {"capacity=10Q",
         "unrecognized scale type.  Should be T, G, M, K, or B (case insensitive)."},
        {"start=1 end=2 days=mon", "No capacity field"},
        {"speed=1 capacity=1", "Unrecognized cron tag"},
        {"100M", "Malformed numeric.  Invalid characters after the number"},
        {"1000;", "Empty field"},
        {"", "Empty field"},
        {"1; ;2", "Empty field"},
    };
    for (const auto &c : cases) {
        const char *message = nullptr;
        EXPECT_EQ(cv_uac_type_check_override(CV_UAC_TYPE_CRON, c.text, nullptr, &message),
                  c.message ? 22u : 0u)
            << c.text;
        EXPECT_STREQ(message, c.message) << c.text;
    }
}

TEST(Cron, OverrideBecomesARangesSchedule) {
    const struct {
        const char *text;
        const char *xml;
    } cases[] = {
        {"  1000", "<schedule format=\"ranges\">1000</schedule>"},
        {"CV_NULL", "CV_NULL"},
        {"<schedule format=\"ranges\">1</schedule>", "<schedule format=\"ranges\">1</schedule>"},
        {"capacity=1&2", "<schedule format=\"ranges\">capacity=1&amp;2</schedule>"},
    };
    for (const auto &c : cases) {
        char xml[CV_UAC_VALUE_TEXT_SIZE];
        EXPECT_EQ(cv_uac_type_override_to_xml(CV_UAC_TYPE_CRON, c.text, xml, sizeof xml, nullptr),
                  0u);
        EXPECT_STREQ(xml, c.xml) << c.text;
    }
}

}  // namespace
