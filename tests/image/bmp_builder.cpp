#include "tests/image/bmp_builder.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

void put16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t value) {
    put16(out, value & 0xFFFFu);
    put16(out, value >> 16);
}

}  // namespace

std::vector<uint8_t> bmp_bytes(const bmp_recipe& recipe) {
    const bool masks_in_header = recipe.info_size >= 52;
    const size_t before_data =
        14 + recipe.info_size +
        4 * (recipe.table.size() + (masks_in_header ? 0 : recipe.masks.size()));
    const uint32_t data_offset =
        recipe.data_offset != 0 ? recipe.data_offset : static_cast<uint32_t>(before_data);
    std::vector<uint8_t> out = {'B', 'M'};
    put32(out, static_cast<uint32_t>(data_offset + recipe.data.size()));
    put32(out, 0);
    put32(out, data_offset);
    put32(out, recipe.info_size);
    put32(out, static_cast<uint32_t>(recipe.width));
    put32(out, static_cast<uint32_t>(recipe.height));
    put16(out, 1);
    put16(out, static_cast<uint16_t>(recipe.bit_count));
    put32(out, recipe.compression);
    put32(out,
          recipe.image_size != 0 ? recipe.image_size : static_cast<uint32_t>(recipe.data.size()));
    put32(out, 2835);
    put32(out, 2835);
    put32(out, 0);
    put32(out, 0);
    for (uint32_t mask : recipe.masks) {
        put32(out, mask);
    }
    out.resize(std::max(out.size(), size_t{14} + recipe.info_size), 0);
    for (uint32_t entry : recipe.table) {
        put32(out, entry);
    }
    out.resize(std::max(out.size(), size_t{data_offset}), 0);
    out.insert(out.end(), recipe.data.begin(), recipe.data.end());
    return out;
}

std::vector<uint8_t> bottom_up(const std::vector<std::vector<uint8_t>>& rows, size_t stride) {
    std::vector<uint8_t> out;
    for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
        std::vector<uint8_t> padded = *row;
        padded.resize(stride, 0);
        out.insert(out.end(), padded.begin(), padded.end());
    }
    return out;
}

open_result open_bytes(const std::vector<uint8_t>& bytes) {
    const char* dir = getenv("TMPDIR");
    std::string path = std::string(dir != nullptr ? dir : "/tmp") + "/bmp_test_XXXXXX";
    const int fd = mkstemp(path.data());
    if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
        abort();
    }
    close(fd);
    errno = 0;
    bmp_image* image = bmp_open(path.c_str());
    const int error = image == nullptr ? errno : 0;
    unlink(path.c_str());
    return {bmp_handle(image), error};
}

open_result open_recipe(const bmp_recipe& recipe) {
    return open_bytes(bmp_bytes(recipe));
}
