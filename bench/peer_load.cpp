// The peer's loading: stb_image decodes to RGB bytes, then one loop packs them for the screen,
// the packing picked once by depth, as a developer reaching for stb_image would write it.
#include <stb/stb_image.h>

#include <cstdlib>

#include "bench/bench_cases.h"
#include "screen/screen.h"

namespace {

constexpr int kRgbChannels = 3;

void pack_rgb_32(const uint8_t* rgb, size_t count, uint8_t* dest) {
    for (size_t i = 0; i < count; ++i, rgb += 3, dest += 4) {
        dest[0] = rgb[2];
        dest[1] = rgb[1];
        dest[2] = rgb[0];
        dest[3] = 0xFF;
    }
}

void pack_rgb_24(const uint8_t* rgb, size_t count, uint8_t* dest) {
    for (size_t i = 0; i < count; ++i, rgb += 3, dest += 3) {
        dest[0] = rgb[2];
        dest[1] = rgb[1];
        dest[2] = rgb[0];
    }
}

void pack_rgb_16(const uint8_t* rgb, size_t count, uint8_t* dest) {
    const uint32_t rs = 8 - fbvar.red.length, gs = 8 - fbvar.green.length,
                   bs = 8 - fbvar.blue.length;
    const uint32_t ro = fbvar.red.offset, go = fbvar.green.offset, bo = fbvar.blue.offset;
    for (size_t i = 0; i < count; ++i, rgb += 3, dest += 2) {
        const uint32_t v = uint32_t{rgb[0]} >> rs << ro | uint32_t{rgb[1]} >> gs << go |
                           uint32_t{rgb[2]} >> bs << bo;
        dest[0] = static_cast<uint8_t>(v);
        dest[1] = static_cast<uint8_t>(v >> 8);
    }
}

}  // namespace

bool peer_prepare(const char* path, prepared_bitmap* out) {
    int width = 0;
    int height = 0;
    int channels = 0;
    uint8_t* rgb = stbi_load(path, &width, &height, &channels, kRgbChannels);
    if (rgb == nullptr) {
        return false;
    }
    const int32_t bytes_per_pixel = static_cast<int32_t>(fbvar.bits_per_pixel / 8);
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    auto* pixels = static_cast<uint8_t*>(malloc(count * static_cast<size_t>(bytes_per_pixel)));
    if (pixels == nullptr) {
        stbi_image_free(rgb);
        return false;
    }
    switch (fbvar.bits_per_pixel) {
        case 32:
            pack_rgb_32(rgb, count, pixels);
            break;
        case 24:
            pack_rgb_24(rgb, count, pixels);
            break;
        default:
            pack_rgb_16(rgb, count, pixels);
            break;
    }
    stbi_image_free(rgb);
    *out = prepared_bitmap{width, height, width * bytes_per_pixel, pixels};
    return true;
}
