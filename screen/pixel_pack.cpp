#include "screen/pixel_pack.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr uint32_t kOpaqueAlpha = 0xFF;
constexpr uint32_t kChannelBits = 8;
constexpr uint32_t kPixel16Bits = 16;
constexpr uint32_t kBitsPerByte = 8;

// Bytes one pixel takes at a drawn depth: each of them is a whole number of bytes.
constexpr int32_t drawn_pixel_bytes(uint32_t bits) {
    return static_cast<int32_t>(bits / kBitsPerByte);
}

inline uint8_t red_of(bmp_color c) {
    return static_cast<uint8_t>(c >> 16);
}
inline uint8_t green_of(bmp_color c) {
    return static_cast<uint8_t>(c >> 8);
}
inline uint8_t blue_of(bmp_color c) {
    return static_cast<uint8_t>(c);
}

// The screens are little-endian (ARM and x86), so a colour 0x00RRGGBB stored as it is gives the
// bytes b, g, r, 0: one store per pixel instead of one per byte.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "pixels are packed little-endian");

// One pixel of a screen `Bits` deep, packed into drawn_pixel_bytes(Bits) bytes at `dest`.
template <uint32_t Bits>
void pack(uint8_t* dest, bmp_color color, const pixel_format* f);

template <>
inline void pack<32>(uint8_t* dest, bmp_color color, const pixel_format*) {
    const uint32_t pixel = color | kOpaqueAlpha << 24;
    memcpy(dest, &pixel, sizeof pixel);
}

template <>
inline void pack<24>(uint8_t* dest, bmp_color color, const pixel_format*) {
    memcpy(dest, &color, 3);  // b, g, r
}

template <>
inline void pack<16>(uint8_t* dest, bmp_color color, const pixel_format* f) {
    const auto pixel = static_cast<uint16_t>(f->red[red_of(color)] | f->green[green_of(color)] |
                                             f->blue[blue_of(color)]);
    memcpy(dest, &pixel, sizeof pixel);
}

// One 8-bit channel cut to its top `length` bits and moved to `offset`. Drivers may describe
// channels the 16 bits cannot hold; such a channel contributes nothing rather than shifting
// by 32 or more, and one wider than 8 bits is widened instead of shifted by a negative count.
void fill_channel(const fb_bitfield& field, uint16_t (&table)[kChannelValues]) {
    const uint32_t offset = field.offset;
    const uint32_t length = field.length;
    const bool placed = length != 0 && offset < kPixel16Bits;
    const uint32_t widen =
        length > kChannelBits ? (length > kPixel16Bits ? kPixel16Bits : length) - kChannelBits : 0;
    const uint32_t cut = length < kChannelBits ? kChannelBits - length : 0;
    for (uint32_t value = 0; value < kChannelValues; ++value) {
        const uint32_t bits = placed ? value >> cut << widen << offset : 0;
        table[value] = static_cast<uint16_t>(bits);  // the pixel keeps its low 16 bits
    }
}

// The per-pixel loop of one depth: the depth is a template argument, so its packing is built
// into the loop instead of being called per pixel.
template <uint32_t Bits>
void convert(const bmp_image* image, int32_t columns, int32_t rows, uint8_t* dest, size_t pitch,
             const pixel_format* format) {
    for (int32_t y = 0; y < rows; ++y) {
        uint8_t* out = dest + static_cast<size_t>(y) * pitch;
        for (int32_t x = 0; x < columns; ++x) {
            pack<Bits>(out, bmp_getpixel(image, x, y), format);
            out += drawn_pixel_bytes(Bits);
        }
    }
}

// The drawn depths and their loops; null for every other depth.
pixel_convert_fn convert_for(uint32_t bits) {
    switch (bits) {
        case 32:
            return convert<32>;
        case 24:
            return convert<24>;
        case 16:
            return convert<16>;
        default:
            return nullptr;
    }
}

// Bytes of one packed pixel; 0 for the depths that are not drawn.
int32_t packed_bytes(uint32_t bits) {
    return convert_for(bits) != nullptr ? drawn_pixel_bytes(bits) : 0;
}

}  // namespace

pixel_format pixel_format_for(const fb_var_screeninfo* screen) {
    pixel_format f{};
    f.convert = convert_for(screen->bits_per_pixel);
    f.bytes_per_pixel = packed_bytes(screen->bits_per_pixel);
    if (screen->bits_per_pixel == 16) {
        fill_channel(screen->red, f.red);
        fill_channel(screen->green, f.green);
        fill_channel(screen->blue, f.blue);
    }
    return f;
}

int32_t screen_position_bytes(const fb_var_screeninfo* screen) {
    return std::max(packed_bytes(screen->bits_per_pixel), 1);
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
