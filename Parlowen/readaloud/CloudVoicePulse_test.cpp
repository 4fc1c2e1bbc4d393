// The cloud voices end to end: a loopback server answers each sentence with a
// tone of its own pitch, the real HTTP client streams it, and a private
// PulseAudio server plays it into a null sink whose monitor the test records.

#include <gtest/gtest.h>

#include <cmath>
#include <mutex>
#include <numbers>

#include <nlohmann/json.hpp>

#include "Parlowen/readaloud/CartesiaTTSEngine.h"
#include "Parlowen/readaloud/ElevenLabsTTSEngine.h"
#include "Parlowen/readaloud/OpenAITTSEngine.h"
#include "platform/audio/PulseAudio.h"
#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/http/CurlHttpClient.h"
#include "platform/keychain/SecretStore.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/testsupport/LoopbackServer.h"
#include "platform/testsupport/Services.h"

namespace parlowen {
namespace {

using namespace std::chrono_literals;

// s16le at 24 kHz, half scale.
std::string tone(double hz, double seconds) {
    const auto frames = static_cast<std::size_t>(seconds * 24000);
    std::string out(frames * 2, '\0');
    for (std::size_t i = 0; i < frames; ++i) {
        auto v = static_cast<std::int16_t>(16000 * std::sin(2 * std::numbers::pi * hz * double(i) / 24000));
        out[2 * i] = static_cast<char>(v & 0xFF);
        out[2 * i + 1] = static_cast<char>((v >> 8) & 0xFF);
    }
    return out;
}

double pitchOf(const std::string& sentence) {
    if (sentence == "One.") return 400;
    if (sentence == "Two.") return 800;
    return 1200;
}

// Records the default source (the fixture's sink monitor unless moved).
class Recorder {
public:
    explicit Recorder(platform::PulseAudio& pulse) : input_(pulse.makeInputEngine()) {
        format_ = input_->inputFormat();
        input_->installTap(1024, format_, [this](const platform::PcmBuffer& b) {
            std::lock_guard lock(mutex_);
            samples_.insert(samples_.end(), b.floatChannel(0), b.floatChannel(0) + b.frameLength());
        });
    }
    ~Recorder() { input_->stop(); }
    platform::Status start() { return input_->start(); }
    double rate() const { return format_.sampleRate; }
    std::vector<float> samples() const {
        std::lock_guard lock(mutex_);
        return samples_;
    }
    std::size_t size() const {
        std::lock_guard lock(mutex_);
        return samples_.size();
    }

    // The loud stretches' pitches, in order, each once: 50 ms windows that are
    // loud throughout, by zero crossings; a pitch counts once two windows in
    // a row agree (a window across a change mixes two).
    std::vector<int> tones() const {
        auto s = samples();
        const auto window = static_cast<std::size_t>(rate() * 0.05);
        const std::size_t part = window / 5;
        std::vector<int> out;
        int previous = 0;
        for (std::size_t at = 0; at + window <= s.size(); at += window) {
            bool loud = true;
            for (std::size_t p = at; p + part <= at + window; p += part) loud = loud && rmsOf(s, p, p + part) > 0.1;
            if (!loud) {
                previous = 0;
                continue;
            }
            int crossings = 0;
            for (std::size_t i = at + 1; i < at + window; ++i)
                if (s[i - 1] < 0 && s[i] >= 0) ++crossings;
            const double hz = crossings / 0.05;
            const int nearest = hz < 600 ? 400 : hz < 1000 ? 800 : 1200;
            if (nearest == previous && (out.empty() || out.back() != nearest)) out.push_back(nearest);
            previous = nearest;
        }
        return out;
    }
    static double rmsOf(const std::vector<float>& s, std::size_t from, std::size_t to) {
        to = std::min(to, s.size());
        double energy = 0;
        for (std::size_t i = from; i < to; ++i) energy += double(s[i]) * s[i];
        return to > from ? std::sqrt(energy / double(to - from)) : 0;
    }
    // Root mean square of the samples in [from, to).
    double rms(std::size_t from, std::size_t to) const { return rmsOf(samples(), from, to); }

private:
    std::unique_ptr<platform::AudioInputEngine> input_;
    platform::PcmFormat format_;
    mutable std::mutex mutex_;
    std::vector<float> samples_;
};

class CloudVoicePulseTest : public ::testing::Test {
protected:
    void SetUp() override {
        PARLOWEN_REQUIRE_OR_SKIP(pulseServer.start());
        for (auto key : {KeychainStore::Key::openAI, KeychainStore::Key::cartesia, KeychainStore::Key::elevenLabs})
            ASSERT_TRUE(keychain.write(key, "key-test"));
        // Every voice's synthesis path answers with the tone of the sentence it was sent.
        for (const char* path : {"/v1/audio/speech", "/tts/bytes", "/v1/text-to-speech/voice1/stream"}) {
            http.route("POST", path, [this](const testsupport::LoopbackRequest& r) {
                auto body = nlohmann::json::parse(r.body);
                std::string text = body.value("input", body.value("transcript", body.value("text", "")));
                testsupport::LoopbackReply reply;
                std::string pcm = tone(pitchOf(text), seconds);
                for (std::size_t at = 0; at < pcm.size(); at += 6000) reply.chunks.push_back(pcm.substr(at, 6000));
                return reply;
            });
        }
        pulse = std::make_unique<platform::PulseAudio>(pulseServer.environment());
        use(std::make_unique<OpenAITTSEngine>(services(), http.baseUrl()));
    }
    CloudVoiceServices services() { return {main, client, keychain, *pulse, *pulse, defaults}; }
    void use(std::unique_ptr<CloudVoiceEngine> e) {
        engine = std::move(e);
        events.clear();
        engine->onStateChange = [this](const SpeechSynthesisState& s) {
            events.push_back(std::string(caseName(s.kind)) +
                             (s.hasSentence() ? " " + std::to_string(s.sentenceIndex) : ""));
        };
        engine->onError = [this](const platform::Error& e) { events.push_back("error: " + e.description); };
    }
    void TearDown() override { engine.reset(); }

    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 15000ms) {
        return main.runUntil(done, limit);
    }
    bool finished() const { return engine->state() == SpeechSynthesisState::finished(); }

    testsupport::PulseAudioServer pulseServer;
    testsupport::LoopbackServer http;
    double seconds = 0.4;
    platform::ManualExecutor main;
    platform::CurlHttpClient client;
    platform::InMemorySecretStore secrets;
    KeychainStore keychain{secrets, main};
    platform::InMemoryUserDefaults defaults;
    std::unique_ptr<platform::PulseAudio> pulse;
    std::unique_ptr<CloudVoiceEngine> engine;
    std::vector<std::string> events;
};

TEST_F(CloudVoicePulseTest, SpeaksThreeSentencesInOrderIntoTheSink) {
    Recorder recorder(*pulse);
    ASSERT_TRUE(recorder.start());
    engine->speak("One. Two. Three.", "coral", 0.5f);
    ASSERT_TRUE(runUntil([&] { return finished(); })) << "still " << caseName(engine->state().kind);
    // Let the monitor catch the tail.
    const std::size_t end = recorder.size() + static_cast<std::size_t>(recorder.rate() * 0.3);
    ASSERT_TRUE(runUntil([&] { return recorder.size() >= end; }, 5000ms));
    EXPECT_EQ(recorder.tones(), (std::vector<int>{400, 800, 1200}));
    EXPECT_EQ(events, (std::vector<std::string>{"loading 0", "speaking 0", "loading 1", "speaking 1", "loading 2",
                                                "speaking 2", "finished"}));
}

TEST_F(CloudVoicePulseTest, CartesiaAndElevenLabsSpeakTwoSentencesInOrder) {
    for (int voice = 0; voice < 2; ++voice) {
        SCOPED_TRACE(voice == 0 ? "Cartesia" : "ElevenLabs");
        if (voice == 0)
            use(std::make_unique<CartesiaTTSEngine>(services(), http.baseUrl()));
        else
            use(std::make_unique<ElevenLabsTTSEngine>(services(), http.baseUrl()));
        Recorder recorder(*pulse);
        ASSERT_TRUE(recorder.start());
        engine->speak("One. Two.", "voice1", 0.5f);
        ASSERT_TRUE(runUntil([&] { return finished(); })) << "still " << caseName(engine->state().kind);
        const std::size_t end = recorder.size() + static_cast<std::size_t>(recorder.rate() * 0.3);
        ASSERT_TRUE(runUntil([&] { return recorder.size() >= end; }, 5000ms));
        EXPECT_EQ(recorder.tones(), (std::vector<int>{400, 800}));
        EXPECT_EQ(events, (std::vector<std::string>{"loading 0", "speaking 0", "loading 1", "speaking 1", "finished"}));
    }
}

TEST_F(CloudVoicePulseTest, StopMidSentenceSilencesTheSink) {
    seconds = 4;
    Recorder recorder(*pulse);
    ASSERT_TRUE(recorder.start());
    engine->speak("One.", "coral", 0.5f);
    const auto window = static_cast<std::size_t>(recorder.rate() * 0.05);
    ASSERT_TRUE(runUntil([&] {
        auto n = recorder.size();
        return n > window && recorder.rms(n - window, n) > 0.1;
    })) << "the tone never arrived";
    engine->stop();
    EXPECT_EQ(engine->state(), SpeechSynthesisState::idle());
    const std::size_t stoppedAt = recorder.size();
    const std::size_t end = stoppedAt + static_cast<std::size_t>(recorder.rate() * 1.0);
    ASSERT_TRUE(runUntil([&] { return recorder.size() >= end; }, 5000ms));
    // Allow the capture's own latency, then nothing more is heard.
    EXPECT_LT(recorder.rms(stoppedAt + static_cast<std::size_t>(recorder.rate() * 0.5), end), 0.01);
}

TEST_F(CloudVoicePulseTest, ThePreferredOutputDeviceGetsTheAudio) {
    auto loaded = pulseServer.run({"pactl", "load-module", "module-null-sink", "sink_name=second",
                                   "sink_properties=device.description=Second_Sink"});
    ASSERT_TRUE(loaded.ok()) << loaded.describe();
    auto moved = pulseServer.run({"pactl", "set-default-source", "second.monitor"});
    ASSERT_TRUE(moved.ok()) << moved.describe();
    defaults.set(CloudVoiceEngine::kPreferredOutputKey, std::string("second"));

    Recorder recorder(*pulse);  // now on the second sink's monitor
    ASSERT_TRUE(recorder.start());
    engine->speak("Two.", "coral", 0.5f);
    ASSERT_TRUE(runUntil([&] { return finished(); }));
    const std::size_t end = recorder.size() + static_cast<std::size_t>(recorder.rate() * 0.3);
    ASSERT_TRUE(runUntil([&] { return recorder.size() >= end; }, 5000ms));
    EXPECT_EQ(recorder.tones(), (std::vector<int>{800}));
}

}  // namespace
}  // namespace parlowen
