// Pixel lookups of every depth, channel fields from masks, row order and short files.
#include <gtest/gtest.h>

#include "tests/image/bmp_builder.h"

namespace {

struct pixel_case {
    const char* name;
    bmp_recipe recipe;
    int32_t x;
    int32_t y;
    bmp_color expected;
};

// Table notation of the cases below: width, depth, stored bytes, palette, masks, header length.
bmp_recipe picture(int32_t width,  // NOLINT(bugprone-easily-swappable-parameters)
                   int16_t bits, std::vector<uint8_t> data, std::vector<uint32_t> table = {},
                   std::vector<uint32_t> masks = {}, uint32_t info_size = 40) {
    bmp_recipe recipe;
    recipe.width = width;
    recipe.bit_count = bits;
    recipe.data = std::move(data);
    recipe.table = std::move(table);
    recipe.masks = std::move(masks);
    recipe.compression = recipe.masks.empty() ? 0 : 3;
    recipe.info_size = info_size;
    return recipe;
}

const std::vector<uint32_t> kTwoColours = {palette_entry(0, 0, 0), palette_entry(0xAB, 0xCD, 0xEF)};
std::vector<uint32_t> ramp(size_t n) {
    std::vector<uint32_t> table;
    for (size_t i = 0; i < n; ++i) {
        table.push_back(palette_entry(static_cast<uint8_t>(i), 0, 0));
    }
    return table;
}

class Lookup : public testing::TestWithParam<pixel_case> {};

TEST_P(Lookup, GivesTheStoredColour) {
    const pixel_case& c = GetParam();
    open_result opened = open_recipe(c.recipe);
    ASSERT_TRUE(opened.image) << strerror(opened.error);
    EXPECT_EQ(bmp_getpixel(opened.image.get(), c.x, c.y), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Depths, Lookup,
    testing::Values(
        pixel_case{"pal1_x0_top_bit", picture(9, 1, {0x80, 0x80, 0, 0}, kTwoColours), 0, 0,
                   0xABCDEF},
        pixel_case{"pal1_x1", picture(9, 1, {0x80, 0x80, 0, 0}, kTwoColours), 1, 0, 0},
        pixel_case{"pal1_x7_lowest_bit", picture(9, 1, {0x01, 0, 0, 0}, kTwoColours), 7, 0,
                   0xABCDEF},
        pixel_case{"pal1_x8_next_byte", picture(9, 1, {0, 0x80, 0, 0}, kTwoColours), 8, 0,
                   0xABCDEF},
        pixel_case{"pal4_even_high_nibble", picture(2, 4, {0x5A, 0, 0, 0}, ramp(16)), 0, 0,
                   0x050000},
        pixel_case{"pal4_odd_low_nibble", picture(2, 4, {0x5A, 0, 0, 0}, ramp(16)), 1, 0, 0x0A0000},
        pixel_case{"pal8_entry_bytes", picture(1, 8, {2, 0, 0, 0}, {0, 0, 0x00302010}), 0, 0,
                   0x302010},
        pixel_case{"pal8_index_past_table_is_black", picture(1, 8, {9, 0, 0, 0}, ramp(4)), 0, 0, 0},
        pixel_case{"rgb16_default_white", picture(1, 16, {0xFF, 0x7F, 0, 0}), 0, 0, 0xF8F8F8},
        pixel_case{"rgb16_default_red", picture(1, 16, {0x00, 0x7C, 0, 0}), 0, 0, 0xF80000},
        pixel_case{"rgb16_565_masks",
                   picture(1, 16, {0xFF, 0xFF, 0, 0}, {}, {0xF800, 0x07E0, 0x001F}), 0, 0,
                   0xF8FCF8},
        pixel_case{"rgb16_565_masks_in_v4_header",
                   picture(1, 16, {0x00, 0xF8, 0, 0}, {}, {0xF800, 0x07E0, 0x001F}, 108), 0, 0,
                   0xF80000},
        pixel_case{"rgb16_empty_mask_gives_zero",
                   picture(1, 16, {0xFF, 0xFF, 0, 0}, {}, {0xF800, 0, 0x001F}), 0, 0, 0xF800F8},
        pixel_case{"rgb32_default_drops_top_byte", picture(1, 32, {0x33, 0x22, 0x11, 0xAA}), 0, 0,
                   0x112233},
        pixel_case{
            "rgb32_ten_bit_channels_keep_top_bits",
            picture(1, 32, {0x01, 0x00, 0xF8, 0x3F}, {}, {0x3FF00000, 0x000FFC00, 0x000003FF}), 0,
            0, 0xFF8000},
        pixel_case{
            "rgb32_alpha_mask_never_reaches_top_byte",
            picture(1, 32, {0xFF, 0xFF, 0xFF, 0xFF}, {}, {0xFF000000, 0x00FF0000, 0x0000FF00}, 124),
            0, 0, 0xFFFFFF}),
    [](const auto& info) { return std::string(info.param.name); });

// Rows stored bottom row first, or top row first with a negative height: the same picture.
TEST(RowOrder, BottomUpAndTopDownAgree) {
    const std::vector<std::vector<uint8_t>> rows = {{0xFF, 0, 0, 0xFF, 0xFF, 0xFF},
                                                    {0, 0, 0xFF, 0, 0xFF, 0}};
    bmp_recipe recipe = picture(2, 24, bottom_up(rows, 8));
    recipe.height = 2;
    bmp_recipe top_down = recipe;
    top_down.height = -2;
    top_down.data = bottom_up({rows[1], rows[0]}, 8);
    for (const bmp_recipe& s : {recipe, top_down}) {
        open_result opened = open_recipe(s);
        ASSERT_TRUE(opened.image) << strerror(opened.error);
        bmp_image* image = opened.image.get();
        EXPECT_EQ(bmp_height(image), 2);
        EXPECT_EQ(bmp_getpixel(image, 0, 0), 0x0000FFu);
        EXPECT_EQ(bmp_getpixel(image, 1, 0), 0xFFFFFFu);
        EXPECT_EQ(bmp_getpixel(image, 0, 1), 0xFF0000u);
        EXPECT_EQ(bmp_getpixel(image, 1, 1), 0x00FF00u);
    }
}

// A file that ends inside its pixel data still opens: the rows it holds are read whatever
// image_size says, the rest is black.
TEST(ShortFile, MissingRowsAreBlack) {
    bmp_recipe recipe = picture(1, 24, {1, 2, 3, 0});
    recipe.height = 3;
    recipe.image_size = 4;
    open_result opened = open_recipe(recipe);
    ASSERT_TRUE(opened.image) << strerror(opened.error);
    EXPECT_EQ(bmp_getpixel(opened.image.get(), 0, 2), 0x030201u);
    EXPECT_EQ(bmp_getpixel(opened.image.get(), 0, 0), 0u);

    recipe.height = -3;  // top row first: the one stored row is the top row
    open_result top_down = open_recipe(recipe);
    ASSERT_TRUE(top_down.image) << strerror(top_down.error);
    EXPECT_EQ(bmp_getpixel(top_down.image.get(), 0, 0), 0x030201u);
    EXPECT_EQ(bmp_getpixel(top_down.image.get(), 0, 2), 0u);
}

struct mask_case {
    uint32_t mask;
    int32_t shift;
    int32_t bits;
};

TEST(ChannelFields, FollowTheMasks) {
    const mask_case cases[] = {{0x7C00, 10, 5},     {0x3E0, 5, 5},   {0x1F, 0, 5},
                               {0xFF0000, 16, 8},   {0xF800, 11, 5}, {0x7E0, 5, 6},
                               {0x80000000, 31, 1}, {0, 32, 0},      {0x0FF0F000, 12, 16}};
    for (const mask_case& c : cases) {
        uint32_t masks[3] = {c.mask, 0, c.mask};
        bmp_image image{};
        image.table = masks;
        calculate_boffset(&image);
        EXPECT_EQ(image.red_shift, c.shift) << std::hex << c.mask;
        EXPECT_EQ(image.red_bits, c.bits) << std::hex << c.mask;
        EXPECT_EQ(image.blue_shift, c.shift) << std::hex << c.mask;
        EXPECT_EQ(image.green_bits, 0);
    }
}

TEST(ChannelFields, DefaultsForUncompressedPictures) {
    open_result rgb16 = open_recipe(picture(1, 16, {0, 0, 0, 0}));
    open_result rgb32 = open_recipe(picture(1, 32, {0, 0, 0, 0}));
    ASSERT_TRUE(rgb16.image && rgb32.image);
    const bmp_image& a = *rgb16.image;
    const bmp_image& b = *rgb32.image;
    EXPECT_EQ(std::vector<int32_t>({a.blue_shift, a.green_shift, a.red_shift, a.blue_bits,
                                    a.green_bits, a.red_bits}),
              std::vector<int32_t>({0, 5, 10, 5, 5, 5}));
    EXPECT_EQ(std::vector<int32_t>({b.blue_shift, b.green_shift, b.red_shift, b.blue_bits,
                                    b.green_bits, b.red_bits}),
              std::vector<int32_t>({0, 8, 16, 8, 8, 8}));
}

}  // namespace
