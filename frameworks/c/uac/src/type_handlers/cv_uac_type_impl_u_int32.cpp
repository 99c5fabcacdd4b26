// The value type `u_int32_t`: 32-bit unsigned integers, scaled.
// The integer types share one implementation (cv_uac_type_impl_support.cpp);
// this file binds it to the type.
#include "cv_uac_type_impl.h"

namespace cv_uac_type_impl {

cv_status uint32_read(xmlNode *element, const char *lookup, void *value, cv_uac_warning **warnings,
                      cv_btree *) {
    return integer_read(integer_type::uint32, element, lookup, value, warnings);
}

cv_status uint32_check(const char *text, const char *parameter, const char **message) {
    return integer_check(integer_type::uint32, text, parameter, message);
}

cv_status uint32_to_xml(const char *text, char *output, std::size_t capacity, const char *) {
    return copy_escaped(text, output, capacity);
}

cv_status uint32_write(const void *value, char *output, std::size_t capacity, const char *lookup) {
    return integer_write(integer_type::uint32, value, output, capacity, lookup);
}

void uint32_free(void *value, const void *default_value) { free_nothing(value, default_value); }

}  // namespace cv_uac_type_impl
