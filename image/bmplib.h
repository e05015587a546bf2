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

// Frees everything the handle owns, then the handle. `image` is never null.
void bmp_close(bmp_image* image);

// Size of the picture in pixels; both are at least 1 for an open handle.
int32_t bmp_width(const bmp_image* image);
int32_t bmp_height(const bmp_image* image);

// Colour of the pixel at (x, y), origin at the top-left corner. Callers keep
// 0 <= x < bmp_width and 0 <= y < bmp_height; the position is not tested.
bmp_color bmp_getpixel(const bmp_image* image, int32_t x, int32_t y);
