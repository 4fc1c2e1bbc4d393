// The Cartesia voice's own points: request, speed words and their rate rule,
// the stream-started line, and a body that ends in an odd byte.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "Parlowen/readaloud/CartesiaTTSEngine.h"
#include "Parlowen/readaloud/CloudVoiceTesting.h"

namespace parlowen {
namespace {

using platform::FakeHttpAnswer;
using testing::audioAnswer;

constexpr const char* kBase = "https://cartesia.test";
const std::string kSynthesis = std::string(kBase) + "/tts/bytes";

class CartesiaTTSEngineTest : public ::testing::Test {
protected:
    CartesiaTTSEngineTest() {
        EXPECT_TRUE(rig.keychain.write(KeychainStore::Key::cartesia, "ck-test"));
        engine = std::make_unique<CartesiaTTSEngine>(rig.services(), kBase);
        rig.watch(*engine);
        rig.http.answer("POST", kSynthesis, audioAnswer(4800));
    }

    testing::CloudVoiceRig rig;
    std::unique_ptr<CartesiaTTSEngine> engine;
};

TEST_F(CartesiaTTSEngineTest, SentenceRequestHeadersAndBody) {
    // Any language goes out as "en"; a voice id of blanks is present and sent as it is.
    engine->speak("Guten Tag.", "   ", 0.5f);
    rig.main.advanceUntilIdle();
    ASSERT_EQ(rig.http.requestCount(), 1u);
    const auto request = rig.http.requests()[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.url, kSynthesis);
    EXPECT_EQ(request.timeout, std::chrono::seconds(30));
    EXPECT_EQ(request.headers, (platform::HttpHeaders{{"Authorization", "Bearer ck-test"},
                                                      {"Cartesia-Version", "2024-11-13"},
                                                      {"Content-Type", "application/json"}}));
    EXPECT_EQ(rig.body(0), nlohmann::json::parse(R"({"model_id":"sonic-3.5","transcript":"Guten Tag.",
        "voice":{"mode":"id","id":"   "},
        "output_format":{"container":"raw","sample_rate":24000,"encoding":"pcm_s16le"},
        "language":"en","speed":"normal"})"));
    EXPECT_EQ(engine->name(), "Cartesia Sonic");
}

TEST_F(CartesiaTTSEngineTest, SpeedWordsFromTheRateGivenToSpeak) {
    const std::pair<float, const char*> cases[] = {{0.0f, "slow"},    {0.3399f, "slow"}, {0.34f, "normal"},
                                                   {0.66f, "normal"}, {0.6601f, "fast"}, {1.5f, "fast"},
                                                   {-0.5f, "slow"}};
    std::size_t request = 0;
    for (auto [rate, word] : cases) {
        SCOPED_TRACE(rate);
        engine->speak("One sentence.", "voice-1", rate);
        rig.main.advanceUntilIdle();
        EXPECT_EQ(rig.body(request++)["speed"], word);
    }
}

TEST_F(CartesiaTTSEngineTest, RateChangesDropThePrefetchedSentencesWhenTheWordChanges) {
    struct Case {
        float from, to, stored;
        bool drops;
    };
    for (const auto& c : {Case{0.5f, 0.6f, 0.6f, false}, Case{0.5f, 0.7f, 0.7f, true}, Case{1.5f, 1.5f, 1.0f, false}}) {
        SCOPED_TRACE(::testing::Message() << c.from << " -> " << c.to);
        engine->speak("One. Two. Three.", "voice-1", c.from);
        rig.main.advanceUntilIdle();
        engine->setRate(c.to);
        const std::vector<std::int64_t> kept = c.drops ? std::vector<std::int64_t>{0} : std::vector<std::int64_t>{0, 1, 2};
        EXPECT_EQ(engine->streamIndexes(), kept);
        EXPECT_EQ(engine->rate(), c.stored);
    }
}

TEST_F(CartesiaTTSEngineTest, TheStreamStartedLineShortensOnlyLongIds) {
    const std::pair<std::string, std::string> cases[] = {
        {"abcd", "abcd"}, {"abcdefgh", "abcdefgh"}, {"abcdefghi", "abcdefgh…"}, {"0123456789abcdefghij", "01234567…"}};
    for (const auto& [id, logged] : cases) {
        rig.logs->clear();
        engine->speak("One sentence.", id, 0.9f);
        rig.main.advanceUntilIdle();
        EXPECT_EQ(rig.logs->messages().at(0), "cartesia stream started: voice=" + logged + " speed=fast");
        EXPECT_EQ(engine->voiceDisplayName(id), platform::text::graphemePrefix(id, 8) + "…");
    }
}

TEST_F(CartesiaTTSEngineTest, AnOddByteAtTheEndIsDropped) {
    rig.http.answerOnce("POST", kSynthesis, audioAnswer(4801));
    engine->speak("One sentence.", "voice-1", 0.5f);
    rig.main.advanceUntilIdle();
    EXPECT_EQ(rig.scheduledFrames(*engine), (std::vector<std::uint32_t>{2400, 24}));
    EXPECT_TRUE(rig.logs->contains("cartesia stream done: 4801 bytes"));
}

TEST_F(CartesiaTTSEngineTest, AnHttpFailureLogsTheGenericLine) {
    rig.http.answerOnce("POST", kSynthesis, FakeHttpAnswer::text(402, "Out of credits"));
    engine->speak("One sentence.", "voice-1", 0.5f);
    rig.main.advanceUntilIdle();
    ASSERT_EQ(rig.errors.size(), 1u);
    EXPECT_EQ(rig.errors[0].domain, "CartesiaTTSError");
    EXPECT_EQ(rig.errors[0].description, "HTTP 402: Out of credits");
    EXPECT_TRUE(rig.logs->contains("cartesia stream failed (sentence 0): HTTP 402: Out of credits",
                                   platform::LogLevel::error));
    EXPECT_EQ(CartesiaTTSError::audioInitFailed().description, "Audio init / playback failed");
    EXPECT_EQ(CartesiaTTSError::unexpectedResponse().description, "URLResponse was not HTTPURLResponse");
}

}  // namespace
}  // namespace parlowen
