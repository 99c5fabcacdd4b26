// Benchmark of the configuration as the framework uses it: the generated
// configuration (10,000 users, 1,000 groups, 100 trunks, logging settings)
// loaded as a configuration set with its master group set, and config
// objects read from it: trunks, logging objects and users.  Each object
// benchmark also reports the heap bytes one live object holds
// ("bytes_per_object"), measured over 1,000 objects kept alive at once.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "bench_conf.h"
#include "uac/cv_uac.h"
#include "uac/cv_uac_classes.h"
#include "uac/cv_uac_user.h"

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
        if (!object) {
            state.SkipWithError("read failed");
            return;
        }
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

/* The entries of user `n`: its own element, found by its name among the
 * 10,000, then the configuration's `default` element. */
struct user_entries {
    xmlNode *list[3] = {nullptr, nullptr, nullptr};
};

user_entries entries_of_user(std::uint32_t n) {
    char name[32];
    std::snprintf(name, sizeof name, "user%05u", n % bench::kUsers);
    user_entries entries;
    xmlNode *name_element = parse_xml_get_first_matching_node_args(
        shared_set()->roots, nullptr, PARSE_XML_TAG_aaa, PARSE_XML_TAG_realms,
        PARSE_XML_TAG_realm, PARSE_XML_TAG_users, PARSE_XML_TAG_user, PARSE_XML_STRING_EQUALS,
        name, PARSE_XML_TAG_name, PARSE_XML_END);
    if (!name_element) return entries;
    entries.list[0] = name_element->parent;
    entries.list[1] = parse_xml_get_first_matching_node_args(shared_set()->roots, nullptr,
                                                             PARSE_XML_TAG_default, PARSE_XML_END);
    return entries;
}

/* The entries of the users the user benchmarks read, found once before
 * any timing: user i is user number i * 7919 modulo 10,000, spread over
 * the file. */
const std::vector<user_entries> &bench_users() {
    static const std::vector<user_entries> users = [] {
        std::vector<user_entries> found;
        for (std::uint32_t i = 0; i < kLiveObjects; ++i) found.push_back(entries_of_user(i * 7919));
        return found;
    }();
    return users;
}

/* One user object read from its entries: its 172 options from its own
 * element and the default element. */
void BM_ReadUser(benchmark::State &state) {
    if (!shared_set() || !bench_users().front().list[0]) {
        state.SkipWithError("user not found");
        return;
    }
    read_objects<cv_uac_user>(state, [](std::uint32_t i) -> cv_uac_user * {
        const user_entries &entries = bench_users()[i % kLiveObjects];
        cv_uac_user *user = nullptr;
        (void)cv_uac_load_user(shared_set(), entries.list, nullptr, nullptr, 0, &user);
        return user;
    });
}
BENCHMARK(BM_ReadUser)->Unit(benchmark::kMicrosecond);

/* Finding a user's entry by its name among the 10,000 (a search that
 * compares every user's name), which a login pays before the read. */
void BM_FindUserEntry(benchmark::State &state) {
    if (!shared_set()) {
        state.SkipWithError("load failed");
        return;
    }
    std::uint32_t i = 0;
    for (auto _ : state) {
        const user_entries entries = entries_of_user(i++ * 7919);
        if (!entries.list[0]) state.SkipWithError("user not found");
        benchmark::DoNotOptimize(entries.list[0]);
    }
}
BENCHMARK(BM_FindUserEntry)->Unit(benchmark::kMicrosecond);

/* A login's whole look-up: the entry list of one user as resolution builds
 * it (the user's own entry by its normalised name, the groups named like
 * it, the defaults), then the user object read through it. */
void BM_ResolveUser(benchmark::State &state) {
    if (!shared_set()) {
        state.SkipWithError("load failed");
        return;
    }
    std::uint32_t i = 0;
    for (auto _ : state) {
        char name[32];
        std::snprintf(name, sizeof name, "user%05u", (i++ * 7919) % bench::kUsers);
        cv_uac_user *user = cv_uac_get_user_settings(shared_set(), name);
        if (!user) {
            state.SkipWithError("settings not built");
            return;
        }
        cv_uac_config_release(&user->object);
    }
}
BENCHMARK(BM_ResolveUser)->Unit(benchmark::kMicrosecond);

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
