// RLE8 expansion row by row: the classic examples, rows padded by encoders, and input that
// reaches past the picture or ends early.
#include <gtest/gtest.h>

#include "tests/image/bmp_builder.h"

namespace {

struct rle_case {
    const char* name;
    int32_t width;
    int32_t height;
    std::vector<uint8_t> packed;
    std::vector<uint8_t> expected;  // expanded rows, bottom row first; the rest stays zero
};

std::vector<uint8_t> expand(int32_t width, int32_t height, std::vector<uint8_t> packed) {
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    bmp_image image{};
    image.width = width;
    image.height = height;
    image.packed = packed.data();
    image.pixels = pixels.data();
    rle8_decoding(&image, packed.size());
    return pixels;
}

class Rle8 : public testing::TestWithParam<rle_case> {};

TEST_P(Rle8, Expands) {
    const rle_case& c = GetParam();
    std::vector<uint8_t> expected = c.expected;
    expected.resize(static_cast<size_t>(c.width) * static_cast<size_t>(c.height), 0);
    EXPECT_EQ(expand(c.width, c.height, c.packed), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, Rle8,
    testing::Values(
        rle_case{"absolute_run_skips_its_padding_byte",
                 8,
                 2,
                 {3, 0xAA, 0, 3, 0xBB, 0xCC, 0xDD, 0, 0, 1},
                 {0xAA, 0xAA, 0xAA, 0xBB, 0xCC, 0xDD}},
        rle_case{"delta_moves_right_and_up",
                 8,
                 2,
                 {2, 0xAA, 0, 2, 1, 1, 3, 0xBB, 0, 1},
                 {0xAA, 0xAA, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xBB, 0xBB, 0xBB}},
        rle_case{"end_of_line_goes_to_next_row",
                 4,
                 2,
                 {2, 0xAA, 0, 0, 2, 0xBB, 0, 1},
                 {0xAA, 0xAA, 0, 0, 0xBB, 0xBB}},
        rle_case{"end_of_bitmap_first_stops", 2, 1, {0, 1, 2, 0xAA}, {}},
        // Width 3 encoded as 4 padded pixels per row, each row ended by an end-of-line code.
        rle_case{"padded_rows_are_cut_at_the_row_end",
                 3,
                 2,
                 {4, 0x11, 0, 0, 0, 4, 0x21, 0x22, 0x23, 0x24, 0, 0, 0, 1},
                 {0x11, 0x11, 0x11, 0x21, 0x22, 0x23}},
        rle_case{"full_row_then_end_of_line_skips_no_row",
                 2,
                 2,
                 {2, 0x11, 0, 0, 2, 0x22, 0, 1},
                 {0x11, 0x11, 0x22, 0x22}},
        rle_case{"delta_past_the_last_row_ends", 2, 2, {0, 2, 0, 5, 2, 0x11}, {}},
        rle_case{"delta_past_the_row_end_drops_the_run",
                 2,
                 2,
                 {0, 2, 9, 0, 2, 0x11, 0, 0, 1, 0x22},
                 {0, 0, 0x22}},
        rle_case{"end_of_line_on_the_last_row_ends", 1, 1, {0, 0, 1, 0x11}, {}},
        rle_case{"input_ends_inside_an_absolute_run", 4, 1, {0, 4, 0x11, 0x22}, {0x11, 0x22}},
        rle_case{"input_ends_inside_a_delta", 2, 2, {1, 0x11, 0, 2, 1}, {0x11}},
        rle_case{"odd_trailing_byte_is_ignored", 2, 1, {1, 0x11, 1}, {0x11}}),
    [](const auto& info) { return std::string(info.param.name); });

// Through bmp_open: the expanded rows are `width` apart, whatever the stored stride was.
TEST(Rle8File, LookupsAddressTheExpandedRows) {
    bmp_recipe recipe;
    recipe.width = 3;
    recipe.height = 2;
    recipe.bit_count = 8;
    recipe.compression = 1;
    recipe.table = {palette_entry(0, 0, 0), palette_entry(1, 1, 1), palette_entry(2, 2, 2)};
    recipe.data = {3, 1, 0, 0, 2, 2, 0, 1};
    open_result opened = open_recipe(recipe);
    ASSERT_TRUE(opened.image) << strerror(opened.error);
    bmp_image* image = opened.image.get();
    EXPECT_EQ(image->row_stride, 3);
    EXPECT_EQ(bmp_getpixel(image, 2, 1), 0x010101u);  // bottom row: three of index 1
    EXPECT_EQ(bmp_getpixel(image, 1, 0), 0x020202u);
    EXPECT_EQ(bmp_getpixel(image, 2, 0), 0u);  // never written
}

// The compressed buffer holds what the file has, however large image_size claims to be.
TEST(Rle8File, ImageSizeLargerThanTheFile) {
    bmp_recipe recipe;
    recipe.bit_count = 8;
    recipe.compression = 1;
    recipe.table = {palette_entry(0, 0, 0), palette_entry(9, 9, 9)};
    recipe.data = {1, 1};
    recipe.image_size = 0xFFFFFFF0u;
    open_result opened = open_recipe(recipe);
    ASSERT_TRUE(opened.image) << strerror(opened.error);
    EXPECT_EQ(bmp_getpixel(opened.image.get(), 0, 0), 0x090909u);
}

}  // namespace
