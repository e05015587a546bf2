#include "tests/player/media_folder.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "image/bmplib.h"

namespace fs = std::filesystem;

const char* const kMediaFiles[7] = {"zelttitle.bmp", "zeltani00.bmp", "zeltani01.bmp",
                                    "zeltani02.bmp", "zeltani03.bmp", "zeltani04.bmp",
                                    "zeltani05.bmp"};

namespace {

// Every channel varies across the picture, in bits a 5- or 6-bit channel keeps and in bits it
// drops, so a wrong shift, channel order or byte order shows.
rgb_picture gradient(int32_t w, int32_t h, uint32_t seed) {
    rgb_picture p = rgb_picture_make(w, h, 0);
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const uint32_t r = (static_cast<uint32_t>(x) * 37 + seed * 11) & 0xFF;
            const uint32_t g = (static_cast<uint32_t>(y) * 53 + seed * 29) & 0xFF;
            const uint32_t b = (static_cast<uint32_t>(x * y) * 7 + seed * 3 + 1) & 0xFF;
            p.pixels[static_cast<size_t>(y * w + x)] = r << 16 | g << 8 | b;
        }
    }
    return p;
}

// At most `colours` distinct colours, for the palette encodings.
rgb_picture few_colours(int32_t w, int32_t h, uint32_t seed, uint32_t colours) {
    rgb_picture p = rgb_picture_make(w, h, 0);
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const uint32_t k = (static_cast<uint32_t>(x + 3 * y) + seed) % colours;
            p.pixels[static_cast<size_t>(y * w + x)] =
                ((k * 97 + seed) & 0xFF) << 16 | ((k * 61) & 0xFF) << 8 | ((k * 23 + 5) & 0xFF);
        }
    }
    return p;
}

bmp_write_options encoded(bmp_encoding encoding, bool top_down = false) {
    bmp_write_options o;
    o.encoding = encoding;
    o.top_down = top_down;
    return o;
}

}  // namespace

std::vector<media_picture> standard_media() {
    return {
        {gradient(12, 60, 1), encoded(bmp_encoding::rgb24)},
        {few_colours(20, 8, 2, 200), encoded(bmp_encoding::palette8)},
        {few_colours(5, 3, 3, 40), encoded(bmp_encoding::rle8)},
        {few_colours(9, 30, 4, 16), encoded(bmp_encoding::palette4, true)},
        {gradient(7, 4, 5), encoded(bmp_encoding::bitfields16)},
        {gradient(3, 2, 6), encoded(bmp_encoding::rgb32)},
        {few_colours(14, 10, 7, 2), encoded(bmp_encoding::palette1)},
    };
}

std::string make_media_folder(const std::vector<media_picture>& pictures) {
    std::string dir = (fs::temp_directory_path() / "zelt-media-XXXXXX").string();
    if (mkdtemp(dir.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp failed";
        return dir;
    }
    for (size_t i = 0; i < pictures.size() && i < 7; ++i) {
        const std::string path = dir + "/" + kMediaFiles[i];
        const char* why = "";
        if (bmp_write(path.c_str(), pictures[i].picture, pictures[i].options, &why) != 0) {
            ADD_FAILURE() << "writing " << path << ": " << why;
        }
    }
    return dir;
}

void remove_media_folder(const std::string& dir) {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
}

void replace_media_file(const std::string& dir, int index, const std::vector<uint8_t>& bytes,
                        bool remove_file) {
    const fs::path path = fs::path(dir) / kMediaFiles[index];
    if (remove_file) {
        fs::remove(path);
        return;
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

rgb_picture decode_picture(const std::string& path) {
    bmp_image* image = bmp_open(path.c_str());
    if (image == nullptr) {
        ADD_FAILURE() << "the reader cannot open " << path;
        return rgb_picture{0, 0, {}};
    }
    rgb_picture p = rgb_picture_make(bmp_width(image), bmp_height(image), 0);
    for (int32_t y = 0; y < p.height; ++y) {
        for (int32_t x = 0; x < p.width; ++x) {
            p.pixels[static_cast<size_t>(y * p.width + x)] = bmp_getpixel(image, x, y);
        }
    }
    bmp_close(image);
    return p;
}
