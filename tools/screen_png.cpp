#include "tools/screen_png.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>

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

// Writes the PNG; kept apart from any object with a destructor because libpng reports errors
// with longjmp.
bool write_png_file(FILE* f, uint32_t width, uint32_t height, const uint8_t* rgb) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) {
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, f);
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
    FILE* f = fopen(path, "wb");
    if (f == nullptr) {
        set_why(why, "cannot create the PNG file");
        return -1;
    }
    bool ok = write_png_file(f, width, height, rgb);
    ok = (fclose(f) == 0) && ok;
    if (!ok) {
        set_why(why, "cannot write the PNG file");
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
    std::string path = dir + "/index.html";
    FILE* f = fopen(path.c_str(), "w");
    if (f == nullptr) {
        set_why(why, "cannot create index.html");
        return -1;
    }
    bool ok = fwrite(page.data(), 1, page.size(), f) == page.size();
    ok = (fclose(f) == 0) && ok;
    if (!ok) {
        set_why(why, "cannot write index.html");
        return -1;
    }
    return 0;
}
