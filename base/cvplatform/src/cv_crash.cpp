// Crash reporting.  The fatal-fault handler and symbolised backtraces are not
// built yet: installing and removing succeed and do nothing, and a backtrace
// request leaves a placeholder line in the log.
#include "cvplatform/cv_crash.h"

#include "cvplatform/cv_log.h"

cv_status cv_crash_handler_install() { return CV_OK; }

cv_status cv_crash_handler_remove() { return CV_OK; }

void cv_backtrace_log_current() { cv_log_error("Backtrace: not available in this build"); }
