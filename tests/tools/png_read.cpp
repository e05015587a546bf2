#include "tests/tools/png_read.h"

#include <png.h>

bool read_png(const std::string& path, uint32_t* w, uint32_t* h, std::vector<uint8_t>* rgb) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path.c_str()) == 0) {
        return false;
    }
    image.format = PNG_FORMAT_RGB;
    rgb->resize(PNG_IMAGE_SIZE(image));
    *w = image.width;
    *h = image.height;
    return png_image_finish_read(&image, nullptr, rgb->data(), 0, nullptr) != 0;
}
