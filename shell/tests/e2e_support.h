// Support for the shell's end-to-end tests: a staged installation tree in a
// temporary folder (bin/ with the real cvshell and stand-in transfer tools,
// etc/corvane.conf, var/log/, product-info.mf) and a way to run programs
// with exactly the arguments, environment and standard input a test gives.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace e2e {

namespace fs = std::filesystem;

struct run_result {
    int status = -1;  /* exit status, or 1000 + the signal that ended it */
    std::string out;
    std::string err;
};

inline std::string read_file(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void write_file(const fs::path &p, const std::string &text) {
    std::ofstream out(p, std::ios::binary);
    out << text;
}

inline bool contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

/* A fresh temporary folder, removed with everything in it. */
class temp_folder {
public:
    temp_folder() {
        char tmpl[] = "/tmp/cvshell-e2e-XXXXXX";
        path_ = mkdtemp(tmpl);
    }
    ~temp_folder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    temp_folder(const temp_folder &) = delete;
    temp_folder &operator=(const temp_folder &) = delete;
    const fs::path &path() const { return path_; }

private:
    fs::path path_;
};

/* Who a program runs as: the test's own account, or (as root) another uid. */
struct run_identity {
    bool switch_user = false;
    uid_t uid = 0;
    gid_t gid = 0;
};

/* Runs `argv[0]` (a path) with `argv` and exactly the environment block
 * `env_entries` (entries as given: a name may occur twice, an entry may lack
 * "="), as `who`, standard input read from `input_file`, standard output and
 * error captured through files in `scratch`. */
inline run_result run_program_entries(const std::vector<std::string> &argv_text,
                                      const std::vector<std::string> &env_entries,
                                      const fs::path &input_file, const fs::path &scratch,
                                      const run_identity &who = {}) {
    const fs::path out = scratch / "stdout", err = scratch / "stderr";
    std::vector<std::string> env_text = env_entries;

    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char *> argv, envp;
        for (const auto &a : argv_text) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        for (auto &e : env_text) envp.push_back(e.data());
        envp.push_back(nullptr);
        dup2(open(input_file.c_str(), O_RDONLY), 0);
        dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        if (who.switch_user &&
            (setgroups(0, nullptr) != 0 || setgid(who.gid) != 0 || setuid(who.uid) != 0))
            _exit(126);
        execve(argv_text[0].c_str(), argv.data(), envp.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    run_result r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    r.out = read_file(out);
    r.err = read_file(err);
    return r;
}

/* Runs `argv[0]` (a path) with `argv` and exactly `env`, standard input read
 * from `input_file`, standard output and error captured through files in
 * `scratch`. */
inline run_result run_program(const std::vector<std::string> &argv_text,
                              const std::map<std::string, std::string> &env,
                              const fs::path &input_file, const fs::path &scratch) {
    std::vector<std::string> env_text;
    for (const auto &[k, v] : env) env_text.push_back(k + "=" + v);
    return run_program_entries(argv_text, env_text, input_file, scratch);
}

/* The name of the account this test runs as ("" when it has none). */
inline std::string own_account_name() {
    const passwd *entry = getpwuid(geteuid());
    return entry ? entry->pw_name : "";
}

/* "NAME=value" entries of a variable map, in the map's order. */
inline std::vector<std::string> env_entries(const std::map<std::string, std::string> &env) {
    std::vector<std::string> entries;
    for (const auto &[k, v] : env) entries.push_back(k + "=" + v);
    return entries;
}

/* A staged installation tree. */
class installation {
public:
    explicit installation(const std::string &folder_name = "corvane")
        : root_(base_.path() / folder_name) {
        fs::create_directories(root_ / "bin");
        fs::create_directories(root_ / "etc");
        fs::create_directories(root_ / "var/log");
        write_file(root_ / "product-info.mf", "Product: test installation\n");
        write_file(root_ / "etc/corvane.conf", "<CONF version=\"2\"/>\n");
        install_shell("cvshell");
        for (const char *tool : {"cvcp", "cvcp4", "cvsync", "cvcmd"}) install_tool(tool);
    }

    /* Copies, not links: the shell finds its folder from its own file. */
    void install_shell(const std::string &name) const {
        fs::copy_file(CVSHELL_BINARY, bin() / name, fs::copy_options::overwrite_existing);
    }
    void install_tool(const std::string &name) const {
        fs::copy_file(CV_STANDIN_TOOL, bin() / name, fs::copy_options::overwrite_existing);
    }

    const fs::path &base() const { return base_.path(); }
    fs::path root() const { return root_; }
    fs::path bin() const { return root_ / "bin"; }
    fs::path shell() const { return bin() / "cvshell"; }
    std::string log() const { return read_file(root_ / "var/log/corvane-cvshell.log"); }

    /* Runs bin/<program> with `args` (argv[1..]), exactly `env` and `input`. */
    run_result run(const std::vector<std::string> &args, const std::map<std::string, std::string> &env,
                   const std::string &input = "", const std::string &program = "cvshell") const {
        const fs::path in = base() / "stdin";
        write_file(in, input);
        std::vector<std::string> argv{(bin() / program).string()};
        argv.insert(argv.end(), args.begin(), args.end());
        return run_program(argv, env, in, base());
    }

    /* Runs bin/<program> with `args`, exactly the environment block
     * `entries`, as `who`. */
    run_result run_entries(const std::vector<std::string> &args,
                           const std::vector<std::string> &entries, const run_identity &who = {},
                           const std::string &input = "",
                           const std::string &program = "cvshell") const {
        const fs::path in = base() / "stdin";
        write_file(in, input);
        std::vector<std::string> argv{(bin() / program).string()};
        argv.insert(argv.end(), args.begin(), args.end());
        return run_program_entries(argv, entries, in, base(), who);
    }

    /* The size of the log file in use, 0 when there is none yet. */
    std::uintmax_t log_size() const {
        std::error_code ec;
        const std::uintmax_t size = fs::file_size(root_ / "var/log/corvane-cvshell.log", ec);
        return ec ? 0 : size;
    }

    /* Lets account `uid` reach the tree and write its log folder. */
    void open_to(uid_t uid, gid_t gid) const {
        fs::permissions(base(), fs::perms::owner_all | fs::perms::group_exec |
                                    fs::perms::others_exec);
        if (chown((root_ / "var/log").c_str(), uid, gid) != 0) std::abort();
    }

private:
    temp_folder base_;
    fs::path root_;
};

}  // namespace e2e
