// Labelled allocation wrappers and the region heap of the configuration
// framework.
//
// A heap is a list of chunks, the newest (current) first.  Allocation bumps
// the used count of the current chunk after rounding it up to the alignment;
// a request that does not fit starts a fresh chunk (the rest of the old one is
// never used again), so allocation is O(1) apart from the occasional chunk.
// A request of a whole chunk or more gets a dedicated block linked right
// after the current chunk, so that small allocations keep filling the
// current one.  Release walks the chunk list once: chunks, and dedicated
// blocks whose size equals a chunk's, go onto a process-wide free list,
// larger blocks back to the system; the controller goes onto a free list of
// its own.  Both lists only grow, and each has its own mutex, created on
// first use, so heaps on different threads may share them.
//
// Layout of a chunk: a 16-byte-aligned header (next, used, last allocation)
// followed by the space, which therefore starts on a 16-byte boundary.
#include "uac/cv_uac_memory_heap.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "cvplatform/cv_log.h"
#include "cvplatform/cv_mutex.h"

namespace {

struct alignas(16) heap_chunk {
    heap_chunk *next;
    std::size_t used;   /* bytes used; for a dedicated block, its size */
    void *last;         /* address of the last allocation */
};

/* Space of an ordinary chunk and of a dedicated block of `size` bytes. */
char *chunk_space(heap_chunk *chunk) { return reinterpret_cast<char *>(chunk + 1); }

/* The source lines the two module-internal failure messages report; log
 * watchers key on these values, so they stay fixed whatever the file
 * layout. */
constexpr int kChunkFailureLine = 40;
constexpr int kControllerFailureLine = 406;

constexpr const char *kChunkLabel = "Memory Heap Chunk";
constexpr const char *kControllerLabel = "Memory heap controller";

/* Process-wide state of the module. */
struct heap_free_lists {
    cv_mutex chunk_mutex;
    cv_mutex controller_mutex;
    heap_chunk *free_chunks = nullptr;
    cv_uac_heap *free_controllers = nullptr;
    std::uint64_t free_chunk_count = 0;
    std::uint64_t free_controller_count = 0;
    std::atomic<cv_uac_heap_failure_callback> default_failure{nullptr};
    std::atomic<std::uint64_t> heaps_created{0};
    std::atomic<std::uint64_t> heaps_released{0};
};

/* Created on first use, never destroyed: heaps may be released from static
 * destructors of other modules. */
heap_free_lists &free_lists() {
    static heap_free_lists *lists = [] {
        auto *created = new heap_free_lists;
        cv_mutex_init(&created->chunk_mutex);
        cv_mutex_init(&created->controller_mutex);
        return created;
    }();
    return *lists;
}

char g_shared_empty_string[1] = {'\0'};

void log_allocation_failure(const char *operation, const char *file, int line,
                            std::size_t size, const char *label) {
    cv_log_error("%s failed.  file: %s  line: %d  bytes: %zu%s%s%s", operation, file, line,
                 size, label ? " (" : "", label ? label : "", label ? ")" : "");
}

}  // namespace

struct cv_uac_heap {
    void *user_data;
    cv_uac_heap_failure_callback failure;
    heap_chunk *current;
    cv_uac_heap *next_free; /* link while on the free controller list */
};

namespace {

void report_failure(const cv_uac_heap *heap, std::size_t bytes) {
    cv_uac_heap_failure_callback failure =
        heap->failure ? heap->failure : free_lists().default_failure.load();
    if (failure) failure(bytes, heap->user_data);
}

/* A chunk from the free list or the system, empty; null when none can be
 * had (reported). */
heap_chunk *take_chunk(const cv_uac_heap *heap) {
    heap_free_lists &lists = free_lists();
    {
        cv_mutex_guard guard(&lists.chunk_mutex);
        if (guard.status() == CV_OK && lists.free_chunks) {
            heap_chunk *chunk = lists.free_chunks;
            lists.free_chunks = chunk->next;
            --lists.free_chunk_count;
            chunk->next = nullptr;
            chunk->used = 0;
            chunk->last = nullptr;
            return chunk;
        }
    }
    constexpr std::size_t kFullSize = sizeof(heap_chunk) + CV_UAC_HEAP_CHUNK_SIZE;
    auto *chunk = static_cast<heap_chunk *>(std::malloc(kFullSize));
    if (!chunk) {
        log_allocation_failure("malloc", __FILE__, kChunkFailureLine, kFullSize, kChunkLabel);
        report_failure(heap, kFullSize);
        return nullptr;
    }
    *chunk = heap_chunk{nullptr, 0, nullptr};
    return chunk;
}

/* A dedicated block for `size` bytes, linked after the current chunk (or
 * made the current one); null when none can be had (reported). */
void *take_dedicated_block(cv_uac_heap *heap, std::size_t size) {
    if (size > std::numeric_limits<std::size_t>::max() - sizeof(heap_chunk)) {
        report_failure(heap, std::numeric_limits<std::size_t>::max());
        return nullptr;
    }
    const std::size_t full_size = sizeof(heap_chunk) + size;
    auto *block = static_cast<heap_chunk *>(std::malloc(full_size));
    if (!block) {
        report_failure(heap, full_size);
        return nullptr;
    }
    block->used = size;
    block->last = chunk_space(block);
    if (heap->current) {
        block->next = heap->current->next;
        heap->current->next = block;
    } else {
        block->next = nullptr;
        heap->current = block;
    }
    return block->last;
}

std::size_t round_up(std::size_t value, std::size_t step) {
    const std::size_t remainder = value % step;
    if (remainder == 0) return value;
    const std::size_t padding = step - remainder;
    return value > std::numeric_limits<std::size_t>::max() - padding
               ? std::numeric_limits<std::size_t>::max()
               : value + padding;
}

}  // namespace

void *cv_uac_malloc(std::size_t size, const char *label, const char *file, int line) {
    void *memory = std::malloc(size);
    if (!memory) log_allocation_failure("malloc", file, line, size, label);
    return memory;
}

void *cv_uac_calloc(std::size_t size, const char *label, const char *file, int line) {
    void *memory = std::calloc(1, size);
    if (!memory) log_allocation_failure("calloc", file, line, size, label);
    return memory;
}

char *cv_uac_strdup(const char *text, const char *label, const char *file, int line) {
    char *copy = nullptr;
    if (text) {
        const std::size_t size = std::strlen(text) + 1;
        copy = static_cast<char *>(std::malloc(size));
        if (copy) std::memcpy(copy, text, size);
    }
    if (!copy)
        cv_log_error("strdup failed.  file: %s  line: %d  src: %s%s%s%s", file, line,
                     text ? text : "<NULL>", label ? " (" : "", label ? label : "",
                     label ? ")" : "");
    return copy;
}

void cv_uac_free(void *memory) { std::free(memory); }

cv_status cv_uac_heap_create(cv_uac_heap **heap, void *user_data,
                             cv_uac_heap_failure_callback failure) {
    if (!heap) return CV_E_INVALID;
    *heap = nullptr;
    heap_free_lists &lists = free_lists();
    cv_uac_heap *controller = nullptr;
    {
        cv_mutex_guard guard(&lists.controller_mutex);
        if (guard.status() == CV_OK && lists.free_controllers) {
            controller = lists.free_controllers;
            lists.free_controllers = controller->next_free;
            --lists.free_controller_count;
        }
    }
    if (!controller) {
        controller = static_cast<cv_uac_heap *>(std::calloc(1, sizeof(cv_uac_heap)));
        if (!controller) {
            log_allocation_failure("calloc", __FILE__, kControllerFailureLine,
                                   sizeof(cv_uac_heap), kControllerLabel);
            cv_uac_heap_failure_callback callback =
                failure ? failure : lists.default_failure.load();
            if (callback) callback(sizeof(cv_uac_heap), user_data);
            return CV_E_NO_MEMORY;
        }
    }
    *controller = cv_uac_heap{user_data, failure, nullptr, nullptr};
    ++lists.heaps_created;
    *heap = controller;
    return CV_OK;
}

void *cv_uac_heap_alloc(cv_uac_heap *heap, std::size_t size, std::size_t alignment) {
    if (!heap) return nullptr;
    if (alignment == 0) alignment = CV_UAC_HEAP_DEFAULT_ALIGNMENT;
    if (size >= CV_UAC_HEAP_CHUNK_SIZE) return take_dedicated_block(heap, size);

    heap_chunk *chunk = heap->current;
    std::size_t offset = 0;
    if (chunk) {
        offset = round_up(chunk->used, alignment);
        if (offset > CV_UAC_HEAP_CHUNK_SIZE || size > CV_UAC_HEAP_CHUNK_SIZE - offset)
            chunk = nullptr;
    }
    if (!chunk) {
        chunk = take_chunk(heap);
        if (!chunk) return nullptr;
        chunk->next = heap->current;
        heap->current = chunk;
        offset = 0;
    }
    chunk->last = chunk_space(chunk) + offset;
    chunk->used = offset + size;
    return chunk->last;
}

void *cv_uac_heap_calloc(cv_uac_heap *heap, std::size_t size, std::size_t alignment) {
    void *memory = cv_uac_heap_alloc(heap, size, alignment);
    if (memory) std::memset(memory, 0, size);
    return memory;
}

const char *cv_uac_heap_strdup(cv_uac_heap *heap, const char *text) {
    if (!heap || !text) return nullptr;
    if (*text == '\0') return g_shared_empty_string;
    const std::size_t size = std::strlen(text) + 1;
    auto *copy = static_cast<char *>(cv_uac_heap_alloc(heap, size, 1));
    if (copy) std::memcpy(copy, text, size);
    return copy;
}

cv_status cv_uac_heap_release(cv_uac_heap **holder) {
    if (!holder || !*holder) return CV_OK;
    cv_uac_heap *heap = *holder;
    *holder = nullptr;

    heap_free_lists &lists = free_lists();
    heap_chunk *chunk = heap->current;
    while (chunk) {
        heap_chunk *next = chunk->next;
        bool recycled = false;
        if (chunk->used <= CV_UAC_HEAP_CHUNK_SIZE) {
            cv_mutex_guard guard(&lists.chunk_mutex);
            if (guard.status() == CV_OK) {
                chunk->next = lists.free_chunks;
                lists.free_chunks = chunk;
                ++lists.free_chunk_count;
                recycled = true;
            }
        }
        if (!recycled) std::free(chunk);
        chunk = next;
    }
    heap->current = nullptr;
    bool recycled = false;
    {
        cv_mutex_guard guard(&lists.controller_mutex);
        if (guard.status() == CV_OK) {
            heap->next_free = lists.free_controllers;
            lists.free_controllers = heap;
            ++lists.free_controller_count;
            recycled = true;
        }
    }
    if (!recycled) std::free(heap);
    ++lists.heaps_released;
    return CV_OK;
}

cv_uac_heap_failure_callback cv_uac_heap_set_default_failure_callback(
    cv_uac_heap_failure_callback failure) {
    return free_lists().default_failure.exchange(failure);
}

cv_status cv_uac_heap_get_stats(cv_uac_heap_stats *stats) {
    if (!stats) return CV_E_INVALID;
    heap_free_lists &lists = free_lists();
    stats->heaps_created = lists.heaps_created.load();
    stats->heaps_released = lists.heaps_released.load();
    {
        cv_mutex_guard guard(&lists.chunk_mutex);
        stats->free_chunks = lists.free_chunk_count;
    }
    {
        cv_mutex_guard guard(&lists.controller_mutex);
        stats->free_controllers = lists.free_controller_count;
    }
    return CV_OK;
}
