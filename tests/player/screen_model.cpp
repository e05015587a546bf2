#include "tests/player/screen_model.h"

#include <gtest/gtest.h>

#include <algorithm>

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
