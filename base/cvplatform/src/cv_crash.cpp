// Crash reporting, the portable part: the table of exception names, the
// backtrace printer, the crash report written from inside the signal handler,
// the logged backtrace of the calling thread, and the state of the handler
// and of the symbol resolver.
//
// The printer builds its lines with cv_fixed_text and names frames through
// the platform layer, so that the same code serves the crash report, which
// runs inside a signal handler, and the ordinary callers.  Inside the
// handler it differs in three ways only: it takes no lock, it does not
// demangle (demangling allocates), and it hands lines to the log's
// signal-tolerant writer instead of the formatting one.
//
// The resolver keeps its status, the text of its last failure and the lock
// that serialises symbol look-ups.  Look-ups through the loader are safe to
// run concurrently; the lock keeps the printer's contract the same on every
// platform.
#include "cvplatform/cv_crash.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "cv_crash_internal.h"
#include "cv_fixed_text.h"
#include "cv_log_internal.h"
#include "cvplatform/cv_log.h"
#include "cvplatform/cv_mutex.h"
#include "cvplatform/cv_path.h"

namespace {

struct exception_entry {
    std::uint32_t code;
    const char *name;
    bool reported;  // by the crash handler; breakpoints and single steps are not
};

constexpr exception_entry EXCEPTIONS[] = {
    {CV_EXCEPTION_ACCESS_VIOLATION, "ACCESS_VIOLATION", true},
    {CV_EXCEPTION_DATATYPE_MISALIGNMENT, "DATATYPE_MISALIGNMENT", true},
    {CV_EXCEPTION_BREAKPOINT, "BREAKPOINT", false},
    {CV_EXCEPTION_SINGLE_STEP, "SINGLE_STEP", false},
    {CV_EXCEPTION_IN_PAGE_ERROR, "IN_PAGE_ERROR", true},
    {CV_EXCEPTION_ILLEGAL_INSTRUCTION, "ILLEGAL_INSTRUCTION", true},
    {CV_EXCEPTION_NONCONTINUABLE_EXCEPTION, "NONCONTINUABLE_EXCEPTION", true},
    {CV_EXCEPTION_INVALID_DISPOSITION, "INVALID_DISPOSITION", true},
    {CV_EXCEPTION_ARRAY_BOUNDS_EXCEEDED, "ARRAY_BOUNDS_EXCEEDED", true},
    {CV_EXCEPTION_FLT_DENORMAL_OPERAND, "FLT_DENORMAL_OPERAND", true},
    {CV_EXCEPTION_FLT_DIVIDE_BY_ZERO, "FLT_DIVIDE_BY_ZERO", true},
    {CV_EXCEPTION_FLT_INEXACT_RESULT, "FLT_INEXACT_RESULT", true},
    {CV_EXCEPTION_FLT_INVALID_OPERATION, "FLT_INVALID_OPERATION", true},
    {CV_EXCEPTION_FLT_OVERFLOW, "FLT_OVERFLOW", true},
    {CV_EXCEPTION_FLT_STACK_CHECK, "FLT_STACK_CHECK", true},
    {CV_EXCEPTION_FLT_UNDERFLOW, "FLT_UNDERFLOW", true},
    {CV_EXCEPTION_INT_DIVIDE_BY_ZERO, "INT_DIVIDE_BY_ZERO", true},
    {CV_EXCEPTION_INT_OVERFLOW, "INT_OVERFLOW", true},
    {CV_EXCEPTION_PRIV_INSTRUCTION, "PRIV_INSTRUCTION", true},
    {CV_EXCEPTION_STACK_OVERFLOW, "STACK_OVERFLOW", true},
};

constexpr const char *UNKNOWN_EXCEPTION = "UNKNOWN EXCEPTION";

// The frames a capture holds before the caller of cv_backtrace_log_current:
// the capturing function and cv_backtrace_log_current itself, and any frame
// a tool may put in between (a sanitizer's wrapper of the capture).  The
// caller's frame is looked for among the first CAPTURE_EXTRA; when it is not
// found, SKIPPED_FRAMES are skipped.
constexpr int SKIPPED_FRAMES = 2;
constexpr int CAPTURE_EXTRA = 8;

// "0x", sixteen hexadecimal digits and a blank, on the hash line.
constexpr int ADDRESS_DIGITS = 16;
constexpr std::size_t ADDRESS_TEXT = 2 + ADDRESS_DIGITS + 1;

constexpr std::size_t RESOLVER_MESSAGE_SIZE = 256;

// The symbol resolver: one per process, alive exactly as long as the
// handler is installed.
struct symbol_resolver {
    cv_status status;
    char message[RESOLVER_MESSAGE_SIZE];  // the reason of the last failure
    cv_mutex lock;                        // serialises symbol look-ups
    bool lock_live;
};

struct crash_state {
    bool installed;
    bool exit_hook_registered;
    symbol_resolver resolver;
};

crash_state g_crash;

const exception_entry *find_exception(std::uint32_t code) {
    for (const exception_entry &entry : EXCEPTIONS)
        if (entry.code == code) return &entry;
    return nullptr;
}

void resolver_fail(cv_status status, const char *message) {
    g_crash.resolver.status = status;
    (void)std::strncpy(g_crash.resolver.message, message, RESOLVER_MESSAGE_SIZE - 1);
    g_crash.resolver.message[RESOLVER_MESSAGE_SIZE - 1] = '\0';
}

// A failure only leaves frames less well named: the report never depends on
// the resolver.
void resolver_init() {
    symbol_resolver &resolver = g_crash.resolver;
    resolver.status = CV_OK;
    resolver.message[0] = '\0';
    (void)cv_mutex_init(&resolver.lock);
    resolver.lock_live = true;

    char exe[CV_PATH_SIZE];
    const bool have_exe = cv_path_get_exe_path(exe, sizeof exe) >= 0;
    if (!have_exe) {
        cv_log_error("cvbtrace: Error finding executable path.");
        resolver_fail(CV_E_INTERNAL, "Error finding executable path.");
    }
    const cv_status ready = cv_crash_platform_symbols_init(have_exe ? exe : nullptr);
    if (ready != CV_OK && resolver.status == CV_OK)
        resolver_fail(ready, "Could not capture a stack trace.");
}

void resolver_cleanup() {
    cv_crash_platform_symbols_cleanup();
    if (g_crash.resolver.lock_live) (void)cv_mutex_destroy(&g_crash.resolver.lock);
    g_crash.resolver.lock_live = false;
}

// How the printer runs: inside the signal handler, or for an ordinary
// caller.
struct print_mode {
    bool in_signal;    // no lock, no demangling
    bool first_exact;  // frame 0 is a faulting instruction, not a return address
};

void name_frame(const void *address, bool return_address, bool in_signal, char *name,
                std::int64_t *displacement) {
    if (in_signal || !g_crash.resolver.lock_live) {
        cv_crash_platform_symbol(address, return_address, !in_signal, name,
                                 CV_BACKTRACE_NAME_SIZE, displacement);
        return;
    }
    cv_mutex_guard guard(&g_crash.resolver.lock);
    cv_crash_platform_symbol(address, return_address, true, name, CV_BACKTRACE_NAME_SIZE,
                             displacement);
}

int print_backtrace(void *const *frames, int count, std::uint32_t hash, cv_backtrace_line_fn emit,
                    char *line, std::size_t size, std::size_t *cursor, print_mode mode) {
    if (emit == nullptr || line == nullptr || cursor == nullptr || size == 0)
        return static_cast<int>(CV_E_INVALID);
    if (frames == nullptr || count <= 0) {
        cv_fixed_text(line, size, cursor).put("Backtrace unavailable.");
        return emit(line, size, cursor);
    }

    {
        cv_fixed_text text(line, size, cursor);
        // "%#x": a zero hash has no "0x".
        bool fits = text.put("Backtrace hash:") && (hash == 0 || text.put("0x")) &&
                    text.put_unsigned(hash, 16) && text.put(" ");
        for (int i = 0; fits && i < count && text.room() >= ADDRESS_TEXT; ++i) {
            text.put("0x");
            text.put_unsigned(reinterpret_cast<std::uintptr_t>(frames[i]), 16, ADDRESS_DIGITS);
            text.put(" ");
        }
    }
    int result = emit(line, size, cursor);

    for (int i = 0; i < count; ++i) {
        char name[CV_BACKTRACE_NAME_SIZE];
        std::int64_t displacement = 0;
        const bool return_address = !(i == 0 && mode.first_exact);
        name_frame(frames[i], return_address, mode.in_signal, name, &displacement);
        cv_fixed_text text(line, size, cursor);
        text.put_signed(i, 1, 2);
        text.put(":0x");
        text.put_unsigned(reinterpret_cast<std::uintptr_t>(frames[i]), 16, ADDRESS_DIGITS);
        text.put(" ");
        text.put(name);
        text.put("+");
        text.put_signed(displacement);
        result = emit(line, size, cursor);
    }
    return result;
}

// Hands a finished line of the crash report to the log.
int emit_raw(char *line, std::size_t, std::size_t *cursor) {
    const cv_status status = cv_log_write_raw_line(CV_LOG_LEVEL_ERROR, line, *cursor);
    *cursor = 0;
    line[0] = '\0';
    return static_cast<int>(status);
}

// Hands a finished line of an ordinary backtrace to the log.
int emit_logged(char *line, std::size_t, std::size_t *cursor) {
    const int result = cv_log_error("%s", line);
    *cursor = 0;
    line[0] = '\0';
    return result;
}

void remove_at_exit() { (void)cv_crash_handler_remove(); }

}  // namespace

const char *cv_exception_name(std::uint32_t code) {
    const exception_entry *entry = find_exception(code);
    return entry != nullptr ? entry->name : UNKNOWN_EXCEPTION;
}

std::uint32_t cv_backtrace_hash(void *const *frames, int count) {
    // FNV-1a over the addresses: equal traces give equal hashes, so that
    // reports of the same fault can be told at a glance.
    std::uint32_t hash = 2166136261u;
    for (int i = 0; i < count; ++i) {
        std::uintptr_t address = reinterpret_cast<std::uintptr_t>(frames[i]);
        for (std::size_t byte = 0; byte < sizeof address; ++byte, address >>= 8) {
            hash ^= static_cast<std::uint32_t>(address & 0xff);
            hash *= 16777619u;
        }
    }
    return hash;
}

int cv_backtrace_print(void *const *frames, int count, std::uint32_t hash,
                       cv_backtrace_line_fn emit, char *line, std::size_t size,
                       std::size_t *cursor) {
    return print_backtrace(frames, count, hash, emit, line, size, cursor,
                           print_mode{false, false});
}

void cv_crash_report(std::uint32_t code, void *const *frames, int count, bool first_exact) {
    const exception_entry *entry = find_exception(code);
    if (entry == nullptr || !entry->reported) return;

    char line[CV_BACKTRACE_LINE_SIZE];
    std::size_t cursor = 0;
    cv_fixed_text text(line, sizeof line, &cursor);
    text.put("Unhandled Exception ");
    text.put(entry->name);
    text.put("(");
    text.put_unsigned(code, 10);
    text.put(")");
    (void)emit_raw(line, sizeof line, &cursor);

    (void)print_backtrace(frames, count, cv_backtrace_hash(frames, count), emit_raw, line,
                          sizeof line, &cursor, print_mode{true, first_exact});
    cv_log_flush();
}

// Not inlined, so that its return address is its caller's frame.
[[gnu::noinline]] void cv_backtrace_log_current() {
    void *const caller = __builtin_return_address(0);
    void *frames[CV_BACKTRACE_CURRENT_FRAMES + CAPTURE_EXTRA];
    const int captured =
        cv_crash_platform_capture(frames, CV_BACKTRACE_CURRENT_FRAMES + CAPTURE_EXTRA);
    int first = captured < SKIPPED_FRAMES ? captured : SKIPPED_FRAMES;
    for (int i = 0; i < captured && i <= CAPTURE_EXTRA; ++i) {
        if (frames[i] == caller) {
            first = i;
            break;
        }
    }
    const int count = std::min(captured - first, CV_BACKTRACE_CURRENT_FRAMES);
    char line[CV_BACKTRACE_LINE_SIZE];
    std::size_t cursor = 0;
    line[0] = '\0';
    void *const *reported = frames + first;
    (void)print_backtrace(reported, count, cv_backtrace_hash(reported, count), emit_logged, line,
                          sizeof line, &cursor, print_mode{false, false});
}

cv_status cv_crash_handler_install() {
    if (g_crash.installed) return CV_OK;
    // The resolver first: the handler may fire as soon as it is hooked in.
    resolver_init();
    const cv_status hooked = cv_crash_platform_hook();
    if (hooked != CV_OK) {
        resolver_cleanup();
        return hooked;
    }
    g_crash.installed = true;
    if (!g_crash.exit_hook_registered) {
        // Registered once for the process: installing again after a removal
        // must not stack up exit calls.
        g_crash.exit_hook_registered = std::atexit(remove_at_exit) == 0;
    }
    return CV_OK;
}

cv_status cv_crash_handler_remove() {
    if (!g_crash.installed) return CV_OK;
    g_crash.installed = false;
    cv_crash_platform_unhook();
    resolver_cleanup();
    return CV_OK;
}
