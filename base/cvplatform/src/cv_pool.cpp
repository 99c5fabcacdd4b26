// Fixed-size item pools.
//
// A pool takes memory from the system in chunks of `granularity` items and
// never returns a chunk before the pool is destroyed.  Allocation pops the
// free list (released items linked through their first word) or bumps a
// pointer through the newest chunk; release pushes onto the free list.  Both
// are O(1) apart from the occasional new chunk.
//
// A tracked pool (the default) keeps an allocation bitmap at the head of each
// chunk, one bit per item, so that a release of anything but a live item of
// the pool is refused instead of corrupting the free list.  To find the chunk
// of a pointer cheaply, chunks are hashed into 256 buckets by (chunk address /
// chunk size): the items of a chunk that starts in slot k of that division lie
// in slots k and k + 1, so a pointer's chunk is in bucket q - 1 or q (q = the
// pointer / chunk size), two probes of short chains.
//
// Layout of a chunk: bitmap (bitmap_bytes, 32-bit words; none when untracked),
// then granularity items.  Chunks come from malloc, whose alignment, a bitmap
// of whole 8-byte units and an item size rounded to 8 keep every item 8-byte
// aligned, so the free-list word and the callers' pointers are well aligned.
#include "cvplatform/cv_containers.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "cvplatform/cv_log.h"
#include "cvplatform/cv_mutex.h"

namespace {

constexpr std::uint32_t kAllFlags = CV_POOL_ZEROED | CV_POOL_LOCKED | CV_POOL_UNTRACKED;
constexpr std::uint64_t kGranularityStep = 32;  /* bits per bitmap word */
constexpr std::uint64_t kMinItemSize = 8;       /* room for the free-list link */
constexpr std::uint64_t kItemAlignment = 8;
constexpr std::uint64_t kChunkTableStep = 256;
constexpr std::size_t kBucketCount = 256;
constexpr std::uint64_t kNoChunk = ~std::uint64_t{0};

/* Records, tables and chunks currently held by all pools. */
std::atomic<std::int64_t> g_live_pool_allocations{0};

void *counted_malloc(std::size_t size) {
    void *p = std::malloc(size);
    if (p) ++g_live_pool_allocations;
    return p;
}

void *counted_calloc(std::size_t size) {
    void *p = std::calloc(1, size);
    if (p) ++g_live_pool_allocations;
    return p;
}

void counted_free(void *p) {
    if (!p) return;
    std::free(p);
    --g_live_pool_allocations;
}

std::uint64_t round_up(std::uint64_t value, std::uint64_t step) {
    return (value + step - 1) / step * step;
}

}  // namespace

struct cv_memory_pool {
    std::uint32_t flags = 0;
    std::uint64_t item_size = 0;
    std::uint64_t granularity = 0;
    std::uint64_t bitmap_bytes = 0;
    std::uint64_t chunk_size = 0;
    void *free_list = nullptr;
    char *next_fresh = nullptr;
    char *chunk_end = nullptr;
    std::uint64_t chunk_capacity = 0;
    std::uint64_t chunk_count = 0;
    char **chunks = nullptr;
    cv_mutex mutex;
    std::uint64_t *chains = nullptr;  /* next chunk index in the same bucket */
    std::uint32_t *current_word = nullptr;
    std::uint32_t current_bit = 0;
    std::uint64_t buckets[kBucketCount];
};

namespace {

bool tracked(const cv_memory_pool *pool) { return (pool->flags & CV_POOL_UNTRACKED) == 0; }
bool locked(const cv_memory_pool *pool) { return (pool->flags & CV_POOL_LOCKED) != 0; }

/* Takes the pool's mutex when the pool has one; logs a failure. */
cv_status pool_lock(cv_memory_pool *pool) {
    if (!locked(pool)) return CV_OK;
    const cv_status status = cv_mutex_acquire(&pool->mutex);
    if (status != CV_OK) cv_log_error("Unable to acquire memory pool mutex!");
    return status;
}

cv_status pool_unlock(cv_memory_pool *pool) {
    if (!locked(pool)) return CV_OK;
    const cv_status status = cv_mutex_release(&pool->mutex);
    if (status != CV_OK) cv_log_error("Unable to release memory pool mutex!");
    return status;
}

std::size_t bucket_of(std::uintptr_t address, std::uint64_t chunk_size) {
    return static_cast<std::size_t>((address / chunk_size) % kBucketCount);
}

/* Where an item's allocation bit lives. */
struct item_bit {
    std::uint32_t *word;
    std::uint32_t mask;
};

/* Finds the bitmap bit of `item` in a tracked pool; false when `item` is not
 * the start of an item of one of the pool's chunks. */
bool find_item(const cv_memory_pool *pool, const void *item, item_bit *bit) {
    const auto address = reinterpret_cast<std::uintptr_t>(item);
    const std::uint64_t q = address / pool->chunk_size;
    const std::size_t probes[2] = {static_cast<std::size_t>((q - 1) % kBucketCount),
                                   static_cast<std::size_t>(q % kBucketCount)};
    for (const std::size_t bucket : probes) {
        for (std::uint64_t index = pool->buckets[bucket]; index != kNoChunk;
             index = pool->chains[index]) {
            const auto start = reinterpret_cast<std::uintptr_t>(pool->chunks[index]);
            if (address < start || address - start >= pool->chunk_size) continue;
            const std::uintptr_t offset = address - start;
            if (offset < pool->bitmap_bytes) return false;
            const std::uint64_t item_offset = offset - pool->bitmap_bytes;
            if (item_offset % pool->item_size != 0) return false;
            const std::uint64_t n = item_offset / pool->item_size;
            auto *words = reinterpret_cast<std::uint32_t *>(pool->chunks[index]);
            bit->word = words + n / 32;
            bit->mask = std::uint32_t{1} << (n % 32);
            return true;
        }
    }
    return false;
}

void push_free(cv_memory_pool *pool, void *item) {
    std::memcpy(item, &pool->free_list, sizeof pool->free_list);
    pool->free_list = item;
}

void *pop_free(cv_memory_pool *pool) {
    void *item = pool->free_list;
    std::memcpy(&pool->free_list, item, sizeof pool->free_list);
    return item;
}

/* Makes room for one more chunk in the chunk table (and the chain table). */
bool grow_chunk_table(cv_memory_pool *pool) {
    if (pool->chunk_count < pool->chunk_capacity) return true;
    if (cv_log_verbosity >= 1)
        cv_log_debug(
            "Enlarging memory pool chunk table size.  Pool item leak?  Granularity too small?");
    const std::uint64_t capacity = pool->chunk_capacity + kChunkTableStep;
    auto *chunks = static_cast<char **>(std::realloc(pool->chunks, capacity * sizeof(char *)));
    if (!chunks) return false;
    pool->chunks = chunks;
    if (tracked(pool)) {
        auto *chains = static_cast<std::uint64_t *>(
            std::realloc(pool->chains, capacity * sizeof(std::uint64_t)));
        if (!chains) return false;  // the larger chunk table is kept; capacity is not
        pool->chains = chains;
    }
    pool->chunk_capacity = capacity;
    return true;
}

/* Starts a new chunk for bump allocation; false when out of memory. */
bool add_chunk(cv_memory_pool *pool) {
    const auto size = static_cast<std::size_t>(pool->chunk_size);
    char *chunk = static_cast<char *>((pool->flags & CV_POOL_ZEROED) ? counted_calloc(size)
                                                                      : counted_malloc(size));
    if (!chunk) return false;
    if (!grow_chunk_table(pool)) {
        counted_free(chunk);
        return false;
    }
    const std::uint64_t index = pool->chunk_count++;
    pool->chunks[index] = chunk;
    if (tracked(pool)) {
        if ((pool->flags & CV_POOL_ZEROED) == 0) std::memset(chunk, 0, pool->bitmap_bytes);
        pool->current_word = reinterpret_cast<std::uint32_t *>(chunk);
        pool->current_bit = 1;
        const std::size_t bucket =
            bucket_of(reinterpret_cast<std::uintptr_t>(chunk), pool->chunk_size);
        pool->chains[index] = pool->buckets[bucket];
        pool->buckets[bucket] = index;
    }
    pool->next_fresh = chunk + pool->bitmap_bytes;
    pool->chunk_end = chunk + pool->chunk_size;
    return true;
}

void set_status(cv_status *out, cv_status status) {
    if (out) *out = status;
}

}  // namespace

cv_memory_pool *cv_memory_pool_create(std::size_t item_size, std::size_t granularity,
                                      std::uint32_t flags, cv_status *status) {
    if ((flags & ~kAllFlags) != 0) {
        cv_log_error("Invalid flags 0x%X sent to cv_memory_pool_create", flags);
        set_status(status, CV_E_INVALID);
        return nullptr;
    }
    if (granularity < 1 || granularity > CV_POOL_MAX_GRANULARITY) {
        cv_log_error("cv_memory_pool_create:  Invalid granularity");
        set_status(status, CV_E_INVALID);
        return nullptr;
    }
    const std::uint64_t rounded_granularity = round_up(granularity, kGranularityStep);
    std::uint64_t size = item_size < kMinItemSize ? kMinItemSize : item_size;
    if (size > ~std::uint64_t{0} - kItemAlignment) {
        set_status(status, CV_E_INVALID);
        return nullptr;
    }
    size = round_up(size, kItemAlignment);
    const bool is_tracked = (flags & CV_POOL_UNTRACKED) == 0;
    const std::uint64_t bitmap_bytes = is_tracked ? round_up(rounded_granularity / 8, 8) : 0;
    std::uint64_t items_bytes = 0;
    std::uint64_t chunk_size = 0;
    // A chunk that cannot be sized would wrap around into a tiny allocation.
    if (__builtin_mul_overflow(size, rounded_granularity, &items_bytes) ||
        __builtin_add_overflow(items_bytes, bitmap_bytes, &chunk_size) ||
        chunk_size > static_cast<std::uint64_t>(PTRDIFF_MAX)) {
        set_status(status, CV_E_INVALID);
        return nullptr;
    }

    auto *pool = new (std::nothrow) cv_memory_pool;
    if (!pool) {
        set_status(status, CV_E_NO_MEMORY);
        return nullptr;
    }
    ++g_live_pool_allocations;
    pool->flags = flags;
    pool->item_size = size;
    pool->granularity = rounded_granularity;
    pool->bitmap_bytes = bitmap_bytes;
    pool->chunk_size = chunk_size;
    pool->chunk_capacity = kChunkTableStep;
    for (auto &head : pool->buckets) head = kNoChunk;
    if (is_tracked) {
        pool->chains =
            static_cast<std::uint64_t *>(counted_malloc(kChunkTableStep * sizeof(std::uint64_t)));
    }
    pool->chunks = static_cast<char **>(counted_malloc(kChunkTableStep * sizeof(char *)));
    if (!pool->chunks || (is_tracked && !pool->chains)) {
        counted_free(pool->chains);
        counted_free(pool->chunks);
        delete pool;
        --g_live_pool_allocations;
        set_status(status, CV_E_NO_MEMORY);
        return nullptr;
    }
    if (locked(pool)) cv_mutex_init(&pool->mutex);
    set_status(status, CV_OK);
    return pool;
}

void *cv_memory_pool_alloc(cv_memory_pool *pool, cv_status *status) {
    if (!pool) {
        set_status(status, CV_E_INVALID);
        return nullptr;
    }
    const cv_status lock_status = pool_lock(pool);
    if (lock_status != CV_OK) {
        set_status(status, lock_status);
        return nullptr;
    }

    if (pool->free_list) {
        if (tracked(pool)) {
            item_bit bit{};
            if (!find_item(pool, pool->free_list, &bit)) {
                pool_unlock(pool);
                set_status(status, CV_E_INVALID);
                return nullptr;
            }
            *bit.word |= bit.mask;
        }
        void *item = pop_free(pool);
        pool_unlock(pool);
        if (pool->flags & CV_POOL_ZEROED) std::memset(item, 0, pool->item_size);
        set_status(status, CV_OK);
        return item;
    }

    if (!pool->next_fresh || pool->next_fresh >= pool->chunk_end) {
        if (!add_chunk(pool)) {
            cv_log_error("Unable to allocate memory for pool!");
            pool_unlock(pool);
            set_status(status, CV_E_NO_MEMORY);
            return nullptr;
        }
    }

    void *item = pool->next_fresh;
    if (tracked(pool)) {
        *pool->current_word |= pool->current_bit;
        if (pool->current_bit == 0x80000000u) {
            ++pool->current_word;
            pool->current_bit = 1;
        } else {
            pool->current_bit <<= 1;
        }
    }
    pool->next_fresh += pool->item_size;

    const cv_status unlock_status = pool_unlock(pool);
    if (unlock_status != CV_OK) {
        set_status(status, unlock_status);
        return nullptr;
    }
    set_status(status, CV_OK);
    return item;
}

cv_status cv_memory_pool_free(cv_memory_pool *pool, void *item) {
    if (!pool || !item) return CV_E_INVALID;
    const cv_status lock_status = pool_lock(pool);
    if (lock_status != CV_OK) return lock_status;

    cv_status result = CV_OK;
    if (!tracked(pool)) {
        push_free(pool, item);
    } else {
        item_bit bit{};
        if (!find_item(pool, item, &bit)) {
            cv_log_error("Attempt to free an invalid pool member");
            result = CV_E_INVALID;
        } else if ((*bit.word & bit.mask) == 0) {
            cv_log_error("Attempt to free an unallocated pool member");
            result = CV_E_INVALID;
        } else {
            *bit.word &= ~bit.mask;
            push_free(pool, item);
        }
    }

    const cv_status unlock_status = pool_unlock(pool);
    return unlock_status != CV_OK ? unlock_status : result;
}

cv_status cv_memory_pool_destroy(cv_memory_pool *pool) {
    if (!pool) return CV_E_INVALID;
    if (locked(pool) && cv_mutex_destroy(&pool->mutex) != CV_OK)
        cv_log_error("Unable to destroy memory pool mutex!");
    for (std::uint64_t i = 0; i < pool->chunk_count; ++i) counted_free(pool->chunks[i]);
    counted_free(pool->chains);
    counted_free(pool->chunks);
    delete pool;
    --g_live_pool_allocations;
    return CV_OK;
}

cv_status cv_memory_pool_get_stats(const cv_memory_pool *pool, cv_memory_pool_stats *stats) {
    if (!pool || !stats) return CV_E_INVALID;
    stats->item_size = pool->item_size;
    stats->granularity = pool->granularity;
    stats->bitmap_bytes = pool->bitmap_bytes;
    stats->chunk_size = pool->chunk_size;
    stats->chunk_count = pool->chunk_count;
    stats->chunk_capacity = pool->chunk_capacity;
    return CV_OK;
}

std::int64_t cv_memory_pool_live_allocations() { return g_live_pool_allocations.load(); }
