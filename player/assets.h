// The asset table: the seven pictures the program shows, in loading order, where each is read
// from and where it is drawn. Shared by the program and the host tools that check and preview a
// media folder, so both always agree on names, order and positions.
#pragma once

#include "screen/bitmap.h"

// Paths of the pictures on the device, each in its own global.
extern const char* const backgroundfile;  // "/ZELT/media/zelttitle.bmp"
extern const char* const animation0file;  // "/ZELT/media/zeltani00.bmp"
extern const char* const animation1file;
extern const char* const animation2file;
extern const char* const animation3file;
extern const char* const animation4file;
extern const char* const animation5file;  // "/ZELT/media/zeltani05.bmp"

// The prepared pictures, zero-filled at process start. They live for the rest of the process.
extern prepared_bitmap background;
extern prepared_bitmap animation0;
extern prepared_bitmap animation1;
extern prepared_bitmap animation2;
extern prepared_bitmap animation3;
extern prepared_bitmap animation4;
extern prepared_bitmap animation5;

constexpr int kFrameCount = 6;
constexpr int kAssetCount = 1 + kFrameCount;

// Where the title and every frame are drawn (top-left corner, pixels).
constexpr int kTitleX = 0;
constexpr int kTitleY = 0;
constexpr int kFrameX = 0;
constexpr int kFrameY = 50;

struct asset_entry {
    const char* const* path;   // the path global
    prepared_bitmap* picture;  // the prepared-picture global
};

// Row 0 is the title, rows 1 to 6 the frames 0 to 5, in loading order.
extern const asset_entry asset_table[kAssetCount];

// The frames in playing order: frame i is drawn in cycle i of each pass.
extern prepared_bitmap* const animation_frames[kFrameCount];
