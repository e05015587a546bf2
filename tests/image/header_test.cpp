// Header rules: row strides, table sizes with both header lengths, and every refusal with the
// error number it leaves in errno.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

#include "tests/image/bmp_builder.h"

namespace {

struct stride_case {
    const char* name;
    int32_t width;
    int16_t bit_count;
    int32_t stride;
};

class RowStride : public testing::TestWithParam<stride_case> {};

TEST_P(RowStride, RoundsRowBytesUpToFour) {
    const stride_case& c = GetParam();
    bmp_recipe recipe;
    recipe.width = c.width;
    recipe.bit_count = c.bit_count;
    if (c.bit_count <= 8) {
        recipe.table = {palette_entry(1, 2, 3)};
    }
    open_result opened = open_recipe(recipe);
    ASSERT_TRUE(opened.image) << "errno " << opened.error;
    EXPECT_EQ(opened.image->row_stride, c.stride);
}

INSTANTIATE_TEST_SUITE_P(
    Depths, RowStride,
    testing::Values(stride_case{"rgb24_w3", 3, 24, 12}, stride_case{"rgb24_w4", 4, 24, 12},
                    stride_case{"pal8_w5", 5, 8, 8}, stride_case{"pal4_w9", 9, 4, 8},
                    stride_case{"pal1_w33", 33, 1, 8}, stride_case{"pal1_w32", 32, 1, 4},
                    stride_case{"rgb16_w3", 3, 16, 8}, stride_case{"rgb32_w3", 3, 32, 12}),
    [](const auto& info) { return std::string(info.param.name); });

struct table_case {
    const char* name;
    uint32_t info_size;
    size_t entries;       // entries the file holds between the header and the data
    int32_t table_count;  // entries kept
};

class PaletteTable : public testing::TestWithParam<table_case> {};

// The palette follows the information header whatever its length; entry i is the colour of
// index i, and indexes past the kept entries read black.
TEST_P(PaletteTable, StartsAfterTheInformationHeader) {
    const table_case& c = GetParam();
    bmp_recipe recipe;
    recipe.bit_count = 8;
    recipe.info_size = c.info_size;
    for (size_t i = 0; i < c.entries; ++i) {
        recipe.table.push_back(palette_entry(static_cast<uint8_t>(i), 0x40, 0x80));
    }
    recipe.width = 2;
    recipe.data = {0, static_cast<uint8_t>(c.table_count), 0, 0};
    recipe.masks = {};
    open_result opened = open_recipe(recipe);
    ASSERT_TRUE(opened.image) << "errno " << opened.error;
    EXPECT_EQ(opened.image->table_count, c.table_count);
    const bmp_color first = c.table_count > 0 ? 0x004080u : 0u;
    EXPECT_EQ(bmp_getpixel(opened.image.get(), 0, 0), first);
    if (c.table_count < kPaletteEntries) {
        EXPECT_EQ(bmp_getpixel(opened.image.get(), 1, 0), 0u) << "index past the table";
    }
}

INSTANTIATE_TEST_SUITE_P(
    HeaderLengths, PaletteTable,
    testing::Values(table_case{"none", 40, 0, 0}, table_case{"sixteen", 40, 16, 16},
                    table_case{"full", 40, 256, 256}, table_case{"oversized", 40, 300, 256},
                    table_case{"v4_header", 108, 16, 16}, table_case{"v5_header", 124, 2, 2}),
    [](const auto& info) { return std::string(info.param.name); });

bmp_recipe valid_rgb16() {
    bmp_recipe recipe;
    recipe.bit_count = 16;
    recipe.data = {0xFF, 0x7F, 0, 0};
    return recipe;
}

struct refusal_case {
    const char* name;
    std::function<std::vector<uint8_t>()> bytes;
    int error;
};

std::vector<uint8_t> with(bmp_recipe recipe, const std::function<void(bmp_recipe&)>& change) {
    change(recipe);
    return bmp_bytes(recipe);
}

std::vector<uint8_t> patched(std::vector<uint8_t> bytes, size_t offset, uint32_t value) {
    for (size_t i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }
    return bytes;
}

class Refusal : public testing::TestWithParam<refusal_case> {};

// Every refusal returns null with its own errno, and frees what it allocated (the suite runs
// under LeakSanitizer).
TEST_P(Refusal, SetsErrno) {
    open_result opened = open_bytes(GetParam().bytes());
    EXPECT_FALSE(opened.image);
    EXPECT_EQ(opened.error, GetParam().error) << strerror(opened.error);
}

const bmp_recipe kRgb16 = valid_rgb16();

INSTANTIATE_TEST_SUITE_P(
    BadFiles, Refusal,
    testing::Values(
        refusal_case{"empty", [] { return std::vector<uint8_t>(); }, EINVAL},
        refusal_case{"second_char_not_M", [] { return patched(bmp_bytes(kRgb16), 0, 0x4142u); },
                     EINVAL},
        refusal_case{"header_53_bytes",
                     [] {
                         auto b = bmp_bytes(kRgb16);
                         b.resize(53);
                         return b;
                     },
                     EINVAL},
        refusal_case{"info_size_12", [] { return patched(bmp_bytes(kRgb16), 14, 12); }, EINVAL},
        refusal_case{"data_offset_53", [] { return patched(bmp_bytes(kRgb16), 10, 53); }, EINVAL},
        refusal_case{"width_0", [] { return with(kRgb16, [](auto& s) { s.width = 0; }); }, EINVAL},
        refusal_case{"width_negative", [] { return with(kRgb16, [](auto& s) { s.width = -4; }); },
                     EINVAL},
        refusal_case{"height_0", [] { return with(kRgb16, [](auto& s) { s.height = 0; }); },
                     EINVAL},
        refusal_case{"table_with_plain_rgb16",
                     [] { return with(kRgb16, [](auto& s) { s.table = {0}; }); }, EINVAL},
        refusal_case{"bitfields_without_masks",
                     [] { return with(kRgb16, [](auto& s) { s.compression = 3; }); }, EINVAL},
        refusal_case{"bitfields_two_masks",
                     [] {
                         return with(kRgb16, [](auto& s) {
                             s.compression = 3;
                             s.masks = {0xF800, 0x7E0};
                         });
                     },
                     EINVAL},
        refusal_case{"short_palette",
                     [] {
                         auto b = with(kRgb16, [](auto& s) {
                             s.bit_count = 8;
                             s.table.assign(16, 0);
                             s.data.clear();
                         });
                         b.resize(54 + 4 * 15);
                         return b;
                     },
                     EINVAL},
        refusal_case{"top_down_rle8",
                     [] {
                         return with(kRgb16, [](auto& s) {
                             s.bit_count = 8;
                             s.compression = 1;
                             s.height = -1;
                             s.data = {0, 1};
                         });
                     },
                     EINVAL},
        refusal_case{"depth_2", [] { return with(kRgb16, [](auto& s) { s.bit_count = 2; }); },
                     ENOTSUP},
        refusal_case{"depth_64", [] { return with(kRgb16, [](auto& s) { s.bit_count = 64; }); },
                     ENOTSUP},
        refusal_case{"rle4",
                     [] {
                         return with(kRgb16, [](auto& s) {
                             s.bit_count = 4;
                             s.compression = 2;
                         });
                     },
                     ENOTSUP},
        refusal_case{"rle8_at_24_bits",
                     [] { return with(kRgb16, [](auto& s) { s.compression = 1; }); }, ENOTSUP},
        refusal_case{"bitfields_at_8_bits",
                     [] {
                         return with(kRgb16, [](auto& s) {
                             s.bit_count = 8;
                             s.compression = 3;
                         });
                     },
                     ENOTSUP},
        refusal_case{"jpeg", [] { return with(kRgb16, [](auto& s) { s.compression = 4; }); },
                     ENOTSUP},
        refusal_case{"width_65536", [] { return with(kRgb16, [](auto& s) { s.width = 65536; }); },
                     EFBIG},
        refusal_case{"height_minus_65536",
                     [] { return with(kRgb16, [](auto& s) { s.height = -65536; }); }, EFBIG},
        refusal_case{"height_most_negative",
                     [] { return with(kRgb16, [](auto& s) { s.height = INT32_MIN; }); }, EFBIG},
        refusal_case{"over_256_mib",
                     [] {
                         return with(kRgb16, [](auto& s) {
                             s.bit_count = 32;
                             s.width = 65535;
                             s.height = 1025;
                         });
                     },
                     EFBIG}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RefusalOfThePath, KeepsTheOpenError) {
    errno = 0;
    EXPECT_EQ(bmp_open("/nonexistent/zelt.bmp"), nullptr);
    EXPECT_EQ(errno, ENOENT);
    errno = 0;
    EXPECT_EQ(bmp_open("/"), nullptr);
    EXPECT_EQ(errno, EISDIR);
}

TEST(SizeLimit, JustUnder256MibOpens) {
    bmp_recipe recipe = valid_rgb16();
    recipe.bit_count = 32;
    recipe.width = 65535;
    recipe.height = 1024;  // 65535 x 4 x 1024 bytes: under the limit, all but one pixel zero
    open_result opened = open_recipe(recipe);
    ASSERT_TRUE(opened.image) << strerror(opened.error);
    EXPECT_EQ(bmp_getpixel(opened.image.get(), 65534, 0), 0u);
}

}  // namespace
