// The build's own configuration, checked on fresh build folders configured
// the way scripts/test and .ci/run configure them.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/testsupport/Process.h"
#include "platform/testsupport/TempHome.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using namespace std::chrono_literals;

const std::filesystem::path kSource = PARLOWEN_SOURCE_DIR;

// scripts/configure on `folder`, in CI mode or not (nothing else from the
// machine's environment decides).
void configure(const std::filesystem::path& folder, bool ci, std::vector<std::string> extra = {}) {
    auto env = platform::Environment::fromProcess().without("CI").without("PARLOWEN_CI").with(
        "PARLOWEN_BUILD_DIR", folder.string());
    if (ci) env = env.with("PARLOWEN_CI", "1");
    std::vector<std::string> argv{(kSource / "scripts/configure").string()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    const auto r = testsupport::runProcess(argv, env, {.timeout = 150s});
    ASSERT_TRUE(r.ok()) << r.describe();
}

// The compile command of one source file, from the folder's compile commands.
std::string compileCommand(const std::filesystem::path& folder, const std::string& source) {
    std::ifstream in(folder / "compile_commands.json");
    const auto commands = nlohmann::json::parse(in, nullptr, false);
    if (!commands.is_array()) return "(no compile commands)";
    for (const auto& entry : commands)
        if (entry.value("file", "") == (kSource / source).string()) return entry.value("command", "");
    return "(no command for " + source + ")";
}

TEST(BuildConfiguration, EveryConfigureSetsItsFlagsSoCiModeNeverSticksToAFolder) {
    testsupport::TempDir dir;
    const auto folder = dir / "build";
    const std::string source = "platform/runtime/Environment.cpp";

    configure(folder, true);
    EXPECT_THAT(compileCommand(folder, source), HasSubstr(" -O1 -DNDEBUG "));
    EXPECT_THAT(compileCommand(folder, source), Not(HasSubstr(" -g ")));
    // CI's tests run the main-thread checks.
    EXPECT_THAT(compileCommand(folder, source), HasSubstr("-DPARLOWEN_DEBUG_CHECKS=1"));

    configure(folder, false);
    EXPECT_THAT(compileCommand(folder, source), HasSubstr(" -O2 -g -DNDEBUG "));
    EXPECT_THAT(compileCommand(folder, source), Not(HasSubstr("-O1")));
    EXPECT_THAT(compileCommand(folder, source), Not(HasSubstr("PARLOWEN_DEBUG_CHECKS")));

    // A folder configured by an earlier version, which forced CI's flags into the cache.
    configure(folder, true, {"-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -DNDEBUG"});
    configure(folder, false);
    EXPECT_THAT(compileCommand(folder, source), HasSubstr(" -O2 -g -DNDEBUG "));
}

// ctest names come from the test lists; a parameter printed as raw bytes
// puts memory addresses in them.
TEST(BuildConfiguration, TestNamesAreTheSameFromRunToRun) {
    auto list = [] {
        const auto r = testsupport::runProcess({"ctest", "-N"}, platform::Environment::fromProcess(),
                                               {.timeout = 120s, .workingDirectory = PARLOWEN_BINARY_DIR});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return r.out;
    };
    const std::string first = list();
    EXPECT_TRUE(list() == first) << "the test names changed between two listings";
    std::istringstream lines(first);
    for (std::string line; std::getline(lines, line);)
        EXPECT_EQ(line.find("-byte object <"), std::string::npos) << line;
}

}  // namespace
