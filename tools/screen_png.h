// Screen pictures for people: a screen's bytes turned back into RGB and written as PNG, and a
// small page that plays a list of PNGs as the device would show them. One implementation for
// the demo and for asset previews.
#pragma once

#include <linux/fb.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Frames per second the player page shows (the program's own frame rate).
constexpr int kPlayerPageFps = 2;

// Converts `size` bytes of screen memory laid out as `screen` describes (rows of xres pixels,
// yres rows) into xres * yres RGB triples, top row first. Pixels are little-endian values of
// 16, 24 or 32 bits whose channels are read from the screen's offsets and lengths and widened by
// shifting left (so 32-bit pixels with the usual 16/8, 8/8, 0/8 fields are bytes b, g, r, x).
// Returns false (rgb untouched) for other depths or when `size` is shorter than the screen.
bool screen_to_rgb(const fb_var_screeninfo& screen, const uint8_t* bytes, size_t size,
                   std::vector<uint8_t>* rgb);

// Writes `width` x `height` RGB triples as an 8-bit RGB PNG. Returns 0, or -1 with a reason in
// `*why` when `why` is not null.
int png_write_rgb(const char* path, uint32_t width, uint32_t height, const uint8_t* rgb,
                  const char** why);

// screen_to_rgb, then png_write_rgb.
int screen_write_png(const char* path, const fb_var_screeninfo& screen, const uint8_t* bytes,
                     size_t size, const char** why);

// Writes `dir`/index.html: a self-contained page (no network) that shows the PNGs named in
// `frames` (relative to `dir`) one after another at kPlayerPageFps, looping, with play/pause
// and a frame counter. Returns 0, or -1 with a reason in `*why`.
int player_page_write(const std::string& dir, const std::vector<std::string>& frames,
                      const char** why);
