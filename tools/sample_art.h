// Drawing of the program's own sample pictures: a title and a six-frame spinner that plays over
// it. Pure drawing into rgb_picture; writing files is the sample tool's job.
#pragma once

#include <cstdint>

#include "tools/bmp_write.h"

constexpr int kSampleFrameCount = 6;
// Default sizes: the title fills a 720 x 1280 screen; frames are drawn at (0, 50) over it.
constexpr int32_t kSampleTitleWidth = 720;
constexpr int32_t kSampleTitleHeight = 1280;
constexpr int32_t kSampleFrameWidth = 720;
constexpr int32_t kSampleFrameHeight = 400;
constexpr int32_t kSampleFrameTop = 50;

// The title: a dark gradient, a flat panel where the frames go (rows kSampleFrameTop to
// kSampleFrameTop + frame_height) and "ZELT" in large block letters below it. Any colours.
rgb_picture sample_title(int32_t width, int32_t height, int32_t frame_height);

// Frame `index` (0..5) of the spinner: six dots on a ring, the lit one a sixth of a turn further
// each frame with a fading trail, and a six-step progress bar. At most 16 colours, each exact in
// 5-6-5, so every encoding (down to 4-bit palette and 16-bit bit fields) stores it losslessly.
rgb_picture sample_frame(int index, int32_t width, int32_t height);
