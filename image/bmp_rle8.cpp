// RLE8 expansion, row by row. Encoders pad each row's runs (to a multiple of 4 pixels, for
// one) and then write an end-of-line code, so a run that passes the end of a row is cut there
// rather than spilled into the next row; the end-of-line code then moves to the next row.
#include <algorithm>
#include <cstring>

#include "image/bmp_image.h"

namespace {

constexpr uint8_t kEscape = 0;
constexpr uint8_t kEndOfLine = 0;
constexpr uint8_t kEndOfBitmap = 1;
constexpr uint8_t kDelta = 2;

}  // namespace

void rle8_decoding(bmp_image* image, size_t packed_bytes) {
    const uint8_t* in = image->packed;
    const auto width = static_cast<size_t>(image->width);
    const auto height = static_cast<size_t>(image->height);
    size_t pos = 0;
    size_t row = 0;
    size_t column = 0;  // kept at most `width`: anything further right is dropped anyway
    // Until the codes run out early, every row counts as present.
    image->seen.rows_present = image->height;
    while (row < height && packed_bytes - pos >= 2) {
        const uint8_t count = in[pos];
        const uint8_t code = in[pos + 1];
        pos += 2;
        uint8_t* out = image->pixels + row * width;
        if (count != kEscape) {
            const size_t end = std::min(width, column + count);
            std::fill(out + column, out + end, code);
            column = end;
        } else if (code == kEndOfLine) {
            ++row;
            column = 0;
        } else if (code == kEndOfBitmap) {
            return;
        } else if (code == kDelta) {
            if (packed_bytes - pos < 2) {
                break;
            }
            column = std::min(width, column + in[pos]);
            row += in[pos + 1];
            pos += 2;
        } else {
            // Absolute run of `code` literal bytes, padded to an even length.
            const size_t present = std::min<size_t>(code, packed_bytes - pos);
            const size_t end = std::min(width, column + present);
            memcpy(out + column, in + pos, end - column);
            column = end;
            if (present < code) {
                break;
            }
            pos += code + (code & 1u);
            pos = std::min(pos, packed_bytes);
        }
    }
    if (row < height) {
        // The codes ran out without an end code: the rows from here up were never reached (a
        // row already written to its last pixel counts as present).
        image->seen.rows_present = static_cast<int32_t>(row + (column == width ? 1 : 0));
    }
}
