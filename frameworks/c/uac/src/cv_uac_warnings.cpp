// The warning list of a config object.  Adding formats into a fixed buffer
// first, so the log line is written even when no element can be had.
#include "uac/cv_uac_warnings.h"

#include <cstdarg>

#include "cvplatform/cv_error.h"
#include "cvplatform/cv_log.h"
#include "cvplatform/cv_str.h"
#include "uac/cv_uac_memory_heap.h"

namespace {

void add_warning_va(cv_uac_warning **warnings, cv_status code, std::int32_t kind,
                    const char *format, va_list args) {
    if (!warnings) return;
    char text[CV_UAC_WARNING_TEXT_SIZE];
    if (format) {
        if (cv_vsnprintf(text, sizeof text, format, args) < 0) text[0] = '\0';
    } else {
        char scratch[CV_UAC_WARNING_TEXT_SIZE];
        (void)cv_str_copy(text, cv_strerror(code, scratch, sizeof scratch), sizeof text);
    }
    cv_log_error("corvane.conf parsing error: %s", text);
    auto *element = static_cast<cv_uac_warning *>(
        CV_UAC_MALLOC(sizeof(cv_uac_warning), "Warning list element.  Warning list truncated"));
    if (!element) return;
    element->status = code;
    element->kind = kind;
    (void)cv_str_copy(element->text, text, sizeof element->text);
    element->next = *warnings;
    *warnings = element;
}

}  // namespace

void add_warning_kind(cv_uac_warning **warnings, cv_status code, std::int32_t kind,
                      const char *format, ...) {
    va_list args;
    va_start(args, format);
    add_warning_va(warnings, code, kind, format, args);
    va_end(args);
}

void add_warning(cv_uac_warning **warnings, cv_status code, const char *format, ...) {
    va_list args;
    va_start(args, format);
    add_warning_va(warnings, code, CV_UAC_WARNING_PARSE, format, args);
    va_end(args);
}

void cv_uac_free_warnings(cv_uac_warning **warnings) {
    if (!warnings) return;
    for (cv_uac_warning *element = *warnings; element;) {
        cv_uac_warning *next = element->next;
        cv_uac_free(element);
        element = next;
    }
    *warnings = nullptr;
}

std::size_t cv_uac_warning_count(const cv_uac_warning *warnings) {
    std::size_t count = 0;
    for (; warnings; warnings = warnings->next) ++count;
    return count;
}
