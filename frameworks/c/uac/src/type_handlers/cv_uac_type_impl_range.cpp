// The value type `range`: a pair of signed 64-bit integers (low, high).
//
// The text is split at its first ":": "5" is 5..5, "1:9" is 1..9, "3:" is
// 3 up to the largest value and ":7" the smallest value up to 7.  Each side
// is an `int64_t` text (names, scale and messages included).  The range
// changes only when both sides read, so a bad side never leaves half a new
// range.  Writing gives the same forms back; a range whose sides are equal
// is written as the one number, whatever it is.
#include <cstring>
#include <limits>

#include "cv_uac_type_impl.h"
#include "cvplatform/cv_str.h"

namespace cv_uac_type_impl {

namespace {

constexpr std::int64_t kLowest = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kHighest = std::numeric_limits<std::int64_t>::max();

}  // namespace

/* Reads the range `text` (trimmed) stands for into `*range`; a side that
 * cannot be read adds its warning (when `warnings` is given) and `*reason`
 * (may be null) gets why.  0, or 28688 with `*range` unchanged. */
static cv_status parse_range(std::string_view text, const char *name, const char *lookup,
                             cv_uac_range *range, cv_uac_warning **warnings, const char **reason) {
    text = trim(text);
    const std::size_t colon = text.find(':');
    const std::string_view low_text = text.substr(0, colon);
    const std::string_view high_text =
        colon == std::string_view::npos ? low_text : text.substr(colon + 1);
    cv_uac_range parsed = *range;
    cv_status status = CV_OK;
    auto side = [&](std::string_view side_text, std::int64_t open, std::int64_t *value) {
        if (colon != std::string_view::npos && trim(side_text).empty()) {
            *value = open;
            return;
        }
        const char *why = parse_integer(CV_UAC_TYPE_INT64, side_text, lookup, value);
        if (!why) return;
        if (reason && status == CV_OK) *reason = why;
        status = warn_integer(CV_UAC_TYPE_INT64, trim(side_text), name, why, value, warnings);
    };
    side(low_text, kLowest, &parsed.low);
    side(high_text, kHighest, &parsed.high);
    if (status == CV_OK) *range = parsed;
    return status;
}

cv_status range_read(xmlNode *element, const char *lookup, void *value, cv_uac_warning **warnings,
                     cv_btree *) {
    if (!element || !value) return CV_E_INVALID;
    const std::string_view text = trimmed_element_text(element);
    if (is_null_marker(text)) return CV_OK;
    return parse_range(text, element_name(element), lookup, static_cast<cv_uac_range *>(value),
                       warnings, nullptr);
}

cv_status range_check(const char *text, const char *lookup, const char **message) {
    if (message) *message = nullptr;
    if (!text) return CV_E_INVALID;
    if (is_null_marker(trim(text))) return CV_OK;
    cv_uac_range ignored{};
    const char *reason = nullptr;
    if (parse_range(text, "", lookup, &ignored, nullptr, &reason) == CV_OK) return CV_OK;
    if (message) *message = reason;
    return CV_E_INVALID;
}

cv_status range_to_xml(const char *text, char *output, std::size_t capacity, const char *) {
    return copy_escaped(text, output, capacity);
}

cv_status range_write(const void *value, char *output, std::size_t capacity, const char *lookup) {
    if (!value || !output || capacity == 0) return CV_E_INVALID;
    const cv_uac_range range = *static_cast<const cv_uac_range *>(value);
    std::size_t cursor = 0;
    cv_status status = CV_OK;
    output[0] = '\0';
    char side[CV_UAC_VALUE_TEXT_SIZE];
    if (range.low == range.high || !(range.low == kLowest && range.high != kHighest)) {
        status = integer_write(CV_UAC_TYPE_INT64, &range.low, side, sizeof side, lookup);
        if (status == CV_OK) status = cv_str_append(output, side, capacity, &cursor);
    }
    if (status == CV_OK && range.low != range.high) {
        status = cv_str_append(output, ":", capacity, &cursor);
        if (status == CV_OK && range.high != kHighest) {
            status = integer_write(CV_UAC_TYPE_INT64, &range.high, side, sizeof side, lookup);
            if (status == CV_OK) status = cv_str_append(output, side, capacity, &cursor);
        }
    }
    if (status != CV_OK) output[0] = '\0';
    return status;
}

void range_free(void *value, const void *default_value) { free_nothing(value, default_value); }

}  // namespace cv_uac_type_impl
