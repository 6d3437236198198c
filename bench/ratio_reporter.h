// A console reporter that keeps each benchmark's per-repetition CPU times,
// so a run can print the ratio of two benchmarks' medians.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace bench {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, std::vector<double>> runs;
  void ReportRuns(const std::vector<Run>& r) override {
    for (const Run& run : r)
      if (run.run_type == Run::RT_Iteration)
        runs[run.run_name.function_name].push_back(run.GetAdjustedCPUTime());
    ConsoleReporter::ReportRuns(r);
  }
  double Median(const std::string& name) {
    std::vector<double> t = runs[name];
    if (t.empty()) return 0;
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
  }
};

}  // namespace bench
