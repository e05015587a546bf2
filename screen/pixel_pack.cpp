#include "screen/pixel_pack.h"

#include <cstring>
#include <limits>

namespace {

constexpr uint32_t kOpaqueAlpha = 0xFF;
constexpr uint32_t kChannelBits = 8;
constexpr uint32_t kPixel16Bits = 16;

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

inline void pack_32(uint8_t* dest, bmp_color color, const pixel_format*) {
    const uint32_t pixel = color | kOpaqueAlpha << 24;
    memcpy(dest, &pixel, sizeof pixel);
}

inline void pack_24(uint8_t* dest, bmp_color color, const pixel_format*) {
    memcpy(dest, &color, 3);  // b, g, r
}

inline void pack_16(uint8_t* dest, bmp_color color, const pixel_format* f) {
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

// The per-pixel loop of one depth: its packing is a template argument, so it is built into
// the loop instead of being called per pixel.
template <void (*Pack)(uint8_t*, bmp_color, const pixel_format*), int32_t Bytes>
void convert(const bmp_image* image, int32_t columns, int32_t rows, uint8_t* dest, size_t pitch,
             const pixel_format* format) {
    for (int32_t y = 0; y < rows; ++y) {
        uint8_t* out = dest + static_cast<size_t>(y) * pitch;
        for (int32_t x = 0; x < columns; ++x) {
            Pack(out, bmp_getpixel(image, x, y), format);
            out += Bytes;
        }
    }
}

}  // namespace

pixel_format pixel_format_for(const fb_var_screeninfo* screen) {
    pixel_format f{};
    switch (screen->bits_per_pixel) {
        case 32:
            f.bytes_per_pixel = 4;
            f.convert = convert<pack_32, 4>;
            break;
        case 24:
            f.bytes_per_pixel = 3;
            f.convert = convert<pack_24, 3>;
            break;
        case 16:
            f.bytes_per_pixel = 2;
            f.convert = convert<pack_16, 2>;
            fill_channel(screen->red, f.red);
            fill_channel(screen->green, f.green);
            fill_channel(screen->blue, f.blue);
            break;
        default:
            break;
    }
    return f;
}

int32_t screen_position_bytes(const fb_var_screeninfo* screen) {
    switch (screen->bits_per_pixel) {
        case 32:
            return 4;
        case 24:
            return 3;
        case 16:
            return 2;
        default:
            return 1;
    }
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
