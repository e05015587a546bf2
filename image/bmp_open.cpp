// The reader's public face: open a file into a handle through the reading steps, install the
// depth's lookup once, answer size and pixel questions, and release everything.
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "image/bmp_image.h"
#include "image/bmplib.h"

namespace {

constexpr uint32_t kDefaultMasks16[kMaskCount] = {0x7C00, 0x03E0, 0x001F};
constexpr uint32_t kDefaultMasks32[kMaskCount] = {0xFF0000, 0x00FF00, 0x0000FF};

// Room for the table: a palette picture always gets all kPaletteEntries (zero past what the
// file gives, so that any index reads black); 16/32 bits get their three masks.
int allocate_table(bmp_image* image) {
    const int32_t bits = image->bit_count;
    size_t entries = 0;
    if (is_palette_depth(bits)) {
        entries = kPaletteEntries;
    } else if (is_mask_depth(bits)) {
        entries = kMaskCount;
    }
    if (entries == 0) {
        return 0;
    }
    image->table = static_cast<uint32_t*>(calloc(entries, sizeof(uint32_t)));
    if (image->table == nullptr) {
        errno = ENOMEM;
        return -1;
    }
    return 0;
}

// Default channels of an uncompressed 16/32-bit picture: 5-5-5 and 8-8-8.
void install_default_masks(bmp_image* image, const uint32_t (&masks)[kMaskCount]) {
    for (uint32_t i = 0; i < kMaskCount; ++i) {
        image->table[i] = masks[i];
    }
}

// Installs the lookup for the picture's depth, which bmp_readheader accepted only because one
// exists, and the channels of a picture described by masks.
void install_lookup(bmp_image* image) {
    const int32_t bits = image->bit_count;
    image->getpixel = lookup_for_depth(bits);
    if (!is_mask_depth(bits)) {
        return;
    }
    if (image->compression != kCompressionBitFields) {
        install_default_masks(image, bits == 16 ? kDefaultMasks16 : kDefaultMasks32);
    }
    calculate_boffset(image);
}

// Copies what the reading steps saw into the caller's record, with the header fields as the
// file stores them (a top-down height is still negative until the data step).
void report_seen(const bmp_image* image, int32_t stored_height, bmp_seen* seen) {
    *seen = image->seen;
    seen->info_size = image->info_size;
    seen->width = image->width;
    seen->height = stored_height;
    seen->bit_count = image->bit_count;
    seen->compression = image->compression;
}

}  // namespace

bmp_image* bmp_open_seen(const char* path, bmp_seen* seen) {
    *seen = bmp_seen{};
    seen->signature[0] = -1;
    seen->signature[1] = -1;
    FILE* file = fopen(path, "rb");
    if (file == nullptr) {
        return nullptr;  // errno is the open's own
    }
    auto* image = static_cast<bmp_image*>(calloc(1, sizeof(bmp_image)));
    if (image == nullptr) {
        fclose(file);
        errno = ENOMEM;
        return nullptr;
    }
    const bool header_ok = bmp_readheader(file, image) == 0;
    const int32_t stored_height = image->height;  // the data step makes it positive
    if (!header_ok || allocate_table(image) != 0 || bmp_readpalette(file, image) != 0 ||
        bmp_readdata(file, image) != 0) {
        const int error = errno;
        report_seen(image, stored_height, seen);
        bmp_close(image);
        fclose(file);
        errno = error;
        return nullptr;
    }
    install_lookup(image);
    report_seen(image, stored_height, seen);
    fclose(file);
    return image;
}

bmp_image* bmp_open(const char* path) {
    bmp_seen seen{};
    return bmp_open_seen(path, &seen);
}

void bmp_close(bmp_image* image) {
    free(image->table);
    free(image->packed);
    free(image->pixels);
    free(image);
}

int32_t bmp_width(const bmp_image* image) {
    return image->width;
}

int32_t bmp_height(const bmp_image* image) {
    return image->height;
}

bmp_color bmp_getpixel(const bmp_image* image, int32_t x, int32_t y) {
    return image->getpixel(image, x, y) & 0x00FFFFFFu;
}
