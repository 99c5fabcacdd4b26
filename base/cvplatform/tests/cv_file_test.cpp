// Tests of the POSIX file layer, the one-level listing and the recursive walk,
// each in its own temporary directory.
#include "cvplatform/cv_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "../src/cv_file_internal.h"
#include "cvplatform/cv_path.h"
#include "cvplatform/cv_status.h"

namespace fs = std::filesystem;

namespace {

class FileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char templ[] = "/tmp/cv_file_test.XXXXXX";
        ASSERT_NE(::mkdtemp(templ), nullptr);
        dir_ = templ;
        old_umask_ = ::umask(022);
    }
    void TearDown() override {
        ::umask(old_umask_);
        std::error_code ec;
        fs::permissions(dir_, fs::perms::all, ec);
        fs::remove_all(dir_, ec);
    }
    std::string at(const std::string &rel) const { return (dir_ / rel).string(); }
    static void write_file(const std::string &path, const std::string &text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    static std::string read_file(const std::string &path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static mode_t permissions(const std::string &path) {
        struct stat st {};
        EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
        return st.st_mode & 07777;
    }

    fs::path dir_;
    mode_t old_umask_ = 022;
};

cv_status write_text(cv_file_handle *h, const std::string &text) {
    std::size_t written = 0;
    const cv_status st = cv_file_write(h, text.data(), text.size(), &written);
    EXPECT_EQ(written, st == CV_OK ? text.size() : 0u);
    return st;
}

TEST_F(FileTest, CreateWriteReadClose) {
    const std::string path = at("a.txt");
    cv_file_handle h = 12345;
    ASSERT_EQ(cv_file_open(path.c_str(), &h, CV_FILE_WRITE | CV_FILE_CREATE, 0640), CV_OK);
    EXPECT_NE(h, CV_FILE_INVALID);
    EXPECT_EQ(write_text(&h, "hello"), CV_OK);
    EXPECT_EQ(cv_file_flush(&h), CV_OK);
    EXPECT_EQ(cv_file_close(&h), CV_OK);
    EXPECT_EQ(h, CV_FILE_INVALID);
    EXPECT_EQ(read_file(path), "hello");
    EXPECT_EQ(permissions(path), 0640u);

    ASSERT_EQ(cv_file_open(path.c_str(), &h, CV_FILE_READ, 0), CV_OK);
    char buf[16];
    std::size_t got = 99;
    EXPECT_EQ(cv_file_read(&h, buf, sizeof buf, &got), CV_OK);
    EXPECT_EQ(std::string(buf, got), "hello");
    EXPECT_EQ(cv_file_read(&h, buf, sizeof buf, &got), CV_OK);
    EXPECT_EQ(got, 0u);
    // A read-only handle cannot be written: the system's code comes back.
    EXPECT_EQ(write_text(&h, "x"), static_cast<cv_status>(EBADF));
    EXPECT_EQ(cv_file_close(&h), CV_OK);
}

TEST_F(FileTest, OpenFlagTable) {
    const std::string path = at("f");
    cv_file_handle h = CV_FILE_INVALID;
    // Without CREATE the file must exist.
    EXPECT_EQ(cv_file_open(path.c_str(), &h, CV_FILE_WRITE, 0644), CV_E_FILE_NOT_FOUND);
    EXPECT_EQ(h, CV_FILE_INVALID);
    // No access bit.
    EXPECT_EQ(cv_file_open(path.c_str(), &h, CV_FILE_CREATE | CV_FILE_SHARE_READ, 0644),
              CV_E_INVALID);
    EXPECT_FALSE(fs::exists(path));

    // The log's flags: create, then append whatever the position.
    write_file(path, "ab");
    ASSERT_EQ(cv_file_open(path.c_str(), &h, CV_FILE_FLAGS_LOG, 0644), CV_OK);
    EXPECT_EQ(::lseek(h, 0, SEEK_SET), 0);
    EXPECT_EQ(write_text(&h, "cd"), CV_OK);
    char c;
    std::size_t got = 0;
    EXPECT_NE(cv_file_read(&h, &c, 1, &got), CV_OK);  // append is write-only
    EXPECT_EQ(cv_file_close(&h), CV_OK);
    EXPECT_EQ(read_file(path), "abcd");

    // Read and write together, without truncation.
    ASSERT_EQ(cv_file_open(path.c_str(), &h, CV_FILE_READ | CV_FILE_WRITE, 0), CV_OK);
    EXPECT_EQ(write_text(&h, "X"), CV_OK);
    EXPECT_EQ(cv_file_read(&h, &c, 1, &got), CV_OK);
    EXPECT_EQ(c, 'b');
    EXPECT_EQ(cv_file_close(&h), CV_OK);
    EXPECT_EQ(read_file(path), "Xbcd");

    // The create-and-truncate opener empties an existing file.
    ASSERT_EQ(cv_file_open(path.c_str(), &h, CV_FILE_FLAGS_REPLACE, 0644), CV_OK);
    EXPECT_EQ(write_text(&h, "z"), CV_OK);
    EXPECT_EQ(cv_file_close(&h), CV_OK);
    EXPECT_EQ(read_file(path), "z");
}

TEST_F(FileTest, TruncateFailureClosesAndReports) {
    // A read-only descriptor cannot be truncated.
    const std::string path = at("ro");
    write_file(path, "keep");
    cv_file_handle h = CV_FILE_INVALID;
    EXPECT_NE(cv_file_open(path.c_str(), &h, CV_FILE_READ | CV_FILE_TRUNCATE, 0), CV_OK);
    EXPECT_EQ(h, CV_FILE_INVALID);
    EXPECT_EQ(read_file(path), "keep");
}

TEST_F(FileTest, DescriptorsAreNotInherited) {
    cv_file_handle h = CV_FILE_INVALID;
    ASSERT_EQ(cv_file_open(at("c").c_str(), &h, CV_FILE_WRITE | CV_FILE_CREATE, 0600), CV_OK);
    EXPECT_NE(::fcntl(h, F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_EQ(cv_file_close(&h), CV_OK);
}

TEST_F(FileTest, ModeZeroMeansTheDefault) {
    cv_file_handle h = CV_FILE_INVALID;
    ASSERT_EQ(cv_file_open(at("d").c_str(), &h, CV_FILE_WRITE | CV_FILE_CREATE, 0), CV_OK);
    EXPECT_EQ(cv_file_close(&h), CV_OK);
    EXPECT_EQ(permissions(at("d")), 0644u);  // 0666 under umask 022
}

TEST_F(FileTest, SetModeIgnoresTheCreationMask) {
    cv_file_handle h = CV_FILE_INVALID;
    ASSERT_EQ(cv_file_open(at("g").c_str(), &h, CV_FILE_WRITE | CV_FILE_CREATE, 0664), CV_OK);
    EXPECT_EQ(permissions(at("g")), 0644u);  // the umask took the group's write bit
    EXPECT_EQ(cv_file_set_mode(&h, 0664), CV_OK);
    EXPECT_EQ(permissions(at("g")), 0664u);
    EXPECT_EQ(cv_file_close(&h), CV_OK);
    EXPECT_EQ(cv_file_set_mode(&h, 0664), CV_E_INVALID);
    EXPECT_EQ(cv_file_set_mode(nullptr, 0664), CV_E_INVALID);
}

TEST_F(FileTest, DirectoryFlush) {
    EXPECT_EQ(cv_dir_flush(dir_.c_str()), CV_OK);
    EXPECT_EQ(cv_dir_flush(at("missing").c_str()), static_cast<cv_status>(ENOENT));
    write_file(at("plain"), "x");
    EXPECT_EQ(cv_dir_flush(at("plain").c_str()), static_cast<cv_status>(ENOTDIR));
    EXPECT_EQ(cv_dir_flush(nullptr), CV_E_INVALID);
}

TEST_F(FileTest, HandleArguments) {
    cv_file_handle invalid = CV_FILE_INVALID;
    char byte = 0;
    std::size_t n = 7;
    EXPECT_EQ(cv_file_open(at("x").c_str(), nullptr, CV_FILE_READ, 0), CV_E_INVALID);
    EXPECT_EQ(cv_file_open(nullptr, &invalid, CV_FILE_READ, 0), CV_E_INVALID);
    EXPECT_EQ(cv_file_open("a\nb", &invalid, CV_FILE_READ, 0), CV_E_INVALID);
    EXPECT_EQ(cv_file_close(nullptr), CV_E_INVALID);
    EXPECT_EQ(cv_file_close(&invalid), CV_OK);
    EXPECT_EQ(cv_file_flush(nullptr), CV_E_INVALID);
    EXPECT_EQ(cv_file_flush(&invalid), CV_E_INVALID);
    EXPECT_EQ(cv_file_write(&invalid, &byte, 1, &n), CV_E_INVALID);
    EXPECT_EQ(n, 0u);
    n = 7;
    EXPECT_EQ(cv_file_read(&invalid, &byte, 1, &n), CV_E_INVALID);
    EXPECT_EQ(n, 0u);
    cv_file_status st{};
    EXPECT_EQ(cv_file_stat(&invalid, &st), CV_E_INVALID);
}

TEST_F(FileTest, StatOfAnOpenFileAndLinks) {
    const std::string path = at("s");
    cv_file_handle h = CV_FILE_INVALID;
    ASSERT_EQ(cv_file_open(path.c_str(), &h, CV_FILE_WRITE | CV_FILE_CREATE, 0600), CV_OK);
    EXPECT_EQ(write_text(&h, "12345"), CV_OK);

    struct stat sys {};
    ASSERT_EQ(::stat(path.c_str(), &sys), 0);
    cv_file_status st{};
    ASSERT_EQ(cv_file_stat(&h, &st), CV_OK);
    EXPECT_EQ(st.file_id, static_cast<std::uint64_t>(sys.st_ino));
    EXPECT_EQ(st.size, 5u);
    EXPECT_EQ(st.type, CV_FILE_TYPE_REGULAR);
    EXPECT_EQ(st.mode, static_cast<std::uint32_t>(S_IFREG | 0600));
    EXPECT_EQ(st.user_id, static_cast<std::int32_t>(::geteuid()));
    EXPECT_EQ(st.modification_time, static_cast<std::int64_t>(sys.st_mtime));
    EXPECT_EQ(st.link_count, 1u);

    const std::string link = at("s.link");
    EXPECT_EQ(cv_file_link(path.c_str(), link.c_str()), CV_OK);
    ASSERT_EQ(cv_file_stat(&h, &st), CV_OK);
    EXPECT_EQ(st.link_count, 2u);
    EXPECT_EQ(cv_file_link(path.c_str(), link.c_str()), static_cast<cv_status>(EEXIST));
    EXPECT_EQ(cv_file_close(&h), CV_OK);

    cv_file_status by_path{};
    ASSERT_EQ(cv_file_stat_path(link.c_str(), &by_path, CV_FILE_STAT_IDENTITY), CV_OK);
    EXPECT_EQ(by_path.file_id, st.file_id);
    EXPECT_EQ(by_path.link_count, 2u);
}

TEST_F(FileTest, StatPathTypes) {
    fs::create_directory(dir_ / "sub");
    write_file(at("reg"), "");
    fs::create_symlink(dir_ / "reg", dir_ / "ln");
    struct row {
        std::string path;
        std::uint32_t flags;
        std::uint32_t type;
    };
    const row rows[] = {
        {at("sub"), 0, CV_FILE_TYPE_DIRECTORY},
        {at("reg"), 0, CV_FILE_TYPE_REGULAR},
        {at("ln"), 0, CV_FILE_TYPE_REGULAR},
        {at("ln"), CV_FILE_STAT_NO_FOLLOW, CV_FILE_TYPE_OTHER},
        {"/dev/null", 0, CV_FILE_TYPE_CHAR_DEVICE},
        {at("sub") + "//./", 0, CV_FILE_TYPE_DIRECTORY},
    };
    for (const auto &r : rows) {
        cv_file_status st{};
        ASSERT_EQ(cv_file_stat_path(r.path.c_str(), &st, r.flags), CV_OK) << r.path;
        EXPECT_EQ(st.type, r.type) << r.path;
    }
    cv_file_status st{};
    EXPECT_EQ(cv_file_stat_path(at("none").c_str(), &st, 0), CV_E_FILE_NOT_FOUND);
    EXPECT_EQ(cv_file_stat_path(nullptr, &st, 0), CV_E_INVALID);
    EXPECT_EQ(cv_file_stat_path(at("reg").c_str(), nullptr, 0), CV_E_INVALID);
}

TEST(FileSetstat, TypeFromTheModeBits) {
    const std::pair<mode_t, std::uint32_t> rows[] = {
        {S_IFDIR | 0755, CV_FILE_TYPE_DIRECTORY}, {S_IFREG | 0644, CV_FILE_TYPE_REGULAR},
        {S_IFCHR | 0666, CV_FILE_TYPE_CHAR_DEVICE}, {S_IFIFO | 0600, CV_FILE_TYPE_OTHER},
        {S_IFLNK | 0777, CV_FILE_TYPE_OTHER},      {S_IFSOCK | 0755, CV_FILE_TYPE_OTHER},
        {S_IFBLK | 0660, CV_FILE_TYPE_OTHER},
    };
    for (const auto &[mode, type] : rows) {
        struct stat sys {};
        sys.st_mode = mode;
        sys.st_ino = 42;
        sys.st_size = 7;
        sys.st_nlink = 3;
        sys.st_ctime = 100;
        sys.st_mtime = 200;
        sys.st_atime = 300;
        cv_file_status st{};
        ASSERT_EQ(cv_file_setstat(&st, &sys), CV_OK);
        EXPECT_EQ(st.type, type) << std::oct << mode;
        EXPECT_EQ(st.mode, static_cast<std::uint32_t>(mode));
        EXPECT_EQ(st.file_id, 42u);
        EXPECT_EQ(st.size, 7u);
        EXPECT_EQ(st.link_count, 3u);
        EXPECT_EQ(st.change_time, 100);
        EXPECT_EQ(st.modification_time, 200);
        EXPECT_EQ(st.access_time, 300);
    }
    struct stat sys {};
    cv_file_status st{};
    EXPECT_EQ(cv_file_setstat(nullptr, &sys), CV_E_INVALID);
    EXPECT_EQ(cv_file_setstat(&st, nullptr), CV_E_INVALID);
}

TEST_F(FileTest, ExistsDeleteRename) {
    const std::string a = at("a");
    const std::string b = at("b");
    EXPECT_EQ(cv_file_exists(a.c_str()), 0);
    write_file(a, "A");
    write_file(b, "B");
    EXPECT_EQ(cv_file_exists(a.c_str()), 1);
    EXPECT_EQ(cv_file_exists(dir_.c_str()), 1);
    EXPECT_EQ(cv_file_exists(nullptr), 0);
    EXPECT_EQ(cv_file_exists((a + "\n").c_str()), 0);

    EXPECT_EQ(cv_file_rename(a.c_str(), b.c_str()), CV_OK);  // replaces b
    EXPECT_EQ(cv_file_exists(a.c_str()), 0);
    EXPECT_EQ(read_file(b), "A");
    EXPECT_EQ(cv_file_rename(a.c_str(), b.c_str()), CV_E_FILE_NOT_FOUND);

    EXPECT_EQ(cv_file_delete(b.c_str()), CV_OK);
    EXPECT_EQ(cv_file_exists(b.c_str()), 0);
    EXPECT_EQ(cv_file_delete(b.c_str()), CV_E_FILE_NOT_FOUND);
    EXPECT_EQ(cv_file_delete(nullptr), CV_E_INVALID);
    EXPECT_EQ(cv_file_link(nullptr, b.c_str()), CV_E_INVALID);
    EXPECT_EQ(cv_file_rename(a.c_str(), nullptr), CV_E_INVALID);
}

TEST_F(FileTest, DirCreate) {
    const std::string deep = at("x/y/z");
    EXPECT_EQ(cv_dir_create(deep.c_str(), 0755, 0), CV_E_FILE_NOT_FOUND);
    EXPECT_EQ(cv_dir_create(deep.c_str(), 0750, 1), CV_OK);
    EXPECT_TRUE(fs::is_directory(deep));
    EXPECT_EQ(permissions(deep), 0750u);
    EXPECT_EQ(permissions(at("x/y")), 0750u);
    EXPECT_EQ(cv_dir_create(deep.c_str(), 0755, 1), CV_OK);   // exists
    EXPECT_EQ(cv_dir_create((deep + "/").c_str(), 0755, 0), CV_OK);

    write_file(at("file"), "");
    EXPECT_EQ(cv_dir_create(at("file").c_str(), 0755, 0), CV_E_NOT_A_DIRECTORY);
    EXPECT_NE(cv_dir_create(at("file/sub").c_str(), 0755, 1), CV_OK);
    EXPECT_FALSE(fs::exists(at("file/sub")));

    EXPECT_EQ(cv_dir_create(at("plain").c_str(), 0, 0), CV_OK);
    EXPECT_EQ(permissions(at("plain")), 0755u);  // 0777 under umask 022
    EXPECT_EQ(cv_dir_create(nullptr, 0755, 1), CV_E_INVALID);
}

TEST_F(FileTest, DirCreateRelativeWithParents) {
    const fs::path saved = fs::current_path();
    fs::current_path(dir_);
    const cv_status st = cv_dir_create("r1/./r2/../r3", 0755, 1);
    fs::current_path(saved);
    EXPECT_EQ(st, CV_OK);
    EXPECT_TRUE(fs::is_directory(dir_ / "r1" / "r3"));
    EXPECT_FALSE(fs::exists(dir_ / "r1" / "r2"));
}

std::multiset<std::string> list(const std::string &path, cv_status *end_status) {
    std::multiset<std::string> names;
    cv_dir *d = nullptr;
    *end_status = cv_dir_open(path.c_str(), &d);
    if (*end_status != CV_OK) return names;
    char name[CV_PATH_SIZE];
    while ((*end_status = cv_dir_read(d, name, sizeof name)) == CV_OK) names.insert(name);
    EXPECT_EQ(cv_dir_read(d, name, sizeof name), CV_E_END_REACHED);  // stays at the end
    EXPECT_EQ(cv_dir_close(&d), CV_OK);
    EXPECT_EQ(d, nullptr);
    return names;
}

TEST_F(FileTest, DirListing) {
    cv_status end = 0;
    EXPECT_EQ(list(dir_.string(), &end), (std::multiset<std::string>{".", ".."}));
    EXPECT_EQ(end, CV_E_END_REACHED);

    write_file(at("one"), "");
    fs::create_directory(dir_ / "two");
    EXPECT_EQ(list(dir_.string(), &end), (std::multiset<std::string>{".", "..", "one", "two"}));
    EXPECT_EQ(end, CV_E_END_REACHED);

    list(at("missing"), &end);
    EXPECT_EQ(end, CV_E_FILE_NOT_FOUND);
    list(at("one"), &end);
    EXPECT_EQ(end, static_cast<cv_status>(ENOTDIR));
}

TEST_F(FileTest, DirListingBounds) {
    write_file(at("longer-name"), "");
    cv_dir *d = nullptr;
    ASSERT_EQ(cv_dir_open(dir_.c_str(), &d), CV_OK);
    char small[4];
    std::set<cv_status> seen;
    cv_status st;
    while ((st = cv_dir_read(d, small, sizeof small)) != CV_E_END_REACHED) {
        seen.insert(st);
        if (st != CV_OK) {
            EXPECT_STREQ(small, "");
        }
    }
    EXPECT_EQ(seen, (std::set<cv_status>{CV_OK, CV_E_BUFFER_SPACE}));
    EXPECT_EQ(cv_dir_read(d, small, 0), CV_E_INVALID);
    EXPECT_EQ(cv_dir_read(nullptr, small, sizeof small), CV_E_INVALID);
    EXPECT_EQ(cv_dir_close(&d), CV_OK);
    EXPECT_EQ(cv_dir_close(&d), CV_OK);
    EXPECT_EQ(cv_dir_close(nullptr), CV_E_INVALID);

    const std::string too_long = "/" + std::string(8187, 'a');
    EXPECT_EQ(cv_dir_open(too_long.c_str(), &d), CV_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(d, nullptr);
    EXPECT_EQ(cv_dir_open(nullptr, &d), CV_E_INVALID);
    EXPECT_EQ(cv_dir_open(dir_.c_str(), nullptr), CV_E_INVALID);
}

struct walk_item {
    std::string name;
    std::uint32_t type;
    bool operator==(const walk_item &) const = default;
};

std::vector<walk_item> walk_all(const std::string &path, cv_status *end_status) {
    std::vector<walk_item> items;
    cv_dir_walk *w = nullptr;
    *end_status = cv_dir_walk_open(&w, path.c_str());
    if (*end_status != CV_OK) {
        EXPECT_EQ(w, nullptr);
        return items;
    }
    char name[CV_PATH_SIZE];
    std::uint32_t type = 0;
    for (int guard = 0; guard < 1000; ++guard) {
        *end_status = cv_dir_walk_next(w, name, sizeof name, &type);
        if (*end_status != CV_OK) break;
        items.push_back({name, type});
    }
    EXPECT_EQ(cv_dir_walk_close(&w), CV_OK);
    EXPECT_EQ(w, nullptr);
    return items;
}

TEST_F(FileTest, WalkOfAnEmptyDirectory) {
    cv_status end = 0;
    const auto items = walk_all(dir_.string(), &end);
    EXPECT_EQ(items, (std::vector<walk_item>{{"..", CV_WALK_UP}}));
    EXPECT_EQ(end, CV_E_END_REACHED);
}

TEST_F(FileTest, WalkOfOneFile) {
    write_file(at("only"), "x");
    cv_status end = 0;
    EXPECT_EQ(walk_all(at("only"), &end), (std::vector<walk_item>{{at("only"), CV_WALK_FILE}}));
    EXPECT_EQ(end, CV_E_END_REACHED);

    walk_all("/dev/null", &end);
    EXPECT_EQ(end, CV_E_NOT_A_DIRECTORY);
    walk_all(at("missing"), &end);
    EXPECT_EQ(end, CV_E_FILE_NOT_FOUND);
}

TEST_F(FileTest, WalkIsDepthFirst) {
    fs::create_directories(dir_ / "d1" / "d2");
    fs::create_directory(dir_ / "e");
    write_file(at("f"), "");
    write_file(at("d1/g"), "");
    write_file(at("d1/d2/h"), "");
    ::mkfifo(at("d1/p").c_str(), 0600);

    cv_status end = 0;
    const auto items = walk_all(dir_.string(), &end);
    EXPECT_EQ(end, CV_E_END_REACHED);

    // Each directory's entries lie between it and its "..", and every name is
    // the full path under its directory.
    std::map<std::string, std::uint32_t> seen;
    std::vector<std::string> open_dirs = {dir_.string()};
    for (const auto &item : items) {
        if (item.type == CV_WALK_UP) {
            ASSERT_FALSE(open_dirs.empty());
            EXPECT_EQ(item.name, "..");
            open_dirs.pop_back();
            continue;
        }
        ASSERT_FALSE(open_dirs.empty());
        EXPECT_EQ(fs::path(item.name).parent_path().string(), open_dirs.back()) << item.name;
        seen[item.name] = item.type;
        if (item.type == CV_WALK_DIRECTORY) open_dirs.push_back(item.name);
    }
    EXPECT_TRUE(open_dirs.empty());
    const std::map<std::string, std::uint32_t> expected = {
        {at("d1"), CV_WALK_DIRECTORY}, {at("d1/d2"), CV_WALK_DIRECTORY},
        {at("e"), CV_WALK_DIRECTORY},  {at("f"), CV_WALK_FILE},
        {at("d1/g"), CV_WALK_FILE},    {at("d1/d2/h"), CV_WALK_FILE},
        {at("d1/p"), CV_WALK_OTHER},
    };
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(std::count_if(items.begin(), items.end(),
                            [](const walk_item &i) { return i.type == CV_WALK_UP; }),
              4);
}

TEST_F(FileTest, WalkFollowsFileLinksButNotDirectoryLinks) {
    fs::create_directory(dir_ / "d");
    write_file(at("d/f"), "");
    fs::create_symlink(dir_ / "d" / "f", dir_ / "file-link");
    fs::create_directory_symlink(dir_, dir_ / "d" / "loop");
    fs::create_symlink(dir_ / "nowhere", dir_ / "dangling");

    cv_status end = 0;
    const auto items = walk_all(dir_.string(), &end);
    EXPECT_EQ(end, CV_E_END_REACHED);
    std::map<std::string, std::uint32_t> seen;
    for (const auto &item : items)
        if (item.type != CV_WALK_UP) seen[item.name] = item.type;
    const std::map<std::string, std::uint32_t> expected = {
        {at("d"), CV_WALK_DIRECTORY},     {at("d/f"), CV_WALK_FILE},
        {at("file-link"), CV_WALK_FILE},  {at("d/loop"), CV_WALK_OTHER},
        {at("dangling"), CV_WALK_OTHER},
    };
    EXPECT_EQ(seen, expected);
}

// A backslash in a name read from disk is a character of that one name: the
// walk neither climbs through "a\.." nor leaves the tree through
// "..\..\..\etc", and reports each entry under its own name.
TEST_F(FileTest, WalkTakesEachNameAsOneEntry) {
    for (const char *d : {"a\\..", "..\\..\\..\\etc", "b\\c"}) fs::create_directory(dir_ / d);
    write_file(at("a\\../x"), "");
    write_file(at("..\\..\\..\\etc/y"), "");
    write_file(at("b\\c/f"), "");
    write_file(at("d\\e"), "");

    cv_status end = 0;
    const auto items = walk_all(dir_.string(), &end);
    EXPECT_EQ(end, CV_E_END_REACHED);
    std::map<std::string, std::uint32_t> seen;
    int ups = 0;
    for (const auto &item : items) {
        if (item.type == CV_WALK_UP) {
            ++ups;
            continue;
        }
        EXPECT_EQ(item.name.rfind(dir_.string() + "/", 0), 0u) << item.name;
        seen[item.name] = item.type;
    }
    const std::string root = dir_.string();
    const std::map<std::string, std::uint32_t> expected = {
        {root + "/a\\..", CV_WALK_DIRECTORY},
        {root + "/a\\../x", CV_WALK_FILE},
        {root + "/..\\..\\..\\etc", CV_WALK_DIRECTORY},
        {root + "/..\\..\\..\\etc/y", CV_WALK_FILE},
        {root + "/b\\c", CV_WALK_DIRECTORY},
        {root + "/b\\c/f", CV_WALK_FILE},
        {root + "/d\\e", CV_WALK_FILE},
    };
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(ups, 4);  // three directories and the root
}

TEST_F(FileTest, EntryOperationsTakeOnlyOneEntryName) {
    fs::create_directory(dir_ / "sub");
    write_file(at("file"), "");
    fs::create_directory_symlink(dir_ / "sub", dir_ / "link");
    cv_dir *listing = nullptr;
    ASSERT_EQ(cv_dir_open(dir_.c_str(), &listing), CV_OK);
    cv_file_status status{};
    cv_dir *sub = nullptr;
    for (const char *bad : {"", ".", "..", "sub/..", "/etc"}) {
        EXPECT_EQ(cv_dir_stat_entry(listing, bad, &status, 0), CV_E_INVALID) << bad;
        EXPECT_EQ(cv_dir_open_entry(listing, bad, &sub), CV_E_INVALID) << bad;
        EXPECT_EQ(sub, nullptr);
    }
    EXPECT_EQ(cv_dir_stat_entry(listing, "file", &status, 0), CV_OK);
    EXPECT_EQ(status.type, CV_FILE_TYPE_REGULAR);
    EXPECT_EQ(cv_dir_stat_entry(listing, "link", &status, CV_FILE_STAT_NO_FOLLOW), CV_OK);
    EXPECT_EQ(status.type, CV_FILE_TYPE_OTHER);
    // A link to a directory and a file are not listings (Linux reports the
    // link, opened as a directory without following it, as no directory).
    EXPECT_EQ(cv_dir_open_entry(listing, "link", &sub), static_cast<cv_status>(ENOTDIR));
    EXPECT_EQ(cv_dir_open_entry(listing, "file", &sub), static_cast<cv_status>(ENOTDIR));
    EXPECT_EQ(sub, nullptr);
    ASSERT_EQ(cv_dir_open_entry(listing, "sub", &sub), CV_OK);
    EXPECT_EQ(cv_dir_close(&sub), CV_OK);
    EXPECT_EQ(cv_dir_close(&listing), CV_OK);
}

TEST_F(FileTest, WalkReportsAnUnreadableDirectoryAndGoesOn) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    fs::create_directory(dir_ / "closed");
    write_file(at("closed/x"), "");
    ::chmod(at("closed").c_str(), 0);

    cv_dir_walk *w = nullptr;
    ASSERT_EQ(cv_dir_walk_open(&w, dir_.c_str()), CV_OK);
    char name[CV_PATH_SIZE];
    std::uint32_t type = 0;
    EXPECT_EQ(cv_dir_walk_next(w, name, sizeof name, &type), static_cast<cv_status>(EACCES));
    EXPECT_EQ(std::string(name), at("closed"));
    EXPECT_EQ(cv_dir_walk_next(w, name, sizeof name, &type), CV_OK);
    EXPECT_STREQ(name, "..");
    EXPECT_EQ(cv_dir_walk_next(w, name, sizeof name, &type), CV_E_END_REACHED);
    EXPECT_EQ(cv_dir_walk_close(&w), CV_OK);
    ::chmod(at("closed").c_str(), 0700);
}

TEST(FileWalk, EntriesOfARootHaveOneSlash) {
    // "/" + "/" + name would read as a share path ("//name").
    cv_dir_walk *w = nullptr;
    ASSERT_EQ(cv_dir_walk_open(&w, "/"), CV_OK);
    char name[CV_PATH_SIZE];
    std::uint32_t type = 0;
    const cv_status st = cv_dir_walk_next(w, name, sizeof name, &type);
    EXPECT_NE(st, CV_E_END_REACHED);
    EXPECT_EQ(name[0], '/');
    EXPECT_NE(name[1], '/');
    EXPECT_NE(name[1], '\0');
    EXPECT_EQ(cv_dir_walk_close(&w), CV_OK);
}

TEST_F(FileTest, WalkNamesThatDoNotFit) {
    write_file(at("f"), "");
    cv_dir_walk *w = nullptr;
    ASSERT_EQ(cv_dir_walk_open(&w, dir_.c_str()), CV_OK);
    std::vector<char> small(at("f").size());
    std::uint32_t type = 0;
    EXPECT_EQ(cv_dir_walk_next(w, small.data(), small.size(), &type), CV_E_BUFFER_SPACE);
    EXPECT_STREQ(small.data(), "");
    EXPECT_EQ(cv_dir_walk_next(w, small.data(), small.size(), &type), CV_OK);  // ".." fits
    EXPECT_EQ(type, CV_WALK_UP);
    EXPECT_EQ(cv_dir_walk_next(w, nullptr, 8, &type), CV_E_INVALID);
    EXPECT_EQ(cv_dir_walk_close(&w), CV_OK);
    EXPECT_EQ(cv_dir_walk_close(&w), CV_OK);
    EXPECT_EQ(cv_dir_walk_open(nullptr, dir_.c_str()), CV_E_INVALID);
    EXPECT_EQ(cv_dir_walk_open(&w, nullptr), CV_E_INVALID);
}

}  // namespace
