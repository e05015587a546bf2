// The media check: each picture of the asset table, in loading order, opened with the program's
// reader, described, and measured against the screen at the place it is drawn.
#include "check/media_check.h"

#include <sys/stat.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "image/bmplib.h"
#include "player/assets.h"
#include "screen/bitmap.h"

namespace {

const char* encoding_name(const bmp_seen& seen) {
    switch (seen.compression) {
        case 1:
            return "rle8";
        case 3:
            return "bitfields";
        default:
            return seen.bit_count <= 8 ? "palette" : "rgb";
    }
}

// A kind of file the reader refuses, in plain words, and what to do instead.
struct refused_kind {
    std::string what;
    const char* way_out;
};

constexpr char kGiveThePng[] = "give zelt-assets make the PNG";
constexpr char kSavePlain[] =
    "save it as an uncompressed BMP (or 8-bit RLE), or give zelt-assets make the PNG";
constexpr char kSaveWindows[] =
    "save it as a Windows BMP (40-byte header or longer), or give zelt-assets make the PNG";
constexpr uint32_t kOs2InfoBytes = 64;  // OS/2 2.x: compression 3 and 4 mean other things there

// A file that does not start with "BM": some other format under a .bmp name.
refused_kind foreign_kind(const bmp_seen& seen) {
    const char* kind = file_kind(seen.signature[0], seen.signature[1]);
    if (kind == nullptr) {
        return {"not a BMP file (it does not start with \"BM\")", kGiveThePng};
    }
    if (seen.signature[0] == 0xFF) {
        return {std::string(kind) + ", not a BMP",
                "export it as PNG and give zelt-assets make the PNG"};
    }
    if (seen.signature[0] != 0x89) {
        return {std::string(kind) + ", not a plain BMP", kSaveWindows};
    }
    return {std::string(kind) + ", not a BMP", kGiveThePng};
}

// A BMP whose depth or compression the reader does not take.
refused_kind unsupported_kind(const bmp_seen& seen) {
    const int bits = seen.bit_count;
    const bool os2 = seen.info_size == kOs2InfoBytes;
    switch (seen.compression) {
        case 0:
            return {std::to_string(bits) + "-bit pixels (the reader takes 1, 4, 8, 16, 24 and 32)",
                    kSavePlain};
        case 1:
            return {"8-bit RLE on a " + std::to_string(bits) + "-bit picture", kSavePlain};
        case 2:
            return {"4-bit RLE compression",
                    "save it without RLE compression, or give zelt-assets make the PNG"};
        case 3:
            if (os2) {
                return {"Huffman coding (an OS/2 fax format)", kSavePlain};
            }
            return {"bit fields on a " + std::to_string(bits) + "-bit picture", kSavePlain};
        case 4:
            if (os2) {
                return {"24-bit RLE compression (OS/2)", kSavePlain};
            }
            return {"JPEG data inside a BMP", kGiveThePng};
        case 5:
            return {"PNG data inside a BMP", kGiveThePng};
        case 6:
            return {"bit fields with an alpha mask", kSavePlain};
        case 11:
        case 12:
        case 13:
            return {"CMYK colours", kSavePlain};
        default:
            return {"compression code " + std::to_string(seen.compression), kSavePlain};
    }
}

// Names the kind of file refused when what the reader saw tells it; false otherwise.
bool refused_kind_of(int error, const bmp_seen& seen, refused_kind* kind) {
    if (seen.signature[0] < 0 || seen.signature[1] < 0) {
        return false;  // nothing read: the open's own error, or an empty file
    }
    if (seen.signature[0] != 'B' || seen.signature[1] != 'M') {
        *kind = foreign_kind(seen);
        return true;
    }
    if (!seen.header_read) {
        return false;
    }
    if (seen.info_size < 40) {
        *kind = {seen.info_size == 12
                     ? "an OS/2 1.x BMP (12-byte header)"
                     : "a " + std::to_string(seen.info_size) + "-byte header (OS/2 or damaged)",
                 kSaveWindows};
        return true;
    }
    if (error == ENOTSUP) {
        *kind = unsupported_kind(seen);
        return true;
    }
    return false;
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

entry_kind entry_at(const std::string& path, std::string* name) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
        return entry_kind::absent;
    }
    if (S_ISLNK(st.st_mode) && stat(path.c_str(), &st) != 0) {
        return entry_kind::dangling_link;
    }
    if (S_ISREG(st.st_mode)) {
        return entry_kind::regular;
    }
    *name = S_ISFIFO(st.st_mode)   ? "a FIFO"
            : S_ISDIR(st.st_mode)  ? "a directory"
            : S_ISCHR(st.st_mode)  ? "a character device"
            : S_ISBLK(st.st_mode)  ? "a block device"
            : S_ISSOCK(st.st_mode) ? "a socket"
                                   : "not a file";
    return entry_kind::other;
}

bool entry_readable(entry_kind entry, const std::string& name, std::string* why) {
    switch (entry) {
        case entry_kind::dangling_link:
            *why = "a symlink to nothing (its target does not exist)";
            return false;
        case entry_kind::other:
            *why = "not a regular file (" + name + ")";
            return false;
        default:
            return true;
    }
}

const char* file_kind(int a, int b) {
    if (a < 0) {
        return "an empty file";
    }
    if (a == 0x89 && b == 'P') {
        return "a PNG file";
    }
    if (a == 0xFF && b == 0xD8) {
        return "a JPEG file";
    }
    if (a == 'B' && b == 'M') {
        return "a BMP file";
    }
    if ((a == 'B' && b == 'A') || (a == 'I' && b == 'C') || (a == 'C' && (b == 'I' || b == 'P')) ||
        (a == 'P' && b == 'T')) {
        return "an OS/2 bitmap array, icon or pointer";
    }
    return nullptr;
}

bmp_image* open_picture(const std::string& path, bmp_seen* seen, std::string* why) {
    std::string name;
    if (!entry_readable(entry_at(path, &name), name, why)) {
        return nullptr;
    }
    bmp_image* image = bmp_open_seen(path.c_str(), seen);
    if (image != nullptr) {
        return image;
    }
    const int error = errno;
    *why = refusal_text(error, *seen);
    const size_t dot = path.rfind('.');
    const std::string png = path.substr(0, dot) + ".png";
    if (error == ENOENT && entry_at(png, &name) == entry_kind::regular) {
        const size_t slash = png.rfind('/');
        *why += " (" + png.substr(slash + 1) +
                " is there: zelt-assets make SRC OUT makes the program's BMPs from the PNGs)";
    }
    return nullptr;
}

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

std::string refusal_text(int error, const bmp_seen& seen) {
    refused_kind kind;
    if (refused_kind_of(error, seen, &kind)) {
        return kind.what + ", which the program's reader does not take (" + kind.way_out + ")";
    }
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

bool is_cut_short(const bmp_seen& seen) {
    const int64_t rows = seen.height < 0 ? -int64_t{seen.height} : seen.height;
    return seen.rows_present < rows;
}

std::string cut_short_text(const bmp_seen& seen) {
    const int64_t rows = seen.height < 0 ? -int64_t{seen.height} : seen.height;
    // Rows are stored bottom row first unless the height is negative: the file ends in the
    // rows at the other edge.
    std::string text = std::string("cut short: the ") + (seen.height < 0 ? "bottom " : "top ") +
                       std::to_string(rows - seen.rows_present) + " of " + std::to_string(rows) +
                       " rows are missing (";
    if (seen.data_present < seen.data_expected) {
        text += std::to_string(seen.data_present) + " of " + std::to_string(seen.data_expected) +
                " bytes of pixel data present";
    } else {
        text += "the RLE8 codes end early";
    }
    return text + "), shown black";
}

namespace {

// The "keeps" part of a picture's line: the size of its copy for `screen`, or, when the
// program's limit refuses that copy, the sizes and the way out. False when it is refused.
bool copy_text(int64_t w, int64_t h, const fb_var_screeninfo& screen, std::string* text) {
    int32_t row_bytes = 0;
    size_t total = 0;
    if (prepared_size(static_cast<int32_t>(w), static_cast<int32_t>(h), &screen, &row_bytes,
                      &total) == 0) {
        *text = "keeps " + std::to_string(total) + " bytes";
        return true;
    }
    const uint32_t pixel_bytes = screen.bits_per_pixel / 8;
    *text = "not drawn: its copy for this screen would be " +
            std::to_string(uint64_t(w) * uint64_t(h) * pixel_bytes) +
            " bytes, more than the program's limit of " + std::to_string(kMaxPixelBytes) +
            " (\"prepare_bitmap: File too large\"); the copy takes " + std::to_string(pixel_bytes) +
            " bytes a pixel whatever the file's depth, so fewer colours do not help: make it at "
            "most " +
            std::to_string(kMaxPixelBytes / pixel_bytes) + " pixels";
    return false;
}

}  // namespace

int assets_check(const std::string& dir, const fb_var_screeninfo& screen, std::string* fault) {
    int first_refused = -1;
    std::string cut_short;  // names of the pictures cut short, in loading order
    std::string not_drawn;  // names of the pictures whose copy the program refuses
    for (int i = 0; i < kAssetCount; ++i) {
        std::string name = asset_file_name(i);
        std::string path = dir.empty() ? *asset_table[i].path : folder_path(dir, name);
        bmp_seen seen{};
        std::string why;
        bmp_image* image = open_picture(path, &seen, &why);
        if (image == nullptr) {
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
        std::string missing;
        if (is_cut_short(seen)) {
            missing = "; " + cut_short_text(seen);
            cut_short += (cut_short.empty() ? "" : ", ") + name;
        }
        std::string copy;
        if (!copy_text(w, h, screen, &copy)) {
            not_drawn += (not_drawn.empty() ? "" : ", ") + name;
        }
        int x = 0, y = 0;
        asset_position(i, &x, &y);
        printf("%s: %" PRId64 "x%" PRId64 ", %d bpp %s%s, %" PRIu32
               "-byte header; at (%d,%d) %s, %s%s\n",
               name.c_str(), w, h, int{seen.bit_count}, encoding_name(seen),
               seen.height < 0 ? " top-down" : "", seen.info_size, x, y,
               clipping_text(w, h, x, y, screen).c_str(), copy.c_str(), missing.c_str());
    }
    std::string found;
    if (first_refused >= 0) {
        printf("result: the program stops loading at %s\n", asset_file_name(first_refused).c_str());
        found = "loading stops at " + asset_file_name(first_refused);
    } else if (!cut_short.empty() || !not_drawn.empty()) {
        std::string shown;
        if (!not_drawn.empty()) {
            shown = "never draws " + not_drawn;
            found = not_drawn + " not drawn";
        }
        if (!cut_short.empty()) {
            shown += (shown.empty() ? "shows " : " and shows ") + cut_short + " cut short";
            found += (found.empty() ? "" : "; ") + cut_short + " cut short";
        }
        printf("result: the program plays on a %ux%ux%u screen, but %s\n", screen.xres, screen.yres,
               screen.bits_per_pixel, shown.c_str());
    } else {
        printf("result: the program plays on a %ux%ux%u screen\n", screen.xres, screen.yres,
               screen.bits_per_pixel);
        return kExitPlays;
    }
    if (fault != nullptr) {
        *fault = found;
    }
    return kExitStopsLoading;
}
