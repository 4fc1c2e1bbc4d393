#include "bench/BenchMain.h"

#include <benchmark/benchmark.h>
#include <fmt/core.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "bench/BenchOutcome.h"

namespace bench {
namespace {

std::vector<RatioTarget>& targets() {
    static std::vector<RatioTarget> t;
    return t;
}

// Keeps the console output and remembers the time per iteration, or the
// error, of each run.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    RunResults results;

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& r : runs) {
            if (r.run_type != Run::RT_Iteration) continue;
            if (r.error_occurred)
                results.errors[r.benchmark_name()] = r.error_message;
            else
                results.timePerIteration[r.benchmark_name()] = r.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

// Whether a filter chooses the benchmarks (read before the library takes its flags).
bool filterGiven(int argc, char** argv) {
    if (const char* env = std::getenv("BENCHMARK_FILTER"); env && *env) return true;
    for (int i = 1; i < argc; ++i)
        if (std::string_view(argv[i]).starts_with("--benchmark_filter")) return true;
    return false;
}

}  // namespace

bool addRatioTarget(std::string subject, std::string baseline, double maxRatio) {
    targets().push_back({std::move(subject), std::move(baseline), maxRatio});
    return true;
}

}  // namespace bench

int main(int argc, char** argv) {
    const bool filtered = bench::filterGiven(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    bench::RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto outcome = bench::evaluate(bench::targets(), reporter.results,
                                         {.brief = std::getenv("PARLOWEN_BENCH_BRIEF") != nullptr, .filtered = filtered});
    // Failures go to standard error, so they show even when the table is not wanted.
    std::fflush(stdout);
    for (const auto& line : outcome.lines) fmt::print(line.failed ? stderr : stdout, "{}\n", line.text);
    return outcome.exitStatus;
}
