#include "tools/encode_choice.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <utility>

namespace {

constexpr size_t kPaletteLimit = 256;

bool is_565(const fb_var_screeninfo& s) {
    return s.bits_per_pixel == 16 && s.red.offset == 11 && s.red.length == 5 &&
           s.green.offset == 5 && s.green.length == 6 && s.blue.offset == 0 && s.blue.length == 5;
}

// The same picture with every colour replaced by the first colour that gives the same screen
// pixel, so colours the screen cannot tell apart take one palette entry.
rgb_picture merge_screen_colors(const rgb_picture& picture, const std::vector<uint32_t>& pixels) {
    std::unordered_map<uint32_t, uint32_t> first;
    rgb_picture merged = picture;
    for (size_t i = 0; i < pixels.size(); ++i) {
        merged.pixels[i] = first.emplace(pixels[i], picture.pixels[i]).first->second;
    }
    return merged;
}

// The palette encodings and how many colours each holds; on equal sizes the later one is kept.
struct palette_encoding {
    bmp_encoding encoding;
    size_t capacity;
};
constexpr palette_encoding kPaletteEncodings[] = {{bmp_encoding::rle8, kPaletteLimit},
                                                  {bmp_encoding::palette8, kPaletteLimit},
                                                  {bmp_encoding::palette4, 16},
                                                  {bmp_encoding::palette1, 2}};

}  // namespace

size_t count_distinct(std::vector<uint32_t> values) {
    std::sort(values.begin(), values.end());
    return static_cast<size_t>(std::unique(values.begin(), values.end()) - values.begin());
}

std::vector<uint32_t> screen_pixels(const std::vector<uint8_t>& bytes, size_t bytes_per_pixel) {
    std::vector<uint32_t> pixels(bytes.size() / bytes_per_pixel, 0);
    for (size_t i = 0; i < pixels.size(); ++i) {
        memcpy(&pixels[i], bytes.data() + i * bytes_per_pixel, bytes_per_pixel);
    }
    return pixels;
}

encoded_picture smallest_exact(const rgb_picture& picture, std::vector<uint8_t> rgb24,
                               size_t screen_colors, const std::vector<uint32_t>& pixels,
                               const fb_var_screeninfo& screen) {
    encoded_picture best{bmp_encoding::rgb24, std::move(rgb24)};
    auto consider = [&best](const rgb_picture& p, bmp_encoding encoding) {
        bmp_write_options options;
        options.encoding = encoding;
        std::vector<uint8_t> file = bmp_encode(p, options, nullptr);
        if (!file.empty() && file.size() <= best.file.size()) {
            best = {encoding, std::move(file)};
        }
    };
    if (is_565(screen)) {
        consider(picture, bmp_encoding::bitfields16);
    }
    if (screen_colors <= kPaletteLimit) {
        rgb_picture merged = merge_screen_colors(picture, pixels);
        for (const palette_encoding& p : kPaletteEncodings) {
            if (screen_colors <= p.capacity) {
                consider(merged, p.encoding);
            }
        }
    }
    return best;
}
