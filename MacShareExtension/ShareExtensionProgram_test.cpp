#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/log/LogSink.h"
#include "platform/runtime/Environment.h"
#include "platform/testsupport/Process.h"

namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;

platform::Environment quiet() { return platform::Environment::fromProcess().without("PARLOWEN_LOG_STDERR"); }

testsupport::RunResult run(const std::vector<std::string>& arguments, const platform::Environment& env = quiet()) {
    std::vector<std::string> argv{PARLOWEN_SHARE_EXTENSION};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return testsupport::runProcess(argv, env);
}

TEST(ShareExtensionProgram, AnswersHelpVersionAndBadOptions) {
    const auto help = run({"--help"});
    EXPECT_EQ(help.exitCode, 0) << help.describe();
    EXPECT_THAT(help.out, HasSubstr("Usage: ParlowenMacShareExtension "));
    EXPECT_THAT(help.out, HasSubstr("journalctl -t ParlowenMacShareExtension"));

    const auto version = run({"--version"});
    EXPECT_EQ(version.exitCode, 0) << version.describe();
    EXPECT_THAT(version.out, MatchesRegex("ParlowenMacShareExtension [0-9]+\\.[0-9]+\\.[0-9]+\n"));

    const auto bad = run({"--frob", "https://example.com/a"});
    EXPECT_EQ(bad.exitCode, 2) << bad.describe();
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.err,
              "ParlowenMacShareExtension: unknown option '--frob'\n"
              "Try 'ParlowenMacShareExtension --help' for more information.\n");
}

TEST(ShareExtensionProgram, TakesWhatIsSharedAndSaysSoOnStandardErrorWhenAsked) {
    // "--" lets shared text begin with a dash.
    const auto r = run({"https://example.com/a", "--", "-quoted text"}, quiet().with("PARLOWEN_LOG_STDERR", "1"));
    EXPECT_EQ(r.exitCode, 0) << r.describe();
    EXPECT_THAT(r.err, HasSubstr("notice [com.kelvatrum.Parlowen.MacShareExtension:share] launch arguments=2\n"));
}

TEST(ShareExtensionProgram, WithoutAJournalTheLogGoesToStandardError) {
    if (platform::journalAvailable()) GTEST_SKIP() << "this machine runs a journal";
    const auto r = run({"https://example.com/a"});
    EXPECT_EQ(r.exitCode, 0) << r.describe();
    EXPECT_THAT(r.err, HasSubstr("[com.kelvatrum.Parlowen.MacShareExtension:share] launch arguments=1\n"));
}

}  // namespace
