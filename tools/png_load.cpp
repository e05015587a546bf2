#include "tools/png_load.h"

#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include "check/media_check.h"

namespace {

// libpng reports an error by calling this, which must not return: it keeps the message and
// jumps back to the setjmp in decode(). Nothing with a destructor lives between the two.
void on_png_error(png_structp png, png_const_charp message) {
    auto* why = static_cast<std::string*>(png_get_error_ptr(png));
    *why = message;
    png_longjmp(png, 1);
}

void on_png_warning(png_structp, png_const_charp) {}

// Sets the transforms that turn any stored form into 8-bit RGBA.
void want_rgba8(png_structp png, png_infop info) {
    png_byte color_type = png_get_color_type(png, info);
    png_byte bit_depth = png_get_bit_depth(png, info);
    if (color_type == PNG_COLOR_TYPE_PALETTE) {
        png_set_palette_to_rgb(png);
    }
    if (color_type == PNG_COLOR_TYPE_GRAY && bit_depth < 8) {
        png_set_expand_gray_1_2_4_to_8(png);
    }
    bool has_trns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (has_trns) {
        png_set_tRNS_to_alpha(png);
    }
    if (bit_depth == 16) {
        png_set_strip_16(png);  // keeps the high byte of each channel
    }
    if (color_type == PNG_COLOR_TYPE_GRAY || color_type == PNG_COLOR_TYPE_GRAY_ALPHA) {
        png_set_gray_to_rgb(png);
    }
    if ((color_type & PNG_COLOR_MASK_ALPHA) == 0 && !has_trns) {
        png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    }
    png_set_interlace_handling(png);
}

// Decodes from `file` into `out`; on a libpng error returns false with `*why` set. `rows` is
// the caller's, so the jump back never skips a destructor.
bool decode(png_structp png, png_infop info, FILE* file, rgba_picture* out,
            std::vector<png_bytep>* rows, std::string* why) {
    // libpng reports errors only by jumping back here (see on_png_error).
    if (setjmp(png_jmpbuf(png)) != 0) {  // NOLINT(cert-err52-cpp)
        return false;
    }
    png_init_io(png, file);
    png_set_user_limits(png, kPngMaxSide, kPngMaxSide);
    png_read_info(png, info);
    png_uint_32 w = png_get_image_width(png, info);
    png_uint_32 h = png_get_image_height(png, info);
    if (int64_t{w} * h > kPngMaxPixels) {
        *why = std::to_string(w) + "x" + std::to_string(h) + " is " +
               std::to_string(int64_t{w} * h) + " pixels, more than make takes (" +
               std::to_string(kPngMaxPixels) +
               "): export it smaller, at the screen's size or below";
        return false;
    }
    want_rgba8(png, info);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t{w} * 4) {
        *why = "unexpected row layout after conversion";
        return false;
    }
    out->width = static_cast<int32_t>(w);
    out->height = static_cast<int32_t>(h);
    out->rgba.assign(size_t{w} * h * 4, 0);
    rows->resize(h);
    for (png_uint_32 y = 0; y < h; ++y) {
        (*rows)[y] = out->rgba.data() + size_t{y} * w * 4;
    }
    png_read_image(png, rows->data());
    png_read_end(png, nullptr);
    return true;
}

// What a file under a .png name is when it does not start with the PNG signature, named as
// the media check names files under a .bmp name, with what to do instead.
std::string not_png_text(int a, int b) {
    const char* kind = file_kind(a, b);
    if (kind == nullptr) {
        return "not a PNG file (it does not start with the PNG signature)";
    }
    if (a == 0x89) {
        return "cut short or damaged: it starts like a PNG file but not with its whole signature";
    }
    std::string text = std::string(kind) + ", not a PNG";
    if (a == 'B' && b == 'M') {
        return text + " (give it a .bmp name: make reads BMP sources with the program's reader)";
    }
    if (a == 0xFF) {
        return text + " (export it as PNG)";
    }
    return text;
}

}  // namespace

bool png_load(const std::string& path, rgba_picture* out, std::string* why) {
    // Opened without waiting (a FIFO put in the file's place would block a plain open) and
    // read only when it is a regular file.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *why = strerror(errno);
        return false;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        *why = "not a regular file";
        return false;
    }
    std::unique_ptr<FILE, int (*)(FILE*)> file(fdopen(fd, "rb"), fclose);
    if (!file) {
        *why = strerror(errno);
        close(fd);
        return false;
    }
    png_byte signature[8] = {};
    const size_t got = fread(signature, 1, sizeof signature, file.get());
    if (got != sizeof signature || png_sig_cmp(signature, 0, sizeof signature) != 0) {
        *why = not_png_text(got > 0 ? signature[0] : -1, got > 1 ? signature[1] : -1);
        return false;
    }
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, why, on_png_error, on_png_warning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        *why = "out of memory";
        return false;
    }
    png_set_sig_bytes(png, sizeof signature);
    std::vector<png_bytep> rows;
    bool ok = decode(png, info, file.get(), out, &rows, why);
    png_destroy_read_struct(&png, &info, nullptr);
    if (!ok && *why == "Read Error") {  // libpng's words for a file that ends early
        *why = "cut short: the file ends before its PNG data does (export it again)";
    }
    return ok;
}
