// A console reporter that also keeps every result and, at the end, prints the three summary
// tables with their ratios and the targets they are held to.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

struct bench_result {
    double seconds;  // processor time per iteration
    std::map<std::string, double> counters;
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
