// Per-depth pixel lookups and the channel description of 16- and 32-bit pictures. bmp_open has
// checked every size, so a lookup is a few loads and shifts with no tests.
#include "image/bmp_image.h"

namespace {

// Start of the stored row that holds picture row y (rows are stored bottom row first).
inline const uint8_t* stored_row(const bmp_image* image, int32_t y) {
    return image->pixels +
           static_cast<size_t>(image->row_stride) * static_cast<size_t>(image->height - 1 - y);
}

// The top 8 bits of a channel: a narrower channel lands in the top of its byte (a 5-bit 31
// becomes 248, no bit repetition), a wider one keeps its 8 most significant bits. An empty mask
// has shift 32 and width 0 and gives 0; 64-bit arithmetic keeps every shift defined.
inline uint32_t channel(uint32_t value, uint32_t mask, int32_t shift, int32_t bits) {
    return static_cast<uint32_t>(((uint64_t{value & mask} >> shift) << 8) >> bits);
}

inline bmp_color from_masks(const bmp_image* image, uint32_t value) {
    const uint32_t* masks = image->table;
    return channel(value, masks[0], image->red_shift, image->red_bits) << 16 |
           channel(value, masks[1], image->green_shift, image->green_bits) << 8 |
           channel(value, masks[2], image->blue_shift, image->blue_bits);
}

// Zero bits below the lowest set bit (32 for an empty mask).
int32_t low_zero_bits(uint32_t mask) {
    return mask == 0 ? 32 : __builtin_ctz(mask);
}

// Bit positions from the lowest to the highest set bit, both included (0 for an empty mask).
int32_t mask_width(uint32_t mask) {
    return mask == 0 ? 0 : 32 - __builtin_clz(mask) - __builtin_ctz(mask);
}

}  // namespace

bmp_color getpixel_1bpp(const bmp_image* image, int32_t x, int32_t y) {
    const uint8_t byte = stored_row(image, y)[x >> 3];
    return image->table[(byte >> (7 - (x & 7))) & 1u];
}

bmp_color getpixel_4bpp(const bmp_image* image, int32_t x, int32_t y) {
    const uint8_t byte = stored_row(image, y)[x >> 1];
    return image->table[(x & 1) != 0 ? byte & 0x0Fu : byte >> 4];
}

bmp_color getpixel_8bpp(const bmp_image* image, int32_t x, int32_t y) {
    return image->table[stored_row(image, y)[x]];
}

bmp_color getpixel_16bpp(const bmp_image* image, int32_t x, int32_t y) {
    const uint8_t* p = stored_row(image, y) + 2 * static_cast<size_t>(x);
    return from_masks(image, uint32_t{p[0]} | uint32_t{p[1]} << 8);
}

bmp_color getpixel_24bpp(const bmp_image* image, int32_t x, int32_t y) {
    const uint8_t* p = stored_row(image, y) + 3 * static_cast<size_t>(x);
    return uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

bmp_color getpixel_32bpp(const bmp_image* image, int32_t x, int32_t y) {
    const uint8_t* p = stored_row(image, y) + 4 * static_cast<size_t>(x);
    return from_masks(
        image, uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24);
}

bmp_lookup lookup_for_depth(int32_t bits) {
    switch (bits) {
        case 1:
            return getpixel_1bpp;
        case 4:
            return getpixel_4bpp;
        case 8:
            return getpixel_8bpp;
        case 16:
            return getpixel_16bpp;
        case 24:
            return getpixel_24bpp;
        case 32:
            return getpixel_32bpp;
        default:
            return nullptr;
    }
}

void calculate_boffset(bmp_image* image) {
    const uint32_t* masks = image->table;
    image->red_shift = low_zero_bits(masks[0]);
    image->red_bits = mask_width(masks[0]);
    image->green_shift = low_zero_bits(masks[1]);
    image->green_bits = mask_width(masks[1]);
    image->blue_shift = low_zero_bits(masks[2]);
    image->blue_bits = mask_width(masks[2]);
}
