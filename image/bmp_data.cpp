// Reading the pixel data: full rows from the file (zero where it ends early), RLE8 expanded,
// and top-down rows put bottom row first so that every lookup sees one row order.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "image/bmp_image.h"

namespace {

constexpr int64_t kMaxSeekBytes = LONG_MAX;  // fseek takes a long (32 bits on 32-bit ARM)

// A stat with 32-bit fields fails with EOVERFLOW on a file whose inode number or size needs
// more: 32-bit glibc builds must ask for the 64-bit calls (_FILE_OFFSET_BITS=64).
static_assert(sizeof(stat::st_ino) == 8 && sizeof(stat::st_size) == 8, "64-bit stat fields");

// Positions the file at the pixel data; false when the data would start past what a seek can
// reach (no data then).
bool seek_data(FILE* file, const bmp_image* image) {
    const int64_t offset = image->data_offset;
    if (offset > kMaxSeekBytes) {
        return false;
    }
    return fseek(file, static_cast<long>(offset), SEEK_SET) == 0;
}

// Reads rows stored top row first into their bottom-up places, one row at a time, so that only
// the rows the file holds are touched; `*read` counts the bytes that arrived. Returns false on a
// read error.
bool read_top_down(FILE* file, uint8_t* pixels, size_t stride, size_t rows, size_t* read) {
    for (size_t i = 0; i < rows; ++i) {
        const size_t got = fread(pixels + (rows - 1 - i) * stride, 1, stride, file);
        *read += got;
        if (got != stride) {
            return !ferror(file);
        }
    }
    return true;
}

// Rows whose pixels lie within the first `read` bytes of rows `stride` bytes apart; a last row
// that lacks only its padding counts.
int32_t rows_within(const bmp_image* image, size_t read) {
    const auto stride = static_cast<size_t>(image->row_stride);
    const size_t pixel_bytes = (static_cast<size_t>(image->width) * image->bit_count + 7) / 8;
    const size_t rows = read / stride + (read % stride >= pixel_bytes ? 1 : 0);
    return static_cast<int32_t>(std::min(rows, static_cast<size_t>(image->height)));
}

int read_uncompressed(FILE* file, bmp_image* image, size_t rows) {
    const size_t bytes = static_cast<size_t>(image->row_stride) * rows;
    image->pixels = static_cast<uint8_t*>(calloc(bytes, 1));
    if (image->pixels == nullptr) {
        errno = ENOMEM;
        return -1;
    }
    // image_size is not trusted (0 is common): the rows are what the picture needs, and what
    // a short file does not hold stays zero.
    const bool top_down = image->height < 0;
    image->height = static_cast<int32_t>(rows);  // from here on rows are stored bottom row first
    image->seen.data_expected = static_cast<int64_t>(bytes);
    if (!seek_data(file, image)) {
        return 0;
    }
    size_t read = 0;
    bool ok = true;
    if (top_down) {
        ok =
            read_top_down(file, image->pixels, static_cast<size_t>(image->row_stride), rows, &read);
    } else {
        read = fread(image->pixels, 1, bytes, file);
        ok = read == bytes || !ferror(file);
    }
    image->seen.data_present = static_cast<int64_t>(read);
    image->seen.rows_present = rows_within(image, read);
    return ok ? 0 : -1;
}

// Bytes the file holds from the pixel data to its end.
int64_t bytes_after_data(FILE* file, const bmp_image* image) {
    struct stat info {};
    if (fstat(fileno(file), &info) != 0) {
        return -1;
    }
    const int64_t after = static_cast<int64_t>(info.st_size) - image->data_offset;
    return after > 0 ? after : 0;
}

int read_rle8(FILE* file, bmp_image* image) {
    const int64_t available = bytes_after_data(file, image);
    if (available < 0) {
        return -1;
    }
    // The compressed buffer never exceeds what the file holds, nor the allocation limit.
    int64_t wanted = image->image_size != 0 ? int64_t{image->image_size} : available;
    image->seen.data_expected = wanted;
    wanted = std::min({wanted, available, kMaxPixelBytes});
    const size_t pixel_bytes = static_cast<size_t>(image->width) * image->height;
    image->pixels = static_cast<uint8_t*>(calloc(pixel_bytes, 1));
    if (image->pixels == nullptr) {
        errno = ENOMEM;
        return -1;
    }
    // The expanded rows are `width` bytes apart, and lookups step by `row_stride`.
    image->row_stride = image->width;
    size_t packed_bytes = 0;
    if (wanted > 0) {
        image->packed = static_cast<uint8_t*>(malloc(static_cast<size_t>(wanted)));
        if (image->packed == nullptr) {
            errno = ENOMEM;
            return -1;
        }
        if (seek_data(file, image)) {
            packed_bytes = fread(image->packed, 1, static_cast<size_t>(wanted), file);
        }
        if (ferror(file)) {
            return -1;
        }
    }
    image->seen.data_present = static_cast<int64_t>(packed_bytes);
    if (image->image_size == 0) {
        image->seen.data_expected = image->seen.data_present;  // the header gives no size to miss
    }
    rle8_decoding(image, packed_bytes);
    // Lookups read only the expanded rows: the compressed bytes go now rather than at bmp_close,
    // so that they are not held while the picture is converted.
    free(image->packed);
    image->packed = nullptr;
    return 0;
}

}  // namespace

int bmp_readdata(FILE* file, bmp_image* image) {
    if (image->compression == kCompressionRle8) {
        return read_rle8(file, image);
    }
    const int32_t height = image->height;
    const size_t rows = height < 0 ? static_cast<size_t>(-int64_t{height}) : size_t(height);
    return read_uncompressed(file, image, rows);
}
