// Native types that public records must hold by value.
//
// Only the types live here, never calls: the operating-system calls sit in the
// platform library's per-platform source files.  A Windows layer adds its own
// branch beside the POSIX one.
#pragma once

#if defined(_WIN32)
#error "the Windows layer is not built yet"
#else
#include <pthread.h>

/* An open file: a file descriptor; CV_FILE_INVALID means "not open". */
using cv_file_handle = int;
inline constexpr cv_file_handle CV_FILE_INVALID = -1;

/* The lock inside a cv_mutex: a plain, non-recursive mutex. */
using cv_native_lock = pthread_mutex_t;
#endif
