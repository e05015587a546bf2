#include "screen/screen.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "screen/kms.h"

int fbfd = -1;
fb_var_screeninfo fbvar = {};
fb_fix_screeninfo fbfix = {};
screen_layout fblayout = {};
uint8_t* fbmem = nullptr;
int buffersize = 0;

namespace {

constexpr const char* kFramebufferPath = "/dev/graphics/fb0";

// Set once the pan has failed for a reason worth a report; touched by the UI thread alone.
bool pan_reported = false;

}  // namespace

int screen_open() {
    fbfd = open(kFramebufferPath, O_RDWR);
    return fbfd < 0 ? -1 : 0;
}

int screen_describe() {
    return ioctl(fbfd, FBIOGET_VSCREENINFO, &fbvar) < 0 ? -1 : 0;
}

void screen_report() {
    printf(
        "x-resolution: %d\ny-resolution: %d\nx-resolution-virtual: %d\n"
        "y-resolution-vritual: %d\nbpp: %d\n",
        static_cast<int>(fbvar.xres), static_cast<int>(fbvar.yres),
        static_cast<int>(fbvar.xres_virtual), static_cast<int>(fbvar.yres_virtual),
        static_cast<int>(fbvar.bits_per_pixel));
}

int screen_describe_fixed() {
    if (ioctl(fbfd, FBIOGET_FSCREENINFO, &fbfix) < 0) {
        fbfix = fb_fix_screeninfo{};
        return -1;
    }
    return 0;
}

int screen_size() {
    const int result = screen_layout_for(fbvar, &fbfix, &fblayout);
    buffersize = result == 0 ? static_cast<int>(fblayout.map_bytes) : 0;
    return result;
}

int screen_map() {
    if (buffersize <= 0) {
        errno = EINVAL;
        return -1;
    }
    void* mapping =
        mmap(nullptr, static_cast<size_t>(buffersize), PROT_READ | PROT_WRITE, MAP_SHARED, fbfd, 0);
    if (mapping == MAP_FAILED) {
        return -1;  // fbmem stays null: the failure value is never taken for a mapping
    }
    fbmem = static_cast<uint8_t*>(mapping);
    return 0;
}

void screen_present() {
    if (kms_held()) {
        kms_present();
        return;
    }
    // A copy: the request may write the description back, and fbvar stays as first read.
    fb_var_screeninfo shown = screen_pan_request(fbvar, fblayout);
    if (ioctl(fbfd, FBIOPAN_DISPLAY, &shown) < 0 && errno != EINVAL && !pan_reported) {
        perror("fb0 dev pan");
        pan_reported = true;
    }
}

void screen_release() {
    if (kms_held()) {
        kms_release();
        return;
    }
    if (fbmem != nullptr) {
        munmap(fbmem, static_cast<size_t>(buffersize));
        fbmem = nullptr;
    }
    if (fbfd >= 0) {
        close(fbfd);
        fbfd = -1;
    }
}
