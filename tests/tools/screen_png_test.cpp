// Screen bytes back to RGB for each screen layout, and PNG files that libpng decodes to the
// same pixels.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "check/screen_format.h"
#include "tests/tools/png_read.h"
#include "tools/screen_png.h"

namespace {

fb_var_screeninfo screen_of(const char* text) {
    fb_var_screeninfo s{};
    const char* why = "";
    EXPECT_EQ(parse_screen_format(text, &s, &why), 0) << text << ": " << why;
    return s;
}

struct layout_case {
    const char* name;
    const char* screen;  // 2 x 1 pixels
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> rgb;
};

TEST(ScreenToRgbTest, EachLayoutReadsBack) {
    const layout_case cases[] = {
        {"bgrx32",
         "2x1x32",
         {0x30, 0x20, 0x10, 0xFF, 0x01, 0x02, 0x03, 0x00},
         {0x10, 0x20, 0x30, 0x03, 0x02, 0x01}},
        {"bgr24",
         "2x1x24",
         {0x30, 0x20, 0x10, 0x01, 0x02, 0x03},
         {0x10, 0x20, 0x30, 0x03, 0x02, 0x01}},
        // 0xFC01: red 31, green 32, blue 1, widened by shifting left (no bit copying).
        {"rgb565", "2x1x16", {0x01, 0xFC, 0xFF, 0xFF}, {0xF8, 0x80, 0x08, 0xF8, 0xFC, 0xF8}},
        {"rgb555", "2x1x16:10/5,5/5,0/5", {0x00, 0x7C, 0xFF, 0x7F}, {0xF8, 0, 0, 0xF8, 0xF8, 0xF8}},
        {"bgr565", "2x1x16:0/5,5/6,11/5", {0x1F, 0x00, 0x00, 0xF8}, {0xF8, 0, 0, 0, 0, 0xF8}},
    };
    for (const layout_case& c : cases) {
        std::vector<uint8_t> rgb;
        ASSERT_TRUE(screen_to_rgb(screen_of(c.screen), c.bytes.data(), c.bytes.size(), &rgb))
            << c.name;
        EXPECT_EQ(rgb, c.rgb) << c.name;
    }
}

std::string temp_dir() {
    std::string dir = ::testing::TempDir() + "zelt_png_" + std::to_string(getpid());
    mkdir(dir.c_str(), 0755);
    return dir;
}

TEST(ScreenPngTest, PngDecodesToTheScreenPixels) {
    fb_var_screeninfo screen = screen_of("37x11x16");
    std::vector<uint8_t> bytes(37 * 11 * 2);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(i * 13 + i / 37);
    }
    std::vector<uint8_t> expected;
    ASSERT_TRUE(screen_to_rgb(screen, bytes.data(), bytes.size(), &expected));

    std::string path = temp_dir() + "/screen.png";
    const char* why = "";
    ASSERT_EQ(screen_write_png(path.c_str(), screen, bytes.data(), bytes.size(), &why), 0) << why;
    uint32_t w = 0, h = 0;
    std::vector<uint8_t> decoded;
    ASSERT_TRUE(read_png(path, &w, &h, &decoded));
    remove(path.c_str());
    EXPECT_EQ(w, 37U);
    EXPECT_EQ(h, 11U);
    EXPECT_EQ(decoded, expected);
}

}  // namespace
