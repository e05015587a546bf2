// The three benchmark groups and what they share. Each group registers its benchmarks with
// Google Benchmark under names that the report (bench_report.cpp) reads back:
//   load/<ours|stb>/<encoding>/<depth>bpp, draw/<ours|memcpy>/<depth>bpp,
//   startup/<encoding>/<depth>bpp.
#pragma once

#include <cstdint>
#include <vector>

#include "bench/bench_pictures.h"
#include "screen/bitmap.h"

// Screen depths the program draws on.
constexpr int32_t kScreenDepths[] = {16, 24, 32};

// Describes a `width` x `height` screen of `depth` bits in fbvar (16 bits: red 5 at 11,
// green 6 at 5, blue 5 at 0; 24 and 32 bits: 8-bit channels at 16, 8, 0).
void bench_screen_set(int32_t depth, int32_t width, int32_t height);

// The peer's way to the same result as bmp_open + prepare_bitmap + bmp_close: stbi_load with
// three channels, then a packing loop for the screen described by fbvar. Returns false when
// the peer cannot read the file; `out->pixels` is malloc'ed.
bool peer_prepare(const char* path, prepared_bitmap* out);

void register_load_benchmarks(const std::vector<bench_picture>& pictures);
// `min_seconds` above 0 runs each draw at least that long (a draw takes a fraction of a
// millisecond, and a longer run evens out what other programs do to the memory bus meanwhile).
void register_draw_benchmarks(const std::vector<bench_picture>& pictures, double min_seconds);
void register_startup_benchmarks(const std::vector<bench_picture>& pictures);
