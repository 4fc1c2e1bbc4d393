#include <gtest/gtest.h>

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

}  // namespace
}  // namespace parlowen
