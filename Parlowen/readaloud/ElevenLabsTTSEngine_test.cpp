// The ElevenLabs voice's own points: the voice id in the path, the key
// header, the body, the piecewise speed and its rate rule, the log lines.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "Parlowen/readaloud/CloudVoiceTesting.h"
#include "Parlowen/readaloud/ElevenLabsTTSEngine.h"

namespace parlowen {
namespace {

using platform::FakeHttpAnswer;
using testing::audioAnswer;

constexpr const char* kBase = "https://elevenlabs.test";
const std::string kQuery = "/stream?output_format=pcm_24000&optimize_streaming_latency=3";
std::string synthesis(const std::string& encodedID) {
    return std::string(kBase) + "/v1/text-to-speech/" + encodedID + kQuery;
}

class ElevenLabsTTSEngineTest : public ::testing::Test {
protected:
    ElevenLabsTTSEngineTest() {
        EXPECT_TRUE(rig.keychain.write(KeychainStore::Key::elevenLabs, "xi-test"));
        engine = std::make_unique<ElevenLabsTTSEngine>(rig.services(), kBase);
        rig.watch(*engine);
        rig.http.answer("POST", synthesis("voice123"), audioAnswer(4800));
    }

    testing::CloudVoiceRig rig;
    std::unique_ptr<ElevenLabsTTSEngine> engine;
};

TEST_F(ElevenLabsTTSEngineTest, SentenceRequestHeadersAndBody) {
    engine->speak("Hello there.", "voice123", 0.5f);
    rig.main.advanceUntilIdle();
    ASSERT_EQ(rig.http.requestCount(), 1u);
    const auto request = rig.http.requests()[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.url, synthesis("voice123"));
    EXPECT_EQ(request.timeout, std::chrono::seconds(30));
    EXPECT_EQ(request.headers, (platform::HttpHeaders{{"xi-api-key", "xi-test"}, {"Content-Type", "application/json"}}));
    EXPECT_FALSE(request.headers.has("Authorization"));
    const auto b = rig.body(0);
    EXPECT_EQ(b, nlohmann::json::parse(R"({"text":"Hello there.","model_id":"eleven_multilingual_v2",
        "voice_settings":{"stability":0.5,"similarity_boost":0.75,"speed":1.0}})"));
    EXPECT_EQ(b.size(), 3u);
    EXPECT_EQ(b["voice_settings"].size(), 3u);
    EXPECT_EQ(engine->name(), "ElevenLabs");
}

TEST_F(ElevenLabsTTSEngineTest, AVoiceIdIsOnePathSegment) {
    // "/", "?", "#" and blanks cannot change the path or the query.
    const std::pair<std::string, std::string> cases[] = {
        {"a/b", "a%2Fb"}, {"x?y=1", "x%3Fy%3D1"}, {"v#1", "v%231"}, {"my voice", "my%20voice"}};
    for (const auto& [id, encoded] : cases) {
        rig.http.answerOnce("POST", synthesis(encoded), audioAnswer(4800));
        engine->speak("One sentence.", id, 0.5f);
        rig.main.advanceUntilIdle();
        EXPECT_EQ(rig.http.requests().back().url, synthesis(encoded));
        EXPECT_TRUE(rig.errors.empty()) << id;
    }
}

TEST_F(ElevenLabsTTSEngineTest, SpeedFollowsTheRateGivenToSpeak) {
    const std::pair<float, double> cases[] = {{0.0f, 0.7}, {0.25f, 0.85}, {0.5f, 1.0}, {0.75f, 1.1}, {1.0f, 1.2}, {1.5f, 1.2}};
    std::size_t request = 0;
    for (auto [rate, speed] : cases) {
        SCOPED_TRACE(rate);
        engine->speak("One sentence.", "voice123", rate);
        rig.main.advanceUntilIdle();
        EXPECT_NEAR(rig.body(request++)["voice_settings"]["speed"].get<double>(), speed, 1e-6);
    }
}

TEST_F(ElevenLabsTTSEngineTest, RateChangesDropThePrefetchedSentencesByTheSpeedRule) {
    struct Case {
        float from, to;
        bool drops;
    };
    for (const auto& c : {Case{0.5f, 0.51f, false}, Case{0.5f, 0.53f, true}, Case{0.40f, 0.42f, true}}) {
        SCOPED_TRACE(::testing::Message() << c.from << " -> " << c.to);
        engine->speak("One. Two. Three.", "voice123", c.from);
        rig.main.advanceUntilIdle();
        engine->setRate(c.to);
        const std::vector<std::int64_t> kept = c.drops ? std::vector<std::int64_t>{0} : std::vector<std::int64_t>{0, 1, 2};
        EXPECT_EQ(engine->streamIndexes(), kept);
    }
    engine->setRate(1.7f);
    EXPECT_EQ(engine->rate(), 1.0f);
    engine->setRate(-0.2f);
    EXPECT_EQ(engine->rate(), 0.0f);
}

TEST_F(ElevenLabsTTSEngineTest, TheStreamStartedLineShortensOnlyLongIds) {
    const std::pair<std::string, std::string> cases[] = {{"abcdefgh", "abcdefgh"}, {"0123456789abcdefghij", "01234567…"}};
    for (const auto& [id, logged] : cases) {
        rig.logs->clear();
        rig.http.answerOnce("POST", synthesis(id), audioAnswer(4800));
        engine->speak("One sentence.", id, 0.5f);
        rig.main.advanceUntilIdle();
        EXPECT_EQ(rig.logs->messages().at(0), "elevenlabs stream started: voice=" + logged + " speed=1.000000");
        EXPECT_EQ(engine->voiceDisplayName(id), platform::text::graphemePrefix(id, 8) + "…");
    }
}

TEST_F(ElevenLabsTTSEngineTest, A404WithAJsonBodyIsOneLine) {
    rig.http.answerOnce("POST", synthesis("voice123"),
                        FakeHttpAnswer::text(404, "{\r\n  \"detail\": {\"status\": \"voice_not_found\"}\n}"));
    engine->speak("One sentence.", "voice123", 0.5f);
    rig.main.advanceUntilIdle();
    ASSERT_EQ(rig.errors.size(), 1u);
    EXPECT_EQ(rig.errors[0].domain, "ElevenLabsTTSError");
    EXPECT_EQ(rig.errors[0].description, "HTTP 404: {   \"detail\": {\"status\": \"voice_not_found\"} }");
    EXPECT_TRUE(rig.logs->contains("elevenlabs stream failed (sentence 0): HTTP 404: {", platform::LogLevel::error));
    EXPECT_EQ(ElevenLabsTTSError::unexpectedResponse().description, "URLResponse was not HTTPURLResponse");
}

}  // namespace
}  // namespace parlowen
