#include "screen/kms_find.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t kBitsPerPixel = 32;
constexpr uint32_t kChannelBits = 8;
constexpr uint32_t kRedOffset = 16;
constexpr uint32_t kGreenOffset = 8;
constexpr uint32_t kBlueOffset = 0;
constexpr uint32_t kConnected = 1;  // drm_mode_get_connector.connection: 1 connected

// The user-space address of an array, as the kernel's requests carry it.
template <typename T>
uint64_t address_of(T* array) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(array));
}

// The ioctl, asked again when a signal interrupted it, as the kernel's own clients do.
int kms_request(int fd, unsigned long request, void* arg) {
    int result = 0;
    do {
        result = ioctl(fd, request, arg);
    } while (result < 0 && errno == EINTR);
    return result;
}

// The card's first connected connector with a mode, with the mode and a CRTC for it.
kms_step choose_display(int fd, kms_display* out) {
    kms_resources resources{};
    if (kms_get_resources(fd, &resources) < 0) {
        return kms_step::resources;
    }
    static kms_connector connector;  // ~9 KB of modes: kept off the stack; main thread only
    kms_step reached = kms_step::connector;
    for (uint32_t i = 0; i < resources.connector_count; ++i) {
        if (kms_get_connector(fd, resources.connectors[i], &connector) < 0 ||
            connector.info.connection != kConnected) {
            continue;
        }
        const drm_mode_modeinfo* mode = kms_pick_mode(connector);
        if (mode == nullptr) {
            reached = std::max(reached, kms_step::mode);
            continue;
        }
        const uint32_t crtc = kms_pick_crtc(fd, resources, connector);
        if (crtc == 0) {
            reached = kms_step::crtc;
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
    return reached;
}

}  // namespace

int kms_get_resources(int fd, kms_resources* out) {
    // One request: the kernel fills as many ids as there is room for and says how many exist.
    drm_mode_card_res res{};
    res.connector_id_ptr = address_of(out->connectors);
    res.count_connectors = kKmsMaxObjects;
    res.crtc_id_ptr = address_of(out->crtcs);
    res.count_crtcs = kKmsMaxObjects;
    if (kms_request(fd, DRM_IOCTL_MODE_GETRESOURCES, &res) < 0) {
        return -1;
    }
    out->connector_count = std::min(res.count_connectors, kKmsMaxObjects);
    out->crtc_count = std::min(res.count_crtcs, kKmsMaxObjects);
    return 0;
}

int kms_get_connector(int fd, uint32_t id, kms_connector* out) {
    // First with no room: that request probes the display and counts its modes and encoders.
    drm_mode_get_connector& c = out->info;
    c = drm_mode_get_connector{};
    c.connector_id = id;
    if (kms_request(fd, DRM_IOCTL_MODE_GETCONNECTOR, &c) < 0) {
        return -1;
    }
    if (c.count_modes == 0) {
        c.count_encoders = 0;  // nothing to play on: its encoders are not needed
        return 0;
    }
    if (c.count_modes > kKmsMaxModes || c.count_encoders > kKmsMaxObjects) {
        errno = E2BIG;
        return -1;
    }
    // Then with room for what was counted; the kernel copies a list only when all of it fits.
    const uint32_t modes = c.count_modes;
    const uint32_t encoders = c.count_encoders;
    c.modes_ptr = address_of(out->modes);
    c.encoders_ptr = address_of(out->encoders);
    c.count_props = 0;
    if (kms_request(fd, DRM_IOCTL_MODE_GETCONNECTOR, &c) < 0) {
        return -1;
    }
    if (c.count_modes > modes || c.count_encoders > encoders) {
        errno = EAGAIN;  // the display changed between the two requests
        return -1;
    }
    return 0;
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
    drm_mode_get_encoder encoder{};
    encoder.encoder_id = connector.info.encoder_id;
    if (encoder.encoder_id != 0 && kms_request(fd, DRM_IOCTL_MODE_GETENCODER, &encoder) == 0 &&
        encoder.crtc_id != 0) {
        return encoder.crtc_id;
    }
    const uint32_t encoders = std::min(connector.info.count_encoders, kKmsMaxObjects);
    for (uint32_t e = 0; e < encoders; ++e) {
        encoder = drm_mode_get_encoder{};
        encoder.encoder_id = connector.encoders[e];
        if (kms_request(fd, DRM_IOCTL_MODE_GETENCODER, &encoder) < 0) {
            continue;
        }
        // possible_crtcs is a bit mask over the order GETRESOURCES lists the CRTCs in.
        for (uint32_t i = 0; i < resources.crtc_count && i < 32; ++i) {
            if ((encoder.possible_crtcs & (1u << i)) != 0) {
                return resources.crtcs[i];
            }
        }
    }
    return 0;
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
    char path[32];
    kms_card_path(why.card, path, sizeof path);
    switch (why.step) {
        case kms_step::card:
            std::snprintf(text, size, "kms card: %s: %s", path, std::strerror(why.error));
            break;
        case kms_step::resources:
            std::snprintf(text, size, "kms resources: %s: %s", path, std::strerror(why.error));
            break;
        case kms_step::connector:
            std::snprintf(text, size, "kms connector: %s: no connected display", path);
            break;
        case kms_step::mode:
            std::snprintf(text, size, "kms mode: %s: the connected display offers no mode", path);
            break;
        default:
            std::snprintf(text, size, "kms crtc: %s: no CRTC can drive the connected display",
                          path);
            break;
    }
}

int kms_find(bool read_write, kms_display* out, kms_failure* why) {
    *why = kms_failure{kms_step::card, 0, ENOENT};
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
        out->card = card;
        const kms_step reached = choose_display(fd, out);
        if (reached == kms_step::none) {
            return 0;
        }
        if (reached > why->step) {
            *why = kms_failure{reached, card, reached == kms_step::resources ? errno : 0};
        }
        close(fd);
    }
    out->fd = -1;
    return -1;
}
