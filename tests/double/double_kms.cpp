// The KMS card: with ZELT_DOUBLE_KMS set, "/dev/dri/card0" has the connectors of a row of the
// table below (by default HDMI-A-1 disconnected, Virtual-1 connected offering 640x480 and the
// preferred mode), CRTC 40 showing a console's second 640x480 page on one of them when the run
// starts, CRTC 41 off, and one dumb buffer at a time in an anonymous memory file. Its display,
// like virtio-gpu's, takes the buffer's content at the mode setting and at each DIRTYFB only.
// SETCRTC refuses what the kernel refuses. Every request is logged, a GETCONNECTOR with no room
// for modes as a forced probe (as a first probe where no modes were known yet); closing the card
// logs what each CRTC shows, on which connector, in which mode from where, and what the program
// left ("close kms crtc40=fb50@33:640x480+0+480 crtc41=off left=none"). Without ZELT_DOUBLE_KMS
// no card exists.
#include <drm/drm.h>
#include <drm/drm_mode.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "tests/double/device_double.h"

namespace {

constexpr char kCardPrefix[] = "/dev/dri/card";
constexpr uint32_t kHdmi = 31;     // HDMI-A-1; a connector's one encoder is numbered after it
constexpr uint32_t kDisplay = 33;  // Virtual-1
constexpr uint32_t kOurFb = 60;
constexpr uint32_t kHandle = 1;
constexpr uint64_t kMapOffset = 1ull << 32;  // as a 64-bit kernel hands them out
constexpr uint32_t kXrgb8888 = 0x34325258;   // "XR24"
// drm_mode_get_connector.connection: connected, disconnected, the kernel cannot tell.
enum : uint32_t { kConnected = 1, kDisconnected = 2, kUnknown = 3 };
// Another program's framebuffer: two pages of its 640x480 mode.
constexpr drm_mode_fb_cmd kConsoleFb = {50, 640, 960, 2560, 32, 24, 0};

// The modes a connector offers: 640x480 and the preferred mode (plain); so with 299 of 320x240
// between (many); with 800x600 besides once asked for (hotplug); none until probed (unprobed).
enum offer { plain, many, hotplug, unprobed };

struct connector_row {
    uint32_t id;
    uint32_t connection;  // kConnected, kDisconnected or kUnknown
    offer modes;
    uint32_t crtcs = 3;  // the CRTCs its encoder can drive: a bit each, in the listed order
    bool asked = false;
    bool probed = false;
};

// A ZELT_DOUBLE_KMS_DISPLAYS arrangement: the connectors as GETRESOURCES lists them (a dark
// Virtual-1 before a lit HDMI-A-1: it is taken first) and the one CRTC 40 shows the console on.
struct arrangement {
    const char* name;
    connector_row connectors[2];
    uint32_t console;
};

const arrangement kArrangements[] = {
    {"", {{kHdmi, kDisconnected, plain}, {kDisplay, kConnected, plain}}, kDisplay},
    {"hdmi-lit", {{kDisplay, kConnected, plain}, {kHdmi, kConnected, plain}}, kHdmi},
    {"hdmi-lit-one-crtc", {{kDisplay, kConnected, plain, 1}, {kHdmi, kConnected, plain}}, kHdmi},
    {"virtual-unknown", {{kHdmi, kDisconnected, plain}, {kDisplay, kUnknown, plain}}, kDisplay},
    {"hdmi-unknown", {{kHdmi, kUnknown, plain}, {kDisplay, kConnected, plain}}, kDisplay},
    {"hotplug", {{kHdmi, kDisconnected, plain}, {kDisplay, kConnected, hotplug}}, kDisplay},
    {"many-modes", {{kHdmi, kDisconnected, plain}, {kDisplay, kConnected, many}}, kDisplay},
    {"unprobed", {{kHdmi, kDisconnected, plain}, {kDisplay, kConnected, unprobed}}, kDisplay},
};

struct crtc_state {
    uint32_t id;
    uint32_t fb = 0;         // what it scans out; 0: off
    uint32_t connector = 0;  // what it drives; 0: none
    drm_mode_modeinfo mode = {};
    uint32_t x = 0;  // where in the framebuffer the mode's picture starts
    uint32_t y = 0;
};

struct card_state {
    bool present = false;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t pitch = 0;
    std::string fail;
    connector_row connectors[2] = {};  // as GETRESOURCES lists them
    crtc_state crtcs[2] = {{40}, {41}};
    int memory = -1;          // the dumb buffer's memory file
    uint64_t size = 0;        // the dumb buffer's; 0: none
    drm_mode_fb_cmd fb = {};  // ours, on the dumb buffer; fb_id 0 until it is added
    void* map = nullptr;
    std::vector<uint8_t> shown;  // what the display shows
};

// The open card's handle: read by every ioctl, mmap and close of the process, so no lazy state.
std::atomic<int> g_fd{-1};

// A mode of w x h at 60 Hz, every sync edge at its size: no blanking, the least the kernel takes.
drm_mode_modeinfo mode_of(uint32_t w, uint32_t h, bool preferred) {
    const auto x = static_cast<uint16_t>(w);
    const auto y = static_cast<uint16_t>(h);
    const uint32_t type = preferred ? DRM_MODE_TYPE_PREFERRED : 0;
    return {w * h * 60 / 1000 + 1, x, x, x, x, 0, y, y, y, y, 0, 60, 0, type, {}};
}

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
        const std::string name = displays != nullptr ? displays : "";
        const arrangement* a = std::find_if(std::begin(kArrangements), std::end(kArrangements),
                                            [&](const arrangement& r) { return name == r.name; });
        // A name the table does not hold makes no card: a misspelt one cannot pass for another.
        k.present = k.present && a != std::end(kArrangements);
        for (size_t i = 0; k.present && i < 2; ++i) {
            connector_row& r = k.connectors[i] = a->connectors[i];
            // The failing steps that are states of the displays.
            r.connection = k.fail == "connector" && r.id == kDisplay ? kDisconnected : r.connection;
            r.crtcs = k.fail == "crtc" ? 0 : r.crtcs;
        }
        // Through syscall(): bionic declares memfd_create only from API level 30.
        k.memory = k.present ? static_cast<int>(syscall(SYS_memfd_create, "zelt-dumb", 0)) : -1;
        k.crtcs[0] = {40, kConsoleFb.fb_id, k.present ? a->console : 0, mode_of(640, 480, false), 0,
                      480};
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

// The first of `rows` whose `field` is `value`; null when none is.
template <typename Row, size_t N>
Row* find(Row (&rows)[N], uint32_t Row::*field, uint32_t value) {
    for (Row& r : rows) {
        if (r.*field == value) {
            return &r;
        }
    }
    return nullptr;
}

// The CRTC connector `r`'s encoder drives now; 0 when none does.
uint32_t encoder_crtc(const connector_row& r) {
    const crtc_state* t = find(card().crtcs, &crtc_state::connector, r.id);
    return t != nullptr && !failing("crtc") ? t->id : 0;
}

// The program's memory a request points at, as the kernel finds it: none at 0, nor where the
// address has bits above what this process's pointers hold (the request fails with EFAULT).
void* user_memory(uint64_t address) {
    const bool fits = sizeof(void*) == 8 || (address >> 32) == 0;
    return address != 0 && fits ? reinterpret_cast<void*>(static_cast<uintptr_t>(address))
                                : nullptr;
}

// A list of the answer, as the kernel gives it: copied only when all of it fits, its length told
// either way. False when it cannot be copied.
template <typename T>
bool copy_list(uint64_t address, uint32_t* room, const T* items, size_t count) {
    const bool fits = count != 0 && *room >= count;
    void* to = fits ? user_memory(address) : nullptr;
    if (to != nullptr) {
        std::memcpy(to, items, count * sizeof(T));
    }
    *room = static_cast<uint32_t>(count);
    return !fits || to != nullptr;
}

// The display takes what the buffer holds now.
void refresh_display() {
    card_state& c = card();
    c.shown.resize(c.size);
    const ssize_t got = pread(c.memory, c.shown.data(), c.size, 0);
    (void)got;
}

int get_connector(drm_mode_get_connector* g) {
    connector_row* r = find(card().connectors, &connector_row::id, g->connector_id);
    if (r == nullptr) {
        return refuse("GETCONNECTOR", ENOENT);
    }
    // A forced probe of a display whose modes are known is what may disturb it; the first one
    // of a display known to have none is logged apart.
    const bool forced = g->count_modes == 0;
    const bool first = forced && r->modes == unprobed && !r->probed;
    r->probed = r->probed || forced;
    std::vector<drm_mode_modeinfo> modes = {mode_of(640, 480, false)};
    if (r->modes == many) {
        modes.resize(300, mode_of(320, 240, false));
    }
    if (r->modes == hotplug && r->asked) {
        modes.push_back(mode_of(800, 600, false));
    }
    modes.push_back(mode_of(card().width, card().height, true));
    if (r->connection == kDisconnected || failing("mode") || (r->modes == unprobed && !r->probed)) {
        modes.clear();
    }
    const uint32_t encoder = r->id + 1;
    if (!copy_list(g->modes_ptr, &g->count_modes, modes.data(), modes.size()) ||
        !copy_list(g->encoders_ptr, &g->count_encoders, &encoder, 1)) {
        return refuse("GETCONNECTOR", EFAULT);
    }
    r->asked = true;
    g->count_props = 0;
    g->encoder_id = encoder_crtc(*r) != 0 ? encoder : 0;
    g->connector_type = r->id == kHdmi ? DRM_MODE_CONNECTOR_HDMIA : DRM_MODE_CONNECTOR_VIRTUAL;
    g->connector_type_id = 1;
    g->connection = r->connection;
    const char* probe = first ? " first probe" : forced ? " forced probe" : "";
    double_log("ioctl kms GETCONNECTOR %u%s", r->id, probe);
    return 0;
}

int create_dumb(drm_mode_create_dumb* d) {
    card_state& c = card();
    const uint64_t size = (uint64_t{c.pitch} * d->height + 4095) / 4096 * 4096;
    if (failing("create") || c.size != 0 || d->bpp != 32 || d->width != c.width || c.memory < 0 ||
        ftruncate(c.memory, static_cast<off_t>(size)) != 0) {
        return refuse("CREATE_DUMB", ENOMEM);
    }
    d->pitch = c.pitch;
    d->size = c.size = size;
    d->handle = kHandle;
    double_log("ioctl kms CREATE_DUMB %ux%u bpp=32 -> pitch=%u size=%llu", d->width, d->height,
               d->pitch, static_cast<unsigned long long>(d->size));
    return 0;
}

// ADDFB2 (XRGB8888) and ADDFB (depth 24, 32 bits) on the one dumb buffer, at its pitch, as
// many rows as it holds.
int add_fb(const char* what, bool wanted, drm_mode_fb_cmd f, uint32_t* fb_id) {
    card_state& c = card();
    if (!wanted || f.handle != kHandle || f.pitch != c.pitch || c.fb.fb_id != 0 ||
        uint64_t{f.pitch} * f.height > c.size) {
        return refuse(what, EINVAL);
    }
    f.fb_id = *fb_id = kOurFb;
    c.fb = f;
    double_log("ioctl kms %s pitch=%u -> fb=%u", what, f.pitch, kOurFb);
    return 0;
}

// SETCRTC refuses what drm_mode_setcrtc (drivers/gpu/drm/drm_crtc.c) refuses, in its order:
// offsets past 16 bits; an unknown CRTC; with a mode, an unknown framebuffer, a mode
// drm_mode_convert_umode refuses (drm_modes.c: a clock past INT_MAX; by drm_mode_validate_basic,
// no clock, no size or sync edges out of order) and a picture reaching past the framebuffer from
// the offsets (drm_framebuffer_check_src_coords); a mode without connectors or connectors without
// a mode, more than the card has (or than one, as this card's driver refuses); an unknown one.
int set_crtc(const drm_mode_crtc* s) {
    card_state& c = card();
    const drm_mode_modeinfo& m = s->mode;
    const bool on = s->mode_valid != 0;
    const drm_mode_fb_cmd fb = s->fb_id == kConsoleFb.fb_id            ? kConsoleFb
                               : s->fb_id == kOurFb && c.fb.fb_id != 0 ? c.fb
                                                                       : drm_mode_fb_cmd{};
    const bool sound = m.clock != 0 && m.hdisplay != 0 && m.hsync_start >= m.hdisplay &&
                       m.hsync_end >= m.hsync_start && m.htotal >= m.hsync_end && m.vdisplay != 0 &&
                       m.vsync_start >= m.vdisplay && m.vsync_end >= m.vsync_start &&
                       m.vtotal >= m.vsync_end;
    const bool fits = m.hdisplay <= fb.width && s->x <= fb.width - m.hdisplay &&
                      m.vdisplay <= fb.height && s->y <= fb.height - m.vdisplay;
    const auto* ids = static_cast<const uint32_t*>(user_memory(s->set_connectors_ptr));
    const int error = failing("held") ? EACCES  // what the kernel answers all but the card's master
                      : s->x > 0xffff || s->y > 0xffff                                ? ERANGE
                      : find(c.crtcs, &crtc_state::id, s->crtc_id) == nullptr         ? ENOENT
                      : on && fb.fb_id == 0                                           ? ENOENT
                      : on && (m.clock > INT_MAX || m.vrefresh > INT_MAX)             ? ERANGE
                      : on && !sound                                                  ? EINVAL
                      : on && !fits                                                   ? ENOSPC
                      : on != (s->count_connectors != 0) || s->count_connectors > 1   ? EINVAL
                      : on && ids == nullptr                                          ? EFAULT
                      : on && find(c.connectors, &connector_row::id, *ids) == nullptr ? ENOENT
                                                                                      : 0;
    if (error != 0) {
        return refuse("SETCRTC", error);
    }
    const crtc_state set =
        on ? crtc_state{s->crtc_id, s->fb_id, *ids, m, s->x, s->y} : crtc_state{s->crtc_id};
    // A connector has one CRTC: another one driving it lets go of it and goes off.
    for (crtc_state& t : c.crtcs) {
        t = t.id == set.id ? set : on && t.connector == set.connector ? crtc_state{t.id} : t;
    }
    if (set.fb == kOurFb) {
        refresh_display();
    }
    double_log("ioctl kms SETCRTC crtc=%u fb=%u", set.id, set.fb);
    return 0;
}

int dirty_fb(const drm_mode_fb_dirty_cmd* d) {
    card_state& c = card();
    if (failing("dirtyfb")) {
        return refuse("DIRTYFB", ENOSYS);  // a driver that scans the memory itself: nothing to do
    }
    if (d->fb_id != kOurFb || c.fb.fb_id == 0) {
        return refuse("DIRTYFB", ENOENT);
    }
    if (find(c.crtcs, &crtc_state::fb, kOurFb) != nullptr) {
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
    g_fd.store(DOUBLE_REAL(open)("/dev/null", O_RDWR | O_CLOEXEC));
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
            const uint32_t connectors[] = {c.connectors[0].id, c.connectors[1].id};
            const uint32_t crtcs[] = {c.crtcs[0].id, c.crtcs[1].id};
            if (!copy_list(r->connector_id_ptr, &r->count_connectors, connectors, 2) ||
                !copy_list(r->crtc_id_ptr, &r->count_crtcs, crtcs, 2)) {
                return refuse("GETRESOURCES", EFAULT);
            }
            double_log("ioctl kms GETRESOURCES");
            return 0;
        }
        case DRM_IOCTL_MODE_GETCONNECTOR:
            return get_connector(static_cast<drm_mode_get_connector*>(arg));
        case DRM_IOCTL_MODE_GETENCODER: {
            auto* e = static_cast<drm_mode_get_encoder*>(arg);
            const connector_row* r = find(c.connectors, &connector_row::id, e->encoder_id - 1);
            if (r == nullptr) {
                return refuse("GETENCODER", ENOENT);
            }
            e->crtc_id = encoder_crtc(*r);
            e->possible_crtcs = r->crtcs;
            double_log("ioctl kms GETENCODER %u", e->encoder_id);
            return 0;
        }
        case DRM_IOCTL_MODE_GETCRTC: {
            auto* g = static_cast<drm_mode_crtc*>(arg);
            const crtc_state* t = find(c.crtcs, &crtc_state::id, g->crtc_id);
            if (failing("getcrtc") || t == nullptr) {
                return refuse("GETCRTC", t == nullptr ? ENOENT : EINVAL);
            }
            *g = drm_mode_crtc{0, 0, t->id, t->fb, t->x, t->y, 0, t->fb != 0 ? 1u : 0u, t->mode};
            double_log("ioctl kms GETCRTC %u", t->id);
            return 0;
        }
        case DRM_IOCTL_MODE_CREATE_DUMB:
            return create_dumb(static_cast<drm_mode_create_dumb*>(arg));
        case DRM_IOCTL_MODE_ADDFB2: {
            auto* f = static_cast<drm_mode_fb_cmd2*>(arg);
            const bool wanted =
                !failing("addfb2") && !failing("addfb") && f->pixel_format == kXrgb8888;
            const drm_mode_fb_cmd cmd{0, f->width, f->height, f->pitches[0], 32, 24, f->handles[0]};
            return add_fb("ADDFB2", wanted, cmd, &f->fb_id);
        }
        case DRM_IOCTL_MODE_ADDFB: {
            auto* f = static_cast<drm_mode_fb_cmd*>(arg);
            const bool wanted = !failing("addfb") && f->bpp == 32 && f->depth == 24;
            return add_fb("ADDFB", wanted, *f, &f->fb_id);
        }
        case DRM_IOCTL_MODE_MAP_DUMB: {
            auto* m = static_cast<drm_mode_map_dumb*>(arg);
            if (failing("map") || m->handle != kHandle || c.size == 0) {
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
            if (*static_cast<uint32_t*>(arg) != kOurFb || c.fb.fb_id == 0) {
                return refuse("RMFB", ENOENT);
            }
            c.fb = drm_mode_fb_cmd{};
            for (crtc_state& t : c.crtcs) {
                t = t.fb == kOurFb ? crtc_state{t.id} : t;  // its CRTC goes off with it
            }
            double_log("ioctl kms RMFB %u", kOurFb);
            return 0;
        case DRM_IOCTL_MODE_DESTROY_DUMB:
            if (static_cast<drm_mode_destroy_dumb*>(arg)->handle != kHandle || c.size == 0) {
                return refuse("DESTROY_DUMB", ENOENT);
            }
            c.size = 0;
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
    if (failing("mmap") || c.size == 0 || offset != kMapOffset || length > c.size ||
        c.map != nullptr) {
        double_log("mmap kms length=%zu failed", length);
        errno = ENOMEM;
        return MAP_FAILED;
    }
    void* map = DOUBLE_REAL(mmap)(nullptr, length, prot, flags, c.memory, 0);
    c.map = map == MAP_FAILED ? nullptr : map;
    double_log("mmap kms length=%zu", length);
    return map;
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
        char shown[80];
        std::snprintf(shown, sizeof shown, "fb%u@%u:%ux%u+%u+%u", t.fb, t.connector,
                      t.mode.hdisplay, t.mode.vdisplay, t.x, t.y);
        crtcs += " crtc" + std::to_string(t.id) + "=" + (t.fb != 0 ? shown : "off");
    }
    std::string left = std::string(c.size != 0 ? " dumb" : "") + (c.fb.fb_id != 0 ? " fb" : "") +
                       (c.map != nullptr ? " map" : "");
    double_log("close kms%s left=%s", crtcs.c_str(), left.empty() ? "none" : &left[1]);
    g_fd.store(-1);
}

bool double_kms_save(const char* path) {
    if (g_fd.load() < 0 || find(card().crtcs, &crtc_state::fb, kOurFb) == nullptr) {
        return false;
    }
    if (failing("dirtyfb")) {
        refresh_display();  // this display scans the memory itself
    }
    const std::vector<uint8_t>& shown = card().shown;
    const int fd = DOUBLE_REAL(open)(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    const bool saved = write(fd, shown.data(), shown.size()) == static_cast<ssize_t>(shown.size());
    DOUBLE_REAL(close)(fd);
    return saved;
}
