// Allocation failures on demand: a child process caps its own address space just above what it
// holds, so that a large buffer cannot be had while small ones still can.
#pragma once

#include <cstddef>

// Sanitizer runtimes reserve far more address space than such a cap leaves.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZELT_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ZELT_SANITIZED 1
#endif
#endif

// Caps this process's address space at what it holds now plus `room_bytes`. Returns false when
// the cap cannot be set or does not hold (an allocation of `probe_bytes` still succeeds, as
// under emulators that accept a cap and ignore it).
bool cap_address_space(size_t room_bytes, size_t probe_bytes);
