#pragma once

// The system voice: speaks through the platform speech synthesiser one
// utterance per sentence, so the panel can show the current sentence and the
// user can skip. Also the fallback voice when a cloud voice fails. An unknown
// voice falls back, a rate is clamped (NaN: the default), empty text finishes;
// the one error it reports is speech that cannot be played (no audio output),
// after which it stops.

#include <memory>
#include <optional>
#include <vector>

#include "Parlowen/readaloud/SentenceModel.h"
#include "Parlowen/readaloud/SpeechSynthesisEngine.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Observable.h"
#include "platform/speechsynth/SpeechSynthesizer.h"

namespace parlowen {

class AppleSpeechSynthesisEngine final : public SentenceListEngine {
public:
    // Owns `synthesizer` for its lifetime. `main` is the main executor: the
    // synthesiser's events are handled there.
    AppleSpeechSynthesisEngine(platform::Executor& main, std::unique_ptr<platform::SpeechSynthesizer> synthesizer);
    ~AppleSpeechSynthesisEngine() override;

    std::string name() const override { return "Apple TTS"; }

    void speak(std::string_view text, std::optional<std::string> voiceIdentifier, float rate) override;
    void pause() override;
    void resume() override;
    void stop() override;
    void setRate(float rate) override;
    // The voice's name; for no or an unknown identifier, the current
    // language's voice; "System" when there is none.
    std::string voiceDisplayName(const std::optional<std::string>& voiceIdentifier) override;

    // The synthesiser rate every utterance gets (clamped).
    float rate() const { return rate_; }

protected:
    Sentences skipSentences() const override { return sentences_; }
    std::int64_t skipCurrentIndex() const override { return currentIndex_; }
    float skipRate() const override { return rate_; }
    void restartSentence(std::int64_t index) override;
    void finishAfterSkip() override;

private:
    std::optional<platform::SpeechVoice> findVoice(const std::optional<std::string>& identifier);
    void speakCurrentSentence();
    void utteranceFinished(platform::UtteranceID utterance);
    void utteranceFailed(platform::UtteranceID utterance, const platform::Error& error);

    platform::Executor& main_;
    std::unique_ptr<platform::SpeechSynthesizer> synth_;
    std::vector<SpeechSentence> sentences_;
    std::int64_t currentIndex_ = 0;
    std::optional<platform::SpeechVoice> voice_;
    float rate_ = platform::kSpeechDefaultRate;
    // The utterance of the current sentence: a finish of any other one is stale.
    platform::UtteranceID currentUtterance_ = 0;
    platform::Lifetime lifetime_;
};

}  // namespace parlowen
