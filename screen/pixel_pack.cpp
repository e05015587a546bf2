#include "screen/pixel_pack.h"

#include <limits>

namespace {

constexpr uint32_t kOpaqueAlpha = 0xFF;
constexpr uint32_t kChannelBits = 8;
constexpr uint32_t kPixel16Bits = 16;

uint8_t red_of(bmp_color c) {
    return static_cast<uint8_t>(c >> 16);
}
uint8_t green_of(bmp_color c) {
    return static_cast<uint8_t>(c >> 8);
}
uint8_t blue_of(bmp_color c) {
    return static_cast<uint8_t>(c);
}

void pack_32(uint8_t* dest, bmp_color color, const pixel_format*) {
    dest[0] = blue_of(color);
    dest[1] = green_of(color);
    dest[2] = red_of(color);
    dest[3] = kOpaqueAlpha;
}

void pack_24(uint8_t* dest, bmp_color color, const pixel_format*) {
    dest[0] = blue_of(color);
    dest[1] = green_of(color);
    dest[2] = red_of(color);
}

// One 8-bit channel cut to its top `length` bits and moved to `offset`. Drivers may describe
// channels the 16 bits cannot hold; such a channel contributes nothing rather than shifting
// by 32 or more, and one wider than 8 bits is widened instead of shifted by a negative count.
uint32_t channel_16(uint8_t value, uint32_t offset, uint32_t length) {
    if (length == 0 || offset >= kPixel16Bits) {
        return 0;
    }
    uint32_t bits =
        length <= kChannelBits
            ? static_cast<uint32_t>(value) >> (kChannelBits - length)
            : static_cast<uint32_t>(value)
                  << (length > kPixel16Bits ? kPixel16Bits - kChannelBits : length - kChannelBits);
    return bits << offset;
}

void pack_16(uint8_t* dest, bmp_color color, const pixel_format* f) {
    uint32_t v = channel_16(red_of(color), f->red_offset, f->red_length) |
                 channel_16(green_of(color), f->green_offset, f->green_length) |
                 channel_16(blue_of(color), f->blue_offset, f->blue_length);
    dest[0] = static_cast<uint8_t>(v);
    dest[1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace

pixel_format pixel_format_for(const fb_var_screeninfo* screen) {
    pixel_format f{};
    switch (screen->bits_per_pixel) {
        case 32:
            f.bytes_per_pixel = 4;
            f.pack = pack_32;
            break;
        case 24:
            f.bytes_per_pixel = 3;
            f.pack = pack_24;
            break;
        case 16:
            f.bytes_per_pixel = 2;
            f.pack = pack_16;
            f.red_offset = screen->red.offset;
            f.red_length = screen->red.length;
            f.green_offset = screen->green.offset;
            f.green_length = screen->green.length;
            f.blue_offset = screen->blue.offset;
            f.blue_length = screen->blue.length;
            break;
        default:
            break;
    }
    return f;
}

int32_t screen_position_bytes(const fb_var_screeninfo* screen) {
    int32_t bytes = pixel_format_for(screen).bytes_per_pixel;
    return bytes > 0 ? bytes : 1;
}

bool picture_buffer_size(int32_t width, int32_t height, int32_t bytes_per_pixel, int32_t* row_bytes,
                         size_t* total_bytes) {
    if (width < 0 || height < 0 || bytes_per_pixel < 0) {
        return false;
    }
    int64_t row = static_cast<int64_t>(width) * bytes_per_pixel;
    if (row > std::numeric_limits<int32_t>::max()) {
        return false;
    }
    // Both factors are below 2^31, so the product fits in 63 bits.
    int64_t total = row * height;
    if (static_cast<uint64_t>(total) > std::numeric_limits<size_t>::max()) {
        return false;
    }
    *row_bytes = static_cast<int32_t>(row);
    *total_bytes = static_cast<size_t>(total);
    return true;
}
