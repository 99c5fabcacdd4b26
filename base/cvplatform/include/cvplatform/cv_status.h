// Status codes shared by the whole system.
//
// Nearly every operation returns an unsigned 32-bit status.  0 is success.
// Other values are operating-system error codes as they stand (on POSIX the
// errno value), or the platform's own codes from 0x7000 upward.  The few
// system codes that callers test for by value are named here with the value
// they have on every platform this system runs on.  `cv_error_to_string`
// (cv_error.h) turns any status into text.
#pragma once

#include <cstdint>

using cv_status = std::uint32_t;

enum : cv_status {
    CV_OK = 0,

    // System codes that callers compare against.
    CV_E_FILE_NOT_FOUND = 2,       /* no such file */
    CV_E_PATH_NOT_FOUND = 3,       /* a directory on the way does not exist */
    CV_E_NO_MEMORY = 8,            /* an allocation failed */
    CV_E_OUT_OF_MEMORY = 14,       /* an expansion did not fit its bound */
    CV_E_NO_MORE_FILES = 18,       /* native listing exhausted */
    CV_E_INVALID = 22,             /* invalid argument or input */
    CV_E_INVALID_PARAMETER = 87,   /* native invalid-parameter report */
    CV_E_BUFFER_TOO_SMALL = 122,   /* a destination is too small; size reported */
    CV_E_ALREADY_SET = 145,        /* a key already holds a value */
    CV_E_ALREADY_HELD = 183,       /* a lock is already held by the caller */
    CV_E_NAME_TOO_LONG = 206,      /* a file name or path is too long */
    CV_E_MORE_DATA = 234,          /* more data is available */
    CV_E_NOT_A_DIRECTORY = 267,    /* a path is not a directory */

    // The platform's own codes.
    CV_E_INVALID_DOC_ROOT = 0x7000,       /* 28672 */
    CV_E_TOKEN_SEPARATOR = 0x7001,        /* 28673 */
    CV_E_BASE_NAME_NOT_FOUND = 0x7002,    /* 28674 */
    CV_E_PATH_MISMATCH = 0x7003,          /* 28675 */
    CV_E_ILLEGAL_UTF = 0x7004,            /* 28676 */
    CV_E_BUFFER_SPACE = 0x7005,           /* 28677: a bounded copy was truncated */
    CV_E_END_REACHED = 0x7006,            /* 28678: end of a listing or walk */
    CV_E_LIBRARY_OPEN = 0x7007,           /* 28679 */
    CV_E_LIBRARY_LOAD = 0x7008,           /* 28680 */
    CV_E_UUID = 0x7009,                   /* 28681 */
    CV_E_XML_PARSE = 0x700A,              /* 28682: configuration file unreadable */
    CV_E_LOCALE = 0x700B,                 /* 28683 */
    CV_E_MD5 = 0x700C,                    /* 28684 */
    CV_E_SHA = 0x700D,                    /* 28685 */
    CV_E_LOG_MESSAGE = 0x700E,            /* 28686: the log could not compose a line */
    CV_E_INVALID_USER_NAME = 0x700F,      /* 28687 */
    CV_E_UAC_PARSE = 0x7010,              /* 28688: parse error inside the framework */
    CV_E_NO_XFER = 0x7011,                /* 28689 */
    CV_E_UNIMPLEMENTED = 0x7012,          /* 28690 */
    CV_E_INTERNAL = 0x7013,               /* 28691 */
    CV_E_REACHED_END = 0x7014,            /* 28692 */
    CV_E_STORAGE = 0x7015,                /* 28693 */
    CV_E_BAD_PATHNAME = 0x7016,           /* 28694 */
    CV_E_CONNECTION_INSECURE = 0x7019,    /* 28697 */
    CV_E_FILE_NOT_VALID = 0x701A,         /* 28698 */
    CV_E_NOT_ENABLED = 0x701B,            /* 28699 */
    CV_E_NOT_PRESENT = 0x701C,            /* 28700 */
    CV_E_ALREADY_LOCKED = 0x701D,         /* 28701 */
    CV_E_INVALID_LOCK = 0x701E,           /* 28702 */
    CV_E_LOCK_TIME_SKEW = 0x701F,         /* 28703 */
    CV_E_WRONG_CHANNEL = 0x7020,          /* 28704 */
    CV_E_USER_ABORTED = 0x7021,           /* 28705 */
    CV_E_BAD_TOKEN = 0x7022,              /* 28706 */
    CV_E_ILLEGAL_PATH_CHARS = 0x7023,     /* 28707 */
    CV_E_MISSING_DOCROOT = 0x7024,        /* 28708 */
    CV_E_DOCROOT_CHECK = 0x7025,          /* 28709 */
    CV_E_EXPIRED = 0x7026,                /* 28710 */
    CV_E_UPLOAD_IN_PROGRESS = 0x7027,     /* 28711 */

    CV_E_PLATFORM_FIRST = CV_E_INVALID_DOC_ROOT,
    CV_E_PLATFORM_LAST = CV_E_UPLOAD_IN_PROGRESS,
};
