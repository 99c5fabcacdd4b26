// Tests of the dynamic-library layer: the test plug-in (a "*.cveu" file, as
// group plug-ins are) loads and runs, keeps its symbols to itself, and is
// found by a relative path; failures give statuses, a null handle and the
// documented log lines; unloading nothing is silent.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "cv_test_log_capture.h"
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
