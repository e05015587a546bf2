// Conversion into the screen's pixel format: the packing for each screen depth, row layout,
// and the failure paths.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "screen/bitmap.h"
#include "screen/pixel_pack.h"
#include "screen/screen.h"
#include "tests/screen/picture_file.h"
#include "tests/support/address_cap.h"

namespace {

// 3 x 2: white, red, (ff,80,08) / black, green, blue.
rgb_picture sample_3x2() {
    return rgb_picture{3, 2, {0xFFFFFF, 0xFF0000, 0xFF8008, 0x000000, 0x00FF00, 0x0000FF}};
}

struct packing_case {
    const char* name;
    uint32_t bpp;
    const char* channels;  // 16-bit layouts only
    int32_t row_bytes;
    std::vector<uint8_t> bytes;  // the whole converted buffer
};

class PackingTest : public ::testing::TestWithParam<packing_case> {
protected:
    void TearDown() override { fbvar = fb_var_screeninfo{}; }
};

TEST_P(PackingTest, ConvertsEveryPixelTopRowFirst) {
    const packing_case& c = GetParam();
    fbvar = test_screen(720, 1280, c.bpp, c.channels);
    bmp_image* image = open_written(sample_3x2(), bmp_write_options{});
    prepared_bitmap out{};
    ASSERT_EQ(prepare_bitmap(image, &out), 0);
    bmp_close(image);
    EXPECT_EQ(out.width, 3);
    EXPECT_EQ(out.height, 2);
    ASSERT_EQ(out.row_bytes, c.row_bytes);
    ASSERT_NE(out.pixels, nullptr);
    std::vector<uint8_t> got(out.pixels, out.pixels + c.bytes.size());
    EXPECT_EQ(got, c.bytes);
    free(out.pixels);
}

INSTANTIATE_TEST_SUITE_P(
    ScreenDepths, PackingTest,
    ::testing::Values(
        packing_case{"bgrx32", 32, nullptr, 12, {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF,
                                                 0x08, 0x80, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0xFF,
                                                 0x00, 0xFF, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0xFF}},
        packing_case{"bgr24",
                     24,
                     nullptr,
                     9,
                     {0xFF, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0x08, 0x80, 0xFF, 0x00, 0x00, 0x00, 0x00,
                      0xFF, 0x00, 0xFF, 0x00, 0x00}},
        // (31 << 11) | (32 << 5) | 1 = 0xFC01 for (ff, 80, 08); white all ones, red top five.
        packing_case{"rgb565",
                     16,
                     "11/5,5/6,0/5",
                     6,
                     {0xFF, 0xFF, 0x00, 0xF8, 0x01, 0xFC, 0x00, 0x00, 0xE0, 0x07, 0x1F, 0x00}},
        packing_case{"bgr565",
                     16,
                     "0/5,5/6,11/5",
                     6,
                     {0xFF, 0xFF, 0x1F, 0x00, 0x1F, 0x0C, 0x00, 0x00, 0xE0, 0x07, 0x00, 0xF8}},
        // A channel wider than 8 bits is widened (green 10 bits: value << 2); one with no
        // bits gives nothing.
        packing_case{"green_wider_than_8_bits",
                     16,
                     "11/5,0/10,0/0",
                     6,
                     {0xFC, 0xFB, 0x00, 0xF8, 0x00, 0xFA, 0x00, 0x00, 0xFC, 0x03, 0x00, 0x00}},
        // A channel the driver places beyond 16 bits contributes nothing (no shift by >= 32).
        packing_case{"rgb565_red_beyond_16_bits",
                     16,
                     "16/5,5/6,0/5",
                     6,
                     {0xFF, 0x07, 0x00, 0x00, 0x01, 0x04, 0x00, 0x00, 0xE0, 0x07, 0x1F, 0x00}},
        // A channel wider than 8 bits is widened (blue ff in 12 bits is ff0), not shifted by a
        // negative count; channels of no bits contribute nothing.
        packing_case{"blue_only_12_bits",
                     16,
                     "0/0,0/0,0/12",
                     6,
                     {0xF0, 0x0F, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x0F}}),
    [](const ::testing::TestParamInfo<packing_case>& info) { return info.param.name; });

class ScreenStateTest : public ::testing::Test {
protected:
    void TearDown() override {
        fbvar = fb_var_screeninfo{};
        fbmem = nullptr;
        buffersize = 0;
    }
};

using PrepareTest = ScreenStateTest;

TEST_F(PrepareTest, UndrawnDepthWritesNothingAndLeavesRowBytesZero) {
    for (uint32_t bpp : {8U, 1U, 15U, 0U}) {
        fbvar = test_screen(16, 16, bpp == 0 ? 32 : bpp);
        fbvar.bits_per_pixel = bpp;
        bmp_image* image = open_written(sample_3x2(), bmp_write_options{});
        prepared_bitmap out{};
        EXPECT_EQ(prepare_bitmap(image, &out), 0) << bpp;
        bmp_close(image);
        EXPECT_EQ(out.row_bytes, 0) << bpp;
        EXPECT_EQ(out.pixels, nullptr) << bpp;

        // Drawing such a record on that screen copies nothing.
        std::vector<uint8_t> screen(256, 0xAB);
        fbmem = screen.data();
        buffersize = static_cast<int>(screen.size());
        screen_layout_for(fbvar, nullptr, &fblayout);  // packed rows from offset 0
        draw_prepared_bitmap(&out, 0, 0);
        EXPECT_EQ(screen, std::vector<uint8_t>(256, 0xAB)) << bpp;
    }
}

// Row length and total are computed in 64 bits; what does not fit is refused, not wrapped.
TEST(PictureBufferSize, RefusedWhenTooLarge) {
    const struct {
        int32_t width, height, bytes_per_pixel;
        bool fits;
    } cases[] = {{536870911, 1, 4, true},  {536870912, 1, 4, false},
                 {715827883, 1, 3, false}, {-1, 5, 4, false},
                 {5, -1, 4, false},        {65535, 65535, 4, sizeof(size_t) >= 8}};
    for (const auto& c : cases) {
        int32_t row = 0;
        size_t total = 0;
        EXPECT_EQ(picture_buffer_size(c.width, c.height, c.bytes_per_pixel, &row, &total), c.fits)
            << c.width << " x " << c.height << " x " << c.bytes_per_pixel;
    }
}

#if !defined(ZELT_SANITIZED) && !defined(ZELT_EMULATED)
// Runs in a child process: caps the address space, then prepares a picture too large for it.
// Exits 0 when the failure came back as -1 with the record left empty.
[[noreturn]] void prepare_under_cap() {
    fbvar = test_screen(720, 1280, 32);
    // 4000 x 4000, 1 bit: 2 MB as read, 64 MB once converted for a 32-bit screen.
    bmp_write_options options;
    options.encoding = bmp_encoding::palette1;
    bmp_image* image = open_written(rgb_picture_make(4000, 4000, 0xFFFFFF), options);
    // 16 MB above what the process holds now: room for small allocations, not the buffer.
    if (!cap_address_space(16UL << 20, 64UL << 20)) {
        exit(3);
    }
    uint8_t sentinel[4] = {};
    prepared_bitmap out{1, 1, 4, sentinel};
    int result = prepare_bitmap(image, &out);
    bool empty = out.pixels == nullptr && out.row_bytes == 0;
    exit(result == -1 && empty ? 0 : 1);
}
#endif

// With the address space capped, a large picture cannot get its buffer: the failure is
// reported with the system's text, the record is left empty and nothing is written through it.
TEST(PrepareDeathTest, AllocationFailureLeavesRecordEmpty) {
#ifdef ZELT_SANITIZED
    GTEST_SKIP() << "sanitizers reserve more address space than the cap allows";
#elif defined(ZELT_EMULATED)
    GTEST_SKIP() << "qemu-user accepts an address-space cap but does not apply it";
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(prepare_under_cap(), ::testing::ExitedWithCode(0),
                std::string("prepare_bitmap: ") + strerror(ENOMEM));
#endif
}

}  // namespace
