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
