// The choice of BMP encoding for `zelt-assets make`: of the encodings that show a picture
// exactly as its source on a screen, the one with the smallest file.
#pragma once

#include <linux/fb.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/bmp_write.h"

struct encoded_picture {
    bmp_encoding encoding;
    std::vector<uint8_t> file;
};

// Number of different values in `values`.
size_t count_distinct(std::vector<uint32_t> values);

// The screen pixels of a picture converted for a screen (`bytes`, as prepare_bitmap leaves
// them, `bytes_per_pixel` each), one value per pixel.
std::vector<uint32_t> screen_pixels(const std::vector<uint8_t>& bytes, size_t bytes_per_pixel);

// Encodes `picture` in every encoding that shows it exactly on `screen` and returns the
// smallest file: a palette encoding (1-, 4-, 8-bit or RLE8) when `screen_colors`, the number of
// colours the screen tells apart (counted from `pixels`, its screen pixels), is at most 256,
// colours that pack alike being merged into one entry; 16-bit 5-6-5 bit fields on a 5-6-5
// screen; or `rgb24`, the picture's 24-bit file, exact on every screen. On equal sizes the
// palette encoding of fewest bits wins.
encoded_picture smallest_exact(const rgb_picture& picture, std::vector<uint8_t> rgb24,
                               size_t screen_colors, const std::vector<uint32_t>& pixels,
                               const fb_var_screeninfo& screen);
