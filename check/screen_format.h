// The one text form of a screen description shared by the host tools, the probe, the scripts and
// the device double:
//   WxHxBPP[:RO/RL,GO/GL,BO/BL][:pitch=BYTES][:page=X,Y][:smem=BYTES]
// for example "720x1280x32", "720x1280x16:11/5,5/6,0/5" or
// "720x1280x32:0/8,8/8,16/8:pitch=3072:page=0,1280". The channel fields give each channel's
// offset and length in bits within a pixel value; `pitch` is the number of bytes from one row
// to the next as the screen scans them (the driver's line_length), `page` the pixel position in
// screen memory where the visible page starts (the driver's xoffset and yoffset), `smem` the
// length of the driver's screen memory (its smem_len; not given: 0, a driver that does not say;
// the device double then gives line_length x the virtual height). The optional parts come in
// this order, each at most once.
#pragma once

#include <linux/fb.h>

#include <cstddef>
#include <cstdint>

// A screen as its driver describes it: the variable description (size, depth, channel fields,
// and in xoffset/yoffset the visible page) and the fixed description's row pitch.
struct screen_description {
    fb_var_screeninfo var;
    uint32_t line_length;  // bytes from one row to the next as the screen scans them
    uint32_t smem_len;     // bytes of screen memory the driver has; 0: not given
};

// Bytes of one row packed back to back, as the player lays rows out: xres x (depth / 8).
uint64_t packed_row_bytes(const fb_var_screeninfo& var);

// Fills `out` (zeroed first; virtual size = visible size) from `text`. Without channel fields a
// 16-bit screen is 5-6-5 (red 11/5, green 5/6, blue 0/5) and any other depth 8-8-8 (16/8, 8/8,
// 0/8); without a pitch rows are packed (packed_row_bytes); without a page it starts at (0,0).
// Returns 0, or -1 for malformed text or values out of range (1..65535 pixels, depth 1..32,
// channel fields within 32 bits, pitch 0..kMaxPitchBytes, page 0..65535), with a one-line
// reason in `*why` when `why` is not null (a size beyond its range named as too large).
int parse_screen_description(const char* text, screen_description* out, const char** why);

// parse_screen_description for callers that need only the variable description.
int parse_screen_format(const char* text, fb_var_screeninfo* out, const char** why);

// Writes the text form of `screen` into `out` (always NUL-terminated) that
// parse_screen_description reads back to the same values: size, depth and channel fields
// always, the pitch only when it differs from the packed row, the page only when it is not
// (0,0), the memory only when it is given. Returns the text's length, or -1 when `size` is too
// small or a value is outside the text form's range (the text is then empty).
int format_screen_description(const screen_description& screen, char* out, size_t size);

constexpr uint32_t kMaxPitchBytes = 1U << 20;
constexpr uint32_t kMaxSmemBytes = 0x7FFFFFFF;  // the longest mapping the player makes
// Room for the longest text format_screen_description writes, with its NUL.
constexpr size_t kScreenTextBytes = 96;
