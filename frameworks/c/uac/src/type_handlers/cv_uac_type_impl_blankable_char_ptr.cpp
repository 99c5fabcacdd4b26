// The value type `blankable_char_ptr`: a trimmed string that can also be
// "present but empty".
//
// An element present without text sets the shared blank string, which
// reads as "" but differs by address from none and from an owned empty
// copy, so that "set to nothing" and "not set" stay apart.  Otherwise the
// type reads as `trimmed_char_ptr`.
#include "cv_uac_type_impl.h"

namespace cv_uac_type_impl {

cv_status blankable_char_ptr_read(xmlNode *element, const char *, void *value, cv_uac_warning **,
                                  cv_btree *variables) {
    if (!element || !value) return CV_E_INVALID;
    if (!element_text(element)) {
        *static_cast<char **>(value) = cv_uac_shared_blank_string();
        return CV_OK;
    }
    return read_trimmed_string(element, value, variables);
}

cv_status blankable_char_ptr_check(const char *text, const char *parameter, const char **message) {
    return char_ptr_check(text, parameter, message);
}

cv_status blankable_char_ptr_to_xml(const char *text, char *output, std::size_t capacity,
                                    const char *) {
    return copy_escaped(text, output, capacity);
}

cv_status blankable_char_ptr_write(const void *value, char *output, std::size_t capacity,
                                   const char *) {
    return write_string(value, output, capacity);
}

void blankable_char_ptr_free(void *value, const void *default_value) {
    free_string(value, default_value);
}

}  // namespace cv_uac_type_impl
