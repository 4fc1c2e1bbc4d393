#pragma once

// The contract every read-aloud voice fulfils (system, cloud and on-device
// engines), the playback state it reports, and the outcome of a cloud key test.

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "Parlowen/readaloud/SentenceModel.h"
#include "platform/runtime/Error.h"

namespace parlowen {

struct SpeechSynthesisState {
    enum class Case {
        loading,   // the sentence is current, its audio not yet playing (fetched or synthesised)
        speaking,  // the sentence is being spoken
        paused,    // playback of the sentence is paused
        idle,      // nothing loaded: at first, and after stop
        finished,  // the end was reached, a skip ran past it, or there was nothing to speak
    };

    Case kind = Case::idle;
    // loading, speaking and paused only: the zero-based index into the
    // engine's sentence list, its length, and the sentence as spoken (a
    // substring of the text given to speak).
    std::int64_t sentenceIndex = 0;
    std::int64_t totalSentences = 0;
    std::string currentText;

    static SpeechSynthesisState loading(std::int64_t index, std::int64_t total, std::string text) {
        return {Case::loading, index, total, std::move(text)};
    }
    static SpeechSynthesisState speaking(std::int64_t index, std::int64_t total, std::string text) {
        return {Case::speaking, index, total, std::move(text)};
    }
    static SpeechSynthesisState paused(std::int64_t index, std::int64_t total, std::string text) {
        return {Case::paused, index, total, std::move(text)};
    }
    static SpeechSynthesisState idle() { return {}; }
    static SpeechSynthesisState finished() { return {Case::finished, 0, 0, {}}; }

    bool hasSentence() const { return kind == Case::loading || kind == Case::speaking || kind == Case::paused; }

    friend bool operator==(const SpeechSynthesisState&, const SpeechSynthesisState&) = default;
};

std::string_view caseName(SpeechSynthesisState::Case kind);
void PrintTo(const SpeechSynthesisState& state, std::ostream* os);

// A cloud key test: success, or failure with the message shown under the key field.
struct ConnectionTestResult {
    enum class Case { success, failure };
    Case kind = Case::success;
    std::string message;  // failure only

    static ConnectionTestResult success() { return {}; }
    static ConnectionTestResult failure(std::string message) { return {Case::failure, std::move(message)}; }
    bool isSuccess() const { return kind == Case::success; }

    friend bool operator==(const ConnectionTestResult&, const ConnectionTestResult&) = default;
};

// One read-aloud voice. Every member is called on the main thread, and both
// callbacks are delivered there (engines that work elsewhere hop back first).
class SpeechSynthesisEngine {
public:
    using StateCallback = std::function<void(const SpeechSynthesisState&)>;
    using ErrorCallback = std::function<void(const platform::Error&)>;

    virtual ~SpeechSynthesisEngine() = default;

    virtual std::string name() const = 0;
    const SpeechSynthesisState& state() const { return state_; }

    // Called only when the state changes (case or any payload field). The
    // owner installs both and empties them on an engine it replaces.
    StateCallback onStateChange;
    // An error that ended a reading.
    ErrorCallback onError;

    // `rate` is on the common scale where 0.5 is normal speed; each engine maps it.
    virtual void speak(std::string_view text, std::optional<std::string> voiceIdentifier, float rate) = 0;
    virtual void pause() = 0;
    virtual void resume() = 0;
    virtual void stop() = 0;
    virtual void skipForwardSentence() = 0;
    virtual void skipBackSentence() = 0;
    virtual void skipForwardParagraph() = 0;
    virtual void skipBackParagraph() = 0;
    virtual void skipForward(double seconds) = 0;
    virtual void skipBack(double seconds) = 0;
    virtual void setRate(float rate) = 0;
    // Never fails: some text for the panel for any identifier.
    virtual std::string voiceDisplayName(const std::optional<std::string>& voiceIdentifier) = 0;

protected:
    // Stores the state and reports it when it differs from the previous one.
    void setState(SpeechSynthesisState state);

private:
    SpeechSynthesisState state_;
};

// An engine that speaks a sentence list: its six skips choose their target by
// the shared sentence model and hand the outcome to the engine.
class SentenceListEngine : public SpeechSynthesisEngine {
public:
    void skipForwardSentence() final;
    void skipBackSentence() final;
    void skipForwardParagraph() final;
    void skipBackParagraph() final;
    void skipForward(double seconds) final;
    void skipBack(double seconds) final;

protected:
    virtual Sentences skipSentences() const = 0;
    virtual std::int64_t skipCurrentIndex() const = 0;
    // The rate the duration estimate of the skips by seconds uses.
    virtual float skipRate() const = 0;
    // Makes `index` current and starts it from its beginning.
    virtual void restartSentence(std::int64_t index) = 0;
    // A skip past the end: everything stop does, then finished.
    virtual void finishAfterSkip() = 0;

private:
    void apply(SentenceSkip skip);
};

}  // namespace parlowen
