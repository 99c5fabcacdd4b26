// Tests of the canonical path form, joins and parents, the Windows native
// form, the install-location searches over temporary trees, and the home
// directories.
#include "cvplatform/cv_path.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <pwd.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "cvplatform/cv_status.h"

namespace fs = std::filesystem;

namespace {

std::string canonical(const char *src, std::size_t size = CV_PATH_SIZE, int *rc = nullptr) {
    std::vector<char> buf(size + 1, 'X');
    const int r = cv_path_canonicalize(src, buf.data(), size);
    if (rc != nullptr) *rc = r;
    return r == 0 ? std::string(buf.data()) : std::string("<fail:") + buf.data() + ">";
}

struct canon_case {
    const char *in;
    const char *out;
};

TEST(PathCanonicalize, ResolvesDotsAgainstTheRoot) {
    const canon_case cases[] = {
        {"C:\\a\\.\\b\\..\\c", "C:/a/c"},
        {"/../x", "/x"},
        {"a//b/", "a/b"},
        {"a/..", "."},
        {"//srv/share/x/../y", "//srv/share/y"},
        {"../../x", "../../x"},
        {"/..", "/"},
        {"C:..", "C:/"},
        {"C:", "C:/"},
        {"c:foo\\\\bar", "c:/foo/bar"},
        {"a/../../b", "../b"},
        {"../a/../..", "../.."},
        {"./a/./b/.", "a/b"},
        {".", "."},
        {"/a/b/../../..", "/"},
        {"/a//b///", "/a/b"},
        {"//x", "/x"},
        {"//srv/share", "//srv/share/"},
        {"//srv/share/..", "//srv/share/"},
        {"\\\\srv\\share\\..\\x", "//srv/share/x"},
        {"///srv/share/x", "//srv/share/x"},
        {"a/.../b", "a/.../b"},
        {"..a/b..", "..a/b.."},
        {"", ""},
    };
    for (const auto &c : cases) EXPECT_EQ(canonical(c.in), c.out) << "input: " << c.in;
}

// "//host/share" is a root only with a real host and share: with "." or ".."
// in either place the path is rooted at "/", which is how Linux reads it.
const canon_case kDotShareCases[] = {
    {"//tmp/../etc/passwd", "/etc/passwd"},
    {"//./x", "/x"},
    {"//../x", "/x"},
    {"//host/..", "/"},
    {"//host/.", "/host"},
    {"//../../etc", "/etc"},
    {"//./../..", "/"},
    {"\\\\tmp\\..\\etc", "/etc"},
    {"//host/share/../..", "//host/share/"},
    {"//host/share/../../../etc", "//host/share/etc"},
    {"//host/.share/x", "//host/.share/x"},
    {"//..host/share", "//..host/share/"},
};

TEST(PathCanonicalize, DotHostOrShareIsNoShare) {
    for (const auto &c : kDotShareCases) EXPECT_EQ(canonical(c.in), c.out) << "input: " << c.in;
}

TEST(PathCanonicalize, RelativeResultThatReadsAsADriveStaysRelative) {
    const canon_case cases[] = {
        {"x/../c:", "./c:"},
        {"x/../c:d/e", "./c:d/e"},
        {"./c:", "./c:"},
        {"c:", "c:/"},       // a drive itself
        {"x/c:", "x/c:"},    // not the first component
        {"/x/../c:", "/c:"}, // rooted
    };
    for (const auto &c : cases) EXPECT_EQ(canonical(c.in), c.out) << "input: " << c.in;
}

// A canonical path canonicalises to itself, and never climbs above its root.
TEST(PathCanonicalize, CanonicalFormIsStable) {
    std::vector<std::string> inputs = {
        "C:\\a\\.\\b\\..\\c", "/../x", "a/..", "../../x", "/..", "C:..", "a/../../b",
        "//srv/share/..", "///srv/share/x", "x/../c:", "x/../C:/y", "a/../../c:", "//x",
        "..\\..\\..\\etc", "a\\..", "/a/b/../../..",
    };
    for (const auto &c : kDotShareCases) inputs.emplace_back(c.in);
    for (const std::string &in : inputs) {
        const std::string once = canonical(in.c_str());
        EXPECT_EQ(canonical(once.c_str()), once) << "input: " << in;
        // Rooted results keep their root: no ".." component survives after one.
        if (cv_path_is_relative(once.c_str()) == 0) {
            EXPECT_EQ(("/" + once + "/").find("/../"), std::string::npos)
                << "input: " << in << " gave " << once;
        }
    }
}

TEST(PathCanonicalize, LeavesUrlsAlone) {
    for (const char *url : {"cvtp://host/a/../b", "cvtp://", "https://h//x/./y\\z",
                            "svn+ssh://h/a/..", "a.b-c://x"})
        EXPECT_EQ(canonical(url), url);
    // Not URLs: a one-letter scheme is a drive, and a scheme needs more after it.
    EXPECT_EQ(canonical("c://x/../y"), "c:/y");
    EXPECT_EQ(canonical("ab://"), "ab:");
}

TEST(PathCanonicalize, RefusesWhatItCannotRepresent) {
    int rc = 0;
    for (const char *bad : {"a\nb", "/tmp/x\n", "cvtp://h/\n", "//srv/", "//srv//", "////"}) {
        EXPECT_EQ(canonical(bad, CV_PATH_SIZE, &rc), "<fail:>") << bad;
        EXPECT_EQ(rc, -1);
    }
    EXPECT_EQ(cv_path_canonicalize("a", nullptr, 10), -1);
    char one[1] = {'X'};
    EXPECT_EQ(cv_path_canonicalize("a", one, 0), -1);
    EXPECT_EQ(one[0], 'X');
}

TEST(PathCanonicalize, NullSourceIsEmpty) {
    char buf[4] = "abc";
    EXPECT_EQ(cv_path_canonicalize(nullptr, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");
}

TEST(PathCanonicalize, BoundedByTheDestination) {
    EXPECT_EQ(canonical("abc", 4), "abc");
    EXPECT_EQ(canonical("abcd", 4), "<fail:>");
    // The source must fit as it stands, even when its canonical form is shorter.
    EXPECT_EQ(canonical("a/./b", 5), "<fail:>");
    EXPECT_EQ(canonical("a/./b", 6), "a/b");
    // A drive root can need one byte more than the source.
    EXPECT_EQ(canonical("C:", 3), "<fail:>");
    EXPECT_EQ(canonical("C:", 4), "C:/");
    EXPECT_EQ(canonical("cvtp://hostname", 8), "<fail:>");
}

TEST(PathCanonicalize, WorksInPlace) {
    char buf[32] = "C:\\x\\..\\y\\.\\z";
    ASSERT_EQ(cv_path_canonicalize(buf, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "C:/y/z");
    char grow[8] = "C:";
    ASSERT_EQ(cv_path_canonicalize(grow, grow, sizeof grow), 0);
    EXPECT_STREQ(grow, "C:/");
}

TEST(PathBuildCanonical, FormatsAndCanonicalises) {
    char buf[CV_PATH_SIZE];
    cv_status st = 99;
    EXPECT_EQ(cv_path_build_canonical_path(buf, sizeof buf, &st, "%s/../conf.d", "/opt/c/etc/x"),
              buf);
    EXPECT_EQ(st, CV_OK);
    EXPECT_STREQ(buf, "/opt/c/etc/conf.d");
    EXPECT_EQ(cv_path_build_canonical_path(buf, sizeof buf, nullptr, "%d/a", 7), buf);
    EXPECT_STREQ(buf, "7/a");
}

TEST(PathBuildCanonical, Failures) {
    cv_status st = 0;
    EXPECT_EQ(cv_path_build_canonical_path(nullptr, 10, &st, "x"), nullptr);
    EXPECT_EQ(st, CV_E_INVALID);

    char buf[CV_PATH_SIZE];
    const std::string fits(CV_PATH_SIZE - 1, 'a');
    EXPECT_EQ(cv_path_build_canonical_path(buf, sizeof buf, &st, "%s", fits.c_str()), buf);
    EXPECT_EQ(st, CV_OK);
    const std::string too_long(CV_PATH_SIZE, 'a');
    EXPECT_EQ(cv_path_build_canonical_path(buf, sizeof buf, &st, "%s", too_long.c_str()), nullptr);
    EXPECT_EQ(st, CV_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(cv_path_build_canonical_path(buf, sizeof buf, &st, "a%cb", '\n'), nullptr);
    EXPECT_EQ(st, CV_E_INVALID);
    char small[4];
    EXPECT_EQ(cv_path_build_canonical_path(small, sizeof small, &st, "abcd"), nullptr);
    EXPECT_EQ(st, CV_E_INVALID);
}

struct join_case {
    const char *dir;
    const char *name;
    const char *out;
};

TEST(PathJoin, JoinsAndCanonicalises) {
    const join_case cases[] = {
        {".", "a/b", "a/b"},
        {"/tmp", "//x", "/tmp/x"},
        {"/", "/x/./y", "/x/y"},
        {"/", "x", "/x"},
        {"", "x/../y", "y"},
        {"a/", "b", "a/b"},
        {"C:\\d", "e\\f", "C:/d/e/f"},
        {"/opt/c/bin", "../etc", "/opt/c/etc"},
        {".", "..", ".."},
        {"//srv/share", "x", "//srv/share/x"},
    };
    char buf[CV_PATH_SIZE];
    for (const auto &c : cases) {
        ASSERT_EQ(cv_path_join(c.dir, c.name, buf, sizeof buf), 0) << c.dir << " + " << c.name;
        EXPECT_STREQ(buf, c.out) << c.dir << " + " << c.name;
    }
}

TEST(PathJoin, DestinationMayBeTheName) {
    char buf[64] = "y/../z";
    ASSERT_EQ(cv_path_join("/base/dir", buf, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "/base/dir/z");
}

TEST(PathJoin, Failures) {
    char buf[8];
    EXPECT_EQ(cv_path_join(nullptr, "a", buf, sizeof buf), -1);
    EXPECT_EQ(cv_path_join("a", nullptr, buf, sizeof buf), -1);
    EXPECT_EQ(cv_path_join("a", "b", nullptr, sizeof buf), -1);
    EXPECT_EQ(cv_path_join("a", "b", buf, 0), -1);
    EXPECT_EQ(cv_path_join("abcd", "efg", buf, sizeof buf), -1);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(cv_path_join("abc", "efg", buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "abc/efg");
}

TEST(PathCombine, JoinsWithOneSlash) {
    const join_case cases[] = {
        {"a", "b", "a/b"}, {"a/", "b", "a/b"}, {"", "b", "b"},
        {"a", "", "a/"},   {"a/", "/b", "a//b"}, {"x/..", ".", "x/../."},
    };
    char buf[32];
    for (const auto &c : cases) {
        ASSERT_EQ(cv_path_combine(c.dir, c.name, buf, sizeof buf), CV_OK);
        EXPECT_STREQ(buf, c.out);
    }
}

TEST(PathCombine, Bounds) {
    char buf[4] = "zz";
    EXPECT_EQ(cv_path_combine(nullptr, "b", buf, sizeof buf), CV_E_INVALID);
    EXPECT_EQ(cv_path_combine("a", nullptr, buf, sizeof buf), CV_E_INVALID);
    EXPECT_EQ(cv_path_combine("a", "b", buf, 0), CV_OK);
    EXPECT_STREQ(buf, "zz");
    EXPECT_EQ(cv_path_combine("a", "b", buf, 4), CV_OK);
    EXPECT_STREQ(buf, "a/b");
    EXPECT_EQ(cv_path_combine("a", "bc", buf, 4), CV_E_BUFFER_SPACE);
    EXPECT_STREQ(buf, "");
}

TEST(PathParent, ParentsOfEachRootForm) {
    const canon_case cases[] = {
        {"a", "."},       {"/", "/"},           {"/a/b", "/a"},
        {"/a/b/", "/a"},  {"C:/a", "C:/"},      {"C:\\a\\b", "C:/a"},
        {"../x", ".."},   {"//srv/share/x", "//srv/share/"},
    };
    char buf[64];
    for (const auto &c : cases) {
        const int n = cv_path_get_parent(c.in, buf, sizeof buf);
        EXPECT_STREQ(buf, c.out) << c.in;
        EXPECT_EQ(n, static_cast<int>(std::strlen(c.out))) << c.in;
    }
    EXPECT_EQ(cv_path_get_parent("", buf, sizeof buf), -1);
    EXPECT_EQ(cv_path_get_parent(nullptr, buf, sizeof buf), -1);
    EXPECT_EQ(cv_path_get_parent("/abc/def", buf, 4), -1);
}

TEST(PathClassify, RelativeDriveAndUrl) {
    struct row {
        const char *path;
        int relative;
        int drive;
        int url;
    };
    const row rows[] = {
        {"", 1, 0, 0},
        {"   ", 1, 0, 0},
        {"a/b", 1, 0, 0},
        {"/a", 0, 0, 0},
        {"  \\a", 0, 0, 0},
        {"C:/x", 0, 1, 0},
        {" c:\\x", 0, 1, 0},
        {"C:x", 1, 1, 0},
        {"C:", 1, 1, 0},
        {"1:/x", 1, 0, 0},
        {"http://h", 0, 0, 1},
        {"cvtp://h/p", 0, 0, 1},
        {"x+y.z-1://h", 0, 0, 1},
        {"a://h", 0, 1, 0},
        {"ab://", 1, 0, 0},
        {"a_b://h", 1, 0, 0},
        {" http://h", 1, 0, 0},
    };
    for (const auto &r : rows) {
        EXPECT_EQ(cv_path_is_relative(r.path), r.relative) << '"' << r.path << '"';
        EXPECT_EQ(cv_path_has_drive(r.path), r.drive) << '"' << r.path << '"';
        EXPECT_EQ(cv_path_is_url(r.path), r.url) << '"' << r.path << '"';
    }
    EXPECT_EQ(cv_path_has_drive(nullptr), 0);
    EXPECT_EQ(cv_path_is_url(nullptr), 0);
}

TEST(PathNormalizeSlashes, TurnsEveryBackslash) {
    char buf[] = "\\\\a\\b/c\\";
    cv_path_normalize_slashes(buf);
    EXPECT_STREQ(buf, "//a/b/c/");
    cv_path_normalize_slashes(nullptr);
}

TEST(PathMakeRooted, Forms) {
    struct row {
        const char *in;
        cv_status status;
        const char *out;
    };
    const row rows[] = {
        {"  C:\\x", CV_OK, "C:/x"},       {"C:x", CV_E_INVALID, nullptr},
        {"\t\\\\srv\\s", CV_OK, "//srv/s"}, {"abc", CV_OK, "/abc"},
        {"  abc", CV_OK, "/abc"},         {"", CV_OK, "/"},
        {"/x", CV_OK, "/x"},
    };
    for (const auto &r : rows) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%s", r.in);
        EXPECT_EQ(cv_path_make_rooted(buf, sizeof buf), r.status) << r.in;
        if (r.out != nullptr) {
            EXPECT_STREQ(buf, r.out) << r.in;
        }
    }
}

TEST(PathMakeRooted, Bounds) {
    char full[4] = "abc";
    EXPECT_EQ(cv_path_make_rooted(full, sizeof full), CV_E_NAME_TOO_LONG);
    EXPECT_STREQ(full, "abc");
    char unterminated[3] = {'a', 'b', 'c'};
    EXPECT_EQ(cv_path_make_rooted(unterminated, sizeof unterminated), CV_E_INVALID);
    EXPECT_EQ(cv_path_make_rooted(nullptr, 4), CV_E_INVALID);
}

std::u16string native(const char *path, cv_status *st_out = nullptr, std::size_t bytes = 4096) {
    std::vector<char16_t> buf(bytes / 2 + 1, u'X');
    std::size_t size = bytes;
    const cv_status st = cv_path_to_native(path, buf.data(), &size);
    if (st_out != nullptr) *st_out = st;
    return st == CV_OK ? std::u16string(buf.data()) : std::u16string();
}

TEST(PathToNative, LongPathPrefixAndSeparators) {
    struct row {
        const char *in;
        const char16_t *out;
    };
    const row rows[] = {
        {"C:/a.txt", u"C:/a.txt"},
        {"C:/longer/path.txt", u"\\\\?\\C:\\longer\\path.txt"},
        {"C:\\longer\\.\\x\\..\\path", u"\\\\?\\C:\\longer\\path"},
        {"//srv/share/dir/x", u"\\\\?\\UNC\\srv\\share\\dir\\x"},
        {"/abs/olute/path", u"\\\\?\\\\abs\\olute\\path"},
        {"C:/dir./name.../f..", u"\\\\?\\C:\\dir\\name\\f"},
        {"C:/a.b/c..d/e.", u"\\\\?\\C:\\a.b\\c..d\\e"},
        {"some/long/relative/path.", u"some/long/relative/path."},
        {"C:/x.", u"C:/x."},
        {"C:/dir/\xc3\xa9t\xc3\xa9", u"\\\\?\\C:\\dir\\\u00e9t\u00e9"},
    };
    for (const auto &r : rows) {
        cv_status st = 1;
        EXPECT_EQ(native(r.in, &st), r.out) << r.in;
        EXPECT_EQ(st, CV_OK) << r.in;
    }
}

TEST(PathToNative, Failures) {
    cv_status st = 0;
    native("C:/a\nb", &st);
    EXPECT_EQ(st, CV_E_INVALID);
    native("C:/long/\xff\xfe/name", &st);
    EXPECT_EQ(st, CV_E_INVALID);

    char16_t small[4];
    std::size_t size = sizeof small;
    EXPECT_EQ(cv_path_to_native("C:/longer/path.txt", small, &size), CV_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, (std::u16string_view(u"\\\\?\\C:\\longer\\path.txt").size() + 1) * 2);
    EXPECT_EQ(cv_path_to_native(nullptr, small, &size), CV_E_INVALID);
    EXPECT_EQ(cv_path_to_native("a", nullptr, &size), CV_E_INVALID);
    EXPECT_EQ(cv_path_to_native("a", small, nullptr), CV_E_INVALID);
}

// A temporary installation tree, removed at the end of the test.
class InstallTree : public ::testing::Test {
protected:
    void SetUp() override {
        char templ[] = "/tmp/cv_path_test.XXXXXX";
        ASSERT_NE(::mkdtemp(templ), nullptr);
        base_ = templ;
        root_ = base_ / "top" / "R";
        fs::create_directories(root_ / "bin" / "etc");
        fs::create_directories(root_ / "etc");
        exe_ = (root_ / "bin" / "cvshell.exe").string();
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(base_, ec);
    }
    static void touch(const fs::path &p) {
        fs::create_directories(p.parent_path());
        std::ofstream(p) << "x";
    }

    fs::path base_;
    fs::path root_;
    std::string exe_;
};

TEST_F(InstallTree, ProductRootIsTheMarkedCandidate) {
    char buf[CV_PATH_SIZE];
    // No marker anywhere: the parent of bin.
    EXPECT_GE(cv_path_get_product_root(exe_.c_str(), buf, sizeof buf), 0);
    EXPECT_EQ(std::string(buf), root_.string());

    touch(root_ / "product-info.mf");
    EXPECT_GE(cv_path_get_product_root(exe_.c_str(), buf, sizeof buf), 0);
    EXPECT_EQ(std::string(buf), root_.string());

    touch(root_.parent_path() / "product-info.mf");
    EXPECT_GE(cv_path_get_product_root(exe_.c_str(), buf, sizeof buf), 0);
    EXPECT_EQ(std::string(buf), root_.string());  // R precedes R/..

    touch(root_ / "bin" / "product-info.mf");
    EXPECT_GE(cv_path_get_product_root(exe_.c_str(), buf, sizeof buf), 0);
    EXPECT_EQ(std::string(buf), (root_ / "bin").string());
}

TEST_F(InstallTree, ProductRootTwoLevelsUp) {
    touch(root_.parent_path() / "product-info.mf");
    char buf[CV_PATH_SIZE];
    EXPECT_GE(cv_path_get_product_root(exe_.c_str(), buf, sizeof buf), 0);
    EXPECT_EQ(std::string(buf), root_.parent_path().string());
}

TEST_F(InstallTree, ProductRootStopsAtACandidateThatDoesNotFit) {
    touch(root_ / "product-info.mf");
    // R fits, R/bin/product-info.mf (the first joined name) does not.
    std::vector<char> buf(root_.string().size() + 5);
    EXPECT_LT(cv_path_get_product_root(exe_.c_str(), buf.data(), buf.size()), 0);
    EXPECT_LT(cv_path_get_product_root(nullptr, buf.data(), buf.size()), 0);
}

TEST_F(InstallTree, ConfFileSearchOrder) {
    const fs::path bin = root_ / "bin";
    // Search order from the executable's directory D = R/bin.
    const std::vector<fs::path> order = {
        bin, bin / "etc", root_, root_ / "etc", root_.parent_path(), root_.parent_path() / "etc",
    };
    for (const auto &dir : order) touch(dir / "corvane.conf");
    char buf[CV_PATH_SIZE];
    for (const auto &dir : order) {
        const std::string expected = (dir / "corvane.conf").string();
        const int n = cv_path_find_conf_file("corvane.conf", exe_.c_str(), buf, sizeof buf);
        EXPECT_EQ(std::string(buf), expected);
        EXPECT_EQ(n, static_cast<int>(expected.size()));
        fs::remove(dir / "corvane.conf");
    }
    EXPECT_EQ(cv_path_find_conf_file("corvane.conf", exe_.c_str(), buf, sizeof buf), -1);
    EXPECT_STREQ(buf, "");
}

TEST_F(InstallTree, ConfFileArgumentsAndBounds) {
    touch(root_ / "corvane.conf");
    char buf[CV_PATH_SIZE];
    EXPECT_EQ(cv_path_find_conf_file("", exe_.c_str(), buf, sizeof buf), -1);
    EXPECT_EQ(cv_path_find_conf_file(nullptr, exe_.c_str(), buf, sizeof buf), -1);
    // The first candidate's joined name already does not fit: no later one is tried.
    std::vector<char> tight((root_ / "bin" / "corvane.conf").string().size());
    EXPECT_EQ(cv_path_find_conf_file("corvane.conf", exe_.c_str(), tight.data(), tight.size()),
              -1);
    // A directory of that name counts too (conf.d is looked up the same way).
    fs::create_directories(root_ / "etc" / "conf.d");
    EXPECT_GT(cv_path_find_conf_file("conf.d", exe_.c_str(), buf, sizeof buf), 0);
    EXPECT_EQ(std::string(buf), (root_ / "etc" / "conf.d").string());
}

TEST_F(InstallTree, ConfDir) {
    char buf[CV_PATH_SIZE];
    touch(root_ / "product-info.mf");
    EXPECT_GT(cv_path_get_conf_dir(exe_.c_str(), buf, sizeof buf), 0);
    EXPECT_EQ(std::string(buf), (root_ / "etc").string());  // default, nothing found

    touch(root_ / "bin" / "etc" / "corvane.conf");
    const int n = cv_path_get_conf_dir(exe_.c_str(), buf, sizeof buf);
    EXPECT_EQ(std::string(buf), (root_ / "bin" / "etc").string());
    EXPECT_EQ(n, static_cast<int>(std::strlen(buf)));
}

TEST(PathConfDir, RootOfTheFileSystemGivesEtc) {
    // An executable directly under "/" whose tree has no marker or
    // configuration: the default is "/etc", not "//etc".
    char buf[CV_PATH_SIZE];
    const char *exe = "/cv-path-test-no-such-dir/cvshell";
    ASSERT_GT(cv_path_get_conf_dir(exe, buf, sizeof buf), 0);
    if (std::string(buf) != "/etc") {
        // Only when a corvane.conf really exists in one of the candidates.
        EXPECT_TRUE(fs::exists(fs::path(buf) / "corvane.conf")) << buf;
    }
}

TEST(PathExe, ThisProgram) {
    char buf[CV_PATH_SIZE];
    const int n = cv_path_get_exe_path(buf, sizeof buf);
    ASSERT_GT(n, 0);
    EXPECT_EQ(n, static_cast<int>(std::strlen(buf)));
    EXPECT_EQ(fs::path(buf), fs::read_symlink("/proc/self/exe"));
    EXPECT_EQ(fs::path(buf).filename(), "cv_path_test");

    char again[CV_PATH_SIZE];
    EXPECT_EQ(cv_path_get_exe_path(again, sizeof again), n);
    EXPECT_STREQ(again, buf);

    char dir[CV_PATH_SIZE];
    ASSERT_GT(cv_path_get_exe_dir(dir, sizeof dir), 0);
    EXPECT_EQ(fs::path(dir), fs::path(buf).parent_path());

    EXPECT_EQ(cv_path_get_exe_path(nullptr, 10), -1);
    char small[2];
    EXPECT_EQ(cv_path_get_exe_path(small, sizeof small), -1);
    EXPECT_STREQ(small, "");
}

// Sets or unsets HOME for one test and puts it back.
class HomeVariable {
public:
    explicit HomeVariable(const char *value) {
        if (const char *old = std::getenv("HOME")) saved_ = old;
        if (value != nullptr)
            ::setenv("HOME", value, 1);
        else
            ::unsetenv("HOME");
    }
    ~HomeVariable() {
        if (saved_)
            ::setenv("HOME", saved_->c_str(), 1);
        else
            ::unsetenv("HOME");
    }

private:
    std::optional<std::string> saved_;
};

std::string account_home() {
    const passwd *pw = ::getpwuid(::geteuid());
    return pw != nullptr && pw->pw_dir != nullptr ? pw->pw_dir : "";
}

TEST(PathHome, FromTheVariableCanonicalised) {
    HomeVariable home("/tmp//some/./home/");
    char buf[64];
    EXPECT_EQ(cv_path_get_home_dir(buf, sizeof buf), 14);
    EXPECT_STREQ(buf, "/tmp/some/home");
    char small[4];
    EXPECT_EQ(cv_path_get_home_dir(small, sizeof small), -1);
    EXPECT_EQ(cv_path_get_home_dir(nullptr, 4), -1);
}

TEST(PathHome, FromTheAccountDatabase) {
    const std::string expected = account_home();
    if (expected.empty()) GTEST_SKIP() << "no account entry for this user";
    for (const char *value : {static_cast<const char *>(nullptr), ""}) {
        HomeVariable home(value);
        char buf[CV_PATH_SIZE];
        char canon[CV_PATH_SIZE];
        ASSERT_EQ(cv_path_canonicalize(expected.c_str(), canon, sizeof canon), 0);
        EXPECT_GT(cv_path_get_home_dir(buf, sizeof buf), 0);
        EXPECT_STREQ(buf, canon);
    }
}

TEST(PathUserHome, NamedUsers) {
    const passwd *pw = ::getpwuid(::geteuid());
    if (pw == nullptr || pw->pw_dir == nullptr || pw->pw_dir[0] == '\0')
        GTEST_SKIP() << "no account entry with a home for this user";
    const std::string name = pw->pw_name;
    const std::string home = pw->pw_dir;

    char buf[CV_PATH_SIZE] = "junk";
    EXPECT_EQ(cv_path_get_user_home_dir(name.c_str(), buf, sizeof buf), CV_OK);
    EXPECT_EQ(std::string(buf), home);

    std::strcpy(buf, "junk");
    EXPECT_NE(cv_path_get_user_home_dir("cv-no-such-user-4711", buf, sizeof buf), CV_OK);
    EXPECT_STREQ(buf, "");
    EXPECT_NE(cv_path_get_user_home_dir("NOSUCHDOMAIN\\cv-no-such-user", buf, sizeof buf), CV_OK);

    std::vector<char> small(home.size());
    EXPECT_EQ(cv_path_get_user_home_dir(name.c_str(), small.data(), small.size()),
              CV_E_BUFFER_SPACE);
    EXPECT_STREQ(small.data(), "");
}

TEST(PathUserHome, BadArguments) {
    char buf[16];
    EXPECT_EQ(cv_path_get_user_home_dir(nullptr, buf, sizeof buf), CV_E_INVALID);
    EXPECT_EQ(cv_path_get_user_home_dir("root", nullptr, sizeof buf), CV_E_INVALID);
    EXPECT_EQ(cv_path_get_user_home_dir("root", buf, 0), CV_E_INVALID);
    EXPECT_EQ(cv_path_get_user_home_dir("ro\xffot", buf, sizeof buf), CV_E_INVALID);
    const std::string long_name(600, 'u');
    EXPECT_EQ(cv_path_get_user_home_dir(long_name.c_str(), buf, sizeof buf),
              CV_E_BUFFER_TOO_SMALL);
}

}  // namespace
