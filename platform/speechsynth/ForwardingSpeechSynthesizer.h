#pragma once

#include "platform/speechsynth/SpeechSynthesizer.h"

namespace platform {

// Hands every call to another synthesiser that outlives it: for code that
// owns the synthesiser it is given (a render) while a test or benchmark keeps
// the real one, or watches a call by overriding it.
class ForwardingSpeechSynthesizer : public SpeechSynthesizer {
public:
    explicit ForwardingSpeechSynthesizer(SpeechSynthesizer& target) : target_(target) {}

    std::vector<SpeechVoice> voices() override { return target_.voices(); }
    std::string currentLanguageCode() const override { return target_.currentLanguageCode(); }
    void setEventHandler(EventHandler handler) override { target_.setEventHandler(std::move(handler)); }
    UtteranceID speak(SpeechUtterance utterance) override { return target_.speak(std::move(utterance)); }
    void stopSpeaking() override { target_.stopSpeaking(); }
    bool pauseSpeaking() override { return target_.pauseSpeaking(); }
    bool continueSpeaking() override { return target_.continueSpeaking(); }
    bool isSpeaking() const override { return target_.isSpeaking(); }
    bool isPaused() const override { return target_.isPaused(); }
    void write(SpeechUtterance utterance, BufferHandler onBuffer) override {
        target_.write(std::move(utterance), std::move(onBuffer));
    }

protected:
    SpeechSynthesizer& target() { return target_; }

private:
    SpeechSynthesizer& target_;
};

}  // namespace platform
