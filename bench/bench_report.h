// A console reporter that also keeps every result and, at the end, prints the three summary
// tables with their ratios and the targets they are held to.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

// Adds the fastest of the repetitions to a benchmark's statistics. The tables use it when there
// are repetitions: on a shared machine other programs only ever add time, so the fastest run is
// the closest to what the code itself costs, for ours and the peer alike.
benchmark::internal::Benchmark* bench_keep_min(benchmark::internal::Benchmark* b);

struct bench_result {
    double seconds;  // processor time per iteration
    std::map<std::string, double> counters;
    int preference;  // which kind of result this is (see rank in bench_report.cpp)
};

class summary_reporter : public benchmark::ConsoleReporter {
public:
    // Colours only on a terminal: the tables are also kept in files.
    explicit summary_reporter(bool colour)
        : ConsoleReporter(colour ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override;
    void Finalize() override;

private:
    std::map<std::string, bench_result> results_;
};
