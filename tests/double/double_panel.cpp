// The panel behind the framebuffer: FBIOPAN_DISPLAY is answered here. With ZELT_DOUBLE_PANEL
// "waits" the panel shows the memory only as it was at the last pan, as command-mode panels
// do; the screen copies the double saves are then that picture, not the live memory. A pan
// may move the shown page within the virtual screen; out of range it is refused with EINVAL,
// as the kernel refuses it.
#include <linux/fb.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "tests/double/device_double.h"

namespace {

// The page the panel shows, as the last accepted pan left it (or as first described).
std::atomic<bool> g_panned{false};
std::atomic<uint32_t> g_xoffset{0};
std::atomic<uint32_t> g_yoffset{0};

// What a waiting panel shows: the memory at the last pan. Touched by the panning thread only,
// which is also the one that saves the screen (the program's UI thread).
uint8_t* g_shown = nullptr;
size_t g_shown_length = 0;

// The waiting panel's picture, `length` bytes: dark until the first pan fills it.
uint8_t* shown_picture(size_t length) {
    if (g_shown_length != length) {
        std::free(g_shown);
        g_shown = static_cast<uint8_t*>(std::calloc(length, 1));
        g_shown_length = g_shown == nullptr ? 0 : length;
    }
    return g_shown;
}

bool panel_waits() {
    return double_settings().panel == "waits";
}

// The kernel's own range test for a page that does not wrap.
bool page_fits(const fb_var_screeninfo& asked) {
    const fb_var_screeninfo& s = double_screen();
    return uint64_t{asked.xoffset} + s.xres <= s.xres_virtual &&
           uint64_t{asked.yoffset} + s.yres <= s.yres_virtual;
}

}  // namespace

void double_shown_page(fb_var_screeninfo* var) {
    if (g_panned.load()) {
        var->xoffset = g_xoffset.load();
        var->yoffset = g_yoffset.load();
    }
}

int double_pan(const fb_var_screeninfo& asked, const uint8_t* memory, size_t length) {
    const std::string& fail = double_settings().fail;
    if (fail == "pan" || fail == "pan-io") {
        double_log("ioctl fb FBIOPAN_DISPLAY failed (injected)");
        errno = fail == "pan" ? EINVAL : EIO;
        return -1;
    }
    if (!page_fits(asked)) {
        double_log("ioctl fb FBIOPAN_DISPLAY xoffset=%u yoffset=%u out of range", asked.xoffset,
                   asked.yoffset);
        errno = EINVAL;
        return -1;
    }
    g_xoffset.store(asked.xoffset);
    g_yoffset.store(asked.yoffset);
    g_panned.store(true);
    uint8_t* shown = panel_waits() && memory != nullptr ? shown_picture(length) : nullptr;
    if (shown != nullptr) {
        std::memcpy(shown, memory, length);
    }
    double_log("ioctl fb FBIOPAN_DISPLAY xoffset=%u yoffset=%u", asked.xoffset, asked.yoffset);
    return 0;
}

const uint8_t* double_panel_picture(const uint8_t* memory, size_t length) {
    return panel_waits() ? shown_picture(length) : memory;
}
