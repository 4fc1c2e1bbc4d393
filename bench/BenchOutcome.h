#pragma once

// What a benchmark run comes to: each target ratio met, missed or not
// measured, and each benchmark that reported an error. Anything but met
// targets and error-free benchmarks fails the run, with the reason.

#include <map>
#include <string>
#include <vector>

#include "bench/BenchMain.h"

namespace bench {

struct RunResults {
    // Real time per iteration of each benchmark that ran without an error.
    std::map<std::string, double> timePerIteration;
    // The message of each benchmark that reported an error (SkipWithError:
    // it could not run, or a check inside it such as "must not allocate" failed).
    std::map<std::string, std::string> errors;
};

struct EvaluateOptions {
    // Benchmarks only have to run: ratios are not checked.
    bool brief = false;
    // A filter chose which benchmarks run, so a target whose benchmarks did
    // not run at all is left out rather than failed.
    bool filtered = false;
};

struct OutcomeLine {
    std::string text;
    bool failed = false;
};

struct Outcome {
    std::vector<OutcomeLine> lines;  // one per target and per failed benchmark
    int exitStatus = 0;              // 0 when nothing failed, else 1
};

Outcome evaluate(const std::vector<RatioTarget>& targets, const RunResults& results, EvaluateOptions options);

}  // namespace bench
