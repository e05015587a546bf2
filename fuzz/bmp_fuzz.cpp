// libFuzzer target: arbitrary bytes through bmp_open (which takes a path, so each input goes to
// a memory file), then pixels of whatever opens are read. Pictures up to kFullReadPixels are
// read whole; larger ones (a few bytes can claim 65535 x 4096 pixels) are read along their
// edges and both diagonals, which reaches every row and every column extreme at a bounded cost.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "image/bmp_image.h"

namespace {

constexpr int64_t kFullReadPixels = int64_t{1} << 16;

volatile bmp_color sink;

const char* input_path() {
    static char path[64];
    if (path[0] == '\0') {
        const int fd = memfd_create("bmp_fuzz", 0);
        if (fd < 0) {
            perror("memfd_create");
            abort();
        }
        snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    }
    return path;
}

void write_input(const char* path, const uint8_t* data, size_t size) {
    FILE* file = fopen(path, "wb");  // truncates the memory file
    if (file == nullptr || fwrite(data, 1, size, file) != size || fclose(file) != 0) {
        perror("fuzz input");
        abort();
    }
}

void read_pixels(const bmp_image* image) {
    const int32_t width = bmp_width(image);
    const int32_t height = bmp_height(image);
    if (width < 1 || height < 1) {
        abort();  // an open handle is never empty
    }
    bmp_color all = 0;
    if (int64_t{width} * height <= kFullReadPixels) {
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                all |= bmp_getpixel(image, x, y);
            }
        }
    } else {
        for (int32_t y = 0; y < height; ++y) {
            const int32_t x = static_cast<int32_t>(int64_t{y} * (width - 1) / height);
            all |= bmp_getpixel(image, 0, y) | bmp_getpixel(image, width - 1, y) |
                   bmp_getpixel(image, x, y) | bmp_getpixel(image, width - 1 - x, y);
        }
        for (int32_t x = 0; x < width; ++x) {
            all |= bmp_getpixel(image, x, 0) | bmp_getpixel(image, x, height - 1);
        }
    }
    if ((all & 0xFF000000u) != 0) {
        abort();  // colours never carry bits 24-31
    }
    sink = all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* path = input_path();
    write_input(path, data, size);
    bmp_image* image = bmp_open(path);
    if (image != nullptr) {
        read_pixels(image);
        bmp_close(image);
    }
    return 0;
}
