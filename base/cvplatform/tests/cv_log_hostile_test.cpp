// The log in a folder that other accounts write too.  Every entry of the
// folder may have been planted: a link to a private file, a FIFO, a file of
// another account, a lock held for ever.  Each case plants one, opens the log
// as a login would and checks that the planted target is left exactly as it
// was, that the log went on in a regular file of the ring (or said why it
// could not), and that nothing hung.  Cases that can hang run in a forked
// child under an alarm, so that a regression fails instead of stalling the
// suite.  Cases that need a second account run as root, with the login in a
// child that has become the unprivileged account 65534.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <sstream>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "../src/cv_log_internal.h"
#include "cvplatform/cv_log.h"
#include "cv_test_temp_dir.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t MIB = 1048576;
constexpr unsigned CHILD_ALARM_SECONDS = 20;
constexpr uid_t OTHER_ACCOUNT = 65534;  // nobody
constexpr gid_t OTHER_GROUP = 65534;    // nogroup
constexpr const char *PRIVATE_TEXT = "private notes of the account\n";

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

void make_file(const std::string &path, std::uint64_t size) {
    std::ofstream(path, std::ios::binary).close();
    fs::resize_file(path, size);
}

// The CR LF terminated lines of `text`.
std::vector<std::string> split_lines(const std::string &text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

bool contains(const std::string &text, const std::string &piece) {
    return text.find(piece) != std::string::npos;
}

struct stat lstat_of(const std::string &path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) st.st_mode = 0;
    return st;
}

std::string ring(const std::string &dir, int digit) {
    return dir + "/h." + std::to_string(digit) + ".log";
}

// A file of the test's own that a planted link points at.  It must come
// out of every case as it went in.
struct private_file {
    explicit private_file(std::string file_path) : path(std::move(file_path)) {
        write_file(path, PRIVATE_TEXT);
        ::chmod(path.c_str(), 0600);
    }
    void expect_untouched() const {
        EXPECT_EQ(read_file(path), PRIVATE_TEXT) << path;
        EXPECT_EQ(lstat_of(path).st_mode & 07777, 0600u) << path;
    }
    std::string path;
};

// Runs `body` in a forked child under an alarm; returns its wait status.
template <typename Body>
int run_in_child(Body body) {
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        ::alarm(CHILD_ALARM_SECONDS);
        std::_Exit(body());
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// Expects a child that exited on its own with status 0.
void expect_clean_exit(int status) {
    ASSERT_FALSE(WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) << "the login hung";
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

class LogHostile : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path().empty());
        cv_log_close();
        log_dir = dir / "log";
        fs::create_directory(log_dir);
    }
    void TearDown() override { cv_log_close(); }

    std::string log_name(const char *suffix = "") const { return log_dir + "/h.log" + suffix; }

    temp_dir dir;
    std::string log_dir;
};

// ---------------------------------------------------------------------------
// Planted links

// A link as the file the ring would continue in: passed over, never
// followed, and the log says which name it did not use.
TEST_F(LogHostile, LinkAsTheCurrentRingFileIsPassedOver) {
    const private_file target(dir / "private");
    make_file(ring(log_dir, 0), 10);
    fs::create_symlink(target.path, ring(log_dir, 1));

    ASSERT_EQ(cv_log_init(1, log_name().c_str()), 0u);
    EXPECT_EQ(std::string(cv_log_current_file()), ring(log_dir, 2));
    cv_log_info("after the link");
    cv_log_close();

    target.expect_untouched();
    EXPECT_TRUE(S_ISLNK(lstat_of(ring(log_dir, 1)).st_mode));
    const std::vector<std::string> lines = split_lines(read_file(ring(log_dir, 2)));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(contains(lines[0], "] ERR Cannot use log file " + ring(log_dir, 1) +
                                       ", errno:" + std::to_string(ELOOP)))
        << lines[0];
    EXPECT_TRUE(contains(lines[1], "] LOG after the link"));
    EXPECT_EQ(lstat_of(log_dir + "/h.log").st_ino, lstat_of(ring(log_dir, 2)).st_ino);
}

// A link planted as the next file while the log is being written: the
// rotation passes over it, and every line is in a regular ring file.
TEST_F(LogHostile, LinkAsTheNextRingFileIsPassedOverOnRotation) {
    const private_file target(dir / "private");
    ASSERT_EQ(cv_log_init(1, log_name(":1").c_str()), 0u);
    cv_log_info("first");
    fs::create_symlink(target.path, ring(log_dir, 1));
    const std::string filler(4000, 'f');
    const int count = 300;  // some 1.2 MiB: one rotation
    for (int i = 0; i < count; ++i) cv_log_info("%04d %s", i, filler.c_str());
    const std::string current = cv_log_current_file();
    cv_log_close();

    target.expect_untouched();
    EXPECT_EQ(current, ring(log_dir, 2));
    EXPECT_TRUE(S_ISLNK(lstat_of(ring(log_dir, 1)).st_mode));
    std::vector<std::string> lines = split_lines(read_file(ring(log_dir, 0)));
    const std::vector<std::string> later = split_lines(read_file(ring(log_dir, 2)));
    lines.insert(lines.end(), later.begin(), later.end());
    int written = 0;
    int notices = 0;
    for (const std::string &line : lines) {
        if (contains(line, "] LOG ") && contains(line, filler)) ++written;
        if (contains(line, "] ERR Cannot use log file " + ring(log_dir, 1))) ++notices;
    }
    EXPECT_EQ(written, count);
    EXPECT_EQ(notices, 1);
}

// A hard link to a file elsewhere, planted under a ring name, is a regular
// file but not one of the ring: it is passed over too.  The plain name, the
// ring's own second name for a file, is no such link.
TEST_F(LogHostile, HardLinkToAFileElsewhereIsPassedOver) {
    const private_file target(dir / "private");
    ASSERT_EQ(::link(target.path.c_str(), ring(log_dir, 0).c_str()), 0);

    ASSERT_EQ(cv_log_init(1, log_name().c_str()), 0u);
    EXPECT_EQ(std::string(cv_log_current_file()), ring(log_dir, 1));
    cv_log_info("not in the linked file");
    cv_log_close();
    target.expect_untouched();
    EXPECT_TRUE(contains(read_file(ring(log_dir, 1)), "LOG not in the linked file"));

    // The next login finds file 1 with the plain name as its second name.
    ASSERT_EQ(cv_log_init(1, log_name().c_str()), 0u);
    EXPECT_EQ(std::string(cv_log_current_file()), ring(log_dir, 1));
    cv_log_info("second login");
    cv_log_close();
    EXPECT_TRUE(contains(read_file(ring(log_dir, 1)), "LOG second login"));
    target.expect_untouched();
}

// The plain name is relinked by name: a link put in its place is removed,
// not followed.
TEST_F(LogHostile, LinkAsThePlainNameIsNotFollowedOnRotation) {
    const private_file target(dir / "private");
    make_file(ring(log_dir, 0), MIB);  // full: the opening starts file 1
    fs::create_symlink(target.path, log_dir + "/h.log");

    ASSERT_EQ(cv_log_init(1, log_name(":1").c_str()), 0u);
    EXPECT_EQ(std::string(cv_log_current_file()), ring(log_dir, 1));
    cv_log_info("new file");
    cv_log_close();

    target.expect_untouched();
    const struct stat plain = lstat_of(log_dir + "/h.log");
    EXPECT_TRUE(S_ISREG(plain.st_mode));
    EXPECT_EQ(plain.st_ino, lstat_of(ring(log_dir, 1)).st_ino);
    EXPECT_TRUE(contains(read_file(ring(log_dir, 1)), "LOG new file"));
}

// ---------------------------------------------------------------------------
// FIFOs: an open for writing must not wait for a reader

struct fifo_case {
    const char *title;
    bool with_reader;
};

TEST_F(LogHostile, FifoAsARingFileNeitherHangsNorIsWritten) {
    for (const fifo_case &c : {fifo_case{"no reader", false}, fifo_case{"a reader", true}}) {
        SCOPED_TRACE(c.title);
        fs::remove_all(log_dir);
        fs::create_directory(log_dir);
        ASSERT_EQ(::mkfifo(ring(log_dir, 0).c_str(), 0666), 0);
        const int reader =
            c.with_reader ? ::open(ring(log_dir, 0).c_str(), O_RDONLY | O_NONBLOCK) : -1;

        const std::string name = log_name();
        const std::string expected = ring(log_dir, 1);
        const int status = run_in_child([&] {
            if (cv_log_init(1, name.c_str()) != 0) return 1;
            if (expected != cv_log_current_file()) return 2;
            cv_log_info("beside the fifo");
            cv_log_close();
            return 0;
        });
        expect_clean_exit(status);
        if (reader >= 0) {
            char byte;
            EXPECT_LE(::read(reader, &byte, 1), 0) << "a line went into the fifo";
            ::close(reader);
        }
        EXPECT_TRUE(S_ISFIFO(lstat_of(ring(log_dir, 0)).st_mode));
        EXPECT_TRUE(contains(read_file(expected), "LOG beside the fifo"));
    }
}

// ---------------------------------------------------------------------------
// The folder lock held by another process

// Holds the ring lock of `dir` in a child until the returned process ends;
// -1 when it could not be taken.
pid_t hold_lock(const std::string &dir, int hold_ms) {
    int ready[2];
    if (::pipe(ready) != 0) return -1;
    const pid_t holder = ::fork();
    if (holder == 0) {
        const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
        const char byte = fd >= 0 && ::flock(fd, LOCK_EX) == 0 ? 'y' : 'n';
        (void)!::write(ready[1], &byte, 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(hold_ms));
        std::_Exit(0);
    }
    ::close(ready[1]);
    char byte = 'n';
    if (::read(ready[0], &byte, 1) != 1 || byte != 'y') {
        ::kill(holder, SIGKILL);
        ::waitpid(holder, nullptr, 0);
        ::close(ready[0]);
        return -1;
    }
    ::close(ready[0]);
    return holder;
}

void end_holder(pid_t holder) {
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A lock kept for far longer than a login may wait: the login waits its
// while, then writes without it, and says so on a line of its own.
TEST_F(LogHostile, LockHeldForeverDoesNotHangTheLogin) {
    const pid_t holder = hold_lock(log_dir, 120000);
    ASSERT_GT(holder, 0);
    const std::string name = log_name();
    const auto start = std::chrono::steady_clock::now();
    const int status = run_in_child([&] {
        if (cv_log_init(1, name.c_str()) != 0) return 1;
        cv_log_info("written without the lock");
        cv_log_close();
        return 0;
    });
    const double waited = seconds_since(start);
    end_holder(holder);
    expect_clean_exit(status);
    // It did wait for the lock before it gave up.
    EXPECT_GE(waited, CV_LOG_LOCK_WAIT_MS / 1000.0);

    const std::vector<std::string> lines = split_lines(read_file(ring(log_dir, 0)));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(
        contains(lines[0], "] ERR Log folder lock not taken within 2 s; writing without it"))
        << lines[0];
    EXPECT_TRUE(contains(lines[1], "] LOG written without the lock"));
}

// A lock released within the wait is taken: no notice.
TEST_F(LogHostile, LockReleasedSoonIsWaitedFor) {
    const pid_t holder = hold_lock(log_dir, 300);
    ASSERT_GT(holder, 0);
    const std::string name = log_name();
    const int status = run_in_child([&] {
        if (cv_log_init(1, name.c_str()) != 0) return 1;
        cv_log_info("under the lock");
        cv_log_close();
        return 0;
    });
    ::waitpid(holder, nullptr, 0);
    expect_clean_exit(status);
    const std::vector<std::string> lines = split_lines(read_file(ring(log_dir, 0)));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(contains(lines[0], "] LOG under the lock"));
}

// ---------------------------------------------------------------------------
// Another account's files, in a folder as an administrator sets it up

// The folder owned by root and the other account's group, mode 3770: the
// group writes, the sticky bit keeps each account's files its own.  Files
// "of another account" are made by the test as root.
class LogOtherAccount : public LogHostile {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as a second account";
        LogHostile::SetUp();
        ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
        ASSERT_EQ(::chown(log_dir.c_str(), 0, OTHER_GROUP), 0);
        ASSERT_EQ(::chmod(log_dir.c_str(), 03770), 0);
    }

    // A ring file of another account: root's, the group's, mode `mode`.
    void plant_file(int digit, std::uint64_t size, mode_t mode) const {
        make_file(ring(log_dir, digit), size);
        ASSERT_EQ(::chown(ring(log_dir, digit).c_str(), 0, OTHER_GROUP), 0);
        ASSERT_EQ(::chmod(ring(log_dir, digit).c_str(), mode), 0);
    }

    // A login of the unprivileged account: opens the log, writes `line` and
    // reports the file it wrote into through `report_fd` (see open_report).
    int login(const std::string &name, const std::string &line) const {
        return run_in_child([&] {
            const gid_t groups[] = {OTHER_GROUP};
            if (::setgroups(1, groups) != 0 || ::setgid(OTHER_GROUP) != 0 ||
                ::setuid(OTHER_ACCOUNT) != 0)
                return 10;
            if (cv_log_init(1, name.c_str()) != 0) return 1;
            const std::string current = cv_log_current_file();
            cv_log_info("%s", line.c_str());
            cv_log_close();
            // Through a descriptor opened before the account changed.
            std::FILE *out = ::fdopen(report_fd, "w");
            if (out == nullptr) return 3;
            std::fputs(current.c_str(), out);
            std::fclose(out);
            return 0;
        });
    }

    std::string reported_file() const { return read_file(dir / "current.txt"); }

    void open_report() {
        report_fd = ::open((dir / "current.txt").c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
        ASSERT_GE(report_fd, 0);
    }
    void TearDown() override {
        if (report_fd >= 0) ::close(report_fd);
        LogHostile::TearDown();
    }

    int report_fd = -1;
};

// The reproduced attack: another account links the next ring name to this
// account's private file.  The login neither appends to it nor changes its
// mode, which as its owner it could.
TEST_F(LogOtherAccount, LinkToTheLoginsOwnPrivateFileIsNeverFollowed) {
    const std::string home = dir / "home";
    fs::create_directory(home);
    ASSERT_EQ(::chown(home.c_str(), OTHER_ACCOUNT, OTHER_GROUP), 0);
    const private_file target(home + "/private");
    ASSERT_EQ(::chown(target.path.c_str(), OTHER_ACCOUNT, OTHER_GROUP), 0);
    plant_file(0, 10, 0660);
    fs::create_symlink(target.path, ring(log_dir, 1));  // root's link: undeletable
    open_report();

    expect_clean_exit(login(log_name(), "own line"));
    target.expect_untouched();
    EXPECT_EQ(reported_file(), ring(log_dir, 2));
    EXPECT_TRUE(contains(read_file(ring(log_dir, 2)), "LOG own line"));
    const struct stat made = lstat_of(ring(log_dir, 2));
    EXPECT_EQ(made.st_uid, OTHER_ACCOUNT);
    EXPECT_EQ(made.st_mode & 07777, 0660u);
}

// Under the sticky bit the login cannot remove another account's full
// files.  With every name of the ring taken by them it goes once round,
// keeps the last file it could open and writes its line there: no endless
// walk, no lost line, nothing removed.
TEST_F(LogOtherAccount, FullRingOfUndeletableFilesKeepsTheLine) {
    for (int d = 0; d < CV_LOG_RING_SIZE; ++d) plant_file(d, MIB, 0660);
    open_report();

    expect_clean_exit(login(log_name(":1"), "still written"));
    const std::string current = reported_file();
    ASSERT_FALSE(current.empty());
    EXPECT_TRUE(S_ISREG(lstat_of(current).st_mode));
    EXPECT_TRUE(contains(read_file(current), "LOG still written"));
    for (int d = 0; d < CV_LOG_RING_SIZE; ++d) {
        EXPECT_EQ(lstat_of(ring(log_dir, d)).st_uid, 0u) << d;
        EXPECT_GE(fs::file_size(ring(log_dir, d)), MIB) << d;
    }
}

// Another account's names the login can neither use nor remove: a private
// file with room where the ring continues, and a link where the new file's
// successor would be removed.  The login goes on in the next digit and
// leaves the others' entries as they were.
TEST_F(LogOtherAccount, AnotherAccountsEntriesAreLeftAsTheyAre) {
    plant_file(0, 0, 0600);
    write_file(ring(log_dir, 0), "theirs\r\n");
    fs::create_symlink("/etc/passwd", ring(log_dir, 2));
    ASSERT_EQ(::lchown(ring(log_dir, 2).c_str(), 0, 0), 0);
    open_report();

    expect_clean_exit(login(log_name(), "landed"));
    EXPECT_EQ(reported_file(), ring(log_dir, 1));
    EXPECT_TRUE(contains(read_file(ring(log_dir, 1)), "LOG landed"));
    EXPECT_EQ(lstat_of(ring(log_dir, 1)).st_uid, OTHER_ACCOUNT);
    EXPECT_EQ(read_file(ring(log_dir, 0)), "theirs\r\n");
    EXPECT_EQ(lstat_of(ring(log_dir, 0)).st_mode & 07777, 0600u);
    EXPECT_EQ(lstat_of(ring(log_dir, 0)).st_uid, 0u);
    EXPECT_TRUE(S_ISLNK(lstat_of(ring(log_dir, 2)).st_mode));
}

}  // namespace
