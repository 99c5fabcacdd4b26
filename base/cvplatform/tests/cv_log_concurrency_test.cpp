// Several processes appending to one log at once, as one shell per login
// does.  Each forked writer opens the log itself and writes a few thousand
// distinct lines of mixed sizes (up to and past the 4 KiB cap); the test then
// reads every file of the ring and requires every line whole (header shape,
// CR LF, the exact body its writer sent) and none twice.  Without rotation
// none may be missing; with rotation but no wrap none either; after a wrap
// only each writer's earliest lines may be gone (the oldest files), never a
// later one, which would mean a file still being written was deleted.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
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

constexpr int WRITERS = 8;
constexpr std::size_t MESSAGE_CAP = 4089;
constexpr std::uint64_t MIB = 1048576;
constexpr std::uint64_t CHECK_INTERVAL = 65536;
constexpr std::uint64_t LONGEST_LINE = 256 + 4093 + 2;
constexpr auto WRITER_DEADLINE = std::chrono::seconds(60);


// The message that writer `writer` sends as its line `n`.  Mostly short,
// some a few hundred bytes to a KiB and a half, every sixteenth at or past
// the cap.
std::string message_for(int writer, int n) {
    const std::uint32_t mix = static_cast<std::uint32_t>(writer) * 2654435761u ^
                              static_cast<std::uint32_t>(n) * 40503u;
    std::size_t length;
    if (n % 16 == 0)
        length = 3950 + mix % 300;
    else if (n % 16 < 4)
        length = 500 + mix % 1000;
    else
        length = 10 + mix % 190;
    static const std::string letters = [] {
        std::string all;
        while (all.size() < 4400) all += "abcdefghijklmnopqrstuvwxyz";
        return all;
    }();
    std::string text = "w" + std::to_string(writer) + " n" + std::to_string(n) + " ";
    text.append(letters, mix % 26, length - text.size());
    return text;
}

std::string expected_body(int writer, int n) {
    std::string message = message_for(writer, n);
    if (message.size() > MESSAGE_CAP) message.resize(MESSAGE_CAP);
    return "LOG " + message;
}

// One writer: waits at the start gate, opens the log like a new login does,
// writes its lines and ends.
[[noreturn]] void writer_main(const std::string &log_name, int writer, int lines, int gate) {
    char byte;
    while (::read(gate, &byte, 1) < 0) {
    }
    ::close(gate);
    if (cv_log_init(1, log_name.c_str()) != 0) std::_Exit(3);
    for (int n = 0; n < lines; ++n) cv_log_info("%s", message_for(writer, n).c_str());
    cv_log_close();
    std::_Exit(0);
}

// Starts the writers together and waits for them, within a deadline.
// Returns their process ids in writer order.
std::vector<pid_t> run_writers(const std::string &log_name, int lines) {
    int gate[2];
    if (::pipe(gate) != 0) {
        ADD_FAILURE() << "pipe";
        return {};
    }
    std::vector<pid_t> pids;
    for (int w = 0; w < WRITERS; ++w) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(gate[1]);
            writer_main(log_name, w, lines, gate[0]);
        }
        pids.push_back(pid);
    }
    ::close(gate[0]);
    ::close(gate[1]);  // opens the gate: every reader sees the end at once

    const auto deadline = std::chrono::steady_clock::now() + WRITER_DEADLINE;
    std::set<pid_t> running(pids.begin(), pids.end());
    while (!running.empty()) {
        for (auto it = running.begin(); it != running.end();) {
            int status = 0;
            if (::waitpid(*it, &status, WNOHANG) == *it) {
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer " << *it;
                it = running.erase(it);
            } else {
                ++it;
            }
        }
        if (std::chrono::steady_clock::now() > deadline) {
            for (pid_t pid : running) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
            }
            ADD_FAILURE() << "writers did not finish in time";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return pids;
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool is_digit_at(const std::string &s, std::size_t i) { return s[i] >= '0' && s[i] <= '9'; }

bool is_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

std::uint32_t hex_value(char c) {
    return static_cast<std::uint32_t>(c <= '9' ? c - '0' : c - 'a' + 10);
}

// Checks the header "YYYY-MM-DD HH:MM:SS.mmm [pid-tttttttt] " and returns
// the pid and the offset of the body; false when the shape is wrong.
bool parse_header(const std::string &line, std::uint32_t *pid, std::size_t *body) {
    static constexpr std::size_t digits[] = {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18, 20, 21, 22};
    if (line.size() < 40) return false;
    for (std::size_t i : digits)
        if (!is_digit_at(line, i)) return false;
    if (line[4] != '-' || line[7] != '-' || line[10] != ' ' ||
        line[13] != ':' || line[16] != ':' || line[19] != '.' || line[23] != ' ' || line[24] != '[')
        return false;
    std::size_t i = 25;
    std::uint32_t value = 0;
    const std::size_t pid_start = i;
    while (i < line.size() && is_hex(line[i])) {
        value = value * 16 + hex_value(line[i]);
        ++i;
    }
    if (i == pid_start || i >= line.size() || line[i] != '-') return false;
    ++i;
    for (std::size_t k = 0; k < 8; ++k, ++i)
        if (i >= line.size() || !is_hex(line[i])) return false;
    if (line.compare(i, 2, "] ") != 0) return false;
    *pid = value;
    *body = i + 2;
    return true;
}

struct ring_contents {
    std::set<std::pair<int, int>> seen;      // (writer, line) found
    std::map<int, std::uint64_t> file_sizes;  // by digit
    int lines = 0;
};

// Reads every numbered file of `dir`/conc and checks each line.
ring_contents read_ring(const std::string &dir, const std::vector<pid_t> &pids) {
    ring_contents ring;
    std::map<std::uint32_t, int> writer_of;
    for (std::size_t w = 0; w < pids.size(); ++w)
        writer_of[static_cast<std::uint32_t>(pids[w])] = static_cast<int>(w);

    for (int digit = 0; digit < CV_LOG_RING_SIZE; ++digit) {
        const std::string path = dir + "/conc." + std::to_string(digit) + ".log";
        if (!fs::exists(path)) continue;
        const std::string text = read_file(path);
        ring.file_sizes[digit] = text.size();
        EXPECT_TRUE(text.empty() || text.compare(text.size() - 2, 2, "\r\n") == 0) << path;
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find("\r\n", start);
            if (end == std::string::npos) end = text.size();
            const std::string line = text.substr(start, end - start);
            start = end + 2;
            ++ring.lines;
            std::uint32_t pid = 0;
            std::size_t body = 0;
            if (!parse_header(line, &pid, &body)) {
                ADD_FAILURE() << "malformed line in " << path << ": " << line.substr(0, 80);
                continue;
            }
            int writer = -1;
            int n = -1;
            if (std::sscanf(line.c_str() + body, "LOG w%d n%d ", &writer, &n) != 2 || writer < 0 ||
                writer >= WRITERS || n < 0) {
                ADD_FAILURE() << "unknown body in " << path << ": " << line.substr(0, 80);
                continue;
            }
            EXPECT_EQ(writer_of.count(pid) == 1 ? writer_of[pid] : -1, writer) << "pid of line";
            EXPECT_TRUE(line.compare(body, std::string::npos, expected_body(writer, n)) == 0)
                << "body of w" << writer << " n" << n << " in " << path;
            EXPECT_TRUE(ring.seen.insert({writer, n}).second)
                << "w" << writer << " n" << n << " twice";
        }
    }
    return ring;
}

std::uint64_t inode_of(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// The newest file of the ring, as the log itself chooses it.
int newest_digit(const ring_contents &ring) {
    bool present[CV_LOG_RING_SIZE] = {};
    for (const auto &[digit, size] : ring.file_sizes) present[digit] = true;
    bool fresh = false;
    return cv_log_choose_digit(present, &fresh);
}

void expect_all_present(const ring_contents &ring, int lines) {
    EXPECT_EQ(ring.seen.size(), static_cast<std::size_t>(WRITERS * lines));
    for (int w = 0; w < WRITERS; ++w)
        for (int n = 0; n < lines; ++n)
            if (ring.seen.count({w, n}) == 0) {
                ADD_FAILURE() << "w" << w << " n" << n << " missing";
                return;
            }
}

// No file holds much more than the maximum: each writer appends at most one
// check interval and a line past it before it notices.
void expect_bounded_sizes(const ring_contents &ring, std::uint64_t max_size) {
    for (const auto &[digit, size] : ring.file_sizes)
        EXPECT_LE(size, max_size + WRITERS * (CHECK_INTERVAL + LONGEST_LINE)) << digit;
}

TEST(LogConcurrency, ManyWritersOneFile) {
    temp_dir dir;
    ASSERT_FALSE(dir.path().empty());
    const int lines = 3000;
    const std::vector<pid_t> pids = run_writers(dir.path() + "/conc.log:100", lines);
    ASSERT_EQ(pids.size(), static_cast<std::size_t>(WRITERS));
    const ring_contents ring = read_ring(dir.path(), pids);
    EXPECT_EQ(ring.file_sizes.size(), 1u);
    EXPECT_EQ(ring.lines, WRITERS * lines);
    expect_all_present(ring, lines);
    EXPECT_EQ(inode_of(dir.path() + "/conc.log"), inode_of(dir.path() + "/conc.0.log"));
}

TEST(LogConcurrency, ManyWritersRotating) {
    temp_dir dir;
    ASSERT_FALSE(dir.path().empty());
    const int lines = 1500;  // some 7 MiB: several rotations, no wrap
    const std::vector<pid_t> pids = run_writers(dir.path() + "/conc.log:1", lines);
    ASSERT_EQ(pids.size(), static_cast<std::size_t>(WRITERS));
    const ring_contents ring = read_ring(dir.path(), pids);
    ASSERT_GE(ring.file_sizes.size(), 4u);
    ASSERT_LT(ring.file_sizes.size(), 10u);
    EXPECT_EQ(ring.lines, WRITERS * lines);
    expect_all_present(ring, lines);
    expect_bounded_sizes(ring, MIB);
    // The files form one run from 0; all but the newest are full.
    const int newest = newest_digit(ring);
    EXPECT_EQ(newest + 1, static_cast<int>(ring.file_sizes.size()));
    for (const auto &[digit, size] : ring.file_sizes) {
        if (digit != newest) {
            EXPECT_GE(size, MIB) << digit;
        }
    }
    EXPECT_EQ(inode_of(dir.path() + "/conc.log"),
              inode_of(dir.path() + "/conc." + std::to_string(newest) + ".log"));
}

TEST(LogConcurrency, ManyWritersWrappingTheRing) {
    temp_dir dir;
    ASSERT_FALSE(dir.path().empty());
    const int lines = 3000;  // some 13 MiB: the ring wraps once
    const std::vector<pid_t> pids = run_writers(dir.path() + "/conc.log:1", lines);
    ASSERT_EQ(pids.size(), static_cast<std::size_t>(WRITERS));
    const ring_contents ring = read_ring(dir.path(), pids);
    // Nine files and one gap, right after the newest.
    ASSERT_EQ(ring.file_sizes.size(), 9u);
    const int newest = newest_digit(ring);
    EXPECT_EQ(ring.file_sizes.count((newest + 1) % CV_LOG_RING_SIZE), 0u);
    EXPECT_EQ(inode_of(dir.path() + "/conc.log"),
              inode_of(dir.path() + "/conc." + std::to_string(newest) + ".log"));
    expect_bounded_sizes(ring, MIB);
    // Only the oldest files were deleted, so each writer lost at most its
    // earliest lines: everything after its first surviving line is there.
    for (int w = 0; w < WRITERS; ++w) {
        int first = lines;
        for (int n = 0; n < lines; ++n)
            if (ring.seen.count({w, n}) != 0) {
                first = n;
                break;
            }
        for (int n = first; n < lines; ++n)
            if (ring.seen.count({w, n}) == 0) {
                ADD_FAILURE() << "w" << w << " n" << n << " missing after n" << first;
                break;
            }
    }
}

}  // namespace
