#include "screen/kms.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "screen/kms_find.h"
#include "screen/screen.h"

namespace {

constexpr uint32_t kBitsPerPixel = 32;
constexpr uint32_t kColorDepth = 24;  // XRGB8888: the top byte is not shown
constexpr uint32_t kBytesPerPixel = 4;
// DRM_FORMAT_XRGB8888, the fourcc "XR24": one 32-bit word per pixel, blue in its low byte.
constexpr uint32_t kFormatXrgb8888 =
    uint32_t{'X'} | uint32_t{'R'} << 8 | uint32_t{'2'} << 16 | uint32_t{'4'} << 24;

// What is held of the display. Each resource has its "none" value (fd -1, handle and ids 0)
// until it is taken, so that the one release path undoes only what exists.
struct kms_hold {
    kms_display display;
    // The request that puts the CRTC back as it was: its framebuffer and mode on the connectors
    // it drove (ours or another display's), or off. Built when the CRTC is saved.
    drm_mode_crtc restore;
    uint32_t restore_connectors[kKmsMaxObjects];
    uint32_t handle;  // the dumb buffer
    uint32_t fb_id;
    bool crtc_set;  // the CRTC shows our framebuffer: put it back
};

kms_hold g_kms = {{-1, 0, 0, 0, 0, 0, {}}, {}, {}, 0, 0, false};
bool g_present_reported = false;  // UI thread only

int request(unsigned long what, void* arg) {
    return kms_ioctl(g_kms.display.fd, what, arg);
}

// The screen state the drawing code reads, the description block and the display's line.
void describe_screen() {
    const kms_display& d = g_kms.display;
    fbvar = kms_screen(d);
    screen_report();
    char text[192];
    kms_display_text(d, text, sizeof text);
    std::printf("%s\n", text);
}

int save_crtc() {
    drm_mode_crtc& restore = g_kms.restore;
    restore = drm_mode_crtc{};
    restore.crtc_id = g_kms.display.crtc_id;
    if (request(DRM_IOCTL_MODE_GETCRTC, &restore) < 0) {
        return -1;
    }
    const uint32_t connectors = kms_crtc_connectors(g_kms.display.fd, restore.crtc_id,
                                                    g_kms.restore_connectors, kKmsMaxObjects);
    if (restore.mode_valid != 0 && restore.fb_id != 0 && connectors != 0) {
        restore.set_connectors_ptr = kms_pointer(g_kms.restore_connectors);
        restore.count_connectors = connectors;
    } else {
        restore.fb_id = 0;  // it showed nothing (on no connector): it goes off again
        restore.mode_valid = 0;
    }
    return 0;
}

// A dumb buffer of the mode's size, its pitch and size bounded before they lay the screen out.
int create_buffer() {
    drm_mode_create_dumb dumb{};
    dumb.width = fbvar.xres;
    dumb.height = fbvar.yres;
    dumb.bpp = kBitsPerPixel;
    if (request(DRM_IOCTL_MODE_CREATE_DUMB, &dumb) < 0) {
        return -1;
    }
    g_kms.handle = dumb.handle;
    const uint64_t rows = uint64_t{dumb.pitch} * fbvar.yres;
    if (dumb.pitch < uint64_t{fbvar.xres} * kBytesPerPixel || dumb.size < rows ||
        dumb.size > INT_MAX) {
        errno = EOVERFLOW;  // not a buffer this program can lay the mode out in
        return -1;
    }
    const uint64_t page_end = rows - dumb.pitch + uint64_t{fbvar.xres} * kBytesPerPixel;
    fblayout = screen_layout{dumb.pitch, 0, dumb.size, screen_basis::driver, page_end};
    buffersize = static_cast<int>(dumb.size);
    return 0;
}

// A framebuffer on the buffer: XRGB8888 through ADDFB2, else the older depth 24 / 32 bits.
int add_framebuffer() {
    drm_mode_fb_cmd2 fb2{};
    fb2.width = fbvar.xres;
    fb2.height = fbvar.yres;
    fb2.pixel_format = kFormatXrgb8888;
    fb2.handles[0] = g_kms.handle;
    fb2.pitches[0] = static_cast<uint32_t>(fblayout.pitch);
    if (request(DRM_IOCTL_MODE_ADDFB2, &fb2) == 0) {
        g_kms.fb_id = fb2.fb_id;
        return 0;
    }
    drm_mode_fb_cmd fb{};
    fb.width = fbvar.xres;
    fb.height = fbvar.yres;
    fb.pitch = static_cast<uint32_t>(fblayout.pitch);
    fb.bpp = kBitsPerPixel;
    fb.depth = kColorDepth;
    fb.handle = g_kms.handle;
    if (request(DRM_IOCTL_MODE_ADDFB, &fb) < 0) {
        return -1;
    }
    g_kms.fb_id = fb.fb_id;
    return 0;
}

int map_buffer() {
    drm_mode_map_dumb map{};
    map.handle = g_kms.handle;
    if (request(DRM_IOCTL_MODE_MAP_DUMB, &map) < 0) {
        return -1;
    }
    if (map.offset > static_cast<uint64_t>(INT64_MAX)) {
        errno = EOVERFLOW;
        return -1;
    }
    // The 64-bit offset call: the card's offsets lie beyond 4 GiB on 64-bit kernels, also for a
    // 32-bit program.
    void* mapping = mmap64(nullptr, static_cast<size_t>(buffersize), PROT_READ | PROT_WRITE,
                           MAP_SHARED, g_kms.display.fd, static_cast<off64_t>(map.offset));
    if (mapping == MAP_FAILED) {
        return -1;
    }
    fbmem = static_cast<uint8_t*>(mapping);
    return 0;
}

int set_crtc() {
    drm_mode_crtc crtc{};
    crtc.crtc_id = g_kms.display.crtc_id;
    crtc.fb_id = g_kms.fb_id;
    crtc.set_connectors_ptr = kms_pointer(&g_kms.display.connector_id);
    crtc.count_connectors = 1;
    crtc.mode = g_kms.display.mode;
    crtc.mode_valid = 1;
    if (request(DRM_IOCTL_MODE_SETCRTC, &crtc) < 0) {
        return -1;
    }
    g_kms.crtc_set = true;
    return 0;
}

// Reports the failed step with the system's text; a display held by another program (the
// kernel refuses a mode change to any but the card's master) gets the way out.
bool failed(const char* step) {
    const int error = errno;
    if (error == EACCES || error == EBUSY) {
        std::fprintf(stderr,
                     "%s: %s: another program holds the display (stop Android's UI first)\n", step,
                     std::strerror(error));
    } else {
        std::fprintf(stderr, "%s: %s\n", step, std::strerror(error));
    }
    kms_release();
    return false;
}

}  // namespace

bool kms_connect() {
    kms_failure why{};
    if (kms_find(true, &g_kms.display, &why) < 0) {
        char text[128];
        kms_failure_text(why, text, sizeof text);
        std::fprintf(stderr, "%s\n", text);
        return false;
    }
    describe_screen();
    if (save_crtc() < 0) {
        return failed("kms crtc state");
    }
    if (create_buffer() < 0) {
        return failed("kms dumb buffer");
    }
    if (add_framebuffer() < 0) {
        return failed("kms framebuffer");
    }
    if (map_buffer() < 0) {
        return failed("kms map");
    }
    if (set_crtc() < 0) {
        return failed("kms set crtc");
    }
    return true;
}

bool kms_held() {
    return g_kms.display.fd >= 0;
}

void kms_present() {
    drm_mode_fb_dirty_cmd dirty{};
    dirty.fb_id = g_kms.fb_id;  // no clips: the whole framebuffer
    if (request(DRM_IOCTL_MODE_DIRTYFB, &dirty) == 0 || errno == ENOSYS || errno == EOPNOTSUPP ||
        errno == EINVAL || g_present_reported) {
        return;
    }
    g_present_reported = true;
    std::perror("kms dirtyfb");
}

void kms_release() {
    if (g_kms.crtc_set) {
        const int ignored = request(DRM_IOCTL_MODE_SETCRTC, &g_kms.restore);
        (void)ignored;
        g_kms.crtc_set = false;
    }
    if (g_kms.fb_id != 0) {
        uint32_t id = g_kms.fb_id;
        const int ignored = request(DRM_IOCTL_MODE_RMFB, &id);
        (void)ignored;
        g_kms.fb_id = 0;
    }
    if (fbmem != nullptr) {
        munmap(fbmem, static_cast<size_t>(buffersize));
        fbmem = nullptr;
    }
    if (g_kms.handle != 0) {
        drm_mode_destroy_dumb destroy{};
        destroy.handle = g_kms.handle;
        const int ignored = request(DRM_IOCTL_MODE_DESTROY_DUMB, &destroy);
        (void)ignored;
        g_kms.handle = 0;
    }
    if (g_kms.display.fd >= 0) {
        close(g_kms.display.fd);
        g_kms.display.fd = -1;
    }
}
