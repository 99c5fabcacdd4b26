// The value type `cron`: a schedule of change points.
//
// A change point pairs a "when" (a cron-like expression "* H * * D" of hour
// and weekday fields, an epoch text, or empty for always) with a value.  A
// schedule is written inside `schedule` elements in one of two forms:
//
//   format="ranges"  parts separated by ";", each a positive number or rate
//                    (a value for always) or "start=H end=H days=D
//                    capacity=V" fields, converted here into change points:
//                    start=8 end=17 days=mon-fri capacity=100M is
//                    ("* 8-16 * * 1-5", 100M);
//   format="cron"    explicit change_points/change_point elements holding an
//                    epoch and a value.
//
// One rule decides what a ranges part means, for the override checker and
// for the reader alike (convert_part), so a text passes the check exactly
// when it reads.  A schedule is taken whole or not at all: a part that
// cannot be read, a when or value text too long for its field, or more than
// CV_UAC_CRON_MAX_POINTS change points refuse the schedule with a warning,
// and the option keeps its previous value.  A schedule read from the ranges
// form is written back in that form with the same text, one read from the
// cron form as change points.
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
constexpr const char *kNoEqualSign =
    "Field with no equal sign (whitespace before and after equal signs is forbidden)";

/* Why a ranges part is refused, which decides the reader's warning. */
enum class part_fault { none, no_capacity, incomplete, other };

struct part_outcome {
    const char *reason = nullptr; /* the checker's message; null when the part reads */
    part_fault fault = part_fault::none;
};

part_outcome refused(const char *reason, part_fault fault) { return {reason, fault}; }

template <typename Visit>
void for_each_field(std::string_view part, Visit visit) {
    std::size_t at = 0;
    while (at < part.size()) {
        while (at < part.size() && is_space(part[at])) ++at;
        const std::size_t start = at;
        while (at < part.size() && !is_space(part[at])) ++at;
        if (at > start) visit(part.substr(start, at - start));
    }
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

/* Why `text` is not a whole number, or null with `*number` set. */
const char *number_reason(std::string_view text, std::int64_t *number) {
    return read_integer(without_leading_zeros(text), integer_width::i64, false, number);
}

const char *hour_reason(std::string_view value, const char *out_of_range, std::int64_t *hour) {
    if (const char *reason = number_reason(value, hour)) return reason;
    return *hour >= 0 && *hour <= 24 ? nullptr : out_of_range;
}

/* The weekday number of a three-letter name (any case), or -1. */
int weekday_of(std::string_view name) {
    for (std::size_t day = 0; day < std::size(kWeekdays); ++day)
        if (equal_nocase(name, kWeekdays[day])) return static_cast<int>(day);
    return -1;
}

/* Checks a days list ("mon-fri", "sun,sat") and writes it with the
 * weekday numbers into `output`; the reason, or null. */
const char *convert_days(std::string_view days, char *output, std::size_t capacity) {
    bool after_dash = false;
    std::size_t at = 0;
    std::size_t cursor = 0;
    output[0] = '\0';
    for (;;) {
        const std::size_t end = days.find_first_of(",-", at);
        const std::string_view piece =
            days.substr(at, end == std::string_view::npos ? end : end - at);
        const int day = weekday_of(piece);
        if (day < 0) return "Invalid weekday.  Must be sun, mon, tue, wed, thu, fri or sat";
        const char digit[2] = {static_cast<char>('0' + day), '\0'};
        if (cv_str_append(output, digit, capacity, &cursor) != CV_OK) return "Days field too long";
        if (end == std::string_view::npos) return nullptr;
        if (days[end] == '-') {
            if (after_dash) return "Two consecutive \"-\" separators";
            after_dash = true;
        } else {
            after_dash = false;
        }
        if (cv_str_to(output, &days[end], 1, capacity, &cursor) != CV_OK)
            return "Days field too long";
        at = end + 1;
    }
}

/* Why a capacity text is not a rate a change point can hold, or null. */
const char *capacity_reason(std::string_view capacity) {
    if (capacity.empty()) return "Invalid numeric in capacity field";
    cv_status status = CV_OK;
    std::uint64_t rate = 0;
    if (const char *reason = parse_bps(capacity, false, &rate, &status)) return reason;
    if (capacity.size() >= CV_UAC_CRON_VALUE_SIZE) return "Capacity longer than 63 characters";
    return nullptr;
}

/* A part without "=": a whole number or a rate above 0 that applies always. */
part_outcome convert_bare_part(std::string_view part, cv_uac_cron_point *point) {
    std::int64_t number = 0;
    const char *reason = number_reason(part, &number);
    bool positive = !reason && number > 0;
    if (reason) {
        cv_status status = CV_OK;
        std::uint64_t rate = 0;
        positive = !parse_bps(part, false, &rate, &status) && rate > 0;
    }
    if (!positive) {
        if (!reason) reason = "Invalid numeric in capacity field";
        // Several words without "=" are fields that lack it.
        bool several = false;
        for_each_field(part, [&](std::string_view field) { several |= field != part; });
        return refused(several ? kNoEqualSign : reason, part_fault::no_capacity);
    }
    if (part.size() >= CV_UAC_CRON_VALUE_SIZE)
        return refused("Capacity longer than 63 characters", part_fault::other);
    point->when[0] = '\0';
    (void)copy_view(part, point->value, sizeof point->value);
    return {};
}

/* What one ranges part means: `*point` gets its change point when it reads. */
part_outcome convert_part(std::string_view part, cv_uac_cron_point *point) {
    part = trim(part);
    if (part.empty()) return refused("Empty field", part_fault::no_capacity);
    if (part.find('=') == std::string_view::npos) return convert_bare_part(part, point);

    const char *reason = nullptr;
    bool has_start = false, has_end = false, has_days = false, has_capacity = false;
    std::int64_t start = 0, end = 0;
    char days[CV_UAC_CRON_WHEN_SIZE] = "*";
    std::string_view capacity;
    for_each_field(part, [&](std::string_view field) {
        if (reason) return;
        const std::size_t equals = field.find('=');
        if (equals == std::string_view::npos) {
            reason = kNoEqualSign;
            return;
        }
        const std::string_view key = field.substr(0, equals);
        const std::string_view value = field.substr(equals + 1);
        // A repeated field is checked, but the first one counts.
        if (key == "start") {
            std::int64_t hour = 0;
            reason = hour_reason(value, "Invalid numeric in start field (must from 0 to 24)", &hour);
            if (!has_start) start = hour;
            has_start = true;
        } else if (key == "end") {
            std::int64_t hour = 0;
            reason = hour_reason(value, "Invalid numeric in end field (must from 0 to 24)", &hour);
            if (!has_end) end = hour;
            has_end = true;
        } else if (key == "days") {
            char converted[CV_UAC_CRON_WHEN_SIZE];
            reason = convert_days(value, converted, sizeof converted);
            if (!reason && !has_days) (void)cv_str_copy(days, converted, sizeof days);
            has_days = true;
        } else if (key == "capacity") {
            reason = capacity_reason(value);
            if (!has_capacity) capacity = value;
            has_capacity = true;
        } else {
            reason = "Unrecognized cron tag";
        }
    });
    if (reason) return refused(reason, part_fault::other);
    if (!has_capacity) return refused("No capacity field", part_fault::no_capacity);
    const int present = has_start + has_end + has_days;
    if (present != 0 && present != 3)
        return refused("Must have all of start, end and days or none", part_fault::incomplete);

    char hours[32] = "*";
    if (present == 3) {
        // The hours from start up to but not including end; 24 is midnight.
        const auto first = static_cast<unsigned>(start % 24);
        const auto last = static_cast<unsigned>((end + 23) % 24);
        if (first == last)
            (void)cv_snprintf(hours, sizeof hours, "%u", first);
        else
            (void)cv_snprintf(hours, sizeof hours, "%u-%u", first, last);
    }
    std::size_t cursor = 0;
    if (cv_str_append_printf(point->when, sizeof point->when, &cursor, "* %s * * %s", hours,
                             days) != CV_OK)
        return refused("Days field too long", part_fault::other);
    (void)copy_view(capacity, point->value, sizeof point->value);
    return {};
}

/* The schedule being read: its record, and whether it must be refused. */
struct schedule_reader {
    cv_uac_cron *record;
    cv_uac_warning **warnings;
    bool refused = false;
    bool overfull = false;
    bool from_cron_form = false;

    /* Adds a change point; beyond the record's room the schedule is
     * refused, never cut. */
    void add(const cv_uac_cron_point &point) {
        if (record->count >= static_cast<std::int32_t>(CV_UAC_CRON_MAX_POINTS)) {
            overfull = true;
            return;
        }
        record->points[record->count++] = point;
    }

    void refuse_part(std::string_view part, const part_outcome &outcome) {
        refused = true;
        switch (outcome.fault) {
            case part_fault::no_capacity:
                add_warning(warnings, CV_E_UAC_PARSE, "Missing capacity.  Value provided is %.*s",
                            static_cast<int>(part.size()), part.data());
                return;
            case part_fault::incomplete:
                add_warning(warnings, CV_E_UAC_PARSE,
                            "Either all of start, end and days must be present or none");
                return;
            case part_fault::other:
            case part_fault::none:
                add_warning(warnings, CV_E_UAC_PARSE, "Invalid schedule part \"%.*s\".  %s",
                            static_cast<int>(part.size()), part.data(), outcome.reason);
                return;
        }
    }

    /* Keeps `text` as the ranges text (joined to an earlier one with ";",
     * so that writing it gives every part back) and converts its parts. */
    void read_ranges(std::string_view text) {
        const std::size_t kept = record->ranges_text ? std::strlen(record->ranges_text) + 1 : 0;
        auto *joined = static_cast<char *>(
            CV_UAC_MALLOC(kept + text.size() + 1, "CRON human to machine readable workspace"));
        if (!joined) {
            refused = true;
            return;
        }
        if (kept) {
            std::memcpy(joined, record->ranges_text, kept - 1);
            joined[kept - 1] = ';';
        }
        std::memcpy(joined + kept, text.data(), text.size());
        joined[kept + text.size()] = '\0';
        if (record->owns_text) cv_uac_free(record->ranges_text);
        record->ranges_text = joined;
        record->owns_text = 1;
        for (bool more = true; more;) {
            const std::size_t end = text.find(';');
            more = end != std::string_view::npos;
            const std::string_view part = text.substr(0, end);
            cv_uac_cron_point point{};
            const part_outcome outcome = convert_part(part, &point);
            if (outcome.reason)
                refuse_part(part, outcome);
            else
                add(point);
            text = more ? text.substr(end + 1) : std::string_view();
        }
    }

    /* Adds the change point of an epoch and a value text. */
    void add_texts(const char *when, const char *value) {
        cv_uac_cron_point point{};
        if (!copy_view(when, point.when, sizeof point.when)) {
            refused = true;
            add_warning(warnings, CV_E_UAC_PARSE,
                        "Change point epoch \"%s\" is longer than %zu characters", when,
                        CV_UAC_CRON_WHEN_SIZE - 1);
            return;
        }
        if (!copy_view(value, point.value, sizeof point.value)) {
            refused = true;
            add_warning(warnings, CV_E_UAC_PARSE,
                        "Change point value \"%s\" is longer than %zu characters", value,
                        CV_UAC_CRON_VALUE_SIZE - 1);
            return;
        }
        add(point);
    }
};

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

void read_cron_form(schedule_reader &reader, xmlNode *schedule) {
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
        reader.from_cron_form = true;
        reader.add_texts(text_or_empty(epoch), text_or_empty(value));
    }
    if (handle) (void)parse_xml_free_search_handle(handle);
}

/* The override text without leading white space and its optional wrapper. */
std::string_view override_body(const char *text) {
    while (is_space(*text)) ++text;
    std::string_view body(text);
    if (body.substr(0, kRangesOpening.size()) == kRangesOpening) {
        body.remove_prefix(kRangesOpening.size());
        if (body.size() >= kScheduleClosing.size() &&
            body.substr(body.size() - kScheduleClosing.size()) == kScheduleClosing)
            body.remove_suffix(kScheduleClosing.size());
    }
    return body;
}

void free_record(cv_uac_cron *record) {
    if (record->owns_text) cv_uac_free(record->ranges_text);
    cv_uac_free(record);
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
    schedule_reader reader{record, warnings};
    xmlNode *start[2] = {element, nullptr};
    parse_xml_search_handle *handle = nullptr;
    for (xmlNode *schedule = parse_xml_get_first_matching_node_args(
             start, &handle, PARSE_XML_TAG_schedule, PARSE_XML_END);
         schedule; schedule = parse_xml_get_next_matching_node(handle, nullptr)) {
        const char *format = format_of(schedule);
        if (!format) continue;
        if (std::strcmp(format, "cron") == 0)
            read_cron_form(reader, schedule);
        else if (std::strcmp(format, "ranges") == 0)
            if (const char *text = element_text(schedule)) reader.read_ranges(text);
    }
    if (handle) (void)parse_xml_free_search_handle(handle);

    if (record->count == 0 && !reader.refused && !reader.overfull)
        if (xmlNode *only =
                parse_xml_tracker_child(parse_xml_get_tracker(element), PARSE_XML_TAG_value)) {
            reader.from_cron_form = true;
            reader.add_texts("", text_or_empty(only));
        }
    if (reader.overfull) {
        reader.refused = true;
        add_warning(warnings, CV_E_UAC_PARSE,
                    "Schedule holds more than %zu change points.  Schedule not used",
                    CV_UAC_CRON_MAX_POINTS);
    }
    if (reader.refused) {
        free_record(record);
        return CV_E_UAC_PARSE;
    }
    if (record->count == 0) {
        free_record(record);
        slot = nullptr;
        return CV_OK;
    }
    // Change points the ranges text does not hold are written as change
    // points, all of them.
    if (reader.from_cron_form && record->owns_text) {
        cv_uac_free(record->ranges_text);
        record->ranges_text = nullptr;
        record->owns_text = 0;
    }
    slot = record;
    return CV_OK;
}

cv_status cron_check(const char *text, const char *, const char **message) {
    if (message) *message = nullptr;
    if (!text) return CV_E_INVALID;
    std::string_view rest = override_body(text);
    std::size_t points = 0;
    for (bool more = true; more;) {
        const std::size_t end = rest.find(';');
        more = end != std::string_view::npos;
        cv_uac_cron_point point{};
        const char *reason = convert_part(rest.substr(0, end), &point).reason;
        if (!reason && ++points > CV_UAC_CRON_MAX_POINTS)
            reason = "More than 256 change points";
        if (reason) {
            if (message) *message = reason;
            return CV_E_INVALID;
        }
        rest = more ? rest.substr(end + 1) : std::string_view();
    }
    return CV_OK;
}

cv_status cron_to_xml(const char *text, char *output, std::size_t capacity, const char *) {
    if (!text || !output || capacity == 0) return CV_E_INVALID;
    std::size_t cursor = 0;
    cv_status status = CV_OK;
    output[0] = '\0';
    const std::string_view body = override_body(text);
    if (is_null_marker(text)) {
        status = cv_str_copy(output, text, capacity);
    } else if (trim(body).empty()) {
        // An empty ranges element would be passed over, setting nothing.
        return CV_E_INVALID;
    } else {
        status = cv_str_append(output, kRangesOpening.data(), capacity, &cursor);
        if (status == CV_OK) status = append_escaped(output, capacity, &cursor, body);
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
