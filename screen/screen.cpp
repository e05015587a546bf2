#include "screen/screen.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>

int fbfd = -1;
fb_var_screeninfo fbvar = {};
uint8_t* fbmem = nullptr;
int buffersize = 0;

namespace {

constexpr const char* kFramebufferPath = "/dev/graphics/fb0";
constexpr uint32_t kBitsPerByte = 8;

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

int screen_size() {
    // Each factor is at most 32 bits wide, so the product of the three fits 64 bits only when
    // computed in two steps with a check in between.
    const uint64_t bytes_per_pixel = fbvar.bits_per_pixel / kBitsPerByte;
    const uint64_t pixels = static_cast<uint64_t>(fbvar.xres) * fbvar.yres;
    if (pixels == 0 || bytes_per_pixel == 0) {
        errno = EINVAL;  // a depth below 8 bits or an empty screen: nothing to map
        return -1;
    }
    if (pixels > static_cast<uint64_t>(INT_MAX) / bytes_per_pixel) {
        errno = EOVERFLOW;
        return -1;
    }
    buffersize = static_cast<int>(pixels * bytes_per_pixel);
    return 0;
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

void screen_release() {
    if (fbmem != nullptr) {
        munmap(fbmem, static_cast<size_t>(buffersize));
        fbmem = nullptr;
    }
    if (fbfd >= 0) {
        close(fbfd);
        fbfd = -1;
    }
}
