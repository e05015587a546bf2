// Drawing: draw_prepared_bitmap of a full-screen picture into a screen-sized buffer, beside one
// memcpy of the same bytes into the same buffer (the copy limit), for every screen depth.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/bench_cases.h"
#include "bench/bench_report.h"
#include "image/bmplib.h"
#include "screen/screen.h"

namespace {

enum class draw_way { ours, copy };

// The full-colour picture prepared for the screen, drawn at (0, 0) into a fresh screen buffer
// that stands in for the mapping.
void draw(benchmark::State& state, const bench_picture* picture, int32_t depth, draw_way way) {
    bmp_image* image = bmp_open(picture->path.c_str());
    if (image == nullptr) {
        state.SkipWithError("bmp_open failed");
        return;
    }
    bench_screen_set(depth, bmp_width(image), bmp_height(image));
    prepared_bitmap prepared{};
    prepare_bitmap(image, &prepared);
    bmp_close(image);
    const size_t bytes = static_cast<size_t>(prepared.row_bytes) * prepared.height;
    auto* screen = static_cast<uint8_t*>(malloc(bytes));
    if (prepared.pixels == nullptr || screen == nullptr) {
        free(prepared.pixels);
        free(screen);
        state.SkipWithError("no memory");
        return;
    }
    memset(screen, 0, bytes);  // touch every page before timing
    fbmem = screen;
    buffersize = static_cast<int>(bytes);
    for (auto _ : state) {
        if (way == draw_way::ours) {
            draw_prepared_bitmap(&prepared, 0, 0);
        } else {
            memcpy(screen, prepared.pixels, bytes);
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
    fbmem = nullptr;
    buffersize = 0;
    free(screen);
    free(prepared.pixels);
}

}  // namespace

void register_draw_benchmarks(const std::vector<bench_picture>& pictures, double min_seconds) {
    const bench_picture* full_colour = nullptr;
    for (const bench_picture& picture : pictures) {
        if (picture.encoding == bmp_encoding::rgb24) {
            full_colour = &picture;
        }
    }
    if (full_colour == nullptr) {
        return;
    }
    for (int32_t depth : kScreenDepths) {
        const std::string tail = std::to_string(depth) + "bpp";
        for (draw_way way : {draw_way::ours, draw_way::copy}) {
            const char* what = way == draw_way::ours ? "draw/ours/" : "draw/memcpy/";
            benchmark::internal::Benchmark* b = bench_keep_min(
                benchmark::RegisterBenchmark((what + tail).c_str(), draw, full_colour, depth, way)
                    ->Unit(benchmark::kMicrosecond));
            if (min_seconds > 0) {
                b->MinTime(min_seconds);
            }
        }
    }
}
