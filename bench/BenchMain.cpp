#include "bench/BenchMain.h"

#include <benchmark/benchmark.h>
#include <fmt/core.h>

#include <cstdlib>
#include <map>
#include <vector>

namespace bench {
namespace {

std::vector<RatioTarget>& targets() {
    static std::vector<RatioTarget> t;
    return t;
}

// Keeps the console output and remembers the time per iteration of each run.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> timePerIteration;

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& r : runs)
            if (r.run_type == Run::RT_Iteration && !r.error_occurred)
                timePerIteration[r.benchmark_name()] = r.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

bool addRatioTarget(std::string subject, std::string baseline, double maxRatio) {
    targets().push_back({std::move(subject), std::move(baseline), maxRatio});
    return true;
}

}  // namespace bench

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    bench::RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    if (std::getenv("PARLOWEN_BENCH_BRIEF")) return 0;
    int failures = 0;
    for (const auto& t : bench::targets()) {
        auto s = reporter.timePerIteration.find(t.subject);
        auto b = reporter.timePerIteration.find(t.baseline);
        if (s == reporter.timePerIteration.end() || b == reporter.timePerIteration.end()) {
            fmt::print("target {} / {}: not measured (filtered out?)\n", t.subject, t.baseline);
            continue;
        }
        double ratio = s->second / b->second;
        bool ok = ratio <= t.maxRatio;
        fmt::print("target {} / {} = {:.2f} (at most {:.2f}): {}\n", t.subject, t.baseline, ratio, t.maxRatio,
                   ok ? "ok" : "MISSED");
        if (!ok) ++failures;
    }
    return failures == 0 ? 0 : 1;
}
