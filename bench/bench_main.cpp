// The benchmark program: writes the pictures, registers the three groups, runs them with
// Google Benchmark's usual flags, and ends with the summary tables.
//   zelt-bench [--picture_size=WIDTHxHEIGHT] [--benchmark_...]
// The default picture is a phone screen, 1080 x 2400; a tiny one keeps a smoke run short.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "bench/bench_cases.h"
#include "bench/bench_report.h"

namespace {

constexpr int32_t kScreenWidth = 1080;
constexpr int32_t kScreenHeight = 2400;
constexpr const char kSizeFlag[] = "--picture_size=";
constexpr double kDrawMinSeconds = 2.0;

// Takes --picture_size out of argv; false when its value is not WIDTHxHEIGHT.
bool take_size_flag(int* argc, char** argv, int32_t* width, int32_t* height) {
    int kept = 1;
    bool ok = true;
    for (int i = 1; i < *argc; ++i) {
        if (strncmp(argv[i], kSizeFlag, sizeof kSizeFlag - 1) != 0) {
            argv[kept++] = argv[i];
            continue;
        }
        int w = 0;
        int h = 0;
        char tail = 0;
        ok =
            sscanf(argv[i] + sizeof kSizeFlag - 1, "%dx%d%c", &w, &h, &tail) == 2 && w > 0 && h > 0;
        *width = w;
        *height = h;
    }
    *argc = kept;
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    int32_t width = kScreenWidth;
    int32_t height = kScreenHeight;
    if (!take_size_flag(&argc, argv, &width, &height)) {
        fprintf(stderr, "zelt-bench: --picture_size wants WIDTHxHEIGHT, e.g. 64x48\n");
        return 2;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 2;
    }
    std::vector<bench_picture> pictures;
    if (!bench_pictures_make(width, height, &pictures)) {
        return 1;
    }
    register_load_benchmarks(pictures);
    // Full-size draws run longer than the default; a smoke run on small pictures does not.
    const bool full_size = width == kScreenWidth && height == kScreenHeight;
    register_draw_benchmarks(pictures, full_size ? kDrawMinSeconds : 0.0);
    register_startup_benchmarks(pictures);
    summary_reporter reporter(isatty(STDOUT_FILENO) != 0);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    bench_pictures_remove(pictures);
    return 0;
}
