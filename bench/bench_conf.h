// The large configuration the benchmarks load: by default 10,000 users and
// 1,000 groups in one realm (about 3 MB), the size of a big installation,
// laid out as a server reads it (CONF/aaa/realms/realm/users and groups) with
// one `default` entry.  The number of users is a parameter, and one user in
// the middle may carry a given name (the account a login benchmark runs as).
// The text depends on nothing but the parameters.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace bench {

constexpr int kUsers = 10000;
constexpr int kGroups = 1000;
constexpr int kTrunks = 100;

/* About the bytes one user entry takes, to size the text once. */
constexpr std::size_t kUserEntryBytes = 280;

/* What to generate. */
struct conf_shape {
    int users = kUsers;
    /* When not empty, the name of user number users / 2 instead of its
     * generated one. */
    std::string middle_user;
    /* Also 100 trunks and a few logging settings. */
    bool with_classes = false;
};

/* `text` with the XML markup characters written as references. */
inline std::string xml_text(std::string_view text) {
    std::string escaped;
    for (const char c : text) {
        switch (c) {
            case '&': escaped += "&amp;"; break;
            case '<': escaped += "&lt;"; break;
            case '>': escaped += "&gt;"; break;
            default: escaped += c;
        }
    }
    return escaped;
}

/* The generated name of user number `n`. */
inline std::string user_name(int n) {
    char name[32];
    std::snprintf(name, sizeof name, "user%05d", n);
    return name;
}

/* User entry number `n` (its options vary with n) named `name`. */
inline std::string user_entry(int n, std::string_view name) {
    const std::string text = xml_text(name);
    std::string entry = "  <user>\n   <name>";
    entry += text;
    entry += "</name>\n";
    if (n % 3 == 0) entry += "   <cvsync_enabled>false</cvsync_enabled>\n";
    if (n % 2 == 0) {
        entry += "   <transfer><in><bandwidth><flow><target_rate><cap>";
        entry += std::to_string(10000 + n);
        entry += "</cap></target_rate></flow></bandwidth></in></transfer>\n";
    }
    entry += "   <file_system><access><paths><path>\n    <absolute>/srv/transfers/";
    entry += text;
    entry += "</absolute>\n    <show_as>/</show_as>\n";
    if (n % 4 == 0) entry += "    <dir_allowed>false</dir_allowed>\n";
    entry += "   </path></paths></access></file_system>\n  </user>\n";
    return entry;
}

inline std::string user_entry(int n) { return user_entry(n, user_name(n)); }

inline std::string group_entry(int n) {
    std::string entry = "  <group>\n   <name>group";
    entry += std::to_string(n);
    entry += "</name>\n   <precedence>";
    entry += std::to_string(n % 50);
    entry += "</precedence>\n   <cvshell_commands><command>cvcp4 -S. -V1</command>"
             "</cvshell_commands>\n   <transfer><out><bandwidth><flow><target_rate>"
             "<cap>50000</cap></target_rate></flow></bandwidth></out></transfer>\n  </group>\n";
    return entry;
}

/* The configuration of `shape`. */
inline std::string generated_conf(const conf_shape &shape) {
    std::string xml;
    xml.reserve(static_cast<std::size_t>(shape.users > 0 ? shape.users : 0) * kUserEntryBytes);
    xml += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<CONF version=\"2\">\n"
           "<aaa><realms><realm>\n <name>bench</name>\n <users>\n";
    for (int n = 0; n < shape.users; ++n)
        xml += n == shape.users / 2 && !shape.middle_user.empty()
                   ? user_entry(n, shape.middle_user)
                   : user_entry(n);
    xml += " </users>\n <groups>\n";
    for (int n = 0; n < kGroups; ++n) xml += group_entry(n);
    xml += " </groups>\n</realm></realms></aaa>\n<default>\n"
           " <cvsync_enabled>true</cvsync_enabled>\n</default>\n";
    if (shape.with_classes) {
        xml += "<trunks>\n";
        for (int id = 1; id <= kTrunks; ++id)
            xml += " <trunk><id>" + std::to_string(id) + "</id><name>trunk" + std::to_string(id) +
                   "</name><on>true</on><capacity><schedule format=\"ranges\">start=8 end=18 "
                   "days=mon-fri capacity=200000;500000</schedule></capacity></trunk>\n";
        xml += "</trunks>\n<logging>\n"
               " <log_setting><classes>*</classes><level>log</level></log_setting>\n"
               " <log_setting><classes>cvsync;cvcp</classes><level>dbg1</level>"
               "<log_size>20</log_size></log_setting>\n</logging>\n";
    }
    xml += "</CONF>\n";
    return xml;
}

inline bool write_conf(const std::string &path, const conf_shape &shape = {}) {
    std::ofstream out(path, std::ios::binary);
    out << generated_conf(shape);
    out.close();
    return static_cast<bool>(out);
}

/* The generated configuration in a private temporary folder. */
class conf_file {
public:
    explicit conf_file(bool with_classes = false) {
        char pattern[] = "/tmp/cv_xml_bench_XXXXXX";
        if (!mkdtemp(pattern)) std::abort();
        dir_ = pattern;
        path_ = dir_ + "/corvane.conf";
        conf_shape shape;
        shape.with_classes = with_classes;
        if (!write_conf(path_, shape)) std::abort();
    }
    ~conf_file() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    const std::string &path() const { return path_; }

private:
    std::string dir_;
    std::string path_;
};

inline const conf_file &bench_conf() {
    static conf_file file;
    return file;
}

}  // namespace bench
