// The value type `boolean`: 0 or 1 in 32 bits.
//
// A text is true when it starts with one of "yY1tT" and false when it starts
// with one of "nN0fF".  An option may name its own two words in its lookup
// list, "false_word:true_word": the false word is compared without regard
// to case, the true word exactly, and other texts still fall back to the
// first-letter rule.  A list without ":" cannot say what any text means:
// such an option refuses every text, from XML and as an override alike,
// and keeps its value.
#include <cstring>

#include "cv_uac_type_impl.h"
#include "cvplatform/cv_str.h"

namespace cv_uac_type_impl {

namespace {

constexpr std::string_view kTrueLetters = "yY1tT";
constexpr std::string_view kFalseLetters = "nN0fF";

thread_local char custom_message[CV_UAC_BOOLEAN_MESSAGE_SIZE];

/* The value `text` stands for: 1, 0, or -1 when it is not recognised.  A
 * null `lookup` means no custom words. */
int boolean_of(const char *text, const char *lookup) {
    if (lookup) {
        const char *colon = std::strchr(lookup, ':');
        if (!colon) return -1;
        const std::string_view false_word(lookup, static_cast<std::size_t>(colon - lookup));
        if (equal_nocase(text, false_word)) return 0;
        if (std::strcmp(text, colon + 1) == 0) return 1;
    }
    if (text[0] != '\0' && kTrueLetters.find(text[0]) != std::string_view::npos) return 1;
    if (text[0] != '\0' && kFalseLetters.find(text[0]) != std::string_view::npos) return 0;
    return -1;
}

const char *skip_space(const char *text) {
    while (is_space(*text)) ++text;
    return text;
}

}  // namespace

cv_status boolean_read(xmlNode *element, const char *lookup, void *value, cv_uac_warning **warnings,
                       cv_btree *) {
    if (!element || !value) return CV_E_INVALID;
    const char *raw = element_text(element);
    const char *text = skip_space(raw ? raw : "");
    auto &flag = *static_cast<std::int32_t *>(value);
    const int parsed = boolean_of(text, lookup);
    if (parsed < 0) {
        add_warning(warnings, CV_E_UAC_PARSE,
                    "Unrecognized boolean value \"%s\" (%s).  Reverting to default of %s.", text,
                    "xml", flag ? "true" : "false");
        return CV_E_UAC_PARSE;
    }
    flag = parsed;
    return CV_OK;
}

cv_status boolean_check(const char *text, const char *parameter, const char **message) {
    if (message) *message = nullptr;
    if (!text) return CV_E_INVALID;
    if (boolean_of(skip_space(text), parameter) >= 0) return CV_OK;
    if (message) {
        if (parameter) {
            (void)cv_snprintf(custom_message, sizeof custom_message,
                              "Not in custom list of allowable values (%s)", parameter);
            *message = custom_message;
        } else {
            *message = "Not a recognizable boolean value (should start with yY1tT or nN0fF)";
        }
    }
    return CV_E_INVALID;
}

cv_status boolean_to_xml(const char *text, char *output, std::size_t capacity, const char *) {
    return copy_escaped(text, output, capacity);
}

cv_status boolean_write(const void *value, char *output, std::size_t capacity, const char *lookup) {
    if (!value || !output || capacity == 0) return CV_E_INVALID;
    const bool set = *static_cast<const std::int32_t *>(value) != 0;
    const char *colon = lookup ? std::strchr(lookup, ':') : nullptr;
    cv_status status = CV_OK;
    if (colon)
        status = set ? cv_str_copy(output, colon + 1, capacity)
                     : cv_str_to(output, lookup, static_cast<std::size_t>(colon - lookup), capacity,
                                 nullptr);
    else
        status = cv_str_copy(output, set ? "true" : "false", capacity);
    if (status != CV_OK) output[0] = '\0';
    return status;
}

void boolean_free(void *value, const void *default_value) { free_nothing(value, default_value); }

}  // namespace cv_uac_type_impl
