#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>

// Shows the runs as Google Benchmark does, on stderr, and keeps the median of each benchmark's
// repetitions; at the end prints on stdout one Markdown table of the SDK's paths: the figure
// measured, the baseline measured in the same run, their ratio and the target.
class TableReporter : public benchmark::ConsoleReporter {
public:
    TableReporter();
    void ReportRuns(const std::vector<Run>& runs) override;
    void Finalize() override;

private:
    std::map<std::string, Run> m_medians;
    std::map<std::string, std::string> m_errors;
};
