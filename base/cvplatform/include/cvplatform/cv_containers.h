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

/* Creates a pool of items of `item_size` bytes and `granularity` items per
 * chunk.  The item size is raised to at least 8 and to a multiple of 8 (every
 * item is 8-byte aligned); the granularity is rounded up to a multiple of 32.
 * Flags are CV_POOL_*; only a CV_POOL_LOCKED pool may be shared between
 * threads.  Returns the pool, or null with status 22 (flags outside 0x7,
 * granularity outside 1..CV_POOL_MAX_GRANULARITY, or a chunk too large to
 * address; the first two are logged) or 8 (out of memory).  `status` may be
 * null.  Release with cv_memory_pool_destroy. */
cv_memory_pool *cv_memory_pool_create(std::size_t item_size, std::size_t granularity,
                                      std::uint32_t flags, cv_status *status);

/* An item of the pool (zeroed with CV_POOL_ZEROED), or null with the status:
 * 22 for a null pool, 8 out of memory (logged), or a mutex error (logged).
 * `status` may be null. */
void *cv_memory_pool_alloc(cv_memory_pool *pool, cv_status *status);

/* Returns `item` to the pool.  0; 22 for null arguments or, in a tracked
 * pool, a pointer that is not the start of an item of the pool ("Attempt to
 * free an invalid pool member") or an item that is not allocated ("Attempt to
 * free an unallocated pool member"); such a release changes nothing.  A
 * mutex error (logged).  Untracked pools take any pointer on trust. */
cv_status cv_memory_pool_free(cv_memory_pool *pool, void *item);

/* Releases every chunk and the pool; all its items become invalid.  0; 22 for
 * null. */
cv_status cv_memory_pool_destroy(cv_memory_pool *pool);

/* Shape of a pool, for diagnostics and tests. */
struct cv_memory_pool_stats {
    std::uint64_t item_size;       /* bytes per item after rounding */
    std::uint64_t granularity;     /* items per chunk after rounding */
    std::uint64_t bitmap_bytes;    /* bitmap at the head of each chunk; 0 untracked */
    std::uint64_t chunk_size;      /* bytes per chunk */
    std::uint64_t chunk_count;     /* chunks taken from the system */
    std::uint64_t chunk_capacity;  /* entries of the chunk table (steps of 256) */
};

/* Fills `stats` from `pool` (read without the pool's mutex).  0; 22 for null. */
cv_status cv_memory_pool_get_stats(const cv_memory_pool *pool, cv_memory_pool_stats *stats);

/* Live pool allocations of the process (records, tables, chunks), for
 * diagnostics. */
std::int64_t cv_memory_pool_live_allocations();

/* Byte-wise unsigned comparison of two strings: -1, 0 or 1.  A null string
 * sorts before every string and equals another null. */
int cv_str_compare(const char *a, const char *b);

struct cv_btree;

/* Releases the value held in `slot`, an item of `value_pool`. */
using cv_btree_value_release = void (*)(cv_memory_pool *value_pool, void *slot);

/* Creates an empty tree whose value slots hold `value_size` bytes (at least
 * one pointer).  Keys are owned copies ordered by cv_str_compare.  A null
 * `release` means that destroying the tree only returns each slot to the
 * value pool; cv_btree_set and cv_btree_add store owned string copies, so a
 * tree used with them should come from cv_btree_create_strings.  0; 22 for a
 * null `tree`; 8 out of memory; a pool's status.  `*tree` is null on
 * failure.  Release with cv_btree_destroy. */
cv_status cv_btree_create(cv_btree **tree, std::size_t value_size,
                          cv_btree_value_release release);

/* Creates an empty tree of owned string values (freed on destroy). */
cv_status cv_btree_create_strings(cv_btree **tree);

/* Releases every key and value (children before their parent), the pools and
 * the tree; `count` (may be null) gets the number of nodes.  0, also for a
 * null tree (count 0). */
cv_status cv_btree_destroy(cv_btree *tree, std::size_t *count);

/* The string stored under `key`, owned by the tree and valid until the key is
 * set again or the tree destroyed.  0; 2 when the key is absent or holds no
 * value (`*value` null); 22 for a null argument. */
cv_status cv_btree_get(const cv_btree *tree, const char *key, const char **value);

/* Stores a copy of `value` under `key` (a copy of the key is made for a new
 * key), replacing an old value; an equal value leaves the tree as it is.  A
 * null `value` clears the key's value (an absent key stays absent).  0; 8 out
 * of memory (the tree is unchanged); 22 for a null tree or key. */
cv_status cv_btree_set(cv_btree *tree, const char *key, const char *value);

/* As cv_btree_set, but a key that already holds a value gives 145 and keeps
 * it. */
cv_status cv_btree_add(cv_btree *tree, const char *key, const char *value);

/* Sets every entry of `src` in `dst`, each node before its left and then its
 * right subtree (so a copy into an empty tree has the source's shape).
 * Failures of single entries are ignored.  0; 22 for a null argument; 8 when
 * the walk itself runs out of memory. */
cv_status cv_btree_copy(cv_btree *dst, const cv_btree *src);

/* Calls `visit` for every entry in ascending key order, with the key, the
 * value (null when the key holds none) and `context`.  The tree must not be
 * changed from inside `visit`.  0; 22 for a null tree or visitor; 8 when the
 * walk runs out of memory.  Not recursive: a degenerate tree of any depth is
 * walked safely. */
using cv_btree_visitor = void (*)(const char *key, const char *value, void *context);
cv_status cv_btree_visit(const cv_btree *tree, cv_btree_visitor visit, void *context);

/* One scratch buffer slot; line 0 marks a free slot. */
struct cv_stack_slot {
    void *buffer;
    std::uint32_t line;
    std::size_t size;  /* bytes of `buffer` */
};

/* States of a slot table. */
enum : std::uint32_t { CV_STACK_FRESH = 0, CV_STACK_IN_USE = 1, CV_STACK_FAILED = 2 };

/* The scratch buffer of call site `line` (not 0), from a slot table of
 * `slot_count` slots with `*state` set to CV_STACK_FRESH before first use.
 * A line already seen gets its buffer again (grown, contents kept, when
 * `size` is larger than before); a new line takes the first free slot and a
 * new heap buffer of `size` bytes.  Null, with `*state` set to
 * CV_STACK_FAILED, when out of memory ("Out of stack memory at %s::%d (%s)")
 * or out of slots ("Out of stack slots at %s::%d (%s)"), both logged; null
 * without logging once the table has failed or for bad arguments.  Callers
 * check the state after their allocations and treat CV_STACK_FAILED as status
 * 8. */
void *cv_stack_alloc(const char *file, const char *function, std::uint32_t line,
                     std::size_t size, cv_stack_slot *slots, std::size_t slot_count,
                     std::uint32_t *state);

/* Frees every buffer of the table and marks its slots free; the state is
 * kept.  Nothing happens to a fresh table.  Always 1. */
int cv_stack_free_all(cv_stack_slot *slots, std::size_t slot_count, std::uint32_t *state);

/* Live scratch buffers of the process, for diagnostics. */
std::int64_t cv_stack_live_buffers();

/* cv_stack_alloc for the calling line of a table named `slots` (an array)
 * with state `state` in the caller's frame. */
#define CV_STACK_ALLOC(size, slots, state)                                              \
    cv_stack_alloc(__FILE__, __func__, __LINE__, (size), (slots),                       \
                   sizeof(slots) / sizeof((slots)[0]), &(state))
