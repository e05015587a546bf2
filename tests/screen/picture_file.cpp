#include "tests/screen/picture_file.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>

#include "check/screen_format.h"

bmp_image* open_written(const rgb_picture& picture, const bmp_write_options& options) {
    static int serial = 0;
    std::string path = ::testing::TempDir() + "zelt_screen_" + std::to_string(getpid()) + "_" +
                       std::to_string(serial++) + ".bmp";
    const char* why = "";
    if (bmp_write(path.c_str(), picture, options, &why) != 0) {
        ADD_FAILURE() << "writing " << path << ": " << why;
        abort();
    }
    bmp_image* image = bmp_open(path.c_str());
    remove(path.c_str());
    if (image == nullptr) {
        ADD_FAILURE() << "reading back " << bmp_encoding_name(options.encoding) << " failed";
        abort();
    }
    return image;
}

fb_var_screeninfo test_screen(uint32_t width, uint32_t height, uint32_t bpp, const char* channels) {
    std::string text = std::to_string(width) + "x" + std::to_string(height) + "x" +
                       std::to_string(bpp) + (channels != nullptr ? ":" : "") +
                       (channels != nullptr ? channels : "");
    fb_var_screeninfo screen{};
    const char* why = "";
    if (parse_screen_format(text.c_str(), &screen, &why) != 0) {
        ADD_FAILURE() << text << ": " << why;
    }
    return screen;
}
