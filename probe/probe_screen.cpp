#include "probe/probe_screen.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "check/screen_format.h"

namespace {

constexpr const char* kFramebufferPath = "/dev/graphics/fb0";
constexpr uint32_t kBitsPerByte = 8;
constexpr uint32_t kChannelBits = 8;

// Where the player's 24- and 32-bit pixels hold each channel (bytes b, g, r[, 0xFF]).
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

// What a screen channel reads of a pixel the player stored at 24 or 32 bits.
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

// 24 and 32 bits: the player ignores the channel fields and stores b, g, r.
void judge_byte_channels(const fb_var_screeninfo& v, std::string* faults) {
    const fb_bitfield* fields[3] = {&v.red, &v.green, &v.blue};
    const channel_source wanted[3] = {channel_source::red, channel_source::green,
                                      channel_source::blue};
    const char* const names[3] = {"red", "green", "blue"};
    channel_source seen[3];
    std::string misplaced;
    for (int i = 0; i < 3; ++i) {
        seen[i] = source_of(*fields[i], v.bits_per_pixel);
        if (seen[i] != wanted[i]) {
            misplaced += misplaced.empty() ? "" : ", ";
            misplaced += std::string(names[i]) + " shows " + source_text(seen[i]);
        }
    }
    const char* stored = v.bits_per_pixel == 32 ? "b, g, r, 0xFF" : "b, g, r";
    if (misplaced.empty()) {
        std::printf(
            "ok: channels red %u/%u, green %u/%u, blue %u/%u are where the player puts "
            "them (bytes %s)\n",
            v.red.offset, v.red.length, v.green.offset, v.green.length, v.blue.offset,
            v.blue.length, stored);
        return;
    }
    const bool swapped = seen[0] == channel_source::blue && seen[1] == channel_source::green &&
                         seen[2] == channel_source::red;
    std::printf(
        "wrong: channels red %u/%u, green %u/%u, blue %u/%u, but the player stores "
        "bytes %s (red 16/8, green 8/8, blue 0/8): %s%s\n",
        v.red.offset, v.red.length, v.green.offset, v.green.length, v.blue.offset, v.blue.length,
        stored, swapped ? "red and blue swapped: " : "", misplaced.c_str());
    probe_add_fault(faults, swapped ? "red and blue swapped" : "colours wrong");
}

// 16 bits: the player packs each channel at its offset, so each needs bits within the pixel.
void judge_packed_channels(const fb_var_screeninfo& v, std::string* faults) {
    const fb_bitfield* fields[3] = {&v.red, &v.green, &v.blue};
    const char* const names[3] = {"red", "green", "blue"};
    bool ok = true;
    for (int i = 0; i < 3; ++i) {
        if (fields[i]->length == 0 || fields[i]->offset >= v.bits_per_pixel) {
            std::printf(
                "wrong: channels: %s %u/%u has no bits in the 16-bit pixel: pictures "
                "show without %s\n",
                names[i], fields[i]->offset, fields[i]->length, names[i]);
            ok = false;
        }
    }
    if (ok) {
        std::printf(
            "ok: channels red %u/%u, green %u/%u, blue %u/%u each have bits, and the "
            "player packs them there\n",
            v.red.offset, v.red.length, v.green.offset, v.green.length, v.blue.offset,
            v.blue.length);
    } else {
        probe_add_fault(faults, "a channel missing");
    }
}

void judge_rows(const fb_var_screeninfo& v, const fb_fix_screeninfo& f, std::string* faults) {
    const uint64_t packed = packed_row_bytes(v);
    const uint32_t pixel_bytes = v.bits_per_pixel / kBitsPerByte;
    if (f.line_length == packed) {
        std::printf(
            "ok: rows: line_length %u bytes is the packed row the player writes (%u px x "
            "%u bytes)\n",
            f.line_length, v.xres, pixel_bytes);
        return;
    }
    const bool longer = f.line_length > packed;
    const uint64_t step = longer ? f.line_length - packed : packed - f.line_length;
    char pixels[32] = "";
    if (pixel_bytes != 0 && step % pixel_bytes == 0) {
        std::snprintf(pixels, sizeof pixels, " (%" PRIu64 " px)", step / pixel_bytes);
    }
    std::printf("wrong: rows: line_length %u bytes, but the player writes rows of %" PRIu64
                " bytes (%u px x %u bytes) back to back: each picture row lands %" PRIu64
                " bytes%s further %s than the one above, so the pictures lean\n",
                f.line_length, packed, v.xres, pixel_bytes, step, pixels,
                longer ? "left" : "right");
    probe_add_fault(faults, "rows padded");
}

void judge_memory(const fb_var_screeninfo& v, const fb_fix_screeninfo& f, std::string* faults) {
    const uint64_t mapping = packed_row_bytes(v) * v.yres;
    if (mapping == 0) {
        return;  // the depth's own line says the player maps nothing
    }
    if (f.smem_len >= mapping) {
        std::printf("ok: memory: smem_len %u bytes holds the player's mapping of %" PRIu64
                    " bytes\n",
                    f.smem_len, mapping);
        return;
    }
    std::printf("wrong: memory: smem_len %u bytes is smaller than the player's mapping of %" PRIu64
                " bytes: the driver refuses the mapping, the player reports \"fb0 dev mmap\" and "
                "shows nothing\n",
                f.smem_len, mapping);
    probe_add_fault(faults, "screen memory too small");
}

void judge_page(const fb_var_screeninfo& v, const fb_fix_screeninfo& f, std::string* faults) {
    if (v.xoffset == 0 && v.yoffset == 0) {
        std::printf("ok: page: the visible page starts at (0,0), where the player draws\n");
        return;
    }
    const uint64_t start = uint64_t{v.yoffset} * f.line_length +
                           uint64_t{v.xoffset} * (v.bits_per_pixel / kBitsPerByte);
    std::printf("wrong: page: the visible page starts at (%u,%u), %" PRIu64
                " bytes into the screen memory, but the player draws at (0,0) with no panning: "
                "its pictures land in a page that is not shown\n",
                v.xoffset, v.yoffset, start);
    probe_add_fault(faults, "another page shown");
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
        s.step = "open";
        s.error = errno;
        return s;
    }
    if (ioctl(fd, FBIOGET_VSCREENINFO, &s.var) < 0) {
        s.step = "FBIOGET_VSCREENINFO";
        s.error = errno;
    } else if (ioctl(fd, FBIOGET_FSCREENINFO, &s.fix) < 0) {
        s.step = "FBIOGET_FSCREENINFO";
        s.error = errno;
    } else {
        s.described = true;
    }
    close(fd);
    return s;
}

void probe_report_unreadable(const probe_screen& s) {
    const char* text = std::strerror(s.error);
    if (std::strcmp(s.step, "open") == 0) {
        std::printf(
            "framebuffer %s: cannot be opened: %s\n"
            "wrong: the player reports \"fb0 dev open: %s\", shows nothing and hands "
            "off (devices with only a DRM/KMS display driver have no fb0)\n",
            kFramebufferPath, text, text);
        return;
    }
    std::printf("framebuffer %s: opened read-only, but %s fails: %s\n", kFramebufferPath, s.step,
                text);
    if (std::strcmp(s.step, "FBIOGET_VSCREENINFO") == 0) {
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
    judge_memory(v, f, faults);
    if (drawn) {
        // Where rows, page and channels lie matters only for a depth the player draws at.
        judge_rows(v, f, faults);
        judge_page(v, f, faults);
        if (v.bits_per_pixel == 16) {
            judge_packed_channels(v, faults);
        } else {
            judge_byte_channels(v, faults);
        }
    }
    judge_visual(f, faults);
}
