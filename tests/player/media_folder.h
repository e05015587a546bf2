// A media folder for the full-program tests: the seven pictures written as real BMP files by the
// writer, in mixed depths, encodings and sizes, and read back through the real reader so that
// expected screens are built from what the program itself decodes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/bmp_write.h"

// The file names of the title and the six frames, in loading order.
extern const char* const kMediaFiles[7];

// The pictures of the standard set, for screens 16 pixels wide: the title is 12 x 60; frame 0
// is wider than the screen, frame 2 taller than the 20 rows below the frame position of a
// 70-row screen, the others small; every frame in its own encoding.
struct media_picture {
    rgb_picture picture;
    bmp_write_options options;
};
std::vector<media_picture> standard_media();

// A fresh temporary folder holding `pictures` under kMediaFiles' names; removed by
// remove_media_folder. A failure to write fails the calling test.
std::string make_media_folder(const std::vector<media_picture>& pictures);
void remove_media_folder(const std::string& dir);

// Replaces one file of the folder with `bytes` (a corrupt picture), or deletes it when
// `remove_file` is set.
void replace_media_file(const std::string& dir, int index, const std::vector<uint8_t>& bytes,
                        bool remove_file);

// The picture at `path` as the reader decodes it (0x00RRGGBB, top row first). A picture that
// cannot be opened fails the calling test and yields an empty picture.
rgb_picture decode_picture(const std::string& path);
