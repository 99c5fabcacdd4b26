// cvconf as an administrator meets it: the real binary in a staged
// installation tree (bin/ with cvconf, cvshell and stand-in tools, etc/
// with a fixture configuration, var/log/), judged by its exit status, its
// console output and the files it leaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace {

using e2e::contains;
namespace fs = std::filesystem;
using e2e::run_result;

std::string fixture(const std::string &name) {
    return e2e::read_file(fs::path(CVCONF_TEST_DATA) / name);
}

/* An installation with cvconf beside the shell and `conf` as its main
 * configuration file. */
class staged : public e2e::installation {
public:
    explicit staged(const std::string &conf_fixture) {
        fs::copy_file(CVCONF_BINARY, bin() / "cvconf");
        e2e::write_file(main(), fixture(conf_fixture));
    }
    fs::path main() const { return root() / "etc/corvane.conf"; }
    fs::path conf_d() const { return root() / "etc/conf.d"; }
    run_result cvconf(const std::vector<std::string> &args) const {
        return run(args, {{"PATH", "/usr/bin:/bin"}}, "", "cvconf");
    }
};

/* The line of `output` that ends with "\t<key> = ...", or "". */
std::string line_of(const std::string &output, const std::string &key) {
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);)
        if (contains(line, "\t" + key + " = ") || line.rfind(key + " = ", 0) == 0) return line;
    return "";
}

// Each row: who, which option, the line `show --origin` gives for it.  The
// configuration's own lines are those of data/resolution.conf.
struct resolution_case {
    const char *user;
    const char *key;
    const char *origin_line; /* with FILE standing for the main file's path */
};

const resolution_case kResolution[] = {
    // A bare login name finds its domain-qualified entry.
    {"alice", "session_timeout_sec", "FILE:9: user CORP\\alice\tsession_timeout_sec = 11"},
    {"CORP\\alice", "session_timeout_sec", "FILE:9: user CORP\\alice\tsession_timeout_sec = 11"},
    // An own entry, and a group named like the user for what it lacks.
    {"bob", "session_timeout_sec", "FILE:14: user bob\tsession_timeout_sec = 22"},
    {"bob", "connection_timeout_sec", "FILE:24: group bob\tconnection_timeout_sec = 44"},
    // Only a wildcard entry matches.
    {"walter", "session_timeout_sec", "FILE:18: user w*\tsession_timeout_sec = 33"},
    // No entry of one's own: the default entry, then the built-in default.
    {"carol", "connection_timeout_sec", "FILE:31: default\tconnection_timeout_sec = 55"},
    {"carol", "session_timeout_sec", "(default)\tsession_timeout_sec = 60"},
};

TEST(cvconf_show, each_value_names_the_entry_it_comes_from) {
    staged tree("resolution.conf");
    for (const resolution_case &row : kResolution) {
        SCOPED_TRACE(std::string(row.user) + " " + row.key);
        const run_result r = tree.cvconf({"show", "user", row.user, "--origin"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        std::string expected = row.origin_line;
        if (expected.rfind("FILE", 0) == 0) expected.replace(0, 4, tree.main().string());
        EXPECT_EQ(line_of(r.out, row.key), expected);
    }
}

TEST(cvconf_show, a_membership_group_comes_from_the_account_database) {
    if (std::string(CV_NSS_WRAPPER_LIBRARY).empty())
        GTEST_SKIP() << "libnss-wrapper is missing: no fake account database";
    staged tree("membership.conf");
    const std::map<std::string, std::string> env = {
        {"PATH", "/usr/bin:/bin"},
        {"LD_PRELOAD", CV_NSS_WRAPPER_LIBRARY},
        {"NSS_WRAPPER_PASSWD", (fs::path(CVCONF_TEST_DATA) / "passwd").string()},
        {"NSS_WRAPPER_GROUP", (fs::path(CVCONF_TEST_DATA) / "group").string()},
        // A sanitizer build refuses the wrapper's private load of the C
        // library and its own place after the preload; both are harmless.
        {"NSS_WRAPPER_DISABLE_DEEPBIND", "1"},
        {"ASAN_OPTIONS",
         std::string(std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "") +
             ":verify_asan_link_order=0"},
    };
    const std::string member = tree.main().string() + ":9: group staff\tsession_timeout_sec = 77";
    for (const auto &[user, expected] : {std::pair<std::string, std::string>{"erin", member},
                                         {"dave", "(default)\tsession_timeout_sec = 60"}}) {
        const run_result r = tree.run({"show", "user", user, "--origin"}, env, "", "cvconf");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(line_of(r.out, "session_timeout_sec"), expected) << user;
    }
}

TEST(cvconf_show, lists_one_item_a_line_and_options_go_before_the_command_too) {
    staged tree("resolution.conf");
    const run_result r = tree.cvconf({"--conf", tree.main().string(), "show", "user", "alice"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out,
                         "\nadditional_shell_calls =\n    report --daily\n"
                         "    !purge --old \"a b\"\n"))
        << r.out;
    EXPECT_TRUE(contains(r.out, "\nsession_timeout_sec = 11\n"));
    EXPECT_TRUE(contains(r.out, "\n[logging]\n"));
}

TEST(cvconf_show, json_reads_back_with_every_byte_of_every_value) {
    if (std::system("python3 -c '' >/dev/null 2>&1") != 0) GTEST_SKIP() << "python3 is missing";
    staged tree("texts.conf");
    // A name that is not UTF-8 stands for itself in the document.
    const std::string name = "dora\xff\x01";
    const run_result r = tree.cvconf({"show", "user", name, "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const fs::path document = tree.base() / "show.json";
    e2e::write_file(document, r.out);
    e2e::write_file(tree.base() / "read.py", R"(import json, sys
d = json.load(open(sys.argv[1], encoding="utf-8"))
assert d["class"] == "user", d["class"]
assert d["name"].encode("utf-8", "surrogateescape") == b"dora\xff\x01", repr(d["name"])
opts = {o["key"]: o for o in d["options"]}
assert opts["additional_shell_calls"]["value"] is None, opts["additional_shell_calls"]
assert opts["session_timeout_sec"]["value"] == "60"
assert opts["session_timeout_sec"]["origin"] is None
assert isinstance(d["docroots"], list) and isinstance(d["warnings"], list)
print("ok")
)");
    // The entry is dora's only when the name is dora: look her up too.
    const run_result own = tree.cvconf({"show", "user", "dora", "--json"});
    ASSERT_EQ(own.status, 0) << own.err;
    e2e::write_file(tree.base() / "own.json", own.out);
    e2e::write_file(tree.base() / "own.py", R"(import json, sys
d = json.load(open(sys.argv[1], encoding="utf-8"))
o = {o["key"]: o for o in d["options"]}["additional_shell_calls"]
assert o["value"] == ['say "hi" \\ <&> caf\u00e9\ttab'], repr(o["value"])
assert o["origin"]["line"] == 9 and o["origin"]["entry"] == "user dora", o["origin"]
assert o["origin"]["file"].endswith("/etc/corvane.conf"), o["origin"]
print("ok")
)");
    for (const auto &[script, json] : {std::pair{"read.py", "show.json"}, {"own.py", "own.json"}}) {
        const std::string command = "python3 " + (tree.base() / script).string() + " " +
                                    (tree.base() / json).string() + " > " +
                                    (tree.base() / "py.out").string() + " 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << e2e::read_file(tree.base() / "py.out");
    }
}

struct check_case {
    const char *what;
    const char *conf;
    int status;
    const char *expected; /* a line the output (or the error) holds */
};

const check_case kChecks[] = {
    {"a clean configuration", "resolution.conf", 0, "1 files checked, 0 problems"},
    {"a misspelt element", "misspelt.conf", 1,
     "corvane.conf:9: user bob: unknown element <cvsync_enabeld>: did you mean "
     "<cvsync_enabled>?"},
    {"a file that is not XML", "broken.conf", 2,
     "corvane.conf: not a well-formed configuration file"},
};

TEST(cvconf_check, exit_status_says_sound_findings_or_unreadable) {
    for (const check_case &row : kChecks) {
        SCOPED_TRACE(row.what);
        staged tree(row.conf);
        const run_result r = tree.cvconf({"check"});
        EXPECT_EQ(r.status, row.status) << r.out << r.err;
        EXPECT_TRUE(contains(r.out + r.err, row.expected)) << r.out << r.err;
    }
}

TEST(cvconf_check, an_unreadable_conf_d_file_is_named_and_exits_2) {
    staged tree("resolution.conf");
    fs::create_directories(tree.conf_d());
    e2e::write_file(tree.conf_d() / "half.conf", "<CONF version=\"2\"><aaa>");
    const run_result r = tree.cvconf({"check"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.out, (tree.conf_d() / "half.conf").string() + ": cannot be read"))
        << r.out;
}

TEST(cvconf_set, writes_an_override_that_show_then_reports) {
    staged tree("resolution.conf");
    const run_result r = tree.cvconf({"set", "user", "bob", "session_timeout_sec", "120"});
    ASSERT_EQ(r.status, 0) << r.err;
    const fs::path file = tree.conf_d() / "user_session_timeout_sec@bob@transfer.conf";
    ASSERT_TRUE(fs::is_regular_file(file));
    EXPECT_EQ(r.out, file.string() + ":8: user bob\tsession_timeout_sec = 120\n");
    const run_result shown = tree.cvconf({"show", "user", "bob"});
    EXPECT_TRUE(contains(shown.out, "\nsession_timeout_sec = 120\n")) << shown.out;

    const run_result removed = tree.cvconf({"unset", "user", "bob", "session_timeout_sec"});
    ASSERT_EQ(removed.status, 0) << removed.err;
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(removed.out, tree.main().string() + ":14: user bob\tsession_timeout_sec = 22\n");
}

TEST(cvconf_set, a_bad_value_or_key_writes_nothing) {
    staged tree("resolution.conf");
    struct bad {
        std::vector<std::string> args;
        int status;
        const char *message;
    };
    const bad rows[] = {
        {{"set", "user", "bob", "cvsync_enabled", "maybe"}, 1, "cvsync_enabled: maybe refused: "},
        {{"set", "user", "bob", "session_timeout_sec", "-5"}, 1, "session_timeout_sec: -5 refused"},
        {{"set", "user", "bob", "no_such_option", "1"}, 2, "user objects have no option named"},
        {{"set", "trunk", "seven", "trunk_mcast_port", "6000"}, 2, "seven is not a trunk id"},
        {{"set", "user", "walter", "session_timeout_sec", "5"}, 1, "wildcard entry w*"},
        {{"set", "user", "bob", "session_timeout_sec"}, 2, "usage: cvconf set"},
    };
    for (const bad &row : rows) {
        SCOPED_TRACE(row.args[3]);
        const run_result r = tree.cvconf(row.args);
        EXPECT_EQ(r.status, row.status);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(contains(r.err, row.message)) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(fs::exists(tree.conf_d()));
    }
}

TEST(cvconf_set, refuses_a_linked_or_others_writable_conf_d) {
    struct unsafe {
        const char *what;
        void (*arrange)(const staged &tree, const fs::path &elsewhere);
        const char *message;
    };
    const unsafe rows[] = {
        {"conf.d is a link",
         [](const staged &tree, const fs::path &elsewhere) {
             fs::create_directories(elsewhere);
             fs::create_directory_symlink(elsewhere, tree.conf_d());
         },
         "is a link or a file, not a folder"},
        {"conf.d is writable by others",
         [](const staged &tree, const fs::path &) {
             fs::create_directories(tree.conf_d());
             fs::permissions(tree.conf_d(), fs::perms::others_write, fs::perm_options::add);
         },
         "is writable by others than its owner and group"},
    };
    for (const unsafe &row : rows) {
        SCOPED_TRACE(row.what);
        staged tree("resolution.conf");
        const fs::path elsewhere = tree.base() / "elsewhere";
        row.arrange(tree, elsewhere);
        for (const std::vector<std::string> &args :
             {std::vector<std::string>{"set", "user", "bob", "session_timeout_sec", "120"},
              std::vector<std::string>{"unset", "user", "bob", "session_timeout_sec"}}) {
            const run_result r = tree.cvconf(args);
            EXPECT_EQ(r.status, 1) << args[0];
            EXPECT_TRUE(contains(r.err, row.message)) << r.err;
            EXPECT_EQ(r.out, "");
        }
        EXPECT_TRUE(fs::is_empty(tree.conf_d()));
    }
}

TEST(cvconf_args, help_version_and_wrong_arguments) {
    staged tree("resolution.conf");
    const run_result help = tree.cvconf({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(contains(help.out, "Exit status:"));
    const run_result version = tree.cvconf({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("cvconf ", 0), 0u);
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{},
          {"frobnicate"},
          {"show", "--bogus", "server"},
          {"show", "user"},
          {"--conf"},
          {"--conf", (tree.base() / "missing.conf").string(), "check"}}) {
        const run_result r = tree.cvconf(args);
        EXPECT_EQ(r.status, 2) << testing::PrintToString(args);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("cvconf: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
}

// The shell's verdict and cvconf's, for the same account, configuration and
// mode, over command lines the shell accepts and near misses it refuses.
const char *const kCommandLines[] = {
    "cvcp -S. -V1",
    "cvcp4 -S.",
    "cvsync -q -S -s-",
    "cvcmd",
    "cvcmd -V2",
    "cvcp --no-mgmt-port-files -M 5000 -S. -V1",
    "cvcp --no-mgmt-port-files -M 5000 -6 -S. -V1",
    "cvcp --no-mgmt-port-files -M 6379 -S. -V1",   // the database's port
    "cvcp --no-mgmt-port-files -M 31415 -S. -V1",  // free once db_port is 6379
    "cvcp --no-mgmt-port-files -M 1023 -S. -V1",
    "cvcp --no-mgmt-port-files -M +5000 -S. -V1",
    "report --daily",
    "purge --old",
    "report  --daily",
    "cvcp -S. -V1 ",
    " cvcp -S. -V1",
    "cvcp -S.  -V1",
    "cvcp -S. -V1; rm -rf /",
    "sh -c id",
    "",
};

struct mode_case {
    const char *what;
    const char *cvconf_flag; /* null: none */
    bool forced;
    const char *program;
};

const mode_case kModes[] = {
    {"full login shell", nullptr, false, "cvshell"},
    {"cvshell-r", "--restricted", false, "cvshell-r"},
    {"forced command", "--forced", true, "cvshell"},
};

TEST(cvconf_test, agrees_with_the_installed_shell_on_every_command_line) {
    const std::string account = e2e::own_account_name();
    if (account.empty()) GTEST_SKIP() << "this process's account has no name";
    staged tree("agreement.conf");
    std::string conf = fixture("agreement.conf");
    for (std::size_t at; (at = conf.find("@USER@")) != std::string::npos;)
        conf.replace(at, 6, account);
    e2e::write_file(tree.main(), conf);
    tree.install_shell("cvshell-r");
    for (const char *tool : {"report", "purge"}) tree.install_tool(tool);
    std::size_t accepted = 0, refused = 0;
    for (const mode_case &mode : kModes) {
        for (const char *line : kCommandLines) {
            SCOPED_TRACE(std::string(mode.what) + ": \"" + line + "\"");
            std::vector<std::string> args = {"test", account};
            if (mode.cvconf_flag) args.push_back(mode.cvconf_flag);
            args.insert(args.end(), {"--", line});
            const run_result verdict = tree.cvconf(args);
            ASSERT_TRUE(verdict.status == 0 || verdict.status == 1) << verdict.err;
            const run_result shell =
                mode.forced
                    ? tree.run({"-t"}, {{"PATH", "/usr/bin:/bin"}, {"SSH_ORIGINAL_COMMAND", line}})
                    : tree.run({"-c", line}, {{"PATH", "/usr/bin:/bin"}}, "", mode.program);
            // The stand-in tools print their name and arguments: output
            // means the shell ran the command.
            const bool shell_ran = !shell.out.empty();
            EXPECT_EQ(verdict.status == 0, shell_ran)
                << "cvconf: " << verdict.out << "shell: " << shell.status << " " << shell.err;
            EXPECT_EQ(verdict.out.rfind(verdict.status == 0 ? "accepted: " : "refused: ", 0), 0u)
                << verdict.out;
            (verdict.status == 0 ? accepted : refused)++;
        }
    }
    // The table holds both kinds in every mode.
    EXPECT_GT(accepted, 10u);
    EXPECT_GT(refused, 20u);
}

TEST(cvconf_test, names_the_entry_and_the_reason) {
    const std::string account = e2e::own_account_name();
    if (account.empty()) GTEST_SKIP() << "this process's account has no name";
    staged tree("agreement.conf");
    std::string conf = fixture("agreement.conf");
    for (std::size_t at; (at = conf.find("@USER@")) != std::string::npos;)
        conf.replace(at, 6, account);
    e2e::write_file(tree.main(), conf);
    struct row {
        std::vector<std::string> args;
        int status;
        std::string out;
    };
    const row rows[] = {
        {{"test", account, "report", "--daily"},
         0,
         "accepted: report --daily (" + tree.main().string() + ":10)\n"},
        {{"test", account, "--restricted", "purge", "--old"},
         1,
         "refused: \"!\" entry in restricted mode: !purge --old (" + tree.main().string() +
             ":11)\n"},
        {{"test", account, "cvcp4", "-S."}, 0, "accepted: cvcp4 -S. (built-in)\n"},
        {{"test", account + "-nosync", "cvcp", "--no-mgmt-port-files", "-M", "5000", "-S.", "-V1"},
         1,
         "refused: management port form with cvsync disabled"},
        {{"test", account, "cvcp", "--no-mgmt-port-files", "-M", "6379", "-S.", "-V1"},
         1,
         "refused: management port reserved for the database"},
        {{"test", account, "rm", "-rf", "/"}, 1, "refused: no entry matches\n"},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(testing::PrintToString(r.args));
        const run_result verdict = tree.cvconf(r.args);
        EXPECT_EQ(verdict.status, r.status) << verdict.err;
        EXPECT_EQ(verdict.out.rfind(r.out, 0), 0u) << verdict.out;
    }
}

TEST(cvconf_set, a_login_through_the_shell_sees_the_new_value) {
    const std::string account = e2e::own_account_name();
    if (account.empty()) GTEST_SKIP() << "this process's account has no name";
    staged tree("agreement.conf");
    std::string conf = fixture("agreement.conf");
    for (std::size_t at; (at = conf.find("@USER@")) != std::string::npos;)
        conf.replace(at, 6, account);
    e2e::write_file(tree.main(), conf);
    const char *line = "cvcp --no-mgmt-port-files -M 5000 -S. -V1";
    const std::map<std::string, std::string> env = {{"PATH", "/usr/bin:/bin"}};
    EXPECT_FALSE(contains(tree.run({"-c", line}, env).err, "Command not accepted"));

    const run_result set = tree.cvconf({"set", "user", account, "cvsync_enabled", "false"});
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_TRUE(contains(set.out, "\tcvsync_enabled = false\n")) << set.out;
    const run_result refused = tree.run({"-c", line}, env);
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(contains(refused.err, "Command not accepted")) << refused.err;

    ASSERT_EQ(tree.cvconf({"unset", "user", account, "cvsync_enabled"}).status, 0);
    EXPECT_FALSE(contains(tree.run({"-c", line}, env).err, "Command not accepted"));
}

}  // namespace
