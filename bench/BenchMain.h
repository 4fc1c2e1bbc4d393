#pragma once

// Target ratios between two benchmarks of the same run. After the run the
// main checks each ratio (real time per iteration of `subject` divided by that
// of `baseline` must stay at or below `maxRatio`) unless PARLOWEN_BENCH_BRIEF
// is set, when the benchmarks only have to compile and run.

#include <string>

namespace bench {

struct RatioTarget {
    std::string subject;
    std::string baseline;
    double maxRatio;
};

// Registers a target at static-initialisation time; returns a dummy for that purpose.
bool addRatioTarget(std::string subject, std::string baseline, double maxRatio);

}  // namespace bench

#define PARLOWEN_BENCH_CONCAT_(a, b) a##b
#define PARLOWEN_BENCH_CONCAT(a, b) PARLOWEN_BENCH_CONCAT_(a, b)
#define PARLOWEN_RATIO_TARGET(subject, baseline, maxRatio)                                \
    static const bool PARLOWEN_BENCH_CONCAT(parlowenRatioTarget_, __LINE__) =             \
        ::bench::addRatioTarget(subject, baseline, maxRatio)
