#pragma once

// The system speech synthesiser: its voices, live speech with start, word,
// sentence, finish and cancel events, pause and resume, and synthesis into
// PCM buffers (for rendering to a file). Interface and test double here; the
// Linux implementation is on espeak-ng (EspeakSpeechSynthesizer.h).

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/audio/PcmBuffer.h"
#include "platform/runtime/Environment.h"
#include "platform/runtime/Error.h"
#include "platform/text/Unicode.h"

namespace platform {

struct SpeechVoice {
    std::string identifier;  // stable, e.g. "gmw/en-US"
    std::string name;        // for people, e.g. "English (America)"
    std::string language;    // BCP 47, e.g. "en-US"
    std::string quality = "default";

    friend bool operator==(const SpeechVoice&, const SpeechVoice&) = default;
};

// Speaking rates on the common scale where 0.5 is normal speed.
inline constexpr float kSpeechMinimumRate = 0.0f;
inline constexpr float kSpeechMaximumRate = 1.0f;
inline constexpr float kSpeechDefaultRate = 0.5f;

struct SpeechUtterance {
    std::string text;  // UTF-8
    // None, or one that is not installed: the default voice of currentLanguageCode().
    std::optional<std::string> voiceIdentifier;
    float rate = kSpeechDefaultRate;  // clamped to the range above; NaN counts as the default
};

// `rate` within kSpeechMinimumRate .. kSpeechMaximumRate; NaN gives kSpeechDefaultRate.
float clampSpeechRate(float rate);

using UtteranceID = std::uint64_t;

struct SpeechEvent {
    enum class Kind {
        started,    // its audio is about to play
        word,       // the word at `range` is about to be spoken
        sentence,   // the sentence at `range` is about to be spoken
        finished,   // its last sample has played
        cancelled,  // stopped before the end (stopSpeaking)
        failed,     // could not be spoken (no audio output, or it went away); it has ended
    };
    Kind kind = Kind::started;
    UtteranceID utterance = 0;
    // word and sentence: byte offsets into the utterance's text.
    text::TextRange range;
    // failed: why.
    std::optional<Error> error;

    friend bool operator==(const SpeechEvent&, const SpeechEvent&) = default;
};

// The voice with this identifier in `voices`.
std::optional<SpeechVoice> findVoice(const std::vector<SpeechVoice>& voices, std::string_view identifier);
// The voice for a language in `voices`: an exact match (ignoring case, "_" as
// "-"), else a voice of the same primary language, preferring one that is
// that language alone ("en", or an identifier ending in "/en").
std::optional<SpeechVoice> voiceForLanguage(const std::vector<SpeechVoice>& voices, std::string_view languageCode);

// One synthesiser of one user (several may exist; each speaks on its own).
// Control calls come from one thread (the main thread); events arrive on the
// synthesiser's own threads, in order for each utterance, and the handler
// must hand them off without calling back into the synthesiser.
class SpeechSynthesizer {
public:
    using EventHandler = std::function<void(const SpeechEvent&)>;
    // One PCM buffer, or the error that ended the write.
    using BufferHandler = std::function<void(Result<PcmBuffer>)>;

    virtual ~SpeechSynthesizer() = default;

    virtual std::vector<SpeechVoice> voices() = 0;
    // The user's language as BCP 47 ("en-US").
    virtual std::string currentLanguageCode() const = 0;
    // The installed voice with this identifier.
    std::optional<SpeechVoice> voice(std::string_view identifier) { return findVoice(voices(), identifier); }
    // The installed voice for a language (see the free function below).
    std::optional<SpeechVoice> voiceForLanguage(std::string_view languageCode) {
        return platform::voiceForLanguage(voices(), languageCode);
    }

    // Set before the first utterance. Once it returns, the previous handler
    // is not running and will not be called again.
    virtual void setEventHandler(EventHandler handler) = 0;
    // Queues the utterance after those not yet finished and returns its id.
    virtual UtteranceID speak(SpeechUtterance utterance) = 0;
    // Stops at once; the current and queued utterances are cancelled. With
    // nothing under way it does nothing.
    virtual void stopSpeaking() = 0;
    // Holds the audio where it is. False when nothing is speaking or it is paused already.
    virtual bool pauseSpeaking() = 0;
    // False when not paused.
    virtual bool continueSpeaking() = 0;
    // An utterance is under way or queued (also while paused).
    virtual bool isSpeaking() const = 0;
    virtual bool isPaused() const = 0;

    // Synthesises without playing: `onBuffer` receives the audio buffer by
    // buffer on the synthesiser's thread, then one empty buffer (the end), or
    // an error instead. Several writes may run at once.
    virtual void write(SpeechUtterance utterance, BufferHandler onBuffer) = 0;
};

// The user's language from LC_ALL, LC_MESSAGES or LANG ("en_GB.UTF-8" gives
// "en-GB"); "en-US" when none names one.
std::string languageCodeFromEnvironment(const Environment& environment);

}  // namespace platform
