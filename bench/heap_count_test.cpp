// The heap count behind the start-up memory figures: every way of taking and giving back heap
// must move it, or the peak it reports is too low.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "bench/heap_count.h"

namespace {

constexpr size_t kBlockBytes = size_t{3} << 20;  // above glibc's mmap threshold

struct allocation_case {
    const char* name;
    std::function<void*()> take;
};

class HeapCountTest : public ::testing::TestWithParam<allocation_case> {};

TEST_P(HeapCountTest, CountsTheBlockUntilItIsFreed) {
    const int64_t before = heap_in_use_bytes();
    heap_peak_reset();
    void* block = GetParam().take();
    ASSERT_NE(block, nullptr);
    EXPECT_GE(heap_in_use_bytes() - before, static_cast<int64_t>(kBlockBytes));
    free(block);
    EXPECT_EQ(heap_in_use_bytes(), before);
    EXPECT_GE(heap_peak_bytes() - before, static_cast<int64_t>(kBlockBytes));
}

INSTANTIATE_TEST_SUITE_P(
    AllocatorEntries, HeapCountTest,
    ::testing::Values(
        allocation_case{"malloc", [] { return malloc(kBlockBytes); }},
        allocation_case{"calloc", [] { return calloc(kBlockBytes, 1); }},
        allocation_case{"realloc_grown", [] { return realloc(malloc(16), kBlockBytes); }},
        allocation_case{"aligned_alloc", [] { return aligned_alloc(64, kBlockBytes); }},
        allocation_case{"posix_memalign",
                        [] {
                            void* block = nullptr;
                            return posix_memalign(&block, 64, kBlockBytes) == 0 ? block : nullptr;
                        }}),
    [](const ::testing::TestParamInfo<allocation_case>& info) { return info.param.name; });

TEST(HeapCountNewTest, OperatorNewIsCounted) {
    const int64_t before = heap_in_use_bytes();
    auto* text = new std::string(kBlockBytes, 'x');
    EXPECT_GE(heap_in_use_bytes() - before, static_cast<int64_t>(kBlockBytes));
    delete text;
    EXPECT_EQ(heap_in_use_bytes(), before);
}

TEST(HeapPeakTest, ResetStartsFromWhatIsInUseNow) {
    void* kept = malloc(kBlockBytes);
    heap_peak_reset();
    EXPECT_EQ(heap_peak_bytes(), heap_in_use_bytes());
    void* volatile extra = malloc(kBlockBytes);  // volatile: the pair must not be elided
    free(extra);
    EXPECT_GE(heap_peak_bytes() - heap_in_use_bytes(), static_cast<int64_t>(kBlockBytes));
    free(kept);
}

TEST(HeapPeakTest, ShrinkingReallocGivesBytesBack) {
    const int64_t before = heap_in_use_bytes();
    void* block = realloc(malloc(kBlockBytes), 16);
    ASSERT_NE(block, nullptr);
    EXPECT_LT(heap_in_use_bytes() - before, 4096);
    free(block);
    EXPECT_EQ(heap_in_use_bytes(), before);
}

}  // namespace
