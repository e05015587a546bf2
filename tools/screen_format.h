// The one text form of a screen description shared by the host tools, the scripts and the
// device double: "WxHxBPP" or "WxHxBPP:RO/RL,GO/GL,BO/BL" (channel offsets/lengths in bits),
// for example "720x1280x32" or "720x1280x16:11/5,5/6,0/5".
#pragma once

#include <linux/fb.h>

// Fills `out` (zeroed first; virtual size = visible size) from `text`. Without channel fields a
// 16-bit screen is 5-6-5 (red 11/5, green 5/6, blue 0/5) and any other depth 8-8-8 (16/8, 8/8,
// 0/8). Returns 0, or -1 for malformed text or sizes out of range (1..65535 pixels, depth
// 1..32, channel fields within 32 bits), with a one-line reason in `*why` when `why` is not null.
int parse_screen_format(const char* text, fb_var_screeninfo* out, const char** why);
