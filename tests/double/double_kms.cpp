// The KMS card: with ZELT_DOUBLE_KMS set, "/dev/dri/card0" is a card with two connectors (HDMI-A-1
// disconnected, Virtual-1 connected, offering 640x480 and its preferred mode), one encoder each,
// one CRTC that shows another program's framebuffer (a console, say) when the run starts, and
// dumb buffers in anonymous memory files. Its display, like virtio-gpu's, shows the buffer as it
// was at the mode setting and again at each DIRTYFB, never in between: a missing present leaves
// the screen as it was. Every request is logged; closing the card logs what the CRTC shows and
// what the program left behind. Without ZELT_DOUBLE_KMS no /dev/dri/card* exists.
#include <drm/drm.h>
#include <drm/drm_mode.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/double/device_double.h"

namespace {

constexpr const char kCardPrefix[] = "/dev/dri/card";
constexpr uint32_t kCrtc = 40;
constexpr uint32_t kDisconnected = 31;  // HDMI-A-1
constexpr uint32_t kDisplay = 33;       // Virtual-1
constexpr uint32_t kEncoderOf[2] = {34, 35};
constexpr uint32_t kConsoleFb = 50;  // another program's framebuffer, shown at the start
constexpr uint32_t kOurFb = 60;
constexpr uint32_t kHandle = 1;
constexpr uint64_t kMapOffset = 1ull << 32;  // as a 64-bit kernel hands them out
constexpr uint32_t kConnectorHdmiA = 11;
constexpr uint32_t kConnectorVirtual = 15;
constexpr uint32_t kFormatXrgb8888 = 0x34325258;  // "XR24"

struct kms_config {
    bool present;
    uint32_t width;
    uint32_t height;
    uint32_t pitch;
    std::string fail;
};

const kms_config& config() {
    static const kms_config c = [] {
        kms_config k{};
        const char* mode = std::getenv("ZELT_DOUBLE_KMS");
        k.present =
            mode != nullptr && std::sscanf(mode, "%ux%u", &k.width, &k.height) == 2 && k.width > 0;
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
    return config().fail == step;
}

// The card's state. The program's main thread sets it up before its UI thread exists and
// releases it after that thread ended; the UI thread only presents and saves frames.
struct card_state {
    int fd = -1;
    bool dumb = false;
    int memory = -1;  // the dumb buffer's memory file
    uint64_t size = 0;
    bool fb = false;
    void* map = nullptr;
    size_t map_length = 0;
    uint32_t crtc_fb = kConsoleFb;  // what the CRTC scans out
    std::vector<uint8_t> shown;     // what the display shows of our framebuffer
};
card_state g_card;

drm_mode_modeinfo make_mode(uint32_t w, uint32_t h, bool preferred) {
    drm_mode_modeinfo m{};
    m.hdisplay = static_cast<uint16_t>(w);
    m.vdisplay = static_cast<uint16_t>(h);
    m.vrefresh = 60;
    m.type = DRM_MODE_TYPE_DRIVER | (preferred ? DRM_MODE_TYPE_PREFERRED : 0);
    std::snprintf(m.name, sizeof m.name, "%ux%u", w, h);
    return m;
}

std::vector<drm_mode_modeinfo> display_modes() {
    if (failing("mode")) {
        return {};
    }
    return {make_mode(640, 480, false), make_mode(config().width, config().height, true)};
}

template <typename T>
T* user(uint64_t address) {
    return reinterpret_cast<T*>(static_cast<uintptr_t>(address));
}

// Copies what the display scans out into what it shows: the dumb buffer, as of now.
void refresh_display() {
    if (g_card.map == nullptr && g_card.memory >= 0) {
        g_card.shown.resize(g_card.size);
        const ssize_t got = pread(g_card.memory, g_card.shown.data(), g_card.size, 0);
        (void)got;
    } else if (g_card.map != nullptr) {
        g_card.shown.assign(static_cast<uint8_t*>(g_card.map),
                            static_cast<uint8_t*>(g_card.map) + g_card.size);
    }
}

int refuse(const char* what, int error) {
    double_log("ioctl kms %s failed (%s)", what,
               config().fail.empty() ? std::strerror(error) : "injected");
    errno = error;
    return -1;
}

int get_resources(drm_mode_card_res* r) {
    if (failing("resources")) {
        return refuse("GETRESOURCES", EINVAL);
    }
    const uint32_t connectors[] = {kDisconnected, kDisplay};
    if (r->count_connectors >= 2) {
        std::memcpy(user<uint32_t>(r->connector_id_ptr), connectors, sizeof connectors);
    }
    if (r->count_crtcs >= 1) {
        *user<uint32_t>(r->crtc_id_ptr) = kCrtc;
    }
    r->count_connectors = 2;
    r->count_crtcs = 1;
    r->count_encoders = 2;
    r->count_fbs = 0;
    double_log("ioctl kms GETRESOURCES");
    return 0;
}

int get_connector(drm_mode_get_connector* c) {
    const bool display = c->connector_id == kDisplay;
    if (!display && c->connector_id != kDisconnected) {
        return refuse("GETCONNECTOR", ENOENT);
    }
    const bool connected = display && !failing("connector");
    const std::vector<drm_mode_modeinfo> modes =
        connected ? display_modes() : std::vector<drm_mode_modeinfo>{};
    const uint32_t count = static_cast<uint32_t>(modes.size());
    if (count > 0 && c->count_modes >= count) {
        std::memcpy(user<drm_mode_modeinfo>(c->modes_ptr), modes.data(),
                    count * sizeof(drm_mode_modeinfo));
    }
    if (c->count_encoders >= 1) {
        *user<uint32_t>(c->encoders_ptr) = kEncoderOf[display ? 1 : 0];
    }
    c->count_modes = count;
    c->count_encoders = 1;
    c->count_props = 0;
    c->encoder_id = connected && !failing("crtc") ? kEncoderOf[1] : 0;
    c->connector_type = display ? kConnectorVirtual : kConnectorHdmiA;
    c->connector_type_id = 1;
    c->connection = connected ? 1 : 2;  // 1 connected, 2 disconnected
    double_log("ioctl kms GETCONNECTOR %u", c->connector_id);
    return 0;
}

int get_encoder(drm_mode_get_encoder* e) {
    if (e->encoder_id != kEncoderOf[0] && e->encoder_id != kEncoderOf[1]) {
        return refuse("GETENCODER", ENOENT);
    }
    const bool usable = !failing("crtc");
    e->encoder_type = DRM_MODE_ENCODER_VIRTUAL;
    e->crtc_id = e->encoder_id == kEncoderOf[1] && usable ? kCrtc : 0;
    e->possible_crtcs = usable ? 1 : 0;
    double_log("ioctl kms GETENCODER %u", e->encoder_id);
    return 0;
}

int get_crtc(drm_mode_crtc* c) {
    if (c->crtc_id != kCrtc) {
        return refuse("GETCRTC", ENOENT);
    }
    if (failing("getcrtc")) {
        return refuse("GETCRTC", EINVAL);
    }
    c->fb_id = g_card.crtc_fb;
    c->x = c->y = 0;
    c->mode_valid = g_card.crtc_fb != 0 ? 1 : 0;
    c->mode = make_mode(config().width, config().height, true);
    c->count_connectors = 0;
    double_log("ioctl kms GETCRTC %u", c->crtc_id);
    return 0;
}

int create_dumb(drm_mode_create_dumb* d) {
    if (failing("create")) {
        return refuse("CREATE_DUMB", ENOMEM);
    }
    if (g_card.dumb || d->bpp != 32 || d->width != config().width) {
        return refuse("CREATE_DUMB", EINVAL);
    }
    d->pitch = config().pitch;
    d->size = (uint64_t{d->pitch} * d->height + 4095) / 4096 * 4096;
    d->handle = kHandle;
    g_card.memory = memfd_create("zelt-dumb", 0);
    if (g_card.memory < 0 || ftruncate(g_card.memory, static_cast<off_t>(d->size)) != 0) {
        return refuse("CREATE_DUMB", ENOMEM);
    }
    g_card.dumb = true;
    g_card.size = d->size;
    double_log("ioctl kms CREATE_DUMB %ux%u bpp=32 -> pitch=%u size=%llu", d->width, d->height,
               d->pitch, static_cast<unsigned long long>(d->size));
    return 0;
}

int add_fb2(drm_mode_fb_cmd2* f) {
    if (failing("addfb2") || failing("addfb")) {
        return refuse("ADDFB2", EINVAL);
    }
    if (f->handles[0] != kHandle || f->pixel_format != kFormatXrgb8888 ||
        f->pitches[0] != config().pitch || g_card.fb) {
        return refuse("ADDFB2", EINVAL);
    }
    g_card.fb = true;
    f->fb_id = kOurFb;
    double_log("ioctl kms ADDFB2 XR24 %ux%u pitch=%u -> fb=%u", f->width, f->height, f->pitches[0],
               kOurFb);
    return 0;
}

int add_fb(drm_mode_fb_cmd* f) {
    if (failing("addfb")) {
        return refuse("ADDFB", EINVAL);
    }
    if (f->handle != kHandle || f->bpp != 32 || f->depth != 24 || f->pitch != config().pitch ||
        g_card.fb) {
        return refuse("ADDFB", EINVAL);
    }
    g_card.fb = true;
    f->fb_id = kOurFb;
    double_log("ioctl kms ADDFB depth=24 bpp=32 %ux%u pitch=%u -> fb=%u", f->width, f->height,
               f->pitch, kOurFb);
    return 0;
}

int map_dumb(drm_mode_map_dumb* m) {
    if (failing("map")) {
        return refuse("MAP_DUMB", EINVAL);
    }
    if (m->handle != kHandle || !g_card.dumb) {
        return refuse("MAP_DUMB", ENOENT);
    }
    m->offset = kMapOffset;
    double_log("ioctl kms MAP_DUMB");
    return 0;
}

int set_crtc(drm_mode_crtc* c) {
    if (failing("held")) {
        return refuse("SETCRTC", EACCES);  // what the kernel answers all but the card's master
    }
    const bool ours = c->fb_id == kOurFb && g_card.fb;
    const bool valid_fb = c->fb_id == 0 || c->fb_id == kConsoleFb || ours;
    const bool shape = c->fb_id == 0 ? c->count_connectors == 0 && c->mode_valid == 0
                                     : c->count_connectors == 1 && c->mode_valid == 1 &&
                                           *user<uint32_t>(c->set_connectors_ptr) == kDisplay;
    if (c->crtc_id != kCrtc || !valid_fb || !shape) {
        return refuse("SETCRTC", EINVAL);
    }
    g_card.crtc_fb = c->fb_id;
    if (ours) {
        refresh_display();  // a mode setting shows the buffer as it is
    }
    double_log("ioctl kms SETCRTC crtc=%u fb=%u", c->crtc_id, c->fb_id);
    return 0;
}

int dirty_fb(drm_mode_fb_dirty_cmd* d) {
    if (failing("dirtyfb")) {
        double_log("ioctl kms DIRTYFB unsupported");
        errno = ENOSYS;  // a driver that scans the memory itself: nothing to do
        return -1;
    }
    if (d->fb_id != kOurFb || !g_card.fb) {
        return refuse("DIRTYFB", ENOENT);
    }
    if (g_card.crtc_fb == kOurFb) {
        refresh_display();
    }
    double_log("ioctl kms DIRTYFB fb=%u", d->fb_id);
    return 0;
}

int remove_fb(const uint32_t* id) {
    if (*id != kOurFb || !g_card.fb) {
        return refuse("RMFB", ENOENT);
    }
    g_card.fb = false;
    if (g_card.crtc_fb == kOurFb) {
        g_card.crtc_fb = 0;  // the kernel switches off a CRTC whose framebuffer goes
    }
    double_log("ioctl kms RMFB %u", *id);
    return 0;
}

int destroy_dumb(const drm_mode_destroy_dumb* d) {
    if (d->handle != kHandle || !g_card.dumb) {
        return refuse("DESTROY_DUMB", ENOENT);
    }
    g_card.dumb = false;
    double_log("ioctl kms DESTROY_DUMB");
    return 0;
}

}  // namespace

bool double_kms_path(const char* path) {
    return path != nullptr && std::strncmp(path, kCardPrefix, sizeof kCardPrefix - 1) == 0;
}

bool double_kms_card(int fd) {
    return fd >= 0 && fd == g_card.fd;
}

int double_kms_open(const char* path, int flags) {
    if (!config().present || std::strcmp(path, "/dev/dri/card0") != 0 || g_card.fd >= 0) {
        double_log("open %s failed (no card)", path);
        errno = ENOENT;
        return -1;
    }
    const auto real_open = DOUBLE_REAL(open);
    g_card.fd = real_open("/dev/null", O_RDWR | O_CLOEXEC);
    double_log("open %s flags=%s", path, (flags & O_ACCMODE) == O_RDONLY ? "rdonly" : "rdwr");
    return g_card.fd;
}

int double_kms_ioctl(unsigned long request, void* arg) {
    switch (request) {
        case DRM_IOCTL_MODE_GETRESOURCES:
            return get_resources(static_cast<drm_mode_card_res*>(arg));
        case DRM_IOCTL_MODE_GETCONNECTOR:
            return get_connector(static_cast<drm_mode_get_connector*>(arg));
        case DRM_IOCTL_MODE_GETENCODER:
            return get_encoder(static_cast<drm_mode_get_encoder*>(arg));
        case DRM_IOCTL_MODE_GETCRTC:
            return get_crtc(static_cast<drm_mode_crtc*>(arg));
        case DRM_IOCTL_MODE_CREATE_DUMB:
            return create_dumb(static_cast<drm_mode_create_dumb*>(arg));
        case DRM_IOCTL_MODE_ADDFB2:
            return add_fb2(static_cast<drm_mode_fb_cmd2*>(arg));
        case DRM_IOCTL_MODE_ADDFB:
            return add_fb(static_cast<drm_mode_fb_cmd*>(arg));
        case DRM_IOCTL_MODE_MAP_DUMB:
            return map_dumb(static_cast<drm_mode_map_dumb*>(arg));
        case DRM_IOCTL_MODE_SETCRTC:
            return set_crtc(static_cast<drm_mode_crtc*>(arg));
        case DRM_IOCTL_MODE_DIRTYFB:
            return dirty_fb(static_cast<drm_mode_fb_dirty_cmd*>(arg));
        case DRM_IOCTL_MODE_RMFB:
            return remove_fb(static_cast<uint32_t*>(arg));
        case DRM_IOCTL_MODE_DESTROY_DUMB:
            return destroy_dumb(static_cast<drm_mode_destroy_dumb*>(arg));
        default:
            double_log("ioctl kms request=0x%lx unsupported", request);
            errno = ENOTTY;
            return -1;
    }
}

void* double_kms_map(size_t length, int prot, int flags, uint64_t offset) {
    if (failing("mmap")) {
        double_log("mmap kms length=%zu failed (injected)", length);
        errno = ENOMEM;
        return MAP_FAILED;
    }
    if (!g_card.dumb || offset != kMapOffset || length > g_card.size || g_card.map != nullptr) {
        double_log("mmap kms length=%zu offset=0x%llx refused", length,
                   static_cast<unsigned long long>(offset));
        errno = EINVAL;
        return MAP_FAILED;
    }
    const auto real_mmap = DOUBLE_REAL(mmap);
    void* mapping = real_mmap(nullptr, length, prot, flags, g_card.memory, 0);
    if (mapping != MAP_FAILED) {
        g_card.map = mapping;
        g_card.map_length = length;
        double_log("mmap kms length=%zu", length);
    }
    return mapping;
}

bool double_kms_unmap(void* addr, size_t length) {
    if (addr == nullptr || addr != g_card.map) {
        return false;
    }
    g_card.map = nullptr;
    double_log("munmap kms length=%zu", length);
    return true;
}

void double_kms_close(int fd) {
    if (!double_kms_card(fd)) {
        return;
    }
    std::string left;
    left += g_card.dumb ? " dumb" : "";
    left += g_card.fb ? " fb" : "";
    left += g_card.map != nullptr ? " map" : "";
    double_log("close kms crtc=fb%u left=%s", g_card.crtc_fb,
               left.empty() ? "none" : left.c_str() + 1);
    if (g_card.memory >= 0 && !g_card.dumb) {
        const auto real_close = DOUBLE_REAL(close);
        real_close(g_card.memory);
        g_card.memory = -1;
    }
    g_card.fd = -1;
}

bool double_kms_save(const char* path) {
    if (!config().present || g_card.crtc_fb != kOurFb) {
        return false;
    }
    if (failing("dirtyfb")) {
        refresh_display();  // this display scans the memory itself
    }
    const auto real_open = DOUBLE_REAL(open);
    const int fd = real_open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    const ssize_t written = write(fd, g_card.shown.data(), g_card.shown.size());
    const auto real_close = DOUBLE_REAL(close);
    real_close(fd);
    return written == static_cast<ssize_t>(g_card.shown.size());
}
