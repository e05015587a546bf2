#include "tools/bmp_write.h"

#include <cerrno>
#include <cstring>
#include <limits>
#include <unordered_map>

#include "tools/out_file.h"

namespace {

constexpr uint32_t kFileHeaderBytes = 14;
constexpr uint32_t kInfoHeaderBytes = 40;
constexpr uint32_t kV4HeaderBytes = 108;
constexpr uint32_t kV5HeaderBytes = 124;
constexpr uint32_t kMaskBytes = 12;  // three masks after a 40-byte header
constexpr uint32_t kCompressionNone = 0;
constexpr uint32_t kCompressionRle8 = 1;
constexpr uint32_t kCompressionBitfields = 3;
constexpr int32_t kPixelsPerMeter = 2835;         // 72 dots per inch
constexpr uint32_t kColorSpaceSrgb = 0x73524742;  // 'sRGB'
constexpr uint32_t kRleMaxRun = 255;
constexpr int64_t kMaxSide = 1 << 20;

struct encoding_info {
    uint16_t bits;
    uint32_t compression;
    bool palette;
};

encoding_info info_of(bmp_encoding e) {
    switch (e) {
        case bmp_encoding::palette1:
            return {1, kCompressionNone, true};
        case bmp_encoding::palette4:
            return {4, kCompressionNone, true};
        case bmp_encoding::palette8:
            return {8, kCompressionNone, true};
        case bmp_encoding::rle8:
            return {8, kCompressionRle8, true};
        case bmp_encoding::rgb16:
            return {16, kCompressionNone, false};
        case bmp_encoding::bitfields16:
            return {16, kCompressionBitfields, false};
        case bmp_encoding::rgb24:
            return {24, kCompressionNone, false};
        case bmp_encoding::rgb32:
            return {32, kCompressionNone, false};
        case bmp_encoding::bitfields32:
            return {32, kCompressionBitfields, false};
    }
    return {24, kCompressionNone, false};
}

void put16(std::vector<uint8_t>* out, uint32_t v) {
    out->push_back(static_cast<uint8_t>(v));
    out->push_back(static_cast<uint8_t>(v >> 8));
}

void put32(std::vector<uint8_t>* out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// Where a mask's lowest bit sits and how many bit positions it spans.
struct channel_field {
    uint32_t mask;
    uint32_t shift;
    uint32_t bits;
};

channel_field field_of(uint32_t mask) {
    channel_field f{mask, 0, 0};
    if (mask == 0) {
        return f;
    }
    while (((mask >> f.shift) & 1U) == 0) {
        ++f.shift;
    }
    uint32_t top = 31;
    while (((mask >> top) & 1U) == 0) {
        --top;
    }
    f.bits = top - f.shift + 1;
    return f;
}

// An 8-bit channel value placed in a mask: its top bits, or widened for masks over 8 bits.
uint32_t place(uint32_t value, const channel_field& f) {
    uint32_t v = f.bits <= 8 ? value >> (8 - f.bits) : value << (f.bits - 8);
    return (v << f.shift) & f.mask;
}

struct masks {
    channel_field red, green, blue;
};

bool choose_masks(const bmp_write_options& o, const encoding_info& info, masks* m,
                  const char** why) {
    uint32_t r = o.red_mask, g = o.green_mask, b = o.blue_mask;
    if (r == 0 && g == 0 && b == 0) {
        if (info.bits == 32) {
            r = 0xFF0000, g = 0xFF00, b = 0xFF;
        } else if (info.compression == kCompressionBitfields) {
            r = 0xF800, g = 0x07E0, b = 0x001F;
        } else {
            r = 0x7C00, g = 0x03E0, b = 0x001F;
        }
    } else if (info.compression != kCompressionBitfields) {
        *why = "channel masks are only written with a bit-field encoding";
        return false;
    }
    uint64_t limit = (uint64_t{1} << info.bits) - 1;
    if (r == 0 || g == 0 || b == 0 || (r & g) != 0 || (r & b) != 0 || (g & b) != 0 || r > limit ||
        g > limit || b > limit) {
        *why = "channel masks must be non-empty, disjoint and within the pixel";
        return false;
    }
    *m = masks{field_of(r), field_of(g), field_of(b)};
    return true;
}

uint32_t row_stride(int32_t width, uint32_t bits) {
    return static_cast<uint32_t>((static_cast<uint64_t>(width) * bits + 31) / 32 * 4);
}

// Colour table in order of first appearance; false when there are more than `limit` colours.
bool build_palette(const rgb_picture& p, size_t limit, std::vector<uint32_t>* palette,
                   std::vector<uint8_t>* indices) {
    std::unordered_map<uint32_t, uint8_t> index_of;
    indices->reserve(p.pixels.size());
    for (uint32_t c : p.pixels) {
        c &= 0xFFFFFF;
        auto it = index_of.find(c);
        if (it == index_of.end()) {
            if (palette->size() == limit) {
                return false;
            }
            it = index_of.emplace(c, static_cast<uint8_t>(palette->size())).first;
            palette->push_back(c);
        }
        indices->push_back(it->second);
    }
    return true;
}

// Stored row number `stored` holds picture row `y`; bottom-up files store the bottom row first.
int32_t picture_row(int32_t stored, int32_t height, bool top_down) {
    return top_down ? stored : height - 1 - stored;
}

void encode_indexed(const std::vector<uint8_t>& idx, int32_t w, int32_t h, uint32_t bits,
                    bool top_down, std::vector<uint8_t>* out) {
    uint32_t stride = row_stride(w, bits);
    uint32_t per_byte = 8 / bits;
    for (int32_t s = 0; s < h; ++s) {
        const uint8_t* row = idx.data() + static_cast<size_t>(picture_row(s, h, top_down)) * w;
        std::vector<uint8_t> bytes(stride, 0);
        for (int32_t x = 0; x < w; ++x) {
            uint32_t slot = static_cast<uint32_t>(x) % per_byte;
            uint32_t shift = 8 - bits * (slot + 1);  // leftmost pixel in the highest bits
            bytes[static_cast<uint32_t>(x) / per_byte] |= static_cast<uint8_t>(row[x] << shift);
        }
        out->insert(out->end(), bytes.begin(), bytes.end());
    }
}

// RLE8, bottom row first: runs of two or more equal bytes as encoded runs, other stretches of
// three or more as absolute runs (padded to an even length), one or two lone bytes as runs of
// one. Every row ends with an end-of-line code, the picture with end-of-bitmap.
void encode_rle8(const std::vector<uint8_t>& idx, int32_t w, int32_t h, std::vector<uint8_t>* out) {
    for (int32_t s = 0; s < h; ++s) {
        const uint8_t* row = idx.data() + static_cast<size_t>(picture_row(s, h, false)) * w;
        int32_t i = 0;
        while (i < w) {
            int32_t run = 1;
            while (i + run < w && run < static_cast<int32_t>(kRleMaxRun) &&
                   row[i + run] == row[i]) {
                ++run;
            }
            if (run >= 2) {
                out->push_back(static_cast<uint8_t>(run));
                out->push_back(row[i]);
                i += run;
                continue;
            }
            int32_t j = i;
            while (j < w && j - i < static_cast<int32_t>(kRleMaxRun) &&
                   !(j + 1 < w && row[j] == row[j + 1])) {
                ++j;
            }
            int32_t literal = j - i;
            if (literal >= 3) {
                out->push_back(0);
                out->push_back(static_cast<uint8_t>(literal));
                out->insert(out->end(), row + i, row + j);
                if (literal % 2 != 0) {
                    out->push_back(0);
                }
            } else {
                for (int32_t k = i; k < j; ++k) {
                    out->push_back(1);
                    out->push_back(row[k]);
                }
            }
            i = j;
        }
        out->push_back(0);
        out->push_back(0);
    }
    out->push_back(0);
    out->push_back(1);
}

void encode_direct(const rgb_picture& p, const encoding_info& info, const masks& m, bool top_down,
                   std::vector<uint8_t>* out) {
    uint32_t stride = row_stride(p.width, info.bits);
    for (int32_t s = 0; s < p.height; ++s) {
        const uint32_t* row =
            p.pixels.data() + static_cast<size_t>(picture_row(s, p.height, top_down)) * p.width;
        size_t start = out->size();
        for (int32_t x = 0; x < p.width; ++x) {
            uint32_t r = (row[x] >> 16) & 0xFF, g = (row[x] >> 8) & 0xFF, b = row[x] & 0xFF;
            if (info.bits == 24) {
                out->push_back(static_cast<uint8_t>(b));
                out->push_back(static_cast<uint8_t>(g));
                out->push_back(static_cast<uint8_t>(r));
                continue;
            }
            uint32_t v = place(r, m.red) | place(g, m.green) | place(b, m.blue);
            if (info.bits == 16) {
                put16(out, v);
            } else {
                put32(out, v);
            }
        }
        out->resize(start + stride, 0);
    }
}

bool fail(const char** why, const char* reason) {
    if (why != nullptr) {
        *why = reason;
    }
    return false;
}

}  // namespace

rgb_picture rgb_picture_make(int32_t width, int32_t height, uint32_t color) {
    size_t count = width > 0 && height > 0 ? static_cast<size_t>(width) * height : 0;
    return rgb_picture{width, height, std::vector<uint32_t>(count, color)};
}

std::vector<uint8_t> bmp_encode(const rgb_picture& p, const bmp_write_options& o,
                                const char** why) {
    const char* reason = nullptr;
    encoding_info info = info_of(o.encoding);
    if (p.width <= 0 || p.height <= 0 || p.width > kMaxSide || p.height > kMaxSide ||
        p.pixels.size() != static_cast<size_t>(p.width) * static_cast<size_t>(p.height)) {
        fail(why, "picture size must be 1..1048576 pixels each way and match its pixels");
        return {};
    }
    if (o.header_size != kInfoHeaderBytes && o.header_size != kV4HeaderBytes &&
        o.header_size != kV5HeaderBytes) {
        fail(why, "information header must be 40, 108 or 124 bytes");
        return {};
    }
    if (o.top_down && info.compression == kCompressionRle8) {
        fail(why, "a run-length encoded picture cannot be stored top row first");
        return {};
    }
    masks m{};
    if (!info.palette && info.bits != 24 && !choose_masks(o, info, &m, &reason)) {
        fail(why, reason);
        return {};
    }

    std::vector<uint32_t> palette;
    std::vector<uint8_t> indices;
    std::vector<uint8_t> data;
    if (info.palette) {
        if (!build_palette(p, size_t{1} << info.bits, &palette, &indices)) {
            fail(why, "picture has more colours than the palette depth can index");
            return {};
        }
        if (info.compression == kCompressionRle8) {
            encode_rle8(indices, p.width, p.height, &data);
        } else {
            encode_indexed(indices, p.width, p.height, info.bits, o.top_down, &data);
        }
    } else {
        encode_direct(p, info, m, o.top_down, &data);
    }

    bool masks_after_header =
        info.compression == kCompressionBitfields && o.header_size == kInfoHeaderBytes;
    uint64_t data_offset = kFileHeaderBytes + o.header_size +
                           (masks_after_header ? kMaskBytes : 0) +
                           4 * static_cast<uint64_t>(palette.size());
    uint64_t file_size = data_offset + data.size();
    if (file_size > std::numeric_limits<uint32_t>::max()) {
        fail(why, "file would exceed 4 GiB");
        return {};
    }

    std::vector<uint8_t> out;
    out.reserve(static_cast<size_t>(file_size));
    out.push_back('B');
    out.push_back('M');
    put32(&out, static_cast<uint32_t>(file_size));
    put32(&out, 0);
    put32(&out, static_cast<uint32_t>(data_offset));
    put32(&out, o.header_size);
    put32(&out, static_cast<uint32_t>(p.width));
    put32(&out, static_cast<uint32_t>(o.top_down ? -p.height : p.height));
    put16(&out, 1);
    put16(&out, info.bits);
    put32(&out, info.compression);
    put32(&out, static_cast<uint32_t>(data.size()));
    put32(&out, static_cast<uint32_t>(kPixelsPerMeter));
    put32(&out, static_cast<uint32_t>(kPixelsPerMeter));
    put32(&out, static_cast<uint32_t>(palette.size()));
    put32(&out, 0);
    bool write_masks = info.compression == kCompressionBitfields;
    if (o.header_size >= kV4HeaderBytes) {
        put32(&out, write_masks ? m.red.mask : 0);
        put32(&out, write_masks ? m.green.mask : 0);
        put32(&out, write_masks ? m.blue.mask : 0);
        put32(&out, 0);  // no alpha channel
        put32(&out, kColorSpaceSrgb);
        out.resize(out.size() + 36 + 12, 0);  // colour-space end points and gamma: unused
        if (o.header_size == kV5HeaderBytes) {
            put32(&out, 4);  // rendering intent: perceptual
            put32(&out, 0);  // no embedded profile
            put32(&out, 0);
            put32(&out, 0);
        }
    } else if (write_masks) {
        put32(&out, m.red.mask);
        put32(&out, m.green.mask);
        put32(&out, m.blue.mask);
    }
    for (uint32_t c : palette) {
        put32(&out, c);  // bytes b, g, r, 0
    }
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

int bmp_write(const char* path, const rgb_picture& picture, const bmp_write_options& options,
              const char** why) {
    std::vector<uint8_t> bytes = bmp_encode(picture, options, why);
    if (bytes.empty()) {
        return -1;
    }
    if (out_file_write(path, bytes.data(), bytes.size()) != 0) {
        fail(why, strerror(errno));
        return -1;
    }
    return 0;
}

const char* bmp_encoding_name(bmp_encoding encoding) {
    switch (encoding) {
        case bmp_encoding::palette1:
            return "palette1";
        case bmp_encoding::palette4:
            return "palette4";
        case bmp_encoding::palette8:
            return "palette8";
        case bmp_encoding::rle8:
            return "rle8";
        case bmp_encoding::rgb16:
            return "rgb16";
        case bmp_encoding::bitfields16:
            return "bitfields16";
        case bmp_encoding::rgb24:
            return "rgb24";
        case bmp_encoding::rgb32:
            return "rgb32";
        case bmp_encoding::bitfields32:
            return "bitfields32";
    }
    return "unknown";
}
