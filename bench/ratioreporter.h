#pragma once
// The console reporter of the benches that end in a ratio table: it remembers the
// processor time per iteration of every run (processor time is less disturbed by other
// work on a shared machine than wall time).

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace sonvera::bench {

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs) {
            if (r.run_type == Run::RT_Iteration) times[r.benchmark_name()] = r.GetAdjustedCPUTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }

    /// The time of run `a` over that of run `b`; 0 when either is missing.
    double Ratio(const std::string& a, const std::string& b) const
    {
        const auto x = times.find(a);
        const auto y = times.find(b);
        return x != times.end() && y != times.end() && y->second > 0.0 ? x->second / y->second : 0.0;
    }

    std::map<std::string, double> times;
};

}  // namespace sonvera::bench
