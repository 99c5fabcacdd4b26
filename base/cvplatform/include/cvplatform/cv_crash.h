// Crash reporting: the fatal-fault handler and backtraces written to the log.
#pragma once

#include "cvplatform/cv_status.h"

/* Installs the process-wide handler that writes a fatal fault's name and a
 * backtrace to the log.  Idempotent.  The log installs it when it opens. */
cv_status cv_crash_handler_install();

/* Removes the handler installed by cv_crash_handler_install.  Idempotent. */
cv_status cv_crash_handler_remove();

/* Writes the calling thread's backtrace to the log at level ERR. */
void cv_backtrace_log_current();
