// Reading and checking the header and the colour or mask table. Every size is checked here,
// once, so that the data step allocates bounded buffers and the lookups need no tests.
#include <cerrno>
#include <climits>
#include <cstdio>

#include "image/bmp_image.h"

namespace {

int refuse(int error) {
    errno = error;
    return -1;
}

// A read that came up short: a file too short for what its header promises (EINVAL), unless
// the read itself failed, whose own error then stays in errno.
int short_read(FILE* file) {
    if (!ferror(file)) {
        errno = EINVAL;
    }
    return -1;
}

// Depths and compressions the lookups know; RLE8 only at 8 bits, bit fields only at 16 and 32.
bool is_supported(const bmp_image* image) {
    const int32_t bits = image->bit_count;
    switch (image->compression) {
        case kCompressionNone:
            return lookup_for_depth(bits) != nullptr;
        case kCompressionRle8:
            return bits == 8;
        case kCompressionBitFields:
            return is_mask_depth(bits);
        default:
            return false;  // RLE4, JPEG, PNG and the rest
    }
}

// Fills `table_count` from the room between the information header and the pixel data.
int derive_table_count(bmp_image* image) {
    const int64_t room = int64_t{image->data_offset} - kFileHeaderBytes - image->info_size;
    const int64_t entries = room > 0 ? room / 4 : 0;
    const int32_t bits = image->bit_count;
    if (is_palette_depth(bits)) {
        image->table_count =
            static_cast<int32_t>(entries < kPaletteEntries ? entries : kPaletteEntries);
    } else if (image->compression == kCompressionBitFields) {
        // The masks are the three u32 at byte 54 (with a longer information header, its own
        // mask fields); they must lie before the pixel data.
        if (image->data_offset < kMasksOffset + 4 * kMaskCount) {
            return refuse(EINVAL);
        }
        image->table_count = kMaskCount;
    } else if (is_mask_depth(bits)) {
        // An uncompressed 16/32-bit picture uses the default channels and has no table.
        if (entries > 0) {
            return refuse(EINVAL);
        }
    }
    return 0;
}

int check_sizes(bmp_image* image) {
    if (image->data_offset < kMasksOffset || image->width <= 0 || image->height == 0) {
        return refuse(EINVAL);
    }
    const int64_t width = image->width;
    const int64_t height = image->height < 0 ? -int64_t{image->height} : int64_t{image->height};
    if (width > kMaxDimension || height > kMaxDimension) {
        return refuse(EFBIG);
    }
    const bool rle8 = image->compression == kCompressionRle8;
    if (rle8 && image->height < 0) {
        return refuse(EINVAL);  // compressed rows are always stored bottom row first
    }
    const int64_t row_bytes = (width * image->bit_count + 7) / 8;
    const int64_t stride = (row_bytes + 3) / 4 * 4;
    const int64_t buffer_bytes = (rle8 ? width : stride) * height;
    if (buffer_bytes > kMaxPixelBytes) {
        return refuse(EFBIG);
    }
    image->row_stride = static_cast<int32_t>(stride);
    return 0;
}

}  // namespace

int bmp_readheader(FILE* file, bmp_image* image) {
    const int first = fgetc(file);
    const int second = fgetc(file);
    image->seen.signature[0] = first == EOF ? -1 : first;
    image->seen.signature[1] = second == EOF ? -1 : second;
    if (first == EOF || second == EOF) {
        return short_read(file);
    }
    if (first != 'B' || second != 'M') {
        return refuse(EINVAL);
    }
    if (fread(image, 1, kHeaderBytes, file) != kHeaderBytes) {
        return short_read(file);
    }
    image->seen.header_read = true;
    if (image->info_size < kMinInfoBytes) {
        return refuse(EINVAL);
    }
    if (!is_supported(image)) {
        return refuse(ENOTSUP);
    }
    if (check_sizes(image) != 0) {
        return -1;
    }
    return derive_table_count(image);
}

int bmp_readpalette(FILE* file, bmp_image* image) {
    const auto count = static_cast<size_t>(image->table_count);
    if (count == 0) {
        return 0;
    }
    const bool masks = image->compression == kCompressionBitFields;
    // Palette entries follow the information header, whatever its length.
    const int64_t start = masks ? kMasksOffset : int64_t{kFileHeaderBytes} + image->info_size;
    if (start > LONG_MAX) {
        return refuse(EINVAL);
    }
    if (fseek(file, static_cast<long>(start), SEEK_SET) != 0) {
        return -1;
    }
    uint8_t bytes[4 * kPaletteEntries];
    if (fread(bytes, 4, count, file) != count) {
        return short_read(file);
    }
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* entry = bytes + 4 * i;
        const uint32_t value = uint32_t{entry[0]} | uint32_t{entry[1]} << 8 |
                               uint32_t{entry[2]} << 16 | uint32_t{entry[3]} << 24;
        // A palette entry is blue, green, red, unused: as a colour, drop the unused byte.
        image->table[i] = masks ? value : value & 0x00FFFFFFu;
    }
    return 0;
}
