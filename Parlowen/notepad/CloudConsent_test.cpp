#include <gtest/gtest.h>

#include "Parlowen/notepad/CloudConsent.h"
#include "Parlowen/shell/settings/PreferencesStore.h"
#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/ui/ScriptedAlertPresenter.h"

using namespace parlowen;
using platform::ui::ScriptedAlertPresenter;

namespace {

constexpr int kAccept = 0, kDecline = 1, kEscape = -1;

class CloudConsentTest : public ::testing::Test {
protected:
    platform::InMemoryUserDefaults defaults;
    PreferencesStore settings{defaults, {}};
    ScriptedAlertPresenter alerts{kDecline};

    std::set<std::string> acknowledged() const { return settings.acknowledgedCloudProviders(); }
    std::string stored() const {
        auto value = defaults.object("acknowledgedCloudProviders");
        if (!value) return "<absent>";
        auto data = value->get<platform::Bytes>();
        return data ? platform::toString(*data) : "<not data>";
    }
};

TEST_F(CloudConsentTest, FirstCloudEngineShowsTheAlertAndAcceptanceIsRemembered) {
    alerts.answerNext(kAccept);
    EXPECT_TRUE(confirmCloudReadAloudEngine(ReadAloudEngineKind::openai, settings, alerts));
    ASSERT_EQ(alerts.shown().size(), 1u);
    const auto& alert = alerts.shown()[0];
    EXPECT_EQ(alert.messageText, "OpenAI — heads up");
    EXPECT_EQ(alert.style, platform::ui::AlertStyle::informational);
    EXPECT_EQ(alert.buttons, (std::vector<std::string>{"I understand, continue", "Stay on-device"}));
    EXPECT_EQ(alert.informativeText,
              "OpenAI is a cloud service — picking it means:\n\n"
              "• You'll need an API key from OpenAI. Parlowen never sees it; it stays in your Keychain.\n"
              "• You pay OpenAI directly based on usage (typically fractions of a cent per word). Parlowen isn't in "
              "the billing loop.\n"
              "• Anything you read aloud gets sent to OpenAI's servers, where they process it under their own terms. "
              "If that matters, Apple Speech and Kokoro stay entirely on your Mac.");
    EXPECT_EQ(acknowledged(), std::set<std::string>{"openai"});
    EXPECT_EQ(stored(), R"(["openai"])");

    EXPECT_TRUE(confirmCloudReadAloudEngine(ReadAloudEngineKind::openai, settings, alerts));
    EXPECT_EQ(alerts.shown().size(), 1u);  // no second alert
}

TEST_F(CloudConsentTest, DeclineOrEscapeRecordsNothingAndAsksAgainNextTime) {
    for (int answer : {kDecline, kEscape}) {
        alerts.answerNext(answer);
        EXPECT_FALSE(confirmCloudReadAloudEngine(ReadAloudEngineKind::elevenlabs, settings, alerts));
    }
    EXPECT_EQ(alerts.shown().size(), 2u);
    EXPECT_EQ(alerts.shown()[1].messageText, "ElevenLabs — heads up");
    EXPECT_TRUE(acknowledged().empty());
    EXPECT_EQ(stored(), "<absent>");

    alerts.answerNext(kAccept);
    EXPECT_TRUE(confirmCloudReadAloudEngine(ReadAloudEngineKind::elevenlabs, settings, alerts));
    EXPECT_EQ(alerts.shown().size(), 3u);
    EXPECT_EQ(acknowledged(), std::set<std::string>{"elevenlabs"});
}

TEST_F(CloudConsentTest, EachClaudeModelIsAcknowledgedOnItsOwn) {
    alerts.answerNext(kAccept);
    EXPECT_TRUE(confirmCloudModel(CleanUpModel::sonnet46, settings, alerts));
    ASSERT_EQ(alerts.shown().size(), 1u);
    EXPECT_EQ(alerts.shown()[0].messageText, "Claude Sonnet 4.6 — heads up");
    EXPECT_EQ(alerts.shown()[0].buttons, (std::vector<std::string>{"I understand, continue", "Stay on Apple Intelligence"}));
    EXPECT_EQ(alerts.shown()[0].informativeText,
              "Picking this cloud model means:\n\n"
              "• Quon Notepad text gets sent to Anthropic's servers when you click a tone or agent. Direct dictation "
              "(hold-to-talk to the cursor) is never affected — that always stays on your Mac.\n"
              "• Background punctuation polish stays on Apple Intelligence regardless of this setting — the "
              "every-pause path never sends text off-device.\n"
              "• You'll need an API key from Anthropic. Parlowen never sees it; it stays in your Keychain. You pay "
              "Anthropic directly based on usage.\n\n"
              "Apple Intelligence runs entirely on your Mac and is the default — pick this only if you want a specific "
              "cloud model's quality for big Quon Notepad rewrites.");

    EXPECT_FALSE(confirmCloudModel(CleanUpModel::opus47, settings, alerts));  // default answer declines
    ASSERT_EQ(alerts.shown().size(), 2u);
    EXPECT_EQ(alerts.shown()[1].messageText, "Claude Opus 4.7 — heads up");
    EXPECT_EQ(acknowledged(), std::set<std::string>{"claude-sonnet-4-6"});
    EXPECT_TRUE(confirmCloudModel(CleanUpModel::sonnet46, settings, alerts));
    EXPECT_EQ(alerts.shown().size(), 2u);
}

TEST_F(CloudConsentTest, OnDeviceChoicesNeverAlertAndNeverChangeTheSet) {
    alerts.setDefaultAnswer(kAccept);
    EXPECT_TRUE(confirmCloudReadAloudEngine(ReadAloudEngineKind::appleSpeech, settings, alerts));
    EXPECT_TRUE(confirmCloudReadAloudEngine(ReadAloudEngineKind::kokoro, settings, alerts));
    EXPECT_TRUE(confirmCloudModel(CleanUpModel::appleIntelligence, settings, alerts));
    EXPECT_TRUE(confirmCloudDictation(DictationEngineMode::speed, settings, alerts, "api.groq.com"));
    EXPECT_TRUE(alerts.shown().empty());
    EXPECT_TRUE(acknowledged().empty());
    EXPECT_EQ(stored(), "<absent>");
}

TEST_F(CloudConsentTest, CloudDictationAlertNamesTheTranscriptionHost) {
    settings.acknowledgedCloudProviders.set({"openai"});
    alerts.answerNext(kAccept);
    EXPECT_TRUE(confirmCloudDictation(DictationEngineMode::groq, settings, alerts, "api.groq.com"));
    ASSERT_EQ(alerts.shown().size(), 1u);
    EXPECT_EQ(alerts.shown()[0].messageText, "Cloud dictation (Groq) — heads up");
    EXPECT_EQ(alerts.shown()[0].buttons, (std::vector<std::string>{"I understand, continue", "Stay on-device"}));
    EXPECT_EQ(alerts.shown()[0].informativeText,
              "Cloud dictation means your audio leaves your Mac:\n\n"
              "• Each press POSTs a short WAV (your speech) to api.groq.com. Groq transcribes it on their LPU stack and "
              "returns the text within a second or two.\n"
              "• You'll need a Groq API key. Parlowen never sees it; it stays in your Keychain. You pay Groq directly.\n"
              "• Apple Speech (the default) stays entirely on your Mac. Switch back if voice-leaving-device matters to "
              "you.\n\n"
              "You can switch back any time. Existing transcripts already pasted aren't affected.");
    EXPECT_EQ(acknowledged(), (std::set<std::string>{"dictation-groq", "openai"}));  // added, nothing removed
    EXPECT_EQ(stored(), R"(["dictation-groq","openai"])");
}

TEST_F(CloudConsentTest, InformationOnlyAlertHasOneButtonRecordsNothingAndIsAlwaysTrue) {
    for (int answer : {kAccept, kEscape}) {
        alerts.answerNext(answer);
        EXPECT_TRUE(presentCloudReadAloudConsent(ReadAloudEngineKind::cartesia, true, alerts));
    }
    ASSERT_EQ(alerts.shown().size(), 2u);
    EXPECT_EQ(alerts.shown()[0].messageText, "Cartesia — heads up");
    EXPECT_EQ(alerts.shown()[0].buttons, std::vector<std::string>{"OK"});
    EXPECT_EQ(alerts.shown()[0].informativeText, cloudReadAloudConsentText(ReadAloudEngineKind::cartesia));
    EXPECT_TRUE(acknowledged().empty());
}

}  // namespace
