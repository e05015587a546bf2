// Allocation failures: with the address space capped below what a picture needs, bmp_open
// refuses it with ENOMEM, whichever of its buffers could not be had. Each case runs in a forked
// child that ends with exit(), so that coverage counters are written there too.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>

#include "tests/image/bmp_builder.h"
#include "tests/support/address_cap.h"

namespace {

#ifndef ZELT_SANITIZED
constexpr int kRefusedWithEnomem = 0;
constexpr int kOpened = 1;
constexpr int kOtherError = 2;
constexpr int kCapNotHeld = 3;  // no cap, or one that lets a large allocation through
constexpr size_t kRoomBytes = size_t{16} << 20;  // above what the child holds when capped
constexpr size_t kProbeBytes = size_t{64} << 20;

// In a child: caps the address space, makes sure the cap holds, opens `path` and exits with
// what came of it.
[[noreturn]] void open_under_cap(const char* path) {
    if (!cap_address_space(kRoomBytes, kProbeBytes)) {
        exit(kCapNotHeld);
    }
    errno = 0;
    bmp_image* image = bmp_open(path);
    if (image != nullptr) {
        bmp_close(image);
        exit(kOpened);
    }
    exit(errno == ENOMEM ? kRefusedWithEnomem : kOtherError);
}

// Opens `path` in a capped child; returns the child's exit code, -1 if it did not exit.
int open_in_capped_child(const std::string& path) {
    fflush(nullptr);  // the child must not write this process's buffered output a second time
    const pid_t child = fork();
    if (child == 0) {
        open_under_cap(path.c_str());
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}
#endif

struct allocation_case {
    const char* name;
    bmp_recipe recipe;
    off_t file_bytes;  // the file is extended (sparsely) to this length; 0: as built
};

void PrintTo(const allocation_case& c, std::ostream* os) {
    *os << c.name;
}

bmp_recipe rle8(int32_t width, int32_t height) {
    bmp_recipe recipe;
    recipe.width = width;
    recipe.height = height;
    recipe.bit_count = 8;
    recipe.compression = 1;
    recipe.table = {palette_entry(1, 2, 3)};
    recipe.data = {0, 1};  // end of picture
    return recipe;
}

bmp_recipe rle8_in_large_file(off_t file_bytes) {
    bmp_recipe recipe = rle8(4, 4);
    recipe.image_size = static_cast<uint32_t>(file_bytes);
    return recipe;
}

bmp_recipe rgb32(int32_t width, int32_t height) {
    bmp_recipe recipe;
    recipe.width = width;
    recipe.height = height;
    recipe.bit_count = 32;
    return recipe;
}

class AllocationFailure : public testing::TestWithParam<allocation_case> {
protected:
    void TearDown() override {
        if (!path_.empty()) {
            unlink(path_.c_str());
        }
    }
    std::string path_;
};

TEST_P(AllocationFailure, RefusedWithEnomem) {
#ifdef ZELT_SANITIZED
    GTEST_SKIP() << "sanitizers reserve more address space than the cap allows";
#else
    const allocation_case& c = GetParam();
    const char* dir = getenv("TMPDIR");
    path_ = std::string(dir != nullptr ? dir : "/tmp") + "/bmp_alloc_XXXXXX";
    const int fd = mkstemp(path_.data());
    ASSERT_GE(fd, 0) << strerror(errno);
    const std::vector<uint8_t> bytes = bmp_bytes(c.recipe);
    const bool written =
        write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) &&
        (c.file_bytes == 0 || ftruncate(fd, c.file_bytes) == 0);
    close(fd);
    ASSERT_TRUE(written) << strerror(errno);

    const int outcome = open_in_capped_child(path_);
    if (outcome == kCapNotHeld) {
        GTEST_SKIP() << "the address space cap does not hold here";
    }
    EXPECT_EQ(outcome, kRefusedWithEnomem)
        << (outcome == kOpened ? "opened under the cap" : "failed another way");
#endif
}

INSTANTIATE_TEST_SUITE_P(
    Buffers, AllocationFailure,
    testing::Values(
        // Just under the size limit: 65535 x 1024 x 4 bytes of rows.
        allocation_case{"uncompressed_rows", rgb32(65535, 1024), 0},
        // The expanded rows: 16384 x 16383 bytes.
        allocation_case{"rle8_expanded_rows", rle8(16384, 16383), 0},
        // A small picture in a 200 MiB file: the compressed bytes are read whole.
        allocation_case{"rle8_compressed_bytes", rle8_in_large_file(off_t{200} << 20),
                        off_t{200} << 20}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
