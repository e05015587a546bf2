// Loading: one picture from file to the screen's format, ours (bmp_open, prepare_bitmap,
// bmp_close) beside the peer's (stbi_load, then packing), for every encoding and screen depth.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "bench/bench_cases.h"
#include "bench/bench_report.h"
#include "image/bmplib.h"

namespace {

// Megapixels per second, from the pixels one iteration converts.
void count_pixels(benchmark::State& state, int64_t pixels) {
    state.counters["pixels"] = static_cast<double>(pixels);
    state.counters["MP/s"] = benchmark::Counter(static_cast<double>(pixels) * 1e-6,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

void load_ours(benchmark::State& state, const bench_picture* picture, int32_t depth) {
    int64_t pixels = 0;
    for (auto _ : state) {
        bmp_image* image = bmp_open(picture->path.c_str());
        if (image == nullptr) {
            state.SkipWithError("bmp_open failed");
            return;
        }
        bench_screen_set(depth, bmp_width(image), bmp_height(image));
        prepared_bitmap out{};
        prepare_bitmap(image, &out);
        bmp_close(image);
        benchmark::DoNotOptimize(out.pixels);
        pixels = int64_t{out.width} * out.height;
        free(out.pixels);
    }
    count_pixels(state, pixels);
}

void load_peer(benchmark::State& state, const bench_picture* picture, int32_t depth) {
    int64_t pixels = 0;
    // The peer packs for fbvar too; its size is the picture's, set by our own reading once.
    bmp_image* image = bmp_open(picture->path.c_str());
    if (image == nullptr) {
        state.SkipWithError("bmp_open failed");
        return;
    }
    bench_screen_set(depth, bmp_width(image), bmp_height(image));
    bmp_close(image);
    for (auto _ : state) {
        prepared_bitmap out{};
        if (!peer_prepare(picture->path.c_str(), &out)) {
            state.SkipWithError("stbi_load failed");
            return;
        }
        benchmark::DoNotOptimize(out.pixels);
        pixels = int64_t{out.width} * out.height;
        free(out.pixels);
    }
    count_pixels(state, pixels);
}

}  // namespace

void register_load_benchmarks(const std::vector<bench_picture>& pictures) {
    for (const bench_picture& picture : pictures) {
        for (int32_t depth : kScreenDepths) {
            const std::string tail =
                std::string(picture.name) + "/" + std::to_string(depth) + "bpp";
            bench_keep_min(benchmark::RegisterBenchmark(("load/ours/" + tail).c_str(), load_ours,
                                                        &picture, depth)
                               ->Unit(benchmark::kMillisecond));
            if (picture.peer_reads) {
                bench_keep_min(benchmark::RegisterBenchmark(("load/stb/" + tail).c_str(), load_peer,
                                                            &picture, depth)
                                   ->Unit(benchmark::kMillisecond));
            }
        }
    }
}
