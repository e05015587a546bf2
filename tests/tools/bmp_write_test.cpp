// The BMP writer: every encoding, row order and header length reads back through the program's
// own reader as the picture that was written, and the RLE8 encoder emits the codes it promises.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "image/bmplib.h"
#include "tools/bmp_write.h"

namespace {

// A picture with as many colours as `colours` allows, in runs and single pixels, so that the
// RLE8 encoder meets encoded runs, absolute runs and lone bytes; odd width for row padding.
rgb_picture test_picture(int32_t w, int32_t h, const std::vector<uint32_t>& colours) {
    rgb_picture p = rgb_picture_make(w, h, colours[0]);
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            size_t pick = (x < w / 3) ? static_cast<size_t>(y)               // a run per row
                                      : static_cast<size_t>(x * 7 + y * 3);  // changing often
            p.pixels[static_cast<size_t>(y) * w + x] = colours[pick % colours.size()];
        }
    }
    return p;
}

// Writes, reads back with bmp_open and compares every pixel.
void expect_round_trip(const rgb_picture& p, const bmp_write_options& o, const std::string& what) {
    std::string path = ::testing::TempDir() + "zelt_writer_" + std::to_string(getpid()) + ".bmp";
    const char* why = "";
    ASSERT_EQ(bmp_write(path.c_str(), p, o, &why), 0) << what << ": " << why;
    bmp_image* image = bmp_open(path.c_str());
    remove(path.c_str());
    ASSERT_NE(image, nullptr) << what << " refused by the reader";
    EXPECT_EQ(bmp_width(image), p.width) << what;
    EXPECT_EQ(bmp_height(image), p.height) << what;
    int mismatches = 0;
    for (int32_t y = 0; y < p.height && mismatches < 5; ++y) {
        for (int32_t x = 0; x < p.width && mismatches < 5; ++x) {
            uint32_t want = p.pixels[static_cast<size_t>(y) * p.width + x];
            uint32_t got = bmp_getpixel(image, x, y);
            if (got != want) {
                ++mismatches;
                ADD_FAILURE() << what << " at (" << x << ", " << y << "): " << std::hex << got
                              << " instead of " << want;
            }
        }
    }
    bmp_close(image);
}

struct encoding_case {
    bmp_encoding encoding;
    std::vector<uint32_t> colours;  // exact in the encoding
    uint32_t red_mask, green_mask, blue_mask;
};

TEST(BmpWriteTest, EveryEncodingReadsBackExactly) {
    const std::vector<uint32_t> two = {0x102030, 0xF0E0D0};
    const std::vector<uint32_t> sixteen = {
        0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0x123456, 0x654321, 0xABCDEF,
        0x808080, 0x010203, 0xFEDCBA, 0x7F7F00, 0x007F7F, 0x7F007F, 0x202020, 0xE0E0E0};
    std::vector<uint32_t> many;
    for (uint32_t i = 0; i < 200; ++i) {
        many.push_back(i * 0x010305 + 0x0A0000);
    }
    const std::vector<uint32_t> fives = {0xF8F8F8, 0x000000, 0xF80000, 0x08F808, 0x1020F8};
    const std::vector<uint32_t> five_six_five = {0xF8FCF8, 0x000000, 0xF80000, 0x0804F8};
    const encoding_case cases[] = {
        {bmp_encoding::palette1, two, 0, 0, 0},
        {bmp_encoding::palette4, sixteen, 0, 0, 0},
        {bmp_encoding::palette8, many, 0, 0, 0},
        {bmp_encoding::rle8, many, 0, 0, 0},
        {bmp_encoding::rgb16, fives, 0, 0, 0},
        {bmp_encoding::bitfields16, five_six_five, 0, 0, 0},
        {bmp_encoding::bitfields16, fives, 0x7C00, 0x03E0, 0x001F},
        {bmp_encoding::rgb24, many, 0, 0, 0},
        {bmp_encoding::rgb32, many, 0, 0, 0},
        {bmp_encoding::bitfields32, many, 0, 0, 0},
        // Channels in an unusual order and position: blue on top.
        {bmp_encoding::bitfields32, many, 0x0000FF00, 0x00FF0000, 0xFF000000},
    };
    for (const encoding_case& c : cases) {
        for (int32_t width : {1, 13, 33}) {
            rgb_picture p = test_picture(width, 9, c.colours);
            for (uint32_t header : {40U, 108U, 124U}) {
                for (bool top_down : {false, true}) {
                    if (top_down && c.encoding == bmp_encoding::rle8) {
                        continue;
                    }
                    bmp_write_options o;
                    o.encoding = c.encoding;
                    o.top_down = top_down;
                    o.header_size = header;
                    o.red_mask = c.red_mask;
                    o.green_mask = c.green_mask;
                    o.blue_mask = c.blue_mask;
                    expect_round_trip(p, o,
                                      std::string(bmp_encoding_name(c.encoding)) + " width " +
                                          std::to_string(width) + " header " +
                                          std::to_string(header) +
                                          (top_down ? " top-down" : " bottom-up"));
                }
            }
        }
    }
}

// Bytes of the pixel data of a written file (from its data offset).
std::vector<uint8_t> pixel_data(const std::vector<uint8_t>& file) {
    uint32_t offset =
        file[10] | file[11] << 8 | file[12] << 16 | static_cast<uint32_t>(file[13]) << 24;
    return std::vector<uint8_t>(file.begin() + offset, file.end());
}

TEST(BmpWriteTest, Rle8EndsEveryRowAndThePicture) {
    // Indices follow first appearance: A=0, B=1, C=2, D=3.
    const uint32_t A = 0x111111, B = 0x222222, C = 0x333333, D = 0x444444;
    const struct {
        const char* name;
        rgb_picture picture;
        std::vector<uint8_t> data;
    } cases[] = {
        {"run_then_absolute",
         rgb_picture{6, 1, {A, A, A, B, C, D}},
         {3, 0, 0, 3, 1, 2, 3, 0, 0, 0, 0, 1}},
        {"lone_bytes_as_runs", rgb_picture{3, 1, {A, B, B}}, {1, 0, 2, 1, 0, 0, 0, 1}},
        {"even_absolute_no_pad", rgb_picture{4, 1, {A, B, C, D}}, {0, 4, 0, 1, 2, 3, 0, 0, 0, 1}},
        // Bottom row first: row 1 (B B) is stored before row 0 (A A).
        {"two_rows_bottom_first", rgb_picture{2, 2, {A, A, B, B}}, {2, 1, 0, 0, 2, 0, 0, 0, 0, 1}},
    };
    for (const auto& c : cases) {
        bmp_write_options o;
        o.encoding = bmp_encoding::rle8;
        std::vector<uint8_t> file = bmp_encode(c.picture, o, nullptr);
        ASSERT_FALSE(file.empty()) << c.name;
        EXPECT_EQ(pixel_data(file), c.data) << c.name;
    }
    // Runs longer than 255 are split.
    bmp_write_options o;
    o.encoding = bmp_encoding::rle8;
    std::vector<uint8_t> file = bmp_encode(rgb_picture_make(300, 1, A), o, nullptr);
    EXPECT_EQ(pixel_data(file), (std::vector<uint8_t>{255, 0, 45, 0, 0, 0, 0, 1}));
}

TEST(BmpWriteTest, RefusesWhatItCannotWriteExactly) {
    const struct {
        const char* name;
        rgb_picture picture;
        bmp_write_options options;
    } cases[] = {
        {"three_colours_in_1_bit", rgb_picture{3, 1, {1, 2, 3}}, {bmp_encoding::palette1}},
        {"rle8_top_down", rgb_picture{1, 1, {0}}, {bmp_encoding::rle8, true}},
        {"overlapping_masks",
         rgb_picture{1, 1, {0}},
         {bmp_encoding::bitfields16, false, 40, 0xF800, 0x0FE0, 0x001F}},
        {"pixels_short_of_size", rgb_picture{2, 2, {0, 0, 0}}, {}},
    };
    for (const auto& c : cases) {
        const char* why = nullptr;
        EXPECT_TRUE(bmp_encode(c.picture, c.options, &why).empty()) << c.name;
        EXPECT_NE(why, nullptr) << c.name;
    }
}

}  // namespace
