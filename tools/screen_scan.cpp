#include "tools/screen_scan.h"

#include <cstring>

void screen_scan(const screen_description& screen, const uint8_t* written, size_t size,
                 std::vector<uint8_t>* visible) {
    const fb_var_screeninfo& v = screen.var;
    const uint64_t row_bytes = packed_row_bytes(v);
    const uint64_t pixel_bytes = v.bits_per_pixel / 8;
    // A driver that leaves line_length 0 is taken to scan packed rows.
    const uint64_t pitch = screen.line_length != 0 ? screen.line_length : row_bytes;
    visible->assign(row_bytes * v.yres, 0);
    for (uint64_t y = 0; y < v.yres; ++y) {
        // At most 2^16 rows of 2^20 bytes plus 2^16 pixels of 4 bytes: no overflow in 64 bits.
        const uint64_t start = (v.yoffset + y) * pitch + v.xoffset * pixel_bytes;
        if (start >= size) {
            break;  // rows further down start later still: all black
        }
        const uint64_t room = size - start;
        const uint64_t n = room < row_bytes ? room : row_bytes;
        std::memcpy(visible->data() + y * row_bytes, written + start, n);
    }
}
