// Scratch buffers in place of large stack arrays.
//
// A function that needs several path-sized work buffers keeps a small slot
// table in its frame and asks for each buffer by its source line, so the same
// statement executed again (in a loop) reuses its buffer instead of taking a
// new one.  One cv_stack_free_all on every exit path releases them all.  The
// table's state word makes failures sticky: after the first failure every
// request of the table answers null, and the caller checks the state once.
#include "cvplatform/cv_containers.h"

#include <atomic>
#include <cstdlib>

#include "cvplatform/cv_log.h"

namespace {

/* Scratch buffers currently held by all slot tables. */
std::atomic<std::int64_t> g_live_scratch_buffers{0};

enum class failure { memory, slots };

/* Reports a failure of the table and answers null. */
void *fail(std::uint32_t *state, failure kind, const char *file, const char *function,
           std::uint32_t line) {
    const char *where = function ? function : "";
    const char *source = file ? file : "";
    if (kind == failure::memory)
        cv_log_error("Out of stack memory at %s::%d (%s)", where, static_cast<int>(line), source);
    else
        cv_log_error("Out of stack slots at %s::%d (%s)", where, static_cast<int>(line), source);
    *state = CV_STACK_FAILED;
    return nullptr;
}

}  // namespace

void *cv_stack_alloc(const char *file, const char *function, std::uint32_t line,
                     std::size_t size, cv_stack_slot *slots, std::size_t slot_count,
                     std::uint32_t *state) {
    if (!state || (!slots && slot_count != 0)) return nullptr;
    if (*state == CV_STACK_FRESH) {
        for (std::size_t i = 0; i < slot_count; ++i) slots[i] = cv_stack_slot{nullptr, 0, 0};
        *state = CV_STACK_IN_USE;
    }
    if (*state != CV_STACK_IN_USE) return nullptr;
    if (line == 0) {  // 0 marks a free slot and can never name a call site
        *state = CV_STACK_FAILED;
        return nullptr;
    }
    // malloc(0) may answer null; a scratch buffer always has a byte.
    const std::size_t bytes = size ? size : 1;

    cv_stack_slot *free_slot = nullptr;
    for (std::size_t i = 0; i < slot_count; ++i) {
        cv_stack_slot &slot = slots[i];
        if (slot.line == line) {
            if (bytes <= slot.size) return slot.buffer;
            // The same call site asking for more (a size computed at run
            // time) must not get the smaller buffer of an earlier pass.
            void *grown = std::realloc(slot.buffer, bytes);
            if (!grown)
                return fail(state, failure::memory, file, function, line);
            slot.buffer = grown;
            slot.size = bytes;
            return grown;
        }
        if (slot.line == 0 && !free_slot) free_slot = &slot;
    }
    if (!free_slot) return fail(state, failure::slots, file, function, line);

    void *buffer = std::malloc(bytes);
    if (!buffer) return fail(state, failure::memory, file, function, line);
    ++g_live_scratch_buffers;
    *free_slot = cv_stack_slot{buffer, line, bytes};
    return buffer;
}

int cv_stack_free_all(cv_stack_slot *slots, std::size_t slot_count, std::uint32_t *state) {
    if (!slots || slot_count == 0 || (state && *state == CV_STACK_FRESH)) return 1;
    for (std::size_t i = 0; i < slot_count; ++i) {
        if (slots[i].buffer) {
            std::free(slots[i].buffer);
            --g_live_scratch_buffers;
        }
        slots[i] = cv_stack_slot{nullptr, 0, 0};
    }
    return 1;
}

std::int64_t cv_stack_live_buffers() { return g_live_scratch_buffers.load(); }
