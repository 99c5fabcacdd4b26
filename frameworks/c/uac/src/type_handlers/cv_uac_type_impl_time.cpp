// The value type `time`: seconds and microseconds.
//
// Two syntaxes, told apart by the last character.  Ending in a unit, the
// scale form is read from the left: fields of a number and a unit (w, d, h,
// m, s, ms, us; any case), each unit once, "2h 30m".  Ending in a digit, the
// clock form [Nd ]HH:MM:SS[.mmm] is read from the right, so fewer leading
// fields may be given and a bare number is a count of seconds.  The exact
// text "infinite" is the infinite time.  Every sum is checked against the
// 32-bit seconds field ("overflow"); a failed read keeps the previous value.
#include <cstdint>
#include <limits>

#include "cv_uac_type_impl.h"
#include "cvplatform/cv_str.h"

namespace cv_uac_type_impl {

namespace {

constexpr std::int64_t kSecondsMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kMicrosPerSecond = 1000000;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

/* Reads the decimal digits of `digits`; false when the number overflows a
 * signed 32-bit integer. */
bool decimal(std::string_view digits, std::int64_t *value) {
    std::int64_t number = 0;
    for (char c : digits) {
        number = number * 10 + (c - '0');
        if (number > kSecondsMax) return false;
    }
    *value = number;
    return true;
}

struct unit_info {
    std::string_view name;  // lower case
    std::int64_t seconds;   // 0 for the sub-second units
    std::int64_t micros;
    const char *repeated;
};

constexpr unit_info kUnits[] = {
    {"ms", 0, 1000, "more than one msecs field"},  {"us", 0, 1, "more than one usecs field"},
    {"w", 604800, 0, "more than one weeks field"}, {"d", 86400, 0, "more than one days field"},
    {"h", 3600, 0, "more than one hours field"},   {"m", 60, 0, "more than one minutes field"},
    {"s", 1, 0, "more than one seconds field"},
};

const char *parse_scale_form(std::string_view text, std::int64_t *seconds, std::int64_t *micros) {
    bool seen[std::size(kUnits)] = {};
    std::size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && is_space(text[at])) ++at;
        if (at == text.size()) break;
        const std::size_t start = at;
        while (at < text.size() && is_digit(text[at])) ++at;
        std::int64_t number = 0;  // a field without a number counts as 0
        if (!decimal(text.substr(start, at - start), &number)) return "overflow";
        while (at < text.size() && is_space(text[at])) ++at;
        std::size_t unit = std::size(kUnits);
        for (std::size_t u = 0; u < std::size(kUnits); ++u) {
            const std::string_view name = kUnits[u].name;
            if (text.size() - at < name.size()) continue;
            bool same = true;
            for (std::size_t i = 0; i < name.size(); ++i) same &= lower(text[at + i]) == name[i];
            if (same) {
                unit = u;
                break;
            }
        }
        if (unit == std::size(kUnits))
            return "unrecognized scale type.  Should be us, ms, s, m, h, d or w (case "
                   "insensitive).";
        if (seen[unit]) return kUnits[unit].repeated;
        seen[unit] = true;
        at += kUnits[unit].name.size();
        *seconds += number * kUnits[unit].seconds;
        *micros += number * kUnits[unit].micros;
        if (*seconds > kSecondsMax) return "overflow";
    }
    return nullptr;
}

/* The run of digits that ends at `end`: its start. */
std::size_t digits_before(std::string_view text, std::size_t end) {
    while (end > 0 && is_digit(text[end - 1])) --end;
    return end;
}

/* One two-digit field of the clock form below `limit`. */
const char *clock_field(std::string_view digits, std::int64_t limit, const char *wrong_size,
                        const char *too_large, std::int64_t *value) {
    if (digits.size() != 2) return wrong_size;
    (void)decimal(digits, value);
    return *value < limit ? nullptr : too_large;
}

const char *parse_clock_form(std::string_view text, std::int64_t *seconds, std::int64_t *micros) {
    std::size_t end = text.size();
    std::size_t start = digits_before(text, end);
    if (start > 0 && text[start - 1] == '.') {
        if (end - start != 3) return "msecs field wrong size";
        std::int64_t msecs = 0;
        (void)decimal(text.substr(start, 3), &msecs);
        *micros = msecs * 1000;
        end = start - 1;
        start = digits_before(text, end);
    }
    std::int64_t field = 0;
    if (start == 0) {
        // A seconds field that starts the text is a plain count of seconds.
        if (end == 0) return "seconds field wrong size";
        if (!decimal(text.substr(0, end), &field)) return "overflow";
        *seconds = field;
        return nullptr;
    }
    if (text[start - 1] != ':') return "invalid delimiter before the seconds field";
    if (const char *reason =
            clock_field(text.substr(start, end - start), 60, "seconds field wrong size",
                        "seconds field greater than 59", &field))
        return reason;
    std::int64_t total = field;

    end = start - 1;
    start = digits_before(text, end);
    if (const char *reason =
            clock_field(text.substr(start, end - start), 60, "minutes field wrong size",
                        "minutes field greater than 59", &field))
        return reason;
    total += field * 60;
    if (start > 0 && text[start - 1] != ':') return "invalid delimiter before the minutes field";
    if (start > 0) {
        end = start - 1;
        start = digits_before(text, end);
        if (const char *reason =
                clock_field(text.substr(start, end - start), 24, "hours field wrong size",
                            "hours field greater than 23", &field))
            return reason;
        total += field * 3600;
        if (start > 0) {
            if (text[start - 1] != ' ' && text[start - 1] != '\t')
                return "invalid delimiter before the hours field";
            if (start < 2 || lower(text[start - 2]) != 'd') return "malformed day field";
            end = start - 2;
            start = digits_before(text, end);
            if (start > 0) return "unknown characters before date string";
            if (start == end) return "malformed day field";
            std::int64_t days = 0;
            if (!decimal(text.substr(start, end - start), &days)) return "overflow";
            total += days * 86400;
        }
    }
    if (total > kSecondsMax) return "overflow";
    *seconds = total;
    return nullptr;
}

}  // namespace

const char *parse_time(std::string_view text, cv_uac_time *value, cv_status *status) {
    *status = CV_E_INVALID;
    // An element's text is trimmed before it gets here; an override's is
    // trimmed here, so both accept the same texts.
    text = trim(text);
    if (text == "infinite") {
        *value = CV_UAC_TIME_INFINITE;
        *status = CV_OK;
        return nullptr;
    }
    if (text.empty()) {
        *status = CV_E_FILE_NOT_FOUND;
        return "Empty value";
    }
    std::int64_t seconds = 0;
    std::int64_t micros = 0;
    const char *reason = is_digit(text.back()) ? parse_clock_form(text, &seconds, &micros)
                                               : parse_scale_form(text, &seconds, &micros);
    if (reason) return reason;
    seconds += micros / kMicrosPerSecond;
    if (seconds > kSecondsMax) return "overflow";
    *value = cv_uac_time{static_cast<std::int32_t>(seconds),
                         static_cast<std::int32_t>(micros % kMicrosPerSecond)};
    *status = CV_OK;
    return nullptr;
}

cv_status time_read(xmlNode *element, const char *lookup, void *value, cv_uac_warning **warnings,
                    cv_btree *) {
    return read_translated<cv_uac_time>(
        element, lookup, value, warnings,
        [](std::string_view source, cv_uac_time *parsed, cv_status *status) {
            return parse_time(source, parsed, status);
        });
}

cv_status time_check(const char *text, const char *lookup, const char **message) {
    return check_translated<cv_uac_time>(
        text, lookup, message, [](std::string_view source, cv_uac_time *parsed, cv_status *status) {
            return parse_time(source, parsed, status);
        });
}

cv_status time_to_xml(const char *text, char *output, std::size_t capacity, const char *) {
    return copy_escaped(text, output, capacity);
}

cv_status time_write(const void *value, char *output, std::size_t capacity, const char *) {
    if (!value || !output || capacity == 0) return CV_E_INVALID;
    const cv_uac_time time = *static_cast<const cv_uac_time *>(value);
    if (time.seconds == CV_UAC_TIME_INFINITE.seconds &&
        time.microseconds == CV_UAC_TIME_INFINITE.microseconds) {
        const cv_status status = cv_str_copy(output, "infinite", capacity);
        if (status != CV_OK) output[0] = '\0';
        return status;
    }
    struct part {
        long divisor;
        const char *format;
    };
    static constexpr part kParts[] = {
        {604800, "%ldw"}, {86400, "%ldd"}, {3600, "%ldh"}, {60, "%ldm"}};
    long left = time.seconds;
    std::size_t cursor = 0;
    cv_status status = CV_OK;
    output[0] = '\0';
    auto append = [&](const char *format, long number) {
        if (status != CV_OK) return;
        if (cursor > 0) status = cv_str_append(output, " ", capacity, &cursor);
        if (status == CV_OK)
            status = cv_str_append_printf(output, capacity, &cursor, format, number);
    };
    for (const part &p : kParts) {
        if (left / p.divisor >= 1) append(p.format, left / p.divisor);
        left %= p.divisor;
    }
    if (left >= 1 || (cursor == 0 && time.microseconds == 0)) append("%lds", left);
    if (time.microseconds / 1000 != 0) append("%ldms", static_cast<long>(time.microseconds / 1000));
    if (time.microseconds % 1000 != 0) append("%ldus", static_cast<long>(time.microseconds % 1000));
    if (status != CV_OK) output[0] = '\0';
    return status;
}

void time_free(void *value, const void *default_value) { free_nothing(value, default_value); }

}  // namespace cv_uac_type_impl
