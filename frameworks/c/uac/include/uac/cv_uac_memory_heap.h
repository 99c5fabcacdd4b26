// Allocation for the configuration framework: labelled wrappers around the
// general allocator, and region heaps for short-lived bookkeeping.
//
// Long-lived values (strings, lists, config objects) come from the general
// allocator through the labelled wrappers, which log every failure with the
// caller's file, line, size and a label saying what will be missing.
// Short-lived bookkeeping (XML tracker records, serialization trees, override
// work) comes from a heap: a region allocator that carves allocations out of
// 64 KiB chunks and gives all of them back at once.  Chunks and heap
// controllers are recycled through process-wide free lists, each behind its
// own mutex, so that loading a configuration again does not go back to the
// system allocator.  One heap is used by one thread at a time; different
// heaps may be used on different threads.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cvplatform/cv_status.h"

/* Bytes of allocation space in one chunk.  A request of this size or more
 * gets a dedicated block of its own. */
inline constexpr std::size_t CV_UAC_HEAP_CHUNK_SIZE = 65536;

/* Alignment used when a caller passes 0. */
inline constexpr std::size_t CV_UAC_HEAP_DEFAULT_ALIGNMENT = 8;

/* Called when a heap cannot get memory from the system, with the byte count
 * it asked for and the heap's user data. */
using cv_uac_heap_failure_callback = void (*)(std::size_t bytes, void *user_data);

struct cv_uac_heap;

/* Allocates `size` bytes from the general allocator.  On failure logs
 * "malloc failed.  file: %s  line: %d  bytes: %zu%s" (ERR) with `file`,
 * `line`, the size and " (<label>)" when `label` is not null, and returns
 * null.  Release with cv_uac_free. */
void *cv_uac_malloc(std::size_t size, const char *label, const char *file, int line);

/* As cv_uac_malloc, zeroed; the failure message begins "calloc failed.". */
void *cv_uac_calloc(std::size_t size, const char *label, const char *file, int line);

/* A copy of `text` from the general allocator.  A null text or a failed
 * allocation logs "strdup failed.  file: %s  line: %d  src: %s%s" (the text
 * shown as "<NULL>" when null) and returns null.  Release with cv_uac_free. */
char *cv_uac_strdup(const char *text, const char *label, const char *file, int line);

/* Releases what the three wrappers returned; null is ignored. */
void cv_uac_free(void *memory);

/* The wrappers with the calling file and line filled in. */
#define CV_UAC_MALLOC(size, label) cv_uac_malloc((size), (label), __FILE__, __LINE__)
#define CV_UAC_CALLOC(size, label) cv_uac_calloc((size), (label), __FILE__, __LINE__)
#define CV_UAC_STRDUP(text, label) cv_uac_strdup((text), (label), __FILE__, __LINE__)

/* Creates an empty heap in `*heap`, reusing a released controller when one
 * is free.  `failure` (or, when null, the default callback) is called with
 * `user_data` whenever the heap cannot get memory.  0; 22 for a null `heap`;
 * 8 when the controller cannot be allocated (logged as a calloc failure
 * labelled "Memory heap controller"; `*heap` is then null).  Release with
 * cv_uac_heap_release. */
[[nodiscard]] cv_status cv_uac_heap_create(cv_uac_heap **heap, void *user_data,
                                           cv_uac_heap_failure_callback failure);

/* `size` bytes from `heap`, at an offset into its chunk that is a multiple of
 * `alignment` (0 means 8).  Chunk space starts on a 16-byte boundary, so the
 * address itself is aligned for every alignment that divides 16.  Memory
 * lives until the heap is released;
 * there is no way to free one allocation.  Requests below
 * CV_UAC_HEAP_CHUNK_SIZE are carved from the current chunk or from a fresh
 * one; larger requests get a dedicated block that leaves the current chunk
 * current.  Null for a null heap, or when the system has no
 * memory (a chunk failure is logged as a malloc failure labelled "Memory Heap
 * Chunk"; the failure callback is called with the bytes asked for), and for
 * a size so large that a block's size would overflow. */
void *cv_uac_heap_alloc(cv_uac_heap *heap, std::size_t size, std::size_t alignment);

/* As cv_uac_heap_alloc, zeroed. */
void *cv_uac_heap_calloc(cv_uac_heap *heap, std::size_t size, std::size_t alignment);

/* A copy of `text` in `heap`.  An empty text gives the process-wide shared
 * empty string without allocating (so the result must never be written).
 * Null for a null heap or text, or when out of memory. */
const char *cv_uac_heap_strdup(cv_uac_heap *heap, const char *text);

/* Empties `*holder` and gives every chunk of the heap and its controller
 * back to the process-wide free lists (dedicated blocks larger than a chunk
 * go back to the system).  Always 0; a null holder or an empty one is left
 * as it is. */
cv_status cv_uac_heap_release(cv_uac_heap **holder);

/* Sets the callback used by heaps created without one; null clears it.
 * Returns the previous default. */
cv_uac_heap_failure_callback cv_uac_heap_set_default_failure_callback(
    cv_uac_heap_failure_callback failure);

/* Process-wide counters of the heap module, for diagnostics and tests. */
struct cv_uac_heap_stats {
    std::uint64_t heaps_created;
    std::uint64_t heaps_released;
    std::uint64_t free_chunks;       /* chunks waiting on the free list */
    std::uint64_t free_controllers;  /* controllers waiting on the free list */
};

/* Fills `stats`.  0; 22 for null. */
cv_status cv_uac_heap_get_stats(cv_uac_heap_stats *stats);
