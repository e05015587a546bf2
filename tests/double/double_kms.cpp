// The KMS card: with ZELT_DOUBLE_KMS set, "/dev/dri/card0" has two connectors (HDMI-A-1
// disconnected; Virtual-1 connected, offering 640x480 and the preferred mode), CRTC 40 showing
// another program's framebuffer (a console, say) on Virtual-1 when the run starts, CRTC 41 off,
// and one dumb buffer at a time in an anonymous memory file; ZELT_DOUBLE_KMS_DISPLAYS arranges
// the displays otherwise. Its display, like virtio-gpu's, takes the buffer's content at the mode
// setting and at each DIRTYFB only: without the present it shows nothing new. Every request is
// logged, a GETCONNECTOR with no room for modes as a forced probe (as a first probe where no
// modes were known yet); closing the card logs what
// each CRTC shows on which connectors and what the program left behind ("close kms
// crtc40=fb50@33 crtc41=off left=none"). Pointers the kernel could not follow (null, or past 32
// bits in a 32-bit process) are refused with EFAULT. Without ZELT_DOUBLE_KMS no card exists.
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
constexpr uint32_t kEncoder = 35;  // the display's
constexpr uint32_t kHdmiEncoder = 34;
constexpr uint32_t kCrtc = 40;
constexpr uint32_t kIdleCrtc = 41;
constexpr uint32_t kDisconnected = 2;
constexpr uint32_t kConsoleFb = 50;
constexpr uint32_t kOurFb = 60;
constexpr uint32_t kHandle = 1;
constexpr uint64_t kMapOffset = 1ull << 32;  // as a 64-bit kernel hands them out
constexpr uint32_t kXrgb8888 = 0x34325258;   // "XR24"

struct crtc_state {
    uint32_t id;
    uint32_t fb;         // what it scans out; 0: off
    uint32_t connector;  // what it drives; 0: none
};

struct card_state {
    bool present = false;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t pitch = 0;
    std::string fail;
    std::string displays;  // ZELT_DOUBLE_KMS_DISPLAYS
    bool asked = false;    // Virtual-1 was asked for once ("hotplug": it has one mode more since)
    bool probed = false;   // Virtual-1 was probed ("unprobed": until then no modes are known)
    int memory = -1;       // the dumb buffer's memory file
    uint64_t size = 0;
    bool dumb = false;
    bool fb = false;
    void* map = nullptr;
    crtc_state crtcs[2] = {{kCrtc, kConsoleFb, kDisplay}, {kIdleCrtc, 0, 0}};
    std::vector<uint8_t> shown;  // what the display shows
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
        const char* displays = std::getenv("ZELT_DOUBLE_KMS_DISPLAYS");
        k.displays = displays != nullptr ? displays : "";
        if (k.displays.rfind("hdmi-lit", 0) == 0) {
            k.crtcs[0].connector = kHdmi;
        }
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

bool arranged(const char* displays) {
    return card().displays == displays;
}

// The console shows on HDMI-A-1, connected, instead of on Virtual-1.
bool hdmi_lit() {
    return card().displays.rfind("hdmi-lit", 0) == 0;
}

// The program's memory a request points at, as the kernel finds it: none at 0, nor where the
// address has bits above what this process's pointers hold.
void* user_memory(uint64_t address) {
    const bool fits = sizeof(void*) == 8 || (address >> 32) == 0;
    return address != 0 && fits ? reinterpret_cast<void*>(static_cast<uintptr_t>(address))
                                : nullptr;
}

bool copy_out(uint64_t address, const void* data, size_t size) {
    void* to = user_memory(address);
    if (to != nullptr) {
        std::memcpy(to, data, size);
    }
    return to != nullptr;
}

crtc_state* crtc_named(uint32_t id) {
    for (crtc_state& t : card().crtcs) {
        if (t.id == id) {
            return &t;
        }
    }
    return nullptr;
}

// The CRTC driving `connector`; 0 when none does.
uint32_t crtc_driving(uint32_t connector) {
    for (const crtc_state& t : card().crtcs) {
        if (t.connector == connector) {
            return t.id;
        }
    }
    return 0;
}

bool ours_shown() {
    return card().crtcs[0].fb == kOurFb || card().crtcs[1].fb == kOurFb;
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

// drm_mode_get_connector.connection: 1 connected, 2 disconnected, 3 unknown.
uint32_t connection_of(uint32_t connector) {
    if (connector == kDisplay) {
        return failing("connector") ? kDisconnected : arranged("virtual-unknown") ? 3 : 1;
    }
    return hdmi_lit() ? 1 : arranged("hdmi-unknown") ? 3 : kDisconnected;
}

std::vector<drm_mode_modeinfo> modes_of(uint32_t connector) {
    card_state& c = card();
    if (connection_of(connector) == kDisconnected || failing("mode")) {
        return {};
    }
    if (connector == kDisplay && arranged("unprobed") && !c.probed) {
        return {};
    }
    std::vector<drm_mode_modeinfo> modes = {mode_of(640, 480, false)};
    if (connector == kDisplay && arranged("many-modes")) {
        modes.resize(300, mode_of(320, 240, false));
    }
    if (connector == kDisplay && arranged("hotplug") && c.asked) {
        modes.push_back(mode_of(800, 600, false));
    }
    modes.push_back(mode_of(c.width, c.height, true));
    return modes;
}

int get_connector(drm_mode_get_connector* g) {
    const uint32_t id = g->connector_id;
    if (id != kHdmi && id != kDisplay) {
        return refuse("GETCONNECTOR", ENOENT);
    }
    // A forced probe of a display whose modes are known is what may disturb it; the first one
    // of a display known to have none is logged apart.
    const bool forced = g->count_modes == 0;
    const bool first = forced && id == kDisplay && arranged("unprobed") && !card().probed;
    card().probed = card().probed || (forced && id == kDisplay);
    const std::vector<drm_mode_modeinfo> modes = modes_of(id);
    const uint32_t encoder = id == kDisplay ? kEncoder : kHdmiEncoder;
    const uint32_t props[] = {1, 2};  // two properties, both 0
    const uint64_t values[] = {0, 0};
    // As the kernel does: a list is copied only when all of it fits.
    if ((!modes.empty() && g->count_modes >= modes.size() &&
         !copy_out(g->modes_ptr, modes.data(), modes.size() * sizeof modes[0])) ||
        (g->count_encoders >= 1 && !copy_out(g->encoders_ptr, &encoder, sizeof encoder)) ||
        (g->count_props >= 2 && (!copy_out(g->props_ptr, props, sizeof props) ||
                                 !copy_out(g->prop_values_ptr, values, sizeof values)))) {
        return refuse("GETCONNECTOR", EFAULT);
    }
    card().asked = card().asked || id == kDisplay;
    g->count_modes = static_cast<uint32_t>(modes.size());
    g->count_encoders = 1;
    g->count_props = 2;
    g->encoder_id = crtc_driving(id) != 0 && !failing("crtc") ? encoder : 0;
    g->connector_type = id == kDisplay ? DRM_MODE_CONNECTOR_VIRTUAL : DRM_MODE_CONNECTOR_HDMIA;
    g->connector_type_id = 1;
    g->connection = connection_of(id);
    double_log("ioctl kms GETCONNECTOR %u%s", id,
               first    ? " first probe"
               : forced ? " forced probe"
                        : "");
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

int set_crtc(const drm_mode_crtc* s) {
    card_state& c = card();
    if (failing("held")) {
        return refuse("SETCRTC", EACCES);  // what the kernel answers all but the card's master
    }
    const auto* ids = static_cast<const uint32_t*>(user_memory(s->set_connectors_ptr));
    if (s->count_connectors != 0 && ids == nullptr) {
        return refuse("SETCRTC", EFAULT);
    }
    const uint32_t connector = s->count_connectors == 1 ? *ids : 0;
    const bool ours = s->fb_id == kOurFb && c.fb;
    const bool off = s->fb_id == 0 && s->count_connectors == 0 && s->mode_valid == 0;
    const bool on = (s->fb_id == kConsoleFb || ours) && s->mode_valid == 1 &&
                    (connector == kHdmi || connector == kDisplay);
    crtc_state* target = crtc_named(s->crtc_id);
    if (target == nullptr || !(off || on)) {
        return refuse("SETCRTC", EINVAL);
    }
    // A connector has one CRTC: another one driving it lets go of it and goes off.
    for (crtc_state& t : c.crtcs) {
        t = on && t.connector == connector ? crtc_state{t.id, 0, 0} : t;
    }
    *target = crtc_state{target->id, s->fb_id, connector};
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
    if (ours_shown()) {
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
            // With the console on HDMI-A-1, Virtual-1 is listed first: a display that no CRTC
            // drives is taken while another is lit.
            const uint32_t connectors[] = {hdmi_lit() ? kDisplay : kHdmi,
                                           hdmi_lit() ? kHdmi : kDisplay};
            const uint32_t crtcs[] = {kCrtc, kIdleCrtc};
            if ((r->count_connectors >= 2 &&
                 !copy_out(r->connector_id_ptr, connectors, sizeof connectors)) ||
                (r->count_crtcs >= 2 && !copy_out(r->crtc_id_ptr, crtcs, sizeof crtcs))) {
                return refuse("GETRESOURCES", EFAULT);
            }
            r->count_connectors = 2;
            r->count_crtcs = 2;
            double_log("ioctl kms GETRESOURCES");
            return 0;
        }
        case DRM_IOCTL_MODE_GETCONNECTOR:
            return get_connector(static_cast<drm_mode_get_connector*>(arg));
        case DRM_IOCTL_MODE_GETENCODER: {
            auto* e = static_cast<drm_mode_get_encoder*>(arg);
            const uint32_t connector = e->encoder_id == kEncoder       ? kDisplay
                                       : e->encoder_id == kHdmiEncoder ? kHdmi
                                                                       : 0;
            if (connector == 0) {
                return refuse("GETENCODER", ENOENT);
            }
            e->crtc_id = failing("crtc") ? 0 : crtc_driving(connector);
            e->possible_crtcs = failing("crtc")                                          ? 0
                                : connector == kDisplay && arranged("hdmi-lit-one-crtc") ? 1
                                                                                         : 3;
            double_log("ioctl kms GETENCODER %u", e->encoder_id);
            return 0;
        }
        case DRM_IOCTL_MODE_GETCRTC: {
            auto* g = static_cast<drm_mode_crtc*>(arg);
            const crtc_state* t = crtc_named(g->crtc_id);
            if (failing("getcrtc") || t == nullptr) {
                return refuse("GETCRTC", EINVAL);
            }
            *g = drm_mode_crtc{};
            g->crtc_id = t->id;
            g->fb_id = t->fb;
            g->mode_valid = t->fb != 0 ? 1 : 0;
            g->mode = t->fb != 0 ? mode_of(c.width, c.height, true) : drm_mode_modeinfo{};
            double_log("ioctl kms GETCRTC %u", t->id);
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
            for (crtc_state& t : c.crtcs) {
                if (t.fb == kOurFb) {
                    t = crtc_state{t.id, 0, 0};  // its CRTC goes off with it
                }
            }
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
    std::string crtcs;
    for (const crtc_state& t : c.crtcs) {
        crtcs += " crtc" + std::to_string(t.id) + "=";
        crtcs +=
            t.fb == 0 ? "off" : "fb" + std::to_string(t.fb) + "@" + std::to_string(t.connector);
    }
    std::string left =
        std::string(c.dumb ? " dumb" : "") + (c.fb ? " fb" : "") + (c.map != nullptr ? " map" : "");
    double_log("close kms%s left=%s", crtcs.c_str(), left.empty() ? "none" : &left[1]);
    g_fd.store(-1);
}

bool double_kms_save(const char* path) {
    if (g_fd.load() < 0 || !ours_shown()) {
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
