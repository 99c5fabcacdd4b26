// The value type `octal_32`: 32-bit values in octal: every text is read as
// octal (644 is 420) and written back with at least three digits.
// The integer types share one implementation (cv_uac_type_impl_support.cpp);
// this file binds it to the type.
#include "cv_uac_type_impl.h"

namespace cv_uac_type_impl {

cv_status octal32_read(xmlNode *element, const char *lookup, void *value, cv_uac_warning **warnings,
                       cv_btree *) {
    return integer_read(integer_type::octal32, element, lookup, value, warnings);
}

cv_status octal32_check(const char *text, const char *parameter, const char **message) {
    return integer_check(integer_type::octal32, text, parameter, message);
}

cv_status octal32_to_xml(const char *text, char *output, std::size_t capacity, const char *) {
    return copy_escaped(text, output, capacity);
}

cv_status octal32_write(const void *value, char *output, std::size_t capacity, const char *lookup) {
    return integer_write(integer_type::octal32, value, output, capacity, lookup);
}

void octal32_free(void *value, const void *default_value) { free_nothing(value, default_value); }

}  // namespace cv_uac_type_impl
