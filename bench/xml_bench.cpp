// Benchmark of loading and decorating a large configuration: 10,000 users
// and 1,000 groups in one realm (about 3 MB), the size of a big installation.
//
//   xml_bench --write-conf PATH [--users N] [--middle-user NAME]
//                                 writes the generated configuration, with N
//                                 users instead of 10,000 and NAME as the
//                                 name of the user in the middle
//   xml_bench --load PATH         loads and decorates PATH once and exits
//                                 (for whole-process time and peak memory,
//                                 measured by bench/xml_bench.sh beside
//                                 xmllint on the same file)
//   xml_bench [benchmark flags]   Google Benchmark: load, decorate, both,
//                                 and a user look-up by name
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "bench_conf.h"
#include "uac/parse_xml.h"

namespace {

using bench::bench_conf;
using bench::write_conf;

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
            conf.roots, nullptr, PARSE_XML_TAG_aaa, PARSE_XML_TAG_realms, PARSE_XML_TAG_realm,
            PARSE_XML_TAG_users, PARSE_XML_TAG_user, PARSE_XML_STRING_EQUALS, "user09999",
            PARSE_XML_TAG_name, PARSE_XML_END);
        benchmark::DoNotOptimize(user);
    }
    conf.release();
}
BENCHMARK(BM_FindUserByName)->Unit(benchmark::kMicrosecond);

/* Most users a generated configuration may have (some 270 MB of text). */
constexpr int kMaxUsers = 1000000;

/* The user count in `text`: plain decimal digits, 0 to kMaxUsers. */
bool parse_user_count(std::string_view text, int *count) {
    int value = 0;
    const char *end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || text.front() == '-' || error != std::errc{} || stop != end ||
        value > kMaxUsers)
        return false;
    *count = value;
    return true;
}

/* --write-conf PATH [--users N] [--middle-user NAME], from argv[2] on. */
int write_conf_command(int argc, char **argv) {
    bench::conf_shape shape;
    for (int i = 3; i < argc; i += 2) {
        const std::string_view option = argv[i];
        if (i + 1 >= argc) {
            std::fprintf(stderr, "xml_bench: %s needs a value\n", argv[i]);
            return 2;
        }
        if (option == "--users") {
            if (!parse_user_count(argv[i + 1], &shape.users)) {
                std::fprintf(stderr, "xml_bench: --users takes a count from 0 to %d\n",
                             kMaxUsers);
                return 2;
            }
        } else if (option == "--middle-user" && argv[i + 1][0] != '\0') {
            shape.middle_user = argv[i + 1];
        } else {
            std::fprintf(stderr, "xml_bench: unknown or empty option %s\n", argv[i]);
            return 2;
        }
    }
    if (write_conf(argv[2], shape)) return 0;
    std::fprintf(stderr, "xml_bench: cannot write %s\n", argv[2]);
    return 1;
}

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
    if (argc >= 3 && std::strcmp(argv[1], "--write-conf") == 0) {
        status = write_conf_command(argc, argv);
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
