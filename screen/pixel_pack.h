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
    // Where the channel fields are followed: the bits each value of a channel sets in the pixel
    // and the bits every pixel has set, worked out once from the screen description, so that a
    // pixel is three table reads ORed together.
    uint32_t red[kChannelValues];
    uint32_t green[kChannelValues];
    uint32_t blue[kChannelValues];
    uint32_t fill;
};

// Picks the packing for the screen described by `screen`. Each channel goes to its field: the
// channel's top `length` bits at its `offset` (a field wider than 8 bits gets the 8 bits at its
// top, the rest 0), stored little-endian.
//   32 and 24 bits: every bit outside the three fields is set (so an alpha field reads
//     opaque). The usual fields (red 16/8, green 8/8, blue 0/8) give bytes b, g, r, 0xFF and
//     b, g, r. Fields that describe no layout of the depth (a field of no bits, one reaching
//     past the pixel, two sharing a bit) are not followed: the pixel is then b, g, r, 0xFF or
//     b, g, r all the same.
//   16 bits: the low 16 bits of the three fields ORed; a field of no bits or placed at bit 16
//     or beyond gives nothing, and no other bit is set.
//   other depths: no packing (bytes_per_pixel 0, convert null).
pixel_format pixel_format_for(const fb_var_screeninfo* screen);

// Whether the red, green and blue fields of `screen` describe a pixel of its depth: each has
// bits, lies within the pixel, and no two share a bit. At 24 and 32 bits the fields are
// followed only then.
bool channel_fields_fit(const fb_var_screeninfo& screen);

// Bytes one pixel takes at the depths that are drawn (4, 3 and 2 at 32, 24 and 16 bits); 0 at
// any other depth.
int32_t drawn_pixel_bytes(uint32_t bits);

// Row length and total size of a `width` x `height` picture at `bytes_per_pixel`, computed in
// 64 bits. Returns false when either does not fit (row length beyond int32_t, total beyond
// size_t) or a dimension is negative.
bool picture_buffer_size(int32_t width, int32_t height, int32_t bytes_per_pixel, int32_t* row_bytes,
                         size_t* total_bytes);
