// What the Cartesia and ElevenLabs voices share beyond the common playback:
// a voice id is required, and the key test against their voices list.

#include <gtest/gtest.h>

#include "Parlowen/readaloud/CartesiaTTSEngine.h"
#include "Parlowen/readaloud/CloudVoiceTesting.h"
#include "Parlowen/readaloud/ElevenLabsTTSEngine.h"

namespace parlowen {
namespace {

using platform::FakeHttpAnswer;

struct Cartesia {
    using Engine = CartesiaTTSEngine;
    static constexpr const char* kBase = "https://cartesia.test";
    static constexpr const char* kVoices = "https://cartesia.test/voices";
    static constexpr const char* kMissingVoiceLine = "cartesia speak called with no voice ID set";
    static platform::HttpHeaders keyHeaders(const std::string& key) {
        return {{"Authorization", "Bearer " + key}, {"Cartesia-Version", "2024-11-13"}};
    }
};
struct ElevenLabs {
    using Engine = ElevenLabsTTSEngine;
    static constexpr const char* kBase = "https://elevenlabs.test";
    static constexpr const char* kVoices = "https://elevenlabs.test/v1/voices";
    static constexpr const char* kMissingVoiceLine = "elevenlabs speak called with no voice ID set";
    static platform::HttpHeaders keyHeaders(const std::string& key) { return {{"xi-api-key", key}}; }
};

template <class Voice>
class VoiceIdEngineTest : public ::testing::Test {
protected:
    VoiceIdEngineTest() {
        EXPECT_TRUE(rig.keychain.write(KeychainStore::Key::cartesia, "key"));
        EXPECT_TRUE(rig.keychain.write(KeychainStore::Key::elevenLabs, "key"));
        engine = std::make_unique<typename Voice::Engine>(rig.services(), Voice::kBase);
        rig.watch(*engine);
    }
    testing::CloudVoiceRig rig;
    std::unique_ptr<typename Voice::Engine> engine;
};

using Voices = ::testing::Types<Cartesia, ElevenLabs>;
TYPED_TEST_SUITE(VoiceIdEngineTest, Voices);

TYPED_TEST(VoiceIdEngineTest, NoVoiceIdLogsAndFinishesWithoutARequest) {
    for (const std::optional<std::string>& voice : {std::optional<std::string>(), std::optional<std::string>("")}) {
        this->rig.events.clear();
        this->rig.logs->clear();
        this->engine->speak("One. Two.", voice, 0.5f);
        this->rig.main.advanceUntilIdle();
        EXPECT_EQ(this->rig.events, (std::vector<std::string>{"finished"}));  // already idle
        EXPECT_TRUE(this->rig.logs->contains(TypeParam::kMissingVoiceLine, platform::LogLevel::error));
        EXPECT_EQ(this->rig.http.requestCount(), 0u);
        EXPECT_TRUE(this->rig.errors.empty());
        EXPECT_EQ(this->engine->voiceDisplayName(voice), "Not set");
        this->engine->stop();
    }
}

TYPED_TEST(VoiceIdEngineTest, TestConnectionMapsTheOutcomeWithTheVoicesKeyHeaders) {
    const std::string body300(300, 'b');
    struct Case {
        const char* name;
        FakeHttpAnswer answer;
        ConnectionTestResult result;
    };
    const Case cases[] = {
        {"2xx", FakeHttpAnswer::text(200, "[]"), ConnectionTestResult::success()},
        {"401", FakeHttpAnswer::text(401, "no"), ConnectionTestResult::failure("Invalid API key (HTTP 401)")},
        {"429 with 300 bytes", FakeHttpAnswer::text(429, body300),
         ConnectionTestResult::failure("HTTP 429: " + body300.substr(0, 256))},
        {"transport error", FakeHttpAnswer::failure(platform::toError(platform::HttpError::transport, "refused")),
         ConnectionTestResult::failure("The network connection failed: refused")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        this->rig.http.answerOnce("GET", TypeParam::kVoices, c.answer);
        auto h = platform::spawn(this->rig.main,
                                 TypeParam::Engine::testConnection(this->rig.http, "typed-key", TypeParam::kBase));
        this->rig.main.advanceUntilIdle();
        ASSERT_TRUE(h.done());
        EXPECT_EQ(h.value(), c.result) << h.value().message;
        const auto request = this->rig.http.requests().back();
        EXPECT_EQ(request.headers, TypeParam::keyHeaders("typed-key"));
        EXPECT_EQ(request.timeout, std::chrono::seconds(10));
    }

    this->rig.http.answer("HEAD", TypeParam::kVoices, FakeHttpAnswer::text(200, ""));
    auto warm = platform::spawn(this->rig.main, TypeParam::Engine::warmUpConnection(this->rig.http, TypeParam::kBase));
    this->rig.main.advanceUntilIdle();
    ASSERT_TRUE(warm.done());
    EXPECT_EQ(this->rig.http.requests().back().method, "HEAD");
    EXPECT_TRUE(this->rig.http.requests().back().headers.empty());
    EXPECT_EQ(this->rig.http.requests().back().timeout, std::chrono::seconds(5));
}

}  // namespace
}  // namespace parlowen
