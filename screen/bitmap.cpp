#include "screen/bitmap.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "screen/pixel_pack.h"
#include "screen/screen.h"

namespace {

// The part of a picture that one drawing copies: `rows` copies of `row_copy_bytes` each.
struct clip_result {
    int64_t rows;
    int64_t row_copy_bytes;
    int64_t first_offset;  // destination byte of the picture's top-left corner
    int64_t pitch;         // destination bytes from one screen row to the next
};

// Rows and bytes per row of a picture placed at (x, y) that fit on a screen of `columns` x
// `rows` positions of `position_bytes` each, within a buffer of `buffer_bytes`. Anything placed
// at or beyond the right or bottom edge, or at a negative position, yields no rows; a row is
// never longer than the room to the right edge, and no row ends past the buffer.
clip_result clip_rows(int64_t picture_rows, int64_t picture_row_bytes, int x, int y,
                      int64_t columns, int64_t rows, int64_t position_bytes, int64_t buffer_bytes) {
    clip_result c{0, 0, 0, columns * position_bytes};
    if (x < 0 || y < 0 || x >= columns || y >= rows || picture_rows <= 0 ||
        picture_row_bytes <= 0) {
        return c;
    }
    int64_t left = x * position_bytes;
    int64_t n = picture_row_bytes < c.pitch - left ? picture_row_bytes : c.pitch - left;
    int64_t r = picture_rows < rows - y ? picture_rows : rows - y;
    c.first_offset = y * c.pitch + left;
    // The mapping may be shorter than the screen it describes: keep every row inside it.
    int64_t room = buffer_bytes - c.first_offset - n;
    if (room < 0) {
        return c;
    }
    int64_t fitting = room / c.pitch + 1;
    c.rows = r < fitting ? r : fitting;
    c.row_copy_bytes = n;
    return c;
}

}  // namespace

int prepare_bitmap(const bmp_image* image, prepared_bitmap* out) {
    int32_t w = bmp_width(image);
    int32_t h = bmp_height(image);
    pixel_format format = pixel_format_for(&fbvar);
    int32_t row_bytes = 0;
    size_t total = 0;
    // Refused before allocating: where memory is overcommitted the allocation would succeed and
    // the conversion, touching every page, would end the process with the screen mapped.
    if (!picture_buffer_size(w, h, format.bytes_per_pixel, &row_bytes, &total) ||
        static_cast<uint64_t>(total) > static_cast<uint64_t>(kMaxPixelBytes)) {
        *out = prepared_bitmap{};
        errno = EFBIG;
        perror("prepare_bitmap");
        return -1;
    }
    if (format.convert == nullptr) {
        // A depth that is not drawn: the record keeps row_bytes 0, so nothing of it is ever
        // copied, and no buffer is taken for pixels no one will read.
        *out = prepared_bitmap{w, h, 0, nullptr};
        return 0;
    }
    auto* pixels = static_cast<uint8_t*>(malloc(total > 0 ? total : 1));
    if (pixels == nullptr) {
        *out = prepared_bitmap{};
        errno = ENOMEM;
        perror("prepare_bitmap");
        return -1;
    }
    format.convert(image, w, h, pixels, static_cast<size_t>(row_bytes), &format);
    *out = prepared_bitmap{w, h, row_bytes, pixels};
    return 0;
}

void draw_prepared_bitmap(const prepared_bitmap* picture, int x, int y) {
    if (picture->pixels == nullptr || fbmem == nullptr) {
        return;
    }
    clip_result c = clip_rows(picture->height, picture->row_bytes, x, y, fbvar.xres, fbvar.yres,
                              screen_position_bytes(&fbvar), buffersize);
    const uint8_t* src = picture->pixels;
    uint8_t* dest = fbmem + c.first_offset;
    auto n = static_cast<size_t>(c.row_copy_bytes);
    if (c.row_copy_bytes == picture->row_bytes && c.row_copy_bytes == c.pitch) {
        // A picture as wide as the screen: its rows follow one another in both buffers, so
        // they go over in one block copy (which the C library can stream past the caches).
        memcpy(dest, src, n * static_cast<size_t>(c.rows));
        return;
    }
    for (int64_t i = 0; i < c.rows; ++i) {
        memcpy(dest, src, n);
        src += picture->row_bytes;
        dest += c.pitch;
    }
}

void draw_bitmap(const bmp_image* image, const fb_var_screeninfo* screen, uint8_t* dest, int x,
                 int y) {
    pixel_format format = pixel_format_for(screen);
    if (format.convert == nullptr || dest == nullptr) {
        return;
    }
    int64_t bpp = format.bytes_per_pixel;
    int64_t columns = screen->xres;
    int64_t rows = screen->yres;
    int64_t w = bmp_width(image);
    // `dest` holds a whole screen of xres x yres pixels.
    clip_result c =
        clip_rows(bmp_height(image), w * bpp, x, y, columns, rows, bpp, columns * rows * bpp);
    format.convert(image, static_cast<int32_t>(c.row_copy_bytes / bpp),
                   static_cast<int32_t>(c.rows), dest + c.first_offset,
                   static_cast<size_t>(c.pitch), &format);
}
