#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <limits>
#include <mutex>
#include <thread>

#include "Parlowen/readaloud/AppleSpeechSynthesisEngine.h"
#include "platform/audio/PulseAudio.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/speechsynth/EspeakSpeechSynthesizer.h"
#include "platform/speechsynth/FakeSpeechSynthesizer.h"
#include "platform/testsupport/Services.h"

namespace parlowen {
namespace {

using State = SpeechSynthesisState;
using platform::FakeSpeechSynthesizer;

// Paragraphs 0 and 2: the empty piece between four line feeds keeps its index.
const char* kThree = "One fish. Two fish.\n\n\n\nRed fish.";

class AppleEngineTest : public ::testing::Test {
protected:
    AppleEngineTest() {
        auto synth = std::make_unique<FakeSpeechSynthesizer>();
        synth_ = synth.get();
        engine_ = std::make_unique<AppleSpeechSynthesisEngine>(main_, std::move(synth));
        engine_->onStateChange = [this](const State& s) {
            states_.push_back(s);
            onMain_ = onMain_ && main_.isCurrent();
        };
    }

    // The synthesiser finishes its current utterance on its own thread.
    void finishOnSynthThread() {
        std::thread([this] { synth_->finishCurrent(); }).join();
    }
    std::size_t spokenCount() const { return synth_->spoken().size(); }
    std::string lastSpokenText() const { return synth_->spoken().back().utterance.text; }

    platform::ManualExecutor main_;
    FakeSpeechSynthesizer* synth_ = nullptr;
    std::unique_ptr<AppleSpeechSynthesisEngine> engine_;
    std::vector<State> states_;
    bool onMain_ = true;
};

TEST_F(AppleEngineTest, SpeaksSentenceBySentenceUntilFinished) {
    EXPECT_EQ(engine_->name(), "Apple TTS");
    engine_->speak(kThree, "gmw/en-US", 0.5f);
    EXPECT_EQ(engine_->state(), State::speaking(0, 3, "One fish."));
    ASSERT_EQ(spokenCount(), 1u);
    EXPECT_EQ(synth_->spoken()[0].utterance.voiceIdentifier, "gmw/en-US");
    EXPECT_EQ(synth_->spoken()[0].utterance.rate, 0.5f);

    finishOnSynthThread();
    EXPECT_EQ(engine_->state(), State::speaking(0, 3, "One fish.")) << "applied only on the main executor";
    main_.runUntilIdle();
    EXPECT_EQ(engine_->state(), State::speaking(1, 3, "Two fish."));
    finishOnSynthThread();
    main_.runUntilIdle();
    finishOnSynthThread();
    main_.runUntilIdle();
    EXPECT_EQ(states_, (std::vector<State>{State::speaking(0, 3, "One fish."), State::speaking(1, 3, "Two fish."),
                                           State::speaking(2, 3, "Red fish."), State::finished()}));
    EXPECT_TRUE(onMain_);
    EXPECT_EQ(synth_->stopCount(), 0) << "a natural advance stops nothing: no gap between sentences";

    // A new reading starts over.
    engine_->speak("Again.", std::nullopt, 0.5f);
    EXPECT_EQ(engine_->state(), State::speaking(0, 1, "Again."));
}

TEST_F(AppleEngineTest, BlankTextFinishesWithoutSpeaking) {
    engine_->speak("\n\n  \n\n\t", std::nullopt, 0.5f);
    EXPECT_EQ(states_, std::vector<State>{State::finished()});
    EXPECT_EQ(spokenCount(), 0u);
}

TEST_F(AppleEngineTest, TheSameStateTwiceIsReportedOnce) {
    engine_->speak(kThree, std::nullopt, 0.5f);
    engine_->setRate(0.6f);  // restarts the sentence: speaking(0) again
    EXPECT_EQ(spokenCount(), 2u);
    EXPECT_EQ(synth_->spoken()[1].utterance.rate, 0.6f);
    engine_->stop();
    engine_->stop();
    EXPECT_EQ(states_, (std::vector<State>{State::speaking(0, 3, "One fish."), State::idle()}));
}

TEST_F(AppleEngineTest, AnUnknownVoiceFallsBackAndItsNameAgrees) {
    const std::string zoe = "com.apple.voice.premium.en-US.Zoe";
    engine_->speak("Hi.", zoe, 0.5f);
    EXPECT_EQ(synth_->spoken().back().utterance.voiceIdentifier, "gmw/en-US");
    EXPECT_EQ(engine_->voiceDisplayName(zoe), "English (America)");
    EXPECT_EQ(engine_->voiceDisplayName(std::nullopt), "English (America)");
    EXPECT_EQ(engine_->voiceDisplayName("gmw/en"), "English (Great Britain)");
    engine_->speak("Hi.", "roa/fr", 0.5f);
    EXPECT_EQ(synth_->spoken().back().utterance.voiceIdentifier, "roa/fr");

    // No voice at all: the synthesiser's own default, and "System".
    auto bare = std::make_unique<FakeSpeechSynthesizer>(std::vector<platform::SpeechVoice>{}, "en-US");
    auto* bareSynth = bare.get();
    AppleSpeechSynthesisEngine engine(main_, std::move(bare));
    engine.speak("Hi.", zoe, 0.5f);
    EXPECT_EQ(bareSynth->spoken().back().utterance.voiceIdentifier, std::nullopt);
    EXPECT_EQ(engine.voiceDisplayName(zoe), "System");
}

TEST_F(AppleEngineTest, RatesAreClampedAndTheEstimateUsesTheClampedRate) {
    // Four 13-character sentences: 0.5 s each at the maximum rate 1.0.
    const char* text = "Sentence aaa. Sentence bbb. Sentence ccc. Sentence ddd.";
    engine_->speak(text, std::nullopt, 7.0f);
    EXPECT_EQ(engine_->rate(), platform::kSpeechMaximumRate);
    EXPECT_EQ(synth_->spoken().back().utterance.rate, platform::kSpeechMaximumRate);
    engine_->skipForward(1.0);
    EXPECT_EQ(engine_->state().sentenceIndex, 2) << "two sentences of 0.5 s";
    engine_->setRate(-1.0f);
    EXPECT_EQ(engine_->rate(), platform::kSpeechMinimumRate);
    EXPECT_EQ(synth_->spoken().back().utterance.rate, platform::kSpeechMinimumRate);

    // NaN never reaches the synthesiser: it counts as the default rate.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    engine_->setRate(nan);
    EXPECT_EQ(engine_->rate(), platform::kSpeechDefaultRate);
    engine_->speak(text, std::nullopt, nan);
    EXPECT_EQ(engine_->rate(), platform::kSpeechDefaultRate);
    EXPECT_EQ(synth_->spoken().back().utterance.rate, platform::kSpeechDefaultRate);
    engine_->skipForward(1.0);
    EXPECT_EQ(engine_->state().sentenceIndex, 1) << "one sentence of 1 s at the default rate";
}

TEST_F(AppleEngineTest, SpeechThatCannotBePlayedIsAnErrorAndStopsTheReading) {
    std::vector<platform::Error> errors;
    engine_->onError = [&](const platform::Error& e) {
        errors.push_back(e);
        EXPECT_TRUE(main_.isCurrent());
    };
    engine_->speak(kThree, std::nullopt, 0.5f);
    const platform::Error noOutput = platform::Error::make("speechsynth", 4, "noAudioOutput",
                                                           "No audio output is available.");
    std::thread([&] { synth_->failCurrent(noOutput); }).join();
    EXPECT_TRUE(errors.empty()) << "delivered on the main executor";
    main_.runUntilIdle();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].description, "No audio output is available.");
    EXPECT_EQ(engine_->state(), State::idle());
    EXPECT_EQ(spokenCount(), 1u) << "no race through the other sentences";
    EXPECT_EQ(states_, (std::vector<State>{State::speaking(0, 3, "One fish."), State::idle()}));

    // A failure of an utterance a skip has replaced is stale.
    engine_->speak(kThree, std::nullopt, 0.5f);
    auto first = synth_->spoken().back().id;
    engine_->skipForwardSentence();
    synth_->send({platform::SpeechEvent::Kind::failed, first, {}, noOutput});
    main_.runUntilIdle();
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_EQ(engine_->state(), State::speaking(1, 3, "Two fish."));
}

TEST_F(AppleEngineTest, PauseAndResumeOnlyWhenTheyApply) {
    engine_->pause();
    engine_->resume();
    EXPECT_TRUE(states_.empty()) << "nothing while idle";
    EXPECT_FALSE(synth_->isPaused());

    engine_->speak(kThree, std::nullopt, 0.5f);
    engine_->resume();  // not paused
    EXPECT_EQ(engine_->state(), State::speaking(0, 3, "One fish."));
    engine_->pause();
    EXPECT_TRUE(synth_->isPaused());
    EXPECT_EQ(engine_->state(), State::paused(0, 3, "One fish."));

    // A rate change while paused does not restart; the next sentence gets it.
    engine_->setRate(0.7f);
    EXPECT_EQ(spokenCount(), 1u);
    EXPECT_EQ(engine_->state(), State::paused(0, 3, "One fish."));
    engine_->resume();
    EXPECT_EQ(engine_->state(), State::speaking(0, 3, "One fish."));
    finishOnSynthThread();
    main_.runUntilIdle();
    EXPECT_EQ(synth_->spoken().back().utterance.rate, 0.7f);
}

TEST_F(AppleEngineTest, SkippingWhilePausedSpeaksTheTarget) {
    engine_->speak(kThree, std::nullopt, 0.5f);
    engine_->pause();
    engine_->skipForwardParagraph();
    EXPECT_EQ(engine_->state(), State::speaking(2, 3, "Red fish."));
    EXPECT_FALSE(synth_->isPaused());
    EXPECT_EQ(lastSpokenText(), "Red fish.");
    engine_->skipBackParagraph();  // first of paragraph 2; paragraph 1 is empty: restart it
    EXPECT_EQ(engine_->state(), State::speaking(2, 3, "Red fish."));
    EXPECT_EQ(spokenCount(), 3u);
    engine_->skipBackSentence();
    EXPECT_EQ(engine_->state(), State::speaking(1, 3, "Two fish."));
    engine_->skipForwardSentence();
    engine_->skipForwardSentence();
    EXPECT_EQ(states_.back(), State::finished());
    EXPECT_EQ(states_[states_.size() - 2], State::idle()) << "a skip past the end stops first";
    EXPECT_FALSE(synth_->isSpeaking());
}

TEST_F(AppleEngineTest, LateFinishesAreIgnored) {
    engine_->speak(kThree, std::nullopt, 0.5f);
    engine_->stop();
    EXPECT_EQ(engine_->state(), State::idle());
    synth_->send({platform::SpeechEvent::Kind::finished, synth_->spoken()[0].id, {}});
    main_.runUntilIdle();
    EXPECT_EQ(engine_->state(), State::idle()) << "a finish after stop does not advance";
    EXPECT_EQ(spokenCount(), 1u);

    // A finish of a sentence that a skip has already replaced does not skip again.
    engine_->speak(kThree, std::nullopt, 0.5f);
    auto first = synth_->spoken().back().id;
    engine_->skipForwardSentence();
    std::thread([&] { synth_->send({platform::SpeechEvent::Kind::finished, first, {}}); }).join();
    main_.runUntilIdle();
    EXPECT_EQ(engine_->state(), State::speaking(1, 3, "Two fish."));
}

TEST_F(AppleEngineTest, AFinishPostedBeforeTheEngineIsGoneDoesNothing) {
    engine_->speak(kThree, std::nullopt, 0.5f);
    synth_->finishCurrent();
    engine_.reset();
    EXPECT_EQ(main_.runUntilIdle(), 1u);
}

// The real system voice: espeak-ng through a private PulseAudio server.
TEST(AppleEngineLive, SpeaksHelloWorldThroughTheSoundServer) {
    testsupport::PulseAudioServer server;
    PARLOWEN_REQUIRE_OR_SKIP(server.start());
    ASSERT_TRUE(platform::EspeakSpeechSynthesizer::available());
    platform::PulseAudio pulse(server.environment());
    platform::ManualExecutor main;
    AppleSpeechSynthesisEngine engine(main,
                                      std::make_unique<platform::EspeakSpeechSynthesizer>(pulse, server.environment()));
    std::vector<State> states;
    engine.onStateChange = [&](const State& s) { states.push_back(s); };
    engine.speak("Hello. World.", std::nullopt, 0.5f);
    ASSERT_TRUE(main.runUntil([&] { return engine.state() == State::finished(); }, std::chrono::seconds(15)));
    EXPECT_EQ(states, (std::vector<State>{State::speaking(0, 2, "Hello."), State::speaking(1, 2, "World."),
                                          State::finished()}));
}

// ---- Gaps in what the listener hears -----------------------------------------------

constexpr double kRate = 22050;

// Silent stretches (every 10 ms window below a small peak) between the first
// and the last sound of 16-bit mono samples, in seconds, longest first.
std::vector<double> silences(const std::vector<std::int16_t>& samples) {
    const std::size_t window = static_cast<std::size_t>(kRate / 100);
    std::vector<bool> loud;
    for (std::size_t at = 0; at + window <= samples.size(); at += window) {
        int peak = 0;
        for (std::size_t i = at; i < at + window; ++i) peak = std::max(peak, std::abs(int(samples[i])));
        loud.push_back(peak > 200);
    }
    std::vector<double> out;
    auto first = std::find(loud.begin(), loud.end(), true);
    auto last = std::find(loud.rbegin(), loud.rend(), true).base();
    std::size_t run = 0;
    for (auto it = first; it < last; ++it) {
        if (!*it) {
            ++run;
        } else if (run > 0) {
            out.push_back(run / 100.0);
            run = 0;
        }
    }
    std::sort(out.rbegin(), out.rend());
    return out;
}

// The whole text as one utterance, synthesised without playing: the voice's own pauses.
std::vector<std::int16_t> synthesised(platform::SpeechSynthesizer& synth, const std::string& text) {
    std::mutex m;
    std::condition_variable cv;
    std::vector<std::int16_t> out;
    bool done = false;
    synth.write({text, std::nullopt, 0.5f}, [&](platform::Result<platform::PcmBuffer> b) {
        std::lock_guard lock(m);
        if (b && !b->empty()) {
            const auto* data = reinterpret_cast<const std::int16_t*>(b->data());
            out.insert(out.end(), data, data + b->frameLength());
        } else {
            done = true;
            cv.notify_all();
        }
    });
    std::unique_lock lock(m);
    cv.wait_for(lock, std::chrono::seconds(20), [&] { return done; });
    return out;
}

std::vector<std::int16_t> readSamples(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::int16_t> out(bytes.size() / 2);
    std::memcpy(out.data(), bytes.data(), out.size() * 2);
    return out;
}

// Three sentences with the system voice into the fixture's null sink, read
// back from its monitor: the silence between two sentences is close to the
// voice's own pause between sentences inside one utterance.
TEST(AppleEngineLive, SentencesFollowEachOtherWithoutALongSilence) {
    testsupport::PulseAudioServer server;
    PARLOWEN_REQUIRE_OR_SKIP(server.start());
    ASSERT_TRUE(platform::EspeakSpeechSynthesizer::available());
    const std::string text = "The first sentence is here. The second one follows it. And this is the third.";
    platform::PulseAudio pulse(server.environment());
    auto synth = std::make_unique<platform::EspeakSpeechSynthesizer>(pulse, server.environment());
    auto* synthesiser = synth.get();

    const auto recording = server.sandbox().root() / "monitor.raw";
    auto recorder = server.spawn({"parec", "--device=ci_null.monitor", "--format=s16le", "--rate=22050",
                                  "--channels=1", "--latency-msec=20", "--raw", recording.string()});
    ASSERT_TRUE(recorder) << recorder.error().description;
    platform::ManualExecutor main;
    auto recorded = [&] {
        std::error_code ec;
        auto size = std::filesystem::file_size(recording, ec);
        return ec ? std::uintmax_t(0) : size;
    };
    // The recorder runs once the monitor's silence arrives.
    ASSERT_TRUE(main.runUntil([&] { return recorded() > 4410; }, std::chrono::seconds(10)));

    AppleSpeechSynthesisEngine engine(main, std::move(synth));
    engine.speak(text, std::nullopt, 0.5f);
    ASSERT_TRUE(main.runUntil([&] { return engine.state() == State::finished(); }, std::chrono::seconds(30)));
    // A little more of the monitor, so the last sound is surely in the file.
    const auto atFinish = recorded();
    ASSERT_TRUE(main.runUntil([&] { return recorded() > atFinish + 2 * 22050 / 2; }, std::chrono::seconds(10)));
    recorder->stop();
    const auto reference = silences(synthesised(*synthesiser, text));
    ASSERT_GE(reference.size(), 2u) << "the voice pauses between its sentences";
    const double voicePause = reference[0];

    const auto gaps = silences(readSamples(recording));
    const double longest = gaps.empty() ? 0.0 : gaps[0];
    // Reported before: about 1.8 s between sentences against the voice's 0.3 s.
    EXPECT_LT(longest, 2.0 * voicePause + 0.1) << "longest silence " << longest << " s, the voice's own pause "
                                               << voicePause << " s";

    // One playback stream served the whole reading (the server numbers them
    // from 0): it was never torn down and reconnected between sentences.
    auto inputs = server.run({"pactl", "list", "short", "sink-inputs"});
    ASSERT_TRUE(inputs.ok()) << inputs.describe();
    EXPECT_EQ(inputs.out.substr(0, inputs.out.find('\t')), "0") << inputs.out;
}

// With the sound server gone, the reading ends with an error instead of a silent "finished".
TEST(AppleEngineLive, WithoutASoundServerTheReadingFailsWithAClearError) {
    testsupport::PulseAudioServer server;
    PARLOWEN_REQUIRE_OR_SKIP(server.start());
    ASSERT_TRUE(platform::EspeakSpeechSynthesizer::available());
    const auto environment = server.environment();
    server.stop();
    platform::PulseAudio pulse(environment);
    platform::ManualExecutor main;
    AppleSpeechSynthesisEngine engine(main, std::make_unique<platform::EspeakSpeechSynthesizer>(pulse, environment));
    std::vector<State> states;
    std::vector<platform::Error> errors;
    engine.onStateChange = [&](const State& s) { states.push_back(s); };
    engine.onError = [&](const platform::Error& e) { errors.push_back(e); };
    engine.speak("Nobody hears this. Nor this. Nor this one.", std::nullopt, 0.5f);
    ASSERT_TRUE(main.runUntil([&] { return !errors.empty(); }, std::chrono::seconds(15)));
    main.runUntilIdle();
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].description, "No audio output is available.");
    ASSERT_TRUE(errors[0].underlying);
    EXPECT_FALSE(errors[0].underlying->description.empty());
    EXPECT_EQ(states, (std::vector<State>{State::speaking(0, 3, "Nobody hears this."), State::idle()}));
}

}  // namespace
}  // namespace parlowen
