// The warning list of a config object: parse and validation findings that
// never stop a resolution.
//
// A list is a singly linked chain, newest first, reached through its head
// pointer; each element carries a status, a kind and one line of text.
// Every warning is also written to the log at error level as
// "corvane.conf parsing error: %s", so a finding is never lost even when its
// element cannot be allocated.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cvplatform/cv_status.h"

/* Bytes of a warning's text, terminator included. */
inline constexpr std::size_t CV_UAC_WARNING_TEXT_SIZE = 1024;

/* Kind of a warning found while parsing a value. */
inline constexpr std::int32_t CV_UAC_WARNING_PARSE = 1;

struct cv_uac_warning {
    cv_status status;
    std::int32_t kind;
    cv_uac_warning *next; /* the warning added before this one */
    char text[CV_UAC_WARNING_TEXT_SIZE];
};

/* Adds a warning of kind `kind` at the head of `*warnings`.  The text is
 * `format` with its arguments, cut to 1023 bytes; with a null format it is
 * the text of `code`.  The text is logged at error level as "corvane.conf
 * parsing error: %s" in every case.  A null `warnings` does nothing at all;
 * an element that cannot be allocated ("Warning list element.  Warning list
 * truncated") is dropped after the log line. */
void add_warning_kind(cv_uac_warning **warnings, cv_status code, std::int32_t kind,
                      const char *format, ...) __attribute__((format(printf, 4, 5)));

/* add_warning_kind with kind CV_UAC_WARNING_PARSE. */
void add_warning(cv_uac_warning **warnings, cv_status code, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

/* Releases every element of `*warnings` and empties it (null is ignored). */
void cv_uac_free_warnings(cv_uac_warning **warnings);

/* The number of warnings in `warnings`. */
std::size_t cv_uac_warning_count(const cv_uac_warning *warnings);
