// Memory pools, the string-keyed binary tree and scratch buffers.
//
// A pool hands out fixed-size items from large chunks: allocation is a
// free-list pop or a pointer bump, release a push.  A tracked pool keeps an
// allocation bitmap at the head of every chunk and refuses the release of a
// pointer that is not a live item of the pool.  The tree keeps string keys in
// byte order without rebalancing; its nodes and value slots come from two
// pools.  Scratch buffers stand in for large stack arrays: a small slot table
// in the caller's frame tracks one heap buffer per call site (source line).
#pragma once

#include <cstddef>
#include <cstdint>

#include "cvplatform/cv_status.h"

/* Pool flags. */
enum : std::uint32_t {
    CV_POOL_ZEROED = 0x1,     /* items are handed out zeroed */
    CV_POOL_LOCKED = 0x2,     /* every operation takes the pool's mutex */
    CV_POOL_UNTRACKED = 0x4,  /* no bitmap; releases are not checked */
};

inline constexpr std::size_t CV_POOL_MAX_GRANULARITY = 16777215;

struct cv_memory_pool;

/* Creates a pool of items of `item_size` bytes (at least 8), `granularity`
 * items per chunk (rounded up to a multiple of 32).  Null with status 22 for
 * bad flags or granularity, 8 out of memory.  `status` may be null. */
cv_memory_pool *cv_memory_pool_create(std::size_t item_size, std::size_t granularity,
                                      std::uint32_t flags, cv_status *status);

/* An item of the pool, or null with the status. */
void *cv_memory_pool_alloc(cv_memory_pool *pool, cv_status *status);

/* Returns `item` to the pool.  0; 22 for null arguments or, in a tracked
 * pool, a pointer that is not a live item (logged); a mutex error. */
cv_status cv_memory_pool_free(cv_memory_pool *pool, void *item);

/* Releases every chunk and the pool.  0; 22 for null. */
cv_status cv_memory_pool_destroy(cv_memory_pool *pool);

/* Live pool allocations (records, tables, chunks), for diagnostics. */
std::int64_t cv_memory_pool_live_allocations();

/* Byte-wise unsigned comparison: -1, 0 or 1. */
int cv_str_compare(const char *a, const char *b);

struct cv_btree;

/* Releases the value held in `slot`, an item of `value_pool`. */
using cv_btree_value_release = void (*)(cv_memory_pool *value_pool, void *slot);

/* Creates a tree whose value slots hold `value_size` bytes.  A null release
 * returns the slot to the value pool.  0; 22; 8; a pool's status. */
cv_status cv_btree_create(cv_btree **tree, std::size_t value_size,
                          cv_btree_value_release release);

/* Creates a tree of owned string values. */
cv_status cv_btree_create_strings(cv_btree **tree);

/* Releases every key and value and the tree; `count` (may be null) gets the
 * number of nodes.  0, also for a null tree. */
cv_status cv_btree_destroy(cv_btree *tree, std::size_t *count);

/* The string stored under `key`: 0, or 2 with *value null when absent. */
cv_status cv_btree_get(const cv_btree *tree, const char *key, const char **value);

/* Stores a copy of `value` under `key`, replacing an old value.  0; 8. */
cv_status cv_btree_set(cv_btree *tree, const char *key, const char *value);

/* As cv_btree_set, but a key that already holds a value gives 145. */
cv_status cv_btree_add(cv_btree *tree, const char *key, const char *value);

/* Sets every entry of `src` in `dst` (each node before its subtrees);
 * individual failures are ignored.  0; 22 for a null argument. */
cv_status cv_btree_copy(cv_btree *dst, const cv_btree *src);

/* Calls `visit` for every entry in key order. */
using cv_btree_visitor = void (*)(const char *key, const char *value, void *context);
void cv_btree_visit(const cv_btree *tree, cv_btree_visitor visit, void *context);

/* One scratch buffer slot; line 0 marks a free slot. */
struct cv_stack_slot {
    void *buffer;
    std::uint32_t line;
};

/* States of a slot table. */
enum : std::uint32_t { CV_STACK_FRESH = 0, CV_STACK_IN_USE = 1, CV_STACK_FAILED = 2 };

/* The scratch buffer of call site `line`: the same buffer again for a line
 * already seen, else a new heap buffer of `size` bytes in the first free
 * slot.  Null (state set to CV_STACK_FAILED, logged) when out of memory or
 * slots. */
void *cv_stack_alloc(const char *file, const char *function, std::uint32_t line,
                     std::size_t size, cv_stack_slot *slots, std::size_t slot_count,
                     std::uint32_t *state);

/* Frees every buffer of the table.  Always 1. */
int cv_stack_free_all(cv_stack_slot *slots, std::size_t slot_count, std::uint32_t *state);

/* Live scratch buffers, for diagnostics. */
std::int64_t cv_stack_live_buffers();

/* cv_stack_alloc for the calling line of a table named `slots` with state
 * `state` in the caller's frame. */
#define CV_STACK_ALLOC(size, slots, state)                                              \
    cv_stack_alloc(__FILE__, __func__, __LINE__, (size), (slots),                       \
                   sizeof(slots) / sizeof((slots)[0]), &(state))
