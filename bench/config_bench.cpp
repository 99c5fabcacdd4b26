// Benchmark of the configuration as the framework uses it: the generated
// configuration (10,000 users, 1,000 groups, 100 trunks, logging settings)
// loaded as a configuration set with its master group set, and config
// objects read from it.  Each object benchmark also reports the heap bytes
// one live object holds ("bytes_per_object"), measured over 1,000 objects
// kept alive at once.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdint>
#include <vector>

#include "bench_conf.h"
#include "uac/cv_uac.h"
#include "uac/cv_uac_classes.h"

namespace {

constexpr int kLiveObjects = 1000;

const bench::conf_file &conf_with_classes() {
    static bench::conf_file file(true);
    return file;
}

/* The set shared by the object benchmarks. */
cv_uac_conf_set *shared_set() {
    static cv_uac_conf_set *set = [] {
        cv_uac_conf_set *s =
            cv_uac_load_conf_file(conf_with_classes().path().c_str(), CV_UAC_LOAD_NO_CONF_D);
        if (s) (void)cv_uac_select_master_conf_file_set(s);
        return s;
    }();
    return set;
}

std::size_t heap_in_use() { return mallinfo2().uordblks; }

void BM_LoadConfSet(benchmark::State &state) {
    const std::string &path = conf_with_classes().path();
    for (auto _ : state) {
        cv_uac_conf_set *set = cv_uac_load_conf_file(path.c_str(), CV_UAC_LOAD_NO_CONF_D);
        if (!set || cv_uac_select_master_conf_file_set(set) != CV_OK)
            state.SkipWithError("load failed");
        (void)cv_uac_release_conf_file_set(set);
    }
}
BENCHMARK(BM_LoadConfSet)->Unit(benchmark::kMillisecond);

/* Reads objects with `read(i)` in the timed loop, then measures the bytes
 * that kLiveObjects of them hold at once. */
template <typename Object, typename Read>
void read_objects(benchmark::State &state, Read read) {
    if (!shared_set()) {
        state.SkipWithError("load failed");
        return;
    }
    std::uint32_t i = 0;
    for (auto _ : state) {
        Object *object = read(i++);
        if (!object) state.SkipWithError("read failed");
        cv_uac_config_release(&object->object);
    }
    std::vector<Object *> live;
    const std::size_t before = heap_in_use();
    for (int n = 0; n < kLiveObjects; ++n) live.push_back(read(static_cast<std::uint32_t>(n)));
    const std::size_t after = heap_in_use();
    for (Object *object : live)
        if (object) cv_uac_config_release(&object->object);
    state.counters["bytes_per_object"] =
        static_cast<double>(after > before ? after - before : 0) / kLiveObjects;
}

void BM_ReadTrunk(benchmark::State &state) {
    read_objects<cv_uac_trunk>(state, [](std::uint32_t i) {
        cv_uac_trunk *trunk = nullptr;
        (void)cv_uac_get_trunk(shared_set(), 1 + i % bench::kTrunks, &trunk);
        return trunk;
    });
}
BENCHMARK(BM_ReadTrunk)->Unit(benchmark::kMicrosecond);

void BM_ReadLogging(benchmark::State &state) {
    read_objects<cv_uac_logging>(state, [](std::uint32_t i) {
        cv_uac_logging *logging = nullptr;
        (void)cv_uac_get_logging(shared_set(), i % 2 ? "cvsync" : "other", nullptr, nullptr,
                                 &logging);
        return logging;
    });
}
BENCHMARK(BM_ReadLogging)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char **argv) {
    if (cv_uac_init(nullptr) != CV_OK) return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (shared_set()) (void)cv_uac_release_conf_file_set(shared_set());
    (void)cv_uac_deinit();
    return 0;
}
