// Benchmark pictures. Their content is shaped like a splash screen: the palette pictures are
// flat bands of colour 24 pixels wide, stepped every 96 rows (so RLE8 meets runs of a realistic
// length), and the full-colour ones are smooth gradients with a fine pattern in blue, so no
// encoding is flattered by a single colour.
#include "bench/bench_pictures.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int32_t kBandWidth = 24;
constexpr int32_t kBandHeight = 96;

struct encoding_case {
    bmp_encoding encoding;
    uint32_t colors;  // palette size the picture may use; 0 for full colour
    bool peer_reads;  // the peer refuses run-length encoded BMPs
};

constexpr encoding_case kEncodings[] = {
    {bmp_encoding::palette1, 2, true},    {bmp_encoding::palette4, 16, true},
    {bmp_encoding::palette8, 256, true},  {bmp_encoding::rle8, 256, false},
    {bmp_encoding::bitfields16, 0, true}, {bmp_encoding::rgb24, 0, true},
    {bmp_encoding::rgb32, 0, true},
};

// Distinct colours for every index below 256: the red byte alone is a bijection of the index.
uint32_t palette_color(uint32_t index) {
    return (index * 67 & 0xFF) << 16 | ((index * 131 + 40) & 0xFF) << 8 |
           ((index * 29 + 90) & 0xFF);
}

rgb_picture make_content(int32_t width, int32_t height, uint32_t colors) {
    rgb_picture p = rgb_picture_make(width, height, 0);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            uint32_t color = 0;
            if (colors != 0) {
                const auto band = static_cast<uint32_t>(x / kBandWidth + (y / kBandHeight) * 5);
                color = palette_color(band % colors);
            } else {
                const auto r = static_cast<uint32_t>(x * 255 / width);
                const auto g = static_cast<uint32_t>(y * 255 / height);
                const auto b = static_cast<uint32_t>((x ^ y) & 0xFF);
                color = r << 16 | g << 8 | b;
            }
            p.pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] =
                color;
        }
    }
    return p;
}

}  // namespace

bool bench_pictures_make(int32_t width, int32_t height, std::vector<bench_picture>* out) {
    char folder[] = "/tmp/zelt-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        perror("mkdtemp");
        return false;
    }
    out->clear();
    for (const encoding_case& e : kEncodings) {
        bench_picture picture{e.encoding, bmp_encoding_name(e.encoding), e.peer_reads, "", 0};
        picture.path = std::string(folder) + "/" + picture.name + ".bmp";
        bmp_write_options options;
        options.encoding = e.encoding;
        const char* why = nullptr;
        const std::vector<uint8_t> file =
            bmp_encode(make_content(width, height, e.colors), options, &why);
        FILE* f = file.empty() ? nullptr : fopen(picture.path.c_str(), "wb");
        bool written = f != nullptr && fwrite(file.data(), 1, file.size(), f) == file.size();
        written = f != nullptr && fclose(f) == 0 && written;
        if (!written) {
            fprintf(stderr, "%s: cannot write: %s\n", picture.path.c_str(),
                    why != nullptr ? why : "write failed");
            unlink(picture.path.c_str());
            bench_pictures_remove(*out);
            out->clear();
            rmdir(folder);
            return false;
        }
        picture.file_bytes = static_cast<int64_t>(file.size());
        out->push_back(picture);
    }
    return true;
}

void bench_pictures_remove(const std::vector<bench_picture>& pictures) {
    std::string folder;
    for (const bench_picture& p : pictures) {
        unlink(p.path.c_str());
        folder = p.path.substr(0, p.path.rfind('/'));
    }
    if (!folder.empty()) {
        rmdir(folder.c_str());
    }
}
