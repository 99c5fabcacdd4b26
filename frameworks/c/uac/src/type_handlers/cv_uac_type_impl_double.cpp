// The value type `double`.
//
// One decimal syntax serves the element's text and an override alike: an
// optional sign, digits with at most one point, an optional exponent, and
// nothing after but white space.  A text outside it keeps the previous
// value with a warning, never a silent 0.  A value is written with the
// fewest significant digits (six at least) that read back as the same
// number, so serializing never rounds a value away.
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "cv_uac_type_impl.h"
#include "cvplatform/cv_str.h"

namespace cv_uac_type_impl {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

/* The number `text` (trimmed) stands for, or the reason it stands for none. */
const char *parse_decimal(std::string_view text, double *value) {
    if (text.empty()) return "Empty value";
    std::size_t at = 0;
    const bool negative = text[0] == '-';
    if (text[0] == '-' || text[0] == '+') ++at;
    const std::size_t mantissa = at;
    bool point = false;
    bool digit = false;
    for (; at < text.size() && !is_space(text[at]); ++at) {
        const char c = text[at];
        if (is_digit(c)) {
            digit = true;
        } else if (c == '.') {
            if (point) return "Mutiple decimal points";
            point = true;
        } else if ((c == 'e' || c == 'E') && digit) {
            std::size_t exponent = at + 1;
            if (exponent < text.size() && (text[exponent] == '-' || text[exponent] == '+'))
                ++exponent;
            if (exponent == text.size() || !is_digit(text[exponent])) return "Invalid char";
            at = exponent;
            while (at < text.size() && is_digit(text[at])) ++at;
            break;
        } else {
            return "Invalid char";
        }
    }
    const std::size_t number_end = at;
    while (at < text.size() && is_space(text[at])) ++at;
    if (at < text.size()) return "Invalid characters after the number";
    if (!digit) return "Just a period with no numeric digits";
    double magnitude = 0.0;
    const auto [end, error] = std::from_chars(text.data() + mantissa, text.data() + number_end,
                                              magnitude, std::chars_format::general);
    // Too large or too small to hold: refused rather than rounded to
    // infinity or to zero.
    if (error == std::errc::result_out_of_range) return kOutOfRange;
    if (error != std::errc() || end != text.data() + number_end) return kMalformedNumber;
    *value = negative ? -magnitude : magnitude;
    return nullptr;
}

/* The scaled number of `text` after name translation, or the reason. */
const char *parse_double(std::string_view text, const char *lookup, double *value) {
    const lookup_list list = split_lookup(lookup, true);
    double number = 0.0;
    if (const char *reason = parse_decimal(trim(translate(trim(text), list.pairs)), &number))
        return reason;
    number *= double_scale(list);
    if (!std::isfinite(number)) return kOutOfRange;
    *value = number;
    return nullptr;
}

/* `number` in the fewest significant digits, from six up, that read back
 * exactly. */
void print_shortest(double number, char *output, std::size_t capacity) {
    for (int precision = 6; precision <= 17; ++precision) {
        (void)cv_snprintf(output, capacity, "%.*g", precision, number);
        if (std::strtod(output, nullptr) == number) return;
    }
}

}  // namespace

cv_status double_read(xmlNode *element, const char *lookup, void *value,
                      cv_uac_warning **warnings, cv_btree *) {
    if (!element || !value) return CV_E_INVALID;
    const std::string_view text = trimmed_element_text(element);
    if (is_null_marker(text)) return CV_OK;
    double number = 0.0;
    if (const char *reason = parse_double(text, lookup, &number)) {
        char current[64];
        print_shortest(*static_cast<double *>(value), current, sizeof current);
        add_warning(warnings, CV_E_UAC_PARSE,
                    "Invalid value passed to %s: \"%.*s\" (%s).  Using default of %s instead",
                    element_name(element), static_cast<int>(text.size()), text.data(), reason,
                    current);
        return CV_E_UAC_PARSE;
    }
    *static_cast<double *>(value) = number;
    return CV_OK;
}

cv_status double_check(const char *text, const char *lookup, const char **message) {
    if (message) *message = nullptr;
    if (!text) return CV_E_INVALID;
    const std::string_view trimmed = trim(text);
    if (is_null_marker(trimmed)) return CV_OK;
    double ignored = 0.0;
    const char *reason = parse_double(trimmed, lookup, &ignored);
    if (!reason) return CV_OK;
    if (message) *message = reason;
    return CV_E_INVALID;
}

cv_status double_to_xml(const char *text, char *output, std::size_t capacity, const char *) {
    return copy_escaped(text, output, capacity);
}

cv_status double_write(const void *value, char *output, std::size_t capacity, const char *lookup) {
    if (!value || !output || capacity == 0) return CV_E_INVALID;
    const lookup_list list = split_lookup(lookup, true);
    char printed[64];
    print_shortest(*static_cast<const double *>(value) / double_scale(list), printed,
                   sizeof printed);
    return write_number(list.pairs, printed, nullptr, output, capacity);
}

void double_free(void *value, const void *default_value) { free_nothing(value, default_value); }

}  // namespace cv_uac_type_impl
