// The owner-checking mutex over a plain pthread mutex, and thread and process
// ids.
#include "cvplatform/cv_mutex.h"

#include <csignal>
#include <cstring>
#include <sys/syscall.h>
#include <unistd.h>

#include "cvplatform/cv_crash.h"
#include "cvplatform/cv_log.h"

namespace {

// Each thread asks the kernel for its id once.  The child of a fork is a new
// thread with the forking thread's memory: its cache is cleared there.
thread_local std::uint32_t cached_thread_id = 0;

void forget_thread_id_in_child() { cached_thread_id = 0; }

}  // namespace

std::uint32_t cv_thread_id() {
    if (cached_thread_id == 0) {
        static const int registered = ::pthread_atfork(nullptr, nullptr, forget_thread_id_in_child);
        (void)registered;
        cached_thread_id = static_cast<std::uint32_t>(::syscall(SYS_gettid));
    }
    return cached_thread_id;
}

std::uint32_t cv_process_id() { return static_cast<std::uint32_t>(::getpid()); }

cv_status cv_mutex_init(cv_mutex *m) {
    std::memset(static_cast<void *>(m), 0, sizeof *m);
    pthread_mutex_init(&m->lock, nullptr);
    m->owner.store(0, std::memory_order_relaxed);
    return CV_OK;
}

cv_status cv_mutex_acquire(cv_mutex *m) {
    const std::uint32_t self = cv_thread_id();
    if (m->owner.load(std::memory_order_relaxed) == self) {
        cv_log_error("cv_mutex_acquire: attempt to reacquire non-recursive mutex.  Aborting.");
        cv_backtrace_log_current();
        cv_log_flush();
        ::raise(SIGTRAP);
        return CV_E_ALREADY_HELD;
    }
    pthread_mutex_lock(&m->lock);
    m->owner.store(self, std::memory_order_relaxed);
    return CV_OK;
}

cv_status cv_mutex_release(cv_mutex *m) {
    if (m->owner.load(std::memory_order_relaxed) != cv_thread_id()) {
        cv_log_info("Attempt to release mutex by non-owner thread");
        return 1;
    }
    m->owner.store(0, std::memory_order_relaxed);
    pthread_mutex_unlock(&m->lock);
    return CV_OK;
}

cv_status cv_mutex_destroy(cv_mutex *m) {
    pthread_mutex_destroy(&m->lock);
    return CV_OK;
}
