// Tests of the scratch buffers: one buffer per call site, sticky failure,
// the two failure messages, and release of everything at once.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "cv_test_log_capture.h"
#include "cvplatform/cv_containers.h"

CV_TEST_LOG_CAPTURE();

// The out-of-memory test asks for more than any allocator gives; under the
// address sanitizer that must come back as null instead of ending the test.
extern "C" const char *__asan_default_options() { return "allocator_may_return_null=1"; }

namespace {

using captured = cv_test_log_capture;

/* Always asks from one and the same line, as a loop body would. */
void *same_site(cv_stack_slot (&slots)[4], std::uint32_t &state, std::size_t size) {
    return CV_STACK_ALLOC(size, slots, state);
}

}  // namespace

TEST(StackAlloc, SameLineGetsTheSameBuffer) {
    cv_stack_slot slots[4];
    std::uint32_t state = CV_STACK_FRESH;
    void *first = same_site(slots, state, 64);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(state, CV_STACK_IN_USE);
    EXPECT_EQ(same_site(slots, state, 64), first);
    EXPECT_EQ(same_site(slots, state, 16), first);  // smaller requests fit too
    cv_stack_free_all(slots, 4, &state);
}

TEST(StackAlloc, DifferentLinesGetDifferentBuffers) {
    cv_stack_slot slots[4];
    std::uint32_t state = CV_STACK_FRESH;
    char *a = static_cast<char *>(CV_STACK_ALLOC(32, slots, state));
    char *b = static_cast<char *>(CV_STACK_ALLOC(32, slots, state));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    std::memset(a, 'a', 32);  // both are usable at their full size
    std::memset(b, 'b', 32);
    EXPECT_EQ(a[31], 'a');
    cv_stack_free_all(slots, 4, &state);
}

TEST(StackAlloc, LargerRequestFromTheSameLineGrowsTheBuffer) {
    cv_stack_slot slots[4];
    std::uint32_t state = CV_STACK_FRESH;
    char *small = static_cast<char *>(same_site(slots, state, 8));
    ASSERT_NE(small, nullptr);
    std::memcpy(small, "keep me", 8);
    char *large = static_cast<char *>(same_site(slots, state, 4096));
    ASSERT_NE(large, nullptr);
    EXPECT_STREQ(large, "keep me");
    std::memset(large, 'x', 4096);  // overruns here would be caught by the sanitizer
    cv_stack_free_all(slots, 4, &state);
}

TEST(StackAlloc, OutOfSlotsFailsAndSticks) {
    cv_stack_slot slots[2];
    std::uint32_t state = CV_STACK_FRESH;
    ASSERT_NE(CV_STACK_ALLOC(8, slots, state), nullptr);
    ASSERT_NE(CV_STACK_ALLOC(8, slots, state), nullptr);
    const std::string mark = captured::mark();
    const int line = __LINE__ + 1;
    EXPECT_EQ(CV_STACK_ALLOC(8, slots, state), nullptr);
    EXPECT_EQ(state, CV_STACK_FAILED);
    const std::string expected = "ERR Out of stack slots at " + std::string(__func__) +
                                 "::" + std::to_string(line) + " (" + __FILE__ + ")";
    EXPECT_NE(captured::since(mark).find(expected), std::string::npos) << expected;
    // A failed table answers nothing more, not even for a known line.
    EXPECT_EQ(CV_STACK_ALLOC(8, slots, state), nullptr);
    cv_stack_free_all(slots, 2, &state);
}

TEST(StackAlloc, OutOfMemoryFails) {
    cv_stack_slot slots[2];
    std::uint32_t state = CV_STACK_FRESH;
    const std::string mark = captured::mark();
    const int line = __LINE__ + 1;
    EXPECT_EQ(CV_STACK_ALLOC(SIZE_MAX - 64, slots, state), nullptr);
    EXPECT_EQ(state, CV_STACK_FAILED);
    const std::string expected = "ERR Out of stack memory at " + std::string(__func__) +
                                 "::" + std::to_string(line) + " (" + __FILE__ + ")";
    EXPECT_NE(captured::since(mark).find(expected), std::string::npos) << expected;
    cv_stack_free_all(slots, 2, &state);
}

TEST(StackAlloc, FreeAllReleasesEveryBuffer) {
    const std::int64_t before = cv_stack_live_buffers();
    cv_stack_slot slots[3];
    std::uint32_t state = CV_STACK_FRESH;
    ASSERT_NE(CV_STACK_ALLOC(100, slots, state), nullptr);
    ASSERT_NE(CV_STACK_ALLOC(200, slots, state), nullptr);
    EXPECT_EQ(cv_stack_live_buffers(), before + 2);
    EXPECT_EQ(cv_stack_free_all(slots, 3, &state), 1);
    EXPECT_EQ(cv_stack_live_buffers(), before);
    for (const cv_stack_slot &slot : slots) {
        EXPECT_EQ(slot.buffer, nullptr);
        EXPECT_EQ(slot.line, 0u);
    }
    // The table can be used again after the release.
    ASSERT_NE(CV_STACK_ALLOC(10, slots, state), nullptr);
    EXPECT_EQ(cv_stack_free_all(slots, 3, &state), 1);
    EXPECT_EQ(cv_stack_live_buffers(), before);
}

TEST(StackAlloc, FreeAllOfAFreshTableTouchesNothing) {
    cv_stack_slot slots[2];
    std::memset(slots, 0x5A, sizeof slots);  // garbage: a fresh table is never read
    std::uint32_t state = CV_STACK_FRESH;
    EXPECT_EQ(cv_stack_free_all(slots, 2, &state), 1);
    EXPECT_EQ(cv_stack_free_all(nullptr, 0, &state), 1);
    EXPECT_EQ(state, CV_STACK_FRESH);
}

TEST(StackAlloc, BadArgumentsGiveNull) {
    cv_stack_slot slots[2];
    std::uint32_t state = 7;  // not a state of a table
    EXPECT_EQ(CV_STACK_ALLOC(8, slots, state), nullptr);
    EXPECT_EQ(cv_stack_alloc("f", "g", 10, 8, slots, 2, nullptr), nullptr);
    state = CV_STACK_FRESH;
    EXPECT_EQ(cv_stack_alloc("f", "g", 0, 8, slots, 2, &state), nullptr);  // line 0 is "free"
    EXPECT_EQ(state, CV_STACK_FAILED);
}
