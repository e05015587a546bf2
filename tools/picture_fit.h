// The designer's picture made ready for a screen by `zelt-assets make`: transparency blended
// away (the program draws opaque pixels only) and, when asked, the size fitted to the screen.
#pragma once

#include <cstdint>

#include "tools/bmp_write.h"
#include "tools/png_load.h"

// Blends every pixel of `source` onto `background` (0x00RRGGBB) by its alpha, rounding to the
// nearest value. Returns the opaque picture; `*blended` is the number of pixels that were not
// fully opaque.
rgb_picture blend_onto(const rgba_picture& source, uint32_t background, int64_t* blended);

// The size a `width` x `height` picture gets when fitted to `room_width` x `room_height`: its
// own when it fits the room; else shrunk, proportions kept, to the whole width, or, where that
// would still be taller than the room, to the room's height. Sides are rounded to the nearest
// pixel and never below 1. All sizes at least 1.
void fit_size(int32_t width, int32_t height, int32_t room_width, int32_t room_height,
              int32_t* fitted_width, int32_t* fitted_height);

// Scales `picture` to `width` x `height` with the stb resampler (Mitchell filter when
// shrinking, Catmull-Rom when enlarging, in sRGB-aware arithmetic). Returns false when the
// resampler fails.
bool scale_picture(const rgb_picture& picture, int32_t width, int32_t height, rgb_picture* out);
