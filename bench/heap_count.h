// Heap bytes in use in the benchmark process, counted by wrappers around the C allocator that
// this binary alone links: every malloc, calloc, realloc, aligned allocation and free of the
// process (operator new included) passes through them.
#pragma once

#include <cstdint>

// Bytes the allocator has handed out and not yet taken back (usable sizes, so rounding counts).
int64_t heap_in_use_bytes();

// Starts a new peak: from now on heap_peak_bytes() reports the highest heap_in_use_bytes() seen.
void heap_peak_reset();
int64_t heap_peak_bytes();
