// The value type `trimmed_char_ptr`: an owned string without surrounding
// white space, or none.
//
// As `char_ptr`, except that "CV_NULL" and an element without text leave
// the value as it is, and the copy leaves out leading and trailing white
// space (the copy is sized to the trimmed text, whatever its length).
#include <cstring>

#include "cv_uac_type_impl.h"
#include "uac/cv_uac_memory_heap.h"

namespace cv_uac_type_impl {

cv_status read_trimmed_string(xmlNode *element, void *value, cv_btree *variables) {
    char *&slot = *static_cast<char **>(value);
    char expanded[CV_UAC_EXPANSION_SIZE];
    const char *text = expanded_text(element, variables, expanded, sizeof expanded);
    if (!text) return CV_OK;
    const std::string_view trimmed = trim(text);
    if (is_null_marker(trimmed)) return CV_OK;
    auto *copy = static_cast<char *>(
        CV_UAC_MALLOC(trimmed.size() + 1, "Trimmed char buffer.  String will not be available"));
    if (!copy) {
        slot = nullptr;
        return CV_E_NO_MEMORY;
    }
    std::memcpy(copy, trimmed.data(), trimmed.size());
    copy[trimmed.size()] = '\0';
    slot = copy;
    return CV_OK;
}

cv_status trimmed_char_ptr_read(xmlNode *element, const char *, void *value, cv_uac_warning **,
                                cv_btree *variables) {
    if (!element || !value) return CV_E_INVALID;
    return read_trimmed_string(element, value, variables);
}

cv_status trimmed_char_ptr_check(const char *text, const char *parameter, const char **message) {
    return char_ptr_check(text, parameter, message);
}

cv_status trimmed_char_ptr_to_xml(const char *text, char *output, std::size_t capacity,
                                  const char *) {
    return copy_escaped(text, output, capacity);
}

cv_status trimmed_char_ptr_write(const void *value, char *output, std::size_t capacity,
                                 const char *) {
    return write_string(value, output, capacity);
}

void trimmed_char_ptr_free(void *value, const void *default_value) {
    free_string(value, default_value);
}

}  // namespace cv_uac_type_impl
