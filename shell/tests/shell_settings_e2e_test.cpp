// End-to-end tests of the user's settings: the real cvshell in a staged
// installation tree whose etc/corvane.conf and etc/conf.d hold real
// configuration, checked by what the client and the administrator see
// (exit status, console text, what the tool was handed, the log).  Each test
// shows one way the configuration reaches the decision: the user's own,
// a group's, a default or a wildcard entry, conditional items, the switches
// and ports that gate the built-in forms, an override in conf.d, and
// configurations the shell must refuse to serve from.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace {

using e2e::contains;
using e2e::run_result;
namespace fs = std::filesystem;

const std::string &owner() {
    static const std::string name = e2e::own_account_name();
    return name;
}

std::map<std::string, std::string> base_env() {
    return {{"PATH", "/usr/bin:/bin"}, {"USER", owner()}, {"HOME", "/tmp"}};
}

/* This machine's name up to its first dot: the framework's short_hostname. */
std::string short_hostname() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return "";
    const std::string host = name;
    return host.substr(0, host.find('.'));
}

/* A user entry: `name` and the XML of its options. */
std::string user(const std::string &name, const std::string &options) {
    return "<user><name>" + name + "</name>" + options + "</user>";
}

/* A cvshell_commands element of `commands` (each a whole <command> element
 * or a bare text). */
std::string commands(const std::vector<std::string> &items) {
    std::string xml = "<cvshell_commands>";
    for (const std::string &item : items)
        xml += item.starts_with("<") ? item : "<command>" + item + "</command>";
    return xml + "</cvshell_commands>";
}

/* A configuration of version 2: `top` at the root, `users` and `groups` in
 * one realm. */
std::string conf(const std::string &users, const std::string &groups = "",
                 const std::string &top = "") {
    return "<CONF version=\"2\">\n" + top + "<aaa><realms><realm><name>corp</name><users>" +
           users + "</users><groups>" + groups + "</groups></realm></realms></aaa>\n</CONF>\n";
}

class Settings : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char *tool : {"mytool", "grouptool", "deftool", "newtool", "oldtool"})
            inst_.install_tool(tool);
    }
    void write_conf(const std::string &text) const {
        e2e::write_file(inst_.root() / "etc/corvane.conf", text);
    }
    void write_conf_d(const std::string &name, const std::string &text) const {
        fs::create_directories(inst_.root() / "etc/conf.d");
        e2e::write_file(inst_.root() / "etc/conf.d" / name, text);
    }
    run_result run(const std::string &command) const {
        return inst_.run({"-c", command}, base_env());
    }
    /* Fails the test unless `command` ran bin/<tool> with `args`. */
    void expect_runs(const std::string &command, const std::string &tool,
                     const std::vector<std::string> &args = {}) const {
        const run_result r = run(command);
        EXPECT_EQ(r.status, 0) << command << "\n" << r.err << inst_.log();
        std::string handed = "argc=" + std::to_string(args.size() + 1) + "\nargv[0]=" +
                             (inst_.bin() / tool).string() + "\n";
        for (std::size_t i = 0; i < args.size(); ++i)
            handed += "argv[" + std::to_string(i + 1) + "]=" + args[i] + "\n";
        EXPECT_TRUE(contains(r.out, handed)) << command << "\n" << r.out;
    }
    /* Fails the test unless `command` is refused as the client sees it. */
    void expect_refused(const std::string &command) const {
        const run_result r = run(command);
        EXPECT_EQ(r.status, 1) << command;
        EXPECT_EQ(r.err, "Command not accepted: " + command + "\n");
        EXPECT_EQ(r.out, "") << command;
    }
    /* Fails the test unless the shell refuses to serve any command. */
    void expect_configuration_error() const {
        const run_result r = run("cvcmd");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "Server configuration error\n");
        EXPECT_EQ(r.out, "") << "cvcmd must not run";
        EXPECT_FALSE(contains(inst_.log(), "Executing: ")) << inst_.log();
    }
    e2e::installation inst_;
};

TEST_F(Settings, TheUsersOwnEntryGrantsItsCommands) {
    write_conf(conf(user(owner(), commands({"  mytool --report  ", "!mytool --purge"}))));
    expect_runs("mytool --report", "mytool", {"--report"});
    expect_runs("mytool --purge", "mytool", {"--purge"});
    expect_refused("mytool");
    expect_refused("mytool --report ");
    expect_runs("cvcp -S. -V1", "cvcp", {"-S.", "-V1"});
    EXPECT_TRUE(contains(inst_.log(), "LOG Configuration: using v2 configuration file \"" +
                                          (inst_.root() / "etc/corvane.conf").string() +
                                          "\", user " + owner() + "\r\n"))
        << inst_.log();

    // Under the restricted name the "!" item is out, the plain one stays.
    inst_.install_shell("cvshell-r");
    const run_result r = inst_.run({"-c", "mytool --purge"}, base_env(), "", "cvshell-r");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Command not accepted: mytool --purge\n");
}

TEST_F(Settings, AGroupNamedLikeTheUserAddsItsCommands) {
    write_conf(conf(user(owner(), ""),
                    "<group><name>" + owner() + "</name>" + commands({"grouptool"}) + "</group>"));
    expect_runs("grouptool", "grouptool");
}

TEST_F(Settings, ADefaultEntryAppliesToAUserWithoutOne) {
    write_conf(conf(user("someone-else", commands({"mytool"})), "",
                    "<default>" + commands({"deftool -v"}) + "</default>"));
    expect_runs("deftool -v", "deftool", {"-v"});
    expect_refused("mytool");
}

TEST_F(Settings, AWildcardEntryAppliesWhenNoneNamesTheUser) {
    write_conf(conf(user("someone-else", commands({"deftool"})) + user("*", commands({"mytool"}))));
    expect_runs("mytool", "mytool");
    expect_refused("deftool");
}

TEST_F(Settings, ADomainQualifiedEntryIsFoundForTheBareLoginName) {
    write_conf(conf(user("CORP\\" + owner(), commands({"mytool --corp"}))));
    expect_runs("mytool --corp", "mytool", {"--corp"});
}

TEST_F(Settings, ItemsWhoseRulesFailAreLeftOut) {
    // The shell has the framework's variables only: a rule on one of them
    // needs a function of its name, and without one it fails, even where
    // it names this very host.
    const std::string host = short_hostname();
    ASSERT_FALSE(host.empty());
    write_conf(conf(user(owner(), commands({"<command fitness=\"2 > 1\">mytool kept</command>",
                                            "<command fitness=\"0\">mytool never</command>",
                                            "<command short_hostname=\"" + host +
                                                "\">mytool here</command>",
                                            "mytool plain"}))));
    expect_runs("mytool kept", "mytool", {"kept"});
    expect_runs("mytool plain", "mytool", {"plain"});
    expect_refused("mytool never");
    expect_refused("mytool here");
}

TEST_F(Settings, SyncDisabledRefusesTheManagementPortForm) {
    write_conf(conf(user(owner(), "<cvsync_enabled>false</cvsync_enabled>")));
    expect_refused("cvcp --no-mgmt-port-files -M 33001 -S. -V1");
    expect_runs("cvcp -S. -V1", "cvcp", {"-S.", "-V1"});
}

TEST_F(Settings, TheFirstDocrootDecidesOnDirectoryCommands) {
    write_conf(conf(user(owner(),
                         "<file_system><access><paths>"
                         "<path><absolute>/srv/a</absolute><show_as>/a</show_as>"
                         "<dir_allowed>false</dir_allowed></path>"
                         "<path><absolute>/srv</absolute><show_as>/</show_as>"
                         "<dir_allowed>true</dir_allowed></path>"
                         "</paths></access></file_system>")));
    expect_refused("cvcmd");
    expect_refused("cvcmd -V2");
    expect_runs("cvcp4 -S.", "cvcp4", {"-S."});
}

TEST_F(Settings, TheServersDatabasePortIsTheReservedOne) {
    write_conf(conf("", "", "<server><db_port>6379</db_port></server>"));
    expect_runs("cvcp --no-mgmt-port-files -M 31415 -S. -V1", "cvcp",
                {"--no-mgmt-port-files", "-M", "31415", "-S.", "-V1"});
    expect_refused("cvcp --no-mgmt-port-files -M 6379 -6 -S. -V1");
}

TEST_F(Settings, ManagementPortFormIsReadStrictly) {
    expect_runs("cvcp --no-mgmt-port-files -M 33001 -6 -S. -V1", "cvcp",
                {"--no-mgmt-port-files", "-M", "33001", "-6", "-S.", "-V1"});
    for (const std::string command :
         {"cvcp --no-mgmt-port-files -M2000 -S. -V1", "cvcp --no-mgmt-port-files -M\t33001 -S. -V1",
          "cvcp --no-mgmt-port-files  -M 33001 -S. -V1",
          "cvcp --no-mgmt-port-files -M 33001 -S. -V1 x",
          "cvcp --no-mgmt-port-files -M 31415 -S. -V1",
          "cvcp --no-mgmt-port-files -M 1023 -S. -V1",
          "cvcp --no-mgmt-port-files -M 65536 -S. -V1"})
        expect_refused(command);
}

TEST_F(Settings, AConfigurationOfAnotherVersionServesNothing) {
    write_conf("<CONF version=\"3\">" + user(owner(), "") + "</CONF>\n");
    expect_configuration_error();
}

TEST_F(Settings, AMalformedConfigurationServesNothing) {
    write_conf("<CONF version=\"2\"><aaa><realms>\n");
    expect_configuration_error();
    write_conf("garbage\n");
    expect_configuration_error();
}

TEST_F(Settings, AConfDFolderAloneIsTheConfiguration) {
    fs::remove(inst_.root() / "etc/corvane.conf");
    write_conf_d("users.conf", conf(user(owner(), commands({"mytool"}))));
    expect_runs("mytool", "mytool");
    expect_runs("cvcp -S. -V1", "cvcp", {"-S.", "-V1"});
}

TEST_F(Settings, AnOverrideInConfDReplacesTheUsersCommands) {
    write_conf(conf(user(owner(), commands({"oldtool"}))));
    expect_runs("oldtool", "oldtool");
    write_conf_d("zz-override.conf", conf(user(owner(), commands({"newtool"}))));
    expect_runs("newtool", "newtool");
    expect_refused("oldtool");
}

/* Debian's fake account database: NSS look-ups answered from test files. */
constexpr const char *nss_wrapper_library = "/usr/lib/x86_64-linux-gnu/libnss_wrapper.so";

TEST_F(Settings, AGroupTheAccountIsAMemberOfAddsItsCommands) {
    if (!fs::exists(nss_wrapper_library))
        GTEST_SKIP() << nss_wrapper_library << " is missing (Debian package libnss-wrapper)";
    // The process owner is "alice" for this run, a member of transfer-staff.
    const std::string uid = std::to_string(geteuid()), gid = std::to_string(getegid());
    const fs::path passwd = inst_.base() / "passwd", group = inst_.base() / "group";
    e2e::write_file(passwd, "alice:x:" + uid + ":" + gid + ":Alice:/tmp:/bin/sh\n");
    e2e::write_file(group, "alice:x:" + gid + ":\ntransfer-staff:x:4242:alice\n"
                           "other-staff:x:4243:bob\n");
    write_conf(conf("",
                    "<group><name>transfer-staff</name>" + commands({"grouptool"}) + "</group>"
                    "<group><name>other-staff</name>" + commands({"mytool"}) + "</group>"));
    auto env = base_env();
    env["USER"] = "alice";
    env["LD_PRELOAD"] = nss_wrapper_library;
    env["NSS_WRAPPER_PASSWD"] = passwd.string();
    env["NSS_WRAPPER_GROUP"] = group.string();
    // The sanitized build: its runtime would have to come first, and it
    // cannot run a C library loaded with deep binding.
    env["ASAN_OPTIONS"] = "verify_asan_link_order=0";
    env["NSS_WRAPPER_DISABLE_DEEPBIND"] = "1";

    const run_result ok = inst_.run({"-c", "grouptool"}, env);
    EXPECT_EQ(ok.status, 0) << ok.err << inst_.log();
    EXPECT_TRUE(contains(ok.out, "argv[0]=" + (inst_.bin() / "grouptool").string() + "\n"))
        << ok.out;
    EXPECT_TRUE(contains(inst_.log(), "LOG Login user=alice client=unknown\r\n")) << inst_.log();

    const run_result other = inst_.run({"-c", "mytool"}, env);
    EXPECT_EQ(other.status, 1);
    EXPECT_EQ(other.err, "Command not accepted: mytool\n");
}

}  // namespace
