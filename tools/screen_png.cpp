#include "tools/screen_png.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "tools/out_file.h"

namespace {

bool set_why(const char** why, const char* reason) {
    if (why != nullptr) {
        *why = reason;
    }
    return false;
}

// A channel of `length` bits at `offset` of a pixel value, widened to 8 bits by shifting left.
uint8_t widen(uint32_t value, const fb_bitfield& f) {
    if (f.length == 0 || f.offset >= 32) {
        return 0;
    }
    uint32_t length = f.length > 8 ? 8 : f.length;
    uint32_t top = f.offset + f.length - length;  // channels over 8 bits keep their top 8
    if (top >= 32) {
        return 0;
    }
    uint32_t bits = (value >> top) & ((1U << length) - 1);
    return static_cast<uint8_t>(bits << (8 - length));
}

// What the PNG writer's callbacks leave for the caller: the stream, and the error of a write
// that failed (0 when libpng itself gave up).
struct png_sink {
    FILE* stream;
    int write_error;
};

// libpng reports an error by calling this, which must not return: it jumps back to the setjmp
// in write_png_file. The message is not printed: the tool reports the failure in its own line.
void on_png_error(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void on_png_warning(png_structp, png_const_charp) {}

void on_png_write(png_structp png, png_bytep data, size_t length) {
    auto* sink = static_cast<png_sink*>(png_get_io_ptr(png));
    if (fwrite(data, 1, length, sink->stream) != length) {
        sink->write_error = errno != 0 ? errno : EIO;
        png_error(png, "write failed");
    }
}

void on_png_flush(png_structp png) {
    auto* sink = static_cast<png_sink*>(png_get_io_ptr(png));
    if (fflush(sink->stream) != 0) {
        sink->write_error = errno;
        png_error(png, "write failed");
    }
}

// Writes the PNG into `sink`; kept apart from any object with a destructor because libpng
// reports errors with longjmp.
bool write_png_file(png_sink* sink, uint32_t width, uint32_t height, const uint8_t* rgb) {
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, on_png_error, on_png_warning);
    if (png == nullptr) {
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    // libpng reports errors only by jumping back here (see on_png_error).
    if (setjmp(png_jmpbuf(png)) != 0) {  // NOLINT(cert-err52-cpp)
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, sink, on_png_write, on_png_flush);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 3);  // speed over size: the demo writes a frame per cycle
    png_write_info(png, info);
    for (uint32_t y = 0; y < height; ++y) {
        png_write_row(png, rgb + static_cast<size_t>(y) * width * 3);
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

bool screen_to_rgb(const fb_var_screeninfo& screen, const uint8_t* bytes, size_t size,
                   std::vector<uint8_t>* rgb) {
    uint32_t bpp = screen.bits_per_pixel;
    if (bpp != 32 && bpp != 24 && bpp != 16) {
        return false;
    }
    size_t pixel_bytes = bpp / 8;
    size_t count = static_cast<size_t>(screen.xres) * screen.yres;
    if (count == 0 || size / pixel_bytes < count) {
        return false;
    }
    rgb->resize(count * 3);
    uint8_t* out = rgb->data();
    for (size_t i = 0; i < count; ++i, out += 3) {
        const uint8_t* p = bytes + i * pixel_bytes;
        uint32_t v = 0;
        for (size_t b = 0; b < pixel_bytes; ++b) {
            v |= static_cast<uint32_t>(p[b]) << (8 * b);  // little-endian pixel value
        }
        out[0] = widen(v, screen.red);
        out[1] = widen(v, screen.green);
        out[2] = widen(v, screen.blue);
    }
    return true;
}

int png_write_rgb(const char* path, uint32_t width, uint32_t height, const uint8_t* rgb,
                  const char** why) {
    if (width == 0 || height == 0 || width > PNG_USER_WIDTH_MAX || height > PNG_USER_HEIGHT_MAX) {
        set_why(why, "picture size out of range for PNG");
        return -1;
    }
    out_file file;
    if (out_file_open(path, &file) != 0) {
        set_why(why, strerror(errno));
        return -1;
    }
    png_sink sink{file.stream, 0};
    if (!write_png_file(&sink, width, height, rgb)) {
        out_file_discard(&file);
        set_why(why, sink.write_error != 0 ? strerror(sink.write_error) : "the PNG encoder failed");
        return -1;
    }
    if (out_file_finish(&file) != 0 || out_file_commit(&file) != 0) {
        set_why(why, strerror(errno));
        return -1;
    }
    return 0;
}

int screen_write_png(const char* path, const fb_var_screeninfo& screen, const uint8_t* bytes,
                     size_t size, const char** why) {
    std::vector<uint8_t> rgb;
    if (!screen_to_rgb(screen, bytes, size, &rgb)) {
        set_why(why, "screen bytes are short or of a depth other than 16, 24 or 32 bits");
        return -1;
    }
    return png_write_rgb(path, screen.xres, screen.yres, rgb.data(), why);
}

int player_page_write(const std::string& dir, const std::vector<std::string>& frames,
                      const char** why) {
    std::string list;
    for (const std::string& name : frames) {
        if (name.find_first_of("\"\\<>\n") != std::string::npos) {
            set_why(why, "frame names must not hold quotes, backslashes, angle brackets");
            return -1;
        }
        list += (list.empty() ? "\"" : ",\"") + name + "\"";
    }
    std::string page =
        "<!DOCTYPE html>\n"
        "<html><head><meta charset=\"utf-8\"><title>ZELT animation frames</title>\n"
        "<style>body{background:#222;color:#ddd;font-family:sans-serif;text-align:center}"
        "img{max-height:85vh;border:1px solid #555;image-rendering:pixelated}</style>\n"
        "</head><body>\n"
        "<p><button id=\"toggle\">pause</button> <span id=\"label\"></span></p>\n"
        "<img id=\"frame\" alt=\"screen\">\n"
        "<script>\n"
        "const frames = [" +
        list +
        "];\n"
        "const img = document.getElementById('frame');\n"
        "const label = document.getElementById('label');\n"
        "let i = 0, timer = null;\n"
        "function show() {\n"
        "  if (frames.length === 0) { label.textContent = 'no frames'; return; }\n"
        "  img.src = frames[i];\n"
        "  label.textContent = frames[i] + ' (' + (i + 1) + '/' + frames.length + ')';\n"
        "  i = (i + 1) % frames.length;\n"
        "}\n"
        "function play() { timer = setInterval(show, " +
        std::to_string(1000 / kPlayerPageFps) +
        "); }\n"
        "document.getElementById('toggle').onclick = function () {\n"
        "  if (timer) { clearInterval(timer); timer = null; this.textContent = 'play'; }\n"
        "  else { play(); this.textContent = 'pause'; }\n"
        "};\n"
        "show(); play();\n"
        "</script>\n"
        "</body></html>\n";
    if (out_file_write(dir + "/index.html", page.data(), page.size()) != 0) {
        set_why(why, strerror(errno));
        return -1;
    }
    return 0;
}
