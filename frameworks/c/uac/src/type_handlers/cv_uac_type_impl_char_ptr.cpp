// The value type `char_ptr`: an owned string, or none.
//
// The element's text is taken as it is, after expanding $(name) variables
// when the caller gives a variable tree; a text that cannot be expanded is
// kept raw (and said so in the log), so a missing variable never loses a
// value.  "CV_NULL" means none; an element without text gives the shared
// empty string unless a value is already set.  Written values and overrides
// are escaped for XML.  The helpers of the three string types live here.
#include <cstring>

#include "cv_uac_type_impl.h"
#include "cvplatform/cv_log.h"
#include "cvplatform/cv_str.h"
#include "uac/cv_uac_memory_heap.h"
#include "uac/parse_xml.h"

namespace cv_uac_type_impl {

const char *expanded_text(const xmlNode *element, cv_btree *variables, char *buffer,
                          std::size_t capacity) {
    const char *raw = element_text(element);
    if (!raw || !variables) return raw;
    if (cv_parse_variables_into_string(raw, buffer, capacity, variables, nullptr) == CV_OK)
        return buffer;
    cv_log_info("Missing string variables.  Entire string left untranslated (%s)", raw);
    return raw;
}

cv_status write_string(const void *value, char *output, std::size_t capacity) {
    if (!value || !output || capacity == 0) return CV_E_INVALID;
    const char *text = *static_cast<char *const *>(value);
    return copy_escaped(text ? text : CV_UAC_NULL, output, capacity);
}

cv_status char_ptr_read(xmlNode *element, const char *, void *value, cv_uac_warning **,
                        cv_btree *variables) {
    if (!element || !value) return CV_E_INVALID;
    char *&slot = *static_cast<char **>(value);
    char expanded[CV_UAC_EXPANSION_SIZE];
    const char *text = expanded_text(element, variables, expanded, sizeof expanded);
    if (!text) {
        if (!slot) slot = cv_uac_shared_empty_string();
        return CV_OK;
    }
    if (is_null_marker(text)) {
        slot = nullptr;
        return CV_OK;
    }
    slot = CV_UAC_STRDUP(text, "Duplicate of XML node string data in config file");
    return slot ? CV_OK : CV_E_NO_MEMORY;
}

cv_status char_ptr_check(const char *text, const char *, const char **message) {
    if (message) *message = nullptr;
    return text ? CV_OK : CV_E_INVALID;
}

cv_status char_ptr_to_xml(const char *text, char *output, std::size_t capacity, const char *) {
    return copy_escaped(text, output, capacity);
}

cv_status char_ptr_write(const void *value, char *output, std::size_t capacity, const char *) {
    return write_string(value, output, capacity);
}

void char_ptr_free(void *value, const void *default_value) { free_string(value, default_value); }

}  // namespace cv_uac_type_impl
