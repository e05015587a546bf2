#include "tests/player/screen_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "check/screen_format.h"

namespace {

uint32_t channel(uint32_t value, const fb_bitfield& field) {
    return (value >> (8 - field.length)) << field.offset;
}

// The screen's own pixel bytes for colour 0x00RRGGBB.
void pack(const fb_var_screeninfo& s, uint32_t color, uint8_t* out) {
    const uint32_t r = color >> 16 & 0xFF;
    const uint32_t g = color >> 8 & 0xFF;
    const uint32_t b = color & 0xFF;
    switch (s.bits_per_pixel) {
        case 32:
            out[3] = 0xFF;
            [[fallthrough]];
        case 24:
            out[0] = static_cast<uint8_t>(b);
            out[1] = static_cast<uint8_t>(g);
            out[2] = static_cast<uint8_t>(r);
            break;
        case 16: {
            const uint32_t v = channel(r, s.red) | channel(g, s.green) | channel(b, s.blue);
            out[0] = static_cast<uint8_t>(v);
            out[1] = static_cast<uint8_t>(v >> 8);
            break;
        }
        default:
            break;
    }
}

}  // namespace

screen_model screen_model_make(const char* format, uint8_t fill) {
    screen_model m{};
    const char* why = "";
    if (parse_screen_format(format, &m.screen, &why) != 0) {
        ADD_FAILURE() << format << ": " << why;
        return m;
    }
    m.bytes.assign(
        static_cast<size_t>(m.screen.xres) * m.screen.yres * (m.screen.bits_per_pixel / 8), fill);
    return m;
}

void screen_model_draw(screen_model* model, const rgb_picture& picture, int32_t x, int32_t y) {
    const fb_var_screeninfo& s = model->screen;
    const int32_t xres = static_cast<int32_t>(s.xres);
    const int32_t yres = static_cast<int32_t>(s.yres);
    const size_t bytes_per_pixel = s.bits_per_pixel / 8;
    for (int32_t row = 0; row < picture.height && y + row < yres; ++row) {
        for (int32_t column = 0; column < picture.width && x + column < xres; ++column) {
            const size_t at =
                (static_cast<size_t>(y + row) * s.xres + static_cast<size_t>(x + column)) *
                bytes_per_pixel;
            pack(s, picture.pixels[static_cast<size_t>(row * picture.width + column)],
                 &model->bytes[at]);
        }
    }
}

namespace {

uint32_t field_mask(const fb_bitfield& f) {
    return f.length >= 32 ? ~0U : (1U << f.length) - 1;
}

// A channel of 8 bits as a field of `f.length` bits keeps it: its top bits.
uint32_t cut(uint32_t value, const fb_bitfield& f) {
    return f.length >= 8 ? value : (value >> (8 - f.length)) << (8 - f.length);
}

// A field's bits moved back to the top of 8 bits.
uint32_t widen(uint32_t raw, const fb_bitfield& f) {
    return f.length >= 8 ? raw >> (f.length - 8) : raw << (8 - f.length);
}

}  // namespace

rgb_picture intended_make(const fb_var_screeninfo& screen) {
    return rgb_picture_make(static_cast<int32_t>(screen.xres), static_cast<int32_t>(screen.yres),
                            0);
}

void intended_draw(rgb_picture* canvas, const rgb_picture& picture, int32_t x, int32_t y) {
    for (int32_t row = 0; row < picture.height && y + row < canvas->height; ++row) {
        for (int32_t column = 0; column < picture.width && x + column < canvas->width; ++column) {
            canvas->pixels[static_cast<size_t>((y + row) * canvas->width + x + column)] =
                picture.pixels[static_cast<size_t>(row * picture.width + column)];
        }
    }
}

void intended_cut_to_fields(const fb_var_screeninfo& s, rgb_picture* canvas) {
    for (uint32_t& c : canvas->pixels) {
        c = cut(c >> 16 & 0xFF, s.red) << 16 | cut(c >> 8 & 0xFF, s.green) << 8 |
            cut(c & 0xFF, s.blue);
    }
}

rgb_picture screen_seen(const fb_var_screeninfo& s, uint32_t line_length,
                        const std::vector<uint8_t>& memory) {
    rgb_picture seen = intended_make(s);
    const size_t bytes = s.bits_per_pixel / 8;
    for (size_t y = 0; y < s.yres; ++y) {
        for (size_t x = 0; x < s.xres; ++x) {
            const size_t at = (s.yoffset + y) * line_length + (s.xoffset + x) * bytes;
            uint32_t value = 0xFFFFFFFF;
            if (at + bytes <= memory.size()) {
                value = 0;
                memcpy(&value, &memory[at], bytes);
                value = widen(value >> s.red.offset & field_mask(s.red), s.red) << 16 |
                        widen(value >> s.green.offset & field_mask(s.green), s.green) << 8 |
                        widen(value >> s.blue.offset & field_mask(s.blue), s.blue);
            } else {
                ADD_FAILURE() << "pixel (" << x << "," << y << ") lies past the memory";
                return seen;
            }
            seen.pixels[y * s.xres + x] = value;
        }
    }
    return seen;
}
