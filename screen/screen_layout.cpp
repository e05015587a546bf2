#include "screen/screen_layout.h"

#include <cerrno>
#include <climits>
#include <limits>

namespace {

constexpr uint32_t kBitsPerByte = 8;
constexpr uint64_t kSaturated = std::numeric_limits<uint64_t>::max();

// a x b + c, or kSaturated when it does not fit 64 bits (a driver's offsets can be anything).
uint64_t multiply_add(uint64_t a, uint64_t b, uint64_t c) {
    uint64_t product = 0;
    uint64_t sum = 0;
    if (__builtin_mul_overflow(a, b, &product) || __builtin_add_overflow(product, c, &sum)) {
        return kSaturated;
    }
    return sum;
}

}  // namespace

int screen_layout_for(const fb_var_screeninfo& var, const fb_fix_screeninfo* fix,
                      screen_layout* out) {
    const uint64_t pixel_bytes = var.bits_per_pixel / kBitsPerByte;
    const uint64_t packed = uint64_t{var.xres} * pixel_bytes;
    // Packed rows from offset 0.
    *out = screen_layout{packed, 0, multiply_add(packed, var.yres, 0),
                         fix == nullptr ? screen_basis::no_fixed : screen_basis::driver};
    if (fix != nullptr && out->map_bytes != 0) {
        const uint64_t pitch = fix->line_length >= packed ? fix->line_length : packed;
        const uint64_t origin = multiply_add(var.yoffset, pitch, var.xoffset * pixel_bytes);
        const uint64_t last_row = multiply_add(var.yres - 1, pitch, packed);
        const uint64_t length = multiply_add(1, origin, last_row);  // origin + last_row
        if (fix->smem_len == 0 || fix->smem_len >= length) {
            *out = screen_layout{pitch, origin, length, screen_basis::driver};
        } else {
            out->basis = screen_basis::beyond_memory;
        }
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
