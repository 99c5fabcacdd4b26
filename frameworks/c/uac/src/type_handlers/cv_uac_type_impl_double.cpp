// The value type `double`.
//
// Reading is lenient: the translated text is read as a floating-point
// number as far as it goes (nothing readable is 0) and multiplied by the
// scale, without a warning.  An override is held to a strict decimal
// syntax instead (digits and at most one point, no sign, no exponent), so
// that what an administrator sets is exactly what is meant.
#include <cstdlib>

#include "cv_uac_type_impl.h"
#include "cvplatform/cv_str.h"

namespace cv_uac_type_impl {

cv_status double_read(xmlNode *element, const char *lookup, void *value, cv_uac_warning **,
                      cv_btree *) {
    if (!element || !value) return CV_E_INVALID;
    char text[CV_UAC_TRIMMED_TEXT_SIZE];
    trimmed_element_text(element, text);
    if (is_null_marker(text)) return CV_OK;
    const lookup_list list = split_lookup(lookup, true);
    char translated[CV_UAC_VALUE_TEXT_SIZE];
    const char *source = translate(text, list.pairs, translated, sizeof translated);
    *static_cast<double *>(value) = double_scale(list) * std::strtod(source, nullptr);
    return CV_OK;
}

cv_status double_check(const char *text, const char *, const char **message) {
    if (message) *message = nullptr;
    if (!text) return CV_E_INVALID;
    const char *reason = nullptr;
    const char *p = text;
    while (is_space(*p)) ++p;
    if (*p == '\0') {
        reason = "Empty value";
    } else if (is_null_marker(p)) {
        return CV_OK;
    } else {
        bool point = false;
        bool digit = false;
        for (; *p != '\0' && !is_space(*p) && !reason; ++p) {
            if (*p >= '0' && *p <= '9')
                digit = true;
            else if (*p == '.' && point)
                reason = "Mutiple decimal points";
            else if (*p == '.')
                point = true;
            else
                reason = "Invalid char";
        }
        while (!reason && is_space(*p)) ++p;
        if (!reason && *p != '\0') reason = "Invalid characters after the number";
        if (!reason && !digit) reason = "Just a period with no numeric digits";
    }
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
    (void)cv_snprintf(printed, sizeof printed, "%g",
                      *static_cast<const double *>(value) / double_scale(list));
    return write_number(list.pairs, printed, nullptr, output, capacity);
}

void double_free(void *value, const void *default_value) { free_nothing(value, default_value); }

}  // namespace cv_uac_type_impl
