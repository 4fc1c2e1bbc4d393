// The size and cost guard with the scripted alert presenter.

#include <gtest/gtest.h>

#include "Parlowen/readaloud/ReadAloudCostGuard.h"
#include "platform/log/CaptureSink.h"
#include "platform/ui/ScriptedAlertPresenter.h"

namespace parlowen {
namespace {

using Kind = ReadAloudEngineKind;

class CostGuardTest : public ::testing::Test {
protected:
    // What the guard decided: "zoe", "engine" or "end".
    std::string run(std::int64_t count, Kind kind, bool autoDowngrade = false) {
        std::string outcome = "none";
        guard.guard({count, kind, "Nova", autoDowngrade},
                    {[&] { outcome = "zoe"; }, [&] { outcome = "engine"; }, [&] { outcome = "end"; }});
        return outcome;
    }

    platform::ui::ScriptedAlertPresenter alerts{1};  // unscripted alerts answer "use the chosen engine"
    ReadAloudCostGuard guard{alerts, "en_US"};
    platform::ScopedLogCapture logs;
};

TEST_F(CostGuardTest, ThresholdsByEngineKind) {
    struct Case {
        std::int64_t count;
        Kind kind;
        bool asks;
    };
    const Case cases[] = {
        {4'999, Kind::openai, false},      {5'000, Kind::openai, true},      {1'999, Kind::cartesia, false},
        {2'000, Kind::cartesia, true},     {2'000, Kind::elevenlabs, true},  {1'999, Kind::elevenlabs, false},
        {400'000, Kind::appleSpeech, false}, {400'000, Kind::kokoro, false}, {500'000, Kind::appleSpeech, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.count << " " << rawValue(c.kind));
        const auto shown = alerts.shown().size();
        EXPECT_EQ(run(c.count, c.kind), "engine");
        EXPECT_EQ(alerts.shown().size(), shown + (c.asks ? 1 : 0));
    }
}

TEST_F(CostGuardTest, TheQuestionAndItsAnswers) {
    const std::pair<int, std::string> answers[] = {{0, "zoe"}, {1, "engine"}, {2, "end"}, {-1, "end"}};
    for (const auto& [button, outcome] : answers) {
        alerts.answerNext(button);
        EXPECT_EQ(run(2'000, Kind::cartesia), outcome) << button;
    }
    const auto& alert = alerts.shown().back();
    EXPECT_EQ(alert.messageText, "Big read \u2014 about $0.60 on Cartesia");
    EXPECT_EQ(alert.informativeText,
              "That's about 2,000 characters. Parlowen can read this with Zoe (free, on-device) or with the "
              "Cartesia voice you've picked.");
    EXPECT_EQ(alert.buttons, (std::vector<std::string>{"Use Zoe (free)", "Use Cartesia anyway", "Cancel"}));
    EXPECT_EQ(alert.escapeButton, 2u);
    EXPECT_EQ(alert.style, platform::ui::AlertStyle::informational);
}

TEST_F(CostGuardTest, VeryLargeReadsMoveToTheFreeVoiceOnlyWhenAllowed) {
    EXPECT_EQ(run(30'000, Kind::openai, true), "zoe");
    EXPECT_TRUE(alerts.shown().empty());
    EXPECT_EQ(logs->messages(),
              (std::vector<std::string>{"read-aloud auto-downgraded: 30000 chars \u2192 Zoe; would have cost about $0.45 on OpenAI"}));
    EXPECT_EQ(logs->lines()[0].category, "readaloud");

    EXPECT_EQ(run(30'000, Kind::openai, false), "engine");
    EXPECT_EQ(alerts.shown().size(), 1u);
    EXPECT_EQ(run(29'999, Kind::openai, true), "engine");  // below the automatic threshold: asked
    EXPECT_EQ(alerts.shown().size(), 2u);
    EXPECT_EQ(run(10'000, Kind::elevenlabs, true), "zoe");
}

TEST_F(CostGuardTest, TextsAboveHalfAMillionAreRefusedWithEveryVoice) {
    EXPECT_EQ(run(600'000, Kind::appleSpeech), "end");
    ASSERT_EQ(alerts.shown().size(), 1u);
    EXPECT_EQ(alerts.shown()[0].messageText, "That's a lot of text");
    EXPECT_EQ(alerts.shown()[0].informativeText, guard.tooLargeMessage(600'000));
    EXPECT_EQ(alerts.shown()[0].buttons, (std::vector<std::string>{"OK"}));
    EXPECT_EQ(guard.tooLargeMessage(600'000),
              "This selection is huge \u2014 about 600,000 characters. Even Apple Speech would take all night. Try a "
              "smaller piece, or use Selection \u2192 Export to save it as an audio file.");
    EXPECT_EQ(run(500'001, Kind::openai, true), "end");
}

TEST_F(CostGuardTest, CountsFollowTheUsersLocale) {
    platform::ui::ScriptedAlertPresenter german(2);
    ReadAloudCostGuard guardDE(german, "de_DE");
    EXPECT_EQ(guardDE.tooLargeMessage(12'345).find("about 12.345 characters") != std::string::npos, true);
    EXPECT_NE(guard.tooLargeMessage(12'345).find("about 12,345 characters"), std::string::npos);
    guardDE.guard({12'345, Kind::elevenlabs, "", false}, {});
    ASSERT_EQ(german.shown().size(), 1u);
    // The cost keeps its point; only the count is grouped by the locale.
    EXPECT_EQ(german.shown()[0].messageText, "Big read \u2014 about $3.70 on ElevenLabs");
    EXPECT_EQ(german.shown()[0].informativeText.substr(0, 33), "That's about 12.345 characters. P");
}

TEST(CostGuardFormatCost, CentsOrLessThanAPenny) {
    EXPECT_EQ(ReadAloudCostGuard::formatCost(2'000, Kind::cartesia), "about $0.60");
    EXPECT_EQ(ReadAloudCostGuard::formatCost(5'000, Kind::openai), "about $0.07");  // 0.075
    EXPECT_EQ(ReadAloudCostGuard::formatCost(666, Kind::openai), "less than a penny");  // 0.00999
    EXPECT_EQ(ReadAloudCostGuard::formatCost(667, Kind::openai), "about $0.01");
    EXPECT_EQ(ReadAloudCostGuard::formatCost(100'000, Kind::appleSpeech), "less than a penny");
    EXPECT_EQ(ReadAloudCostGuard::formatCost(100'000, Kind::kokoro), "less than a penny");
}

}  // namespace
}  // namespace parlowen
