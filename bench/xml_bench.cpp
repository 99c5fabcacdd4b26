// Benchmark of loading and decorating a large configuration: 10,000 users
// and 1,000 groups in one realm (about 3 MB), the size of a big installation.
//
//   xml_bench --write-conf PATH   writes the generated configuration
//   xml_bench --load PATH         loads and decorates PATH once and exits
//                                 (for whole-process time and peak memory,
//                                 measured by bench/xml_bench.sh beside
//                                 xmllint on the same file)
//   xml_bench [benchmark flags]   Google Benchmark: load, decorate, both,
//                                 and a user look-up by name
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "uac/parse_xml.h"

namespace {

constexpr int kUsers = 10000;
constexpr int kGroups = 1000;

std::string user_entry(int n) {
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

std::string group_entry(int n) {
    std::string entry = "  <group>\n   <name>group";
    entry += std::to_string(n);
    entry += "</name>\n   <precedence>";
    entry += std::to_string(n % 50);
    entry += "</precedence>\n   <cvshell_commands><command>cvcp4 -S. -V1</command>"
             "</cvshell_commands>\n   <transfer><out><bandwidth><flow><target_rate>"
             "<cap>50000</cap></target_rate></flow></bandwidth></out></transfer>\n  </group>\n";
    return entry;
}

std::string generated_conf() {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<CONF version=\"2\">\n"
                      "<realms><realm>\n <name>bench</name>\n <users>\n";
    for (int n = 0; n < kUsers; ++n) xml += user_entry(n);
    xml += " </users>\n <groups>\n";
    for (int n = 0; n < kGroups; ++n) xml += group_entry(n);
    xml += " </groups>\n</realm></realms>\n<default>\n"
           " <cvsync_enabled>true</cvsync_enabled>\n</default>\n</CONF>\n";
    return xml;
}

bool write_conf(const std::string &path) {
    std::ofstream out(path, std::ios::binary);
    out << generated_conf();
    return static_cast<bool>(out);
}

/* The generated configuration in a private temporary folder. */
class conf_file {
public:
    conf_file() {
        char pattern[] = "/tmp/cv_xml_bench_XXXXXX";
        if (!mkdtemp(pattern)) std::abort();
        dir_ = pattern;
        path_ = dir_ + "/corvane.conf";
        if (!write_conf(path_)) std::abort();
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

const conf_file &bench_conf() {
    static conf_file file;
    return file;
}

/* Loads and decorates `path`; the caller releases with release(). */
struct loaded_conf {
    xmlDoc *document = nullptr;
    cv_uac_heap *heap = nullptr;
    xmlNode *roots[2] = {nullptr, nullptr};

    bool load(const std::string &path) {
        std::int32_t version = 2;
        return parse_xml_load_document(path.c_str(), &version, &document) == CV_OK &&
               (roots[0] = parse_xml_get_root(document)) != nullptr;
    }
    bool decorate() {
        return cv_uac_heap_create(&heap, nullptr, nullptr) == CV_OK &&
               parse_xml_decorate_tree(roots[0], nullptr, heap) == CV_OK;
    }
    void release() {
        if (roots[0]) (void)parse_xml_undecorate_tree(roots[0]);
        (void)cv_uac_heap_release(&heap);
        parse_xml_free_document(document);
        *this = loaded_conf{};
    }
};

void BM_Load(benchmark::State &state) {
    const std::string &path = bench_conf().path();
    for (auto _ : state) {
        loaded_conf conf;
        if (!conf.load(path)) state.SkipWithError("load failed");
        conf.release();
    }
}
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond);

void BM_LoadAndDecorate(benchmark::State &state) {
    const std::string &path = bench_conf().path();
    for (auto _ : state) {
        loaded_conf conf;
        if (!conf.load(path) || !conf.decorate()) state.SkipWithError("load failed");
        conf.release();
    }
}
BENCHMARK(BM_LoadAndDecorate)->Unit(benchmark::kMillisecond);

void BM_Decorate(benchmark::State &state) {
    loaded_conf conf;
    if (!conf.load(bench_conf().path())) state.SkipWithError("load failed");
    for (auto _ : state) {
        if (!conf.decorate()) state.SkipWithError("decorate failed");
        (void)parse_xml_undecorate_tree(conf.roots[0]);
        (void)cv_uac_heap_release(&conf.heap);
    }
    conf.release();
}
BENCHMARK(BM_Decorate)->Unit(benchmark::kMillisecond);

void BM_FindUserByName(benchmark::State &state) {
    loaded_conf conf;
    if (!conf.load(bench_conf().path()) || !conf.decorate()) state.SkipWithError("load failed");
    for (auto _ : state) {
        xmlNode *user = parse_xml_get_first_matching_node_args(
            conf.roots, nullptr, PARSE_XML_TAG_realms, PARSE_XML_TAG_realm, PARSE_XML_TAG_users,
            PARSE_XML_TAG_user, PARSE_XML_STRING_EQUALS, "user09999", PARSE_XML_TAG_name,
            PARSE_XML_END);
        benchmark::DoNotOptimize(user);
    }
    conf.release();
}
BENCHMARK(BM_FindUserByName)->Unit(benchmark::kMicrosecond);

/* One load as a program does it: the records die with the heap after the
 * document, so nothing needs undecorating. */
int load_once(const char *path) {
    loaded_conf conf;
    const bool loaded = conf.load(path) && conf.decorate();
    if (!loaded) std::fprintf(stderr, "xml_bench: cannot load %s\n", path);
    parse_xml_free_document(conf.document);
    (void)cv_uac_heap_release(&conf.heap);
    return loaded ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
    if (parse_xml_initialize() != CV_OK) return 1;
    int status = 0;
    if (argc == 3 && std::strcmp(argv[1], "--write-conf") == 0) {
        status = write_conf(argv[2]) ? 0 : 1;
    } else if (argc == 3 && std::strcmp(argv[1], "--load") == 0) {
        status = load_once(argv[2]);
    } else {
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    parse_xml_deinitialize();
    return status;
}
