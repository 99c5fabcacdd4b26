// Owner-checking, non-recursive mutexes, and thread and process ids.
//
// A cv_mutex remembers the thread that holds it.  A thread that tries to take
// a lock it already holds is reported at once (a log line, a backtrace, then a
// debugger breakpoint) instead of deadlocking silently, and a release by any
// thread but the owner is refused.  The owner is written only while the lock
// is held; the check before blocking reads it without the lock, which is safe
// because a stale value can only differ from the caller's own id.
#pragma once

#include <atomic>
#include <cstdint>

#include "cvplatform/cv_native.h"
#include "cvplatform/cv_status.h"

struct cv_mutex {
    cv_native_lock lock;
    std::atomic<std::uint32_t> owner;  /* thread id of the holder; 0 = free */
};

/* Initialises `m` (free, owner 0).  Always 0. */
cv_status cv_mutex_init(cv_mutex *m);

/* Takes `m`, blocking while another thread holds it.  Returns 0.  When the
 * calling thread already holds it, logs "cv_mutex_acquire: attempt to
 * reacquire non-recursive mutex.  Aborting." (ERR) and the thread's backtrace,
 * then raises a debugger breakpoint; should a debugger continue, returns 183
 * (CV_E_ALREADY_HELD) without locking. */
[[nodiscard]] cv_status cv_mutex_acquire(cv_mutex *m);

/* Releases `m`.  Returns 0, or 1 with the log line "Attempt to release mutex
 * by non-owner thread" (LOG) when the caller is not the owner; the lock is then
 * left untouched. */
cv_status cv_mutex_release(cv_mutex *m);

/* Destroys `m` after its last use.  Always 0. */
cv_status cv_mutex_destroy(cv_mutex *m);

/* The calling thread's numeric id (never 0). */
std::uint32_t cv_thread_id();

/* The calling process's numeric id. */
std::uint32_t cv_process_id();

/* RAII guard for code that must release on every path.  `status()` is the
 * acquire status; the guard releases only what it acquired. */
class cv_mutex_guard {
public:
    explicit cv_mutex_guard(cv_mutex *m) : m_(m), status_(cv_mutex_acquire(m)) {}
    ~cv_mutex_guard() {
        if (status_ == CV_OK) cv_mutex_release(m_);
    }
    cv_mutex_guard(const cv_mutex_guard &) = delete;
    cv_mutex_guard &operator=(const cv_mutex_guard &) = delete;
    [[nodiscard]] cv_status status() const { return status_; }

private:
    cv_mutex *m_;
    cv_status status_;
};
