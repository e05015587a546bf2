// The one layout rule: where the player's rows go and how much it maps, for the driver
// descriptions real screens give, the ones it cannot follow, and the ones it cannot map.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>

#include "screen/screen_layout.h"

namespace {

struct layout_case {
    const char* name;
    uint32_t xres, yres, bpp, xoffset, yoffset;
    bool fixed;  // the driver gave its fixed description
    uint32_t line_length, smem_len;
    int result;  // 0, or the errno of a screen that cannot be mapped
    uint64_t pitch, origin, map_bytes;
    screen_basis basis;
    uint64_t page_end = 0;  // where the shown page ends; given where the player does not follow it
};

const layout_case kCases[] = {
    {"packed", 720, 1280, 32, 0, 0, true, 2880, 3686400, 0, 2880, 0, 3686400, screen_basis::driver},
    // Without a fixed description, as with one that says nothing: packed rows from offset 0.
    {"no_fixed_description", 720, 1280, 32, 0, 1280, false, 0, 0, 0, 2880, 0, 3686400,
     screen_basis::no_memory_size, 7372800},
    // 1366 px at 16 bits in rows of 1376 px: the last row ends at its last pixel.
    {"padded_rows", 1366, 768, 16, 0, 0, true, 2752, 0, 0, 2752, 0, 767 * 2752 + 2732,
     screen_basis::driver},
    {"line_length_zero", 113, 10, 24, 0, 0, true, 0, 0, 0, 339, 0, 3390, screen_basis::driver},
    {"second_page", 16, 70, 32, 0, 70, true, 64, 8960, 0, 64, 4480, 8960, screen_basis::driver},
    {"page_at_x_offset", 16, 70, 32, 8, 0, true, 96, 6720, 0, 96, 32, 6720, screen_basis::driver},
    {"page_beyond_memory", 16, 70, 32, 0, 70, true, 64, 8959, 0, 64, 0, 4480,
     screen_basis::beyond_memory, 8960},
    // Where the memory holds the first page at the driver's pitch, its rows keep that pitch:
    // (70 - 1) x 128 + 64 bytes.
    {"first_page_at_pitch", 16, 70, 32, 0, 70, true, 128, 8896, 0, 128, 0, 8896,
     screen_basis::beyond_memory, 17856},
    {"first_page_beyond_memory_at_pitch", 16, 70, 32, 0, 70, true, 128, 8895, 0, 64, 0, 4480,
     screen_basis::beyond_memory, 17856},
    // A driver that does not say how much memory it has: never mapped past the first page.
    {"page_without_memory_size", 16, 70, 32, 0, 70, true, 0, 0, 0, 64, 0, 4480,
     screen_basis::no_memory_size, 8960},
    {"page_at_pitch_without_memory_size", 16, 70, 32, 0, 70, true, 128, 0, 0, 128, 0, 8896,
     screen_basis::no_memory_size, 17856},
    // ... but never at a pitch whose first page the player could not map.
    {"first_page_at_pitch_beyond_int_max", 16, 70, 32, 0, 70, true, 40000000, 0, 0, 64, 0, 4480,
     screen_basis::no_memory_size, 139 * 40000000ULL + 64},
    {"depth_below_a_byte", 20, 10, 4, 0, 0, true, 10, 100, EINVAL, 0, 0, 0, screen_basis::driver},
    {"no_width", 0, 10, 32, 0, 0, true, 0, 0, EINVAL, 0, 0, 0, screen_basis::driver},
    {"beyond_int_max", 16384, 32768, 32, 0, 0, true, 65536, 0, EOVERFLOW, 65536, 0, 1ULL << 31,
     screen_basis::driver},
    // Offsets no driver gives must not wrap around into a page that looks small.
    {"offsets_past_64_bits", 16, 70, 32, 0xFFFFFFFF, 0xFFFFFFFF, true, 0xFFFFFFFF, 0xFFFFFFFF, 0,
     64, 0, 4480, screen_basis::beyond_memory, UINT64_MAX},
};

TEST(ScreenLayout, FollowsTheDriverWhereItsMemoryHoldsTheShownPage) {
    for (const layout_case& c : kCases) {
        SCOPED_TRACE(c.name);
        fb_var_screeninfo var{};
        var.xres = c.xres;
        var.yres = c.yres;
        var.bits_per_pixel = c.bpp;
        var.xoffset = c.xoffset;
        var.yoffset = c.yoffset;
        fb_fix_screeninfo fix{};
        fix.line_length = c.line_length;
        fix.smem_len = c.smem_len;
        screen_layout layout{};
        errno = 0;
        const int result = screen_layout_for(var, c.fixed ? &fix : nullptr, &layout);
        EXPECT_EQ(result, c.result == 0 ? 0 : -1);
        EXPECT_EQ(errno, c.result);
        EXPECT_EQ(layout.map_bytes, c.map_bytes);
        if (c.result != EINVAL) {
            EXPECT_EQ(layout.pitch, c.pitch);
            EXPECT_EQ(layout.origin, c.origin);
            EXPECT_EQ(layout.basis, c.basis);
        }
        EXPECT_EQ(layout.page_end, c.basis == screen_basis::driver ? c.map_bytes : c.page_end);
    }
}

}  // namespace
