// The media check: each picture of the asset table, in loading order, opened with the program's
// reader, described, and measured against the screen at the place it is drawn.
#include "check/media_check.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "image/bmplib.h"
#include "player/assets.h"

namespace {

// The fields of a BMP header the reader's public face does not expose.
struct bmp_peek {
    uint32_t info_size;    // length of the information header (file bytes 14..17)
    uint16_t bit_count;    // bits per pixel (28..29)
    uint32_t compression;  // 0 none, 1 RLE8, 3 bit fields (30..33)
    bool top_down;         // negative height (22..25): rows stored top row first
};

constexpr size_t kPeekBytes = 34;

uint32_t le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Reads the header fields of a file the reader has just accepted (so it is at least this long).
bool peek_header(const std::string& path, bmp_peek* out) {
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return false;
    }
    uint8_t bytes[kPeekBytes];
    bool ok = fread(bytes, 1, kPeekBytes, f) == kPeekBytes;
    fclose(f);
    if (!ok) {
        return false;
    }
    out->info_size = le32(bytes + 14);
    out->bit_count = static_cast<uint16_t>(bytes[28] | bytes[29] << 8);
    out->compression = le32(bytes + 30);
    out->top_down = (bytes[25] & 0x80) != 0;
    return true;
}

const char* encoding_name(const bmp_peek& peek) {
    switch (peek.compression) {
        case 1:
            return "rle8";
        case 3:
            return "bitfields";
        default:
            return peek.bit_count <= 8 ? "palette" : "rgb";
    }
}

// How much of a w x h picture drawn at (x, y) the screen cuts off: the same edges as
// draw_prepared_bitmap (nothing at or past the right or bottom edge, rows and columns cut
// there).
std::string clipping_text(int64_t w, int64_t h, int64_t x, int64_t y,
                          const fb_var_screeninfo& screen) {
    int64_t room_w = x < screen.xres ? int64_t{screen.xres} - x : 0;
    int64_t room_h = y < screen.yres ? int64_t{screen.yres} - y : 0;
    int64_t shown_w = w < room_w ? w : room_w;
    int64_t shown_h = h < room_h ? h : room_h;
    if (shown_w == w && shown_h == h) {
        return "fits";
    }
    if (shown_w == 0 || shown_h == 0) {
        return "clipped by " + std::to_string(w) + "x" + std::to_string(h) + " px, nothing shown";
    }
    return "clipped by " + std::to_string(w - shown_w) + "x" + std::to_string(h - shown_h) + " px";
}

void asset_position(int index, int* x, int* y) {
    *x = index == 0 ? kTitleX : kFrameX;
    *y = index == 0 ? kTitleY : kFrameY;
}

}  // namespace

std::string asset_file_name(int index) {
    const char* path = *asset_table[index].path;
    const char* slash = strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

std::string folder_path(const std::string& dir, const std::string& name) {
    std::string path = dir;
    path += '/';
    path += name;
    return path;
}

std::string refusal_text(int error) {
    std::string text = strerror(error);
    switch (error) {
        case EINVAL:
            return text + " (malformed or cut short)";
        case ENOTSUP:
            return text + " (depth or compression the reader does not take)";
        case EFBIG:
            return text + " (larger than the reader takes)";
        default:
            return text;
    }
}

int assets_check(const std::string& dir, const fb_var_screeninfo& screen, int* stops_at) {
    const int64_t screen_bytes_per_pixel = screen.bits_per_pixel / 8;
    int first_refused = -1;
    for (int i = 0; i < kAssetCount; ++i) {
        std::string name = asset_file_name(i);
        std::string path = dir.empty() ? *asset_table[i].path : folder_path(dir, name);
        bmp_image* image = bmp_open(path.c_str());
        if (image == nullptr) {
            std::string why = refusal_text(errno);
            printf("%s: refused: %s%s\n", name.c_str(), why.c_str(),
                   first_refused < 0 ? "; the program stops loading here" : "");
            if (first_refused < 0) {
                first_refused = i;
            }
            continue;
        }
        int64_t w = bmp_width(image);
        int64_t h = bmp_height(image);
        bmp_close(image);
        bmp_peek peek{};
        if (!peek_header(path, &peek)) {
            printf("%s: %s\n", name.c_str(), "changed while being checked");
            if (first_refused < 0) {
                first_refused = i;
            }
            continue;
        }
        int x = 0, y = 0;
        asset_position(i, &x, &y);
        printf("%s: %" PRId64 "x%" PRId64 ", %u bpp %s%s, %" PRIu32
               "-byte header; at (%d,%d) %s, keeps %" PRId64 " bytes\n",
               name.c_str(), w, h, unsigned{peek.bit_count}, encoding_name(peek),
               peek.top_down ? " top-down" : "", peek.info_size, x, y,
               clipping_text(w, h, x, y, screen).c_str(), w * h * screen_bytes_per_pixel);
    }
    if (first_refused >= 0) {
        printf("result: the program stops loading at %s\n", asset_file_name(first_refused).c_str());
        if (stops_at != nullptr) {
            *stops_at = first_refused;
        }
        return kExitStopsLoading;
    }
    printf("result: the program plays on a %ux%ux%u screen\n", screen.xres, screen.yres,
           screen.bits_per_pixel);
    return kExitPlays;
}
