// The large configuration the benchmarks load: 10,000 users and 1,000
// groups in one realm (about 3 MB), the size of a big installation.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace bench {

constexpr int kUsers = 10000;
constexpr int kGroups = 1000;
constexpr int kTrunks = 100;

inline std::string user_entry(int n) {
    char name[32];
    std::snprintf(name, sizeof name, "user%05d", n);
    std::string entry = "  <user>\n   <name>";
    entry += name;
    entry += "</name>\n";
    if (n % 3 == 0) entry += "   <cvsync_enabled>false</cvsync_enabled>\n";
    if (n % 2 == 0) {
        entry += "   <transfer><in><bandwidth><flow><target_rate><cap>";
        entry += std::to_string(10000 + n);
        entry += "</cap></target_rate></flow></bandwidth></in></transfer>\n";
    }
    entry += "   <file_system><access><paths><path>\n    <absolute>/srv/transfers/";
    entry += name;
    entry += "</absolute>\n    <show_as>/</show_as>\n";
    if (n % 4 == 0) entry += "    <dir_allowed>false</dir_allowed>\n";
    entry += "   </path></paths></access></file_system>\n  </user>\n";
    return entry;
}

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

/* The configuration: the users and groups, and with `with_classes` also
 * 100 trunks and a few logging settings. */
inline std::string generated_conf(bool with_classes = false) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<CONF version=\"2\">\n"
                      "<realms><realm>\n <name>bench</name>\n <users>\n";
    for (int n = 0; n < kUsers; ++n) xml += user_entry(n);
    xml += " </users>\n <groups>\n";
    for (int n = 0; n < kGroups; ++n) xml += group_entry(n);
    xml += " </groups>\n</realm></realms>\n<default>\n"
           " <cvsync_enabled>true</cvsync_enabled>\n</default>\n";
    if (with_classes) {
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

inline bool write_conf(const std::string &path, bool with_classes = false) {
    std::ofstream out(path, std::ios::binary);
    out << generated_conf(with_classes);
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
        if (!write_conf(path_, with_classes)) std::abort();
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
