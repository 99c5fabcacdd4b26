// The value type `range`: a pair of signed 64-bit integers (low, high).
//
// The text is split at its first ":": "5" is 5..5, "1:9" is 1..9, "3:" is
// 3 up to the largest value and ":7" the smallest value up to 7.  Each side
// is an `int64_t` text (names, scale and messages included) and keeps its
// previous value when it cannot be read.  Writing gives the same forms back.
#include <cstring>
#include <limits>

#include "cv_uac_type_impl.h"
#include "cvplatform/cv_str.h"

namespace cv_uac_type_impl {

namespace {

constexpr std::int64_t kLowest = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kHighest = std::numeric_limits<std::int64_t>::max();

}  // namespace

cv_status range_read(xmlNode *element, const char *lookup, void *value, cv_uac_warning **warnings,
                     cv_btree *) {
    if (!element || !value) return CV_E_INVALID;
    char text[CV_UAC_TRIMMED_TEXT_SIZE];
    trimmed_element_text(element, text);
    if (is_null_marker(text)) return CV_OK;
    auto &range = *static_cast<cv_uac_range *>(value);
    const char *name = element_name(element);
    char *colon = std::strchr(text, ':');
    if (!colon) {
        cv_status status =
            integer_read_text(integer_type::int64, text, name, lookup, &range.low, warnings);
        if (status == CV_OK) range.high = range.low;
        return status;
    }
    *colon = '\0';
    const char *high_text = colon + 1;
    cv_status status = CV_OK;
    if (text[0] == '\0')
        range.low = kLowest;
    else
        status = integer_read_text(integer_type::int64, text, name, lookup, &range.low, warnings);
    if (high_text[0] == '\0') {
        range.high = kHighest;
    } else if (cv_status high = integer_read_text(integer_type::int64, high_text, name, lookup,
                                                  &range.high, warnings);
               high != CV_OK) {
        status = high;
    }
    return status;
}

cv_status range_check(const char *text, const char *lookup, const char **message) {
    if (message) *message = nullptr;
    if (!text) return CV_E_INVALID;
    char copy[CV_UAC_VALUE_TEXT_SIZE];
    if (!copy_view(trim(text), copy, sizeof copy)) {
        if (message) *message = kMalformedNumber;
        return CV_E_INVALID;
    }
    char *colon = std::strchr(copy, ':');
    if (!colon) return integer_check(integer_type::int64, copy, lookup, message);
    *colon = '\0';
    if (copy[0] != '\0')
        if (cv_status status = integer_check(integer_type::int64, copy, lookup, message);
            status != CV_OK)
            return status;
    if (colon[1] == '\0') return CV_OK;
    return integer_check(integer_type::int64, colon + 1, lookup, message);
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
    if (!(range.low == kLowest && range.high != kHighest)) {
        status = integer_write(integer_type::int64, &range.low, side, sizeof side, lookup);
        if (status == CV_OK) status = cv_str_append(output, side, capacity, &cursor);
    }
    if (status == CV_OK && range.low != range.high) {
        status = cv_str_append(output, ":", capacity, &cursor);
        if (status == CV_OK && range.high != kHighest) {
            status = integer_write(integer_type::int64, &range.high, side, sizeof side, lookup);
            if (status == CV_OK) status = cv_str_append(output, side, capacity, &cursor);
        }
    }
    if (status != CV_OK) output[0] = '\0';
    return status;
}

void range_free(void *value, const void *default_value) { free_nothing(value, default_value); }

}  // namespace cv_uac_type_impl
