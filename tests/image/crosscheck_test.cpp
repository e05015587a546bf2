// Cross-check against an independent decoder: every picture that crosscheck_make.py wrote
// (with PIL and ImageMagick, plus the public conformance pictures) is read with bmp_open and
// compared pixel by pixel with PIL's decoding.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/image/bmp_builder.h"

namespace {

struct manifest_entry {
    std::string name;
    int32_t width;
    int32_t height;
    int bits[3];  // stored widths of red, green, blue
};

std::vector<manifest_entry> read_manifest() {
    std::vector<manifest_entry> entries;
    std::ifstream in(std::string(ZELT_CROSSCHECK_DIR) + "/manifest.txt");
    manifest_entry e;
    while (in >> e.name >> e.width >> e.height >> e.bits[0] >> e.bits[1] >> e.bits[2]) {
        entries.push_back(e);
    }
    return entries;
}

std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// PIL widens a narrow channel by scaling (31 -> 255), the reader by a plain shift (31 -> 248):
// both keep the stored value in the top bits, which is what is compared; the reader's low bits
// must be zero.
bool same_colour(bmp_color ours, const uint8_t* pil_rgb, const int (&bits)[3]) {
    for (int i = 0; i < 3; ++i) {
        const uint32_t channel = (ours >> (16 - 8 * i)) & 0xFFu;
        const int drop = bits[i] >= 8 ? 0 : 8 - bits[i];
        if ((channel >> drop) != uint32_t{pil_rgb[i]} >> drop ||
            (channel & ((1u << drop) - 1)) != 0) {
            return false;
        }
    }
    return true;
}

// Pictures the reader refuses on purpose.
struct refusal {
    const char* name;
    int error;
    const char* why;
};
const refusal kRefusals[] = {
    {"suite_g_pal4rle.bmp", ENOTSUP, "RLE4 is not supported"},
    {"suite_q_pal4rlecut.bmp", ENOTSUP, "RLE4 is not supported"},
    {"suite_q_pal4rletrns.bmp", ENOTSUP, "RLE4 is not supported"},
    {"suite_g_pal8os2.bmp", EINVAL, "12-byte OS/2 information header"},
    {"suite_q_pal8os2-hs.bmp", EINVAL, "12-byte OS/2 information header"},
    {"suite_q_pal8os2-sz.bmp", EINVAL, "12-byte OS/2 information header"},
    {"suite_q_pal8os2sp.bmp", EINVAL, "12-byte OS/2 information header"},
};

// Where PIL is wrong. Its RLE8 reader mishandles the delta code: from the first delta on
// (stored row 21 of these two pictures) its rows are shifted and garbled, and the picture's
// logo disappears. The reader moves by dx columns and dy rows, leaving the skipped pixels at
// index 0, which is the picture's intended background; so only the rows below the first
// delta are compared with PIL.
struct pil_fault {
    const char* name;
    int32_t rows_compared;  // from the bottom
};
const pil_fault kPilFaults[] = {
    {"suite_q_pal8rletrns.bmp", 21},
    {"suite_q_pal8rlecut.bmp", 21},
};

TEST(CrossCheck, EveryPixelMatchesPil) {
    const std::vector<manifest_entry> entries = read_manifest();
    ASSERT_GT(entries.size(), 30u) << "no pictures in " << ZELT_CROSSCHECK_DIR;
    for (const manifest_entry& e : entries) {
        SCOPED_TRACE(e.name);
        const std::string path = std::string(ZELT_CROSSCHECK_DIR) + "/" + e.name;
        bmp_handle image(bmp_open(path.c_str()));
        const int error = errno;
        const refusal* refused = nullptr;
        for (const refusal& r : kRefusals) {
            refused = e.name == r.name ? &r : refused;
        }
        if (refused != nullptr) {
            EXPECT_FALSE(image) << "expected a refusal: " << refused->why;
            EXPECT_EQ(error, refused->error) << refused->why;
            continue;
        }
        if (!image) {
            ADD_FAILURE() << "refused: " << strerror(error);
            continue;
        }
        int32_t first_row = 0;
        for (const pil_fault& f : kPilFaults) {
            first_row = e.name == f.name ? e.height - f.rows_compared : first_row;
        }
        ASSERT_EQ(bmp_width(image.get()), e.width);
        ASSERT_EQ(bmp_height(image.get()), e.height);
        const std::vector<uint8_t> rgb = read_file(path + ".rgb");
        ASSERT_EQ(rgb.size(), size_t(3) * e.width * e.height);
        int64_t differing = 0;
        std::string first;
        for (int32_t y = first_row; y < e.height; ++y) {
            for (int32_t x = 0; x < e.width; ++x) {
                const bmp_color c = bmp_getpixel(image.get(), x, y);
                const uint8_t* p = &rgb[3 * (size_t(y) * e.width + x)];
                const bool same = same_colour(c, p, e.bits);
                if (!same && differing++ == 0) {
                    std::ostringstream s;
                    s << "(" << x << "," << y << ") ours " << std::hex << c << " PIL "
                      << (p[0] << 16 | p[1] << 8 | p[2]);
                    first = s.str();
                }
            }
        }
        EXPECT_EQ(differing, 0) << "first: " << first;
    }
}

}  // namespace
