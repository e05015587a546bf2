// What the screen should hold, worked out independently of the program: colours packed by the
// screen's depth and channel fields, pictures placed and cut at the right and bottom edges.
#pragma once

#include <linux/fb.h>

#include <cstdint>
#include <vector>

#include "tools/bmp_write.h"

struct screen_model {
    fb_var_screeninfo screen;
    std::vector<uint8_t> bytes;  // xres * yres * bytes per pixel, rows back to back
};

// A screen described by `format` ("WxHxBPP[:channels]"), every byte `fill`.
screen_model screen_model_make(const char* format, uint8_t fill);

// Draws `picture` with its top-left corner at (x, y): the part right of the screen's right edge
// or below its bottom edge is left out.
void screen_model_draw(screen_model* model, const rgb_picture& picture, int32_t x, int32_t y);

// What a person should see on a screen: a screen-sized picture of colours (0x00RRGGBB) on which
// pictures are drawn cut at its right and bottom edges. Starts black.
rgb_picture intended_make(const fb_var_screeninfo& screen);
void intended_draw(rgb_picture* canvas, const rgb_picture& picture, int32_t x, int32_t y);

// `canvas` as the channel fields of `screen` can show it: each channel cut to its field's length
// (wider fields show all 8 bits), in place.
void intended_cut_to_fields(const fb_var_screeninfo& screen, rgb_picture* canvas);

// What `memory` shows on the screen described by `screen` and `line_length`: each visible pixel
// read where that screen scans it, rows line_length apart from the page at its offsets, each
// channel from its field and moved back to the top of its 8 bits. A pixel past the memory fails
// the calling test and reads 0xFFFFFFFF.
rgb_picture screen_seen(const fb_var_screeninfo& screen, uint32_t line_length,
                        const std::vector<uint8_t>& memory);
