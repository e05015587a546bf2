// Packing of reader colours into a screen's own pixel format, chosen once per picture, and the
// overflow-checked size of a converted picture. Internal to the screen module.
#pragma once

#include <linux/fb.h>

#include <cstddef>
#include <cstdint>

#include "image/bmplib.h"

struct pixel_format;

// Converts the top-left `columns` x `rows` pixels of `image` (fetched one by one through
// bmp_getpixel) into screen pixels at `dest`, rows `pitch` bytes apart. One such routine exists
// per drawn depth, with that depth's packing built in, so the per-pixel loop tests nothing.
using pixel_convert_fn = void (*)(const bmp_image* image, int32_t columns, int32_t rows,
                                  uint8_t* dest, size_t pitch, const pixel_format* format);

constexpr int kChannelValues = 256;

// How one screen depth stores a pixel. `convert` is null for depths that are not drawn
// (anything but 32, 24 and 16 bits): for those nothing is ever written.
struct pixel_format {
    int32_t bytes_per_pixel;  // 4, 3 or 2; 0 for depths that are not drawn
    pixel_convert_fn convert;
    // 16-bit screens only: the bits each value of a channel sets in the pixel, worked out once
    // from the screen description, so a pixel is three table reads ORed together.
    uint16_t red[kChannelValues];
    uint16_t green[kChannelValues];
    uint16_t blue[kChannelValues];
};

// Picks the packing for the screen described by `screen`:
//   32 bits: bytes b, g, r, 0xFF (the channel fields are not consulted);
//   24 bits: bytes b, g, r (the channel fields are not consulted);
//   16 bits: each channel's top `length` bits at its `offset`, low 16 bits kept, little-endian;
//     a channel wider than 8 bits is widened, one with no bits or placed at bit 16 or beyond
//     gives nothing;
//   other depths: no packing (bytes_per_pixel 0, convert null).
pixel_format pixel_format_for(const fb_var_screeninfo* screen);

// Bytes from one pixel to the next when counting screen positions: the packed width for the
// drawn depths, 1 for any other depth.
int32_t screen_position_bytes(const fb_var_screeninfo* screen);

// Row length and total size of a `width` x `height` picture at `bytes_per_pixel`, computed in
// 64 bits. Returns false when either does not fit (row length beyond int32_t, total beyond
// size_t) or a dimension is negative.
bool picture_buffer_size(int32_t width, int32_t height, int32_t bytes_per_pixel, int32_t* row_bytes,
                         size_t* total_bytes);
