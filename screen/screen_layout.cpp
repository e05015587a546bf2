#include "screen/screen_layout.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <limits>

namespace {

constexpr uint32_t kBitsPerByte = 8;
constexpr uint64_t kSaturated = std::numeric_limits<uint64_t>::max();

// a + b and a x b, or kSaturated when they do not fit 64 bits (a driver's offsets can be
// anything).
uint64_t saturating_add(uint64_t a, uint64_t b) {
    uint64_t sum = 0;
    return __builtin_add_overflow(a, b, &sum) ? kSaturated : sum;
}

uint64_t saturating_multiply(uint64_t a, uint64_t b) {
    uint64_t product = 0;
    return __builtin_mul_overflow(a, b, &product) ? kSaturated : product;
}

}  // namespace

int screen_layout_for(const fb_var_screeninfo& var, const fb_fix_screeninfo* fix,
                      screen_layout* out) {
    const fb_fix_screeninfo none{};
    const fb_fix_screeninfo& f = fix != nullptr ? *fix : none;
    const uint64_t pixel_bytes = var.bits_per_pixel / kBitsPerByte;
    const uint64_t packed = uint64_t{var.xres} * pixel_bytes;
    const uint64_t packed_screen = saturating_multiply(packed, var.yres);
    const uint64_t pitch = f.line_length >= packed ? f.line_length : packed;
    const uint64_t origin =
        saturating_add(saturating_multiply(var.yoffset, pitch), var.xoffset * pixel_bytes);
    const uint64_t last_row = var.yres == 0 ? 0 : saturating_multiply(var.yres - 1, pitch);
    const uint64_t first_page_end = packed_screen == 0 ? 0 : saturating_add(last_row, packed);
    const uint64_t page_end = packed_screen == 0 ? 0 : saturating_add(origin, first_page_end);
    const bool page_held = f.smem_len == 0 ? origin == 0 : page_end <= f.smem_len;
    if (page_held) {
        *out = screen_layout{pitch, origin, page_end, screen_basis::driver, page_end};
    } else {
        // The first page instead, at the driver's pitch where the memory holds it (a driver
        // that does not say has room for its first page) and the player can map it.
        const uint64_t room = f.smem_len == 0 ? INT_MAX : std::min<uint64_t>(f.smem_len, INT_MAX);
        const screen_basis basis =
            f.smem_len == 0 ? screen_basis::no_memory_size : screen_basis::beyond_memory;
        *out = first_page_end <= room ? screen_layout{pitch, 0, first_page_end, basis, page_end}
                                      : screen_layout{packed, 0, packed_screen, basis, page_end};
    }
    if (out->map_bytes == 0) {
        errno = EINVAL;
        return -1;
    }
    if (out->map_bytes > INT_MAX) {
        errno = EOVERFLOW;
        return -1;
    }
    return 0;
}

bool screen_memory_holds(const screen_layout& layout, uint32_t smem_len) {
    return smem_len == 0 || smem_len >= layout.map_bytes;
}

fb_var_screeninfo screen_pan_request(const fb_var_screeninfo& var, const screen_layout& layout) {
    fb_var_screeninfo asked = var;
    if (layout.basis != screen_basis::driver) {
        asked.xoffset = 0;
        asked.yoffset = 0;
    }
    return asked;
}
