// Pictures in the screen's own pixel format: converted once at start-up so that drawing is
// nothing but whole-row copies into the mapped screen.
#pragma once

#include <linux/fb.h>

#include <cstddef>
#include <cstdint>

#include "image/bmplib.h"

// A picture in the screen's pixel format: `height` rows of `row_bytes` bytes, top row first,
// with no gap between rows. `pixels` is owned by the record.
struct prepared_bitmap {
    int32_t width;      // pixels
    int32_t height;     // rows
    int32_t row_bytes;  // bytes per converted row; 0 means nothing of it is ever drawn
    uint8_t* pixels;
};

// The size of the copy prepare_bitmap makes of a `width` x `height` picture for `screen`: rows
// of `*row_bytes`, `*total` bytes in all (0 at a depth that is not drawn). Returns 0, or -1 with
// errno EFBIG when the copy would pass kMaxPixelBytes or not fit the address space: the one
// limit rule, which the tools and the probe apply too.
int prepared_size(int32_t width, int32_t height, const fb_var_screeninfo* screen,
                  int32_t* row_bytes, size_t* total);

// Converts the whole of `image` into a new buffer in the format of the screen described by
// fbvar and fills `out`. Returns 0; when prepared_size refuses the buffer (EFBIG) or it cannot
// be had (ENOMEM) it reports through perror ("prepare_bitmap"), leaves `out` empty
// and returns -1.
int prepare_bitmap(const bmp_image* image, prepared_bitmap* out);

// Copies `picture` into the mapped screen with its top-left corner at (x, y), cut at the
// screen's right and bottom edges: rows go to the shown page (fblayout.origin), one pitch
// apart. Never writes outside the mapping.
void draw_prepared_bitmap(const prepared_bitmap* picture, int x, int y);

// Copies `picture` as draw_prepared_bitmap does, except for the part of the screen that `cover`
// drawn at (cover_x, cover_y) will take: that part is left as it is, so that a picture about to
// be drawn over another never shows the one beneath it in between. With a cover that draws
// nothing the whole picture is copied.
void draw_prepared_bitmap_around(const prepared_bitmap* picture, int x, int y,
                                 const prepared_bitmap* cover, int cover_x, int cover_y);

// Converts `image` straight into `dest`, a buffer laid out like a screen described by `screen`,
// with the picture's top-left corner at (x, y), cut at that screen's edges.
void draw_bitmap(const bmp_image* image, const fb_var_screeninfo* screen, uint8_t* dest, int x,
                 int y);
