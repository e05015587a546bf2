#include "screen/bitmap.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "screen/pixel_pack.h"
#include "screen/screen.h"

namespace {

// A screen-shaped buffer: `rows` rows of `columns` positions of `position_bytes` each, one row
// right after the other.
struct screen_area {
    int64_t columns;
    int64_t rows;
    int64_t position_bytes;
};

// What one drawing copies: `rows` pieces of `row_bytes` each, the first at `offset` in the
// area, the next ones `pitch` bytes further each.
struct row_copies {
    int64_t rows;
    int64_t row_bytes;
    int64_t offset;
    int64_t pitch;
};

// The part of a picture of `picture_rows` rows of `picture_row_bytes` bytes, placed with its
// top-left corner at (x, y), that lies on `area`: the picture is cut at the area's right and
// bottom edges; placed outside the area, or empty, it leaves nothing to copy.
row_copies clip_to_area(const screen_area& area, int64_t picture_rows, int64_t picture_row_bytes,
                        int64_t x, int64_t y) {
    const bool on_area = x >= 0 && y >= 0 && x < area.columns && y < area.rows;
    if (!on_area || picture_rows <= 0 || picture_row_bytes <= 0) {
        return row_copies{0, 0, 0, 0};
    }
    const int64_t pitch = area.columns * area.position_bytes;
    const int64_t left = x * area.position_bytes;
    return row_copies{std::min(picture_rows, area.rows - y),
                      std::min(picture_row_bytes, pitch - left), y * pitch + left, pitch};
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
    if (picture->pixels == nullptr || fbmem == nullptr || fbvar.xres == 0) {
        return;
    }
    // Never a byte outside the mapping: only the screen rows that lie wholly inside it are
    // drawn on. The program maps whole screens, so for it these are all `yres` rows.
    const int64_t position_bytes = screen_position_bytes(&fbvar);
    const int64_t mapped_rows = buffersize / (int64_t{fbvar.xres} * position_bytes);
    const screen_area screen{fbvar.xres, std::min<int64_t>(fbvar.yres, mapped_rows),
                             position_bytes};
    const row_copies c = clip_to_area(screen, picture->height, picture->row_bytes, x, y);
    if (c.rows == 0) {
        return;
    }
    const uint8_t* src = picture->pixels;
    uint8_t* dest = fbmem + c.offset;
    const auto n = static_cast<size_t>(c.row_bytes);
    if (c.row_bytes == picture->row_bytes && c.row_bytes == c.pitch) {
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
    // `dest` holds a whole screen of xres x yres pixels.
    const int64_t bpp = format.bytes_per_pixel;
    const screen_area area{screen->xres, screen->yres, bpp};
    const row_copies c = clip_to_area(area, bmp_height(image), bmp_width(image) * bpp, x, y);
    format.convert(image, static_cast<int32_t>(c.row_bytes / bpp), static_cast<int32_t>(c.rows),
                   dest + c.offset, static_cast<size_t>(c.pitch), &format);
}
