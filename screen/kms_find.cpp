#include "screen/kms_find.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace {

constexpr uint32_t kBitsPerPixel = 32;
constexpr uint32_t kChannelBits = 8;
constexpr uint32_t kRedOffset = 16;
constexpr uint32_t kGreenOffset = 8;
constexpr uint32_t kBlueOffset = 0;
static_assert(kKmsMaxObjects <= 32, "possible_crtcs has a bit per CRTC, for 32 at most");

// The card's display: its first connected connector with a mode and a CRTC, else the first one
// whose state the kernel cannot tell (where the kernel's own console goes when none is
// connected). Only the first pass may have the connectors probed: the second finds them fresh.
kms_step choose_display(int fd, const kms_resources& resources, bool probe, kms_display* out) {
    static kms_connector connector;  // ~70 KB of modes: kept off the stack; main thread only
    kms_step failed = kms_step::connector;
    for (const uint32_t wanted : {kKmsConnected, kKmsUnknown}) {
        for (uint32_t i = 0; i < resources.connector_count; ++i) {
            if (kms_get_connector(fd, resources.connectors[i], probe, &connector) < 0 ||
                connector.info.connection != wanted) {
                continue;
            }
            const drm_mode_modeinfo* mode = kms_pick_mode(connector);
            if (mode == nullptr) {
                failed = std::max(failed, kms_step::mode);
                continue;
            }
            const uint32_t crtc = kms_pick_crtc(fd, resources, connector);
            if (crtc == 0) {
                failed = kms_step::crtc;
                continue;
            }
            *out = kms_display{fd,
                               out->card,
                               connector.info.connector_id,
                               connector.info.connector_type,
                               connector.info.connector_type_id,
                               crtc,
                               *mode};
            return kms_step::none;
        }
        probe = false;
    }
    return failed;
}

// Whether CRTC `id` shows nothing now: no mode, or no framebuffer to scan out.
bool crtc_off(int fd, uint32_t id) {
    drm_mode_crtc crtc{};
    crtc.crtc_id = id;
    return kms_ioctl(fd, DRM_IOCTL_MODE_GETCRTC, &crtc) == 0 &&
           (crtc.mode_valid == 0 || crtc.fb_id == 0);
}

// The encoder connector `id` is driven through now (0: none). Asked with room for one scratch
// mode rather than none, so that the kernel answers what it knows without probing the display.
uint32_t connector_encoder(int fd, uint32_t id) {
    drm_mode_modeinfo scratch{};
    drm_mode_get_connector c{};
    c.connector_id = id;
    c.modes_ptr = kms_pointer(&scratch);
    c.count_modes = 1;
    return kms_ioctl(fd, DRM_IOCTL_MODE_GETCONNECTOR, &c) == 0 ? c.encoder_id : 0;
}

// The CRTC encoder `id` drives now (0: none, or no encoder).
uint32_t encoder_crtc(int fd, uint32_t id) {
    drm_mode_get_encoder encoder{};
    encoder.encoder_id = id;
    return id != 0 && kms_ioctl(fd, DRM_IOCTL_MODE_GETENCODER, &encoder) == 0 ? encoder.crtc_id : 0;
}

// What the kernel last found of connector `id`. Room for every mode and encoder taken, no
// properties asked: the kernel fills a list only when all of it fits, both in one request, so the
// answer is whole even when the display changes meanwhile, and nothing needs asking again.
int read_connector(int fd, uint32_t id, kms_connector* out) {
    drm_mode_get_connector& c = out->info;
    c = drm_mode_get_connector{};
    c.connector_id = id;
    c.modes_ptr = kms_pointer(out->modes);
    c.count_modes = kKmsMaxModes;
    c.encoders_ptr = kms_pointer(out->encoders);
    c.count_encoders = kKmsMaxObjects;
    if (kms_ioctl(fd, DRM_IOCTL_MODE_GETCONNECTOR, &c) < 0) {
        return -1;
    }
    if (c.count_modes > kKmsMaxModes || c.count_encoders > kKmsMaxObjects) {
        errno = E2BIG;  // its lists were left unfilled
        return -1;
    }
    return 0;
}

// Has the kernel probe connector `id` afresh (asked with no room for modes, whose answer is not
// kept), then reads what it found.
int probe_and_read(int fd, uint32_t id, kms_connector* out) {
    drm_mode_get_connector c{};
    c.connector_id = id;
    return kms_ioctl(fd, DRM_IOCTL_MODE_GETCONNECTOR, &c) < 0 ? -1 : read_connector(fd, id, out);
}

}  // namespace

int kms_ioctl(int fd, unsigned long request, void* arg) {
    int result = 0;
    do {
        result = ioctl(fd, request, arg);
    } while (result < 0 && errno == EINTR);
    return result;
}

__u64 kms_pointer(const void* memory) {
    return static_cast<__u64>(reinterpret_cast<uintptr_t>(memory));
}

int kms_get_resources(int fd, kms_resources* out) {
    // One request: the kernel fills as many ids as there is room for and says how many exist.
    drm_mode_card_res res{};
    res.connector_id_ptr = kms_pointer(out->connectors);
    res.count_connectors = kKmsMaxObjects;
    res.crtc_id_ptr = kms_pointer(out->crtcs);
    res.count_crtcs = kKmsMaxObjects;
    if (kms_ioctl(fd, DRM_IOCTL_MODE_GETRESOURCES, &res) < 0) {
        return -1;
    }
    out->connector_count = std::min(res.count_connectors, kKmsMaxObjects);
    out->crtc_count = std::min(res.count_crtcs, kKmsMaxObjects);
    return 0;
}

int kms_get_connector(int fd, uint32_t id, bool probe, kms_connector* out) {
    if (probe) {
        return probe_and_read(fd, id, out);
    }
    if (read_connector(fd, id, out) < 0) {
        return -1;
    }
    // A display no program has had probed since boot (no console on it, say) has no modes the
    // kernel knows of until one is asked for; nothing shows on it that a probe could disturb.
    const bool none_known = out->info.count_modes == 0 && out->info.connection != kKmsDisconnected;
    return none_known ? probe_and_read(fd, id, out) : 0;
}

const drm_mode_modeinfo* kms_pick_mode(const kms_connector& connector) {
    const uint32_t count = std::min(connector.info.count_modes, kKmsMaxModes);
    const drm_mode_modeinfo* first = nullptr;
    for (uint32_t i = 0; i < count; ++i) {
        const drm_mode_modeinfo& m = connector.modes[i];
        if (m.hdisplay == 0 || m.vdisplay == 0) {
            continue;  // nothing to draw on
        }
        if ((m.type & DRM_MODE_TYPE_PREFERRED) != 0) {
            return &m;
        }
        first = first == nullptr ? &m : first;
    }
    return first;
}

uint32_t kms_pick_crtc(int fd, const kms_resources& resources, const kms_connector& connector) {
    const uint32_t current = encoder_crtc(fd, connector.info.encoder_id);
    if (current != 0) {
        return current;
    }
    // possible_crtcs is a bit mask over the order GETRESOURCES lists the CRTCs in.
    uint32_t allowed = 0;
    const uint32_t encoders = std::min(connector.info.count_encoders, kKmsMaxObjects);
    for (uint32_t e = 0; e < encoders; ++e) {
        drm_mode_get_encoder encoder{};
        encoder.encoder_id = connector.encoders[e];
        if (kms_ioctl(fd, DRM_IOCTL_MODE_GETENCODER, &encoder) == 0) {
            allowed |= encoder.possible_crtcs;
        }
    }
    // One that is off leaves every other display as it is; else another display's is taken.
    uint32_t lit = 0;
    for (uint32_t i = 0; i < resources.crtc_count; ++i) {
        if ((allowed & (1u << i)) == 0) {
            continue;
        }
        if (crtc_off(fd, resources.crtcs[i])) {
            return resources.crtcs[i];
        }
        lit = lit == 0 ? resources.crtcs[i] : lit;
    }
    return lit;
}

uint32_t kms_crtc_connectors(int fd, uint32_t crtc, uint32_t* ids, uint32_t room) {
    kms_resources resources{};
    if (kms_get_resources(fd, &resources) < 0) {
        return 0;
    }
    uint32_t count = 0;
    for (uint32_t i = 0; i < resources.connector_count && count < room; ++i) {
        if (encoder_crtc(fd, connector_encoder(fd, resources.connectors[i])) == crtc) {
            ids[count++] = resources.connectors[i];
        }
    }
    return count;
}

void kms_card_path(int card, char* path, unsigned long size) {
    std::snprintf(path, size, "/dev/dri/card%d", card);
}

void kms_connector_name(uint32_t type, uint32_t type_id, char* name, unsigned long size) {
    // The kernel's names, indexed by DRM_MODE_CONNECTOR_*.
    static const char* const kNames[] = {
        "Unknown", "VGA",       "DVI-I", "DVI-D", "DVI-A",     "Composite", "SVIDEO",
        "LVDS",    "Component", "DIN",   "DP",    "HDMI-A",    "HDMI-B",    "TV",
        "eDP",     "Virtual",   "DSI",   "DPI",   "Writeback", "SPI",       "USB"};
    const char* text = type < sizeof kNames / sizeof kNames[0] ? kNames[type] : "Unknown";
    std::snprintf(name, size, "%s-%u", text, type_id);
}

fb_var_screeninfo kms_screen(const kms_display& display) {
    fb_var_screeninfo var{};
    var.xres = var.xres_virtual = display.mode.hdisplay;
    var.yres = var.yres_virtual = display.mode.vdisplay;
    var.bits_per_pixel = kBitsPerPixel;
    var.red = fb_bitfield{kRedOffset, kChannelBits, 0};
    var.green = fb_bitfield{kGreenOffset, kChannelBits, 0};
    var.blue = fb_bitfield{kBlueOffset, kChannelBits, 0};
    return var;
}

void kms_display_text(const kms_display& d, char* text, unsigned long size) {
    char path[32];
    char connector[48];
    kms_card_path(d.card, path, sizeof path);
    kms_connector_name(d.connector_type, d.connector_type_id, connector, sizeof connector);
    std::snprintf(text, size, "kms display: %s, connector %s (id %u), mode %ux%u@%u, crtc %u", path,
                  connector, d.connector_id, d.mode.hdisplay, d.mode.vdisplay, d.mode.vrefresh,
                  d.crtc_id);
}

void kms_failure_text(const kms_failure& why, char* text, unsigned long size) {
    // The line of each failing step, in kms_step's order from card: the step, and why (null: the
    // error's own text).
    static const struct {
        const char* step;
        const char* why;
    } kLines[] = {
        {"kms card", nullptr},
        {"kms resources", nullptr},
        {"kms connector", "no connected display"},
        {"kms mode", "the connected display offers no mode"},
        {"kms crtc", "no CRTC can drive the connected display"},
    };
    constexpr size_t kCount = std::size(kLines);
    static_assert(kCount == static_cast<size_t>(kms_step::crtc), "a line for each failing step");
    const auto step = static_cast<size_t>(why.step);
    const auto& line = kLines[step >= 1 && step <= kCount ? step - 1 : kCount - 1];
    char path[32];
    kms_card_path(why.card, path, sizeof path);
    std::snprintf(text, size, "%s: %s: %s", line.step, path,
                  line.why != nullptr ? line.why : std::strerror(why.error));
}

int kms_find(bool read_write, kms_display* out, kms_failure* why) {
    *why = kms_failure{kms_step::card, 0, ENOENT};
    out->fd = -1;
    for (int card = 0; card < kKmsMaxCards; ++card) {
        char path[32];
        kms_card_path(card, path, sizeof path);
        const int fd = open(path, (read_write ? O_RDWR : O_RDONLY) | O_CLOEXEC);
        if (fd < 0) {
            if (card == 0) {
                why->error = errno;  // card0's own reason stands for all: it is looked for first
            }
            continue;
        }
        kms_resources resources{};
        if (kms_get_resources(fd, &resources) < 0) {
            // Not a card with displays (a GPU's of its own, say): the next one may be.
            if (why->step == kms_step::card) {
                *why = kms_failure{kms_step::resources, card, errno};
            }
            close(fd);
            continue;
        }
        out->card = card;
        *why = kms_failure{choose_display(fd, resources, read_write, out), card, 0};
        if (why->step == kms_step::none) {
            return 0;
        }
        close(fd);
        return -1;
    }
    return -1;
}
