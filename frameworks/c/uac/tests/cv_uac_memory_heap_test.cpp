// Tests of the configuration heap: alignment, chunk filling, dedicated
// blocks, recycling of chunks and controllers, the shared empty string,
// failure reports, and the labelled allocation wrappers' messages.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "cv_test_log_capture.h"
#include "uac/cv_uac_memory_heap.h"

CV_TEST_LOG_CAPTURE();

/* Allocation failures are provoked with sizes no allocator can give; under
 * AddressSanitizer such a request must return null instead of aborting. */
extern "C" const char *__asan_default_options() { return "allocator_may_return_null=1"; }

namespace {

using captured = cv_test_log_capture;

/* A size that no allocator can satisfy. */
constexpr std::size_t kImpossibleSize = std::size_t{1} << 62;

/* Owns one heap for a test. */
struct heap_holder {
    cv_uac_heap *heap = nullptr;
    explicit heap_holder(void *user_data = nullptr, cv_uac_heap_failure_callback failure = nullptr) {
        EXPECT_EQ(cv_uac_heap_create(&heap, user_data, failure), 0u);
    }
    ~heap_holder() { cv_uac_heap_release(&heap); }
};

std::ptrdiff_t distance(const void *from, const void *to) {
    return static_cast<const char *>(to) - static_cast<const char *>(from);
}

cv_uac_heap_stats stats() {
    cv_uac_heap_stats s{};
    EXPECT_EQ(cv_uac_heap_get_stats(&s), 0u);
    return s;
}

struct failure_record {
    int calls = 0;
    std::size_t bytes = 0;
    void *user_data = nullptr;
};
failure_record g_failure;

void record_failure(std::size_t bytes, void *user_data) {
    ++g_failure.calls;
    g_failure.bytes = bytes;
    g_failure.user_data = user_data;
}

TEST(UacHeap, AlignmentZeroMeansEightAndTenBytesAfterThreeStartAtOffsetEight) {
    heap_holder h;
    void *first = cv_uac_heap_alloc(h.heap, 3, 0);
    void *second = cv_uac_heap_alloc(h.heap, 10, 8);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(distance(first, second), 8);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(second) % 8, 0u);

    void *third = cv_uac_heap_alloc(h.heap, 1, 0);
    EXPECT_EQ(distance(first, third), 24); /* 18 rounded up to 8 */
}

TEST(UacHeap, AlignmentOnePacksAndSixteenRoundsUp) {
    heap_holder h;
    char *a = static_cast<char *>(cv_uac_heap_alloc(h.heap, 5, 1));
    char *b = static_cast<char *>(cv_uac_heap_alloc(h.heap, 5, 1));
    char *c = static_cast<char *>(cv_uac_heap_alloc(h.heap, 5, 16));
    EXPECT_EQ(b - a, 5);
    EXPECT_EQ(c - a, 16);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(c) % 16, 0u);
}

TEST(UacHeap, AllocationThatDoesNotFitStartsANewChunkAndTheRestIsNotReused) {
    heap_holder h;
    char *big = static_cast<char *>(cv_uac_heap_alloc(h.heap, 60000, 1));
    char *next = static_cast<char *>(cv_uac_heap_alloc(h.heap, 10000, 1));
    char *small = static_cast<char *>(cv_uac_heap_alloc(h.heap, 100, 1));
    ASSERT_TRUE(big && next && small);
    EXPECT_FALSE(next >= big && next < big + CV_UAC_HEAP_CHUNK_SIZE);
    /* The small one follows in the new chunk, not in the old chunk's rest. */
    EXPECT_EQ(small - next, 10000);
    std::memset(big, 1, 60000);
    std::memset(next, 2, 10000);
}

TEST(UacHeap, ExactlyFullChunkFits) {
    heap_holder h;
    char *first = static_cast<char *>(cv_uac_heap_alloc(h.heap, 1000, 1));
    char *rest = static_cast<char *>(cv_uac_heap_alloc(h.heap, CV_UAC_HEAP_CHUNK_SIZE - 1000, 1));
    EXPECT_EQ(rest - first, 1000);
    char *beyond = static_cast<char *>(cv_uac_heap_alloc(h.heap, 1, 1));
    EXPECT_NE(beyond, rest + (CV_UAC_HEAP_CHUNK_SIZE - 1000));
}

TEST(UacHeap, LargeAllocationLeavesTheCurrentChunkCurrent) {
    heap_holder h;
    char *before = static_cast<char *>(cv_uac_heap_alloc(h.heap, 16, 8));
    char *block = static_cast<char *>(cv_uac_heap_alloc(h.heap, CV_UAC_HEAP_CHUNK_SIZE * 3, 8));
    char *after = static_cast<char *>(cv_uac_heap_alloc(h.heap, 16, 8));
    ASSERT_TRUE(before && block && after);
    EXPECT_EQ(after - before, 16);
    std::memset(block, 0x5a, CV_UAC_HEAP_CHUNK_SIZE * 3);
}

TEST(UacHeap, BlockOfExactlyAChunkIsRecycledAndLargerOnesAreNot) {
    const cv_uac_heap_stats start = stats();
    {
        heap_holder h;
        ASSERT_NE(cv_uac_heap_alloc(h.heap, 8, 8), nullptr);  /* takes one chunk */
        ASSERT_NE(cv_uac_heap_alloc(h.heap, CV_UAC_HEAP_CHUNK_SIZE, 8), nullptr);
        ASSERT_NE(cv_uac_heap_alloc(h.heap, CV_UAC_HEAP_CHUNK_SIZE + 1, 8), nullptr);
    }
    const cv_uac_heap_stats end = stats();
    /* The chunk came from the free list or the system; either way it and the
     * chunk-sized block are on the list afterwards, the larger block is not. */
    const std::uint64_t taken = start.free_chunks > 0 ? 1 : 0;
    EXPECT_EQ(end.free_chunks, start.free_chunks - taken + 2);
}

TEST(UacHeap, ReleaseEmptiesTheHolderAndCreateReusesControllerAndChunks) {
    cv_uac_heap *heap = nullptr;
    ASSERT_EQ(cv_uac_heap_create(&heap, nullptr, nullptr), 0u);
    cv_uac_heap *const first_controller = heap;
    void *const first_memory = cv_uac_heap_alloc(heap, 64, 8);
    const cv_uac_heap_stats before = stats();
    EXPECT_EQ(cv_uac_heap_release(&heap), 0u);
    EXPECT_EQ(heap, nullptr);
    const cv_uac_heap_stats released = stats();
    EXPECT_EQ(released.heaps_released, before.heaps_released + 1);
    EXPECT_EQ(released.free_controllers, before.free_controllers + 1);

    ASSERT_EQ(cv_uac_heap_create(&heap, nullptr, nullptr), 0u);
    EXPECT_EQ(heap, first_controller);
    EXPECT_EQ(cv_uac_heap_alloc(heap, 64, 8), first_memory);
    EXPECT_EQ(stats().heaps_created, before.heaps_created + 1);
    EXPECT_EQ(cv_uac_heap_release(&heap), 0u);
    EXPECT_EQ(cv_uac_heap_release(&heap), 0u); /* an empty holder stays empty */
    EXPECT_EQ(cv_uac_heap_release(nullptr), 0u);
}

TEST(UacHeap, CallocZeroesRecycledMemory) {
    void *dirty_address = nullptr;
    {
        heap_holder h;
        dirty_address = cv_uac_heap_alloc(h.heap, 256, 8);
        std::memset(dirty_address, 0xff, 256);
    }
    heap_holder h;
    auto *clean = static_cast<unsigned char *>(cv_uac_heap_calloc(h.heap, 256, 8));
    ASSERT_EQ(static_cast<void *>(clean), dirty_address);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(clean[i], 0) << i;
}

TEST(UacHeap, StrdupCopiesAndEmptyStringIsSharedWithoutAllocating) {
    heap_holder h;
    const char *copy = cv_uac_heap_strdup(h.heap, "corvane");
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, "corvane");
    const char *empty1 = cv_uac_heap_strdup(h.heap, "");
    void *probe = cv_uac_heap_alloc(h.heap, 1, 1);
    heap_holder other;
    const char *empty2 = cv_uac_heap_strdup(other.heap, "");
    EXPECT_EQ(empty1, empty2);
    EXPECT_STREQ(empty1, "");
    /* Nothing was taken for the empty copy: the probe follows the text. */
    EXPECT_EQ(distance(copy, probe), 8);
    EXPECT_EQ(cv_uac_heap_strdup(h.heap, nullptr), nullptr);
    EXPECT_EQ(cv_uac_heap_strdup(nullptr, "x"), nullptr);
}

TEST(UacHeap, FailedLargeBlockCallsTheHeapsCallbackWithTheFullSize) {
    g_failure = {};
    int marker = 0;
    heap_holder h(&marker, record_failure);
    EXPECT_EQ(cv_uac_heap_alloc(h.heap, kImpossibleSize, 8), nullptr);
    EXPECT_EQ(g_failure.calls, 1);
    EXPECT_GT(g_failure.bytes, kImpossibleSize);
    EXPECT_LE(g_failure.bytes - kImpossibleSize, 64u);
    EXPECT_EQ(g_failure.user_data, &marker);
    /* The heap is still usable. */
    EXPECT_NE(cv_uac_heap_alloc(h.heap, 8, 8), nullptr);
}

TEST(UacHeap, SizeThatWouldOverflowTheBlockFailsWithoutWriting) {
    g_failure = {};
    heap_holder h(nullptr, record_failure);
    EXPECT_EQ(cv_uac_heap_alloc(h.heap, SIZE_MAX - 4, 8), nullptr);
    EXPECT_EQ(g_failure.calls, 1);
}

TEST(UacHeap, DefaultCallbackServesHeapsWithoutOne) {
    g_failure = {};
    const cv_uac_heap_failure_callback previous =
        cv_uac_heap_set_default_failure_callback(record_failure);
    {
        int marker = 0;
        heap_holder h(&marker);
        EXPECT_EQ(cv_uac_heap_alloc(h.heap, kImpossibleSize, 8), nullptr);
        EXPECT_EQ(g_failure.calls, 1);
        EXPECT_EQ(g_failure.user_data, &marker);
    }
    EXPECT_EQ(cv_uac_heap_set_default_failure_callback(previous), record_failure);
}

TEST(UacHeap, HeapsOnSeveralThreadsShareTheFreeLists) {
    const cv_uac_heap_stats before = stats();
    constexpr int kThreads = 4;
    constexpr int kRounds = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int round = 0; round < kRounds; ++round) {
                cv_uac_heap *heap = nullptr;
                ASSERT_EQ(cv_uac_heap_create(&heap, nullptr, nullptr), 0u);
                for (int i = 0; i < 40; ++i) {
                    auto *p = static_cast<int *>(cv_uac_heap_alloc(heap, 4000, 8));
                    ASSERT_NE(p, nullptr);
                    *p = t;
                    ASSERT_EQ(*p, t);
                }
                cv_uac_heap_release(&heap);
            }
        });
    }
    for (std::thread &thread : threads) thread.join();
    const cv_uac_heap_stats after = stats();
    EXPECT_EQ(after.heaps_created - before.heaps_created, std::uint64_t{kThreads * kRounds});
    EXPECT_EQ(after.heaps_released - before.heaps_released, std::uint64_t{kThreads * kRounds});
    /* Each heap needs 3 chunks at a time; recycling keeps the total small. */
    EXPECT_LE(after.free_chunks, before.free_chunks + 3 * kThreads);
}

struct wrapper_case {
    const char *name;
    bool use_calloc;
    const char *label;
    const char *expected;
};

/* Names the case in test listings (the default prints the bytes). */
void PrintTo(const wrapper_case &c, std::ostream *os) { *os << c.name; }

class UacAllocWrapperMessage : public ::testing::TestWithParam<wrapper_case> {};

TEST_P(UacAllocWrapperMessage, NamesFileLineSizeAndLabel) {
    const wrapper_case &c = GetParam();
    const std::string mark = captured::mark();
    void *memory = c.use_calloc ? cv_uac_calloc(kImpossibleSize, c.label, "conf_reader.cpp", 77)
                                : cv_uac_malloc(kImpossibleSize, c.label, "conf_reader.cpp", 77);
    EXPECT_EQ(memory, nullptr);
    const std::string log = captured::since(mark);
    EXPECT_NE(log.find(c.expected), std::string::npos) << log;
    EXPECT_NE(log.find("ERR"), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UacAllocWrapperMessage,
    ::testing::Values(
        wrapper_case{"MallocWithLabel", false, "Config object will not be created",
                     "malloc failed.  file: conf_reader.cpp  line: 77  bytes: 4611686018427387904"
                     " (Config object will not be created)\r\n"},
        wrapper_case{"MallocWithoutLabel", false, nullptr,
                     "malloc failed.  file: conf_reader.cpp  line: 77  bytes: "
                     "4611686018427387904\r\n"},
        wrapper_case{"CallocWithLabel", true, "String list buffer",
                     "calloc failed.  file: conf_reader.cpp  line: 77  bytes: 4611686018427387904"
                     " (String list buffer)\r\n"}),
    [](const ::testing::TestParamInfo<wrapper_case> &info) { return info.param.name; });

TEST(UacAllocWrappers, StrdupOfNullNamesItAndReturnsNull) {
    const std::string mark = captured::mark();
    EXPECT_EQ(cv_uac_strdup(nullptr, "Group name", "groups.cpp", 12), nullptr);
    EXPECT_EQ(cv_uac_strdup(nullptr, nullptr, "groups.cpp", 13), nullptr);
    const std::string log = captured::since(mark);
    EXPECT_NE(log.find("strdup failed.  file: groups.cpp  line: 12  src: <NULL> (Group name)\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("strdup failed.  file: groups.cpp  line: 13  src: <NULL>\r\n"),
              std::string::npos)
        << log;
}

}  // namespace
