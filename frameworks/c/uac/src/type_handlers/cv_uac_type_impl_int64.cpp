// The value type `int64_t`: 64-bit signed integers, scaled by the list's
// scale field.
// The integer types share one implementation (cv_uac_type_impl_support.cpp);
// this file binds it to the type.
#include "cv_uac_type_impl.h"

namespace cv_uac_type_impl {

cv_status int64_read(xmlNode *element, const char *lookup, void *value, cv_uac_warning **warnings,
                     cv_btree *) {
    return integer_read(integer_type::int64, element, lookup, value, warnings);
}

cv_status int64_check(const char *text, const char *parameter, const char **message) {
    return integer_check(integer_type::int64, text, parameter, message);
}

cv_status int64_to_xml(const char *text, char *output, std::size_t capacity, const char *) {
    return copy_escaped(text, output, capacity);
}

cv_status int64_write(const void *value, char *output, std::size_t capacity, const char *lookup) {
    return integer_write(integer_type::int64, value, output, capacity, lookup);
}

void int64_free(void *value, const void *default_value) { free_nothing(value, default_value); }

}  // namespace cv_uac_type_impl
