// Tests of the process-wide log: the bytes of every line form, repeat
// suppression, standard-error mode, the ring of numbered files and its size
// suffix, the default directory, and the argument and failure cases of
// opening it.  Every test reads back what the log wrote.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "../src/cv_log_internal.h"
#include "cvplatform/cv_log.h"
#include "cvplatform/cv_mutex.h"
#include "cv_test_temp_dir.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t MIB = 1048576;
constexpr const char *HELPER_VARIABLE = "CV_LOG_TEST_HELPER_OUTPUT";

// The default directory, seen from a copy of this program placed in an
// installation tree: run before the tests when the variable names an output
// file, then the process ends.
struct default_dir_helper {
    default_dir_helper() {
        const char *output = std::getenv(HELPER_VARIABLE);
        if (output == nullptr) return;
        char dir[CV_LOG_PATH_SIZE];
        const cv_status found = cv_log_get_default_dir(dir, sizeof dir);
        const cv_status opened = cv_log_init(1, "name.log:20");
        std::ofstream out(output, std::ios::binary);
        out << found << '\n'
            << dir << '\n'
            << opened << '\n'
            << cv_log_max_size() << '\n'
            << cv_log_current_file() << '\n'
            << cv_log_path() << '\n';
        cv_log_close();
        out.close();
        std::_Exit(0);
    }
} run_helper_first;


std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The CR LF terminated lines of `text`; a trailing piece without CR LF is
// returned as a last line of its own, so that tests see it.
std::vector<std::string> split_lines(const std::string &text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) break;
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

std::string hex(std::uint32_t value, bool padded) {
    char text[16];
    std::snprintf(text, sizeof text, padded ? "%08x" : "%x", value);
    return text;
}

std::uint64_t inode_of(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

void make_file(const std::string &path, std::uint64_t size) {
    std::ofstream(path, std::ios::binary).close();
    fs::resize_file(path, size);
}

// Sends a standard descriptor (standard error unless told otherwise) to a
// file for the lifetime of the object.
class stderr_capture {
public:
    explicit stderr_capture(std::string path, int fd = 2) : path_(std::move(path)), fd_(fd) {
        std::fflush(fd_ == 1 ? stdout : stderr);
        saved_ = ::dup(fd_);
        const int file = ::open(path_.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
        ::dup2(file, fd_);
        ::close(file);
    }
    ~stderr_capture() { finish(); }
    stderr_capture(const stderr_capture &) = delete;
    stderr_capture &operator=(const stderr_capture &) = delete;
    std::string finish() {
        if (saved_ >= 0) {
            std::fflush(fd_ == 1 ? stdout : stderr);
            ::dup2(saved_, fd_);
            ::close(saved_);
            saved_ = -1;
        }
        return read_file(path_);
    }

private:
    std::string path_;
    int fd_;
    int saved_ = -1;
};

fs::perms mode_of(const std::string &path) { return fs::symlink_status(path).permissions(); }

int log_through_dispatcher(int destination, int level, const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    const int result = cv_log_vmsg(destination, level, fmt, args);
    va_end(args);
    return result;
}

// Every test starts and ends with the log closed and the switches as the
// program starts with them.
class Log : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path().empty());
        cv_log_close();
    }
    void TearDown() override {
        cv_log_close();
        cv_log_enabled = 1;
        cv_log_debug_enabled = 0;
    }
    // Opens "<dir>/<name>" and checks it opened.
    void open_log(const std::string &name) { ASSERT_EQ(cv_log_init(1, (dir / name).c_str()), 0u); }

    temp_dir dir;
};

// ---------------------------------------------------------------------------
// Line forms

const std::regex HEADER(
    R"(^(\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2})\.(\d{3}) \[([0-9a-f]+)-([0-9a-f]+)\] (.*)$)");

TEST_F(Log, LinesHaveTimestampIdsLevelAndCrLf) {
    cv_log_debug_enabled = 1;
    const std::time_t before = std::time(nullptr);
    open_log("shape.log");
    cv_log_error("value %d of %s", 42, "answer");
    cv_log_info("information");
    cv_log_debug("detail");
    const std::time_t after = std::time(nullptr);
    cv_log_close();

    const std::string text = read_file(dir / "shape.0.log");
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    const std::vector<std::string> lines = split_lines(text);
    const std::vector<std::string> bodies = {"ERR value 42 of answer", "LOG information",
                                             "DBG detail"};
    ASSERT_EQ(lines.size(), bodies.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, HEADER)) << lines[i];
        EXPECT_EQ(m[8].str(), hex(static_cast<std::uint32_t>(::getpid()), false));
        EXPECT_EQ(m[9].str(), hex(cv_thread_id(), true));
        EXPECT_EQ(m[10].str(), bodies[i]);
        EXPECT_EQ(m[7].str().size(), 3u);
        // Local calendar time of the moment of logging.
        struct tm fields {};
        fields.tm_year = std::stoi(m[1]) - 1900;
        fields.tm_mon = std::stoi(m[2]) - 1;
        fields.tm_mday = std::stoi(m[3]);
        fields.tm_hour = std::stoi(m[4]);
        fields.tm_min = std::stoi(m[5]);
        fields.tm_sec = std::stoi(m[6]);
        fields.tm_isdst = -1;
        const std::time_t logged = std::mktime(&fields);
        EXPECT_GE(logged, before - 1);
        EXPECT_LE(logged, after + 1);
    }
}

TEST_F(Log, RepeatedLinesAreCountedAndAnnounced) {
    open_log("rep.log");
    cv_log_info("alpha");
    cv_log_info("alpha");
    cv_log_info("alpha");
    cv_log_info("beta");
    cv_log_info("beta");
    cv_log_info("gamma");
    cv_log_close();

    const std::vector<std::string> lines = split_lines(read_file(dir / "rep.0.log"));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[1], "Last message repeated 2 times");
    EXPECT_EQ(lines[3], "Last message repeated 1 times");
    const std::string unpadded = "-" + hex(cv_thread_id(), false) + "] ";
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, HEADER));
    EXPECT_EQ(m[10].str(), "LOG alpha");
    // After a notice the thread id is printed without padding.
    ASSERT_TRUE(std::regex_match(lines[2], m, HEADER));
    EXPECT_EQ(m[10].str(), "LOG beta");
    EXPECT_EQ(m[9].str(), hex(cv_thread_id(), false));
    EXPECT_NE(lines[2].find(unpadded), std::string::npos);
    ASSERT_TRUE(std::regex_match(lines[4], m, HEADER));
    EXPECT_EQ(m[10].str(), "LOG gamma");
}

TEST_F(Log, SameTextAtAnotherLevelIsNotARepeat) {
    open_log("lvl.log");
    cv_log_error("same");
    cv_log_info("same");
    cv_log_close();
    const std::string text = read_file(dir / "lvl.0.log");
    const std::vector<std::string> lines = split_lines(text);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(text.find("Last message repeated"), std::string::npos);
    EXPECT_NE(lines[0].find("] ERR same"), std::string::npos);
    EXPECT_NE(lines[1].find("] LOG same"), std::string::npos);
}

TEST_F(Log, RepeatsPendingAtCloseAreNeverReported) {
    open_log("pend.log");
    cv_log_info("twice");
    cv_log_info("twice");
    cv_log_close();
    open_log("pend.log");
    cv_log_info("twice");  // a new log: not a repeat of the closed one
    cv_log_info("after");
    cv_log_close();
    const std::string text = read_file(dir / "pend.0.log");
    EXPECT_EQ(text.find("Last message repeated"), std::string::npos) << text;
    EXPECT_EQ(split_lines(text).size(), 3u);
}

TEST_F(Log, LongMessagesAreCutAndCompareAsCut) {
    open_log("long.log");
    const std::string long_text(5000, 'y');
    cv_log_info("%s", long_text.c_str());
    // Differs only after the cut: a repeat.
    cv_log_info("%s", (std::string(4089, 'y') + "tail").c_str());
    cv_log_info("end");
    cv_log_close();
    const std::vector<std::string> lines = split_lines(read_file(dir / "long.0.log"));
    ASSERT_EQ(lines.size(), 3u);
    const std::size_t body = lines[0].find("] LOG ") + 2;
    EXPECT_EQ(lines[0].substr(body), "LOG " + std::string(4089, 'y'));
    EXPECT_EQ(lines[1], "Last message repeated 1 times");
}

TEST_F(Log, CutMultibyteMessageLeavesNoStrayBytes) {
    open_log("utf.log");
    const std::string text = std::string(4088, 'x') + "\xc3\xa9";  // é does not fit whole
    cv_log_info("%s", text.c_str());
    cv_log_close();
    const std::string file = read_file(dir / "utf.0.log");
    EXPECT_EQ(file.find('\0'), std::string::npos);
    const std::vector<std::string> lines = split_lines(file);
    ASSERT_EQ(lines.size(), 1u);
    const std::string body = lines[0].substr(lines[0].find("] LOG ") + 6);
    EXPECT_LE(body.size(), 4089u);
    EXPECT_GE(body.size(), 4088u);
    EXPECT_EQ(text.compare(0, body.size(), body), 0);
}

// ---------------------------------------------------------------------------
// Control characters: one call is one line

TEST(LogNeutralise, ControlBytesBecomeEscapes) {
    const struct {
        std::string in;
        std::size_t capacity;
        std::string out;
    } cases[] = {
        {"plain text", 64, "plain text"},
        {"a\rb\nc", 64, "a\\x0Db\\x0Ac"},
        {"\x1b[31mred", 64, "\\x1B[31mred"},
        {std::string("nul\0end", 7), 64, "nul\\x00end"},
        {"tab\tdel\x7f", 64, "tab\\x09del\\x7F"},
        {"\x1f\x20", 64, "\\x1F "},
        {"back\\slash", 64, "back\\slash"},  // not doubled here
        {"\xc3\xa9t\xc3\xa9", 64, "\xc3\xa9t\xc3\xa9"},
        {"\xc3\n", 64, "\xc3\\x0A"},  // a lead byte does not take the control byte along
        {"\x80\xff", 64, "\x80\xff"},  // bytes above 0x7F stay as they are
        {"ab\n", 5, "ab"},             // an escape goes whole or not at all
        {"ab\n", 6, "ab\\x0A"},
        {"ab\xe2\x82\xac", 4, "ab"},  // so does a character
        {"ab\xe2\x82\xac", 5, "ab\xe2\x82\xac"},
        {"", 64, ""},
    };
    for (const auto &c : cases) {
        char out[64];
        const std::size_t n = cv_log_neutralise_controls(c.in.data(), c.in.size(), out, c.capacity);
        EXPECT_EQ(std::string(out, n), c.out) << c.in;
    }
}

TEST_F(Log, ControlCharactersNeverEndTheLine) {
    open_log("ctl.log");
    cv_log_info("one\r\ntwo\x1b]0;title\x07 end");
    cv_log_error("nul %c here", 0);
    ASSERT_EQ(cv_log_write_raw_line(CV_LOG_LEVEL_ERROR, "raw\r\nline\x1b", 10), 0u);
    cv_log_info("%s", (std::string(4085, 'x') + "\n").c_str());  // the escape just fits
    cv_log_info("%s", (std::string(4086, 'y') + "\n").c_str());  // it does not
    cv_log_close();
    const std::vector<std::string> lines = split_lines(read_file(dir / "ctl.0.log"));
    ASSERT_EQ(lines.size(), 5u);
    const std::string bodies[] = {
        "LOG one\\x0D\\x0Atwo\\x1B]0;title\\x07 end",
        "ERR nul \\x00 here",
        "ERR raw\\x0D\\x0Aline\\x1B",
        "LOG " + std::string(4085, 'x') + "\\x0A",
        "LOG " + std::string(4086, 'y'),
    };
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, HEADER)) << i;
        EXPECT_EQ(m[10].str(), bodies[i]) << i;
    }
}

TEST_F(Log, ControlCharactersOnStandardErrorToo) {
    stderr_capture capture(dir / "stderr.txt");
    ASSERT_EQ(cv_log_init(1, "-"), 0u);
    cv_log_info("a\nb");
    ASSERT_EQ(cv_log_write_raw_line(CV_LOG_LEVEL_INFO, "c\rd", 3), 0u);
    cv_log_close();
    EXPECT_EQ(capture.finish(), "LOG a\\x0Ab\r\nLOG c\\x0Dd\r\n");
}

// ---------------------------------------------------------------------------
// Standard error only, switches and dispatch

TEST_F(Log, DashWritesBodiesToStandardErrorOnly) {
    const fs::path previous = fs::current_path();
    const std::string work = dir / "cwd";
    fs::create_directory(work);
    fs::current_path(work);
    stderr_capture capture(dir / "stderr.txt");
    EXPECT_EQ(cv_log_init(1, "-"), 0u);
    cv_log_error("first %d", 1);
    cv_log_info("second");
    cv_log_info("second");
    cv_log_info("third");
    cv_log_close();
    const std::string err = capture.finish();
    fs::current_path(previous);
    EXPECT_EQ(err, "ERR first 1\r\nLOG second\r\nLOG third\r\n");
    EXPECT_TRUE(fs::is_empty(work));
    EXPECT_STREQ(cv_log_current_file(), "");
}

TEST_F(Log, SwitchesGateWhatIsWritten) {
    open_log("sw.log");
    cv_log_debug("hidden debug");  // debug switch off
    cv_log_enabled = 0;
    cv_log_error("hidden error");
    cv_log_enabled = 1;
    cv_log_debug_enabled = 1;
    cv_log_debug("shown debug");
    cv_log_close();
    const std::vector<std::string> lines = split_lines(read_file(dir / "sw.0.log"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("] DBG shown debug"), std::string::npos);
}

TEST_F(Log, DispatcherDestinations) {
    open_log("dst.log");
    EXPECT_EQ(log_through_dispatcher(CV_LOG_NOT_INITIALISED, 1, "discarded"), 0);
    EXPECT_EQ(log_through_dispatcher(1, 1, "held for replay"), 0);
    EXPECT_EQ(log_through_dispatcher(3, 1, "bad"), 22);
    EXPECT_EQ(log_through_dispatcher(-1, 0, "bad"), 22);
    EXPECT_EQ(log_through_dispatcher(CV_LOG_OPEN, 0, "written %s", "here"), 0);
    cv_log_close();
    const std::vector<std::string> lines = split_lines(read_file(dir / "dst.0.log"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("] ERR written here"), std::string::npos);
}

TEST_F(Log, ClosedLogDiscardsMessages) {
    cv_log_info("before any init");
    open_log("closed.log");
    cv_log_info("kept");
    cv_log_close();
    cv_log_error("after close");
    EXPECT_EQ(split_lines(read_file(dir / "closed.0.log")).size(), 1u);
}

TEST_F(Log, ErrnoIsPreservedAcrossEveryCall) {
    stderr_capture capture(dir / "stderr.txt");
    errno = EDOM;
    cv_log_info("not initialised");
    EXPECT_EQ(errno, EDOM);
    ASSERT_EQ(cv_log_init(1, (dir / "errno.log").c_str()), 0u);
    errno = ERANGE;
    cv_log_error("written");
    EXPECT_EQ(errno, ERANGE);
    cv_log_error("written");  // a repeat
    EXPECT_EQ(errno, ERANGE);
    cv_log_flush();
    EXPECT_EQ(errno, ERANGE);
    cv_log_close();
    EXPECT_EQ(errno, ERANGE);
    errno = EDOM;
    EXPECT_NE(cv_log_init(1, (dir / "absent/errno.log").c_str()), 0u);
    EXPECT_EQ(errno, EDOM);
    EXPECT_EQ(cv_log_init(1, "-"), 0u);
    errno = ENOENT;
    cv_log_info("to stderr");
    EXPECT_EQ(errno, ENOENT);
    cv_log_close();
    EXPECT_NE(capture.finish().find("LOG to stderr\r\n"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Opening

TEST_F(Log, InitArguments) {
    EXPECT_EQ(cv_log_init(1, nullptr), 22u);
    EXPECT_EQ(cv_log_init(1, ""), 22u);
    EXPECT_EQ(cv_log_init(3, (dir / "a.log").c_str()), 22u);
    const std::string too_long = dir.path() + "/" + std::string(8193, 'n');
    EXPECT_EQ(cv_log_init(1, too_long.c_str()), 206u);
    // 8192 bytes leave no room for the terminator of the stored path.
    EXPECT_EQ(cv_log_init(1, too_long.substr(0, 8192).c_str()), 206u);
    EXPECT_FALSE(fs::exists(dir / "a.0.log"));
    EXPECT_EQ(cv_log_init(2, (dir / "a.log").c_str()), 0u);
    EXPECT_TRUE(fs::exists(dir / "a.0.log"));
}

TEST_F(Log, SecondInitKeepsTheFirstFile) {
    open_log("first.log");
    EXPECT_EQ(cv_log_init(1, (dir / "second.log").c_str()), 0u);
    cv_log_info("where");
    cv_log_close();
    EXPECT_FALSE(fs::exists(dir / "second.0.log"));
    EXPECT_NE(read_file(dir / "first.0.log").find("LOG where"), std::string::npos);
}

// The group of the transfer accounts appends; nobody else may read the
// client addresses and command lines the log holds.
TEST_F(Log, NewRingFilesAreForTheGroupOnlyWhateverTheMask) {
    const fs::perms group_only = fs::perms::owner_read | fs::perms::owner_write |
                                 fs::perms::group_read | fs::perms::group_write;
    for (const mode_t mask : {mode_t{0}, mode_t{022}, mode_t{077}}) {
        SCOPED_TRACE(mask);
        const std::string name = "mask" + std::to_string(mask);
        const mode_t old_mask = ::umask(mask);
        const cv_status opened = cv_log_init(1, (dir / (name + ".log")).c_str());
        ::umask(old_mask);
        ASSERT_EQ(opened, 0u);
        cv_log_info("line");
        cv_log_close();
        EXPECT_EQ(mode_of(dir / (name + ".0.log")), group_only);
        EXPECT_EQ(inode_of(dir / (name + ".log")), inode_of(dir / (name + ".0.log")));
    }
}

// A file that is already there is somebody's: it is appended to as it is.
TEST_F(Log, ExistingRingFileKeepsItsMode) {
    {
        std::ofstream(dir / "own.0.log", std::ios::binary) << "earlier\r\n";
    }
    fs::permissions(dir / "own.0.log", fs::perms::owner_read | fs::perms::owner_write);
    const mode_t old_mask = ::umask(0);
    const cv_status opened = cv_log_init(1, (dir / "own.log").c_str());
    ::umask(old_mask);
    ASSERT_EQ(opened, 0u);
    EXPECT_EQ(std::string(cv_log_current_file()), dir / "own.0.log");
    cv_log_info("appended");
    cv_log_close();
    EXPECT_EQ(mode_of(dir / "own.0.log"), fs::perms::owner_read | fs::perms::owner_write);
    const std::vector<std::string> lines = split_lines(read_file(dir / "own.0.log"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "earlier");
    EXPECT_NE(lines[1].find("] LOG appended"), std::string::npos);
}

TEST_F(Log, MissingDirectoryIsReportedAndLeavesTheLogClosed) {
    stderr_capture out(dir / "stdout.txt", 1);
    stderr_capture capture(dir / "stderr.txt");
    EXPECT_EQ(cv_log_init(1, (dir / "absent/q.log").c_str()), static_cast<cv_status>(ENOENT));
    cv_log_info("lost");
    const std::string err = capture.finish();
    EXPECT_EQ(err, "Error opening log directory " + (dir / "absent") + "\n");
    EXPECT_EQ(out.finish(), "");
    // Not initialised: a later init starts afresh.
    open_log("q.log");
    cv_log_info("found");
    cv_log_close();
    EXPECT_EQ(split_lines(read_file(dir / "q.0.log")).size(), 1u);
}

// A ring name that cannot be opened is passed over, and the log says so.
TEST_F(Log, UnopenableFileIsPassedOver) {
    fs::create_directory(dir / "y.0.log");  // a directory where the file should be
    stderr_capture capture(dir / "stderr.txt");
    ASSERT_EQ(cv_log_init(1, (dir / "y.log").c_str()), 0u);
    EXPECT_EQ(std::string(cv_log_current_file()), dir / "y.1.log");
    cv_log_info("goes on");
    cv_log_close();
    EXPECT_EQ(capture.finish(), "");
    const std::vector<std::string> lines = split_lines(read_file(dir / "y.1.log"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("] ERR Cannot use log file " + (dir / "y.0.log") + ", errno:" +
                            std::to_string(EISDIR) + ", err desc:"),
              std::string::npos)
        << lines[0];
    EXPECT_NE(lines[1].find("] LOG goes on"), std::string::npos);
    EXPECT_EQ(inode_of(dir / "y.log"), inode_of(dir / "y.1.log"));
}

// With no ring name usable the failure goes to standard error, never to
// standard output, and the log stays closed.
TEST_F(Log, RingWithoutAnyUsableFileIsReported) {
    for (int d = 0; d < CV_LOG_RING_SIZE; ++d)
        fs::create_directory(dir / ("y." + std::to_string(d) + ".log"));
    stderr_capture out(dir / "stdout.txt", 1);
    stderr_capture capture(dir / "stderr.txt");
    EXPECT_EQ(cv_log_init(1, (dir / "y.log").c_str()), 22u);
    cv_log_info("lost");
    // The whole run 0..9 is present: the ring chose 9 first.
    EXPECT_EQ(capture.finish(), "Cannot open log file: " + (dir / "y.9.log") + "\n");
    EXPECT_EQ(out.finish(), "");
    EXPECT_FALSE(fs::exists(dir / "y.log"));
    for (int d = 0; d < CV_LOG_RING_SIZE; ++d)
        EXPECT_TRUE(fs::is_directory(dir / ("y." + std::to_string(d) + ".log"))) << d;
}

TEST_F(Log, BackslashesBecomeSlashes) {
    fs::create_directory(dir / "win");
    const std::string name = dir.path() + "\\win\\b.log";
    ASSERT_EQ(cv_log_init(1, name.c_str()), 0u);
    EXPECT_EQ(std::string(cv_log_path()), dir / "win/b.log");
    EXPECT_EQ(std::string(cv_log_current_file()), dir / "win/b.0.log");
    EXPECT_TRUE(fs::exists(dir / "win/b.0.log"));
}

// ---------------------------------------------------------------------------
// Size suffix

struct suffix_case {
    const char *name;
    const char *path_after;
    std::uint64_t max_size;
};

TEST(LogSizeSuffix, ParsesAndRemovesTheSuffix) {
    const suffix_case cases[] = {
        {"name.log:20", "name.log", 20 * MIB},
        {"x.log:0", "x.log", CV_LOG_DEFAULT_MAX_SIZE},
        {"x.log:1", "x.log", MIB},
        {"C:/logs/x.log", "C:/logs/x.log", CV_LOG_DEFAULT_MAX_SIZE},
        {"C:/logs/x.log:5", "C:/logs/x.log", 5 * MIB},
        {"c:20", "c:20", CV_LOG_DEFAULT_MAX_SIZE},  // a drive letter's colon
        {"1:20", "1", 20 * MIB},                     // a digit is no drive letter
        {"x.log:", "x.log:", CV_LOG_DEFAULT_MAX_SIZE},
        {"x.log:big", "x.log:big", CV_LOG_DEFAULT_MAX_SIZE},
        {"x.log:7abc", "x.logabc", 7 * MIB},
        {"a:b.log:3", "a:b.log", 3 * MIB},
        {"x.log:536870911", "x.log", 536870911 * MIB},
        {"x.log:536870912", "x.log", CV_LOG_DEFAULT_MAX_SIZE},
        {"x.log:99999999999999999999999999", "x.log", CV_LOG_DEFAULT_MAX_SIZE},
        {"x.log", "x.log", CV_LOG_DEFAULT_MAX_SIZE},
    };
    for (const suffix_case &c : cases) {
        char path[64];
        std::snprintf(path, sizeof path, "%s", c.name);
        std::uint64_t max_size = CV_LOG_DEFAULT_MAX_SIZE;
        cv_log_parse_size_suffix(path, &max_size);
        EXPECT_STREQ(path, c.path_after) << c.name;
        EXPECT_EQ(max_size, c.max_size) << c.name;
    }
}

TEST_F(Log, SuffixSetsTheMaximumOfTheOpenLog) {
    ASSERT_EQ(cv_log_init(1, (dir / "name.log:20").c_str()), 0u);
    EXPECT_EQ(cv_log_max_size(), 20 * MIB);
    EXPECT_EQ(std::string(cv_log_current_file()), dir / "name.0.log");
    cv_log_close();
    ASSERT_EQ(cv_log_init(1, (dir / "x.log:0").c_str()), 0u);
    EXPECT_EQ(cv_log_max_size(), CV_LOG_DEFAULT_MAX_SIZE);
    EXPECT_EQ(std::string(cv_log_current_file()), dir / "x.0.log");
}

TEST_F(Log, DriveColonIsKeptInThePath) {
    // "C:" is an ordinary directory name here, so the drive form can be
    // opened for real, relative to the working directory.
    fs::create_directories(dir / "C:/logs");
    const fs::path previous = fs::current_path();
    fs::current_path(dir.path());
    const cv_status opened = cv_log_init(1, "C:/logs/x.log");
    const std::string current = cv_log_current_file();
    const std::uint64_t max_size = cv_log_max_size();
    cv_log_info("drive");
    cv_log_close();
    fs::current_path(previous);
    ASSERT_EQ(opened, 0u);
    EXPECT_EQ(current, "C:/logs/x.0.log");
    EXPECT_EQ(max_size, CV_LOG_DEFAULT_MAX_SIZE);
    EXPECT_NE(read_file(dir / "C:/logs/x.0.log").find("LOG drive"), std::string::npos);
}

// ---------------------------------------------------------------------------
// The ring

TEST(LogRingNames, NumberedPaths) {
    const struct {
        const char *path;
        const char *numbered;
    } cases[] = {
        {"/var/log/corvane-cvshell.log", "/var/log/corvane-cvshell.3.log"},
        {"dir/cvlog", "dir/cvlog.3"},
        {"cvlog", "cvlog.3"},
        {"a.d/b", "a.d/b.3"},
        {"a/b.tar.gz", "a/b.tar.3.gz"},
        {"/x.log", "/x.3.log"},
    };
    for (const auto &c : cases) {
        char out[64];
        ASSERT_EQ(cv_log_numbered_path(c.path, 3, out, sizeof out), 0u) << c.path;
        EXPECT_STREQ(out, c.numbered);
    }
    char small[8];
    EXPECT_EQ(cv_log_numbered_path("abcd.log", 0, small, sizeof small), 206u);
}

TEST(LogRingNames, ChoiceFollowsTheRunFromTheLowestDigit) {
    const struct {
        std::vector<int> present;
        int chosen;
        bool fresh;
    } cases[] = {
        {{}, 0, true},
        {{0}, 0, false},
        {{0, 1, 2, 3}, 3, false},
        {{0, 1, 5, 6, 7, 8, 9}, 1, false},
        {{1, 2, 3, 4, 5, 6, 7, 8, 9}, 9, false},
        {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 9, false},
        {{4, 5, 7}, 5, false},
        {{9}, 9, false},
    };
    for (const auto &c : cases) {
        bool present[CV_LOG_RING_SIZE] = {};
        for (int d : c.present) present[d] = true;
        bool fresh = !c.fresh;
        EXPECT_EQ(cv_log_choose_digit(present, &fresh), c.chosen);
        EXPECT_EQ(fresh, c.fresh);
    }
}

struct ring_case {
    const char *title;
    std::vector<int> present;
    std::vector<int> full;
    int chosen;
    bool relinked;          // the plain name is made a link to the chosen file
    std::vector<int> gone;  // deleted by the choice
};

TEST_F(Log, RingChoiceOnOpen) {
    const ring_case cases[] = {
        {"no files", {}, {}, 0, true, {}},
        {"run ends below the maximum", {0, 1, 2, 3}, {}, 3, false, {}},
        {"gap after 1", {0, 1, 5, 6, 7, 8, 9}, {}, 1, false, {}},
        {"3 full", {0, 1, 2, 3, 5, 6, 7, 8, 9}, {3}, 4, true, {5}},
        {"9 full wraps to 0", {1, 2, 3, 4, 5, 6, 7, 8, 9}, {9}, 0, true, {1}},
        {"next file full too", {0, 1, 2, 3, 4}, {2, 3, 4}, 5, true, {6}},
    };
    int round = 0;
    for (const ring_case &c : cases) {
        SCOPED_TRACE(c.title);
        const std::string sub = dir / ("r" + std::to_string(round++));
        fs::create_directory(sub);
        const auto numbered = [&](int d) { return sub + "/ring." + std::to_string(d) + ".log"; };
        for (int d : c.present) make_file(numbered(d), 10);
        for (int d : c.full) make_file(numbered(d), MIB);

        ASSERT_EQ(cv_log_init(1, (sub + "/ring.log:1").c_str()), 0u);
        EXPECT_EQ(std::string(cv_log_current_file()), numbered(c.chosen));
        cv_log_info("written into the chosen file");
        cv_log_close();

        EXPECT_NE(read_file(numbered(c.chosen)).find("LOG written into the chosen file"),
                  std::string::npos);
        if (c.relinked)
            EXPECT_EQ(inode_of(sub + "/ring.log"), inode_of(numbered(c.chosen)));
        else
            EXPECT_FALSE(fs::exists(sub + "/ring.log"));
        for (int d : c.gone) EXPECT_FALSE(fs::exists(numbered(d))) << d;
        for (int d : c.present) {
            const bool expected_gone =
                std::find(c.gone.begin(), c.gone.end(), d) != c.gone.end();
            EXPECT_EQ(fs::exists(numbered(d)), !expected_gone) << d;
        }
    }
}

TEST_F(Log, FullFileRotatesWhileWriting) {
    open_log("rot.log:1");
    const int count = 300;
    for (int i = 0; i < count; ++i)
        cv_log_info("%05d %s", i, std::string(4000, static_cast<char>('a' + i % 26)).c_str());
    const std::string current = cv_log_current_file();
    cv_log_close();

    EXPECT_EQ(current, dir / "rot.1.log");
    EXPECT_EQ(inode_of(dir / "rot.log"), inode_of(dir / "rot.1.log"));
    const std::uint64_t first_size = fs::file_size(dir / "rot.0.log");
    EXPECT_GE(first_size, MIB);
    EXPECT_LT(first_size, MIB + 65536 + 4400);  // checked every 64 KiB
    // Every line once, in order, across the two files.
    std::vector<std::string> lines = split_lines(read_file(dir / "rot.0.log"));
    const std::vector<std::string> second = split_lines(read_file(dir / "rot.1.log"));
    EXPECT_FALSE(second.empty());
    lines.insert(lines.end(), second.begin(), second.end());
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        char number[8];
        std::snprintf(number, sizeof number, "%05d ", i);
        EXPECT_NE(lines[static_cast<std::size_t>(i)].find(std::string("] LOG ") + number),
                  std::string::npos);
    }
    EXPECT_FALSE(fs::exists(dir / "rot.2.log"));
}

// ---------------------------------------------------------------------------
// Default directory

TEST(LogDefaultDir, Arguments) {
    char buf[4] = "xyz";
    EXPECT_EQ(cv_log_get_default_dir(nullptr, 10), 22u);
    EXPECT_EQ(cv_log_get_default_dir(buf, 0), 22u);
    EXPECT_EQ(cv_log_get_default_dir(buf, 1), 122u);
    EXPECT_STREQ(buf, "");
}

// Runs a copy of this program from `tree`/bin and returns what its helper
// reported, one value per line.
std::vector<std::string> run_copy_in(const std::string &tree) {
    fs::create_directories(tree + "/bin");
    const std::string copy = tree + "/bin/cv_log_test_copy";
    fs::copy_file("/proc/self/exe", copy);
    fs::permissions(copy, fs::perms::owner_all);
    const std::string output = tree + "/helper.txt";
    const pid_t child = ::fork();
    if (child == 0) {
        ::setenv(HELPER_VARIABLE, output.c_str(), 1);
        ::execl(copy.c_str(), copy.c_str(), static_cast<char *>(nullptr));
        std::_Exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::vector<std::string> values;
    std::istringstream in(read_file(output));
    for (std::string line; std::getline(in, line);) values.push_back(line);
    return values;
}

TEST(LogDefaultDir, ProductVarLogWhenItExists) {
    temp_dir tree;
    ASSERT_FALSE(tree.path().empty());
    std::ofstream(tree / "product-info.mf").close();
    fs::create_directories(tree / "var/log");
    const std::vector<std::string> values = run_copy_in(tree.path());
    ASSERT_EQ(values.size(), 6u);
    EXPECT_EQ(values[0], "0");
    EXPECT_EQ(values[1], tree / "var/log");
    EXPECT_EQ(values[2], "0");
    EXPECT_EQ(values[3], std::to_string(20 * MIB));
    EXPECT_EQ(values[4], tree / "var/log/name.0.log");
    EXPECT_EQ(values[5], tree / "var/log/name.log");
    EXPECT_EQ(inode_of(tree / "var/log/name.log"), inode_of(tree / "var/log/name.0.log"));
}

TEST(LogDefaultDir, ExecutableDirectoryOtherwise) {
    temp_dir tree;
    ASSERT_FALSE(tree.path().empty());
    std::ofstream(tree / "product-info.mf").close();
    const std::vector<std::string> values = run_copy_in(tree.path());
    ASSERT_EQ(values.size(), 6u);
    EXPECT_EQ(values[0], "0");
    EXPECT_EQ(values[1], tree / "bin");
    EXPECT_EQ(values[4], tree / "bin/name.0.log");
    EXPECT_FALSE(fs::exists(tree / "var"));
}

}  // namespace
