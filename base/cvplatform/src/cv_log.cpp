// The process-wide log: line composition, repeat suppression, and the ring
// of ten numbered files that bounds its size.
//
// A line is "<header><level> <message>\r\n".  The header is the local time
// and the process and thread ids; when lines were suppressed as repeats of
// the line before, the header starts with the notice "Last message repeated
// N times\r\n".  Header, body and line end are built in fixed buffers on the
// stack and written with one write call: no allocation happens per message.
//
// The ring.  The log path D/B names the plain file; the numbered files are B
// with "." and a digit inserted before its extension (name.0.log ..
// name.9.log).  The file written is found by listing D: starting at the
// lowest digit present, the last of the run of consecutive digits.  When it
// is full the next digit is created, the digit after that one is deleted (so
// that the run always ends at the newest file) and the plain name is linked
// again to the new file.  The size is checked only every CHECK_INTERVAL
// written bytes, under the log mutex.
//
// Many processes append to one file at once (one shell per login).  What is
// guaranteed:
//  - Every line reaches the file whole and unmixed: the files are opened for
//    appending and a line is one write call, which the kernel places at the
//    end of the file as a unit.  Only a partial write (disk full) is
//    continued by a second call, which may then land after another line.
//  - Choosing, creating, deleting and relinking ring files happen only under
//    the ring lock, an exclusive lock on the log directory held by one
//    process at a time (see ring_open).  A process therefore decides from a
//    directory that nobody else is changing:
//    * Two processes that find the same file full do not both rotate: the
//      first one creates the next file; the second one, finding that newer
//      file with room, writes there and deletes nothing.
//    * A process that finds its own file full always continues from the
//      newest file of the ring, never from its own (possibly older) file,
//      so it never deletes a file that others are writing into.
//    * The only file deleted is the one after a newly created newest file:
//      the oldest of the ring.  A process still writes into that file only
//      when it wrote less than CHECK_INTERVAL bytes while the others filled
//      the eight files in between; only then, when the ring has no room left
//      for it, are its lines lost.
//  - A file may grow beyond the maximum by what the writers append before
//    their next size check: up to CHECK_INTERVAL bytes and one line each.
//  - Where the directory cannot be locked (a file system without locks) the
//    ring is handled in the same way without the lock, and the races above
//    are possible again.  So it is when another account keeps the lock
//    longer than CV_LOG_LOCK_WAIT_MS: a login waits that long at most, then
//    goes on and says so in the log.
//
// The log folder is shared by every transfer account, and each entry in it
// may have been planted by another account.  The ring is reached only by
// bare names under a descriptor of the folder, held from the opening to the
// close (the per-platform ring operations of cv_log_internal.h): a ring name
// that is not a regular file of the ring this account can write (a symbolic
// link, a hard link to a file elsewhere, a FIFO, a folder, another account's
// private file) is passed over like a full file,
// a new file is created exclusively with FILE_MODE, and an existing file is
// used as it is.  Under a folder with the sticky bit a login cannot remove
// another account's files; rotation then goes on to the next digit it can
// use, and after one lap without a file with room it keeps the last file it
// could open (full or not), so the line it writes is not lost.
//
// Every message is one line: a control byte that reaches the line writer
// (callers escape client text with cv_log_escape before) is written as
// "\xNN", in ordinary and in signal-time lines alike.
//
// Within one process the writer takes no lock (the system is single-
// threaded); the repeat state is plain process-wide state.  The thread's
// last system error is saved and restored around every logging call.
//
// The crash report writes its lines from inside a signal handler, where
// neither a formatted print nor the time-zone look-up of local time may run.
// Its lines go through cv_log_write_raw_line, which writes the same bytes
// with the header built by cv_fixed_text and local time taken from the
// offset to UTC that the last ordinary line (or the opening) found; it never
// rotates.
#include "cvplatform/cv_log.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string_view>

#include "cv_fixed_text.h"
#include "cv_log_internal.h"
#include "cvplatform/cv_crash.h"
#include "cvplatform/cv_error.h"
#include "cvplatform/cv_file.h"
#include "cvplatform/cv_mutex.h"
#include "cvplatform/cv_path.h"
#include "cvplatform/cv_str.h"

int cv_log_enabled = 1;
int cv_log_debug_enabled = 0;
int cv_log_verbosity = 0;

namespace {

constexpr std::size_t LEVEL_SIZE = 4;          // "ERR " and its kin
constexpr std::size_t MESSAGE_SIZE = 4090;     // the formatted message, terminator included
constexpr std::size_t BODY_CAP = 4093;         // level, blank and message
constexpr std::size_t BODY_SIZE = 4096;        // body buffer: body, CR LF, terminator
constexpr std::size_t HEADER_SIZE = 256;       // a header must fit here, terminator included
constexpr std::size_t PREVIOUS_BODY_SIZE = 4352;
constexpr std::uint64_t CHECK_INTERVAL = 65536;
constexpr std::uint64_t MIB = 1048576;
// A new ring file's mode, whatever the creating session's file-creation mask:
// each login writes the log as its own transfer account, and the accounts of
// one server share the log folder through its group (a set-group-id folder
// gives every new file that group), so the group may append.  Nobody else
// may read: the log holds client addresses and command lines.
constexpr std::uint32_t FILE_MODE = 0660;
constexpr std::uint32_t DIR_MODE = 0755;
constexpr std::size_t NUMBERED_PATH_SIZE = CV_LOG_PATH_SIZE + 2;
constexpr std::int64_t SECONDS_PER_DAY = 86400;

constexpr const char *LEVEL_NAMES[] = {"ERR ", "LOG ", "DBG "};
constexpr char HEX_DIGITS[] = "0123456789ABCDEF";
constexpr std::size_t CONTROL_ESCAPE_SIZE = 4;  // "\xNN"

static_assert(LEVEL_SIZE + MESSAGE_SIZE + 2 <= BODY_SIZE);
static_assert(BODY_CAP + 1 <= PREVIOUS_BODY_SIZE);

// The log of this process.
struct log_state {
    int open = CV_LOG_NOT_INITIALISED;
    int stderr_only = 0;
    cv_file_handle current = CV_FILE_INVALID;
    cv_file_handle previous = CV_FILE_INVALID;
    char path[CV_LOG_PATH_SIZE] = {};
    char current_name[NUMBERED_PATH_SIZE] = {};
    std::uint64_t max_size = CV_LOG_DEFAULT_MAX_SIZE;
    std::uint64_t bytes_since_check = 0;
    char previous_body[PREVIOUS_BODY_SIZE] = {};
    std::uint32_t repeat_count = 0;
    std::uint32_t process_id = 0;
    cv_mutex mutex{};
    std::int64_t utc_offset = 0;  // local time minus UTC in seconds, as last seen
    cv_file_handle dir = CV_FILE_INVALID;  // the log folder, for the ring operations
    // Said in the log once the ring open that found it is over.
    bool lock_notice_pending = false;
    char skip_notice[CV_LOG_PATH_SIZE + 64] = {};  // "" when none
};

log_state g_log;

// Keeps the thread's last system error across a scope.
class error_keeper {
public:
    error_keeper() : saved_(cv_log_error_save()) {}
    ~error_keeper() { cv_log_error_restore(saved_); }
    error_keeper(const error_keeper &) = delete;
    error_keeper &operator=(const error_keeper &) = delete;

private:
    cv_log_saved_error saved_;
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Copies `text` (with `suffix`) into `buf` only when the whole of it fits.
bool copy_whole(char *buf, std::size_t size, const char *text, const char *suffix) {
    if (std::strlen(text) + std::strlen(suffix) >= size) {
        buf[0] = '\0';
        return false;
    }
    return cv_snprintf(buf, size, "%s%s", text, suffix) >= 0;
}

// Prints the log's own trouble to standard error: the log cannot report
// through itself.
void complain(const char *text, int length) {
    if (length > 0) (void)cv_log_stderr_write(text, static_cast<std::size_t>(length));
}

// Room for a notice quoting a path.
constexpr std::size_t NOTICE_SIZE = NUMBERED_PATH_SIZE + 64;

// The directory and file name parts of the log path.
struct ring_names {
    char dir[CV_LOG_PATH_SIZE];  // D: before the last "/", "." without one, "/" for "/B"
    std::string_view base;       // B, pointing into the log path
};

void split_log_path(const char *path, ring_names *names) {
    const std::string_view whole(path);
    const std::size_t slash = whole.rfind('/');
    if (slash == std::string_view::npos) {
        (void)cv_str_copy(names->dir, ".", sizeof names->dir);
        names->base = whole;
        return;
    }
    const std::size_t dir_length = slash == 0 ? 1 : slash;
    std::memcpy(names->dir, path, dir_length);
    names->dir[dir_length] = '\0';
    names->base = whole.substr(slash + 1);
}

// Where the digit goes in a numbered name of `base`.
std::size_t digit_position(std::string_view base) {
    const std::size_t dot = base.rfind('.');
    return (dot == std::string_view::npos ? base.size() : dot) + 1;
}

// True when directory entry `entry` is a numbered name of `base`; `*digit`
// gets its digit.
bool match_numbered(std::string_view base, std::string_view entry, int *digit) {
    const std::size_t at = digit_position(base);
    if (entry.size() != base.size() + 2 || !is_digit(entry[at])) return false;
    const std::size_t dot = at - 1;
    if (entry.substr(0, dot) != base.substr(0, dot) || entry[dot] != '.') return false;
    if (entry.substr(at + 1) != base.substr(dot)) return false;
    *digit = entry[at] - '0';
    return true;
}

// What a listing of the log folder is looking for, and what it found.
struct ring_listing {
    std::string_view base;
    bool present[CV_LOG_RING_SIZE];
};

void mark_numbered(const char *entry, void *context) {
    auto *listing = static_cast<ring_listing *>(context);
    int digit = 0;
    if (match_numbered(listing->base, entry, &digit)) listing->present[digit] = true;
}

// Marks the digits of the numbered names present in the log folder.
cv_status list_ring(const ring_names &names, bool present[CV_LOG_RING_SIZE]) {
    ring_listing listing{names.base, {}};
    const cv_status status = cv_log_dir_list(g_log.dir, mark_numbered, &listing);
    if (status != CV_OK) {
        char notice[NOTICE_SIZE];
        complain(notice, cv_snprintf(notice, sizeof notice, "Error opening log directory %s\n",
                                     names.dir));
        return status;
    }
    std::copy(listing.present, listing.present + CV_LOG_RING_SIZE, present);
    return CV_OK;
}

// The bare name of ring file `digit` (names.base is the tail of the log
// path, so it is terminated).
bool numbered_name(const ring_names &names, int digit, char *name, std::size_t size) {
    return cv_log_numbered_path(names.base.data(), digit, name, size) == CV_OK;
}

// Opens ring file `digit` for appending into `*file`: the status of the
// ring open (a name that is not a regular file of the ring this account may
// write is refused).
cv_status open_numbered(const ring_names &names, int digit, cv_file_handle *file) {
    *file = CV_FILE_INVALID;
    char name[NUMBERED_PATH_SIZE];
    if (!numbered_name(names, digit, name, sizeof name)) return CV_E_NAME_TOO_LONG;
    return cv_log_ring_open_file(g_log.dir, name, names.base.data(), FILE_MODE, file);
}

// Removes ring file `digit`.  A failure (the sticky bit keeps another
// account's file) is left for the walk round the ring to cope with.
void remove_numbered(const ring_names &names, int digit) {
    char name[NUMBERED_PATH_SIZE];
    if (numbered_name(names, digit, name, sizeof name))
        (void)cv_log_ring_remove(g_log.dir, name);
}

// True when the open file has room left.  A failed size query counts as no
// room, so that the ring moves on to a file it can measure.
bool has_room(cv_file_handle *file) {
    cv_file_status status{};
    return cv_file_stat(file, &status) == CV_OK && status.size < g_log.max_size;
}

// Points the plain log name at ring file `digit`.  Failures are ignored: the
// numbered file is written all the same.
void relink_plain_name(const ring_names &names, int digit) {
    char name[NUMBERED_PATH_SIZE];
    if (!numbered_name(names, digit, name, sizeof name)) return;
    (void)cv_log_ring_remove(g_log.dir, names.base.data());
    (void)cv_log_ring_link(g_log.dir, name, names.base.data());
}

// Notes, for a line of the log once the ring is open, that ring file
// `digit` could not be used and why.
void note_skipped(int digit, cv_status why) {
    char path[NUMBERED_PATH_SIZE];
    char text[256];
    if (cv_log_numbered_path(g_log.path, digit, path, sizeof path) != CV_OK) return;
    (void)cv_snprintf(g_log.skip_notice, sizeof g_log.skip_notice,
                      "Cannot use log file %s, errno:%d, err desc:%s", path, static_cast<int>(why),
                      cv_strerror(why, text, sizeof text));
}

// The ring open proper, with the ring lock held (when it could be taken).
//
// From the chosen digit the walk goes on to the next one while the file at
// hand has no room or cannot be used, deleting the file after each new
// digit, for at most one lap.  A file with room ends it; otherwise the last
// file it could open is kept, full as it is, rather than going round again.
cv_status ring_open_locked(const ring_names &names) {
    bool present[CV_LOG_RING_SIZE] = {};
    const cv_status listed = list_ring(names, present);
    if (listed != CV_OK) return listed;

    bool fresh = false;
    int digit = cv_log_choose_digit(present, &fresh);
    cv_file_handle file = CV_FILE_INVALID;  // a file with room, once found
    cv_file_handle full = CV_FILE_INVALID;  // the last file opened without room
    int full_digit = 0;
    int refused_digit = -1;
    cv_status refused = CV_OK;
    for (int advances = 0;; ++advances) {
        cv_file_handle candidate = CV_FILE_INVALID;
        const cv_status opened = open_numbered(names, digit, &candidate);
        if (opened == CV_OK && has_room(&candidate)) {
            file = candidate;
            break;
        }
        if (opened == CV_OK) {
            (void)cv_file_close(&full);
            full = candidate;
            full_digit = digit;
        } else if (refused_digit < 0) {
            refused_digit = digit;
            refused = opened;
        }
        if (advances == CV_LOG_RING_SIZE) break;
        digit = (digit + 1) % CV_LOG_RING_SIZE;
        remove_numbered(names, (digit + 1) % CV_LOG_RING_SIZE);
        fresh = true;
    }
    if (file == CV_FILE_INVALID) {
        file = full;
        digit = full_digit;
    } else {
        (void)cv_file_close(&full);
    }
    if (file == CV_FILE_INVALID) {
        char path[NUMBERED_PATH_SIZE];
        if (cv_log_numbered_path(g_log.path, refused_digit, path, sizeof path) != CV_OK)
            path[0] = '\0';
        char notice[NOTICE_SIZE];
        complain(notice, cv_snprintf(notice, sizeof notice, "Cannot open log file: %s\n", path));
        return CV_E_INVALID;
    }
    if (refused_digit >= 0) note_skipped(refused_digit, refused);
    if (fresh) relink_plain_name(names, digit);
    g_log.current = file;
    if (cv_log_numbered_path(g_log.path, digit, g_log.current_name, sizeof g_log.current_name) !=
        CV_OK)
        g_log.current_name[0] = '\0';
    return CV_OK;
}

// Finds (and when needed creates) the numbered file to write and makes it
// the current file.  Runs under the log mutex.
cv_status ring_open() {
    ring_names names;
    split_log_path(g_log.path, &names);
    if (g_log.dir == CV_FILE_INVALID) {
        const cv_status opened = cv_log_dir_open(names.dir, &g_log.dir);
        if (opened != CV_OK) {
            char notice[NOTICE_SIZE];
            complain(notice, cv_snprintf(notice, sizeof notice,
                                         "Error opening log directory %s\n", names.dir));
            return opened;
        }
    }
    cv_file_handle lock = CV_FILE_INVALID;
    if (cv_log_ring_lock(g_log.dir, CV_LOG_LOCK_WAIT_MS, &lock) == CV_E_ALREADY_LOCKED)
        g_log.lock_notice_pending = true;
    const cv_status status = ring_open_locked(names);
    cv_log_ring_unlock(&lock);
    return status;
}

void write_pending_notices();

// Rotates to the next file when the current one is full; opens the ring
// when no file is open.
cv_status size_check() {
    cv_status status = CV_OK;
    {
        cv_mutex_guard guard(&g_log.mutex);
        if (guard.status() != CV_OK) return guard.status();
        if (g_log.current != CV_FILE_INVALID) {
            cv_file_status file{};
            const cv_status queried = cv_file_stat(&g_log.current, &file);
            if (queried != CV_OK) return queried;  // keep writing; try again later
            if (file.size < g_log.max_size) return CV_OK;
            if (g_log.previous != CV_FILE_INVALID) {
                (void)cv_file_flush(&g_log.previous);
                (void)cv_file_close(&g_log.previous);
            }
            g_log.previous = g_log.current;
            g_log.current = CV_FILE_INVALID;
            g_log.current_name[0] = '\0';
        }
        status = ring_open();
    }
    write_pending_notices();
    return status;
}

// Writes `count` bytes to the current file, continuing partial writes.
cv_status write_current(const char *bytes, std::size_t count) {
    while (count > 0) {
        std::size_t written = 0;
        const cv_status status = cv_file_write(&g_log.current, bytes, count, &written);
        written = std::min(written, count);
        g_log.bytes_since_check += written;
        if (status != CV_OK) return status;
        if (written == 0) return CV_E_LOG_MESSAGE;
        bytes += written;
        count -= written;
    }
    return CV_OK;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar, and
// back: plain arithmetic, where the calendar functions of the C library may
// not run.
std::int64_t days_from_civil(std::int64_t year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t year_of_era = year - era * 400;
    const std::int64_t day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const std::int64_t day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

struct civil_date {
    std::int64_t year;
    int month;
    int day;
};

civil_date civil_from_days(std::int64_t days) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t day_of_era = days - era * 146097;
    const std::int64_t year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const std::int64_t day_of_year =
        day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const std::int64_t shifted_month = (5 * day_of_year + 2) / 153;
    const int day = static_cast<int>(day_of_year - (153 * shifted_month + 2) / 5 + 1);
    const int month = static_cast<int>(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
    return {year_of_era + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

void remember_utc_offset(const cv_time &now, const struct tm &local) {
    const std::int64_t local_seconds =
        days_from_civil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) * SECONDS_PER_DAY +
        local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    g_log.utc_offset = local_seconds - now.seconds;
}

// The header of an ordinary line, in `header`; its length, or -1 when the
// time cannot be had.
int format_header(char *header, std::size_t size) {
    cv_time now{};
    struct tm local {};
    if (cv_time_now(&now) != CV_OK || cv_time_to_local(now.seconds, &local) != CV_OK)
        return -1;
    remember_utc_offset(now, local);
    // The repeat count goes through "%.*d" with precision 0 in both forms:
    // a count of 0 prints nothing, any other count prints its digits.
    const int count = static_cast<int>(g_log.repeat_count);
    const int millisecond = static_cast<int>(now.microseconds / 1000);
    return count == 0
            ? cv_snprintf(header, size,
                          "%.*d%04d-%02d-%02d %02d:%02d:%02d.%03d [%x-%08x] ", 0, count,
                          local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                          local.tm_min, local.tm_sec, millisecond, g_log.process_id,
                          cv_thread_id())
            : cv_snprintf(header, size,
                          "Last message repeated %.*d times\r\n"
                          "%04d-%02d-%02d %02d:%02d:%02d.%03d [%x-%x] ",
                          0, count, local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                          local.tm_hour, local.tm_min, local.tm_sec, millisecond,
                          g_log.process_id, cv_thread_id());
}

// The header of a line written from inside a signal handler, byte for byte
// as format_header would write it, from the clock and the remembered offset
// to UTC.  Its length, or -1.
int format_header_in_signal(char *header, std::size_t size) {
    cv_time now{};
    if (cv_time_now(&now) != CV_OK) return -1;
    const std::int64_t local = now.seconds + g_log.utc_offset;
    std::int64_t days = local / SECONDS_PER_DAY;
    std::int64_t second_of_day = local % SECONDS_PER_DAY;
    if (second_of_day < 0) {
        second_of_day += SECONDS_PER_DAY;
        --days;
    }
    const civil_date date = civil_from_days(days);
    const std::uint32_t count = g_log.repeat_count;

    std::size_t cursor = 0;
    cv_fixed_text text(header, size, &cursor);
    bool whole = count == 0 || (text.put("Last message repeated ") &&
                                text.put_unsigned(count, 10) && text.put(" times\r\n"));
    whole = whole && text.put_signed(date.year, 4) && text.put("-") &&
            text.put_unsigned(static_cast<std::uint64_t>(date.month), 10, 2) && text.put("-") &&
            text.put_unsigned(static_cast<std::uint64_t>(date.day), 10, 2) && text.put(" ") &&
            text.put_signed(second_of_day / 3600, 2) && text.put(":") &&
            text.put_signed(second_of_day / 60 % 60, 2) && text.put(":") &&
            text.put_signed(second_of_day % 60, 2) && text.put(".") &&
            text.put_signed(now.microseconds / 1000, 3) && text.put(" [") &&
            text.put_unsigned(g_log.process_id, 16) && text.put("-") &&
            text.put_unsigned(cv_thread_id(), 16, count == 0 ? 8 : 1) && text.put("] ");
    return whole ? static_cast<int>(cursor) : -1;
}

// Writes the body of a line (level name, blank, message; `body_length`
// bytes) with its header and line end, or counts it as a repeat.  `body`
// has HEADER_SIZE bytes of its buffer before it and room for the line end
// after it.  `in_signal`: only what may run inside a signal handler.
cv_status write_body(char *body, std::size_t body_length, bool in_signal) {
    if (std::memcmp(g_log.previous_body, body, body_length) == 0 &&
        g_log.previous_body[body_length] == '\0') {
        ++g_log.repeat_count;
        return CV_OK;
    }
    std::memcpy(g_log.previous_body, body, body_length);
    g_log.previous_body[body_length] = '\0';
    body[body_length] = '\r';
    body[body_length + 1] = '\n';
    const std::size_t body_and_end = body_length + 2;

    if (g_log.stderr_only) {
        (void)cv_log_stderr_write(body, body_and_end);
        return CV_OK;
    }

    char header[HEADER_SIZE + 1];
    const int header_length = in_signal ? format_header_in_signal(header, sizeof header)
                                        : format_header(header, sizeof header);
    if (header_length < 0 || static_cast<std::size_t>(header_length) >= HEADER_SIZE)
        return CV_E_LOG_MESSAGE;
    char *const start = body - header_length;
    std::memcpy(start, header, static_cast<std::size_t>(header_length));

    const cv_status status =
        write_current(start, static_cast<std::size_t>(header_length) + body_and_end);
    g_log.repeat_count = 0;
    if (!in_signal && g_log.bytes_since_check >= CHECK_INTERVAL) {
        // Reset first: anything logged from inside the check must not start
        // another one.
        g_log.bytes_since_check = 0;
        (void)size_check();
    }
    return status;
}

// Rewrites the control bytes of the `length` bytes of `message` (a buffer
// of MESSAGE_SIZE bytes) as escapes; the new length.  Most messages have
// none and are left as they are.
std::size_t neutralise_in_place(char *message, std::size_t length) {
    const auto is_control = [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    };
    if (std::none_of(message, message + length, is_control)) return length;
    char original[MESSAGE_SIZE];
    std::memcpy(original, message, length);
    return cv_log_neutralise_controls(original, length, message, MESSAGE_SIZE - 1);
}

// Composes one line and writes it.
cv_status write_line(int level, const char *fmt, va_list args) {
    if (g_log.current == CV_FILE_INVALID && !g_log.stderr_only) return CV_E_INVALID;

    // The header goes right in front of the body, so that the whole line is
    // one buffer without copying the body.
    char line[HEADER_SIZE + BODY_SIZE];
    char *const body = line + HEADER_SIZE;
    const int name_index = std::clamp(level, 0, 2);
    std::memcpy(body, LEVEL_NAMES[name_index], LEVEL_SIZE);
    char *const message = body + LEVEL_SIZE;
    message[0] = '\0';
    const int formatted = cv_vsnprintf(message, MESSAGE_SIZE, fmt, args);
    // A whole message is as long as the print says, NUL bytes from "%c"
    // included (they are shown as escapes); a cut one is measured, since the
    // cut may stop before the capacity to keep UTF-8 characters whole.
    std::size_t message_length = 0;
    if (formatted >= 0 && static_cast<std::size_t>(formatted) < MESSAGE_SIZE)
        message_length = static_cast<std::size_t>(formatted);
    else if (formatted >= 0)
        message_length = ::strnlen(message, MESSAGE_SIZE - 1);
    const std::size_t shown = neutralise_in_place(message, message_length);
    return write_body(body, std::min(LEVEL_SIZE + shown, BODY_CAP), false);
}

// Writes a message of the log's own as a line of its own.
void write_notice(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void write_notice(const char *fmt, ...) {
    if (cv_log_enabled == 0) return;
    va_list args;
    va_start(args, fmt);
    (void)write_line(CV_LOG_LEVEL_ERROR, fmt, args);
    va_end(args);
}

static_assert(CV_LOG_LOCK_WAIT_MS % 1000 == 0, "the lock notice counts whole seconds");

// Says in the log what the last ring open had to do without: the lock, or
// a ring file it passed over.
void write_pending_notices() {
    if (g_log.lock_notice_pending) {
        g_log.lock_notice_pending = false;
        write_notice("Log folder lock not taken within %d s; writing without it",
                     CV_LOG_LOCK_WAIT_MS / 1000);
    }
    if (g_log.skip_notice[0] != '\0') {
        char text[sizeof g_log.skip_notice];
        (void)cv_str_copy(text, g_log.skip_notice, sizeof text);
        g_log.skip_notice[0] = '\0';
        write_notice("%s", text);
    }
}


void reset_lines() {
    g_log.previous_body[0] = '\0';
    g_log.repeat_count = 0;
    g_log.bytes_since_check = 0;
    g_log.lock_notice_pending = false;
    g_log.skip_notice[0] = '\0';
}

// The file-backed part of cv_log_init: path, size suffix, directory, ring.
cv_status open_file_log(const char *name) {
    if (cv_str_copy(g_log.path, name, sizeof g_log.path) != CV_OK) return CV_E_NAME_TOO_LONG;
    cv_log_parse_size_suffix(g_log.path, &g_log.max_size);
    cv_path_normalize_slashes(g_log.path);
    if (std::strchr(g_log.path, '/') == nullptr) {
        char dir[CV_LOG_PATH_SIZE];
        const cv_status found = cv_log_get_default_dir(dir, sizeof dir);
        if (found != CV_OK) return found;
        if (cv_path_join(dir, g_log.path, g_log.path, sizeof g_log.path) != 0)
            return CV_E_BUFFER_TOO_SMALL;
        const cv_status created = cv_dir_create(dir, DIR_MODE, 1);
        if (created != CV_OK) return created;
    }
    return size_check();
}

}  // namespace

void cv_log_parse_size_suffix(char *path, std::uint64_t *max_size) {
    char *const colon = std::strrchr(path, ':');
    if (colon == nullptr) return;
    if (colon == path + 1 && is_ascii_letter(path[0])) return;  // a drive letter's colon
    char *digits_end = colon + 1;
    if (!is_digit(*digits_end)) return;
    std::uint64_t mib = 0;
    for (; is_digit(*digits_end); ++digits_end) {
        // Saturate: any value past the limit is simply out of range.
        if (mib <= CV_LOG_MAX_SUFFIX_MIB) mib = mib * 10 + static_cast<std::uint64_t>(*digits_end - '0');
    }
    std::memmove(colon, digits_end, std::strlen(digits_end) + 1);
    if (mib >= 1 && mib <= CV_LOG_MAX_SUFFIX_MIB) *max_size = mib * MIB;
}

int cv_log_choose_digit(const bool present[CV_LOG_RING_SIZE], bool *fresh) {
    int lowest = 0;
    while (lowest < CV_LOG_RING_SIZE && !present[lowest]) ++lowest;
    if (lowest == CV_LOG_RING_SIZE) {
        *fresh = true;
        return 0;
    }
    *fresh = false;
    int last = lowest;
    while (last + 1 < CV_LOG_RING_SIZE && present[last + 1]) ++last;
    return last;
}

cv_status cv_log_numbered_path(const char *path, int digit, char *dst, std::size_t size) {
    const std::string_view whole(path);
    const std::size_t slash = whole.rfind('/');
    const std::size_t base_start = slash == std::string_view::npos ? 0 : slash + 1;
    const std::size_t at = base_start + digit_position(whole.substr(base_start)) - 1;
    if (whole.size() + 3 > size || digit < 0 || digit >= CV_LOG_RING_SIZE)
        return CV_E_NAME_TOO_LONG;
    std::memcpy(dst, path, at);
    dst[at] = '.';
    dst[at + 1] = static_cast<char>('0' + digit);
    std::memcpy(dst + at + 2, path + at, whole.size() - at + 1);
    return CV_OK;
}

namespace {

// Bytes of the UTF-8 character led by `lead` that follow it (0 for ASCII and
// for a byte that leads nothing).
std::size_t continuation_count(unsigned char lead) {
    if (lead >= 0xF0 && lead <= 0xF7) return 3;
    if (lead >= 0xE0) return lead <= 0xEF ? 2 : 0;
    if (lead >= 0xC0) return 1;
    return 0;
}

}  // namespace

std::size_t cv_log_neutralise_controls(const char *src, std::size_t length, char *dst,
                                       std::size_t capacity) {
    std::size_t in = 0;
    std::size_t out = 0;
    while (in < length) {
        const auto byte = static_cast<unsigned char>(src[in]);
        if (byte < 0x20 || byte == 0x7F) {
            if (capacity - out < CONTROL_ESCAPE_SIZE) break;
            dst[out++] = '\\';
            dst[out++] = 'x';
            dst[out++] = HEX_DIGITS[byte >> 4];
            dst[out++] = HEX_DIGITS[byte & 0x0F];
            ++in;
            continue;
        }
        // A character goes whole or not at all; only true continuation
        // bytes belong to it, so a control byte after a lead byte is still
        // escaped on its own.
        std::size_t size = 1;
        for (const std::size_t wanted = 1 + continuation_count(byte);
             size < wanted && in + size < length &&
             (static_cast<unsigned char>(src[in + size]) & 0xC0) == 0x80;
             ++size) {
        }
        if (capacity - out < size) break;
        std::memcpy(dst + out, src + in, size);
        in += size;
        out += size;
    }
    return out;
}

std::uint64_t cv_log_max_size() { return g_log.max_size; }

const char *cv_log_path() { return g_log.path; }

const char *cv_log_current_file() { return g_log.current_name; }

cv_status cv_log_init(int replay_mode, const char *name) {
    if (g_log.open == CV_LOG_OPEN) return CV_OK;
    // An empty name would make the default directory itself the log path.
    if (name == nullptr || name[0] == '\0' || replay_mode == 3) return CV_E_INVALID;
    if (::strnlen(name, CV_LOG_PATH_SIZE + 1) > CV_LOG_PATH_SIZE) return CV_E_NAME_TOO_LONG;
    error_keeper keep_error;

    g_log.stderr_only = 0;
    g_log.path[0] = '\0';
    g_log.current_name[0] = '\0';
    g_log.max_size = CV_LOG_DEFAULT_MAX_SIZE;
    reset_lines();
    const cv_status locked = cv_mutex_init(&g_log.mutex);
    if (locked != CV_OK) return locked;

    // Recorded first: the opening may already write a notice of its own.
    g_log.process_id = cv_process_id();
    cv_status status = CV_OK;
    if (std::strcmp(name, "-") == 0) {
        g_log.stderr_only = 1;
    } else {
        status = open_file_log(name);
    }
    cv_time now{};
    struct tm local {};
    if (cv_time_now(&now) == CV_OK && cv_time_to_local(now.seconds, &local) == CV_OK)
        remember_utc_offset(now, local);
    (void)cv_crash_handler_install();
    if (status != CV_OK) {
        // Not initialised: a later cv_log_init starts again from scratch.
        (void)cv_mutex_destroy(&g_log.mutex);
        cv_log_dir_close(&g_log.dir);
        return status;
    }
    g_log.open = CV_LOG_OPEN;
    return CV_OK;
}

int cv_log_vmsg(int destination, int level, const char *fmt, va_list args) {
    if (cv_log_enabled == 0 || (level >= CV_LOG_LEVEL_DEBUG && cv_log_debug_enabled == 0))
        return 0;
    error_keeper keep_error;
    switch (destination) {
    case CV_LOG_NOT_INITIALISED:
    case 1:  // messages held for replay: this system holds none
        break;
    case CV_LOG_OPEN:
        if (fmt != nullptr) (void)write_line(level, fmt, args);
        break;
    default:
        return CV_E_INVALID;
    }
    return 0;
}

cv_status cv_log_write_raw_line(int level, const char *text, std::size_t length) {
    if (cv_log_enabled == 0 || (level >= CV_LOG_LEVEL_DEBUG && cv_log_debug_enabled == 0))
        return CV_OK;
    if (g_log.open != CV_LOG_OPEN) return CV_OK;  // discarded, as any line before the opening
    if (text == nullptr) return CV_E_INVALID;
    if (g_log.current == CV_FILE_INVALID && !g_log.stderr_only) return CV_E_INVALID;
    error_keeper keep_error;
    char line[HEADER_SIZE + BODY_SIZE];
    char *const body = line + HEADER_SIZE;
    std::memcpy(body, LEVEL_NAMES[std::clamp(level, 0, 2)], LEVEL_SIZE);
    const std::size_t message_length =
        cv_log_neutralise_controls(text, length, body + LEVEL_SIZE, MESSAGE_SIZE - 1);
    return write_body(body, std::min(LEVEL_SIZE + message_length, BODY_CAP), true);
}

int cv_log_error(const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    cv_log_vmsg(g_log.open, CV_LOG_LEVEL_ERROR, fmt, args);
    va_end(args);
    return 0;
}

int cv_log_info(const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    cv_log_vmsg(g_log.open, CV_LOG_LEVEL_INFO, fmt, args);
    va_end(args);
    return 0;
}

int cv_log_debug(const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    cv_log_vmsg(g_log.open, CV_LOG_LEVEL_DEBUG, fmt, args);
    va_end(args);
    return 0;
}

void cv_log_flush() {
    if (g_log.open != CV_LOG_OPEN || g_log.current == CV_FILE_INVALID) return;
    error_keeper keep_error;
    (void)cv_file_flush(&g_log.current);
}

void cv_log_close() {
    error_keeper keep_error;
    if (g_log.open == CV_LOG_OPEN) {
        for (cv_file_handle *file : {&g_log.current, &g_log.previous}) {
            if (*file == CV_FILE_INVALID) continue;
            (void)cv_file_flush(file);
            (void)cv_file_close(file);
        }
        (void)cv_mutex_destroy(&g_log.mutex);
        cv_log_dir_close(&g_log.dir);
    }
    g_log.open = CV_LOG_NOT_INITIALISED;
    g_log.stderr_only = 0;
    g_log.current_name[0] = '\0';
    // Repeats still pending are dropped, never announced in a later log.
    reset_lines();
    (void)cv_crash_handler_remove();
}

cv_status cv_log_get_default_dir(char *buf, std::size_t size) {
    if (buf == nullptr || size == 0) return CV_E_INVALID;
    buf[0] = '\0';
    error_keeper keep_error;
    char exe[CV_PATH_SIZE];
    char found[CV_PATH_SIZE];
    if (cv_path_get_exe_path(exe, sizeof exe) < 0) return CV_E_INVALID;
    if (cv_path_get_product_root(exe, found, sizeof found) < 0) return CV_E_INVALID;
    if (!copy_whole(buf, size, found, "/var/log")) return CV_E_BUFFER_TOO_SMALL;
    if (cv_file_exists(buf)) return CV_OK;
    if (cv_path_get_exe_dir(found, sizeof found) < 0) {
        buf[0] = '\0';
        return CV_E_INVALID;
    }
    if (!copy_whole(buf, size, found, "")) return CV_E_BUFFER_TOO_SMALL;
    return CV_OK;
}
