// Where the player's pictures go in the device's memory: the one rule for the row pitch, the
// shown page's origin and the length of the mapping, shared by the player, the device probe and
// the host preview, so that all three always agree on what the player maps and draws.
#pragma once

#include <linux/fb.h>

#include <cstdint>

// Why a screen is laid out the way it is.
enum class screen_basis {
    driver,         // rows and page as the driver's fixed description gives them
    no_fixed,       // the driver gave no fixed description: packed rows from offset 0
    beyond_memory,  // the driver's layout needs more than its memory: packed rows from offset 0
};

// Rows `pitch` bytes apart, the shown page's top-left pixel at byte `origin` of the mapping,
// which is `map_bytes` long from the device's offset 0.
struct screen_layout {
    uint64_t pitch;
    uint64_t origin;
    uint64_t map_bytes;  // UINT64_MAX when it would not fit 64 bits
    screen_basis basis;
};

// Lays out the screen that `var` describes, following `fix` (null when the driver gave none):
// the pitch is fix->line_length when it is at least the packed row (xres x depth / 8), else the
// packed row; the origin is yoffset x pitch + xoffset x depth / 8; the mapping ends with the
// last byte of the shown page's last row. When smem_len is not 0 and shorter than that, or
// without `fix`, rows are packed from offset 0 instead. Returns 0, or -1 with errno EINVAL (a
// depth below 8 bits or an empty screen: nothing to map) or EOVERFLOW (a mapping beyond
// INT_MAX bytes); `out` is filled either way, so that a report can name the length.
int screen_layout_for(const fb_var_screeninfo& var, const fb_fix_screeninfo* fix,
                      screen_layout* out);
