// Finding the display to play on through the kernel's mode setting (KMS), where there is no
// framebuffer device: a card under /dev/dri, its first connected connector with a mode, that
// mode and a CRTC the connector's encoder can drive. Read-only: every request used here needs no
// mastership of the card and changes nothing, so the device probe shares it.
#pragma once

#include <drm/drm.h>
#include <drm/drm_mode.h>
#include <linux/fb.h>

#include <cstdint>

constexpr int kKmsMaxCards = 8;  // /dev/dri/card0 to card7
constexpr uint32_t kKmsMaxObjects = 32;
constexpr uint32_t kKmsMaxModes = 128;

// The step of finding a display that failed, in the order they are taken.
enum class kms_step { none, card, resources, connector, mode, crtc };

// The card's connectors and CRTCs, at most kKmsMaxObjects of each (the rest are not looked at).
struct kms_resources {
    uint32_t connectors[kKmsMaxObjects];
    uint32_t connector_count;
    uint32_t crtcs[kKmsMaxObjects];
    uint32_t crtc_count;
};

// One connector as the kernel describes it, with its modes and encoders.
struct kms_connector {
    drm_mode_get_connector info;  // its pointers point into the arrays below
    drm_mode_modeinfo modes[kKmsMaxModes];
    uint32_t encoders[kKmsMaxObjects];
};

// The display chosen: the card (open read-write), the connector, the mode and the CRTC.
struct kms_display {
    int fd;  // negative when no card is held
    int card;
    uint32_t connector_id;
    uint32_t connector_type;
    uint32_t connector_type_id;
    uint32_t crtc_id;
    drm_mode_modeinfo mode;
};

// Why no display was found: the furthest step any card reached, its card and errno.
struct kms_failure {
    kms_step step;
    int card;
    int error;
};

// Fills `out` with the card's connector and CRTC ids. Returns 0, or -1 with errno set.
int kms_get_resources(int fd, kms_resources* out);
// Fills `out` with connector `id`, probing its modes. Returns 0, or -1 with errno set (EAGAIN
// when its lists grew between the two requests, E2BIG beyond the caps).
int kms_get_connector(int fd, uint32_t id, kms_connector* out);
// The connector's preferred mode, else its first; null when it has none.
const drm_mode_modeinfo* kms_pick_mode(const kms_connector& connector);
// A CRTC the connector can be driven by: its encoder's current one, else the first its
// encoders allow; 0 when there is none.
uint32_t kms_pick_crtc(int fd, const kms_resources& resources, const kms_connector& connector);
// Writes "/dev/dri/cardN" into `path` (at least 16 bytes).
void kms_card_path(int card, char* path, unsigned long size);
// Writes the kernel's name of a connector ("HDMI-A-1", "Virtual-1") into `name`.
void kms_connector_name(uint32_t type, uint32_t type_id, char* name, unsigned long size);

// The screen the player draws on for `display`: the mode's size (virtual the same), 32 bits,
// red 16/8, green 8/8, blue 0/8 (XRGB8888).
fb_var_screeninfo kms_screen(const kms_display& display);

// Writes the line that names the display ("kms display: /dev/dri/card0, connector Virtual-1
// (id 33), mode 1280x800@60, crtc 36"), without a newline.
void kms_display_text(const kms_display& display, char* text, unsigned long size);

// Writes the one line that says why no display was found ("kms connector: /dev/dri/card0: no
// connected display"), without a newline.
void kms_failure_text(const kms_failure& why, char* text, unsigned long size);

// Opens card0 to card7 in turn (read-write when `read_write`, else read-only) and keeps the first
// with a connected connector that has a mode and a CRTC. Returns 0 with `out` filled and its
// card open, or -1 with `why` filled and no card open.
int kms_find(bool read_write, kms_display* out, kms_failure* why);
