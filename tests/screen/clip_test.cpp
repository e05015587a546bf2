// Drawing pictures: whole-row copies of prepared pictures cut at the screen's right and bottom
// edges, never a byte outside the mapping, whatever the record or the position says; and
// conversion straight into a screen-shaped buffer, which must show the same.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <vector>

#include "screen/bitmap.h"
#include "screen/screen.h"
#include "tests/screen/picture_file.h"

namespace {

constexpr uint8_t kUntouched = 0xAB;
constexpr size_t kGuardBytes = 4096;  // after the mapping: must never be written

struct clip_case {
    const char* name;
    uint32_t screen_w, screen_h, bpp;
    int32_t pic_w, pic_h;  // the record's row_bytes is pic_w * bytes per position
    int x, y;
    int32_t rows_drawn, columns_drawn;
    int64_t mapping_bytes = -1;  // -1: exactly the screen
};

// Bytes per screen position: 4, 3, 2 for the drawn depths; single bytes for the record of a
// depth that is not drawn.
int32_t position_bytes(uint32_t bpp) {
    return bpp == 32 ? 4 : bpp == 24 ? 3 : bpp == 16 ? 2 : 1;
}

// A picture whose every byte tells where it came from.
prepared_bitmap patterned(int32_t w, int32_t h, int32_t bytes_per_pixel,
                          std::vector<uint8_t>* store) {
    int32_t row_bytes = w * bytes_per_pixel;
    store->resize(static_cast<size_t>(row_bytes) * h);
    for (size_t i = 0; i < store->size(); ++i) {
        (*store)[i] = static_cast<uint8_t>(i * 7 + i / 251 + 1);
    }
    return prepared_bitmap{w, h, row_bytes, store->data()};
}

class ClipTest : public ::testing::TestWithParam<clip_case> {
protected:
    void TearDown() override {
        fbvar = fb_var_screeninfo{};
        fbmem = nullptr;
        buffersize = 0;
    }
};

TEST_P(ClipTest, CopiesOnlyTheVisiblePart) {
    const clip_case& c = GetParam();
    int32_t b = position_bytes(c.bpp);
    fbvar = test_screen(c.screen_w, c.screen_h, c.bpp == 8 ? 32 : c.bpp);
    fbvar.bits_per_pixel = c.bpp;
    size_t pitch = static_cast<size_t>(c.screen_w) * b;
    size_t mapping =
        c.mapping_bytes < 0 ? pitch * c.screen_h : static_cast<size_t>(c.mapping_bytes);
    std::vector<uint8_t> screen(mapping + kGuardBytes, kUntouched);
    fbmem = screen.data();
    buffersize = static_cast<int>(mapping);
    screen_layout_for(fbvar, nullptr, &fblayout);  // packed rows from offset 0

    std::vector<uint8_t> store;
    prepared_bitmap picture = patterned(c.pic_w, c.pic_h, b, &store);
    draw_prepared_bitmap(&picture, c.x, c.y);

    std::vector<uint8_t> expected(screen.size(), kUntouched);
    for (int32_t i = 0; i < c.rows_drawn; ++i) {
        for (int32_t k = 0; k < c.columns_drawn * b; ++k) {
            expected[(c.y + i) * pitch + c.x * b + k] = store[i * picture.row_bytes + k];
        }
    }
    ASSERT_EQ(screen.size(), expected.size());
    for (size_t i = 0; i < screen.size(); ++i) {
        ASSERT_EQ(screen[i], expected[i]) << "byte " << i << " (row " << i / pitch << ")"
                                          << (i >= mapping ? ", past the mapping" : "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Positions, ClipTest,
    ::testing::Values(
        clip_case{"inside", 80, 60, 32, 10, 5, 3, 4, 5, 10},
        clip_case{"wider_than_screen", 80, 60, 32, 100, 5, 0, 0, 5, 80},
        clip_case{"cut_at_right_edge", 80, 60, 24, 30, 5, 70, 2, 5, 10},
        clip_case{"cut_at_bottom_edge", 80, 60, 32, 10, 40, 0, 50, 10, 10},
        clip_case{"last_ten_rows", 80, 60, 16, 10, 40, 0, 50, 10, 10},
        clip_case{"wider_and_taller", 80, 60, 16, 120, 90, 5, 7, 53, 75},
        clip_case{"at_right_edge_draws_nothing", 80, 60, 32, 10, 5, 80, 0, 0, 0},
        clip_case{"at_bottom_edge_draws_nothing", 80, 60, 32, 10, 5, 0, 60, 0, 0},
        clip_case{"beyond_both_edges", 80, 60, 32, 10, 5, 500, 900, 0, 0},
        // As wide as the screen: its rows go over in one block, still cut at the bottom.
        clip_case{"full_width_cut_at_bottom", 80, 60, 16, 80, 40, 0, 50, 10, 80},
        clip_case{"negative_x_draws_nothing", 80, 60, 32, 10, 5, -1, 0, 0, 0},
        clip_case{"negative_y_draws_nothing", 80, 60, 32, 10, 5, 0, -3, 0, 0},
        // A screen of 40 rows: the frames' position (0, 50) is below it.
        clip_case{"frame_below_short_screen", 72, 40, 32, 72, 40, 0, 50, 0, 0},
        // A mapping shorter than the screen it describes: only whole rows inside it.
        clip_case{"mapping_ends_early", 80, 60, 32, 80, 60, 0, 0, 30, 80, 80 * 4 * 30 + 10},
        clip_case{"mapping_ends_inside_row", 80, 60, 32, 20, 60, 50, 10, 19, 20,
                  80 * 4 * 29 + 50 * 4 + 79},
        clip_case{"mapping_before_position", 80, 60, 32, 20, 5, 0, 40, 0, 0, 80 * 4 * 40},
        // A depth that is not drawn: nothing is written, whatever the record holds.
        clip_case{"eight_bit_draws_nothing", 80, 60, 8, 100, 5, 10, 10, 0, 0}),
    [](const ::testing::TestParamInfo<clip_case>& info) { return info.param.name; });

class BrokenRecordTest : public ::testing::Test {
protected:
    void SetUp() override {
        fbvar = test_screen(16, 8, 32);
        screen_.assign(16 * 8 * 4 + kGuardBytes, kUntouched);
        fbmem = screen_.data();
        buffersize = 16 * 8 * 4;
        screen_layout_for(fbvar, nullptr, &fblayout);  // packed rows from offset 0
    }
    void TearDown() override {
        fbvar = fb_var_screeninfo{};
        fbmem = nullptr;
        buffersize = 0;
    }
    std::vector<uint8_t> screen_;
};

// Records a failed or odd preparation can leave: none of them may copy a byte.
TEST_F(BrokenRecordTest, NothingIsCopiedFromEmptyOrNegativeRecords) {
    std::vector<uint8_t> pixels(16 * 8 * 4, 0x11);
    const struct {
        const char* name;
        prepared_bitmap record;
    } cases[] = {
        {"empty", prepared_bitmap{}},
        {"null_pixels", prepared_bitmap{4, 4, 16, nullptr}},
        {"zero_row_bytes", prepared_bitmap{4, 4, 0, pixels.data()}},
        {"negative_row_bytes", prepared_bitmap{4, 4, -16, pixels.data()}},
        {"negative_height", prepared_bitmap{4, -4, 16, pixels.data()}},
    };
    for (const auto& c : cases) {
        draw_prepared_bitmap(&c.record, 0, 0);
        EXPECT_EQ(screen_, std::vector<uint8_t>(screen_.size(), kUntouched)) << c.name;
    }
}

struct direct_case {
    const char* name;
    uint32_t bpp;
    const char* channels;  // 16-bit layouts only
    int32_t pic_w, pic_h;
    int x, y;
};

void PrintTo(const direct_case& c, std::ostream* os) {
    *os << c.name;
}

// A picture whose every pixel has its own colour.
rgb_picture graded(int32_t w, int32_t h) {
    rgb_picture picture{w, h, {}};
    for (int32_t i = 0; i < w * h; ++i) {
        picture.pixels.push_back(static_cast<uint32_t>(i) * 0x010305u + 0x402010u);
    }
    return picture;
}

class DirectDrawTest : public ::testing::TestWithParam<direct_case> {
protected:
    void TearDown() override {
        fbvar = fb_var_screeninfo{};
        fbmem = nullptr;
        buffersize = 0;
    }
};

// Converting straight into a screen-shaped buffer leaves the same bytes in the same places as
// converting once and copying the rows: same packing, same edges.
TEST_P(DirectDrawTest, MatchesPreparedDrawing) {
    const direct_case& c = GetParam();
    constexpr uint32_t kScreenW = 40;
    constexpr uint32_t kScreenH = 30;
    fbvar = test_screen(kScreenW, kScreenH, c.bpp, c.channels);
    const size_t screen_bytes = size_t{kScreenW} * kScreenH * (c.bpp / 8);
    bmp_image* image = open_written(graded(c.pic_w, c.pic_h), bmp_write_options{});

    std::vector<uint8_t> prepared_screen(screen_bytes + kGuardBytes, kUntouched);
    fbmem = prepared_screen.data();
    buffersize = static_cast<int>(screen_bytes);
    screen_layout_for(fbvar, nullptr, &fblayout);  // packed rows from offset 0
    prepared_bitmap picture{};
    ASSERT_EQ(prepare_bitmap(image, &picture), 0);
    draw_prepared_bitmap(&picture, c.x, c.y);
    free(picture.pixels);

    std::vector<uint8_t> direct_screen(screen_bytes + kGuardBytes, kUntouched);
    draw_bitmap(image, &fbvar, direct_screen.data(), c.x, c.y);
    bmp_close(image);

    EXPECT_NE(prepared_screen, std::vector<uint8_t>(prepared_screen.size(), kUntouched))
        << "nothing drawn: the case checks nothing";
    for (size_t i = 0; i < direct_screen.size(); ++i) {
        ASSERT_EQ(direct_screen[i], prepared_screen[i])
            << "byte " << i << (i >= screen_bytes ? ", past the screen" : "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Positions, DirectDrawTest,
    ::testing::Values(direct_case{"inside_32", 32, nullptr, 7, 5, 3, 4},
                      direct_case{"cut_at_right_edge_24", 24, nullptr, 9, 4, 35, 2},
                      direct_case{"cut_at_bottom_edge_565", 16, "11/5,5/6,0/5", 6, 8, 1, 26},
                      direct_case{"larger_than_screen_bgr565", 16, "0/5,5/6,11/5", 50, 33, 0, 0},
                      direct_case{"corner_32", 32, nullptr, 5, 5, 39, 29}),
    [](const ::testing::TestParamInfo<direct_case>& info) { return info.param.name; });

// A screen depth that is not drawn, or no buffer, leaves everything as it was.
TEST(DirectDraw, UndrawnDepthOrNoBufferWritesNothing) {
    bmp_image* image = open_written(graded(4, 4), bmp_write_options{});
    fb_var_screeninfo screen = test_screen(16, 8, 32);
    screen.bits_per_pixel = 8;
    std::vector<uint8_t> buffer(16 * 8 * 4, kUntouched);
    draw_bitmap(image, &screen, buffer.data(), 0, 0);
    EXPECT_EQ(buffer, std::vector<uint8_t>(buffer.size(), kUntouched));
    screen.bits_per_pixel = 32;
    draw_bitmap(image, &screen, nullptr, 0, 0);  // must not crash
    bmp_close(image);
}

}  // namespace
