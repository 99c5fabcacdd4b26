// Tests of the dynamic-library layer: the test plug-in (a "*.cveu" file, as
// group plug-ins are) loads and runs, keeps its symbols to itself, and is
// found by a relative path; failures give statuses, a null handle and the
// documented log lines; unloading nothing is silent.  The trusted load
// refuses links, special files, files and folders another account could
// write or owns, and loads each file as itself.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "cv_test_log_capture.h"
#include "cv_test_temp_dir.h"
#include "cvplatform/cv_lib.h"
#include "data/test_plugin.h"

CV_TEST_LOG_CAPTURE();

namespace fs = std::filesystem;

namespace {

// A handle value that no load gives, to see that a failed load clears it.
cv_lib_handle not_loaded() { return reinterpret_cast<cv_lib_handle>(0x1); }

TEST(Lib, LoadsThePlugInAndCallsItsFunction) {
    cv_lib_handle lib = nullptr;
    ASSERT_EQ(cv_lib_load(&lib, CV_TEST_PLUGIN), 0u);
    ASSERT_NE(lib, nullptr);
    cv_lib_function answer = nullptr;
    ASSERT_EQ(cv_lib_symbol(&lib, "cv_test_plugin_answer", &answer), 0u);
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(reinterpret_cast<int (*)()>(answer)(), 42);
    // Loaded privately: the process at large does not see the plug-in's names.
    EXPECT_EQ(::dlsym(RTLD_DEFAULT, "cv_test_plugin_answer"), nullptr);
    EXPECT_EQ(cv_lib_unload(&lib), 0u);
    EXPECT_EQ(lib, nullptr);
}

TEST(Lib, PathWithDotSlashNamesAFileInTheWorkingDirectory) {
    const fs::path plugin(CV_TEST_PLUGIN);
    const fs::path before = fs::current_path();
    fs::current_path(plugin.parent_path());
    const std::string relative = "./" + plugin.filename().string();
    cv_lib_handle lib = nullptr;
    const cv_status status = cv_lib_load(&lib, relative.c_str());
    // Without the slash it is a search of the library path, which does not
    // hold the working directory.
    cv_lib_handle searched = nullptr;
    const cv_status search = cv_lib_load(&searched, plugin.filename().c_str());
    fs::current_path(before);
    EXPECT_EQ(status, 0u);
    EXPECT_NE(lib, nullptr);
    EXPECT_NE(search, 0u);
    EXPECT_EQ(searched, nullptr);
    cv_lib_unload(&lib);
    cv_lib_unload(&searched);
}

TEST(Lib, FailedLoadsGiveAStatusAndANullHandle) {
    char dir_pattern[] = "/tmp/cv_lib_test_XXXXXX";
    ASSERT_NE(::mkdtemp(dir_pattern), nullptr);
    const std::string not_a_library = std::string(dir_pattern) + "/text.cveu";
    std::ofstream(not_a_library) << "not a library\n";

    const struct {
        const char *path;
        cv_status status;
    } cases[] = {
        {"/nonexistent-cv-lib-test/plugin.cveu", 2},  // the system's own code
        {not_a_library.c_str(), 28679},               // the loader gives no code
        {"", 22},                                     // would be the program itself
        {"bad\nname.cveu", 22},                       // no canonical form
        {nullptr, 22},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path != nullptr ? c.path : "(null)");
        cv_lib_handle lib = not_loaded();
        EXPECT_EQ(cv_lib_load(&lib, c.path), c.status);
        EXPECT_EQ(lib, nullptr);
    }
    EXPECT_EQ(cv_lib_load(nullptr, CV_TEST_PLUGIN), 22u);
    fs::remove_all(dir_pattern);
}

TEST(Lib, MissingSymbolIsLoggedAndGivesNoFunction) {
    cv_lib_handle lib = nullptr;
    ASSERT_EQ(cv_lib_load(&lib, CV_TEST_PLUGIN), 0u);
    const std::string mark = cv_test_log_capture::mark();
    cv_lib_function function = reinterpret_cast<cv_lib_function>(&cv_lib_unload);
    EXPECT_EQ(cv_lib_symbol(&lib, "cv_test_plugin_missing", &function), 28680u);
    EXPECT_EQ(function, nullptr);
    EXPECT_NE(cv_test_log_capture::since(mark).find(
                  "ERR Loading lib symbol [cv_test_plugin_missing] failed\r\n"),
              std::string::npos);
    cv_lib_unload(&lib);
}

TEST(Lib, UnloadingNothingIsSilent) {
    const std::string mark = cv_test_log_capture::mark();
    cv_lib_handle lib = nullptr;
    EXPECT_EQ(cv_lib_unload(&lib), 0u);
    EXPECT_EQ(cv_lib_unload(nullptr), 0u);
    EXPECT_EQ(cv_test_log_capture::since(mark), "\r\n");
}

TEST(Lib, FailedUnloadIsLoggedAndClearsTheHandle) {
    // The C library stays loaded after its one explicit reference is
    // dropped, so a second unload through a copy of the handle is refused by
    // the loader without touching freed memory.
    cv_lib_handle lib = nullptr;
    ASSERT_EQ(cv_lib_load(&lib, "libc.so.6"), 0u);
    cv_lib_handle copy = lib;
    ASSERT_EQ(cv_lib_unload(&lib), 0u);
    const std::string mark = cv_test_log_capture::mark();
    EXPECT_EQ(cv_lib_unload(&copy), 0u);
    EXPECT_EQ(copy, nullptr);
    EXPECT_NE(cv_test_log_capture::since(mark).find(
                  "ERR Lib unloading failed, errno:28679, err desc:Library open/close failed\r\n"),
              std::string::npos);
}

}  // namespace

namespace {

// The trusted load: a folder of its own (mkdtemp gives mode 0700) holding a
// copy of the test plug-in that each case spoils in one way.
class TrustedLoad : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(folder_.path().empty()); }

    /* Copies the test plug-in into the folder as `name` with `mode`. */
    void place_plugin(const std::string &name, fs::perms mode = fs::perms(0755)) {
        fs::copy_file(CV_TEST_PLUGIN, folder_ / name);
        fs::permissions(folder_ / name, mode);
    }

    cv_status load(const char *name, std::uint32_t allowed_uid = 0) {
        reason_[0] = 'x';
        reason_[1] = '\0';
        return cv_lib_load_trusted(&lib_, folder_.path().c_str(), name, allowed_uid, reason_,
                                   sizeof reason_);
    }

    void TearDown() override { cv_lib_unload(&lib_); }

    static bool is_root() { return ::geteuid() == 0; }

    temp_dir folder_;
    cv_lib_handle lib_ = nullptr;
    char reason_[CV_LIB_REASON_SIZE];
};

TEST_F(TrustedLoad, LoadsAProperFileAndCallsIt) {
    place_plugin("good.cveu");
    ASSERT_EQ(load("good.cveu"), 0u) << reason_;
    ASSERT_NE(lib_, nullptr);
    EXPECT_STREQ(reason_, "");
    cv_lib_function answer = nullptr;
    ASSERT_EQ(cv_lib_symbol(&lib_, "cv_test_plugin_answer", &answer), 0u);
    EXPECT_EQ(reinterpret_cast<int (*)()>(answer)(), 42);
    // Loaded privately, as cv_lib_load loads.
    EXPECT_EQ(::dlsym(RTLD_DEFAULT, "cv_test_plugin_answer"), nullptr);
}

TEST_F(TrustedLoad, RefusesWhatAnotherAccountCouldHavePlanted) {
    // Each case starts from a folder with a proper copy named real.cveu,
    // and makes x.cveu (from a copy of it when `copy` is set).
    struct row {
        const char *what;
        bool copy;
        void (*prepare)(const std::string &x);
        cv_status status;
        const char *reason;
    };
    const row rows[] = {
        {"a symbolic link to a proper file", false,
         [](const std::string &x) { fs::create_symlink("real.cveu", x); }, 40,
         "a symbolic link"},
        {"a file its group may write", true,
         [](const std::string &x) { fs::permissions(x, fs::perms(0775)); }, 28698,
         "writable by group or others"},
        {"a file anyone may write", true,
         [](const std::string &x) { fs::permissions(x, fs::perms(0757)); }, 28698,
         "writable by group or others"},
        {"a FIFO (the open must not wait for a writer)", false,
         [](const std::string &x) { ASSERT_EQ(::mkfifo(x.c_str(), 0644), 0); }, 28698,
         "not a regular file"},
        {"a directory", false, [](const std::string &x) { fs::create_directory(x); }, 28698,
         "not a regular file"},
        {"no such file", false, [](const std::string &) {}, 2, "cannot be opened: "},
        {"a text file", false,
         [](const std::string &x) { std::ofstream(x) << "not a library\n"; }, 28679,
         "not a library: "},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.what);
        temp_dir folder;
        fs::copy_file(CV_TEST_PLUGIN, folder / "real.cveu");
        fs::permissions(folder / "real.cveu", fs::perms(0755));
        if (r.copy) fs::copy_file(folder / "real.cveu", folder / "x.cveu");
        r.prepare(folder / "x.cveu");
        cv_lib_handle lib = not_loaded();
        char reason[CV_LIB_REASON_SIZE] = "x";
        EXPECT_EQ(cv_lib_load_trusted(&lib, folder.path().c_str(), "x.cveu", 0, reason,
                                      sizeof reason),
                  r.status);
        EXPECT_EQ(lib, nullptr);
        EXPECT_EQ(std::string(reason).rfind(r.reason, 0), 0u) << reason;
    }
}

TEST_F(TrustedLoad, RefusesAFolderOthersMayWrite) {
    place_plugin("good.cveu");
    fs::permissions(folder_.path(), fs::perms(0775));
    EXPECT_EQ(load("good.cveu"), 28698u);
    EXPECT_STREQ(reason_, "folder writable by group or others");
    EXPECT_EQ(lib_, nullptr);
}

TEST_F(TrustedLoad, AcceptsOnlyRootAndTheAllowedOwner) {
    if (!is_root()) GTEST_SKIP() << "changing a file's owner needs root";
    place_plugin("foreign.cveu");
    ASSERT_EQ(::chown((folder_ / "foreign.cveu").c_str(), 65534, 65534), 0);
    EXPECT_EQ(load("foreign.cveu", 1000), 28698u);
    EXPECT_STREQ(reason_, "owned by uid 65534");
    EXPECT_EQ(lib_, nullptr);
    EXPECT_EQ(load("foreign.cveu", 65534), 0u) << reason_;
    EXPECT_NE(lib_, nullptr);
    cv_lib_unload(&lib_);

    // The folder is held to the same owners.
    ASSERT_EQ(::chown(folder_.path().c_str(), 65534, 65534), 0);
    EXPECT_EQ(load("foreign.cveu", 1000), 28698u);
    EXPECT_STREQ(reason_, "folder owned by uid 65534");
}

TEST_F(TrustedLoad, NamesThatAreNotOneEntryAreRefused) {
    place_plugin("good.cveu");
    for (const char *name : {"", ".", "..", "sub/good.cveu", "/good.cveu"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(load(name), 22u);
        EXPECT_EQ(lib_, nullptr);
    }
    EXPECT_EQ(load(nullptr), 22u);
    EXPECT_EQ(cv_lib_load_trusted(nullptr, folder_.path().c_str(), "good.cveu", 0, nullptr, 0),
              22u);
    EXPECT_EQ(cv_lib_load_trusted(&lib_, nullptr, "good.cveu", 0, nullptr, 0), 22u);
}

TEST_F(TrustedLoad, EachFileLoadsAsItselfWhileOthersStayLoaded) {
    // Every load goes through a descriptor's name; a number freed by one
    // load and taken by the next must not give the first library back.
    constexpr int kCopies = 5;
    cv_lib_handle libs[kCopies] = {};
    for (int i = 0; i < kCopies; ++i) {
        const std::string name = "copy" + std::to_string(i) + ".cveu";
        place_plugin(name);
        char reason[CV_LIB_REASON_SIZE];
        ASSERT_EQ(cv_lib_load_trusted(&libs[i], folder_.path().c_str(), name.c_str(), 0, reason,
                                      sizeof reason),
                  0u)
            << reason;
        for (int j = 0; j < i; ++j) EXPECT_NE(libs[i], libs[j]) << i << " and " << j;
    }
    // Loading a file that is already loaded gives that same library.
    cv_lib_handle again = nullptr;
    char reason[CV_LIB_REASON_SIZE];
    ASSERT_EQ(cv_lib_load_trusted(&again, folder_.path().c_str(), "copy0.cveu", 0, reason,
                                  sizeof reason),
              0u);
    EXPECT_EQ(again, libs[0]);
    cv_lib_unload(&again);
    for (cv_lib_handle &lib : libs) cv_lib_unload(&lib);
}

}  // namespace
