#include "screen/bitmap.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "screen/pixel_pack.h"
#include "screen/screen.h"

namespace {

// A screen-shaped buffer: `rows` rows of `columns` positions of `position_bytes` each, row r
// starting at byte `origin` + r x `pitch`.
struct screen_area {
    int64_t columns;
    int64_t rows;
    int64_t position_bytes;
    int64_t pitch;
    int64_t origin;
};

// The part of an area one drawing covers: `rows` rows from area row `top`, and of each the
// bytes from `left` (counted from the row's start) to `left` + `bytes`.
struct area_span {
    int64_t top;
    int64_t rows;
    int64_t left;
    int64_t bytes;
};

// Where a picture of `picture_rows` rows of `picture_row_bytes` bytes, placed with its top-left
// corner at (x, y), lies on `area`: cut at the area's right and bottom edges; placed outside
// the area, or empty, it covers nothing.
area_span clip_to_area(const screen_area& area, int64_t picture_rows, int64_t picture_row_bytes,
                       int64_t x, int64_t y) {
    const bool on_area = x >= 0 && y >= 0 && x < area.columns && y < area.rows;
    if (!on_area || picture_rows <= 0 || picture_row_bytes <= 0) {
        return area_span{0, 0, 0, 0};
    }
    const int64_t left = x * area.position_bytes;
    return area_span{y, std::min(picture_rows, area.rows - y), left,
                     std::min(picture_row_bytes, area.columns * area.position_bytes - left)};
}

// The mapped screen as an area: only the rows that lie wholly inside the mapping are drawn on,
// so that no byte outside it is ever written. The program maps the whole shown page, so for
// it these are all `yres` rows. False when there is nothing to draw on (no mapping, or a depth
// that is not drawn).
bool mapped_area(screen_area* area) {
    const int64_t position_bytes = drawn_pixel_bytes(fbvar.bits_per_pixel);
    const int64_t row_bytes = int64_t{fbvar.xres} * position_bytes;
    const auto pitch = static_cast<int64_t>(fblayout.pitch);
    const auto origin = static_cast<int64_t>(fblayout.origin);
    if (fbmem == nullptr || row_bytes == 0 || pitch < row_bytes ||
        origin + row_bytes > buffersize) {
        return false;
    }
    const int64_t mapped_rows = (buffersize - origin - row_bytes) / pitch + 1;
    *area = screen_area{fbvar.xres, std::min<int64_t>(fbvar.yres, mapped_rows), position_bytes,
                        pitch, origin};
    return true;
}

// Copies rows [first, end) of `picture`'s part on the screen (`span`), and of each the bytes
// from `from` to `to`, counted from the span's left edge.
void copy_span(const prepared_bitmap* picture, const screen_area& area, const area_span& span,
               int64_t first, int64_t end, int64_t from, int64_t to) {
    if (first >= end || from >= to) {
        return;
    }
    const uint8_t* src = picture->pixels + first * picture->row_bytes + from;
    uint8_t* dest = fbmem + area.origin + (span.top + first) * area.pitch + span.left + from;
    const auto n = static_cast<size_t>(to - from);
    if (to - from == picture->row_bytes && to - from == area.pitch) {
        // Rows that follow one another in both buffers go over in one block copy (which the C
        // library can stream past the caches).
        memcpy(dest, src, n * static_cast<size_t>(end - first));
        return;
    }
    for (int64_t i = first; i < end; ++i) {
        memcpy(dest, src, n);
        src += picture->row_bytes;
        dest += area.pitch;
    }
}

int64_t clamp_to(int64_t value, int64_t high) {
    return std::min(std::max<int64_t>(value, 0), high);
}

}  // namespace

int prepared_size(int32_t width, int32_t height, const fb_var_screeninfo* screen,
                  int32_t* row_bytes, size_t* total) {
    if (!picture_buffer_size(width, height, drawn_pixel_bytes(screen->bits_per_pixel), row_bytes,
                             total) ||
        static_cast<uint64_t>(*total) > static_cast<uint64_t>(kMaxPixelBytes)) {
        errno = EFBIG;
        return -1;
    }
    return 0;
}

int prepare_bitmap(const bmp_image* image, prepared_bitmap* out) {
    int32_t w = bmp_width(image);
    int32_t h = bmp_height(image);
    int32_t row_bytes = 0;
    size_t total = 0;
    // Refused before allocating: where memory is overcommitted the allocation would succeed and
    // the conversion, touching every page, would end the process with the screen mapped.
    if (prepared_size(w, h, &fbvar, &row_bytes, &total) != 0) {
        *out = prepared_bitmap{};
        perror("prepare_bitmap");
        return -1;
    }
    pixel_format format = pixel_format_for(&fbvar);
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
    screen_area area{};
    if (picture->pixels == nullptr || !mapped_area(&area)) {
        return;
    }
    const area_span span = clip_to_area(area, picture->height, picture->row_bytes, x, y);
    copy_span(picture, area, span, 0, span.rows, 0, span.bytes);
}

void draw_prepared_bitmap_around(const prepared_bitmap* picture, int x, int y,
                                 const prepared_bitmap* cover, int cover_x, int cover_y) {
    screen_area area{};
    if (picture->pixels == nullptr || !mapped_area(&area)) {
        return;
    }
    const area_span span = clip_to_area(area, picture->height, picture->row_bytes, x, y);
    const area_span hole =
        cover->pixels == nullptr
            ? area_span{0, 0, 0, 0}
            : clip_to_area(area, cover->height, cover->row_bytes, cover_x, cover_y);
    // The hole in the picture's own rows and bytes; an empty hole leaves nothing out.
    const int64_t hole_first = clamp_to(hole.top - span.top, span.rows);
    const int64_t hole_end = clamp_to(hole.top + hole.rows - span.top, span.rows);
    const int64_t hole_from = clamp_to(hole.left - span.left, span.bytes);
    const int64_t hole_to = clamp_to(hole.left + hole.bytes - span.left, span.bytes);
    copy_span(picture, area, span, 0, hole_first, 0, span.bytes);               // above
    copy_span(picture, area, span, hole_first, hole_end, 0, hole_from);         // left of it
    copy_span(picture, area, span, hole_first, hole_end, hole_to, span.bytes);  // right of it
    copy_span(picture, area, span, hole_end, span.rows, 0, span.bytes);         // below
}

void draw_bitmap(const bmp_image* image, const fb_var_screeninfo* screen, uint8_t* dest, int x,
                 int y) {
    pixel_format format = pixel_format_for(screen);
    if (format.convert == nullptr || dest == nullptr) {
        return;
    }
    // `dest` holds a whole screen of xres x yres pixels, rows packed.
    const int64_t bpp = format.bytes_per_pixel;
    const int64_t pitch = int64_t{screen->xres} * bpp;
    const screen_area area{screen->xres, screen->yres, bpp, pitch, 0};
    const area_span span = clip_to_area(area, bmp_height(image), bmp_width(image) * bpp, x, y);
    format.convert(image, static_cast<int32_t>(span.bytes / bpp), static_cast<int32_t>(span.rows),
                   dest + span.top * pitch + span.left, static_cast<size_t>(pitch), &format);
}
