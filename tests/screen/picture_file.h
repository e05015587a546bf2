// Test fixtures for the screen tests: pictures written as real BMP files with the writer and
// opened with the real reader, and a screen description set up as the program's screen state.
#pragma once

#include <linux/fb.h>

#include <cstdint>
#include <string>

#include "image/bmplib.h"
#include "tools/bmp_write.h"

// Writes `picture` with `options` into the test's temporary folder and opens it. Never null:
// a failure to write or open fails the calling test (ASSERT inside a helper is avoided).
bmp_image* open_written(const rgb_picture& picture, const bmp_write_options& options);

// A screen of `width` x `height` at `bpp` bits; 16-bit channels from `channels` as in
// "11/5,5/6,0/5" (red, green, blue offset/length), or 5-6-5 when null.
fb_var_screeninfo test_screen(uint32_t width, uint32_t height, uint32_t bpp,
                              const char* channels = nullptr);
