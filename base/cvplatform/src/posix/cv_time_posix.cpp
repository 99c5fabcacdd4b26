// The wall clock and local calendar time on POSIX.
//
// The time record keeps the resolution the system's clock has always given
// the log and file status: whole milliseconds, stored as microseconds.
#include "cvplatform/cv_error.h"

#include <cerrno>
#include <limits>
#include <time.h>

namespace {

constexpr long kNanosecondsPerMillisecond = 1000000;
constexpr std::int32_t kMicrosecondsPerMillisecond = 1000;

}  // namespace

cv_status cv_time_now(cv_time *now) {
    if (!now) return CV_E_INVALID;
    struct timespec ts {};
    if (::clock_gettime(CLOCK_REALTIME, &ts) != 0) return static_cast<cv_status>(errno);
    now->seconds = static_cast<std::int64_t>(ts.tv_sec);
    now->microseconds =
        static_cast<std::int32_t>(ts.tv_nsec / kNanosecondsPerMillisecond) *
        kMicrosecondsPerMillisecond;
    return CV_OK;
}

cv_status cv_time_to_local(std::int64_t seconds, struct tm *calendar) {
    if (!calendar) return CV_E_INVALID;
    if constexpr (sizeof(time_t) < sizeof(std::int64_t)) {
        if (seconds < std::numeric_limits<time_t>::min() ||
            seconds > std::numeric_limits<time_t>::max())
            return EOVERFLOW;
    }
    const time_t t = static_cast<time_t>(seconds);
    errno = 0;
    if (!::localtime_r(&t, calendar)) return errno != 0 ? static_cast<cv_status>(errno) : EOVERFLOW;
    return CV_OK;
}
