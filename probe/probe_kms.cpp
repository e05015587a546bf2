#include "probe/probe_kms.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "screen/kms_find.h"

namespace {

constexpr uint32_t kBytesPerPixel = 4;

const char* connection_text(uint32_t connection) {
    return connection == kKmsConnected      ? "connected"
           : connection == kKmsDisconnected ? "disconnected"
                                            : "state unknown";
}

// One line per connector of the card the player would use.
void list_connectors(int fd) {
    kms_resources resources{};
    if (kms_get_resources(fd, &resources) < 0) {
        return;
    }
    static kms_connector connector;  // ~70 KB of modes: kept off the stack
    for (uint32_t i = 0; i < resources.connector_count; ++i) {
        if (kms_get_connector(fd, resources.connectors[i], false, &connector) < 0) {
            std::printf("  connector id %u: cannot be read\n", resources.connectors[i]);
            continue;
        }
        const drm_mode_get_connector& c = connector.info;
        char name[48];
        kms_connector_name(c.connector_type, c.connector_type_id, name, sizeof name);
        std::printf("  connector %s (id %u): %s, %u modes", name, c.connector_id,
                    connection_text(c.connection), c.count_modes);
        const drm_mode_modeinfo* mode = kms_pick_mode(connector);
        if (mode != nullptr) {
            std::printf(", the player's %ux%u@%u", mode->hdisplay, mode->vdisplay, mode->vrefresh);
        }
        std::printf("\n");
    }
}

}  // namespace

probe_screen probe_kms_screen() {
    std::printf(
        "framebuffer /dev/graphics/fb0: does not exist: the player looks for a KMS display "
        "(/dev/dri/card0 to card7)\n");
    probe_screen screen{probe_step::open, ENOENT, {}, {}, {}, -1};
    kms_display display{};
    kms_failure why{};
    if (kms_find(false, &display, &why) < 0) {
        char text[128];
        kms_failure_text(why, text, sizeof text);
        std::printf(
            "wrong: no KMS display: the player reports \"%s\", shows nothing and hands off\n",
            text);
        return screen;
    }
    char path[32];
    kms_card_path(display.card, path, sizeof path);
    std::printf("kms card %s: opened read-only (no mode set, no buffer made)\n", path);
    list_connectors(display.fd);
    close(display.fd);
    char text[192];
    kms_display_text(display, text, sizeof text);
    std::printf("%s\n", text);
    screen.failed = probe_step::none;
    screen.error = 0;
    screen.var = kms_screen(display);
    // The buffer's pitch is the driver's choice at creation; the pictures land the same at any.
    screen.fix.line_length = screen.var.xres * kBytesPerPixel;
    screen.fix.visual = FB_VISUAL_TRUECOLOR;  // XRGB8888: pixel values are colours
    screen.laid_out = screen_layout_for(screen.var, &screen.fix, &screen.layout);
    std::printf(
        "ok: layout: %ux%u at 32 bits, XRGB8888 (red 16/8, green 8/8, blue 0/8), rows the dumb "
        "buffer's pitch apart from offset 0, as the player follows them\n"
        "ok: present: the player tells the card after each cycle that the buffer changed "
        "(DIRTYFB), so a display that copies it only when told shows each frame\n"
        "note: the player needs the display free: while another program holds it (Android's UI) "
        "it reports \"kms set crtc: Permission denied\" and shows nothing; stop Android's UI "
        "first\n",
        screen.var.xres, screen.var.yres);
    return screen;
}
