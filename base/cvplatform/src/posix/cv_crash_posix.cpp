// Crash reporting on POSIX: fatal faults are signals, stacks come from the
// unwinder, names from the dynamic loader.
//
// SIGSEGV, SIGBUS, SIGILL and SIGFPE are caught with sigaction on an
// alternate signal stack, so that a stack overflow, which leaves no room on
// the thread's own stack, is reported too.  The handler maps the signal and
// its si_code to the exception the report names, captures the stack from the
// faulting instruction outwards, and has the portable part write the report.
// Then it puts back the action that was in place before (the default one
// when there was none) and lets the fault happen again: a fault raised by an
// instruction recurs when the handler returns to it and is then delivered,
// with its own details, to that action; a signal that was sent rather than
// caused by an instruction is raised again.  The process thus ends as it
// would have without the handler, killed by the same signal.  A sent signal
// (kill, sigqueue, tgkill, raise) is no fault of the program: it gets no
// report, only the action that was in place before.  SIGTRAP (a breakpoint)
// is not caught.
//
// Inside the handler only what tolerates a signal is used: fixed buffers,
// write, the unwinder (loaded before, at install) and dladdr.  dladdr takes
// the loader's lock, which is recursive, so only a fault in another thread
// holding it could hold the report up; this program has one thread.  Names
// are not demangled inside the handler (demangling allocates).
//
// The alternate stack belongs to the thread that installs the handler (the
// main thread); it is static, so installing never allocates and a removal
// never frees a stack that a handler might still run on.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>
#include <link.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include "../cv_crash_internal.h"
#include "../cv_fixed_text.h"
#include "cvplatform/cv_crash.h"

namespace {

constexpr int FATAL_SIGNALS[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};
constexpr int FATAL_SIGNAL_COUNT = sizeof FATAL_SIGNALS / sizeof FATAL_SIGNALS[0];

// Room for the handler's work: the report's line buffers (about 6 KiB), the
// captured frames, the unwinder and the loader, and the signal frame itself,
// which holds the whole processor state (over 10 KiB with the widest vector
// registers).
constexpr std::size_t SIGNAL_STACK_SIZE = 64 * 1024;

// Frames captured inside the handler beyond those reported: room for those
// before the faulting one (the handler's own, the kernel's signal return
// frame, and any a tool wraps around the capture).
constexpr int HANDLER_FRAMES = 8;

// Frames skipped when the faulting instruction is not found in a capture:
// the handler's own and the kernel's signal return frame.
constexpr int FALLBACK_SKIP = 2;

constexpr long WAIT_NANOSECONDS = 1000000;  // between looks while another thread reports

constexpr const char *UNKNOWN_MODULE = "??";

alignas(16) char g_signal_stack[SIGNAL_STACK_SIZE];

struct signal_hooks {
    struct sigaction previous[FATAL_SIGNAL_COUNT];
    stack_t previous_stack;
    bool hooked;
};

// The main program's module, which the loader names by the program's first
// argument (for a login shell "-cvshell"); its frames are named after the
// executable's file instead.
struct main_module {
    const void *start;
    char name[CV_BACKTRACE_NAME_SIZE];
};

signal_hooks g_hooks;
main_module g_main;
std::atomic<bool> g_reporting{false};

int signal_index(int signal) {
    for (int i = 0; i < FATAL_SIGNAL_COUNT; ++i)
        if (FATAL_SIGNALS[i] == signal) return i;
    return -1;
}

// The interrupted thread's instruction and stack pointers, where this
// platform's signal context is known.
struct interrupted_state {
    std::uintptr_t instruction;
    std::uintptr_t stack;
    bool known;
};

interrupted_state interrupted(void *context) {
    const auto *uc = static_cast<const ucontext_t *>(context);
#if defined(__x86_64__)
    return {static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]),
            static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_RSP]), true};
#elif defined(__i386__)
    return {static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_EIP]),
            static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_ESP]), true};
#elif defined(__aarch64__)
    return {static_cast<std::uintptr_t>(uc->uc_mcontext.pc),
            static_cast<std::uintptr_t>(uc->uc_mcontext.sp), true};
#else
    (void)uc;
    return {0, 0, false};
#endif
}

bool near(std::uintptr_t address, std::uintptr_t stack) {
    const std::uintptr_t distance = address > stack ? address - stack : stack - address;
    return distance <= CV_CRASH_STACK_REACH;
}

// Waits while another thread writes its report, so that two reports never
// mix.  The fatal signals are blocked inside the handler, so the same thread
// never comes here twice.
void take_turn() {
    while (g_reporting.exchange(true, std::memory_order_acquire)) {
        const struct timespec pause = {0, WAIT_NANOSECONDS};
        ::nanosleep(&pause, nullptr);
    }
}

// True when another process, or the program itself, sent the signal (kill,
// sigqueue, tgkill, raise): no instruction of the program faulted, so there
// is nothing to report.  Codes of signals the kernel raises for a fault are
// positive (SI_KERNEL included); those of sent signals are SI_USER (0) and
// the negative ones.
bool sent_by_a_process(const siginfo_t *info) { return info == nullptr || info->si_code <= 0; }

// True when the fault will not happen again by returning to the
// instruction: the signal was sent, or reports a memory error that the
// faulting instruction did not cause.
bool must_raise_again(int signal, const siginfo_t *info) {
    if (sent_by_a_process(info)) return true;
#ifdef BUS_MCEERR_AO
    if (signal == SIGBUS && info->si_code == BUS_MCEERR_AO) return true;
#else
    (void)signal;
#endif
    return false;
}

// Writes the report of a fault the program caused.
void report_fault(int signal, const siginfo_t *info, void *context) {
    const interrupted_state state = interrupted(context);
    const bool near_stack =
        state.known && info != nullptr && signal == SIGSEGV &&
        near(reinterpret_cast<std::uintptr_t>(info->si_addr), state.stack);
    const std::uint32_t code =
        cv_crash_exception_code(signal, info != nullptr ? info->si_code : 0, near_stack);

    void *frames[CV_CRASH_FRAMES + HANDLER_FRAMES];
    const int captured = ::backtrace(frames, CV_CRASH_FRAMES + HANDLER_FRAMES);
    // The report starts at the faulting instruction, which the unwinder finds
    // beyond the signal frame.
    int first = captured > FALLBACK_SKIP ? FALLBACK_SKIP : captured;
    bool exact = false;
    for (int i = 0; state.known && i < captured && i <= HANDLER_FRAMES; ++i) {
        if (reinterpret_cast<std::uintptr_t>(frames[i]) == state.instruction) {
            first = i;
            exact = true;
            break;
        }
    }
    const int available = captured - first;
    cv_crash_report(code, frames + first, available < CV_CRASH_FRAMES ? available : CV_CRASH_FRAMES,
                    exact);
}

void on_fatal_signal(int signal, siginfo_t *info, void *context) {
    const int saved_errno = errno;
    take_turn();
    if (!sent_by_a_process(info)) report_fault(signal, info, context);

    const int index = signal_index(signal);
    if (index >= 0) (void)::sigaction(signal, &g_hooks.previous[index], nullptr);
    g_reporting.store(false, std::memory_order_release);
    if (must_raise_again(signal, info)) (void)::raise(signal);
    errno = saved_errno;
}

// Finds where the main program is mapped: the first object the loader
// lists is the program, and the start the loader reports for an address is
// that of the program's lowest loaded segment.
int note_main_module(struct dl_phdr_info *info, std::size_t, void *data) {
    const long page = ::sysconf(_SC_PAGESIZE);
    const ElfW(Addr) mask = ~static_cast<ElfW(Addr)>(page > 0 ? page - 1 : 4095);
    ElfW(Addr) lowest = ~static_cast<ElfW(Addr)>(0);
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr) &segment = info->dlpi_phdr[i];
        if (segment.p_type == PT_LOAD && (segment.p_vaddr & mask) < lowest)
            lowest = segment.p_vaddr & mask;
    }
    if (lowest != ~static_cast<ElfW(Addr)>(0))
        *static_cast<const void **>(data) =
            reinterpret_cast<const void *>(info->dlpi_addr + lowest);
    return 1;  // the first object only
}

void copy_name(const char *text, char *name, std::size_t size) {
    std::size_t cursor = 0;
    cv_fixed_text(name, size, &cursor).put(text);
}

const char *last_component(const char *path) {
    const char *slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

}  // namespace

std::uint32_t cv_crash_exception_code(int signal, int si_code, bool near_stack_pointer) {
    switch (signal) {
    case SIGSEGV:
        if (near_stack_pointer) return CV_EXCEPTION_STACK_OVERFLOW;
#ifdef SEGV_BNDERR
        if (si_code == SEGV_BNDERR) return CV_EXCEPTION_ARRAY_BOUNDS_EXCEEDED;
#endif
        return CV_EXCEPTION_ACCESS_VIOLATION;
    case SIGBUS:
        // A misaligned access is its own exception; every other bus error is
        // memory that cannot be brought in (a mapped file cut short, a
        // hardware memory error).
        return si_code == BUS_ADRALN ? CV_EXCEPTION_DATATYPE_MISALIGNMENT
                                     : CV_EXCEPTION_IN_PAGE_ERROR;
    case SIGILL:
        return si_code == ILL_PRVOPC || si_code == ILL_PRVREG ? CV_EXCEPTION_PRIV_INSTRUCTION
                                                              : CV_EXCEPTION_ILLEGAL_INSTRUCTION;
    case SIGFPE:
        switch (si_code) {
        case FPE_INTDIV: return CV_EXCEPTION_INT_DIVIDE_BY_ZERO;
        case FPE_INTOVF: return CV_EXCEPTION_INT_OVERFLOW;
        case FPE_FLTDIV: return CV_EXCEPTION_FLT_DIVIDE_BY_ZERO;
        case FPE_FLTOVF: return CV_EXCEPTION_FLT_OVERFLOW;
        case FPE_FLTUND: return CV_EXCEPTION_FLT_UNDERFLOW;
        case FPE_FLTRES: return CV_EXCEPTION_FLT_INEXACT_RESULT;
        case FPE_FLTSUB: return CV_EXCEPTION_ARRAY_BOUNDS_EXCEEDED;
        default: return CV_EXCEPTION_FLT_INVALID_OPERATION;  // FPE_FLTINV and unknown kinds
        }
    default:
        return 0;
    }
}

cv_status cv_crash_platform_hook() {
    if (g_hooks.hooked) return CV_OK;
    stack_t stack{};
    stack.ss_sp = g_signal_stack;
    stack.ss_size = sizeof g_signal_stack;
    stack.ss_flags = 0;
    if (::sigaltstack(&stack, &g_hooks.previous_stack) != 0) return static_cast<cv_status>(errno);

    struct sigaction action {};
    action.sa_sigaction = on_fatal_signal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    // A second fault while the report is written ends the process at once
    // instead of starting a report inside the report.
    sigemptyset(&action.sa_mask);
    for (const int signal : FATAL_SIGNALS) sigaddset(&action.sa_mask, signal);

    for (int i = 0; i < FATAL_SIGNAL_COUNT; ++i) {
        if (::sigaction(FATAL_SIGNALS[i], &action, &g_hooks.previous[i]) != 0) {
            const cv_status error = static_cast<cv_status>(errno);
            while (--i >= 0) (void)::sigaction(FATAL_SIGNALS[i], &g_hooks.previous[i], nullptr);
            (void)::sigaltstack(&g_hooks.previous_stack, nullptr);
            return error;
        }
    }
    g_hooks.hooked = true;
    return CV_OK;
}

void cv_crash_platform_unhook() {
    if (!g_hooks.hooked) return;
    g_hooks.hooked = false;
    for (int i = 0; i < FATAL_SIGNAL_COUNT; ++i)
        (void)::sigaction(FATAL_SIGNALS[i], &g_hooks.previous[i], nullptr);
    // A stack that was not in use before is put back as disabled.
    (void)::sigaltstack(&g_hooks.previous_stack, nullptr);
}

cv_status cv_crash_platform_symbols_init(const char *exe_path) {
    g_main = main_module{};
    if (exe_path != nullptr) {
        (void)::dl_iterate_phdr(note_main_module, &g_main.start);
        copy_name(last_component(exe_path), g_main.name, sizeof g_main.name);
    }
    // The first capture loads the unwinder; this one spares the handler
    // from doing so.
    void *probe[1];
    return ::backtrace(probe, 1) > 0 ? CV_OK : CV_E_INTERNAL;
}

void cv_crash_platform_symbols_cleanup() { g_main = main_module{}; }

int cv_crash_platform_capture(void **frames, int max) { return ::backtrace(frames, max); }

void cv_crash_platform_symbol(const void *address, bool return_address, bool demangle,
                              char *name, std::size_t size, std::int64_t *displacement) {
    const auto raw = reinterpret_cast<std::uintptr_t>(address);
    const std::uintptr_t probe = return_address && raw != 0 ? raw - 1 : raw;
    Dl_info info{};
    if (::dladdr(reinterpret_cast<const void *>(probe), &info) == 0 || info.dli_fbase == nullptr) {
        copy_name(UNKNOWN_MODULE, name, size);
        *displacement = 0;
        return;
    }
    if (info.dli_sname != nullptr && info.dli_saddr != nullptr) {
        *displacement =
            static_cast<std::int64_t>(raw - reinterpret_cast<std::uintptr_t>(info.dli_saddr));
        if (demangle) {
            int status = -1;
            char *readable = abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status);
            if (status == 0 && readable != nullptr) {
                copy_name(readable, name, size);
                std::free(readable);
                return;
            }
            std::free(readable);
        }
        copy_name(info.dli_sname, name, size);
        return;
    }
    *displacement =
        static_cast<std::int64_t>(raw - reinterpret_cast<std::uintptr_t>(info.dli_fbase));
    const bool main = g_main.start != nullptr && info.dli_fbase == g_main.start;
    const char *module = main ? g_main.name
                              : info.dli_fname != nullptr ? last_component(info.dli_fname) : "";
    copy_name(module[0] != '\0' ? module : UNKNOWN_MODULE, name, size);
}
