// The OpenAI voice's own points: the request, the speed, the rate rule, its
// log lines, its voice names, the warm-up and the key test.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "Parlowen/readaloud/CloudVoiceTesting.h"
#include "Parlowen/readaloud/OpenAITTSEngine.h"

namespace parlowen {
namespace {

using namespace std::chrono_literals;
using platform::FakeHttpAnswer;
using testing::audioAnswer;

constexpr const char* kBase = "https://api.test";
const std::string kSpeech = std::string(kBase) + "/v1/audio/speech";
const std::string kModels = std::string(kBase) + "/v1/models";

class OpenAITTSEngineTest : public ::testing::Test {
protected:
    OpenAITTSEngineTest() {
        EXPECT_TRUE(rig.keychain.write(KeychainStore::Key::openAI, "sk-test"));
        engine = std::make_unique<OpenAITTSEngine>(rig.services(), kBase);
        rig.watch(*engine);
        rig.http.answer("POST", kSpeech, audioAnswer(4800));
    }

    testing::CloudVoiceRig rig;
    std::unique_ptr<OpenAITTSEngine> engine;
};

TEST_F(OpenAITTSEngineTest, SentenceRequestHeadersAndBody) {
    engine->speak("Hello there. General Kenobi.", "coral", 0.5f);
    rig.main.advanceUntilIdle();
    ASSERT_EQ(rig.http.requestCount(), 2u);
    const auto request = rig.http.requests()[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.url, kSpeech);
    EXPECT_EQ(request.timeout, std::chrono::seconds(30));
    EXPECT_EQ(request.headers, (platform::HttpHeaders{{"Authorization", "Bearer sk-test"},
                                                      {"Content-Type", "application/json"}}));
    EXPECT_EQ(rig.body(0), nlohmann::json::parse(R"({"model":"gpt-4o-mini-tts","input":"Hello there.","voice":"coral",
                                                 "response_format":"pcm","speed":1.0})"));
    EXPECT_EQ(rig.body(1)["input"], "General Kenobi.");
    EXPECT_TRUE(rig.logs->contains("openai stream started: model=gpt-4o-mini-tts voice=coral", platform::LogLevel::info));
}

TEST_F(OpenAITTSEngineTest, SpeedFollowsTheRateGivenToSpeak) {
    const std::pair<float, double> cases[] = {{0.5f, 1.0}, {0.0f, 0.25}, {0.1f, 0.25}, {1.0f, 2.0}, {1.5f, 2.0}};
    std::size_t request = 0;
    for (auto [rate, speed] : cases) {
        SCOPED_TRACE(rate);
        engine->speak("One sentence.", "alloy", rate);
        rig.main.advanceUntilIdle();
        auto b = rig.body(request++);
        EXPECT_EQ(b["speed"].get<double>(), speed);
        EXPECT_EQ(b.size(), 5u);  // model, input, voice, response_format, speed and nothing else
        EXPECT_EQ(engine->rate(), rate);  // speak stores it unclamped
    }
}

TEST_F(OpenAITTSEngineTest, NoVoiceSendsNovaAndAnEmptyOneIsSentAsItIs) {
    engine->speak("One. Two.", std::nullopt, 0.5f);
    rig.main.advanceUntilIdle();
    EXPECT_EQ(rig.body(0)["voice"], "nova");
    EXPECT_EQ(rig.body(1)["voice"], "nova");
    EXPECT_EQ(engine->state().kind, SpeechSynthesisState::Case::speaking);
    engine->speak("One.", "", 0.5f);
    rig.main.advanceUntilIdle();
    EXPECT_EQ(rig.body(2)["voice"], "");
    EXPECT_EQ(engine->state().kind, SpeechSynthesisState::Case::speaking);
}

TEST_F(OpenAITTSEngineTest, RateChangesDropThePrefetchedSentencesByTheRateRule) {
    struct Case {
        float from, to;
        bool drops;
    };
    for (const auto& c : {Case{0.5f, 0.5005f, false}, Case{0.5f, 0.502f, true}, Case{0.05f, 0.10f, true}}) {
        SCOPED_TRACE(::testing::Message() << c.from << " -> " << c.to);
        engine->speak("One. Two. Three.", "coral", c.from);
        rig.main.advanceUntilIdle();
        ASSERT_EQ(engine->streamIndexes(), (std::vector<std::int64_t>{0, 1, 2}));
        const auto requests = rig.http.requestCount();
        engine->setRate(c.to);
        const std::vector<std::int64_t> kept = c.drops ? std::vector<std::int64_t>{0} : std::vector<std::int64_t>{0, 1, 2};
        EXPECT_EQ(engine->streamIndexes(), kept);
        EXPECT_EQ(engine->rate(), c.to);
        EXPECT_EQ(engine->state().kind, SpeechSynthesisState::Case::speaking);  // the current sentence goes on

        // The next sentence is fetched again at the new speed when it comes.
        rig.main.advanceUntilIdle();
        rig.stream(*engine)->finishAll();
        rig.main.advanceUntilIdle();
        EXPECT_EQ(rig.http.requestCount(), requests + (c.drops ? 2 : 0));
    }
}

TEST_F(OpenAITTSEngineTest, SetRateClampsToZeroToOne) {
    engine->setRate(1.7f);
    EXPECT_EQ(engine->rate(), 1.0f);
    engine->setRate(-0.2f);
    EXPECT_EQ(engine->rate(), 0.0f);
}

TEST_F(OpenAITTSEngineTest, AnHttpFailureLogsItsOwnLineWithTheMessageKeptPrivate) {
    rig.http.answerOnce("POST", kSpeech, FakeHttpAnswer::text(429, "Rate limit reached.\nTry again later."));
    engine->speak("One sentence.", "coral", 0.5f);
    rig.main.advanceUntilIdle();
    ASSERT_EQ(rig.errors.size(), 1u);
    EXPECT_EQ(rig.errors[0].description, "HTTP 429: Rate limit reached. Try again later.");
    auto payload = OpenAITTSError::httpStatusOf(rig.errors[0]);
    ASSERT_TRUE(payload);
    EXPECT_EQ(payload->status, 429);
    EXPECT_EQ(rig.logs->messages(),
              (std::vector<std::string>{"openai stream failed (sentence 0): HTTP 429: <private>"}));
    EXPECT_EQ(rig.events, (std::vector<std::string>{"loading 0", "idle", "error: HTTP 429: Rate limit reached. Try again later."}));
}

TEST_F(OpenAITTSEngineTest, ATransportFailureLogsTheGenericLine) {
    rig.http.answerOnce("POST", kSpeech,
                        FakeHttpAnswer::failure(platform::toError(platform::HttpError::transport, "refused")));
    engine->speak("One sentence.", "coral", 0.5f);
    rig.main.advanceUntilIdle();
    EXPECT_TRUE(rig.logs->contains("openai stream failed (sentence 0): The network connection failed: refused",
                                   platform::LogLevel::error));
    ASSERT_EQ(rig.errors.size(), 1u);
    EXPECT_TRUE(platform::isHttpError(rig.errors[0], platform::HttpError::transport));
}

TEST_F(OpenAITTSEngineTest, ErrorDescriptions) {
    EXPECT_EQ(OpenAITTSError::httpStatus(500, "boom").description, "HTTP 500: boom");
    EXPECT_EQ(OpenAITTSError::audioInitFailed().description, "Audio init / playback failed");
    EXPECT_EQ(OpenAITTSError::unexpectedResponse().description, "URLResponse was not HTTPURLResponse");
    EXPECT_FALSE(OpenAITTSError::httpStatusOf(OpenAITTSError::audioInitFailed()));
}

TEST_F(OpenAITTSEngineTest, VoiceDisplayNameComesFromThePickerLabel) {
    const std::pair<std::optional<std::string>, std::string> cases[] = {
        {"coral", "Coral"}, {"shimmer", "Shimmer"}, {"Coral", "Nova"}, {"whisper", "Nova"}, {std::nullopt, "Nova"}, {"", "Nova"}};
    for (const auto& [id, name] : cases) EXPECT_EQ(engine->voiceDisplayName(id), name) << id.value_or("(none)");
    EXPECT_EQ(engine->name(), "OpenAI TTS");
}

TEST_F(OpenAITTSEngineTest, WarmUpSendsABareHeadAndIgnoresTheOutcome) {
    rig.http.answer("HEAD", kModels, FakeHttpAnswer::failure(platform::toError(platform::HttpError::transport)));
    auto h = platform::spawn(rig.main, OpenAITTSEngine::warmUpConnection(rig.http, kBase));
    rig.main.advanceUntilIdle();
    ASSERT_TRUE(h.done());
    const auto request = rig.http.requests().at(0);
    EXPECT_EQ(request.method, "HEAD");
    EXPECT_EQ(request.url, kModels);
    EXPECT_TRUE(request.headers.empty());
    EXPECT_EQ(request.timeout, std::chrono::seconds(5));
}

TEST_F(OpenAITTSEngineTest, TestConnectionMapsTheOutcome) {
    std::string longText(300, 'e');
    longText[10] = '\n';
    longText[11] = '\r';
    std::string expected = "HTTP 429: " + longText.substr(0, 256);
    expected[10 + 10] = ' ';  // the line feed becomes a blank; the carriage return stays

    struct Case {
        const char* name;
        FakeHttpAnswer answer;
        ConnectionTestResult result;
    };
    const Case cases[] = {
        {"2xx", FakeHttpAnswer::text(204, ""), ConnectionTestResult::success()},
        {"401", FakeHttpAnswer::text(401, "nope"), ConnectionTestResult::failure("Invalid API key (HTTP 401)")},
        {"429 with 300 bytes", FakeHttpAnswer::text(429, longText), ConnectionTestResult::failure(expected)},
        {"not UTF-8", FakeHttpAnswer::text(500, "\xff\xfe"), ConnectionTestResult::failure("HTTP 500: ")},
        {"transport error", FakeHttpAnswer::failure(platform::toError(platform::HttpError::transport, "refused")),
         ConnectionTestResult::failure("The network connection failed: refused")},
        {"not HTTP", FakeHttpAnswer::text(0, ""), ConnectionTestResult::failure("Unexpected non-HTTP response")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rig.http.answerOnce("GET", kModels, c.answer);
        auto h = platform::spawn(rig.main, OpenAITTSEngine::testConnection(rig.http, "sk-typed", kBase));
        rig.main.advanceUntilIdle();
        ASSERT_TRUE(h.done());
        EXPECT_EQ(h.value(), c.result) << h.value().message;
        const auto request = rig.http.requests().back();
        EXPECT_EQ(request.method, "GET");
        EXPECT_EQ(request.headers.value("Authorization"), "Bearer sk-typed");
        EXPECT_EQ(request.timeout, std::chrono::seconds(10));
    }
}

}  // namespace
}  // namespace parlowen
