// Tests of crash reporting: exception names and the mapping of signals to
// them, the backtrace line formats, the logged backtrace of the calling
// thread, installing and removing the handler, and real faults in child
// processes with the report they leave in the log.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "../src/cv_crash_internal.h"
#include "../src/cv_log_internal.h"
#include "cvplatform/cv_crash.h"
#include "cvplatform/cv_lib.h"
#include "cvplatform/cv_log.h"
#include "data/test_plugin.h"

namespace fs = std::filesystem;

namespace {

// The lines (without line ends) after the last one that ends in `marker`.
std::vector<std::string> lines_after(const std::string &file, const std::string &marker) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string all = text.str();
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = all.find("\r\n", at)) != std::string::npos; at = end + 2) {
        const std::string line = all.substr(at, end - at);
        if (line.size() >= marker.size() && line.ends_with(marker))
            lines.clear();
        else
            lines.push_back(line);
    }
    return lines;
}

// The body of a log line after a well-formed header, else "".
std::string body_of(const std::string &line) {
    static const std::regex header(
        R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[[0-9a-f]+-[0-9a-f]{8}\] (.*)$)");
    std::smatch match;
    return std::regex_match(line, match, header) ? match[1].str() : std::string();
}

struct frame_line {
    int index;
    std::string name;
    long long displacement;
};

// Parses " 7:0x00007f3a81c2924a name+123", with or without "ERR ".
bool parse_frame(const std::string &text, frame_line *frame) {
    static const std::regex format(R"(^(?:ERR )? ?(\d+):0x[0-9a-f]{16} (.+)\+(-?\d+)$)");
    std::smatch match;
    if (!std::regex_match(text, match, format)) return false;
    *frame = {std::stoi(match[1]), match[2], std::stoll(match[3])};
    return true;
}

// True when a frame names a place inside `function` of this program, whose
// functions the loader does not know: by the program's file name and the
// distance from the program's start.
bool names_test_function(const frame_line &frame, const void *function) {
    Dl_info info{};
    if (::dladdr(function, &info) == 0) return false;
    const long long start =
        static_cast<const char *>(function) - static_cast<char *>(info.dli_fbase);
    constexpr long long FUNCTION_SIZE = 512;  // more than any of the test's small functions
    return frame.name == fs::read_symlink("/proc/self/exe").filename().string() &&
           frame.displacement >= start && frame.displacement < start + FUNCTION_SIZE;
}

std::vector<std::string> g_printed;

int collect(char *line, std::size_t, std::size_t *cursor) {
    g_printed.emplace_back(line);
    *cursor = 0;
    return static_cast<int>(g_printed.size());
}

std::string printf_text(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string printf_text(const char *format, ...) {
    char text[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// The test plug-in, whose exported names the loader knows.
struct plugin {
    plugin() { EXPECT_EQ(cv_lib_load(&lib, CV_TEST_PLUGIN), 0u); }
    ~plugin() { cv_lib_unload(&lib); }
    char *address(const char *name) {
        cv_lib_function function = nullptr;
        EXPECT_EQ(cv_lib_symbol(&lib, name, &function), 0u) << name;
        return reinterpret_cast<char *>(function);
    }
    cv_lib_handle lib = nullptr;
};

TEST(ExceptionName, NamesEveryCodeOfTheTable) {
    const std::pair<std::uint32_t, const char *> table[] = {
        {0xC0000005, "ACCESS_VIOLATION"},      {0x80000002, "DATATYPE_MISALIGNMENT"},
        {0x80000003, "BREAKPOINT"},            {0x80000004, "SINGLE_STEP"},
        {0xC0000006, "IN_PAGE_ERROR"},         {0xC000001D, "ILLEGAL_INSTRUCTION"},
        {0xC0000025, "NONCONTINUABLE_EXCEPTION"}, {0xC0000026, "INVALID_DISPOSITION"},
        {0xC000008C, "ARRAY_BOUNDS_EXCEEDED"}, {0xC000008D, "FLT_DENORMAL_OPERAND"},
        {0xC000008E, "FLT_DIVIDE_BY_ZERO"},    {0xC000008F, "FLT_INEXACT_RESULT"},
        {0xC0000090, "FLT_INVALID_OPERATION"}, {0xC0000091, "FLT_OVERFLOW"},
        {0xC0000092, "FLT_STACK_CHECK"},       {0xC0000093, "FLT_UNDERFLOW"},
        {0xC0000094, "INT_DIVIDE_BY_ZERO"},    {0xC0000095, "INT_OVERFLOW"},
        {0xC0000096, "PRIV_INSTRUCTION"},      {0xC00000FD, "STACK_OVERFLOW"},
        {0, "UNKNOWN EXCEPTION"},              {0xC0000004, "UNKNOWN EXCEPTION"},
        {0xC00000FE, "UNKNOWN EXCEPTION"},     {0xFFFFFFFF, "UNKNOWN EXCEPTION"},
    };
    for (const auto &[code, name] : table) EXPECT_STREQ(cv_exception_name(code), name) << code;
}

TEST(ExceptionCode, MapsEachSignalAndKind) {
    const struct {
        int signal, si_code;
        bool near_stack;
        std::uint32_t code;
    } table[] = {
        {SIGSEGV, SEGV_MAPERR, false, 0xC0000005}, {SIGSEGV, SEGV_ACCERR, false, 0xC0000005},
        {SIGSEGV, SEGV_MAPERR, true, 0xC00000FD},  {SIGSEGV, SEGV_ACCERR, true, 0xC00000FD},
        {SIGBUS, BUS_ADRALN, false, 0x80000002},   {SIGBUS, BUS_ADRERR, false, 0xC0000006},
        {SIGBUS, BUS_OBJERR, false, 0xC0000006},   {SIGILL, ILL_ILLOPN, false, 0xC000001D},
        {SIGILL, ILL_ILLOPC, false, 0xC000001D},   {SIGILL, ILL_PRVOPC, false, 0xC0000096},
        {SIGFPE, FPE_INTDIV, false, 0xC0000094},   {SIGFPE, FPE_INTOVF, false, 0xC0000095},
        {SIGFPE, FPE_FLTDIV, false, 0xC000008E},   {SIGFPE, FPE_FLTOVF, false, 0xC0000091},
        {SIGFPE, FPE_FLTUND, false, 0xC0000093},   {SIGFPE, FPE_FLTRES, false, 0xC000008F},
        {SIGFPE, FPE_FLTINV, false, 0xC0000090},   {SIGFPE, FPE_FLTSUB, false, 0xC000008C},
        {SIGTRAP, TRAP_BRKPT, false, 0},           {SIGABRT, SI_TKILL, false, 0},
    };
    for (const auto &row : table)
        EXPECT_EQ(cv_crash_exception_code(row.signal, row.si_code, row.near_stack), row.code)
            << "signal " << row.signal << " kind " << row.si_code << " near " << row.near_stack;
}

TEST(BacktracePrint, LinesFollowTheirFormats) {
    char line[CV_BACKTRACE_LINE_SIZE];
    std::size_t cursor = 0;
    g_printed.clear();
    EXPECT_EQ(cv_backtrace_print(nullptr, 0, 0x1234, collect, line, sizeof line, &cursor), 1);
    EXPECT_EQ(g_printed, std::vector<std::string>{"Backtrace unavailable."});
    EXPECT_EQ(cv_backtrace_print(nullptr, 0, 0, nullptr, line, sizeof line, &cursor), 22);

    plugin p;
    char *const call_through = static_cast<char *>(
        reinterpret_cast<void *(*)()>(p.address("cv_test_plugin_call_through_address"))());
    // Return addresses a few bytes into two functions, and one in no module.
    void *frames[] = {p.address("cv_test_plugin_answer") + 3, call_through + 1,
                      reinterpret_cast<void *>(0x10)};
    const char *names[] = {"cv_test_plugin_answer", "cv_test_plugin::call_through(void (*)())",
                           "??"};
    const long long displacements[] = {3, 1, 0};
    for (const std::uint32_t hash : {0x5e1f09a2u, 0u}) {  // "%#x" prints 0 without "0x"
        g_printed.clear();
        EXPECT_EQ(cv_backtrace_print(frames, 3, hash, collect, line, sizeof line, &cursor), 4);
        std::vector<std::string> expected = {printf_text("Backtrace hash:%#x ", hash)};
        for (int i = 0; i < 3; ++i) {
            expected[0] += printf_text("0x%.*lx ", 16, reinterpret_cast<unsigned long>(frames[i]));
            // As "%2d:0x%0.*lx %s+%lld": the "0" flag does nothing beside a precision.
            expected.push_back(printf_text("%2d:0x%.*lx %s+%lld", i, 16,
                                           reinterpret_cast<unsigned long>(frames[i]), names[i],
                                           displacements[i]));
        }
        EXPECT_EQ(g_printed, expected);
    }
}

TEST(BacktracePrint, LinesAreCutNeverOverrun) {
    plugin p;
    const std::string long_name = CV_TEST_PLUGIN_TEXT(CV_TEST_PLUGIN_LONG_NAME);
    const std::vector<void *> frames(CV_CRASH_FRAMES, p.address(long_name.c_str()) + 1);
    char line[CV_BACKTRACE_LINE_SIZE + 1];
    line[CV_BACKTRACE_LINE_SIZE] = '#';
    std::size_t cursor = 0;
    g_printed.clear();
    cv_backtrace_print(frames.data(), CV_CRASH_FRAMES, 0x12345678, collect, line,
                       CV_BACKTRACE_LINE_SIZE, &cursor);
    EXPECT_EQ(line[CV_BACKTRACE_LINE_SIZE], '#');
    ASSERT_EQ(g_printed.size(), 1u + CV_CRASH_FRAMES);
    // As many whole addresses as fit the hash line; names cut to 255.
    const std::size_t prefix = std::string("Backtrace hash:0x12345678 ").size();
    EXPECT_EQ(g_printed[0].size(), prefix + (CV_BACKTRACE_LINE_SIZE - 1 - prefix) / 19 * 19);
    frame_line frame;
    ASSERT_TRUE(parse_frame(g_printed[1], &frame)) << g_printed[1];
    EXPECT_EQ(frame.name, long_name.substr(0, CV_BACKTRACE_NAME_SIZE - 1));

    char tiny[9];
    tiny[8] = '#';
    g_printed.clear();
    cv_backtrace_print(frames.data(), 2, 1, collect, tiny, 8, &cursor);
    EXPECT_EQ(tiny[8], '#');
    EXPECT_EQ(g_printed, (std::vector<std::string>{"Backtra", " 0:0x00", " 1:0x00"}));
}

TEST(CrashHandler, InstallsOnceAndPutsBackWhatWasThere) {
    cv_log_close();  // which removes the handler the log installed
    struct sigaction mine {}, original{}, seen{};
    mine.sa_handler = [](int) {};
    ASSERT_EQ(::sigaction(SIGBUS, &mine, &original), 0);
    stack_t stack_before{}, stack_seen{};
    ASSERT_EQ(::sigaltstack(nullptr, &stack_before), 0);

    ASSERT_EQ(cv_crash_handler_install(), 0u);
    ::sigaction(SIGBUS, nullptr, &seen);
    EXPECT_NE(seen.sa_handler, mine.sa_handler);
    EXPECT_NE(seen.sa_flags & SA_ONSTACK, 0);
    ::sigaltstack(nullptr, &stack_seen);
    EXPECT_EQ(stack_seen.ss_flags & SS_DISABLE, 0);
    // A second install must not take the installed handler for the one to
    // put back.
    ASSERT_EQ(cv_crash_handler_install(), 0u);
    for (int removal = 0; removal < 2; ++removal) {
        EXPECT_EQ(cv_crash_handler_remove(), 0u);
        ::sigaction(SIGBUS, nullptr, &seen);
        EXPECT_EQ(seen.sa_handler, mine.sa_handler);
        ::sigaltstack(nullptr, &stack_seen);
        EXPECT_EQ(stack_seen.ss_flags, stack_before.ss_flags);
        EXPECT_EQ(stack_seen.ss_sp, stack_before.ss_sp);
    }
    ::sigaction(SIGBUS, &original, nullptr);
}

// The log in a temporary directory (which installs the handler).
class Crash : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/cv_crash_test.XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
        cv_log_close();
        ASSERT_EQ(cv_log_init(1, log_name().c_str()), 0u);
    }
    void TearDown() override {
        cv_log_close();
        fs::remove_all(dir);
    }
    std::string log_name() const { return dir + "/crash.log"; }
    std::vector<std::string> logged_after(const std::string &marker) const {
        return lines_after(dir + "/crash.0.log", marker);
    }

    std::string dir;
};

[[gnu::noinline]] void log_backtrace_here() {
    cv_backtrace_log_current();
    asm volatile("" ::: "memory");  // not a jump: this frame stays the caller's
}

TEST_F(Crash, LogCurrentWritesTheCallersStack) {
    plugin p;
    cv_log_info("mark");
    reinterpret_cast<void (*)(void (*)())>(p.address("cv_test_plugin_call"))(log_backtrace_here);
    const std::vector<std::string> lines = logged_after("LOG mark");
    ASSERT_GE(lines.size(), 3u);
    EXPECT_LE(lines.size(), 1u + CV_BACKTRACE_CURRENT_FRAMES);
    EXPECT_TRUE(body_of(lines[0]).starts_with("ERR Backtrace hash:0x")) << lines[0];
    bool through_plugin = false;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        frame_line frame;
        ASSERT_TRUE(parse_frame(body_of(lines[i]), &frame)) << lines[i];
        EXPECT_EQ(frame.index, static_cast<int>(i - 1));
        if (i == 1) {
            EXPECT_TRUE(names_test_function(frame, reinterpret_cast<void *>(&log_backtrace_here)));
        }
        through_plugin |= frame.name == "cv_test_plugin::call_through(void (*)())";
    }
    EXPECT_TRUE(through_plugin);
}

// ---- Real faults, each in a child process ----

volatile bool g_keep_going = true;

[[gnu::noinline]] void write_null() {
    volatile int *volatile target = nullptr;
    *target = 1;
}

[[gnu::noinline]] void divide_by_zero() {
    volatile int dividend = 1, divisor = 0;
    volatile int quotient = dividend / divisor;
    (void)quotient;
}

[[gnu::noinline]] int recurse(int depth) {
    volatile char frame[1024];
    frame[0] = static_cast<char>(depth);
    return g_keep_going ? recurse(depth + 1) + frame[0] : 0;
}

[[gnu::noinline]] void overflow_stack() { (void)recurse(0); }

[[gnu::noinline]] void illegal_instruction() { __builtin_trap(); }

void write_null_in_plugin() {
    plugin p;
    reinterpret_cast<void (*)()>(p.address("cv_test_plugin_write_null"))();
}

struct child_end {
    int signal;     // that killed it, 0 if none
    int exit_code;  // when it exited
};

// Runs `body` in a child that logs into `log_name`, after "before the fault".
child_end run_child(const std::string &log_name, const std::function<void()> &body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const struct rlimit no_core = {0, 0};
        ::setrlimit(RLIMIT_CORE, &no_core);
        cv_log_close();
        if (cv_log_init(1, log_name.c_str()) != 0) ::_exit(90);
        cv_log_info("before the fault");
        body();
        ::_exit(91);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return {WIFSIGNALED(status) ? WTERMSIG(status) : 0,
            WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

#ifdef CV_SANITIZER_BUILD
#define SKIP_UNDER_SANITIZER()                                                            \
    GTEST_SKIP() << "the sanitizer runtime handles SIGSEGV, SIGBUS and SIGFPE itself and " \
                    "ends the process with its own report instead of the signal"
#else
#define SKIP_UNDER_SANITIZER() (void)0
#endif

TEST_F(Crash, FatalFaultsAreReportedAndKillTheProcess) {
    SKIP_UNDER_SANITIZER();
    const struct {
        const char *report;
        int signal;
        void (*fault)();
        const void *faulting;  // in this program; else the plug-in's name
    } cases[] = {
        {"ACCESS_VIOLATION(3221225477)", SIGSEGV, write_null, reinterpret_cast<void *>(write_null)},
        {"INT_DIVIDE_BY_ZERO(3221225620)", SIGFPE, divide_by_zero,
         reinterpret_cast<void *>(divide_by_zero)},
        {"STACK_OVERFLOW(3221225725)", SIGSEGV, overflow_stack, reinterpret_cast<void *>(recurse)},
        {"ILLEGAL_INSTRUCTION(3221225501)", SIGILL, illegal_instruction,
         reinterpret_cast<void *>(illegal_instruction)},
        {"ACCESS_VIOLATION(3221225477)", SIGSEGV, write_null_in_plugin, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.report);
        EXPECT_EQ(run_child(log_name(), c.fault).signal, c.signal);
        const std::vector<std::string> lines = logged_after("LOG before the fault");
        ASSERT_GE(lines.size(), 3u);
        EXPECT_LE(lines.size(), 2u + CV_CRASH_FRAMES);
        EXPECT_EQ(body_of(lines[0]), std::string("ERR Unhandled Exception ") + c.report);
        EXPECT_TRUE(body_of(lines[1]).starts_with("ERR Backtrace hash:0x")) << lines[1];
        std::vector<frame_line> frames(lines.size() - 2);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            ASSERT_TRUE(parse_frame(body_of(lines[i + 2]), &frames[i])) << lines[i + 2];
            EXPECT_EQ(frames[i].index, static_cast<int>(i));
        }
        // The first frame is the faulting function itself.
        if (c.faulting != nullptr) {
            EXPECT_TRUE(names_test_function(frames[0], c.faulting)) << lines[2];
        } else {
            EXPECT_EQ(frames[0].name, "cv_test_plugin_write_null");
        }
    }
}

// A fault signal that a process sends is no fault of the program's own: no
// report, and the process still ends by the signal's default action.
TEST_F(Crash, SentFaultSignalsAreNotReported) {
    const struct {
        const char *how;
        int signal;
        void (*send)(int);
    } cases[] = {
        {"kill SIGSEGV", SIGSEGV, [](int s) { ::kill(::getpid(), s); }},
        {"kill SIGBUS", SIGBUS, [](int s) { ::kill(::getpid(), s); }},
        {"sigqueue SIGSEGV", SIGSEGV, [](int s) { ::sigqueue(::getpid(), s, sigval{}); }},
        {"tgkill SIGSEGV", SIGSEGV, [](int s) { ::tgkill(::getpid(), ::gettid(), s); }},
        {"raise SIGFPE", SIGFPE, [](int s) { ::raise(s); }},
        {"kill SIGILL", SIGILL, [](int s) { ::kill(::getpid(), s); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.how);
        const int signal = c.signal;
        void (*send)(int) = c.send;
        const child_end end = run_child(log_name(), [signal, send] {
            send(signal);
            // The signal is delivered before the sending call returns; should
            // it be ignored, the child says so by its exit code.
            ::_exit(93);
        });
#ifndef CV_SANITIZER_BUILD
        EXPECT_EQ(end.signal, signal);
#else
        (void)end;  // the sanitizer's own handler ends the process its way
#endif
        for (const std::string &line : logged_after("LOG before the fault"))
            EXPECT_EQ(line.find("Unhandled Exception"), std::string::npos) << line;
    }
}

TEST_F(Crash, HandlerInPlaceBeforeRunsAfterTheReport) {
    SKIP_UNDER_SANITIZER();
    const child_end end = run_child(log_name(), [this] {
        cv_log_close();
        std::signal(SIGSEGV, [](int) { ::_exit(42); });
        if (cv_log_init(1, log_name().c_str()) == 0) cv_log_info("before the fault");
        write_null();
    });
    EXPECT_EQ(end.exit_code, 42);
    const std::vector<std::string> lines = logged_after("LOG before the fault");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(body_of(lines[0]), "ERR Unhandled Exception ACCESS_VIOLATION(3221225477)");
}

TEST_F(Crash, BreakpointIsNotReported) {
    EXPECT_EQ(run_child(log_name(), [] { ::raise(SIGTRAP); }).signal, SIGTRAP);
    EXPECT_TRUE(logged_after("LOG before the fault").empty());
}

// The time of a log line's header, read as if it were UTC.
std::time_t header_time(const std::string &line) {
    struct tm fields {};
    return ::strptime(line.c_str(), "%Y-%m-%d %H:%M:%S", &fields) ? ::timegm(&fields) : -1;
}

TEST_F(Crash, RawLinesCarryTheHeaderOfOrdinaryLines) {
    const child_end end = run_child(log_name(), [this] {
        // A zone far from UTC, so that a raw line in UTC would stand out.
        ::setenv("TZ", "CVT-05:30", 1);
        ::tzset();
        cv_log_close();
        if (cv_log_init(1, log_name().c_str()) != 0) return;
        cv_log_info("before the fault");
        cv_log_info("ordinary");
        cv_log_info("ordinary");
        for (int i = 0; i < 2; ++i) cv_log_write_raw_line(CV_LOG_LEVEL_ERROR, "raw line!", 8);
        cv_log_info("after");
        ::_exit(0);
    });
    EXPECT_EQ(end.exit_code, 0);
    const std::vector<std::string> lines = logged_after("LOG before the fault");
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(body_of(lines[0]), "LOG ordinary");
    EXPECT_EQ(lines[1], "Last message repeated 1 times");
    // After a repeat notice the thread id is not padded, in both kinds of line.
    const std::size_t ids = lines[2].find(" [");
    EXPECT_EQ(lines[2].substr(ids),
              lines[4].substr(ids, lines[4].find(']') - ids) + "] ERR raw line");
    EXPECT_EQ(lines[3], "Last message repeated 1 times");
    EXPECT_TRUE(lines[4].ends_with("] LOG after"));
    EXPECT_LE(std::abs(header_time(lines[2]) - header_time(lines[0])), 2);
    EXPECT_LE(std::abs(header_time(lines[4]) - header_time(lines[2])), 2);
}

}  // namespace
