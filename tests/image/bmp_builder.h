// Builds BMP files byte by byte for the reader's tests, and opens them through bmp_open.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/bmp_image.h"

struct bmp_recipe {
    int32_t width = 1;
    int32_t height = 1;
    int16_t bit_count = 24;
    uint32_t compression = 0;
    uint32_t info_size = 40;
    std::vector<uint32_t> masks;  // at byte 54: inside a longer header, else before the table
    std::vector<uint32_t> table;  // entries after the information header (and the masks)
    std::vector<uint8_t> data;    // pixel bytes as stored
    uint32_t data_offset = 0;     // 0: right after the table
    uint32_t image_size = 0;
};

std::vector<uint8_t> bmp_bytes(const bmp_recipe& recipe);

// Rows given top row first, padded to `stride` bytes and stored bottom row first.
std::vector<uint8_t> bottom_up(const std::vector<std::vector<uint8_t>>& rows, size_t stride);

// A palette entry as stored: blue, green, red, unused.
constexpr uint32_t palette_entry(uint8_t red, uint8_t green, uint8_t blue) {
    return uint32_t{blue} | uint32_t{green} << 8 | uint32_t{red} << 16 | 0xEEu << 24;
}

struct bmp_closer {
    void operator()(bmp_image* image) const { bmp_close(image); }
};
using bmp_handle = std::unique_ptr<bmp_image, bmp_closer>;

struct open_result {
    bmp_handle image;
    int error;  // errno after a failed open, 0 after a successful one
};

// Writes `bytes` to a temporary file, opens it with bmp_open and removes the file again.
open_result open_bytes(const std::vector<uint8_t>& bytes);
open_result open_recipe(const bmp_recipe& recipe);
