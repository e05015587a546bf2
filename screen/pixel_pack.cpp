#include "screen/pixel_pack.h"

#include <cstring>
#include <limits>

namespace {

constexpr uint32_t kOpaqueAlpha = 0xFF;
constexpr uint32_t kChannelBits = 8;
constexpr uint32_t kPixel16Bits = 16;
constexpr uint32_t kBitsPerByte = 8;

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

// The usual places of the channels at 24 and 32 bits: a colour 0x00RRGGBB as it is.
constexpr fb_bitfield kUsualRed{16, 8, 0};
constexpr fb_bitfield kUsualGreen{8, 8, 0};
constexpr fb_bitfield kUsualBlue{0, 8, 0};

// One pixel packed into `Bytes` bytes at `dest`, the low bytes of a little-endian value.
using pack_fn = void (*)(uint8_t* dest, bmp_color color, const pixel_format* f);

// The usual order, b, g, r and at 32 bits 0xFF: the colour itself with the top byte set.
template <uint32_t Bytes>
inline void pack_usual(uint8_t* dest, bmp_color color, const pixel_format*) {
    const uint32_t pixel = color | kOpaqueAlpha << 24;
    memcpy(dest, &pixel, Bytes);
}

// Each channel at its field, through the tables.
template <uint32_t Bytes>
inline void pack_fields(uint8_t* dest, bmp_color color, const pixel_format* f) {
    const uint32_t pixel =
        f->fill | f->red[red_of(color)] | f->green[green_of(color)] | f->blue[blue_of(color)];
    memcpy(dest, &pixel, Bytes);
}

// The bits of a pixel `bits` wide.
constexpr uint32_t pixel_mask(uint32_t bits) {
    return bits >= 32 ? ~uint32_t{0} : (uint32_t{1} << bits) - 1;
}

// One 8-bit channel cut to its top `length` bits and moved to `offset`, within a pixel `bits`
// wide. Drivers may describe channels the pixel cannot hold; such a channel contributes
// nothing rather than shifting by 32 or more, and one wider than 8 bits is widened instead of
// shifted by a negative count.
void fill_channel(const fb_bitfield& field, uint32_t bits, uint32_t (&table)[kChannelValues]) {
    const uint32_t offset = field.offset;
    const uint32_t length = field.length;
    const bool placed = length != 0 && offset < bits;
    const uint32_t widen =
        length > kChannelBits ? (length > bits ? bits : length) - kChannelBits : 0;
    const uint32_t cut = length < kChannelBits ? kChannelBits - length : 0;
    for (uint32_t value = 0; value < kChannelValues; ++value) {
        table[value] = placed ? (value >> cut << widen << offset) & pixel_mask(bits) : 0;
    }
}

// The bits a field takes in a 64-bit value (a driver's numbers can be anything).
uint64_t field_bits(const fb_bitfield& f) {
    return f.length >= 64 || f.offset >= 64 ? ~uint64_t{0}
                                            : ((uint64_t{1} << f.length) - 1) << f.offset;
}

bool same_field(const fb_bitfield& a, const fb_bitfield& b) {
    return a.offset == b.offset && a.length == b.length;
}

bool usual_fields(const fb_var_screeninfo& s) {
    return same_field(s.red, kUsualRed) && same_field(s.green, kUsualGreen) &&
           same_field(s.blue, kUsualBlue);
}

// The per-pixel loop: the packing is a template argument, so it is built into the loop instead
// of being called or chosen per pixel.
template <uint32_t Bytes, pack_fn Pack>
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

// The loop for a screen of `bits` bits, given whether its channel fields are followed; null for
// the depths that are not drawn.
pixel_convert_fn convert_for(uint32_t bits, bool follow_fields) {
    switch (bits) {
        case 32:
            return follow_fields ? convert<4, pack_fields<4>> : convert<4, pack_usual<4>>;
        case 24:
            return follow_fields ? convert<3, pack_fields<3>> : convert<3, pack_usual<3>>;
        case 16:
            return convert<2, pack_fields<2>>;
        default:
            return nullptr;
    }
}

}  // namespace

pixel_format pixel_format_for(const fb_var_screeninfo* screen) {
    const uint32_t bits = screen->bits_per_pixel;
    // 16-bit screens always follow their fields; deeper ones when the fields fit and differ
    // from the usual order, which the plain copy of the colour already gives.
    const bool follow =
        bits == kPixel16Bits || (channel_fields_fit(*screen) && !usual_fields(*screen));
    pixel_format f{};
    f.convert = convert_for(bits, follow);
    f.bytes_per_pixel = drawn_pixel_bytes(bits);
    if (follow && f.convert != nullptr) {
        fill_channel(screen->red, bits, f.red);
        fill_channel(screen->green, bits, f.green);
        fill_channel(screen->blue, bits, f.blue);
        // Every bit no channel takes is set; 16-bit pixels set none.
        const auto taken = static_cast<uint32_t>(
            field_bits(screen->red) | field_bits(screen->green) | field_bits(screen->blue));
        f.fill = bits == kPixel16Bits ? 0 : pixel_mask(bits) & ~taken;
    }
    return f;
}

bool channel_fields_fit(const fb_var_screeninfo& screen) {
    const fb_bitfield* fields[3] = {&screen.red, &screen.green, &screen.blue};
    uint64_t taken = 0;
    for (const fb_bitfield* f : fields) {
        const uint64_t mine = field_bits(*f);
        if (f->length == 0 || uint64_t{f->offset} + f->length > screen.bits_per_pixel ||
            (taken & mine) != 0) {
            return false;
        }
        taken |= mine;
    }
    return true;
}

int32_t drawn_pixel_bytes(uint32_t bits) {
    switch (bits) {
        case 32:
        case 24:
        case kPixel16Bits:
            return static_cast<int32_t>(bits / kBitsPerByte);
        default:
            return 0;
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
