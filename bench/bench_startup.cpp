// Start-up: the program's whole loading phase, seven full-screen pictures each opened,
// prepared for the screen and closed in turn, with the peak heap of the phase beside what it
// cannot do without (the seven converted buffers plus the largest file).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "bench/bench_cases.h"
#include "bench/bench_report.h"
#include "bench/heap_count.h"
#include "image/bmplib.h"

namespace {

constexpr int kPictureCount = 7;  // the title and six frames
constexpr double kMiB = 1024.0 * 1024.0;

void startup(benchmark::State& state, const bench_picture* picture, int32_t depth) {
    prepared_bitmap prepared[kPictureCount] = {};
    int64_t peak = 0;
    int64_t converted = 0;
    for (auto _ : state) {
        const int64_t before = heap_in_use_bytes();
        heap_peak_reset();
        // Every picture of the phase is the same file: the page cache holds it either way.
        for (prepared_bitmap& out : prepared) {
            bmp_image* image = bmp_open(picture->path.c_str());
            if (image == nullptr) {
                state.SkipWithError("bmp_open failed");
                return;
            }
            bench_screen_set(depth, bmp_width(image), bmp_height(image));
            prepare_bitmap(image, &out);
            bmp_close(image);
        }
        const int64_t used = heap_peak_bytes() - before;
        peak = used > peak ? used : peak;
        state.PauseTiming();
        converted = 0;
        for (prepared_bitmap& out : prepared) {
            converted += int64_t{out.row_bytes} * out.height;
            free(out.pixels);
            out = prepared_bitmap{};
        }
        state.ResumeTiming();
    }
    const int64_t budget = converted + picture->file_bytes;
    state.counters["peak_MiB"] = static_cast<double>(peak) / kMiB;
    state.counters["budget_MiB"] = static_cast<double>(budget) / kMiB;
    state.counters["over_MiB"] = static_cast<double>(peak - budget) / kMiB;
}

}  // namespace

void register_startup_benchmarks(const std::vector<bench_picture>& pictures) {
    for (const bench_picture& picture : pictures) {
        for (int32_t depth : kScreenDepths) {
            const std::string name =
                "startup/" + std::string(picture.name) + "/" + std::to_string(depth) + "bpp";
            bench_keep_min(benchmark::RegisterBenchmark(name.c_str(), startup, &picture, depth)
                               ->Unit(benchmark::kMillisecond));
        }
    }
}
