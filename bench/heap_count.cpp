// Counting wrappers around glibc's allocator. They replace malloc and its relatives for the
// whole benchmark process (the executable's definitions win over the C library's), forward to
// glibc's own entry points, and keep the usable size of every live block in a running total.
#include "bench/heap_count.h"

#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>

// glibc's own allocator entry points, which the public names forward to.
extern "C" {
void* __libc_malloc(size_t size);                      // NOLINT(bugprone-reserved-identifier)
void* __libc_calloc(size_t count, size_t size);        // NOLINT(bugprone-reserved-identifier)
void* __libc_realloc(void* block, size_t size);        // NOLINT(bugprone-reserved-identifier)
void* __libc_memalign(size_t alignment, size_t size);  // NOLINT(bugprone-reserved-identifier)
void __libc_free(void* block);                         // NOLINT(bugprone-reserved-identifier)
}

namespace {

std::atomic<int64_t> in_use{0};
std::atomic<int64_t> peak{0};

int64_t usable(void* block) {
    return block == nullptr ? 0 : static_cast<int64_t>(malloc_usable_size(block));
}

void note_taken(void* block) {
    const int64_t size = usable(block);
    const int64_t now = in_use.fetch_add(size, std::memory_order_relaxed) + size;
    int64_t seen = peak.load(std::memory_order_relaxed);
    while (now > seen && !peak.compare_exchange_weak(seen, now, std::memory_order_relaxed)) {
    }
}

void note_given_back(void* block) {
    in_use.fetch_sub(usable(block), std::memory_order_relaxed);
}

void* aligned(size_t alignment, size_t size) {
    void* block = __libc_memalign(alignment, size);
    note_taken(block);
    return block;
}

}  // namespace

int64_t heap_in_use_bytes() {
    return in_use.load(std::memory_order_relaxed);
}

void heap_peak_reset() {
    peak.store(in_use.load(std::memory_order_relaxed), std::memory_order_relaxed);
}

int64_t heap_peak_bytes() {
    return peak.load(std::memory_order_relaxed);
}

extern "C" {

void* malloc(size_t size) {
    void* block = __libc_malloc(size);
    note_taken(block);
    return block;
}

void* calloc(size_t count, size_t size) {
    void* block = __libc_calloc(count, size);
    note_taken(block);
    return block;
}

void* realloc(void* block, size_t size) {
    const int64_t before = usable(block);
    void* moved = __libc_realloc(block, size);
    if (moved == nullptr && size != 0) {
        return nullptr;  // the old block is still there, still counted
    }
    in_use.fetch_sub(before, std::memory_order_relaxed);
    note_taken(moved);
    return moved;
}

void free(void* block) {
    note_given_back(block);
    __libc_free(block);
}

int posix_memalign(void** out, size_t alignment, size_t size) {
    void* block = aligned(alignment, size);
    if (block == nullptr) {
        return ENOMEM;
    }
    *out = block;
    return 0;
}

void* aligned_alloc(size_t alignment, size_t size) {
    return aligned(alignment, size);
}

void* memalign(size_t alignment, size_t size) {
    return aligned(alignment, size);
}

void* valloc(size_t size) {
    return aligned(static_cast<size_t>(sysconf(_SC_PAGESIZE)), size);
}

}  // extern "C"
