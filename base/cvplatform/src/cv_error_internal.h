// Inside the platform library: the operating-system half of the status texts
// and the clock, implemented once per platform (src/posix/ and later a
// Windows layer), and the pure helpers shared with the tests.
#pragma once

#include <cstddef>

#include "cvplatform/cv_status.h"

/* Room for the longest system message text, terminator included. */
inline constexpr std::size_t CV_ERROR_SYSTEM_TEXT_SIZE = 1024;

/* The system's message text for `code`, as the system gives it (line end
 * included where the system adds one).  0; 122 when it does not fit `size`
 * (buffer emptied); otherwise the system's error. */
cv_status cv_native_error_text(cv_status code, char *buf, std::size_t size);

/* Cuts the line end of a system message in place: from a CR second-last in a
 * text of at least 3 bytes, else a single last LF. */
void cv_error_trim_line_end(char *text);
