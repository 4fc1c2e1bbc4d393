#include "bench/BenchOutcome.h"

#include <gtest/gtest.h>

namespace bench {
namespace {

const std::vector<RatioTarget> kTarget{{"Fast", "Slow", 0.5}};

struct OutcomeCase {
    const char* name;
    RunResults results;
    EvaluateOptions options;
    int exitStatus;
    std::string reason;  // in a failed line, or "" when no line failed
};

void PrintTo(const OutcomeCase& c, std::ostream* os) { *os << c.name; }

class BenchRunOutcome : public testing::TestWithParam<OutcomeCase> {};

TEST_P(BenchRunOutcome, GivesTheExitStatusAndSaysWhy) {
    const OutcomeCase& c = GetParam();
    const Outcome out = evaluate(kTarget, c.results, c.options);
    EXPECT_EQ(out.exitStatus, c.exitStatus);
    std::string failed;
    for (const auto& line : out.lines)
        if (line.failed) failed += line.text + "\n";
    if (c.reason.empty())
        EXPECT_EQ(failed, "");
    else
        EXPECT_NE(failed.find(c.reason), std::string::npos) << failed;
}

INSTANTIATE_TEST_SUITE_P(
    Table, BenchRunOutcome,
    testing::Values(
        OutcomeCase{"met", {{{"Fast", 0.5}, {"Slow", 2.0}}, {}}, {}, 0, ""},
        OutcomeCase{"met at exactly the ratio", {{{"Fast", 1.0}, {"Slow", 2.0}}, {}}, {}, 0, ""},
        OutcomeCase{"missed", {{{"Fast", 1.5}, {"Slow", 2.0}}, {}}, {}, 1, "= 0.75 (at most 0.50): MISSED"},
        OutcomeCase{"not measured: the subject never ran", {{{"Slow", 2.0}}, {}}, {}, 1,
                    "NOT MEASURED (Fast did not run)"},
        OutcomeCase{"not measured: the baseline could not run",
                    {{{"Fast", 1.0}}, {{"Slow", "the curl command is not installed"}}}, {}, 1,
                    "NOT MEASURED (Slow failed: the curl command is not installed)"},
        OutcomeCase{"errored outside any target", {{{"Fast", 1.0}, {"Slow", 2.0}}, {{"Steady", "allocates in steady state: 3"}}},
                    {}, 1, "benchmark Steady: ERROR: allocates in steady state: 3"},
        OutcomeCase{"brief: a missed ratio is not checked", {{{"Fast", 3.0}, {"Slow", 2.0}}, {}}, {.brief = true}, 0, ""},
        OutcomeCase{"brief: an error still fails", {{{"Fast", 1.0}}, {{"Slow", "resident memory grew by 9 MB"}}},
                    {.brief = true}, 1, "benchmark Slow: ERROR: resident memory grew by 9 MB"},
        OutcomeCase{"filtered: a target whose benchmarks did not run is left out", {{{"Other", 1.0}}, {}},
                    {.filtered = true}, 0, ""},
        OutcomeCase{"filtered: half a target is still not measured", {{{"Fast", 1.0}}, {}}, {.filtered = true}, 1,
                    "NOT MEASURED (Slow did not run)"},
        OutcomeCase{"nothing ran at all", {}, {}, 1, "NOT MEASURED (Fast did not run; Slow did not run)"}));

}  // namespace
}  // namespace bench
