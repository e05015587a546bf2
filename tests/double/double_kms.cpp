// The KMS card: with ZELT_DOUBLE_KMS set, "/dev/dri/card0" has two connectors (HDMI-A-1
// disconnected; Virtual-1 connected, offering 640x480 and the preferred mode), one CRTC that
// shows another program's framebuffer (a console, say) when the run starts, and one dumb buffer
// at a time in an anonymous memory file. Its display, like virtio-gpu's, takes the buffer's
// content at the mode setting and at each DIRTYFB only: without the present it shows nothing
// new. Every request is logged; closing the card logs what the CRTC shows and what the program
// left behind ("close kms crtc=fb50 left=none"). Without ZELT_DOUBLE_KMS no card exists.
#include <drm/drm.h>
#include <drm/drm_mode.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/double/device_double.h"

namespace {

constexpr char kCardPrefix[] = "/dev/dri/card";
constexpr uint32_t kHdmi = 31;
constexpr uint32_t kDisplay = 33;
constexpr uint32_t kEncoder = 35;  // the display's; the HDMI connector's is 34
constexpr uint32_t kCrtc = 40;
constexpr uint32_t kConsoleFb = 50;
constexpr uint32_t kOurFb = 60;
constexpr uint32_t kHandle = 1;
constexpr uint64_t kMapOffset = 1ull << 32;  // as a 64-bit kernel hands them out
constexpr uint32_t kXrgb8888 = 0x34325258;   // "XR24"

struct card_state {
    bool present = false;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t pitch = 0;
    std::string fail;
    int memory = -1;  // the dumb buffer's memory file
    uint64_t size = 0;
    bool dumb = false;
    bool fb = false;
    void* map = nullptr;
    uint32_t crtc_fb = kConsoleFb;  // what the CRTC scans out
    std::vector<uint8_t> shown;     // what the display shows
};

// The open card's handle: read by every ioctl, mmap and close of the process, so no lazy state.
std::atomic<int> g_fd{-1};

// Set up by the program's main thread before its UI thread exists and released after that
// thread ended; the UI thread only presents and saves frames.
card_state& card() {
    static card_state c = [] {
        card_state k;
        const char* mode = std::getenv("ZELT_DOUBLE_KMS");
        k.present = mode != nullptr && std::sscanf(mode, "%ux%u", &k.width, &k.height) == 2;
        const char* pitch = std::getenv("ZELT_DOUBLE_KMS_PITCH");
        k.pitch = pitch != nullptr ? static_cast<uint32_t>(std::strtoul(pitch, nullptr, 10))
                                   : (k.width * 4 + 63) / 64 * 64;
        const char* fail = std::getenv("ZELT_DOUBLE_KMS_FAIL");
        k.fail = fail != nullptr ? fail : "";
        return k;
    }();
    return c;
}

bool failing(const char* step) {
    return card().fail == step;
}

int refuse(const char* what, int error) {
    double_log("ioctl kms %s failed (%s)", what, std::strerror(error));
    errno = error;
    return -1;
}

template <typename T>
T* user_memory(uint64_t address) {
    return reinterpret_cast<T*>(static_cast<uintptr_t>(address));
}

drm_mode_modeinfo mode_of(uint32_t w, uint32_t h, bool preferred) {
    drm_mode_modeinfo m{};
    m.hdisplay = static_cast<uint16_t>(w);
    m.vdisplay = static_cast<uint16_t>(h);
    m.vrefresh = 60;
    m.type = preferred ? DRM_MODE_TYPE_PREFERRED : 0;
    return m;
}

// The display takes what the buffer holds now.
void refresh_display() {
    card_state& c = card();
    c.shown.resize(c.size);
    const ssize_t got = pread(c.memory, c.shown.data(), c.size, 0);
    (void)got;
}

int get_connector(drm_mode_get_connector* g) {
    card_state& c = card();
    const bool connected = g->connector_id == kDisplay && !failing("connector");
    std::vector<drm_mode_modeinfo> modes;
    if (connected && !failing("mode")) {
        modes = {mode_of(640, 480, false), mode_of(c.width, c.height, true)};
    }
    // As the kernel does: a list is copied only when all of it fits.
    if (!modes.empty() && g->count_modes >= modes.size()) {
        std::memcpy(user_memory<drm_mode_modeinfo>(g->modes_ptr), modes.data(),
                    modes.size() * sizeof modes[0]);
    }
    if (g->count_encoders >= 1) {
        *user_memory<uint32_t>(g->encoders_ptr) =
            g->connector_id == kDisplay ? kEncoder : kEncoder - 1;
    }
    g->count_modes = static_cast<uint32_t>(modes.size());
    g->count_encoders = 1;
    g->count_props = 0;
    g->encoder_id = connected && !failing("crtc") ? kEncoder : 0;
    g->connector_type =
        g->connector_id == kDisplay ? DRM_MODE_CONNECTOR_VIRTUAL : DRM_MODE_CONNECTOR_HDMIA;
    g->connector_type_id = 1;
    g->connection = connected ? 1 : 2;
    double_log("ioctl kms GETCONNECTOR %u", g->connector_id);
    return 0;
}

int create_dumb(drm_mode_create_dumb* d) {
    card_state& c = card();
    if (failing("create") || c.dumb || d->bpp != 32 || d->width != c.width) {
        return refuse("CREATE_DUMB", ENOMEM);
    }
    d->pitch = c.pitch;
    d->size = (uint64_t{c.pitch} * d->height + 4095) / 4096 * 4096;
    d->handle = kHandle;
    if (c.memory < 0) {
        // Through syscall(): bionic declares memfd_create only from API level 30.
        c.memory = static_cast<int>(syscall(SYS_memfd_create, "zelt-dumb", 0));
    }
    if (c.memory < 0 || ftruncate(c.memory, static_cast<off_t>(d->size)) != 0) {
        return refuse("CREATE_DUMB", ENOMEM);
    }
    c.dumb = true;
    c.size = d->size;
    double_log("ioctl kms CREATE_DUMB %ux%u bpp=32 -> pitch=%u size=%llu", d->width, d->height,
               d->pitch, static_cast<unsigned long long>(d->size));
    return 0;
}

// ADDFB2 (XRGB8888) and ADDFB (depth 24, 32 bits) on the one dumb buffer, at its pitch.
int add_fb(const char* what, bool wanted, uint32_t handle, uint32_t pitch, uint32_t* fb_id) {
    card_state& c = card();
    if (!wanted || handle != kHandle || pitch != c.pitch || c.fb) {
        return refuse(what, EINVAL);
    }
    c.fb = true;
    *fb_id = kOurFb;
    double_log("ioctl kms %s pitch=%u -> fb=%u", what, pitch, kOurFb);
    return 0;
}

int set_crtc(drm_mode_crtc* s) {
    card_state& c = card();
    if (failing("held")) {
        return refuse("SETCRTC", EACCES);  // what the kernel answers all but the card's master
    }
    const bool ours = s->fb_id == kOurFb && c.fb;
    const bool off = s->fb_id == 0 && s->count_connectors == 0 && s->mode_valid == 0;
    const bool on = (s->fb_id == kConsoleFb || ours) && s->count_connectors == 1 &&
                    s->mode_valid == 1 && *user_memory<uint32_t>(s->set_connectors_ptr) == kDisplay;
    if (s->crtc_id != kCrtc || !(off || on)) {
        return refuse("SETCRTC", EINVAL);
    }
    c.crtc_fb = s->fb_id;
    if (ours) {
        refresh_display();
    }
    double_log("ioctl kms SETCRTC crtc=%u fb=%u", s->crtc_id, s->fb_id);
    return 0;
}

int dirty_fb(const drm_mode_fb_dirty_cmd* d) {
    card_state& c = card();
    if (failing("dirtyfb")) {
        double_log("ioctl kms DIRTYFB unsupported");
        errno = ENOSYS;  // a driver that scans the memory itself: nothing to do
        return -1;
    }
    if (d->fb_id != kOurFb || !c.fb) {
        return refuse("DIRTYFB", ENOENT);
    }
    if (c.crtc_fb == kOurFb) {
        refresh_display();
    }
    double_log("ioctl kms DIRTYFB fb=%u", d->fb_id);
    return 0;
}

}  // namespace

bool double_kms_path(const char* path) {
    return path != nullptr && std::strncmp(path, kCardPrefix, sizeof kCardPrefix - 1) == 0;
}

bool double_kms_card(int fd) {
    return fd >= 0 && fd == g_fd.load();
}

int double_kms_open(const char* path, int flags) {
    if (!card().present || std::strcmp(path, "/dev/dri/card0") != 0 || g_fd.load() >= 0) {
        double_log("open %s failed (no card)", path);
        errno = ENOENT;
        return -1;
    }
    const auto real_open = DOUBLE_REAL(open);
    g_fd.store(real_open("/dev/null", O_RDWR | O_CLOEXEC));
    double_log("open %s flags=%s", path, (flags & O_ACCMODE) == O_RDONLY ? "rdonly" : "rdwr");
    return g_fd.load();
}

int double_kms_ioctl(unsigned long request, void* arg) {
    card_state& c = card();
    switch (request) {
        case DRM_IOCTL_MODE_GETRESOURCES: {
            if (failing("resources")) {
                return refuse("GETRESOURCES", EINVAL);
            }
            auto* r = static_cast<drm_mode_card_res*>(arg);
            const uint32_t connectors[] = {kHdmi, kDisplay};
            if (r->count_connectors >= 2) {
                std::memcpy(user_memory<uint32_t>(r->connector_id_ptr), connectors,
                            sizeof connectors);
            }
            if (r->count_crtcs >= 1) {
                *user_memory<uint32_t>(r->crtc_id_ptr) = kCrtc;
            }
            r->count_connectors = 2;
            r->count_crtcs = 1;
            double_log("ioctl kms GETRESOURCES");
            return 0;
        }
        case DRM_IOCTL_MODE_GETCONNECTOR:
            return get_connector(static_cast<drm_mode_get_connector*>(arg));
        case DRM_IOCTL_MODE_GETENCODER: {
            auto* e = static_cast<drm_mode_get_encoder*>(arg);
            e->crtc_id = e->encoder_id == kEncoder && !failing("crtc") ? kCrtc : 0;
            e->possible_crtcs = failing("crtc") ? 0 : 1;
            double_log("ioctl kms GETENCODER %u", e->encoder_id);
            return 0;
        }
        case DRM_IOCTL_MODE_GETCRTC: {
            auto* g = static_cast<drm_mode_crtc*>(arg);
            if (failing("getcrtc") || g->crtc_id != kCrtc) {
                return refuse("GETCRTC", EINVAL);
            }
            *g = drm_mode_crtc{};
            g->crtc_id = kCrtc;
            g->fb_id = c.crtc_fb;
            g->mode_valid = c.crtc_fb != 0 ? 1 : 0;
            g->mode = mode_of(c.width, c.height, true);
            double_log("ioctl kms GETCRTC %u", kCrtc);
            return 0;
        }
        case DRM_IOCTL_MODE_CREATE_DUMB:
            return create_dumb(static_cast<drm_mode_create_dumb*>(arg));
        case DRM_IOCTL_MODE_ADDFB2: {
            auto* f = static_cast<drm_mode_fb_cmd2*>(arg);
            const bool wanted =
                !failing("addfb2") && !failing("addfb") && f->pixel_format == kXrgb8888;
            return add_fb("ADDFB2", wanted, f->handles[0], f->pitches[0], &f->fb_id);
        }
        case DRM_IOCTL_MODE_ADDFB: {
            auto* f = static_cast<drm_mode_fb_cmd*>(arg);
            const bool wanted = !failing("addfb") && f->bpp == 32 && f->depth == 24;
            return add_fb("ADDFB", wanted, f->handle, f->pitch, &f->fb_id);
        }
        case DRM_IOCTL_MODE_MAP_DUMB: {
            auto* m = static_cast<drm_mode_map_dumb*>(arg);
            if (failing("map") || m->handle != kHandle || !c.dumb) {
                return refuse("MAP_DUMB", EINVAL);
            }
            m->offset = kMapOffset;
            double_log("ioctl kms MAP_DUMB");
            return 0;
        }
        case DRM_IOCTL_MODE_SETCRTC:
            return set_crtc(static_cast<drm_mode_crtc*>(arg));
        case DRM_IOCTL_MODE_DIRTYFB:
            return dirty_fb(static_cast<drm_mode_fb_dirty_cmd*>(arg));
        case DRM_IOCTL_MODE_RMFB:
            if (*static_cast<uint32_t*>(arg) != kOurFb || !c.fb) {
                return refuse("RMFB", ENOENT);
            }
            c.fb = false;
            c.crtc_fb = c.crtc_fb == kOurFb ? 0 : c.crtc_fb;  // its CRTC goes off with it
            double_log("ioctl kms RMFB %u", kOurFb);
            return 0;
        case DRM_IOCTL_MODE_DESTROY_DUMB:
            if (static_cast<drm_mode_destroy_dumb*>(arg)->handle != kHandle || !c.dumb) {
                return refuse("DESTROY_DUMB", ENOENT);
            }
            c.dumb = false;
            double_log("ioctl kms DESTROY_DUMB");
            return 0;
        default:
            double_log("ioctl kms request=0x%lx unsupported", request);
            errno = ENOTTY;
            return -1;
    }
}

void* double_kms_map(size_t length, int prot, int flags, uint64_t offset) {
    card_state& c = card();
    if (failing("mmap") || !c.dumb || offset != kMapOffset || length > c.size || c.map != nullptr) {
        double_log("mmap kms length=%zu failed", length);
        errno = ENOMEM;
        return MAP_FAILED;
    }
    const auto real_mmap = DOUBLE_REAL(mmap);
    c.map = real_mmap(nullptr, length, prot, flags, c.memory, 0);
    c.map = c.map == MAP_FAILED ? nullptr : c.map;
    double_log("mmap kms length=%zu", length);
    return c.map != nullptr ? c.map : MAP_FAILED;
}

bool double_kms_unmap(void* addr, size_t length) {
    if (g_fd.load() < 0 || addr == nullptr || addr != card().map) {
        return false;
    }
    card().map = nullptr;
    double_log("munmap kms length=%zu", length);
    return true;
}

void double_kms_close(int fd) {
    if (!double_kms_card(fd)) {
        return;
    }
    const card_state& c = card();
    std::string left =
        std::string(c.dumb ? " dumb" : "") + (c.fb ? " fb" : "") + (c.map != nullptr ? " map" : "");
    double_log("close kms crtc=fb%u left=%s", c.crtc_fb, left.empty() ? "none" : &left[1]);
    g_fd.store(-1);
}

bool double_kms_save(const char* path) {
    if (g_fd.load() < 0 || card().crtc_fb != kOurFb) {
        return false;
    }
    if (failing("dirtyfb")) {
        refresh_display();  // this display scans the memory itself
    }
    const std::vector<uint8_t>& shown = card().shown;
    const auto real_open = DOUBLE_REAL(open);
    const int fd = real_open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    const bool saved = write(fd, shown.data(), shown.size()) == static_cast<ssize_t>(shown.size());
    DOUBLE_REAL(close)(fd);
    return saved;
}
