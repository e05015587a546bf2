// The panel behind the framebuffer: FBIOPAN_DISPLAY is answered here. With ZELT_DOUBLE_PANEL
// "waits" the panel shows only the page the last pan named, as the memory was then, as
// command-mode panels do; the screen copies the double saves are then that picture (the
// visible rows packed), not the live memory, so a pan to a page nobody drew shows that page.
// A pan moves the shown page where the kernel lets it (pan_taken); elsewhere it is refused with
// EINVAL.
#include <linux/fb.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "tests/double/device_double.h"

namespace {

// The page the panel shows, as the last accepted pan left it (or as first described).
std::atomic<bool> g_panned{false};
std::atomic<uint32_t> g_xoffset{0};
std::atomic<uint32_t> g_yoffset{0};

// What a waiting panel shows: its page at the last pan. Touched by the panning thread only,
// which is also the one that saves the screen (the program's UI thread).
uint8_t* g_shown = nullptr;

// Bytes of one visible row and of the visible page, packed; 0 when too large to keep.
uint64_t row_bytes() {
    const fb_var_screeninfo& s = double_screen();
    return uint64_t{s.xres} * (s.bits_per_pixel / 8);
}
size_t page_bytes() {
    const uint64_t bytes = row_bytes() * double_screen().yres;
    return bytes > INT_MAX ? 0 : static_cast<size_t>(bytes);
}

// The waiting panel's picture, page_bytes() long (the screen's size never changes): dark
// until the first pan fills it; null when there is none to keep.
uint8_t* shown_picture() {
    if (g_shown == nullptr && page_bytes() != 0) {
        g_shown = static_cast<uint8_t*>(std::calloc(page_bytes(), 1));
    }
    return g_shown;
}

bool panel_waits() {
    return double_settings().panel == "waits";
}

// The kernel's own test of a pan before any driver sees it (fb_pan_display, in
// drivers/video/fbdev/core/fbmem.c): a non-zero offset needs a pan step that divides it
// (ywrapstep for a wrapping pan, always 0 here, so no wrapping pan leaves row 0; ypanstep
// otherwise; xpanstep across), and the page must lie within the virtual screen, compared in
// unsigned 32 bits as there.
bool pan_taken(const fb_var_screeninfo& asked) {
    const fb_var_screeninfo& s = double_screen();
    const fb_fix_screeninfo& f = double_fixed_screen();
    const auto on_step = [](uint32_t offset, uint32_t step) {
        return offset == 0 || (step != 0 && offset % step == 0);
    };
    const bool wraps = (asked.vmode & FB_VMODE_YWRAP) != 0;
    return on_step(asked.yoffset, wraps ? f.ywrapstep : f.ypanstep) &&
           on_step(asked.xoffset, f.xpanstep) && asked.yoffset <= s.yres_virtual - s.yres &&
           asked.xoffset <= s.xres_virtual - s.xres;
}

// The waiting panel takes the page at the offsets of `asked` from the device memory
// (`memory_bytes` long, read through `fd`) as a scan-out reads it: rows line_length apart (the
// packed row where the driver gives less), each xres pixels from the page's left edge. A row
// past the memory stays dark.
void take_page(const fb_var_screeninfo& asked, int fd, uint64_t memory_bytes) {
    uint8_t* shown = shown_picture();
    if (shown == nullptr) {
        return;
    }
    const fb_var_screeninfo& s = double_screen();
    const uint64_t row = row_bytes();
    const uint64_t pitch = std::max<uint64_t>(double_fixed_screen().line_length, row);
    for (uint64_t y = 0; y < s.yres; ++y) {
        const uint64_t at =
            (asked.yoffset + y) * pitch + uint64_t{asked.xoffset} * (s.bits_per_pixel / 8);
        uint8_t* to = shown + y * row;
        if (at + row > memory_bytes ||
            pread(fd, to, row, static_cast<off_t>(at)) != static_cast<ssize_t>(row)) {
            std::memset(to, 0, row);
        }
    }
}

}  // namespace

void double_shown_page(fb_var_screeninfo* var) {
    if (g_panned.load()) {
        var->xoffset = g_xoffset.load();
        var->yoffset = g_yoffset.load();
    }
}

int double_pan(const fb_var_screeninfo& asked, int fd, uint64_t memory_bytes) {
    const std::string& fail = double_settings().fail;
    if (fail == "pan" || fail == "pan-io") {
        double_log("ioctl fb FBIOPAN_DISPLAY failed (injected)");
        errno = fail == "pan" ? EINVAL : EIO;
        return -1;
    }
    if (!pan_taken(asked)) {
        double_log("ioctl fb FBIOPAN_DISPLAY xoffset=%u yoffset=%u refused", asked.xoffset,
                   asked.yoffset);
        errno = EINVAL;
        return -1;
    }
    g_xoffset.store(asked.xoffset);
    g_yoffset.store(asked.yoffset);
    g_panned.store(true);
    if (panel_waits()) {
        take_page(asked, fd, memory_bytes);
    }
    double_log("ioctl fb FBIOPAN_DISPLAY xoffset=%u yoffset=%u", asked.xoffset, asked.yoffset);
    return 0;
}

const uint8_t* double_panel_picture(const uint8_t* memory, size_t* length) {
    if (!panel_waits()) {
        return memory;
    }
    *length = page_bytes();
    return shown_picture();
}
