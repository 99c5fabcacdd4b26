// The string-keyed binary search tree.
//
// Nodes and value slots are items of two pools owned by the tree, so a tree
// of many small entries costs two chunk allocations per 32 entries, and
// destroying it releases all nodes at once.  Keys are kept in cv_str_compare
// order without rebalancing: the trees hold small variable tables, and an
// unbalanced insert keeps the code and the node (32 bytes) small.  Because
// sorted input makes the tree a list, no walk here recurses: copy and visit
// use an explicit heap stack, and destroy reverses the links as it descends,
// so that a tree of any depth is released without extra memory.
#include "cvplatform/cv_containers.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "cvplatform/cv_log.h"

namespace {

constexpr std::size_t kNodeSize = 32;
constexpr std::size_t kTreeGranularity = 32;

struct cv_btree_node {
    char *key;
    void *value;  /* slot: an item of the value pool holding a string pointer */
    cv_btree_node *left;
    cv_btree_node *right;
};
static_assert(sizeof(cv_btree_node) == kNodeSize);

char *duplicate_string(const char *text) {
    const std::size_t length = std::strlen(text) + 1;
    char *copy = static_cast<char *>(std::malloc(length));
    if (copy) std::memcpy(copy, text, length);
    return copy;
}

void release_key(void *key) { std::free(key); }

char *slot_string(const void *slot) {
    char *text;
    std::memcpy(&text, slot, sizeof text);
    return text;
}

void set_slot_string(void *slot, char *text) { std::memcpy(slot, &text, sizeof text); }

void release_slot(cv_memory_pool *value_pool, void *slot) {
    cv_memory_pool_free(value_pool, slot);
}

void release_string_slot(cv_memory_pool *value_pool, void *slot) {
    std::free(slot_string(slot));
    cv_memory_pool_free(value_pool, slot);
}

/* A growable stack of nodes on the heap, for the non-recursive walks. */
class node_stack {
public:
    node_stack() = default;
    node_stack(const node_stack &) = delete;
    node_stack &operator=(const node_stack &) = delete;
    ~node_stack() { std::free(items_); }

    [[nodiscard]] bool push(cv_btree_node *node) {
        if (count_ == capacity_) {
            const std::size_t capacity = capacity_ ? capacity_ * 2 : 32;
            auto *items = static_cast<cv_btree_node **>(
                std::realloc(items_, capacity * sizeof(cv_btree_node *)));
            if (!items) return false;
            items_ = items;
            capacity_ = capacity;
        }
        items_[count_++] = node;
        return true;
    }
    cv_btree_node *pop() { return items_[--count_]; }
    bool empty() const { return count_ == 0; }

private:
    cv_btree_node **items_ = nullptr;
    std::size_t count_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace

struct cv_btree {
    void *(*node_alloc)(cv_memory_pool *pool, cv_status *status);
    cv_btree_value_release value_release;
    char *(*key_duplicate)(const char *key);
    void (*key_release)(void *key);
    int (*key_compare)(const char *a, const char *b);
    cv_memory_pool *node_pool;
    int owns_value_pool;
    cv_memory_pool *value_pool;
    cv_btree_node *root;
};

namespace {

/* Where a search for `key` ends: the node holding it, or the link where it
 * would be inserted. */
struct search_result {
    cv_btree_node *node;
    cv_btree_node **link;
};

search_result search(const cv_btree *tree, const char *key) {
    cv_btree_node *const *link = &tree->root;
    while (*link) {
        const int order = tree->key_compare(key, (*link)->key);
        if (order == 0) return {*link, const_cast<cv_btree_node **>(link)};
        link = order < 0 ? &(*link)->left : &(*link)->right;
    }
    return {nullptr, const_cast<cv_btree_node **>(link)};
}

/* Set and add: `keep_existing` makes a key that holds a value answer 145. */
cv_status store(cv_btree *tree, const char *key, const char *value, bool keep_existing) {
    if (!tree || !key) return CV_E_INVALID;
    const search_result found = search(tree, key);

    if (found.node) {
        char *old = slot_string(found.node->value);
        if (keep_existing && old) return CV_E_ALREADY_SET;
        if (old && value && std::strcmp(old, value) == 0) return CV_OK;
        char *copy = nullptr;
        if (value && !(copy = duplicate_string(value))) return CV_E_NO_MEMORY;
        set_slot_string(found.node->value, copy);
        std::free(old);
        return CV_OK;
    }

    if (!value) return CV_OK;  // clearing an absent key leaves nothing to do
    // Everything is taken before the node is linked, so a failure leaves the
    // tree as it was.
    char *copy = duplicate_string(value);
    char *key_copy = tree->key_duplicate(key);
    auto *node = static_cast<cv_btree_node *>(tree->node_alloc(tree->node_pool, nullptr));
    void *slot = cv_memory_pool_alloc(tree->value_pool, nullptr);
    if (!copy || !key_copy || !node || !slot) {
        std::free(copy);
        if (key_copy) tree->key_release(key_copy);
        if (node) cv_memory_pool_free(tree->node_pool, node);
        if (slot) cv_memory_pool_free(tree->value_pool, slot);
        return CV_E_NO_MEMORY;
    }
    node->key = key_copy;
    node->value = slot;
    node->left = nullptr;
    node->right = nullptr;
    set_slot_string(slot, copy);
    *found.link = node;
    return CV_OK;
}

/* Releases the key and value of every node, children before their parent,
 * and returns the number of nodes.  Walks by link reversal: on the way down
 * the link to a child is overwritten with the way back up, so no stack is
 * needed.  A child link of the parent holds the way up exactly while the walk
 * is inside that child's subtree; `top` stands for "no parent" so that a
 * reversed link is never null and the side can be told by the left link. */
std::size_t release_nodes(cv_btree *tree) {
    cv_btree_node top{};
    cv_btree_node *parent = &top;
    cv_btree_node *node = tree->root;
    std::size_t count = 0;
    while (node) {
        if (node->left) {
            cv_btree_node *child = node->left;
            node->left = parent;
            parent = node;
            node = child;
            continue;
        }
        if (node->right) {
            cv_btree_node *child = node->right;
            node->right = parent;
            parent = node;
            node = child;
            continue;
        }
        ++count;
        if (node->value) tree->value_release(tree->value_pool, node->value);
        tree->key_release(node->key);
        if (parent == &top) break;
        node = parent;
        if (node->left) {  // came up from the left subtree
            parent = node->left;
            node->left = nullptr;
        } else {
            parent = node->right;
            node->right = nullptr;
        }
    }
    tree->root = nullptr;
    return count;
}

}  // namespace

int cv_str_compare(const char *a, const char *b) {
    if (a == b) return 0;
    if (!a) return -1;
    if (!b) return 1;
    const auto *x = reinterpret_cast<const unsigned char *>(a);
    const auto *y = reinterpret_cast<const unsigned char *>(b);
    while (*x && *x == *y) {
        ++x;
        ++y;
    }
    return *x < *y ? -1 : (*x > *y ? 1 : 0);
}

cv_status cv_btree_create(cv_btree **tree, std::size_t value_size,
                          cv_btree_value_release release) {
    if (!tree) return CV_E_INVALID;
    *tree = nullptr;
    cv_status status = CV_OK;
    cv_memory_pool *value_pool =
        cv_memory_pool_create(value_size, kTreeGranularity, CV_POOL_ZEROED, &status);
    if (!value_pool) {
        cv_log_error("Unable to allocate pool for binary tree: %d", static_cast<int>(status));
        return status;
    }
    auto *record = new (std::nothrow) cv_btree{};
    if (!record) {
        cv_memory_pool_destroy(value_pool);
        cv_log_error("Unable to allocate memory for binary tree");
        return CV_E_NO_MEMORY;
    }
    record->node_pool = cv_memory_pool_create(kNodeSize, kTreeGranularity, 0, &status);
    if (!record->node_pool) {
        delete record;
        cv_memory_pool_destroy(value_pool);
        cv_log_error("Unable to allocate pool memory for binary tree: %d",
                     static_cast<int>(status));
        return status;
    }
    record->node_alloc = cv_memory_pool_alloc;
    record->value_release = release ? release : release_slot;
    record->key_duplicate = duplicate_string;
    record->key_release = release_key;
    record->key_compare = cv_str_compare;
    record->owns_value_pool = 1;
    record->value_pool = value_pool;
    record->root = nullptr;
    *tree = record;
    return CV_OK;
}

cv_status cv_btree_create_strings(cv_btree **tree) {
    return cv_btree_create(tree, sizeof(char *), release_string_slot);
}

cv_status cv_btree_destroy(cv_btree *tree, std::size_t *count) {
    if (count) *count = 0;
    if (!tree) return CV_OK;
    const std::size_t nodes = release_nodes(tree);
    if (count) *count = nodes;
    cv_memory_pool_destroy(tree->node_pool);
    if (tree->owns_value_pool) cv_memory_pool_destroy(tree->value_pool);
    delete tree;
    return CV_OK;
}

cv_status cv_btree_get(const cv_btree *tree, const char *key, const char **value) {
    if (value) *value = nullptr;
    if (!tree || !key || !value) return CV_E_INVALID;
    const search_result found = search(tree, key);
    if (!found.node) return CV_E_FILE_NOT_FOUND;
    const char *text = slot_string(found.node->value);
    if (!text) return CV_E_FILE_NOT_FOUND;
    *value = text;
    return CV_OK;
}

cv_status cv_btree_set(cv_btree *tree, const char *key, const char *value) {
    return store(tree, key, value, false);
}

cv_status cv_btree_add(cv_btree *tree, const char *key, const char *value) {
    return store(tree, key, value, true);
}

cv_status cv_btree_copy(cv_btree *dst, const cv_btree *src) {
    if (!dst || !src) return CV_E_INVALID;
    node_stack pending;
    if (src->root && !pending.push(src->root)) return CV_E_NO_MEMORY;
    while (!pending.empty()) {
        const cv_btree_node *node = pending.pop();
        (void)cv_btree_set(dst, node->key, slot_string(node->value));
        // Right first, so that the left subtree comes off the stack first.
        if (node->right && !pending.push(node->right)) return CV_E_NO_MEMORY;
        if (node->left && !pending.push(node->left)) return CV_E_NO_MEMORY;
    }
    return CV_OK;
}

cv_status cv_btree_visit(const cv_btree *tree, cv_btree_visitor visit, void *context) {
    if (!tree || !visit) return CV_E_INVALID;
    node_stack pending;
    cv_btree_node *node = tree->root;
    while (node || !pending.empty()) {
        while (node) {
            if (!pending.push(node)) return CV_E_NO_MEMORY;
            node = node->left;
        }
        node = pending.pop();
        visit(node->key, slot_string(node->value), context);
        node = node->right;
    }
    return CV_OK;
}
