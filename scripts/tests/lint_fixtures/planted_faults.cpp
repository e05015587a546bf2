// Faults of the kinds a BMP reader, a pixel converter and a frame loop tend to have, one per
// function. The comment at the end of a line names the check that must report that line; the
// lint self-test fails when a check stays silent or something unmarked is reported.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void draw_at(const uint8_t* picture, int x, int y);

uint8_t* buffer_for(int32_t width, int32_t height) {
    const size_t bytes =
        width * height * 4;  // expect: bugprone-implicit-widening-of-multiplication-result
    return static_cast<uint8_t*>(std::malloc(bytes));
}

int first_byte(FILE* f, uint8_t* header) {
    std::fread(header, 1, 14, f);  // expect: bugprone-unused-return-value
    return header[0];
}

int32_t width_from_file(uint32_t stored) {
    int32_t width = stored;  // expect: bugprone-narrowing-conversions
    return width;
}

void clear_row(uint8_t* row, size_t row_bytes) {
    std::memset(row, row_bytes, 0);  // expect: bugprone-suspicious-memset-usage
}

int check_signature(const char* path) {
    FILE* f = std::fopen(path, "rb");
    if (f == nullptr) {
        return -1;
    }
    if (std::fgetc(f) != 'B') {
        return -1;  // expect: resourceLeak
    }
    std::fclose(f);
    return 0;
}

int load_palette(int entries) {
    auto* palette = static_cast<uint32_t*>(std::malloc(256 * sizeof(uint32_t)));
    if (palette == nullptr) {
        return -1;
    }
    if (entries > 256) {
        return -1;  // expect: clang-analyzer-unix.Malloc
    }
    std::free(palette);
    return 0;
}

int copy_row(uint8_t* out, int row_bytes) {
    auto* row = static_cast<uint8_t*>(std::malloc(64));
    if (row_bytes > 64) {
        return -1;  // expect: memleak
    }
    std::memcpy(out, row, 64);
    std::free(row);
    return 0;
}

uint32_t freed_pixel(uint32_t* pixels) {
    std::free(pixels);
    return pixels[0];  // expect: clang-analyzer-unix.Malloc
}

uint8_t last_entry() {
    uint8_t table[16] = {};
    return table[16];  // expect: arrayIndexOutOfBounds
}

int parse_depth(const char* text) {
    return std::atoi(text);  // expect: cert-err34-c
}

void hand_off() {
    std::system("start recovery");  // expect: cert-env33-c
}

void draw_frame(const uint8_t* picture, int x, int y) {
    draw_at(picture, y, x);  // expect: readability-suspicious-call-argument
}

void copy_header(const uint8_t* from, uint8_t* to) {
    std::memcpy(to, from, sizeof(from));  // expect: pointerSize
}

int channel_shift(int depth) {
    if (depth == 16) {  // expect: bugprone-branch-clone
        return 11;
    } else {
        return 11;
    }
}
