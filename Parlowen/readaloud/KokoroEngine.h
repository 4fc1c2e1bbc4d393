#pragma once

// The on-device neural voice as the read-aloud coordinator sees it. This
// build has no neural runtime for it, so this engine only prepares to fail:
// its preparation turns the initialisation status to `failed` at once, which
// moves readings to the system voice, and a reading handed to it anyway ends
// with an error (which the coordinator's fallback answers the same way).

#include <functional>
#include <optional>
#include <string>

#include "Parlowen/readaloud/SpeechSynthesisEngine.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Observable.h"
#include "platform/runtime/Task.h"

namespace parlowen {

// Failures of the on-device voice (domain "KokoroEngine").
struct KokoroEngineError {
    static constexpr const char* kDomain = "KokoroEngine";
    // "The on-device voice is not available"
    static platform::Error unavailable();
};

class KokoroEngine : public SpeechSynthesisEngine {
public:
    enum class InitializationStatus { notStarted, downloading, ready, failed };

    // Callbacks are delivered on `main`.
    explicit KokoroEngine(platform::Executor& main);
    ~KokoroEngine() override;

    std::string name() const override { return "Kokoro"; }

    // The voice for the next sentences; none: "af_heart".
    std::optional<std::string> voiceIdentifier;

    InitializationStatus initializationStatus() const { return status_; }
    // Called on every change of the status, possibly on another thread.
    std::function<void(InitializationStatus)> onInitializationStatusChange;

    // Prepares the model; failures only change the status.
    platform::Task<void> prewarm();
    // Drops sentences synthesised ahead, so later ones use the current voice.
    void cancelPendingSyntheses() {}

    void speak(std::string_view text, std::optional<std::string> voiceIdentifier, float rate) override;
    void pause() override {}
    void resume() override {}
    void stop() override;
    void skipForwardSentence() override {}
    void skipBackSentence() override {}
    void skipForwardParagraph() override {}
    void skipBackParagraph() override {}
    void skipForward(double) override {}
    void skipBack(double) override {}
    void setRate(float) override {}
    // The catalogue's name of the voice; "Heart" for none or an unknown one.
    std::string voiceDisplayName(const std::optional<std::string>& voiceIdentifier) override;

protected:
    void setInitializationStatus(InitializationStatus status);

private:
    platform::Executor& main_;
    InitializationStatus status_ = InitializationStatus::notStarted;
    platform::Lifetime lifetime_;
};

}  // namespace parlowen
