#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "Parlowen/model/CleanUpModel.h"
#include "Parlowen/model/DictationEngine.h"
#include "Parlowen/model/LiveDisplayMode.h"
#include "Parlowen/model/PodcastEngineKind.h"
#include "Parlowen/model/ReadAloudEngineKind.h"
#include "Parlowen/model/Theme.h"
#include "Parlowen/model/VoiceCommand.h"

namespace {

using namespace parlowen;
using platform::Json;

// Raw values in declaration order, the JSON form, and rejection of anything else.
template <class E>
void expectRawValues(const std::vector<std::string_view>& raws) {
    const auto cases = allCases<E>();
    ASSERT_EQ(cases.size(), raws.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(static_cast<std::size_t>(cases[i]), i);
        EXPECT_EQ(rawValue(cases[i]), raws[i]);
        EXPECT_EQ(fromRawValue<E>(raws[i]), cases[i]);
        EXPECT_EQ(*platform::encodeJson(toJson(cases[i])), "\"" + std::string(raws[i]) + "\"");
        EXPECT_EQ(fromJson<E>(Json(std::string(raws[i]))).value(), cases[i]);
    }
    EXPECT_FALSE(fromRawValue<E>("").has_value());
    EXPECT_FALSE(fromJson<E>(Json("unknown")).has_value());
    EXPECT_FALSE(fromJson<E>(Json(0)).has_value());
    EXPECT_FALSE(fromJson<E>(Json::array({std::string(raws[0])})).has_value());
}

TEST(Enumerations, RawValuesAndJson) {
    expectRawValues<Theme>({"hearth", "summit", "alpineDawn", "dusk", "chestnut"});
    expectRawValues<LiveDisplayMode>({"off", "hud"});
    expectRawValues<PodcastEngineKind>({"kokoro", "gemini"});
    expectRawValues<DictationEngineMode>({"speed", "groq"});
    expectRawValues<EngineKind>({"appleSpeech", "groq"});
    expectRawValues<GroqTranscriptionModel>(
        {"whisper-large-v3-turbo", "whisper-large-v3", "distil-whisper-large-v3-en"});
    expectRawValues<ReadAloudEngineKind>({"appleSpeech", "kokoro", "openai", "cartesia", "elevenlabs"});
    expectRawValues<OpenAITTSVoice>(
        {"alloy", "echo", "fable", "onyx", "nova", "shimmer", "ash", "ballad", "coral", "sage", "verse"});
    expectRawValues<VoiceCommand>({"scratchThat", "deleteThat"});
    expectRawValues<CleanUpModel>({"apple-intelligence", "claude-sonnet-4-6", "claude-opus-4-7"});
}

TEST(Enumerations, RawValuesAreCaseSensitive) {
    EXPECT_FALSE(fromRawValue<Theme>("AlpineDawn").has_value());
    EXPECT_FALSE(fromRawValue<CleanUpModel>("Claude-Sonnet-4-6").has_value());
    EXPECT_FALSE(fromRawValue<CleanUpModel>("claude-haiku-4-5-20251001").has_value());
    auto bad = fromJson<Theme>(Json("Hearth"));
    ASSERT_FALSE(bad.has_value());
    EXPECT_EQ(bad.error().description, "Cannot initialize Theme from invalid String value Hearth");
}

TEST(Enumerations, ReadAloudCloudKinds) {
    EXPECT_FALSE(isCloud(ReadAloudEngineKind::appleSpeech));
    EXPECT_FALSE(isCloud(ReadAloudEngineKind::kokoro));
    EXPECT_TRUE(isCloud(ReadAloudEngineKind::openai));
    EXPECT_TRUE(isCloud(ReadAloudEngineKind::cartesia));
    EXPECT_TRUE(isCloud(ReadAloudEngineKind::elevenlabs));
}

TEST(Enumerations, Labels) {
    EXPECT_EQ(displayLabel(OpenAITTSVoice::coral), "Coral \u2014 warm, animated");
    EXPECT_EQ(displayLabel(OpenAITTSVoice::fable), "Fable \u2014 expressive, British");
    for (auto voice : allCases<OpenAITTSVoice>())
        EXPECT_NE(displayLabel(voice).find(" \u2014 "), std::string_view::npos) << rawValue(voice);

    EXPECT_EQ(spokenPhrase(VoiceCommand::scratchThat), "scratch that");
    EXPECT_EQ(spokenPhrase(VoiceCommand::deleteThat), "delete that");
    EXPECT_EQ(title(VoiceCommand::scratchThat), "\u201CScratch that\u201D");
    EXPECT_EQ(description(VoiceCommand::deleteThat), "Deletes the previous word.");

    EXPECT_EQ(displayName(CleanUpModel::appleIntelligence), "Apple Intelligence");
    EXPECT_EQ(displayName(CleanUpModel::sonnet46), "Claude Sonnet 4.6");
    EXPECT_EQ(displayName(CleanUpModel::opus47), "Claude Opus 4.7");
    EXPECT_TRUE(isOnDevice(CleanUpModel::appleIntelligence));
    EXPECT_FALSE(isOnDevice(CleanUpModel::opus47));
}

}  // namespace
