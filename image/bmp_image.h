// Inside of the BMP reader: the record of one open picture and the reading steps that fill it.
// Only the reader's own files and its tests include this header; everyone else sees bmplib.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "image/bmplib.h"

// The lookup installed for a picture's depth: colour of the pixel at (x, y), top-left origin.
using bmp_lookup = bmp_color (*)(const bmp_image* image, int32_t x, int32_t y);

// One open picture. The first 14 fields are the 52 header bytes that follow the "BM" signature,
// in file order, and are filled by one read (so record offset = file offset - 2). The file is
// little-endian; the reader targets little-endian ARM and x86 only.
struct bmp_image {
    uint32_t file_size;
    uint32_t reserved;
    uint32_t data_offset;  // where the pixel data starts
    uint32_t info_size;    // length of the information header that starts at byte 14
    int32_t width;
    int32_t height;  // negative in the file for rows stored top row first; positive once open
    uint16_t planes;
    int16_t bit_count;
    uint32_t compression;
    uint32_t image_size;
    int32_t x_pels_per_meter;
    int32_t y_pels_per_meter;
    uint32_t colors_used;
    uint32_t colors_important;

    // Palette pictures: entries read from the file (at most kPaletteEntries); bit fields: 3.
    int32_t table_count;
    // Bytes from one stored row to the next (after RLE8 expansion: `width`).
    int32_t row_stride;
    // Palette pictures: always kPaletteEntries colours as 0x00RRGGBB, zero past `table_count`,
    // so that any index reads inside it. 16 and 32 bits: the red, green and blue masks.
    uint32_t* table;
    // Pixel rows, bottom row first, `row_stride` bytes apart.
    uint8_t* pixels;
    // RLE8: the compressed bytes as read, while they are expanded; null otherwise and after.
    uint8_t* packed;
    bmp_lookup getpixel;
    int32_t blue_bits;
    int32_t green_bits;
    int32_t red_bits;
    int32_t blue_shift;
    int32_t green_shift;
    int32_t red_shift;

    // What the reading steps saw, for bmp_open_seen: the signature, whether the header was all
    // there and how much of the pixel data. Its header fields are filled by bmp_open_seen.
    bmp_seen seen;
};

constexpr size_t kHeaderBytes = 52;  // file offsets 2 to 53
static_assert(offsetof(bmp_image, file_size) == 2 - 2, "header layout");
static_assert(offsetof(bmp_image, data_offset) == 10 - 2, "header layout");
static_assert(offsetof(bmp_image, info_size) == 14 - 2, "header layout");
static_assert(offsetof(bmp_image, width) == 18 - 2, "header layout");
static_assert(offsetof(bmp_image, height) == 22 - 2, "header layout");
static_assert(offsetof(bmp_image, planes) == 26 - 2, "header layout");
static_assert(offsetof(bmp_image, bit_count) == 28 - 2, "header layout");
static_assert(offsetof(bmp_image, compression) == 30 - 2, "header layout");
static_assert(offsetof(bmp_image, image_size) == 34 - 2, "header layout");
static_assert(offsetof(bmp_image, x_pels_per_meter) == 38 - 2, "header layout");
static_assert(offsetof(bmp_image, y_pels_per_meter) == 42 - 2, "header layout");
static_assert(offsetof(bmp_image, colors_used) == 46 - 2, "header layout");
static_assert(offsetof(bmp_image, colors_important) == 50 - 2, "header layout");
static_assert(offsetof(bmp_image, table_count) == kHeaderBytes, "header is exactly 52 bytes");

// Compression codes the reader knows.
constexpr uint32_t kCompressionNone = 0;
constexpr uint32_t kCompressionRle8 = 1;
constexpr uint32_t kCompressionBitFields = 3;

constexpr uint32_t kFileHeaderBytes = 14;  // "BM", size, reserved, data offset
constexpr uint32_t kMinInfoBytes = 40;     // the shortest information header accepted
constexpr uint32_t kMasksOffset = 54;      // the three bit-field masks: red, green, blue
constexpr uint32_t kMaskCount = 3;
constexpr int32_t kPaletteEntries = 256;  // table entries kept for a palette picture
constexpr int64_t kMaxDimension = 65535;  // largest width and height accepted

// Depths whose pixels are indexes into a colour table.
inline bool is_palette_depth(int32_t bits) {
    return bits == 1 || bits == 4 || bits == 8;
}

// Depths whose channels are described by three masks (given, or the defaults).
inline bool is_mask_depth(int32_t bits) {
    return bits == 16 || bits == 32;
}

// Reading steps of bmp_open. Each returns 0 on success, or -1 with errno set (EINVAL, ENOTSUP,
// EFBIG, ENOMEM, or the read's own error); none prints anything. A half-filled record is
// released by bmp_close.

// Reads the signature and the 52 header bytes from the start of `file`, checks them, and
// derives `table_count` and `row_stride`.
int bmp_readheader(FILE* file, bmp_image* image);
// Reads the `table_count` entries into `table` (allocated by the caller): palette colours
// right after the information header, or the three masks at byte 54.
int bmp_readpalette(FILE* file, bmp_image* image);
// Reads the pixel data at `data_offset` into `pixels` (full rows, zero where the file ends
// early), expanding RLE8 and turning top-down rows into bottom-up ones; `height` ends positive.
// Records in `seen` how much of the data the file held (data_expected, data_present,
// rows_present).
int bmp_readdata(FILE* file, bmp_image* image);
// Expands the `packed_bytes` RLE8 bytes in `packed` into `pixels` (`width` x `height` bytes,
// zero-filled by the caller), row by row; a run never spills into the next row. Sets
// `seen.rows_present` to the rows reached before the codes ran out (all after an end code).
void rle8_decoding(bmp_image* image, size_t packed_bytes);

// Channel positions and widths of a 16- or 32-bit picture from the masks in `table`.
void calculate_boffset(bmp_image* image);

// The lookup that reads pixels of `bits` depth; null for a depth none reads. The one list of
// the depths the reader supports: bmp_readheader refuses the others.
bmp_lookup lookup_for_depth(int32_t bits);

// Per-depth lookups; positions are not tested (callers keep them inside the picture).
bmp_color getpixel_1bpp(const bmp_image* image, int32_t x, int32_t y);
bmp_color getpixel_4bpp(const bmp_image* image, int32_t x, int32_t y);
bmp_color getpixel_8bpp(const bmp_image* image, int32_t x, int32_t y);
bmp_color getpixel_16bpp(const bmp_image* image, int32_t x, int32_t y);
bmp_color getpixel_24bpp(const bmp_image* image, int32_t x, int32_t y);
bmp_color getpixel_32bpp(const bmp_image* image, int32_t x, int32_t y);
