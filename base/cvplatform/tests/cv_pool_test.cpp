// Tests of the fixed-size item pools: sizing, bump and free-list allocation,
// the checks of tracked releases, chunk table growth and the locked variant.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "cv_test_log_capture.h"
#include "cvplatform/cv_containers.h"

CV_TEST_LOG_CAPTURE();

namespace {

using captured = cv_test_log_capture;

/* Owns a pool for one test. */
struct pool_holder {
    cv_memory_pool *pool;
    explicit pool_holder(std::size_t item, std::size_t granularity, std::uint32_t flags = 0) {
        cv_status status = 99;
        pool = cv_memory_pool_create(item, granularity, flags, &status);
        EXPECT_EQ(status, 0u);
    }
    ~pool_holder() { cv_memory_pool_destroy(pool); }
    void *alloc() {
        cv_status status = 99;
        void *item = cv_memory_pool_alloc(pool, &status);
        EXPECT_EQ(status, 0u);
        return item;
    }
    cv_memory_pool_stats stats() const {
        cv_memory_pool_stats s{};
        EXPECT_EQ(cv_memory_pool_get_stats(pool, &s), 0u);
        return s;
    }
};

struct sizing_case {
    std::size_t item, granularity;
    std::uint32_t flags;
    std::uint64_t item_size, rounded_granularity, bitmap_bytes;
};

}  // namespace

TEST(MemoryPool, SizesAreRounded) {
    const sizing_case cases[] = {
        {1, 1, 0, 8, 32, 8},
        {8, 32, 0, 8, 32, 8},
        {12, 33, 0, 16, 64, 8},
        {24, 64, CV_POOL_ZEROED, 24, 64, 8},
        {40, 65, 0, 40, 96, 16},
        {8, 100, CV_POOL_UNTRACKED, 8, 128, 0},
        {8, CV_POOL_MAX_GRANULARITY, 0, 8, 16777216, 2097152},
    };
    for (const sizing_case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.item << " x " << c.granularity);
        pool_holder p(c.item, c.granularity, c.flags);
        ASSERT_NE(p.pool, nullptr);
        const cv_memory_pool_stats s = p.stats();
        EXPECT_EQ(s.item_size, c.item_size);
        EXPECT_EQ(s.granularity, c.rounded_granularity);
        EXPECT_EQ(s.bitmap_bytes, c.bitmap_bytes);
        EXPECT_EQ(s.chunk_size, c.item_size * c.rounded_granularity + c.bitmap_bytes);
        EXPECT_EQ(s.chunk_count, 0u);
        EXPECT_EQ(s.chunk_capacity, 256u);
    }
}

TEST(MemoryPool, TinyItemsAreEightBytesApartAndAligned) {
    pool_holder p(1, 1);
    std::vector<std::uintptr_t> addresses;
    for (int i = 0; i < 32; ++i) addresses.push_back(reinterpret_cast<std::uintptr_t>(p.alloc()));
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        EXPECT_EQ(addresses[i] % 8, 0u);
        if (i > 0) {
            EXPECT_EQ(addresses[i] - addresses[i - 1], 8u);
        }
    }
    EXPECT_EQ(p.stats().chunk_count, 1u);
    p.alloc();  // the 33rd item needs a second chunk
    EXPECT_EQ(p.stats().chunk_count, 2u);
}

TEST(MemoryPool, InvalidFlagsAreRefused) {
    const std::string mark = captured::mark();
    cv_status status = 0;
    EXPECT_EQ(cv_memory_pool_create(8, 32, 0x8, &status), nullptr);
    EXPECT_EQ(status, 22u);
    EXPECT_NE(captured::since(mark).find("ERR Invalid flags 0x8 sent to cv_memory_pool_create"),
              std::string::npos);
}

TEST(MemoryPool, GranularityOutOfRangeIsRefused) {
    for (const std::size_t granularity : {std::size_t{0}, CV_POOL_MAX_GRANULARITY + 1}) {
        const std::string mark = captured::mark();
        cv_status status = 0;
        EXPECT_EQ(cv_memory_pool_create(8, granularity, 0, &status), nullptr);
        EXPECT_EQ(status, 22u);
        EXPECT_NE(captured::since(mark).find("ERR cv_memory_pool_create:  Invalid granularity"),
                  std::string::npos);
    }
    EXPECT_EQ(cv_memory_pool_create(8, 0, 0, nullptr), nullptr);  // status out is optional
}

TEST(MemoryPool, ChunkSizeThatWouldOverflowIsRefused) {
    cv_status status = 0;
    EXPECT_EQ(cv_memory_pool_create(SIZE_MAX / 16, 32, 0, &status), nullptr);
    EXPECT_EQ(status, 22u);
    EXPECT_EQ(cv_memory_pool_create(SIZE_MAX, 1, 0, &status), nullptr);
    EXPECT_EQ(status, 22u);
}

TEST(MemoryPool, NullArguments) {
    cv_status status = 0;
    EXPECT_EQ(cv_memory_pool_alloc(nullptr, &status), nullptr);
    EXPECT_EQ(status, 22u);
    pool_holder p(8, 32);
    int x = 0;
    EXPECT_EQ(cv_memory_pool_free(nullptr, &x), 22u);
    EXPECT_EQ(cv_memory_pool_free(p.pool, nullptr), 22u);
    EXPECT_EQ(cv_memory_pool_destroy(nullptr), 22u);
    cv_memory_pool_stats stats{};
    EXPECT_EQ(cv_memory_pool_get_stats(nullptr, &stats), 22u);
}

TEST(MemoryPool, ReleasedItemsAreReusedLastInFirstOut) {
    pool_holder p(16, 32);
    void *a = p.alloc();
    void *b = p.alloc();
    EXPECT_EQ(cv_memory_pool_free(p.pool, a), 0u);
    EXPECT_EQ(cv_memory_pool_free(p.pool, b), 0u);
    EXPECT_EQ(p.alloc(), b);
    EXPECT_EQ(p.alloc(), a);
    void *c = p.alloc();
    EXPECT_NE(c, a);
    EXPECT_NE(c, b);
}

TEST(MemoryPool, DoubleReleaseIsRefusedAndLeavesFreeListAlone) {
    pool_holder p(16, 32);
    void *a = p.alloc();
    void *b = p.alloc();
    ASSERT_EQ(cv_memory_pool_free(p.pool, a), 0u);
    const std::string mark = captured::mark();
    EXPECT_EQ(cv_memory_pool_free(p.pool, a), 22u);
    EXPECT_NE(captured::since(mark).find("ERR Attempt to free an unallocated pool member"),
              std::string::npos);
    // a comes back once; the next item is a fresh one, not a again.
    EXPECT_EQ(p.alloc(), a);
    void *next = p.alloc();
    EXPECT_NE(next, a);
    EXPECT_NE(next, b);
}

TEST(MemoryPool, NeverAllocatedItemIsUnallocated) {
    pool_holder p(16, 32);
    auto *first = static_cast<char *>(p.alloc());
    const std::string mark = captured::mark();
    EXPECT_EQ(cv_memory_pool_free(p.pool, first + 16), 22u);  // the next item, never handed out
    EXPECT_NE(captured::since(mark).find("Attempt to free an unallocated pool member"),
              std::string::npos);
}

TEST(MemoryPool, ForeignPointersAreRefused) {
    pool_holder p(16, 32);
    pool_holder other(16, 32);
    auto *first = static_cast<char *>(p.alloc());
    void *foreign = other.alloc();
    int on_stack = 0;
    void *invalid[] = {first + 4,    // inside an item
                       first - 8,    // inside the chunk's bitmap
                       foreign,      // an item of another pool
                       &on_stack};   // not pool memory at all
    for (void *pointer : invalid) {
        const std::string mark = captured::mark();
        EXPECT_EQ(cv_memory_pool_free(p.pool, pointer), 22u);
        EXPECT_NE(captured::since(mark).find("ERR Attempt to free an invalid pool member"),
                  std::string::npos);
    }
    // Nothing was pushed: the pool still hands out fresh, distinct items.
    EXPECT_EQ(p.alloc(), first + 16);
    EXPECT_EQ(cv_memory_pool_free(p.pool, first), 0u);
}

TEST(MemoryPool, BitmapCoversEveryItemAcrossWordsAndChunks) {
    pool_holder p(8, 64);
    std::vector<void *> items;
    for (int i = 0; i < 200; ++i) items.push_back(p.alloc());
    EXPECT_EQ(std::set<void *>(items.begin(), items.end()).size(), items.size());
    for (void *item : items) EXPECT_EQ(cv_memory_pool_free(p.pool, item), 0u);
    for (void *item : items) EXPECT_EQ(cv_memory_pool_free(p.pool, item), 22u);
    std::vector<void *> again;
    for (int i = 0; i < 200; ++i) again.push_back(p.alloc());
    std::sort(items.begin(), items.end());
    std::sort(again.begin(), again.end());
    EXPECT_EQ(items, again);
    EXPECT_EQ(p.stats().chunk_count, 4u);
}

TEST(MemoryPool, ChunkTableGrowsBy256) {
    const int saved_verbosity = cv_log_verbosity;
    const int saved_debug = cv_log_debug_enabled;
    cv_log_verbosity = 1;
    cv_log_debug_enabled = 1;
    pool_holder p(8, 32);
    std::vector<void *> items;
    for (int i = 0; i < 256 * 32; ++i) items.push_back(p.alloc());
    EXPECT_EQ(p.stats().chunk_count, 256u);
    EXPECT_EQ(p.stats().chunk_capacity, 256u);
    const std::string mark = captured::mark();
    items.push_back(p.alloc());
    EXPECT_EQ(p.stats().chunk_count, 257u);
    EXPECT_EQ(p.stats().chunk_capacity, 512u);
    EXPECT_NE(captured::since(mark).find("DBG Enlarging memory pool chunk table size.  Pool item "
                                    "leak?  Granularity too small?"),
              std::string::npos);
    cv_log_verbosity = saved_verbosity;
    cv_log_debug_enabled = saved_debug;
    // Every chunk is still found by the release check after the growth.
    for (void *item : items) ASSERT_EQ(cv_memory_pool_free(p.pool, item), 0u);
}

TEST(MemoryPool, ZeroedPoolClearsReusedItems) {
    pool_holder p(64, 32, CV_POOL_ZEROED);
    auto *fresh = static_cast<unsigned char *>(p.alloc());
    EXPECT_TRUE(std::all_of(fresh, fresh + 64, [](unsigned char b) { return b == 0; }));
    std::memset(fresh, 0xAB, 64);
    ASSERT_EQ(cv_memory_pool_free(p.pool, fresh), 0u);
    auto *reused = static_cast<unsigned char *>(p.alloc());
    ASSERT_EQ(reused, fresh);
    EXPECT_TRUE(std::all_of(reused, reused + 64, [](unsigned char b) { return b == 0; }));
}

TEST(MemoryPool, UntrackedPoolTakesReleasesOnTrust) {
    pool_holder p(8, 32, CV_POOL_UNTRACKED);
    EXPECT_EQ(p.stats().bitmap_bytes, 0u);
    void *a = p.alloc();
    void *b = p.alloc();
    EXPECT_EQ(static_cast<char *>(b) - static_cast<char *>(a), 8);
    EXPECT_EQ(cv_memory_pool_free(p.pool, a), 0u);
    EXPECT_EQ(p.alloc(), a);
}

TEST(MemoryPool, LockedPoolIsSharedSafelyBetweenThreads) {
    pool_holder p(16, 32, CV_POOL_LOCKED);
    constexpr int kThreads = 4;
    constexpr int kRounds = 2000;
    std::vector<std::vector<void *>> kept(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&p, &kept, t] {
            for (int i = 0; i < kRounds; ++i) {
                void *item = cv_memory_pool_alloc(p.pool, nullptr);
                if (i % 2 == 0)
                    kept[t].push_back(item);
                else
                    EXPECT_EQ(cv_memory_pool_free(p.pool, item), 0u);
            }
        });
    }
    for (std::thread &thread : threads) thread.join();
    std::set<void *> distinct;
    for (const auto &items : kept)
        for (void *item : items) {
            ASSERT_NE(item, nullptr);
            distinct.insert(item);
        }
    EXPECT_EQ(distinct.size(), static_cast<std::size_t>(kThreads * kRounds / 2));
}

TEST(MemoryPool, DestroyReturnsEveryAllocation) {
    const std::int64_t before = cv_memory_pool_live_allocations();
    {
        pool_holder tracked(8, 32);
        pool_holder untracked(8, 32, CV_POOL_UNTRACKED);
        for (int i = 0; i < 100; ++i) {
            tracked.alloc();
            untracked.alloc();
        }
        EXPECT_GT(cv_memory_pool_live_allocations(), before);
    }
    EXPECT_EQ(cv_memory_pool_live_allocations(), before);
}
