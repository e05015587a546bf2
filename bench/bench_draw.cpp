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

// A prepared full-colour picture and a screen-sized buffer that stands in for the mapping.
struct draw_setup {
    prepared_bitmap picture;
    uint8_t* screen;
    size_t bytes;
};

// One setup per depth, made by whichever way runs first and kept until the process ends, so
// that both ways copy between the very same buffers (where buffers lie changes copy speed).
const draw_setup* setup_for(const bench_picture* picture, int32_t depth) {
    static draw_setup setups[sizeof kScreenDepths / sizeof kScreenDepths[0]] = {};
    draw_setup& setup = setups[(depth - kScreenDepths[0]) / 8];
    if (setup.screen != nullptr) {
        return &setup;
    }
    bmp_image* image = bmp_open(picture->path.c_str());
    if (image == nullptr) {
        return nullptr;
    }
    bench_screen_set(depth, bmp_width(image), bmp_height(image));
    prepare_bitmap(image, &setup.picture);
    bmp_close(image);
    setup.bytes = static_cast<size_t>(setup.picture.row_bytes) * setup.picture.height;
    if (setup.picture.pixels == nullptr) {
        return nullptr;
    }
    setup.screen = static_cast<uint8_t*>(malloc(setup.bytes));
    if (setup.screen == nullptr) {
        return nullptr;
    }
    memset(setup.screen, 0, setup.bytes);  // touch every page before timing
    return &setup;
}

void draw(benchmark::State& state, const bench_picture* picture, int32_t depth, draw_way way) {
    const draw_setup* setup = setup_for(picture, depth);
    if (setup == nullptr) {
        state.SkipWithError("cannot prepare the picture");
        return;
    }
    bench_screen_set(depth, setup->picture.width, setup->picture.height);
    fbmem = setup->screen;
    buffersize = static_cast<int>(setup->bytes);
    screen_layout_for(fbvar, nullptr, &fblayout);  // packed rows from offset 0
    for (auto _ : state) {
        if (way == draw_way::ours) {
            draw_prepared_bitmap(&setup->picture, 0, 0);
        } else {
            memcpy(setup->screen, setup->picture.pixels, setup->bytes);
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(setup->bytes));
    fbmem = nullptr;
    buffersize = 0;
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
