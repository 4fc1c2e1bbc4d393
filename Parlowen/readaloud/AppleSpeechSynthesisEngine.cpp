#include "Parlowen/readaloud/AppleSpeechSynthesisEngine.h"

namespace parlowen {

AppleSpeechSynthesisEngine::AppleSpeechSynthesisEngine(platform::Executor& main,
                                                       std::unique_ptr<platform::SpeechSynthesizer> synthesizer)
    : main_(main), synth_(std::move(synthesizer)) {
    // Events come on the synthesiser's threads: only a finish or a failure
    // matters, and it is handled on the main executor while this engine still exists.
    synth_->setEventHandler([this, &main = main_, alive = lifetime_.weak()](const platform::SpeechEvent& e) {
        using Kind = platform::SpeechEvent::Kind;
        if (e.kind != Kind::finished && e.kind != Kind::failed) return;
        main.post([this, alive, e] {
            if (alive.expired()) return;
            if (e.kind == Kind::finished)
                utteranceFinished(e.utterance);
            else
                utteranceFailed(e.utterance, e.error.value_or(platform::Error::make(
                                                 "speechsynth", 0, "failed", "No audio output is available.")));
        });
    });
}

AppleSpeechSynthesisEngine::~AppleSpeechSynthesisEngine() {
    lifetime_.end();
    synth_->setEventHandler({});
    if (synth_->isSpeaking()) synth_->stopSpeaking();
}

std::optional<platform::SpeechVoice> AppleSpeechSynthesisEngine::findVoice(
    const std::optional<std::string>& identifier) {
    std::optional<platform::SpeechVoice> voice;
    if (identifier) voice = synth_->voice(*identifier);
    if (!voice) voice = synth_->voiceForLanguage(synth_->currentLanguageCode());
    return voice;
}

void AppleSpeechSynthesisEngine::speak(std::string_view text, std::optional<std::string> voiceIdentifier,
                                       float rate) {
    PARLOWEN_ASSERT_ON(main_);
    stop();
    voice_ = findVoice(voiceIdentifier);
    rate_ = platform::clampSpeechRate(rate);
    sentences_ = makeSentences(text);
    if (sentences_.empty()) {
        setState(SpeechSynthesisState::finished());
        return;
    }
    currentIndex_ = 0;
    speakCurrentSentence();
}

void AppleSpeechSynthesisEngine::speakCurrentSentence() {
    if (currentIndex_ < 0 || currentIndex_ >= static_cast<std::int64_t>(sentences_.size())) {
        stop();
        setState(SpeechSynthesisState::finished());
        return;
    }
    // Only a sentence still under way is cut short; after a natural finish the
    // synthesiser is idle and the next one follows without a gap.
    if (synth_->isSpeaking() || synth_->isPaused()) synth_->stopSpeaking();
    const auto& sentence = sentences_[static_cast<std::size_t>(currentIndex_)];
    platform::SpeechUtterance utterance{sentence.text, voice_ ? std::optional(voice_->identifier) : std::nullopt,
                                        rate_};
    // The panel sees the new sentence before its audio starts.
    setState(SpeechSynthesisState::speaking(currentIndex_, static_cast<std::int64_t>(sentences_.size()),
                                            sentence.text));
    currentUtterance_ = synth_->speak(std::move(utterance));
}

void AppleSpeechSynthesisEngine::stop() {
    PARLOWEN_ASSERT_ON(main_);
    if (synth_->isSpeaking() || synth_->isPaused()) synth_->stopSpeaking();
    sentences_.clear();
    currentIndex_ = 0;
    currentUtterance_ = 0;
    setState(SpeechSynthesisState::idle());
}

void AppleSpeechSynthesisEngine::pause() {
    if (!synth_->isSpeaking() || synth_->isPaused()) return;
    synth_->pauseSpeaking();
    const auto& s = state();
    if (s.kind == SpeechSynthesisState::Case::speaking)
        setState(SpeechSynthesisState::paused(s.sentenceIndex, s.totalSentences, s.currentText));
}

void AppleSpeechSynthesisEngine::resume() {
    if (!synth_->isPaused()) return;
    synth_->continueSpeaking();
    const auto& s = state();
    if (s.kind == SpeechSynthesisState::Case::paused)
        setState(SpeechSynthesisState::speaking(s.sentenceIndex, s.totalSentences, s.currentText));
}

void AppleSpeechSynthesisEngine::restartSentence(std::int64_t index) {
    currentIndex_ = index;
    speakCurrentSentence();
}

void AppleSpeechSynthesisEngine::finishAfterSkip() {
    stop();
    setState(SpeechSynthesisState::finished());
}

void AppleSpeechSynthesisEngine::setRate(float rate) {
    rate_ = platform::clampSpeechRate(rate);
    // A paused utterance keeps its rate; the new one applies from the next sentence.
    if (state().kind == SpeechSynthesisState::Case::speaking) speakCurrentSentence();
}

std::string AppleSpeechSynthesisEngine::voiceDisplayName(const std::optional<std::string>& voiceIdentifier) {
    auto voice = findVoice(voiceIdentifier);
    return voice ? voice->name : "System";
}

void AppleSpeechSynthesisEngine::utteranceFailed(platform::UtteranceID utterance, const platform::Error& error) {
    if (utterance != currentUtterance_) return;
    // Nothing can be heard: end the reading instead of racing through its sentences.
    stop();
    if (onError) onError(error);
}

void AppleSpeechSynthesisEngine::utteranceFinished(platform::UtteranceID utterance) {
    if (utterance != currentUtterance_) return;  // an earlier sentence's, overtaken by a skip or stop
    if (state().kind != SpeechSynthesisState::Case::speaking) return;
    if (currentIndex_ + 1 < static_cast<std::int64_t>(sentences_.size())) {
        ++currentIndex_;
        speakCurrentSentence();
    } else {
        setState(SpeechSynthesisState::finished());
    }
}

}  // namespace parlowen
