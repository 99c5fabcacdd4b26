// The value type `bps`: a rate in bits per second, unsigned 64-bit.
//
// A rate is a run of fields, each a decimal number and a unit letter (T, G,
// M, K, B; any case; the end of the text counts as B), each unit once, all
// added up: "1G 500M" is 1500000000.  Units are decimal, or binary when the
// option's list holds the word "power2".  "infinite" is the largest value.
// Every product and sum is checked, so a rate never wraps ("overflow"); a
// failed read keeps the previous value.
#include <cstdint>
#include <limits>

#include "cv_uac_type_impl.h"
#include "cvplatform/cv_str.h"

namespace cv_uac_type_impl {

namespace {

struct rate_unit {
    char letter;
    std::uint64_t decimal;
    std::uint64_t binary;
    const char *repeated;
};

constexpr rate_unit kRateUnits[] = {
    {'T', 1000000000000ULL, 1ULL << 40, "more than one tera field"},
    {'G', 1000000000ULL, 1ULL << 30, "more than one giga field"},
    {'M', 1000000ULL, 1ULL << 20, "more than one mega field"},
    {'K', 1000ULL, 1ULL << 10, "more than one kilo field"},
    {'B', 1ULL, 1ULL, "more than one units field"},
};
constexpr std::size_t kUnitsField = 4;

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

const char *parse_bps(std::string_view text, bool power2, std::uint64_t *value, cv_status *status) {
    *status = CV_E_INVALID;
    // An element's text is trimmed before it gets here; an override's is
    // trimmed here, so both accept the same texts.
    text = trim(text);
    if (text == "infinite") {
        *value = std::numeric_limits<std::uint64_t>::max();
        *status = CV_OK;
        return nullptr;
    }
    if (text.empty()) {
        *status = CV_E_FILE_NOT_FOUND;
        return "Empty value";
    }
    bool seen[std::size(kRateUnits)] = {};
    std::uint64_t total = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        std::uint64_t number = 0;  // a field without a number counts as 0
        for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at)
            if (__builtin_mul_overflow(number, 10u, &number) ||
                __builtin_add_overflow(number, static_cast<unsigned>(text[at] - '0'), &number))
                return "overflow";
        while (at < text.size() && is_space(text[at])) ++at;
        std::size_t unit = kUnitsField;
        if (at < text.size()) {
            for (unit = 0; unit < std::size(kRateUnits); ++unit)
                if (upper(text[at]) == kRateUnits[unit].letter) break;
            if (unit == std::size(kRateUnits))
                return "unrecognized scale type.  Should be T, G, M, K, or B (case insensitive).";
            ++at;
        }
        if (seen[unit]) return kRateUnits[unit].repeated;
        seen[unit] = true;
        const std::uint64_t multiple = power2 ? kRateUnits[unit].binary : kRateUnits[unit].decimal;
        std::uint64_t field = 0;
        if (__builtin_mul_overflow(number, multiple, &field) ||
            __builtin_add_overflow(total, field, &total))
            return "overflow";
        while (at < text.size() && is_space(text[at])) ++at;
    }
    *value = total;
    *status = CV_OK;
    return nullptr;
}

cv_status bps_read(xmlNode *element, const char *lookup, void *value, cv_uac_warning **warnings,
                   cv_btree *) {
    const bool power2 = lookup_selects_power2(lookup);
    return read_translated<std::uint64_t>(
        element, lookup, value, warnings,
        [power2](std::string_view source, std::uint64_t *parsed, cv_status *status) {
            return parse_bps(source, power2, parsed, status);
        });
}

cv_status bps_check(const char *text, const char *lookup, const char **message) {
    const bool power2 = lookup_selects_power2(lookup);
    return check_translated<std::uint64_t>(
        text, lookup, message,
        [power2](std::string_view source, std::uint64_t *parsed, cv_status *status) {
            return parse_bps(source, power2, parsed, status);
        });
}

cv_status bps_to_xml(const char *text, char *output, std::size_t capacity, const char *) {
    return copy_escaped(text, output, capacity);
}

cv_status bps_write(const void *value, char *output, std::size_t capacity, const char *lookup) {
    if (!value || !output || capacity == 0) return CV_E_INVALID;
    const bool power2 = lookup_selects_power2(lookup);
    std::uint64_t left = *static_cast<const std::uint64_t *>(value);
    std::size_t cursor = 0;
    cv_status status = CV_OK;
    output[0] = '\0';
    for (std::size_t unit = 0; unit < std::size(kRateUnits) && status == CV_OK; ++unit) {
        const std::uint64_t multiple = power2 ? kRateUnits[unit].binary : kRateUnits[unit].decimal;
        const std::uint64_t count = left / multiple;
        left %= multiple;
        const bool last = unit == kUnitsField;
        if (count == 0 && !(last && cursor == 0)) continue;
        if (cursor > 0) status = cv_str_append(output, " ", capacity, &cursor);
        if (status == CV_OK)
            status = cv_str_append_printf(output, capacity, &cursor, "%llu%c",
                                          static_cast<unsigned long long>(count),
                                          kRateUnits[unit].letter);
    }
    if (status != CV_OK) output[0] = '\0';
    return status;
}

void bps_free(void *value, const void *default_value) { free_nothing(value, default_value); }

}  // namespace cv_uac_type_impl
