// Finding the display to play on through the kernel's mode setting (KMS), where there is no
// framebuffer device: the first card under /dev/dri that answers, its first connected connector
// with a mode (else one whose state the kernel cannot tell), that mode and a CRTC the
// connector's encoder can drive. Every request used here needs no mastership of the card, so the
// device probe shares it. None sets a mode or makes a buffer; the one change a request may make
// is a probe, the kernel looking at a display afresh (which may flicker it): the player has every
// connector probed, the device probe only one the kernel knows no modes of yet, on which nothing
// shows.
#pragma once

#include <drm/drm.h>
#include <drm/drm_mode.h>
#include <linux/fb.h>

#include <cstdint>

constexpr int kKmsMaxCards = 8;  // /dev/dri/card0 to card7
// Connectors and CRTCs looked at per card (the rest are not), and encoders per connector: the
// kernel numbers a card's CRTCs and encoders in 32-bit masks, so it has at most 32 of each.
constexpr uint32_t kKmsMaxObjects = 32;
// Modes per connector: a connector offering more is passed over (~70 KB at this count).
constexpr uint32_t kKmsMaxModes = 1024;
// drm_mode_get_connector.connection: the display is connected, disconnected, or of a state the
// kernel cannot tell.
constexpr uint32_t kKmsConnected = 1;
constexpr uint32_t kKmsDisconnected = 2;
constexpr uint32_t kKmsUnknown = 3;

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

// Why no display was found: the step that failed on the card looked at, and errno.
struct kms_failure {
    kms_step step;
    int card;
    int error;
};

// The request on the card, asked again when a signal interrupted it. Returns ioctl()'s result.
int kms_ioctl(int fd, unsigned long request, void* arg);
// The address of `memory` as the kernel's requests carry pointers.
__u64 kms_pointer(const void* memory);

// Fills `out` with the card's connector and CRTC ids. Returns 0, or -1 with errno set.
int kms_get_resources(int fd, kms_resources* out);
// Fills `out` with connector `id`, its modes and encoders. With `probe` the kernel first probes
// the display afresh (which may flicker it; only the card's master may, at start-up); without,
// it answers what it last found, unless it has found nothing yet for a display that may be
// there (no modes, not disconnected): that one is probed and read again, as nothing shows on it.
// Returns 0, or -1 with errno set (E2BIG beyond the caps).
int kms_get_connector(int fd, uint32_t id, bool probe, kms_connector* out);
// The connector's preferred mode, else its first; null when it has none.
const drm_mode_modeinfo* kms_pick_mode(const kms_connector& connector);
// A CRTC the connector can be driven by: its encoder's current one, else one its encoders allow
// that is off, else the first they allow (another display's); 0 when there is none.
uint32_t kms_pick_crtc(int fd, const kms_resources& resources, const kms_connector& connector);
// Writes into `ids` (room for `room`) the connectors CRTC `crtc` drives now. Returns how many.
uint32_t kms_crtc_connectors(int fd, uint32_t crtc, uint32_t* ids, uint32_t room);
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

// Opens card0 to card7 in turn (read-write when `read_write`, else read-only) and takes the first
// that answers for its resources: its display when it has one. The player (`read_write`, the
// card's master) has the connectors probed afresh; the probe only those the kernel knows no
// modes of. Returns 0 with `out` filled and its card open, or -1 with `why` filled and no card
// open.
int kms_find(bool read_write, kms_display* out, kms_failure* why);
