#include "tools/screen_format.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr unsigned long kMaxSide = 65535;

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

int fail(const char** why, const char* reason) {
    if (why != nullptr) {
        *why = reason;
    }
    return -1;
}

}  // namespace

int parse_screen_format(const char* text, fb_var_screeninfo* out, const char** why) {
    std::memset(out, 0, sizeof *out);
    if (text == nullptr) {
        return fail(why, "no screen given");
    }
    const char* p = text;
    long w = read_number(&p, kMaxSide);
    long h = (w > 0 && expect(&p, 'x')) ? read_number(&p, kMaxSide) : -1;
    long bpp = (h > 0 && expect(&p, 'x')) ? read_number(&p, 32) : -1;
    if (w <= 0 || h <= 0 || bpp <= 0) {
        return fail(why, "screen must be WIDTHxHEIGHTxBPP, e.g. 720x1280x32");
    }
    out->xres = out->xres_virtual = static_cast<__u32>(w);
    out->yres = out->yres_virtual = static_cast<__u32>(h);
    out->bits_per_pixel = static_cast<__u32>(bpp);
    fb_bitfield* fields[3] = {&out->red, &out->green, &out->blue};
    if (*p == '\0') {
        const long defaults16[3][2] = {{11, 5}, {5, 6}, {0, 5}};
        const long defaults[3][2] = {{16, 8}, {8, 8}, {0, 8}};
        for (int i = 0; i < 3; ++i) {
            const long* d = bpp == 16 ? defaults16[i] : defaults[i];
            fields[i]->offset = static_cast<__u32>(d[0]);
            fields[i]->length = static_cast<__u32>(d[1]);
        }
        return 0;
    }
    if (!expect(&p, ':')) {
        return fail(why, "screen channels must follow a colon, e.g. 720x1280x16:11/5,5/6,0/5");
    }
    for (int i = 0; i < 3; ++i) {
        long offset = read_number(&p, 31);
        long length = (offset >= 0 && expect(&p, '/')) ? read_number(&p, 32) : -1;
        bool separator_ok = (i == 2) ? *p == '\0' : expect(&p, ',');
        if (offset < 0 || length < 0 || offset + length > 32 || !separator_ok) {
            return fail(why, "screen channels must be RO/RL,GO/GL,BO/BL, e.g. 11/5,5/6,0/5");
        }
        fields[i]->offset = static_cast<__u32>(offset);
        fields[i]->length = static_cast<__u32>(length);
    }
    return 0;
}
