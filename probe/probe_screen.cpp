#include "probe/probe_screen.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstring>

#include "screen/pixel_pack.h"
#include "screen/screen_layout.h"

namespace {

constexpr const char* kFramebufferPath = "/dev/graphics/fb0";
constexpr uint32_t kBitsPerByte = 8;
constexpr uint32_t kChannelBits = 8;

// Where the player's 24- and 32-bit pixels hold each channel when it cannot follow the fields
// (bytes b, g, r[, 0xFF]).
constexpr uint32_t kPlayerBlueOffset = 0;
constexpr uint32_t kPlayerGreenOffset = 8;
constexpr uint32_t kPlayerRedOffset = 16;
constexpr uint32_t kPlayerFillOffset = 24;  // the 0xFF byte of a 32-bit pixel

const char* visual_name(uint32_t visual) {
    static const char* const kNames[] = {"MONO01",      "MONO10",      "TRUECOLOR",
                                         "PSEUDOCOLOR", "DIRECTCOLOR", "STATIC_PSEUDOCOLOR",
                                         "FOURCC"};
    return visual < sizeof kNames / sizeof kNames[0] ? kNames[visual] : "unknown";
}

// What a screen channel reads of a pixel the player stored in that fixed order.
enum class channel_source { blue, green, red, fill, nothing, mix };

channel_source source_of(const fb_bitfield& f, uint32_t depth) {
    if (f.length == 0) {
        return channel_source::nothing;
    }
    if (f.length != kChannelBits) {
        return channel_source::mix;
    }
    switch (f.offset) {
        case kPlayerBlueOffset:
            return channel_source::blue;
        case kPlayerGreenOffset:
            return channel_source::green;
        case kPlayerRedOffset:
            return channel_source::red;
        case kPlayerFillOffset:
            return depth == 32 ? channel_source::fill : channel_source::nothing;
        default:
            return channel_source::mix;
    }
}

const char* source_text(channel_source source) {
    switch (source) {
        case channel_source::blue:
            return "the pictures' blue";
        case channel_source::green:
            return "the pictures' green";
        case channel_source::red:
            return "the pictures' red";
        case channel_source::fill:
            return "the 0xFF byte (full intensity)";
        case channel_source::nothing:
            return "nothing";
        default:
            return "a mix of channels";
    }
}

const char* const kChannelNames[3] = {"red", "green", "blue"};

// 24 and 32 bits: the player packs each colour at its field where the fields describe a pixel
// of the depth; otherwise it stores b, g, r[, 0xFF], and the line says what each field shows.
void judge_wide_channels(const fb_var_screeninfo& v, std::string* faults) {
    if (channel_fields_fit(v)) {
        std::printf(
            "ok: channels red %u/%u, green %u/%u, blue %u/%u: the player packs each colour at "
            "its field%s\n",
            v.red.offset, v.red.length, v.green.offset, v.green.length, v.blue.offset,
            v.blue.length, v.bits_per_pixel == 32 ? " and sets the other bits (opaque)" : "");
        return;
    }
    const fb_bitfield* fields[3] = {&v.red, &v.green, &v.blue};
    const channel_source wanted[3] = {channel_source::red, channel_source::green,
                                      channel_source::blue};
    channel_source seen[3];
    std::string misplaced;
    for (int i = 0; i < 3; ++i) {
        seen[i] = source_of(*fields[i], v.bits_per_pixel);
        if (seen[i] != wanted[i]) {
            misplaced += misplaced.empty() ? "" : ", ";
            misplaced += std::string(kChannelNames[i]) + " shows " + source_text(seen[i]);
        }
    }
    std::printf(
        "wrong: channels red %u/%u, green %u/%u, blue %u/%u describe no %u-bit pixel (a field "
        "without bits, past the pixel or sharing bits), so the player stores bytes %s: %s\n",
        v.red.offset, v.red.length, v.green.offset, v.green.length, v.blue.offset, v.blue.length,
        v.bits_per_pixel, v.bits_per_pixel == 32 ? "b, g, r, 0xFF" : "b, g, r", misplaced.c_str());
    probe_add_fault(faults, "colours wrong");
}

// 16 bits: the player packs each channel at its field, keeping what lies within the pixel.
void judge_packed_channels(const fb_var_screeninfo& v, std::string* faults) {
    if (channel_fields_fit(v)) {
        std::printf(
            "ok: channels red %u/%u, green %u/%u, blue %u/%u each have bits of their own, and "
            "the player packs them there\n",
            v.red.offset, v.red.length, v.green.offset, v.green.length, v.blue.offset,
            v.blue.length);
        return;
    }
    const fb_bitfield* fields[3] = {&v.red, &v.green, &v.blue};
    for (int i = 0; i < 3; ++i) {
        const fb_bitfield& f = *fields[i];
        const char* name = kChannelNames[i];
        if (f.length == 0 || f.offset >= v.bits_per_pixel) {
            std::printf(
                "wrong: channels: %s %u/%u has no bits in the 16-bit pixel: pictures show "
                "without %s\n",
                name, f.offset, f.length, name);
        } else if (uint64_t{f.offset} + f.length > v.bits_per_pixel) {
            std::printf(
                "wrong: channels: %s %u/%u reaches past bit 15 of the pixel: its top bits are "
                "lost, so the pictures' %s shows wrong\n",
                name, f.offset, f.length, name);
        }
        for (int j = i + 1; j < 3; ++j) {
            const fb_bitfield& g = *fields[j];
            const bool share = f.length != 0 && g.length != 0 && f.offset < g.offset + g.length &&
                               g.offset < f.offset + f.length;
            if (share) {
                std::printf(
                    "wrong: channels: %s %u/%u and %s %u/%u share bits: the pictures' %s and "
                    "%s mix there\n",
                    name, f.offset, f.length, kChannelNames[j], g.offset, g.length, name,
                    kChannelNames[j]);
            }
        }
    }
    probe_add_fault(faults, "colours wrong");
}

// Rows: the player steps rows by the layout's pitch; the screen scans them line_length apart.
void judge_rows(const fb_var_screeninfo& v, const fb_fix_screeninfo& f, const screen_layout& layout,
                std::string* faults) {
    const uint32_t pixel_bytes = v.bits_per_pixel / kBitsPerByte;
    if (f.line_length == 0) {
        std::printf(
            "ok: rows: line_length 0 (not given): the player steps rows by the packed row, "
            "%" PRIu64 " bytes (%u px x %u bytes)\n",
            layout.pitch, v.xres, pixel_bytes);
        return;
    }
    if (f.line_length == layout.pitch) {
        std::printf("ok: rows: line_length %u bytes; the player steps rows by it\n", f.line_length);
        return;
    }
    const bool longer = f.line_length > layout.pitch;
    const uint64_t step = longer ? f.line_length - layout.pitch : layout.pitch - f.line_length;
    char pixels[32] = "";
    if (pixel_bytes != 0 && step % pixel_bytes == 0) {
        std::snprintf(pixels, sizeof pixels, " (%" PRIu64 " px)", step / pixel_bytes);
    }
    std::printf("wrong: rows: line_length %u bytes, but the player steps rows by %" PRIu64
                " bytes: each picture row lands %" PRIu64
                " bytes%s further %s than the one above, so the pictures lean\n",
                f.line_length, layout.pitch, step, pixels, longer ? "left" : "right");
    probe_add_fault(faults, "rows misplaced");
}

// Memory: what the player maps (the one rule the player itself follows), against smem_len.
void judge_memory(const fb_var_screeninfo& v, const fb_fix_screeninfo& f,
                  const screen_layout& layout, int laid_out, std::string* faults) {
    if (v.bits_per_pixel < kBitsPerByte) {
        return;  // the depth's own line says the player maps nothing
    }
    if (laid_out != 0) {
        if (layout.map_bytes == 0) {
            std::printf(
                "wrong: memory: a screen of %u x %u pixels: the player maps nothing; it reports "
                "\"fb0 dev mmap\" and shows nothing\n",
                v.xres, v.yres);
        } else {
            std::printf("wrong: memory: the player's mapping would be %" PRIu64
                        " bytes, more than it can map (%d): it reports \"fb0 dev mmap\" and "
                        "shows nothing\n",
                        layout.map_bytes, INT_MAX);
        }
        probe_add_fault(faults, "screen cannot be mapped");
        return;
    }
    if (!screen_memory_holds(layout, f.smem_len)) {
        std::printf(
            "wrong: memory: smem_len %u bytes is smaller than the player's mapping of "
            "%" PRIu64
            " bytes: the driver refuses the mapping, the player reports \"fb0 dev mmap\" "
            "and shows nothing\n",
            f.smem_len, layout.map_bytes);
        probe_add_fault(faults, "screen memory too small");
        return;
    }
    // Where the shown page is not followed, the player draws the first page: rows the driver's
    // pitch apart where the memory holds them, else packed.
    const char* first_page = layout.pitch > uint64_t{v.xres} * (v.bits_per_pixel / kBitsPerByte)
                                 ? "the first page, rows line_length apart,"
                                 : "packed rows from offset 0";
    switch (layout.basis) {
        case screen_basis::beyond_memory:
            std::printf(
                "wrong: memory: smem_len %u bytes does not reach the end of the shown page "
                "(%" PRIu64 " bytes): the player keeps to %s and maps %" PRIu64 " bytes\n",
                f.smem_len, layout.page_end, first_page, layout.map_bytes);
            probe_add_fault(faults, "screen memory smaller than the shown page");
            return;
        case screen_basis::no_memory_size:
            std::printf(
                "wrong: memory: smem_len 0 (not given): with no memory size to hold the "
                "shown page (%" PRIu64 " bytes), the player keeps to %s and maps %" PRIu64
                " bytes\n",
                layout.page_end, first_page, layout.map_bytes);
            probe_add_fault(faults, "screen memory size not given");
            return;
        case screen_basis::driver:
            break;
    }
    if (f.smem_len == 0) {
        std::printf("ok: memory: smem_len 0 (not given): the player maps %" PRIu64 " bytes\n",
                    layout.map_bytes);
        return;
    }
    std::printf("ok: memory: smem_len %u bytes holds the player's mapping of %" PRIu64 " bytes\n",
                f.smem_len, layout.map_bytes);
}

// Page: the player draws at the layout's origin; the screen shows its page at its offsets.
void judge_page(const fb_var_screeninfo& v, const screen_layout& layout, std::string* faults) {
    if (v.xoffset == 0 && v.yoffset == 0) {
        std::printf("ok: page: the shown page starts at (0,0), where the player draws\n");
        return;
    }
    if (layout.basis == screen_basis::driver) {
        std::printf("ok: page: the shown page starts at (%u,%u), %" PRIu64
                    " bytes into the screen memory; the player draws there\n",
                    v.xoffset, v.yoffset, layout.origin);
        return;
    }
    // The player pans to its own page after each cycle, but a driver without panning (EINVAL)
    // keeps showing the other one, and the probe changes nothing to learn which this is.
    std::printf(
        "wrong: page: the shown page starts at (%u,%u), but the player draws at offset 0 "
        "(%s) and shows it only where the driver takes its pan to (0,0)\n",
        v.xoffset, v.yoffset,
        layout.basis == screen_basis::no_memory_size
            ? "the driver does not say its memory holds the shown page"
            : "the memory does not hold the shown page");
    probe_add_fault(faults, "another page shown");
}

// Why an offset of the pan the player asks for keeps off the driver's pan steps, or "" when it
// does not: an offset other than 0 needs a step that divides it.
std::string off_the_steps(const char* offset_name, uint32_t offset, const char* step_name,
                          uint32_t step) {
    char text[96] = "";
    if (offset != 0 && step == 0) {
        std::snprintf(text, sizeof text, "%s 0: the driver pans to no %s but 0", step_name,
                      offset_name);
    } else if (offset != 0 && offset % step != 0) {
        std::snprintf(text, sizeof text, "%s %u is not a multiple of %s %u", offset_name, offset,
                      step_name, step);
    }
    return text;
}

// Present: the player pans to the page it draws (screen_pan_request); the kernel's fb_pan_display
// refuses, before any driver sees it, an offset off the driver's pan steps (ywrapstep for a
// wrapping pan, ypanstep otherwise; xpanstep across) and a page past the virtual screen, the
// heights compared in unsigned 32 bits as there (a wrapping page may start on any row).
void judge_present(const probe_screen& s, std::string* faults) {
    const fb_var_screeninfo asked = screen_pan_request(s.var, s.layout);
    const fb_var_screeninfo& v = s.var;
    const fb_fix_screeninfo& f = s.fix;
    const bool wraps = (asked.vmode & FB_VMODE_YWRAP) != 0;
    std::string why = off_the_steps("yoffset", asked.yoffset, wraps ? "ywrapstep" : "ypanstep",
                                    wraps ? f.ywrapstep : f.ypanstep);
    if (why.empty()) {
        why = off_the_steps("xoffset", asked.xoffset, "xpanstep", f.xpanstep);
    }
    if (why.empty() && (asked.yoffset > v.yres_virtual - (wraps ? 0 : v.yres) ||
                        asked.xoffset > v.xres_virtual - v.xres)) {
        why = "the page lies past the virtual screen, " + std::to_string(v.xres_virtual) + "x" +
              std::to_string(v.yres_virtual);
    }
    if (why.empty()) {
        // The probe itself only reads; what it says here is what the player does.
        std::printf(
            "ok: present: the player pans to the page it draws after each cycle "
            "(FBIOPAN_DISPLAY), so a panel that shows the memory only when told shows each "
            "frame\n");
        return;
    }
    std::printf(
        "wrong: present: the player pans to the page it draws, (%u,%u), after each cycle "
        "(FBIOPAN_DISPLAY), but the kernel refuses that pan (%s): a panel that shows the memory "
        "only when told shows none of the frames (one that scans it shows them)\n",
        asked.xoffset, asked.yoffset, why.c_str());
    probe_add_fault(faults, "pan refused");
}

bool judge_depth(const fb_var_screeninfo& v, std::string* faults) {
    const uint32_t depth = v.bits_per_pixel;
    if (depth == 16 || depth == 24 || depth == 32) {
        std::printf("ok: depth: %u bits is one the player draws\n", depth);
        return true;
    }
    if (depth < kBitsPerByte) {
        std::printf(
            "wrong: depth: %u bits: the player maps nothing at depths under 8 bits; it "
            "reports \"fb0 dev mmap\" and shows nothing\n",
            depth);
    } else {
        std::printf(
            "wrong: depth: %u bits: the player draws only at 16, 24 and 32 bits; here it "
            "clears the screen once and draws nothing\n",
            depth);
    }
    probe_add_fault(faults, "depth not drawn");
    return false;
}

void judge_visual(const fb_fix_screeninfo& f, std::string* faults) {
    if (f.visual == FB_VISUAL_TRUECOLOR) {
        std::printf("ok: visual TRUECOLOR: pixel values are colours\n");
        return;
    }
    std::printf(
        "wrong: visual %s (%u): pixel values are not plain colours (the driver reads "
        "them through a colour map or another scheme), so the pictures' colours are "
        "wrong\n",
        visual_name(f.visual), f.visual);
    probe_add_fault(faults, "not true colour");
}

}  // namespace

const char* probe_preview_gap(const probe_screen& s) {
    const uint32_t depth = s.var.bits_per_pixel;
    if (depth != 16 && depth != 24 && depth != 32) {
        return "zelt-assets previews only the 16-, 24- and 32-bit screens the player draws on";
    }
    if (s.laid_out != 0 || !screen_memory_holds(s.layout, s.fix.smem_len)) {
        return "the player cannot map this screen, so it shows nothing of the pictures";
    }
    if (s.fix.visual != FB_VISUAL_TRUECOLOR) {
        return "the driver reads pixel values through a colour map the preview does not know";
    }
    return nullptr;
}

void probe_add_fault(std::string* faults, const std::string& name) {
    if (!faults->empty()) {
        *faults += "; ";
    }
    *faults += name;
}

probe_screen probe_read_screen() {
    probe_screen s{};
    // Read-only, and nothing but the two description requests: safe while another program
    // owns the display.
    int fd = open(kFramebufferPath, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        s.failed = probe_step::open;
        s.error = errno;
        return s;
    }
    if (ioctl(fd, FBIOGET_VSCREENINFO, &s.var) < 0) {
        s.failed = probe_step::describe;
        s.error = errno;
    } else if (ioctl(fd, FBIOGET_FSCREENINFO, &s.fix) < 0) {
        s.failed = probe_step::describe_fixed;
        s.error = errno;
    }
    close(fd);
    if (s.failed == probe_step::none) {
        s.laid_out = screen_layout_for(s.var, &s.fix, &s.layout);
    }
    return s;
}

void probe_report_unreadable(const probe_screen& s) {
    const char* text = std::strerror(s.error);
    if (s.failed == probe_step::open) {
        std::printf(
            "framebuffer %s: cannot be opened: %s\n"
            "wrong: the player reports \"fb0 dev open: %s\", shows nothing and hands "
            "off (devices with only a DRM/KMS display driver have no fb0)\n",
            kFramebufferPath, text, text);
        return;
    }
    const bool variable = s.failed == probe_step::describe;
    std::printf("framebuffer %s: opened read-only, but %s fails: %s\n", kFramebufferPath,
                variable ? "FBIOGET_VSCREENINFO" : "FBIOGET_FSCREENINFO", text);
    if (variable) {
        std::printf(
            "wrong: the player reports \"fb0 dev ioctl: %s\", shows nothing and hands "
            "off\n",
            text);
    }
}

void probe_judge_screen(const probe_screen& s, std::string* faults) {
    const fb_var_screeninfo& v = s.var;
    const fb_fix_screeninfo& f = s.fix;
    std::printf("framebuffer %s: opened read-only\n", kFramebufferPath);
    std::printf(
        "  xres %u, yres %u, xres_virtual %u, yres_virtual %u, xoffset %u, yoffset %u, "
        "bits_per_pixel %u\n",
        v.xres, v.yres, v.xres_virtual, v.yres_virtual, v.xoffset, v.yoffset, v.bits_per_pixel);
    std::printf("  red %u/%u, green %u/%u, blue %u/%u, transp %u/%u\n", v.red.offset, v.red.length,
                v.green.offset, v.green.length, v.blue.offset, v.blue.length, v.transp.offset,
                v.transp.length);
    std::printf("  line_length %u, smem_len %u, visual %s\n", f.line_length, f.smem_len,
                visual_name(f.visual));
    const bool drawn = judge_depth(v, faults);
    judge_memory(v, f, s.layout, s.laid_out, faults);
    if (drawn && s.laid_out == 0 && screen_memory_holds(s.layout, f.smem_len)) {
        // Where rows, page and channels lie matters only where the player draws.
        judge_rows(v, f, s.layout, faults);
        judge_page(v, s.layout, faults);
        judge_present(s, faults);
        if (v.bits_per_pixel == 16) {
            judge_packed_channels(v, faults);
        } else {
            judge_wide_channels(v, faults);
        }
    }
    judge_visual(f, faults);
}
