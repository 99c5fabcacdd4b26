// Tests of the framework's counted start and end: what the first start
// builds (host variables from the host name, set for the test in a UTS
// namespace of its own; rule functions; providers) and the last end tears
// down, the start limit, the provider list's tail-holder contract, the
// master group set handed to providers, and the clean-up stack.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cv_test_log_capture.h"
#include "cvplatform/cv_containers.h"
#include "cvplatform/cv_error.h"
#include "uac/cv_uac.h"
#include "uac/cv_uac_fitness.h"

CV_TEST_LOG_CAPTURE();

namespace {

/* What the test providers were asked, in order. */
std::vector<std::string> calls;

/* A provider that records its calls under its own name. */
struct test_provider {
    cv_uac_group_provider record;
    std::string name;
};

std::string name_of(cv_uac_group_provider *provider) {
    return reinterpret_cast<test_provider *>(provider)->name;
}

void record_groups(const cv_uac_master_group_set *groups, cv_uac_group_provider *provider) {
    calls.push_back(name_of(provider) + ".set_groups(" + std::to_string(groups->count) + ")");
}

std::int32_t find_no_groups(const char *, const char *, std::uint32_t *, cv_uac_group_provider *) {
    return 0;
}

void release_provider(cv_uac_group_provider *provider) {
    calls.push_back(name_of(provider) + ".release");
    delete reinterpret_cast<test_provider *>(provider);
}

/* Appends one provider at the tail holder as a registration must. */
void append_provider(cv_uac_group_provider ***tail_holder, const char *name) {
    auto *provider = new test_provider{{record_groups, find_no_groups, release_provider, nullptr},
                                       name};
    **tail_holder = &provider->record;
    *tail_holder = &provider->record.next;
}

int registrations = 0;

void register_two_providers(cv_uac_group_provider ***tail_holder) {
    ++registrations;
    append_provider(tail_holder, "first");
    append_provider(tail_holder, "second");
}

std::string variable(const char *name) {
    const char *value = nullptr;
    return cv_btree_get(cv_uac_global_variables(), name, &value) == 0 ? value : "<absent>";
}

std::vector<std::string> registered_functions() {
    std::vector<std::string> names;
    for (const cv_uac_function_record *record = cv_uac_default_function_registry()->head; record;
         record = record->next)
        names.emplace_back(record->name);
    return names;
}

class UacInit : public ::testing::Test {
protected:
    void SetUp() override {
        calls.clear();
        registrations = 0;
        ASSERT_EQ(cv_uac_init_count(), 0);
    }
    void TearDown() override {
        while (cv_uac_init_count() > 0) cv_uac_deinit();
    }
};

TEST_F(UacInit, SecondStartOnlyCountsAndLastEndTearsDown) {
    ASSERT_EQ(cv_uac_init(register_two_providers), 0u);
    ASSERT_EQ(cv_uac_init(register_two_providers), 0u);
    EXPECT_EQ(registrations, 1);
    cv_uac_deinit();
    EXPECT_EQ(cv_uac_init_count(), 1);
    EXPECT_NE(cv_uac_global_variables(), nullptr);
    EXPECT_EQ(cv_uac_default_variable_tree(), cv_uac_global_variables());
    EXPECT_EQ(registered_functions().size(), 5u);
    EXPECT_TRUE(calls.empty());

    cv_uac_deinit();
    EXPECT_EQ(cv_uac_init_count(), 0);
    EXPECT_EQ(cv_uac_global_variables(), nullptr);
    EXPECT_EQ(cv_uac_default_variable_tree(), nullptr);
    EXPECT_TRUE(registered_functions().empty());
    EXPECT_EQ(calls, (std::vector<std::string>{"first.release", "second.release"}));

    cv_uac_deinit();  // an end without a start changes nothing
    EXPECT_EQ(cv_uac_init_count(), 0);
}

TEST_F(UacInit, StartsAreRefusedAtTheLimit) {
    for (std::int32_t i = 0; i < CV_UAC_INIT_LIMIT; ++i) ASSERT_EQ(cv_uac_init(nullptr), 0u);
    EXPECT_EQ(cv_uac_init(nullptr), CV_E_INVALID);
    EXPECT_EQ(cv_uac_init_count(), CV_UAC_INIT_LIMIT);
    for (std::int32_t i = 1; i < CV_UAC_INIT_LIMIT; ++i) cv_uac_deinit();
    EXPECT_NE(cv_uac_global_variables(), nullptr);
    cv_uac_deinit();
    EXPECT_EQ(cv_uac_global_variables(), nullptr);
}

TEST_F(UacInit, RuleFunctionsAreRegisteredInTheirOrder) {
    ASSERT_EQ(cv_uac_init(nullptr), 0u);
    // The registry keeps longer names first; peer_ip and classes are of one
    // length, so their order is the order of registration.
    EXPECT_EQ(registered_functions(),
              (std::vector<std::string>{"stgl_provider", "peer_domain", "peer_ip", "classes",
                                        "cookie"}));
}

/* The environment variable that turns a run of this program into the child
 * of HostVariablesComeFromTheHostName: it names the file the child writes
 * its host variables to. */
constexpr const char *kHostReportVariable = "CV_UAC_TEST_HOST_REPORT";

/* Runs this test program again, with the host name `host_name` in a UTS
 * namespace of its own (so that nothing the program has already read of
 * the host name counts), as the child that reports its host variables.
 * The report, or "<skip: reason>" when the namespace cannot be had. */
std::string host_variables_under(const std::string &host_name) {
    char report[] = "/tmp/uac_init_host_XXXXXX";
    const int fd = ::mkstemp(report);
    if (fd < 0) return "<mkstemp failed>";
    ::close(fd);
    int pipe_fds[2];
    if (::pipe(pipe_fds) != 0) return "<pipe failed>";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipe_fds[0]);
        const char answer = ::unshare(CLONE_NEWUTS) == 0 &&
                                    ::sethostname(host_name.data(), host_name.size()) == 0
                                ? 'y'
                                : 'n';
        (void)!::write(pipe_fds[1], &answer, 1);
        if (answer != 'y') ::_exit(0);
        // The child's own test report must not mix with this program's.
        const int null_fd = ::open("/dev/null", O_WRONLY);
        if (null_fd >= 0) {
            ::dup2(null_fd, STDOUT_FILENO);
            ::dup2(null_fd, STDERR_FILENO);
        }
        ::unsetenv("GTEST_OUTPUT");
        ::setenv(kHostReportVariable, report, 1);
        char filter[] = "--gtest_filter=UacInitHostChild.ReportsTheHostVariables";
        char *const argv[] = {const_cast<char *>("uac_init_test"), filter, nullptr};
        ::execv("/proc/self/exe", argv);
        ::_exit(127);
    }
    ::close(pipe_fds[1]);
    char answer = 'n';
    const bool answered = child > 0 && ::read(pipe_fds[0], &answer, 1) == 1;
    ::close(pipe_fds[0]);
    int status = 0;
    if (child > 0) ::waitpid(child, &status, 0);
    std::ifstream in(report);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ::unlink(report);
    if (!answered || answer != 'y') return "<skip: no UTS namespace (needs CAP_SYS_ADMIN)>";
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "<child failed>";
    return text;
}

TEST(UacInitHostChild, ReportsTheHostVariables) {
    const char *report = std::getenv(kHostReportVariable);
    if (!report) GTEST_SKIP() << "runs only as the child of HostVariablesComeFromTheHostName";
    ASSERT_EQ(cv_uac_init(nullptr), 0u);
    std::ofstream(report) << variable(CV_UAC_VARIABLE_HOSTNAME) << "\n"
                          << variable(CV_UAC_VARIABLE_SHORT_HOSTNAME) << "\n";
    cv_uac_deinit();
}

TEST_F(UacInit, HostVariablesComeFromTheHostName) {
    struct row {
        const char *host_name;
        const char *report;
    };
    const row rows[] = {
        {"node1.example.com", "node1.example.com\nnode1\n"},
        {"node1", "node1\nnode1\n"},
    };
    for (const row &r : rows) {
        const std::string report = host_variables_under(r.host_name);
        if (report.rfind("<skip: ", 0) == 0) GTEST_SKIP() << report;
        EXPECT_EQ(report, r.report) << r.host_name;
    }
}

TEST(UacHostVariables, ShortNameIsCutAtTheFirstDot) {
    struct row {
        const char *host;
        const char *short_name;
    };
    const row rows[] = {
        {"node1.corp.example.com", "node1"},
        {"node1", "node1"},
        {"node1.", "node1"},
        {".hidden", ""},
    };
    for (const row &r : rows) {
        cv_btree *tree = nullptr;
        ASSERT_EQ(cv_btree_create_strings(&tree), 0u);
        ASSERT_EQ(cv_uac_set_host_variables(tree, r.host), 0u) << r.host;
        const char *value = nullptr;
        ASSERT_EQ(cv_btree_get(tree, CV_UAC_VARIABLE_HOSTNAME, &value), 0u);
        EXPECT_STREQ(value, r.host);
        ASSERT_EQ(cv_btree_get(tree, CV_UAC_VARIABLE_SHORT_HOSTNAME, &value), 0u);
        EXPECT_STREQ(value, r.short_name) << r.host;
        (void)cv_btree_destroy(tree, nullptr);
    }
    EXPECT_EQ(cv_uac_set_host_variables(nullptr, "node1"), CV_E_INVALID);
}

TEST_F(UacInit, ProvidersGetEveryMasterGroupSetInListOrder) {
    ASSERT_EQ(cv_uac_init(register_two_providers), 0u);
    cv_uac_conf_set *set = cv_uac_load_conf_file(
        "<CONF version=\"2\"><aaa><realms><realm><groups>"
        "<group><name>ops</name></group><group><name>dev</name></group>"
        "</groups></realm></realms></aaa></CONF>",
        0);
    ASSERT_NE(set, nullptr);
    ASSERT_EQ(cv_uac_select_master_conf_file_set(set), 0u);
    ASSERT_EQ(cv_uac_release_conf_file_set(set), 0u);
    // Releasing the set takes its groups from the providers.
    EXPECT_EQ(calls, (std::vector<std::string>{"first.set_groups(2)", "second.set_groups(2)",
                                               "first.set_groups(0)", "second.set_groups(0)"}));

    calls.clear();
    cv_uac_deinit();
    ASSERT_EQ(cv_uac_init(nullptr), 0u);
    ASSERT_EQ(cv_uac_select_master_conf_file_set(nullptr), 0u);
    EXPECT_EQ(calls, (std::vector<std::string>{"first.release", "second.release"}));
}

std::vector<int> cleaned;
void clean(void *argument) { cleaned.push_back(*static_cast<int *>(argument)); }

TEST_F(UacInit, CleanUpsRunAtTheLastEndLastPushedFirst) {
    static int values[] = {1, 2, 3};
    cleaned.clear();
    ASSERT_EQ(cv_uac_init(nullptr), 0u);
    ASSERT_EQ(cv_uac_init(nullptr), 0u);
    for (int &value : values) ASSERT_EQ(cv_uac_push_cleanup(clean, &value), 0u);
    EXPECT_EQ(cv_uac_push_cleanup(nullptr, nullptr), CV_E_INVALID);
    cv_uac_deinit();
    EXPECT_TRUE(cleaned.empty());
    cv_uac_deinit();
    EXPECT_EQ(cleaned, (std::vector<int>{3, 2, 1}));
}

}  // namespace
