#include "bench/BenchOutcome.h"

#include <fmt/core.h>

namespace bench {
namespace {

// Why `name` has no time, or "" when it has one.
std::string whyNotMeasured(const RunResults& results, const std::string& name) {
    if (results.timePerIteration.contains(name)) return {};
    if (auto e = results.errors.find(name); e != results.errors.end()) return name + " failed: " + e->second;
    return name + " did not run";
}

}  // namespace

Outcome evaluate(const std::vector<RatioTarget>& targets, const RunResults& results, EvaluateOptions options) {
    Outcome out;
    auto add = [&](std::string text, bool failed) {
        out.lines.push_back({std::move(text), failed});
        if (failed) out.exitStatus = 1;
    };

    for (const auto& [name, message] : results.errors) add(fmt::format("benchmark {}: ERROR: {}", name, message), true);
    if (options.brief) return out;

    for (const auto& t : targets) {
        const std::string subjectWhy = whyNotMeasured(results, t.subject);
        const std::string baselineWhy = whyNotMeasured(results, t.baseline);
        if (!subjectWhy.empty() || !baselineWhy.empty()) {
            auto ran = [&](const std::string& name) {
                return results.timePerIteration.contains(name) || results.errors.contains(name);
            };
            if (options.filtered && !ran(t.subject) && !ran(t.baseline)) {
                add(fmt::format("target {} / {}: skipped (filtered out)", t.subject, t.baseline), false);
                continue;
            }
            std::string why = subjectWhy;
            if (!baselineWhy.empty()) why += (why.empty() ? "" : "; ") + baselineWhy;
            add(fmt::format("target {} / {}: NOT MEASURED ({})", t.subject, t.baseline, why), true);
            continue;
        }
        const double ratio = results.timePerIteration.at(t.subject) / results.timePerIteration.at(t.baseline);
        const bool ok = ratio <= t.maxRatio;
        add(fmt::format("target {} / {} = {:.2f} (at most {:.2f}): {}", t.subject, t.baseline, ratio, t.maxRatio,
                        ok ? "ok" : "MISSED"),
            !ok);
    }
    return out;
}

}  // namespace bench
