// Reading of the designers' PNG files for `zelt-assets make`: every colour type, bit depth and
// interlacing libpng reads, turned into 8-bit red, green, blue and alpha.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A picture with transparency: `width` x `height` pixels of 4 bytes (red, green, blue, alpha),
// top row first, no gaps.
struct rgba_picture {
    int32_t width;
    int32_t height;
    std::vector<uint8_t> rgba;
};

// Largest width or height read, and largest number of pixels: what the BMP reader takes.
constexpr int32_t kPngMaxSide = 65535;
constexpr int64_t kPngMaxPixels = int64_t{64} << 20;

// Reads the PNG at `path`. Palette and grey pictures are expanded to RGB, transparency chunks
// become alpha, pictures without alpha get 255, and 16-bit channels keep their high byte; no
// gamma correction is applied. Returns true, or false with a one-line reason in `*why`.
bool png_load(const std::string& path, rgba_picture* out, std::string* why);
