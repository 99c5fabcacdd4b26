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
        {"capacity=2 days=SAT,sun end=08 start=0", "* 0-7 * * 6,0", "2"},
        {"start=0x2 end=0 days=tue capacity=3", "* 2-23 * * 2", "3"},
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
        {"100Q", "Missing capacity.  Value provided is 100Q"},
        // Read by the checker's rules: no hour is brought into range, no
        // unknown day kept as text.
        {"start=-1 end=2 days=mon capacity=1",
         "Invalid schedule part \"start=-1 end=2 days=mon capacity=1\".  Invalid numeric in start "
         "field (must from 0 to 24)"},
        {"start=25 end=2 days=mon capacity=1",
         "Invalid schedule part \"start=25 end=2 days=mon capacity=1\".  Invalid numeric in start "
         "field (must from 0 to 24)"},
        {"start=1 end=2 days=monday capacity=3",
         "Invalid schedule part \"start=1 end=2 days=monday capacity=3\".  Invalid weekday.  Must "
         "be sun, mon, tue, wed, thu, fri or sat"},
        {"start=1 foo=2 capacity=3",
         "Invalid schedule part \"start=1 foo=2 capacity=3\".  Unrecognized cron tag"},
    };
    for (const auto &c : cases) {
        schedule s(c.text);
        EXPECT_EQ(s.record, nullptr) << c.text;
        ASSERT_NE(s.warnings, nullptr) << c.text;
        EXPECT_STREQ(s.warnings->text, c.warning);
        EXPECT_EQ(s.warnings->status, CV_E_UAC_PARSE);
    }
    // One bad part refuses the schedule: never half of it.
    schedule partly("capacity=1;0;capacity=2");
    EXPECT_EQ(partly.record, nullptr);
    EXPECT_EQ(cv_uac_warning_count(partly.warnings), 1u);
}

std::string repeated(const std::string &part, int count) {
    std::string text = part;
    for (int i = 1; i < count; ++i) text += ";" + part;
    return text;
}

TEST(Cron, RefusesWhatTheRecordCannotHold) {
    schedule full(repeated("1", 256).c_str());
    ASSERT_NE(full.record, nullptr);
    EXPECT_EQ(full.record->count, 256);
    EXPECT_EQ(full.warnings, nullptr);

    schedule over(repeated("1", 257).c_str());
    EXPECT_EQ(over.record, nullptr);
    ASSERT_NE(over.warnings, nullptr);
    EXPECT_STREQ(over.warnings->text,
                 "Schedule holds more than 256 change points.  Schedule not used");

    // A value is never cut to its field: 63 characters fit, 64 do not.
    const std::string fits = std::string(62, '0') + "7";
    schedule kept(("capacity=" + fits).c_str());
    ASSERT_NE(kept.record, nullptr);
    EXPECT_EQ(std::string(kept.record->points[0].value), fits);
    schedule too_long(("capacity=0" + fits).c_str());
    EXPECT_EQ(too_long.record, nullptr);
    ASSERT_NE(too_long.warnings, nullptr);
    EXPECT_STREQ(too_long.warnings->text,
                 ("Invalid schedule part \"capacity=0" + fits +
                  "\".  Capacity longer than 63 characters")
                     .c_str());
}

TEST(Cron, ALongRangesTextIsKeptWhole) {
    // 200 parts of 48 bytes: far beyond 8192 bytes, and the last part's
    // unit must still be read as written.
    std::string text = repeated("start=0 end=12 days=sun,mon,tue capacity=9999K", 199);
    text += ";start=12 end=24 days=wed capacity=7G";
    ASSERT_GT(text.size(), 9000u);
    decorated_conf conf("<CONF><capacity><schedule format=\"ranges\">" + text +
                        "</schedule></capacity></CONF>");
    ASSERT_EQ(conf.decorate_status, 0u);
    cv_uac_cron *record = nullptr;
    ASSERT_EQ(cv_uac_type_read(CV_UAC_TYPE_CRON,
                               parse_xml_tracker_child(parse_xml_get_tracker(conf.start[0]),
                                                       PARSE_XML_TAG_capacity),
                               nullptr, &record, nullptr, nullptr),
              0u);
    ASSERT_NE(record, nullptr);
    ASSERT_EQ(record->count, 200);
    EXPECT_STREQ(record->points[199].when, "* 12-23 * * 3");
    EXPECT_STREQ(record->points[199].value, "7G");
    EXPECT_EQ(std::string(record->ranges_text), text);
    std::vector<char> xml(2 * text.size());
    ASSERT_EQ(cv_uac_type_write(CV_UAC_TYPE_CRON, &record, xml.data(), xml.size(), nullptr), 0u);
    EXPECT_EQ(std::string(xml.data()), "<schedule format=\"ranges\">" + text + "</schedule>");
    char small[CV_UAC_VALUE_TEXT_SIZE];
    EXPECT_EQ(cv_uac_type_write(CV_UAC_TYPE_CRON, &record, small, sizeof small, nullptr),
              CV_E_BUFFER_SPACE);
    EXPECT_STREQ(small, "");
    (void)cv_uac_type_free(CV_UAC_TYPE_CRON, &record, nullptr);
}

TEST(Cron, SeveralSchedulesAreAllWrittenBack) {
    decorated_conf conf(
        "<CONF><capacity><schedule format=\"ranges\">1M</schedule>"
        "<schedule format=\"ranges\">start=1 end=2 days=mon capacity=2M</schedule></capacity>"
        "<bandwidth><schedule format=\"ranges\">1M</schedule><schedule format=\"cron\"><change_points>"
        "<change_point><epoch>5</epoch><value>2M</value></change_point>"
        "</change_points></schedule></bandwidth></CONF>");
    ASSERT_EQ(conf.decorate_status, 0u);
    const parse_xml_tracker *root = parse_xml_get_tracker(conf.start[0]);
    cv_uac_cron *record = nullptr;
    ASSERT_EQ(cv_uac_type_read(CV_UAC_TYPE_CRON, parse_xml_tracker_child(root, PARSE_XML_TAG_capacity),
                               nullptr, &record, nullptr, nullptr),
              0u);
    EXPECT_EQ(written(record),
              "<schedule format=\"ranges\">1M;start=1 end=2 days=mon capacity=2M</schedule>");
    (void)cv_uac_type_free(CV_UAC_TYPE_CRON, &record, nullptr);
    ASSERT_EQ(cv_uac_type_read(CV_UAC_TYPE_CRON, parse_xml_tracker_child(root, PARSE_XML_TAG_bandwidth),
                               nullptr, &record, nullptr, nullptr),
              0u);
    EXPECT_EQ(written(record),
              "<schedule format=\"cron\"><change_points>"
              "<change_point><epoch></epoch><value>1M</value></change_point>"
              "<change_point><epoch>5</epoch><value>2M</value></change_point>"
              "</change_points></schedule>");
    (void)cv_uac_type_free(CV_UAC_TYPE_CRON, &record, nullptr);
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
        {"start=1 end=2 days=Mon capacity=1", nullptr},
        {"start=1 end=2 days=monday capacity=1",
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
        {"100M", nullptr},
        {"1G 500M", nullptr},
        {"0", "Invalid numeric in capacity field"},
        {"100Q", "Malformed numeric.  Invalid characters after the number"},
        {"1000 x", "Field with no equal sign (whitespace before and after equal signs is "
                   "forbidden)"},
        {"  <schedule format=\"ranges\">1</schedule>", nullptr},
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
