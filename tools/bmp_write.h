// BMP writer for the host tools and the tests: turns an in-memory RGB picture into a BMP file in
// any of the encodings the program's reader takes, so fixtures and sample pictures are made by
// code rather than stored.
#pragma once

#include <cstdint>
#include <vector>

// A picture in memory: `width` x `height` colours 0x00RRGGBB, top row first, no gaps.
struct rgb_picture {
    int32_t width;
    int32_t height;
    std::vector<uint32_t> pixels;
};

// Makes a `width` x `height` picture filled with `color`.
rgb_picture rgb_picture_make(int32_t width, int32_t height, uint32_t color);

// How the pixels are stored.
enum class bmp_encoding {
    palette1,     // 1 bit per pixel, colour table
    palette4,     // 4 bits per pixel, colour table
    palette8,     // 8 bits per pixel, colour table
    rle8,         // 8 bits per pixel, colour table, run-length encoded (compression 1)
    rgb16,        // 16 bits, no masks (compression 0): the reader's default 5-5-5 layout
    bitfields16,  // 16 bits with channel masks (compression 3); default masks 5-6-5
    rgb24,        // 24 bits: bytes b, g, r
    rgb32,        // 32 bits, no masks (compression 0): bytes b, g, r, 0
    bitfields32,  // 32 bits with channel masks (compression 3); default masks 8-8-8
};

struct bmp_write_options {
    bmp_encoding encoding = bmp_encoding::rgb24;
    bool top_down = false;      // rows stored top row first (negative height); not with rle8
    uint32_t header_size = 40;  // information header length: 40, 108 or 124
    // Channel masks for the bit-field encodings; all zero means the encoding's default. Each
    // colour channel keeps its top bits (as many as its mask has), so 5-5-5 is
    // 0x7C00/0x03E0/0x001F and 5-6-5 is 0xF800/0x07E0/0x001F.
    uint32_t red_mask = 0;
    uint32_t green_mask = 0;
    uint32_t blue_mask = 0;
};

// The palette encodings build their colour table from the picture's own colours, in order of
// first appearance (top row first), with exactly as many entries as there are colours. A
// picture with more colours than the depth can index (2, 16 or 256) is refused, never
// quantised, so whatever is written reads back exactly.
//
// Returns the whole file, or an empty vector when the picture or the options cannot be written
// (with a one-line reason in `*why` when `why` is not null).
std::vector<uint8_t> bmp_encode(const rgb_picture& picture, const bmp_write_options& options,
                                const char** why);

// bmp_encode, then writes the file at `path`. Returns 0, or -1 with a reason in `*why`.
int bmp_write(const char* path, const rgb_picture& picture, const bmp_write_options& options,
              const char** why);

// Short lower-case name of an encoding ("palette8", "rle8", ...), for messages and test names.
const char* bmp_encoding_name(bmp_encoding encoding);
