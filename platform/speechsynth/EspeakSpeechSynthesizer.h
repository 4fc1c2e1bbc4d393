#pragma once

#include <memory>

#include "platform/audio/AudioOutputStream.h"
#include "platform/speechsynth/SpeechSynthesizer.h"

namespace platform {

// The system synthesiser on espeak-ng. espeak-ng is one engine per process,
// so every synthesiser hands its work to one shared espeak thread; that
// thread synthesises far faster than real time, so live speech is made
// whole per utterance and then played through an output stream of the
// audio core (the default output), cut into pieces at word boundaries so
// that word events fire as their audio starts. pauseSpeaking holds the
// audio at once rather than at the next word.
//
// Events arrive on the espeak thread (started, and anything for the first
// word) and on the audio system's thread (later words, finished); cancelled
// arrives on the thread that called stopSpeaking.
class EspeakSpeechSynthesizer : public SpeechSynthesizer {
public:
    // `output` must outlive the synthesiser; the language comes from the
    // locale variables of `environment`.
    EspeakSpeechSynthesizer(AudioOutput& output, const Environment& environment);
    ~EspeakSpeechSynthesizer() override;
    EspeakSpeechSynthesizer(const EspeakSpeechSynthesizer&) = delete;
    EspeakSpeechSynthesizer& operator=(const EspeakSpeechSynthesizer&) = delete;

    std::vector<SpeechVoice> voices() override;
    std::string currentLanguageCode() const override;
    void setEventHandler(EventHandler handler) override;
    UtteranceID speak(SpeechUtterance utterance) override;
    void stopSpeaking() override;
    bool pauseSpeaking() override;
    bool continueSpeaking() override;
    bool isSpeaking() const override;
    bool isPaused() const override;
    // Buffers of about 50 ms, 16-bit mono at the engine's rate (22050 Hz).
    void write(SpeechUtterance utterance, BufferHandler onBuffer) override;

    // Whether espeak-ng started (its data files found), with the reason when not.
    static Status available();

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

// Error domain of this layer.
inline constexpr const char* kSpeechSynthErrorDomain = "speechsynth";

}  // namespace platform
