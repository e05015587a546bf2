#include "bench/bench_cases.h"
#include "screen/screen.h"

void bench_screen_set(int32_t depth, int32_t width, int32_t height) {
    fbvar = fb_var_screeninfo{};
    fbvar.xres = fbvar.xres_virtual = static_cast<uint32_t>(width);
    fbvar.yres = fbvar.yres_virtual = static_cast<uint32_t>(height);
    fbvar.bits_per_pixel = static_cast<uint32_t>(depth);
    if (depth == 16) {
        fbvar.red = fb_bitfield{11, 5, 0};
        fbvar.green = fb_bitfield{5, 6, 0};
        fbvar.blue = fb_bitfield{0, 5, 0};
    } else {
        fbvar.red = fb_bitfield{16, 8, 0};
        fbvar.green = fb_bitfield{8, 8, 0};
        fbvar.blue = fb_bitfield{0, 8, 0};
    }
}
