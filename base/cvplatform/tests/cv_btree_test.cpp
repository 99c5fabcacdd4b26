// Tests of the string-keyed binary tree: ordering, get/set/add semantics,
// copy, ordered visits, destruction counts, and trees too deep to recurse.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <string>
#include <utility>
#include <vector>

#include "cvplatform/cv_containers.h"

namespace {

/* Owns a string tree for one test. */
struct tree_holder {
    cv_btree *tree = nullptr;
    tree_holder() { EXPECT_EQ(cv_btree_create_strings(&tree), 0u); }
    ~tree_holder() { cv_btree_destroy(tree, nullptr); }
    std::string get(const char *key) const {
        const char *value = nullptr;
        return cv_btree_get(tree, key, &value) == 0 ? std::string(value) : "<absent>";
    }
};

using entries = std::vector<std::pair<std::string, std::string>>;

void collect(const char *key, const char *value, void *context) {
    static_cast<entries *>(context)->emplace_back(key, value ? value : "<null>");
}

entries visit_all(const cv_btree *tree) {
    entries seen;
    EXPECT_EQ(cv_btree_visit(tree, collect, &seen), 0u);
    return seen;
}

}  // namespace

TEST(StrCompare, ByteWiseUnsigned) {
    struct {
        const char *a, *b;
        int expected;
    } const cases[] = {
        {"a", "b", -1},   {"b", "a", 1},      {"abc", "abc", 0}, {"", "", 0},
        {"ab", "abc", -1}, {"abc", "ab", 1},  {"B", "a", -1},    {"\x80", "a", 1},
        {"a\xff", "a\x01", 1}, {nullptr, "", -1}, {"", nullptr, 1}, {nullptr, nullptr, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << (c.a ? c.a : "(null)") << " vs "
                                        << (c.b ? c.b : "(null)"));
        EXPECT_EQ(cv_str_compare(c.a, c.b), c.expected);
    }
}

TEST(Btree, GetOfAbsentKeyGivesTwoAndNull) {
    tree_holder t;
    const char *value = "sentinel";
    EXPECT_EQ(cv_btree_get(t.tree, "missing", &value), 2u);  // empty tree
    EXPECT_EQ(value, nullptr);
    ASSERT_EQ(cv_btree_set(t.tree, "present", "1"), 0u);
    value = "sentinel";
    EXPECT_EQ(cv_btree_get(t.tree, "missing", &value), 2u);
    EXPECT_EQ(value, nullptr);
}

TEST(Btree, SetStoresCopies) {
    tree_holder t;
    std::string key = "name";
    std::string value = "alice";
    ASSERT_EQ(cv_btree_set(t.tree, key.c_str(), value.c_str()), 0u);
    key[0] = 'X';
    value[0] = 'X';
    EXPECT_EQ(t.get("name"), "alice");
}

TEST(Btree, SetSameValueTwiceKeepsOneNodeAndOneCopy) {
    tree_holder t;
    ASSERT_EQ(cv_btree_set(t.tree, "k", "v"), 0u);
    const char *first = nullptr;
    ASSERT_EQ(cv_btree_get(t.tree, "k", &first), 0u);
    ASSERT_EQ(cv_btree_set(t.tree, "k", "v"), 0u);
    const char *second = nullptr;
    ASSERT_EQ(cv_btree_get(t.tree, "k", &second), 0u);
    EXPECT_EQ(first, second);  // the stored copy was not replaced
    std::size_t count = 0;
    cv_btree_destroy(t.tree, &count);
    t.tree = nullptr;
    EXPECT_EQ(count, 1u);
}

TEST(Btree, SetDifferentValueReplaces) {
    tree_holder t;
    ASSERT_EQ(cv_btree_set(t.tree, "k", "old"), 0u);
    ASSERT_EQ(cv_btree_set(t.tree, "k", "new"), 0u);
    EXPECT_EQ(t.get("k"), "new");
    EXPECT_EQ(visit_all(t.tree).size(), 1u);
}

TEST(Btree, AddRefusesAKeyThatHoldsAValue) {
    tree_holder t;
    EXPECT_EQ(cv_btree_add(t.tree, "k", "first"), 0u);
    EXPECT_EQ(cv_btree_add(t.tree, "k", "second"), 145u);
    EXPECT_EQ(t.get("k"), "first");
    EXPECT_EQ(cv_btree_add(t.tree, "other", "x"), 0u);
    EXPECT_EQ(t.get("other"), "x");
}

TEST(Btree, SetNullClearsTheValue) {
    tree_holder t;
    ASSERT_EQ(cv_btree_set(t.tree, "k", "v"), 0u);
    EXPECT_EQ(cv_btree_set(t.tree, "k", nullptr), 0u);
    const char *value = "sentinel";
    EXPECT_EQ(cv_btree_get(t.tree, "k", &value), 2u);
    EXPECT_EQ(value, nullptr);
    // A cleared key holds no value, so add may fill it again.
    EXPECT_EQ(cv_btree_add(t.tree, "k", "again"), 0u);
    EXPECT_EQ(t.get("k"), "again");
    // Clearing an absent key adds nothing.
    EXPECT_EQ(cv_btree_set(t.tree, "absent", nullptr), 0u);
    EXPECT_EQ(visit_all(t.tree).size(), 1u);
}

TEST(Btree, NullArguments) {
    tree_holder t;
    const char *value = "sentinel";
    EXPECT_EQ(cv_btree_get(nullptr, "k", &value), 22u);
    EXPECT_EQ(value, nullptr);
    EXPECT_EQ(cv_btree_get(t.tree, nullptr, &value), 22u);
    EXPECT_EQ(cv_btree_get(t.tree, "k", nullptr), 22u);
    EXPECT_EQ(cv_btree_set(nullptr, "k", "v"), 22u);
    EXPECT_EQ(cv_btree_set(t.tree, nullptr, "v"), 22u);
    EXPECT_EQ(cv_btree_add(t.tree, nullptr, "v"), 22u);
    EXPECT_EQ(cv_btree_copy(nullptr, t.tree), 22u);
    EXPECT_EQ(cv_btree_copy(t.tree, nullptr), 22u);
    EXPECT_EQ(cv_btree_visit(nullptr, collect, nullptr), 22u);
    EXPECT_EQ(cv_btree_visit(t.tree, nullptr, nullptr), 22u);
    EXPECT_EQ(cv_btree_create(nullptr, 8, nullptr), 22u);
}

TEST(Btree, DestroyCountsNodes) {
    cv_btree *tree = nullptr;
    ASSERT_EQ(cv_btree_create_strings(&tree), 0u);
    for (const char *key : {"m", "c", "x"}) ASSERT_EQ(cv_btree_set(tree, key, key), 0u);
    std::size_t count = 99;
    EXPECT_EQ(cv_btree_destroy(tree, &count), 0u);
    EXPECT_EQ(count, 3u);
    count = 99;
    EXPECT_EQ(cv_btree_destroy(nullptr, &count), 0u);
    EXPECT_EQ(count, 0u);
}

TEST(Btree, VisitIsInKeyOrder) {
    tree_holder t;
    for (const char *key : {"delta", "alpha", "echo", "charlie", "bravo", "Zulu", ""})
        ASSERT_EQ(cv_btree_set(t.tree, key, (std::string("v-") + key).c_str()), 0u);
    const entries expected = {{"", "v-"},           {"Zulu", "v-Zulu"},   {"alpha", "v-alpha"},
                              {"bravo", "v-bravo"}, {"charlie", "v-charlie"},
                              {"delta", "v-delta"}, {"echo", "v-echo"}};
    EXPECT_EQ(visit_all(t.tree), expected);
}

TEST(Btree, CopySetsEveryEntryAndOverwrites) {
    tree_holder src;
    tree_holder dst;
    for (const char *key : {"m", "c", "x", "a", "e"}) ASSERT_EQ(cv_btree_set(src.tree, key, key), 0u);
    ASSERT_EQ(cv_btree_set(dst.tree, "c", "old"), 0u);
    ASSERT_EQ(cv_btree_set(dst.tree, "z", "kept"), 0u);
    EXPECT_EQ(cv_btree_copy(dst.tree, src.tree), 0u);
    const entries expected = {{"a", "a"}, {"c", "c"}, {"e", "e"},
                              {"m", "m"}, {"x", "x"}, {"z", "kept"}};
    EXPECT_EQ(visit_all(dst.tree), expected);
    EXPECT_EQ(visit_all(src.tree).size(), 5u);  // the source is untouched
}

TEST(Btree, CustomReleaseSeesEveryValue) {
    static int released = 0;
    released = 0;
    cv_btree *tree = nullptr;
    ASSERT_EQ(cv_btree_create(&tree, 16,
                              [](cv_memory_pool *pool, void *slot) {
                                  ++released;
                                  char *text;
                                  std::memcpy(&text, slot, sizeof text);
                                  std::free(text);
                                  cv_memory_pool_free(pool, slot);
                              }),
              0u);
    for (const char *key : {"b", "a", "c", "d"}) ASSERT_EQ(cv_btree_set(tree, key, key), 0u);
    std::size_t count = 0;
    EXPECT_EQ(cv_btree_destroy(tree, &count), 0u);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(released, 4);
}

namespace {

struct deep_walk {
    cv_btree *tree;
    int visited;
    cv_status visit_status, copy_status, destroy_status;
    std::size_t copied;
};

void *walk_deep_tree(void *argument) {
    auto *walk = static_cast<deep_walk *>(argument);
    walk->visit_status = cv_btree_visit(
        walk->tree, [](const char *, const char *, void *n) { ++*static_cast<int *>(n); },
        &walk->visited);
    cv_btree *copy = nullptr;
    if (cv_btree_create_strings(&copy) != 0) return nullptr;
    walk->copy_status = cv_btree_copy(copy, walk->tree);
    walk->destroy_status = cv_btree_destroy(copy, &walk->copied);
    return nullptr;
}

}  // namespace

TEST(Btree, DegenerateDeepTreeIsWalkedWithoutRecursion) {
    // Sorted keys make the tree a list as deep as it is long.  Walked on a
    // thread with a 64 KiB stack, a recursive walk of 5000 levels would
    // overflow it.
    constexpr int kKeys = 5000;
    tree_holder t;
    char key[16];
    for (int i = 0; i < kKeys; ++i) {
        std::snprintf(key, sizeof key, "%08d", i);
        ASSERT_EQ(cv_btree_set(t.tree, key, "v"), 0u);
    }
    deep_walk walk{t.tree, 0, 99, 99, 99, 0};
    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, 64 * 1024), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attributes, walk_deep_tree, &walk), 0);
    ASSERT_EQ(pthread_join(thread, nullptr), 0);
    pthread_attr_destroy(&attributes);
    EXPECT_EQ(walk.visit_status, 0u);
    EXPECT_EQ(walk.visited, kKeys);
    EXPECT_EQ(walk.copy_status, 0u);
    EXPECT_EQ(walk.destroy_status, 0u);
    EXPECT_EQ(walk.copied, static_cast<std::size_t>(kKeys));
}

TEST(Btree, DestroyReturnsAllPoolMemory) {
    const std::int64_t before = cv_memory_pool_live_allocations();
    cv_btree *tree = nullptr;
    ASSERT_EQ(cv_btree_create_strings(&tree), 0u);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(cv_btree_set(tree, std::to_string(i).c_str(), "v"), 0u);
    EXPECT_GT(cv_memory_pool_live_allocations(), before);
    cv_btree_destroy(tree, nullptr);
    EXPECT_EQ(cv_memory_pool_live_allocations(), before);
}
