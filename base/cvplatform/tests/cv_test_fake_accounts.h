// Test support: a fake account database for the tests of group look-ups.
//
// Debian's libnss-wrapper answers the account and group calls of NSS from a
// passwd and a group file named by NSS_WRAPPER_PASSWD and
// NSS_WRAPPER_GROUP.  It must be preloaded when the process starts, so the
// tests that need it run in a second run of the test program: a parent test
// copies the fixture files into a fresh folder (adding any generated lines),
// runs this program again with the preload and a filter that selects the
// child tests, and checks that they all ran and passed.  A child test skips
// unless it runs in such a child.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace cv_test_fake_accounts {

/* Set in the child to the folder holding its passwd and group files. */
inline constexpr const char *kChildVariable = "CV_TEST_FAKE_ACCOUNTS";

/* The wrapper library found at configuration time, or "" when the machine
 * lacks it. */
inline std::string wrapper_library() {
#ifdef CV_NSS_WRAPPER_LIBRARY
    const std::string library = CV_NSS_WRAPPER_LIBRARY;
    if (!library.empty() && std::filesystem::exists(library)) return library;
#endif
    return "";
}

/* The reason a parent test skips on a machine without the wrapper. */
inline constexpr const char *kNoWrapper =
    "libnss_wrapper.so is missing (Debian package libnss-wrapper)";

/* The folder of the child's account files, or "" outside a child. */
inline std::string child_folder() {
    const char *folder = std::getenv(kChildVariable);
    return folder ? folder : "";
}

inline std::string passwd_file(const std::string &folder) { return folder + "/passwd"; }
inline std::string group_file(const std::string &folder) { return folder + "/group"; }

/* A fresh folder with copies of the fixture files `passwd` and `group`,
 * removed with everything in it. */
class database {
public:
    database(const std::string &passwd, const std::string &group) {
        char pattern[] = "/tmp/cv_fake_accounts.XXXXXX";
        if (const char *made = ::mkdtemp(pattern)) folder_ = made;
        std::error_code error;
        std::filesystem::copy_file(passwd, passwd_file(folder_), error);
        std::filesystem::copy_file(group, group_file(folder_), error);
    }
    ~database() {
        std::error_code ignored;
        if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
    }
    database(const database &) = delete;
    database &operator=(const database &) = delete;

    const std::string &folder() const { return folder_; }

    /* Appends one line to the group file. */
    void add_group(const std::string &line) const {
        std::ofstream(group_file(folder_), std::ios::app) << line << "\n";
    }

private:
    std::string folder_;
};

struct child_run {
    int exit_code;  // -1 when it did not end normally
    std::string output;
};

/* Runs this program again with the wrapper preloaded over the files of
 * `folder`, running only the tests that match `filter`. */
inline child_run run_child(const std::string &filter, const std::string &folder) {
    int pipe_fds[2];
    if (::pipe(pipe_fds) != 0) return {-1, "<pipe failed>"};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipe_fds[0]);
        ::dup2(pipe_fds[1], STDOUT_FILENO);
        ::dup2(pipe_fds[1], STDERR_FILENO);
        ::close(pipe_fds[1]);
        ::setenv("LD_PRELOAD", wrapper_library().c_str(), 1);
        ::setenv("NSS_WRAPPER_PASSWD", passwd_file(folder).c_str(), 1);
        ::setenv("NSS_WRAPPER_GROUP", group_file(folder).c_str(), 1);
        ::setenv(kChildVariable, folder.c_str(), 1);
        // The sanitizer runtime is linked into the program and wants to be
        // the first library (the preload comes first here, harmlessly), and
        // refuses the wrapper's private load of the C library with its own
        // symbol binding; the wrapper loads it plainly when told.
        ::setenv("NSS_WRAPPER_DISABLE_DEEPBIND", "1", 1);
        std::string asan = std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "";
        asan += (asan.empty() ? "" : ":") + std::string("verify_asan_link_order=0");
        ::setenv("ASAN_OPTIONS", asan.c_str(), 1);
        ::unsetenv("GTEST_OUTPUT");
        const std::string filter_arg = "--gtest_filter=" + filter;
        char *const argv[] = {const_cast<char *>("fake_accounts_child"),
                              const_cast<char *>(filter_arg.c_str()), nullptr};
        ::execv("/proc/self/exe", argv);
        ::_exit(127);
    }
    ::close(pipe_fds[1]);
    std::string output;
    char buffer[4096];
    for (ssize_t got; (got = ::read(pipe_fds[0], buffer, sizeof buffer)) != 0;) {
        if (got < 0) {
            if (errno == EINTR) continue;
            break;
        }
        output.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(pipe_fds[0]);
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child) return {-1, output};
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

/* Checks that the child ran at least one test, skipped none and passed. */
inline void expect_all_passed(const child_run &run) {
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_NE(run.output.find("[       OK ]"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("[  PASSED  ]"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("[  SKIPPED ]"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("[  FAILED  ]"), std::string::npos) << run.output;
}

}  // namespace cv_test_fake_accounts

/* Skips a child test outside a child run. */
#define CV_TEST_FAKE_ACCOUNTS_CHILD_ONLY()                                                   \
    do {                                                                                     \
        if (::cv_test_fake_accounts::child_folder().empty())                                 \
            GTEST_SKIP() << "runs only in the child run under the fake account database"; \
    } while (0)
