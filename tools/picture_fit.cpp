#include "tools/picture_fit.h"

#include <stb_image_resize.h>

#include <cstddef>

namespace {

constexpr uint32_t kOpaque = 255;

uint32_t mix(uint32_t over, uint32_t under, uint32_t alpha) {
    return (over * alpha + under * (kOpaque - alpha) + kOpaque / 2) / kOpaque;
}

// Rounds `a` * `b` / `c` to the nearest whole number, at least 1. With sides of at most 31
// bits the product fits in 64 bits, and so does the result, which may pass 32 bits.
int64_t scaled_side(int64_t a, int64_t b, int64_t c) {
    int64_t v = (a * b + c / 2) / c;
    return v < 1 ? 1 : v;
}

}  // namespace

rgb_picture blend_onto(const rgba_picture& source, uint32_t background, int64_t* blended) {
    rgb_picture out = rgb_picture_make(source.width, source.height, 0);
    uint32_t bg[3] = {(background >> 16) & 0xFF, (background >> 8) & 0xFF, background & 0xFF};
    *blended = 0;
    for (size_t i = 0; i < out.pixels.size(); ++i) {
        const uint8_t* p = source.rgba.data() + i * 4;
        uint32_t alpha = p[3];
        if (alpha != kOpaque) {
            ++*blended;
        }
        out.pixels[i] =
            mix(p[0], bg[0], alpha) << 16 | mix(p[1], bg[1], alpha) << 8 | mix(p[2], bg[2], alpha);
    }
    return out;
}

void fit_size(int32_t width, int32_t height, int32_t room_width, int32_t room_height,
              int32_t* fitted_width, int32_t* fitted_height) {
    if (width <= room_width && height <= room_height) {
        *fitted_width = width;  // what fits stays as drawn: a picture is never enlarged
        *fitted_height = height;
        return;
    }
    // Compared in 64 bits: a tall, narrow source on a wide room gives a height far past 32
    // bits before the room cuts it down.
    const int64_t full_width_height = scaled_side(height, room_width, width);
    if (full_width_height <= room_height) {
        *fitted_width = room_width;
        *fitted_height = static_cast<int32_t>(full_width_height);
        return;
    }
    // Narrower instead: never wider than the room, since width / height < room_width /
    // room_height here.
    *fitted_height = room_height;
    *fitted_width = static_cast<int32_t>(scaled_side(width, room_height, height));
}

bool scale_picture(const rgb_picture& picture, int32_t width, int32_t height, rgb_picture* out) {
    std::vector<uint8_t> in_bytes;
    in_bytes.reserve(picture.pixels.size() * 3);
    for (uint32_t c : picture.pixels) {
        in_bytes.insert(in_bytes.end(), {static_cast<uint8_t>(c >> 16),
                                         static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c)});
    }
    std::vector<uint8_t> out_bytes(size_t{static_cast<uint32_t>(width)} * height * 3);
    if (stbir_resize_uint8_srgb(in_bytes.data(), picture.width, picture.height, 0, out_bytes.data(),
                                width, height, 0, 3, STBIR_ALPHA_CHANNEL_NONE, 0) == 0) {
        return false;
    }
    *out = rgb_picture_make(width, height, 0);
    for (size_t i = 0; i < out->pixels.size(); ++i) {
        const uint8_t* p = out_bytes.data() + i * 3;
        out->pixels[i] = uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
    }
    return true;
}
