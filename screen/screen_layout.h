// Where the player's pictures go in the device's memory: the one rule for the row pitch, the
// shown page's origin and the length of the mapping, shared by the player, the device probe and
// the host preview, so that all three always agree on what the player maps and draws.
#pragma once

#include <linux/fb.h>

#include <cstdint>

// Why a screen is laid out the way it is. Where the driver's layout is not followed, the player
// draws on the first page from offset 0: rows line_length apart where the memory holds that page
// (or the driver does not say how much it has), else packed.
enum class screen_basis {
    driver,          // rows and page as the driver's fixed description gives them
    no_memory_size,  // smem_len 0 with a page not at offset 0: the first page
    beyond_memory,   // the driver's layout needs more than its memory: the first page
};

// Rows `pitch` bytes apart, the shown page's top-left pixel at byte `origin` of the mapping,
// which is `map_bytes` long from the device's offset 0. `page_end` is where the shown page ends
// as the driver lays it out (rows line_length apart, the page at its offsets): the memory the
// driver needs for the player to follow it. Lengths are UINT64_MAX when beyond 64 bits.
struct screen_layout {
    uint64_t pitch;
    uint64_t origin;
    uint64_t map_bytes;
    screen_basis basis;
    uint64_t page_end;
};

// Lays out the screen that `var` describes, following `fix` (null when the driver gave none,
// read as a zeroed one): the pitch is fix->line_length when it is at least the packed row
// (xres x depth / 8), else the packed row; the origin is yoffset x pitch + xoffset x depth / 8;
// the mapping ends with the last byte of the shown page's last row. The first page is drawn
// instead (origin 0) when smem_len is shorter than that, or when smem_len is 0 and the page does
// not start at offset 0: a driver that does not say how much memory it has gives no ground to
// map past the first page. Its rows keep the pitch where smem_len is 0 or holds them
// ((yres - 1) x pitch + the packed row) and the mapping stays within INT_MAX bytes; otherwise
// they are packed (the mapping xres x yres x depth / 8 bytes). Returns 0, or -1 with errno
// EINVAL (a depth below 8 bits or an empty screen: nothing to map) or EOVERFLOW (a mapping
// beyond INT_MAX bytes); `out` is filled either way, so that a report can name the length.
int screen_layout_for(const fb_var_screeninfo& var, const fb_fix_screeninfo* fix,
                      screen_layout* out);

// Whether a driver with `smem_len` bytes of screen memory (0: it does not say) lets the player
// map `layout`: a driver refuses a mapping longer than its memory.
bool screen_memory_holds(const screen_layout& layout, uint32_t smem_len);

// The request the player pans with to show the page it drew: `var` as the driver gave it, with
// the shown page's offsets where `layout` follows the driver, else the first page's (0,0).
fb_var_screeninfo screen_pan_request(const fb_var_screeninfo& var, const screen_layout& layout);
