#include "check/screen_format.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr unsigned long kMaxSide = 65535;
constexpr unsigned long kMaxDepth = 32;
constexpr unsigned long kMaxChannelOffset = 31;
constexpr unsigned long kPixelValueBits = 32;
constexpr uint32_t kBitsPerByte = 8;

// Reads an unsigned decimal number at *p and moves past it. Returns -1 when there is none.
long read_number(const char** p, unsigned long max) {
    if (**p < '0' || **p > '9') {
        return -1;
    }
    char* end = nullptr;
    errno = 0;
    unsigned long value = std::strtoul(*p, &end, 10);
    if (errno != 0 || value > max) {
        return -1;
    }
    *p = end;
    return static_cast<long>(value);
}

bool expect(const char** p, char c) {
    if (**p != c) {
        return false;
    }
    ++*p;
    return true;
}

// Moves past `word` when the text at *p starts with it.
bool expect_word(const char** p, const char* word) {
    size_t n = std::strlen(word);
    if (std::strncmp(*p, word, n) != 0) {
        return false;
    }
    *p += n;
    return true;
}

// Moves past the colon that ends one optional part and starts the next; true at the end of the
// text too, false for a colon with nothing after it.
bool part_end(const char** p) {
    return **p == '\0' || (expect(p, ':') && **p != '\0');
}

int fail(const char** why, const char* reason) {
    if (why != nullptr) {
        *why = reason;
    }
    return -1;
}

void set_default_channels(fb_var_screeninfo* var) {
    const long defaults16[3][2] = {{11, 5}, {5, 6}, {0, 5}};
    const long defaults[3][2] = {{16, 8}, {8, 8}, {0, 8}};
    fb_bitfield* fields[3] = {&var->red, &var->green, &var->blue};
    for (int i = 0; i < 3; ++i) {
        const long* d = var->bits_per_pixel == 16 ? defaults16[i] : defaults[i];
        fields[i]->offset = static_cast<__u32>(d[0]);
        fields[i]->length = static_cast<__u32>(d[1]);
    }
}

// Reads "RO/RL,GO/GL,BO/BL" at *p. Returns false when malformed.
bool read_channels(const char** p, fb_var_screeninfo* var) {
    fb_bitfield* fields[3] = {&var->red, &var->green, &var->blue};
    for (int i = 0; i < 3; ++i) {
        long offset = read_number(p, kMaxChannelOffset);
        long length = (offset >= 0 && expect(p, '/')) ? read_number(p, kPixelValueBits) : -1;
        if (offset < 0 || length < 0 || offset + length > static_cast<long>(kPixelValueBits) ||
            (i < 2 && !expect(p, ','))) {
            return false;
        }
        fields[i]->offset = static_cast<__u32>(offset);
        fields[i]->length = static_cast<__u32>(length);
    }
    return true;
}

bool channel_in_range(const fb_bitfield& f) {
    return f.offset <= kMaxChannelOffset && f.length <= kPixelValueBits &&
           f.offset + f.length <= kPixelValueBits;
}

// Whether `text` starts with WIDTHxHEIGHTxBPP numbers of which one is beyond its range.
bool too_large(const char* text) {
    const unsigned long limits[3] = {kMaxSide, kMaxSide, kMaxDepth};
    bool beyond = false;
    const char* p = text;
    for (int i = 0; i < 3; ++i) {
        if (*p < '0' || *p > '9') {
            return false;
        }
        char* end = nullptr;
        errno = 0;
        const unsigned long value = std::strtoul(p, &end, 10);
        beyond = beyond || errno != 0 || value > limits[i];
        p = end;
        if (i < 2 && !expect(&p, 'x')) {
            return false;
        }
    }
    return beyond;
}

}  // namespace

uint64_t packed_row_bytes(const fb_var_screeninfo& var) {
    return uint64_t{var.xres} * (var.bits_per_pixel / kBitsPerByte);
}

int parse_screen_description(const char* text, screen_description* out, const char** why) {
    std::memset(out, 0, sizeof *out);
    if (text == nullptr) {
        return fail(why, "no screen given");
    }
    fb_var_screeninfo* var = &out->var;
    const char* p = text;
    long w = read_number(&p, kMaxSide);
    long h = (w > 0 && expect(&p, 'x')) ? read_number(&p, kMaxSide) : -1;
    long bpp = (h > 0 && expect(&p, 'x')) ? read_number(&p, kMaxDepth) : -1;
    if (w <= 0 || h <= 0 || bpp <= 0) {
        return fail(why, too_large(text)
                             ? "screen too large: at most 65535x65535 pixels and 32 bits"
                             : "screen must be WIDTHxHEIGHTxBPP, e.g. 720x1280x32");
    }
    var->xres = var->xres_virtual = static_cast<__u32>(w);
    var->yres = var->yres_virtual = static_cast<__u32>(h);
    var->bits_per_pixel = static_cast<__u32>(bpp);
    set_default_channels(var);
    out->line_length = static_cast<uint32_t>(packed_row_bytes(*var));
    if (*p == '\0') {
        return 0;
    }
    if (!expect(&p, ':') || *p == '\0') {
        return fail(why, "screen fields must follow a colon, e.g. 720x1280x16:11/5,5/6,0/5");
    }
    if (*p >= '0' && *p <= '9') {
        if (!read_channels(&p, var) || !part_end(&p)) {
            return fail(why, "screen channels must be RO/RL,GO/GL,BO/BL, e.g. 11/5,5/6,0/5");
        }
    }
    if (expect_word(&p, "pitch=")) {
        long pitch = read_number(&p, kMaxPitchBytes);  // 0: a driver that leaves it unset
        if (pitch < 0 || !part_end(&p)) {
            return fail(why, "screen pitch must be pitch=BYTES, e.g. pitch=3072");
        }
        out->line_length = static_cast<uint32_t>(pitch);
    }
    if (expect_word(&p, "page=")) {
        long x = read_number(&p, kMaxSide);
        long y = (x >= 0 && expect(&p, ',')) ? read_number(&p, kMaxSide) : -1;
        if (y < 0 || !part_end(&p)) {
            return fail(why, "screen page must be page=X,Y, e.g. page=0,1280");
        }
        var->xoffset = static_cast<__u32>(x);
        var->yoffset = static_cast<__u32>(y);
    }
    if (expect_word(&p, "smem=")) {
        long smem = read_number(&p, kMaxSmemBytes);
        if (smem <= 0 || !part_end(&p)) {
            return fail(why, "screen memory must be smem=BYTES, e.g. smem=7372800");
        }
        out->smem_len = static_cast<uint32_t>(smem);
    }
    if (*p != '\0') {
        return fail(why,
                    "screen must be WxHxBPP[:RO/RL,GO/GL,BO/BL][:pitch=BYTES][:page=X,Y]"
                    "[:smem=BYTES], in that order");
    }
    return 0;
}

int parse_screen_format(const char* text, fb_var_screeninfo* out, const char** why) {
    screen_description screen{};
    int result = parse_screen_description(text, &screen, why);
    *out = screen.var;
    return result;
}

int format_screen_description(const screen_description& screen, char* out, size_t size) {
    if (size == 0) {
        return -1;
    }
    out[0] = '\0';
    const fb_var_screeninfo& v = screen.var;
    bool in_range = v.xres >= 1 && v.xres <= kMaxSide && v.yres >= 1 && v.yres <= kMaxSide &&
                    v.bits_per_pixel >= 1 && v.bits_per_pixel <= kMaxDepth &&
                    channel_in_range(v.red) && channel_in_range(v.green) &&
                    channel_in_range(v.blue) && screen.line_length <= kMaxPitchBytes &&
                    v.xoffset <= kMaxSide && v.yoffset <= kMaxSide &&
                    screen.smem_len <= kMaxSmemBytes;
    if (!in_range) {
        return -1;
    }
    int n = std::snprintf(out, size, "%ux%ux%u:%u/%u,%u/%u,%u/%u", v.xres, v.yres, v.bits_per_pixel,
                          v.red.offset, v.red.length, v.green.offset, v.green.length, v.blue.offset,
                          v.blue.length);
    if (n >= 0 && screen.line_length != packed_row_bytes(v) && static_cast<size_t>(n) < size) {
        n += std::snprintf(out + n, size - static_cast<size_t>(n), ":pitch=%u", screen.line_length);
    }
    if (n >= 0 && (v.xoffset != 0 || v.yoffset != 0) && static_cast<size_t>(n) < size) {
        n += std::snprintf(out + n, size - static_cast<size_t>(n), ":page=%u,%u", v.xoffset,
                           v.yoffset);
    }
    if (n >= 0 && screen.smem_len != 0 && static_cast<size_t>(n) < size) {
        n += std::snprintf(out + n, size - static_cast<size_t>(n), ":smem=%u", screen.smem_len);
    }
    if (n < 0 || static_cast<size_t>(n) >= size) {
        out[0] = '\0';
        return -1;
    }
    return n;
}
