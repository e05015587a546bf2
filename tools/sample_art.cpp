#include "tools/sample_art.h"

#include <cmath>

namespace {

// Frame colours: red and blue multiples of 8, green multiples of 4 (exact in 5-6-5). The
// title's frame panel uses kPanel too, so frames sit on it without a seam.
constexpr uint32_t kPanel = 0x182038;
constexpr uint32_t kBorder = 0x4060A0;
constexpr uint32_t kDotDim = 0x283858;
constexpr uint32_t kTrail[3] = {0xF8D040, 0xC08830, 0x785030};  // lit, then fading
constexpr uint32_t kBarDim = 0x283050;
constexpr uint32_t kBarLit = 0x58C8F8;

constexpr double kPi = 3.14159265358979323846;

struct glyph {
    char letter;
    const char* rows[7];
};

constexpr glyph kFont[] = {
    {'Z', {"#####", "....#", "...#.", "..#..", ".#...", "#....", "#####"}},
    {'E', {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
    {'L', {"#....", "#....", "#....", "#....", "#....", "#....", "#####"}},
    {'T', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."}},
};

void set(rgb_picture* p, int32_t x, int32_t y, uint32_t c) {
    if (x >= 0 && y >= 0 && x < p->width && y < p->height) {
        p->pixels[static_cast<size_t>(y) * p->width + x] = c;
    }
}

void fill_rect(rgb_picture* p, int32_t x0, int32_t y0, int32_t w, int32_t h, uint32_t c) {
    for (int32_t y = y0; y < y0 + h; ++y) {
        for (int32_t x = x0; x < x0 + w; ++x) {
            set(p, x, y, c);
        }
    }
}

void fill_disc(rgb_picture* p, int32_t cx, int32_t cy, int32_t r, uint32_t c) {
    for (int32_t dy = -r; dy <= r; ++dy) {
        for (int32_t dx = -r; dx <= r; ++dx) {
            if (dx * dx + dy * dy <= r * r) {
                set(p, cx + dx, cy + dy, c);
            }
        }
    }
}

uint32_t mix(uint32_t a, uint32_t b, double t) {
    uint32_t out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        double ca = (a >> shift) & 0xFF, cb = (b >> shift) & 0xFF;
        out |= static_cast<uint32_t>(std::lround(ca + (cb - ca) * t)) << shift;
    }
    return out;
}

const glyph* find_glyph(char letter) {
    for (const glyph& g : kFont) {
        if (g.letter == letter) {
            return &g;
        }
    }
    return nullptr;
}

// Draws `text` in 5 x 7 block letters of `cell`-pixel squares, centred on `cy`, with a gradient
// from `top` to `bottom` colour and a drop shadow.
void draw_word(rgb_picture* p, const char* text, int32_t cell, int32_t cy, uint32_t top,
               uint32_t bottom, uint32_t shadow) {
    int32_t letters = 0;
    while (text[letters] != '\0') {
        ++letters;
    }
    int32_t advance = 6 * cell;
    int32_t x0 = (p->width - (letters * advance - cell)) / 2;
    int32_t y0 = cy - 7 * cell / 2;
    int32_t shadow_offset = cell / 4 > 1 ? cell / 4 : 1;
    for (int pass = 0; pass < 2; ++pass) {
        for (int32_t i = 0; i < letters; ++i) {
            const glyph* g = find_glyph(text[i]);
            if (g == nullptr) {
                continue;
            }
            for (int32_t row = 0; row < 7; ++row) {
                for (int32_t col = 0; col < 5; ++col) {
                    if (g->rows[row][col] != '#') {
                        continue;
                    }
                    int32_t x = x0 + i * advance + col * cell;
                    int32_t y = y0 + row * cell;
                    if (pass == 0) {
                        fill_rect(p, x + shadow_offset, y + shadow_offset, cell, cell, shadow);
                        continue;
                    }
                    for (int32_t dy = 0; dy < cell; ++dy) {
                        double t = static_cast<double>(row * cell + dy) / (7.0 * cell);
                        fill_rect(p, x, y + dy, cell, 1, mix(top, bottom, t));
                    }
                }
            }
        }
    }
}

}  // namespace

rgb_picture sample_title(int32_t width, int32_t height, int32_t frame_height) {
    rgb_picture p = rgb_picture_make(width, height, 0);
    for (int32_t y = 0; y < height; ++y) {
        double t = static_cast<double>(y) / (height > 1 ? height - 1 : 1);
        uint32_t c = mix(0x101830, 0x401848, t);
        fill_rect(&p, 0, y, width, 1, c);
    }
    fill_rect(&p, 0, kSampleFrameTop, width, frame_height, kPanel);
    fill_rect(&p, 0, kSampleFrameTop + frame_height, width, 4, kBorder);

    int32_t below = kSampleFrameTop + frame_height + 4;
    int32_t room = height - below;
    int32_t cell = width / 36 < room / 12 ? width / 36 : room / 12;
    if (cell < 1) {
        cell = 1;
    }
    int32_t word_y = below + room * 2 / 5;
    draw_word(&p, "ZELT", cell, word_y, 0xFFE070, 0xF06020, 0x080810);
    // An underline that fades out towards both sides.
    int32_t line_y = word_y + 5 * cell;
    for (int32_t x = 0; x < width; ++x) {
        double t = std::fabs(2.0 * x / (width > 1 ? width - 1 : 1) - 1.0);
        fill_rect(&p, x, line_y, 1, cell / 3 > 1 ? cell / 3 : 1, mix(0xF0A040, 0x281838, t));
    }
    return p;
}

rgb_picture sample_frame(int index, int32_t width, int32_t height) {
    rgb_picture p = rgb_picture_make(width, height, kPanel);
    fill_rect(&p, 0, 0, width, 2, kBorder);
    fill_rect(&p, 0, height - 2, width, 2, kBorder);

    int32_t bar_height = height / 16 > 4 ? height / 16 : 4;
    int32_t bar_top = height - 3 * bar_height;
    int32_t cx = width / 2;
    int32_t cy = bar_top / 2;
    int32_t ring = (cx < cy ? cx : cy) * 3 / 5;
    int32_t dot = ring / 4 > 2 ? ring / 4 : 2;
    for (int i = 0; i < kSampleFrameCount; ++i) {
        // Dot 0 at the top, going clockwise; the lit dot is `index`, older ones fade.
        int behind = (index - i + kSampleFrameCount) % kSampleFrameCount;
        uint32_t colour = behind < 3 ? kTrail[behind] : kDotDim;
        double angle = 2.0 * kPi * i / kSampleFrameCount;
        auto x = static_cast<int32_t>(std::lround(cx + ring * std::sin(angle)));
        auto y = static_cast<int32_t>(std::lround(cy - ring * std::cos(angle)));
        fill_disc(&p, x, y, behind == 0 ? dot + dot / 4 : dot, colour);
    }

    int32_t margin = width / 8;
    int32_t step = (width - 2 * margin) / kSampleFrameCount;
    for (int i = 0; i < kSampleFrameCount; ++i) {
        uint32_t colour = i <= index ? kBarLit : kBarDim;
        fill_rect(&p, margin + i * step + 2, bar_top, step - 4, bar_height, colour);
    }
    return p;
}
