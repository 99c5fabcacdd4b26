// The value type `cron`: a schedule of change points.
//
// A change point pairs a "when" (a cron-like expression "* H * * D" of hour
// and weekday fields, an epoch text, or empty for always) with a value.  A
// schedule is written inside `schedule` elements in one of two forms:
//
//   format="ranges"  parts separated by ";", each a positive number (a value
//                    for always) or "start=H end=H days=D capacity=V" fields,
//                    converted here into change points: start=8 end=17
//                    days=mon-fri capacity=100M is ("* 8-16 * * 1-5", 100M);
//   format="cron"    explicit change_points/change_point elements holding an
//                    epoch and a value.
//
// A record holds at most CV_UAC_CRON_MAX_POINTS change points; parts beyond
// are dropped with a warning, never written past the record.  A schedule
// read from the ranges form is written back in that form with the same
// text, one read from the cron form as change points.
#include <cstring>

#include "cv_uac_type_impl.h"
#include "cvplatform/cv_str.h"
#include "uac/cv_uac_memory_heap.h"
#include "uac/parse_xml.h"

namespace cv_uac_type_impl {

namespace {

constexpr std::string_view kRangesOpening = "<schedule format=\"ranges\">";
constexpr std::string_view kScheduleClosing = "</schedule>";
constexpr std::string_view kWeekdays[] = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};

/* Adds a change point; false (nothing added) when the record is full. */
bool add_point(cv_uac_cron *record, std::string_view when, std::string_view value) {
    if (record->count >= static_cast<std::int32_t>(CV_UAC_CRON_MAX_POINTS)) return false;
    cv_uac_cron_point &point = record->points[record->count++];
    (void)cv_str_to(point.when, when.data(), when.size(), sizeof point.when, nullptr);
    (void)cv_str_to(point.value, value.data(), value.size(), sizeof point.value, nullptr);
    return true;
}

void report_full(cv_uac_warning **warnings, bool *reported) {
    if (*reported) return;
    *reported = true;
    add_warning(warnings, CV_E_UAC_PARSE,
                "Schedule holds more than %zu change points.  The rest are dropped",
                CV_UAC_CRON_MAX_POINTS);
}

/* The blank-separated fields of a ranges part. */
struct ranges_fields {
    bool has_start = false, has_end = false, has_days = false, has_capacity = false;
    std::string_view start, end, days, capacity;
};

bool is_blank(char c) { return is_space(c); }

template <typename Visit>
void for_each_field(std::string_view part, Visit visit) {
    std::size_t at = 0;
    while (at < part.size()) {
        while (at < part.size() && is_blank(part[at])) ++at;
        const std::size_t start = at;
        while (at < part.size() && !is_blank(part[at])) ++at;
        if (at > start) visit(part.substr(start, at - start));
    }
}

ranges_fields fields_of(std::string_view part) {
    ranges_fields f;
    for_each_field(part, [&](std::string_view field) {
        auto take = [&](std::string_view key, bool *has, std::string_view *value) {
            if (*has || field.substr(0, key.size()) != key) return false;
            *has = true;
            *value = field.substr(key.size());
            return true;
        };
        (void)(take("start=", &f.has_start, &f.start) || take("end=", &f.has_end, &f.end) ||
               take("days=", &f.has_days, &f.days) ||
               take("capacity=", &f.has_capacity, &f.capacity));
    });
    return f;
}

/* The decimal number at the start of `text` as `atoi` reads it (optional
 * white space and sign, then digits), saturated instead of overflowing. */
std::int64_t leading_decimal(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && is_space(text[at])) ++at;
    const bool negative = at < text.size() && text[at] == '-';
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) ++at;
    std::int64_t number = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at)
        if (number < 1000000000000LL) number = number * 10 + (text[at] - '0');
    return negative ? -number : number;
}

/* An hour brought into 0..23 by `offset` and a true modulo (so a negative
 * hour never becomes a huge unsigned number). */
unsigned hour_of(std::string_view text, int offset) {
    return static_cast<unsigned>(((leading_decimal(text) % 24 + offset) % 24 + 24) % 24);
}

/* The days field with every weekday name (any case) replaced by its number. */
void days_field(std::string_view days, char *output, std::size_t capacity) {
    std::size_t cursor = 0;
    output[0] = '\0';
    for (std::size_t at = 0; at < days.size();) {
        std::size_t day = std::size(kWeekdays);
        if (days.size() - at >= 3)
            for (day = 0; day < std::size(kWeekdays); ++day)
                if (equal_nocase(days.substr(at, 3), kWeekdays[day])) break;
        if (day < std::size(kWeekdays)) {
            const char digit[2] = {static_cast<char>('0' + day), '\0'};
            (void)cv_str_append(output, digit, capacity, &cursor);
            at += 3;
        } else {
            (void)cv_str_to(output, days.data() + at, 1, capacity, &cursor);
            ++at;
        }
    }
}

/* Converts one part of a ranges text into a change point. */
void convert_part(cv_uac_cron *record, std::string_view part, cv_uac_warning **warnings,
                  bool *full_reported) {
    const ranges_fields f = fields_of(part);
    if (!f.has_capacity) {
        char text[CV_UAC_CRON_TEXT_SIZE];
        std::int64_t number = 0;
        if (copy_view(part, text, sizeof text) && cv_str_to_i64(text, &number, nullptr) == CV_OK &&
            number > 0) {
            if (!add_point(record, {}, trim(part))) report_full(warnings, full_reported);
            return;
        }
        add_warning(warnings, CV_E_UAC_PARSE, "Missing capacity.  Value provided is %.*s",
                    static_cast<int>(part.size()), part.data());
        return;
    }
    const int present = f.has_start + f.has_end + f.has_days;
    if (present != 0 && present != 3) {
        add_warning(warnings, CV_E_UAC_PARSE,
                    "Either all of start, end and days must be present or none");
        return;
    }
    char hours[32] = "*";
    char days[CV_UAC_CRON_WHEN_SIZE] = "*";
    if (present == 3) {
        const unsigned first = hour_of(f.start, 24);
        const unsigned last = hour_of(f.end, 23);
        if (first == last)
            (void)cv_snprintf(hours, sizeof hours, "%u", first);
        else
            (void)cv_snprintf(hours, sizeof hours, "%u-%u", first, last);
        days_field(f.days, days, sizeof days);
    }
    char when[CV_UAC_CRON_WHEN_SIZE];
    (void)cv_snprintf(when, sizeof when, "* %s * * %s", hours, days);
    if (!add_point(record, when, f.capacity)) report_full(warnings, full_reported);
}

/* Keeps `text` as the record's ranges text and appends its change points. */
void convert_ranges(cv_uac_cron *record, const char *text, cv_uac_warning **warnings,
                    bool *full_reported) {
    char *copy = static_cast<char *>(
        CV_UAC_MALLOC(CV_UAC_CRON_TEXT_SIZE, "CRON human to machine readable workspace"));
    if (copy) {
        (void)cv_str_copy(copy, text, CV_UAC_CRON_TEXT_SIZE);
        if (record->owns_text) cv_uac_free(record->ranges_text);
        record->ranges_text = copy;
        record->owns_text = 1;
    }
    std::string_view rest(text, cv_str_length(text, CV_UAC_CRON_TEXT_SIZE - 1));
    for (bool more = true; more;) {
        const std::size_t end = rest.find(';');
        more = end != std::string_view::npos;
        convert_part(record, rest.substr(0, end), warnings, full_reported);
        rest = more ? rest.substr(end + 1) : std::string_view();
    }
}

const char *text_or_empty(const xmlNode *element) {
    const char *text = element_text(element);
    return text ? text : "";
}

/* The value of attribute `format` of `element`, or null. */
const char *format_of(const xmlNode *element) {
    for (const xmlAttr *attribute = element->properties; attribute; attribute = attribute->next) {
        if (std::strcmp(reinterpret_cast<const char *>(attribute->name), "format") != 0) continue;
        const xmlNode *child = attribute->children;
        return child && child->type == XML_TEXT_NODE && !child->next
                   ? reinterpret_cast<const char *>(child->content)
                   : nullptr;
    }
    return nullptr;
}

void read_cron_form(cv_uac_cron *record, xmlNode *schedule, cv_uac_warning **warnings,
                    bool *full_reported) {
    xmlNode *start[2] = {schedule, nullptr};
    parse_xml_search_handle *handle = nullptr;
    for (xmlNode *point =
             parse_xml_get_first_matching_node_args(start, &handle, PARSE_XML_TAG_change_points,
                                                    PARSE_XML_TAG_change_point, PARSE_XML_END);
         point; point = parse_xml_get_next_matching_node(handle, nullptr)) {
        const parse_xml_tracker *record_of_point = parse_xml_get_tracker(point);
        xmlNode *epoch = parse_xml_tracker_child(record_of_point, PARSE_XML_TAG_epoch);
        xmlNode *value = parse_xml_tracker_child(record_of_point, PARSE_XML_TAG_value);
        if (!epoch || !value) continue;
        if (!add_point(record, text_or_empty(epoch), text_or_empty(value)))
            report_full(warnings, full_reported);
    }
    if (handle) (void)parse_xml_free_search_handle(handle);
}

/* `text` without leading white space and leading zeros (one zero stays,
 * and a "0x" prefix is kept), so that "08" is the decimal 8. */
std::string_view without_leading_zeros(std::string_view text) {
    while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
    if (text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) return text;
    while (text.size() > 1 && text[0] == '0' && text[1] >= '0' && text[1] <= '9')
        text.remove_prefix(1);
    return text;
}

/* Why `text` is not a whole number, or null; `*number` gets it. */
const char *number_reason(std::string_view text, std::int64_t *number = nullptr) {
    char buffer[CV_UAC_CRON_TEXT_SIZE];
    if (!copy_view(without_leading_zeros(text), buffer, sizeof buffer)) return kMalformedNumber;
    std::int64_t value = 0;
    const char *reason = read_integer(buffer, integer_width::i64, false, &value);
    if (number) *number = value;
    return reason;
}

const char *hour_reason(std::string_view value, const char *out_of_range) {
    std::int64_t hour = 0;
    if (const char *reason = number_reason(value, &hour)) return reason;
    return hour >= 0 && hour <= 24 ? nullptr : out_of_range;
}

const char *days_reason(std::string_view days) {
    bool after_dash = false;
    std::size_t at = 0;
    for (;;) {
        const std::size_t end = days.find_first_of(",-", at);
        const std::string_view piece =
            days.substr(at, end == std::string_view::npos ? end : end - at);
        bool known = false;
        for (std::string_view day : kWeekdays) known |= piece == day;
        if (!known) return "Invalid weekday.  Must be sun, mon, tue, wed, thu, fri or sat";
        if (end == std::string_view::npos) return nullptr;
        if (days[end] == '-') {
            if (after_dash) return "Two consecutive \"-\" separators";
            after_dash = true;
        } else {
            after_dash = false;
        }
        at = end + 1;
    }
}

const char *capacity_reason(std::string_view capacity) {
    if (capacity.empty()) return "Invalid numeric in capacity field";
    cv_status status = CV_OK;
    std::uint64_t rate = 0;
    return parse_bps(capacity, false, &rate, &status);
}

const char *part_reason(std::string_view part) {
    if (trim(part).empty()) return "Empty field";
    if (!number_reason(part)) return nullptr;
    std::size_t fields = 0;
    const char *reason = nullptr;
    bool start = false, end = false, days = false, capacity = false;
    for_each_field(part, [&](std::string_view field) {
        ++fields;
        if (reason) return;
        const std::size_t equals = field.find('=');
        if (equals == std::string_view::npos) {
            reason =
                "Field with no equal sign (whitespace before and after equal signs is "
                "forbidden)";
            return;
        }
        const std::string_view key = field.substr(0, equals);
        const std::string_view value = field.substr(equals + 1);
        if (key == "start") {
            start = true;
            reason = hour_reason(value, "Invalid numeric in start field (must from 0 to 24)");
        } else if (key == "end") {
            end = true;
            reason = hour_reason(value, "Invalid numeric in end field (must from 0 to 24)");
        } else if (key == "days") {
            days = true;
            reason = days_reason(value);
        } else if (key == "capacity") {
            capacity = true;
            reason = capacity_reason(value);
        } else {
            reason = "Unrecognized cron tag";
        }
    });
    // A lone word without "=" is a number that failed: say why.
    if (fields == 1 && part.find('=') == std::string_view::npos) return number_reason(part);
    if (reason) return reason;
    if (!capacity) return "No capacity field";
    const int present = start + end + days;
    if (present != 0 && present != 3) return "Must have all of start, end and days or none";
    return nullptr;
}

/* The override text without its optional wrapper. */
std::string_view unwrapped(std::string_view text) {
    if (text.substr(0, kRangesOpening.size()) == kRangesOpening) {
        text.remove_prefix(kRangesOpening.size());
        if (text.size() >= kScheduleClosing.size() &&
            text.substr(text.size() - kScheduleClosing.size()) == kScheduleClosing)
            text.remove_suffix(kScheduleClosing.size());
    }
    return text;
}

/* Appends `text` escaped for XML. */
cv_status append_escaped(char *output, std::size_t capacity, std::size_t *cursor,
                         std::string_view text) {
    char escaped[CV_UAC_VALUE_TEXT_SIZE];
    if (!copy_view(text, escaped, sizeof escaped)) return CV_E_BUFFER_SPACE;
    if (cv_status status = cv_uac_escape_string_for_xml(escaped, escaped, sizeof escaped);
        status != CV_OK)
        return status;
    return cv_str_append(output, escaped, capacity, cursor);
}

}  // namespace

cv_status cron_read(xmlNode *element, const char *, void *value, cv_uac_warning **warnings,
                    cv_btree *) {
    if (!element || !value) return CV_E_INVALID;
    auto *record = static_cast<cv_uac_cron *>(
        CV_UAC_CALLOC(sizeof(cv_uac_cron), "CRON structure.  Cron data will not be available"));
    auto &slot = *static_cast<cv_uac_cron **>(value);
    if (!record) {
        slot = nullptr;
        return CV_E_NO_MEMORY;
    }
    bool full_reported = false;
    xmlNode *start[2] = {element, nullptr};
    parse_xml_search_handle *handle = nullptr;
    for (xmlNode *schedule = parse_xml_get_first_matching_node_args(
             start, &handle, PARSE_XML_TAG_schedule, PARSE_XML_END);
         schedule; schedule = parse_xml_get_next_matching_node(handle, nullptr)) {
        const char *format = format_of(schedule);
        if (!format) continue;
        if (std::strcmp(format, "cron") == 0) {
            read_cron_form(record, schedule, warnings, &full_reported);
        } else if (std::strcmp(format, "ranges") == 0) {
            if (const char *text = element_text(schedule))
                convert_ranges(record, text, warnings, &full_reported);
        }
    }
    if (handle) (void)parse_xml_free_search_handle(handle);

    if (record->count == 0)
        if (xmlNode *only =
                parse_xml_tracker_child(parse_xml_get_tracker(element), PARSE_XML_TAG_value))
            (void)add_point(record, {}, text_or_empty(only));
    if (record->count == 0) {
        if (record->owns_text) cv_uac_free(record->ranges_text);
        cv_uac_free(record);
        record = nullptr;
    }
    slot = record;
    return CV_OK;
}

cv_status cron_check(const char *text, const char *, const char **message) {
    if (message) *message = nullptr;
    if (!text) return CV_E_INVALID;
    std::string_view rest = unwrapped(text);
    for (bool more = true; more;) {
        const std::size_t end = rest.find(';');
        more = end != std::string_view::npos;
        if (const char *reason = part_reason(rest.substr(0, end))) {
            if (message) *message = reason;
            return CV_E_INVALID;
        }
        rest = more ? rest.substr(end + 1) : std::string_view();
    }
    return CV_OK;
}

cv_status cron_to_xml(const char *text, char *output, std::size_t capacity, const char *) {
    if (!text || !output || capacity == 0) return CV_E_INVALID;
    while (is_space(*text)) ++text;
    std::size_t cursor = 0;
    cv_status status = CV_OK;
    output[0] = '\0';
    if (is_null_marker(text)) {
        status = cv_str_copy(output, text, capacity);
    } else {
        status = cv_str_append(output, kRangesOpening.data(), capacity, &cursor);
        if (status == CV_OK) status = append_escaped(output, capacity, &cursor, unwrapped(text));
        if (status == CV_OK)
            status = cv_str_append(output, kScheduleClosing.data(), capacity, &cursor);
    }
    if (status != CV_OK) output[0] = '\0';
    return status;
}

cv_status cron_write(const void *value, char *output, std::size_t capacity, const char *) {
    if (!value || !output || capacity == 0) return CV_E_INVALID;
    const cv_uac_cron *record = *static_cast<const cv_uac_cron *const *>(value);
    std::size_t cursor = 0;
    cv_status status = CV_OK;
    output[0] = '\0';
    auto append = [&](std::string_view text) {
        if (status == CV_OK)
            status = cv_str_to(output, text.data(), text.size(), capacity, &cursor);
    };
    auto append_text = [&](std::string_view text) {
        if (status == CV_OK) status = append_escaped(output, capacity, &cursor, text);
    };
    if (record && record->ranges_text) {
        append(kRangesOpening);
        append_text(record->ranges_text);
        append(kScheduleClosing);
    } else if (record && record->count > 0) {
        append("<schedule format=\"cron\"><change_points>");
        for (std::int32_t i = 0; i < record->count; ++i) {
            append("<change_point><epoch>");
            append_text(record->points[i].when);
            append("</epoch><value>");
            append_text(record->points[i].value);
            append("</value></change_point>");
        }
        append("</change_points></schedule>");
    } else {
        append("<undefined />");
    }
    if (status != CV_OK) output[0] = '\0';
    return status;
}

void cron_free(void *value, const void *default_value) {
    if (!value) return;
    auto &slot = *static_cast<cv_uac_cron **>(value);
    const cv_uac_cron *default_record =
        default_value ? *static_cast<cv_uac_cron *const *>(default_value) : nullptr;
    if (!slot || slot == default_record) return;
    if (slot->owns_text) cv_uac_free(slot->ranges_text);
    cv_uac_free(slot);
    slot = nullptr;
}

}  // namespace cv_uac_type_impl
