// Public face of the BMP reader: open a BMP file into a handle, ask its size, read any pixel as
// a 0x00RRGGBB colour, and release it. The whole file is read (and closed again) by bmp_open.
#pragma once

#include <cstdint>

// A colour as the reader returns it: blue in bits 0-7, green in 8-15, red in 16-23, bits 24-31
// always zero.
using bmp_color = uint32_t;

// The largest pixel buffer the reader allocates for a picture, and the largest copy of one
// converted into a screen's format: a picture fits the first yet can need 32 times as much once
// converted (1 bit to 32), so the conversion keeps to the same limit.
constexpr int64_t kMaxPixelBytes = int64_t{256} << 20;

// One open BMP picture. Callers outside the reader treat it as opaque.
struct bmp_image;

// Reads the whole file at `path`. Returns null on any failure, with errno set to say why
// (the open's own error, EINVAL, ENOTSUP, EFBIG or ENOMEM); prints nothing.
bmp_image* bmp_open(const char* path);

// What one open saw of a file, filled as far as the reading got, whether the file opened or not:
// enough for a caller to name the kind of file refused, or how much of an opened one is missing.
struct bmp_seen {
    int32_t signature[2];  // the file's first two bytes; -1 where it ends before them
    bool header_read;      // the 52 header bytes after the signature were all there
    // The header's fields as stored, as far as the file held them: a file that ends inside
    // the header leaves some filled and the rest zero, so they count only when header_read.
    uint32_t info_size;
    int32_t width;
    int32_t height;  // negative for rows stored top row first
    int16_t bit_count;
    uint32_t compression;
    // Pixel data, set once the file opened. Bytes the rows need (RLE8: the compressed bytes the
    // header gives, or those present when it gives none) and the bytes the file held of them.
    int64_t data_expected;
    int64_t data_present;
    // Rows whose pixels the file held in full; the others the reader leaves black.
    int32_t rows_present;
};

// bmp_open, also filling `*seen` (never null) with what the reading saw.
bmp_image* bmp_open_seen(const char* path, bmp_seen* seen);

// Frees everything the handle owns, then the handle. `image` is never null.
void bmp_close(bmp_image* image);

// Size of the picture in pixels; both are at least 1 for an open handle.
int32_t bmp_width(const bmp_image* image);
int32_t bmp_height(const bmp_image* image);

// Colour of the pixel at (x, y), origin at the top-left corner. Callers keep
// 0 <= x < bmp_width and 0 <= y < bmp_height; the position is not tested.
bmp_color bmp_getpixel(const bmp_image* image, int32_t x, int32_t y);
