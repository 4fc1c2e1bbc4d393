#pragma once

#include <deque>
#include <mutex>

#include "platform/speechsynth/SpeechSynthesizer.h"

namespace platform {

// Test double. Nothing happens by itself: the test plays the synthesiser by
// sending events (from its own thread, or from another thread to act as the
// synthesiser's), and inspects what was asked. Utterances queue as in the
// real one; finishing the current one makes the next current.
class FakeSpeechSynthesizer : public SpeechSynthesizer {
public:
    // Two English voices (America, Great Britain) and one French; language "en-US".
    FakeSpeechSynthesizer();
    FakeSpeechSynthesizer(std::vector<SpeechVoice> voices, std::string languageCode);

    std::vector<SpeechVoice> voices() override;
    std::string currentLanguageCode() const override;
    void setEventHandler(EventHandler handler) override;
    UtteranceID speak(SpeechUtterance utterance) override;
    void stopSpeaking() override;
    bool pauseSpeaking() override;
    bool continueSpeaking() override;
    bool isSpeaking() const override;
    bool isPaused() const override;
    // Delivers the scripted buffers (see scriptWrite) on the calling thread,
    // then the empty end buffer, or the scripted error; or, while writes are
    // held, nothing (see holdWrites).
    void write(SpeechUtterance utterance, BufferHandler onBuffer) override;

    struct Spoken {
        UtteranceID id = 0;
        SpeechUtterance utterance;
    };
    // Every utterance handed to speak(), in order.
    std::vector<Spoken> spoken() const;
    // The utterance being spoken (the oldest not finished or cancelled).
    std::optional<Spoken> current() const;
    std::vector<SpeechUtterance> written() const;
    int stopCount() const;

    // Events, delivered to the handler on the calling thread. finishCurrent
    // sends `finished` for the current utterance and makes the next one
    // current; it returns false when none was speaking.
    bool finishCurrent();
    // The same with `failed` and `error`.
    bool failCurrent(Error error);
    void send(SpeechEvent event);

    // Writes deliver `buffers`, then `failure` or the empty end buffer (only
    // that until scripted).
    void scriptWrite(std::vector<PcmBuffer> buffers, std::optional<Error> failure = std::nullopt);
    // Writes deliver exactly these steps, end marker and errors included, and
    // nothing after them (so a test can send buffers after the end).
    void scriptWriteSequence(std::vector<Result<PcmBuffer>> steps);
    // While held, write() delivers nothing and keeps its handler: the test
    // then plays the synthesiser's thread, one buffer at a time.
    void holdWrites(bool hold);
    std::size_t heldWriteCount() const;
    // The handler of held write number `index` (0 = the first).
    BufferHandler heldWrite(std::size_t index) const;

private:
    bool endCurrent(SpeechEvent end);
    void deliver(const SpeechEvent& e);

    // Held around each handler call, as in the real one (the handler may use
    // every other member).
    std::mutex handlerMutex_;
    EventHandler handler_;
    mutable std::mutex mutex_;
    std::vector<SpeechVoice> voices_;
    std::string language_;
    std::vector<Spoken> spoken_;
    std::deque<Spoken> queue_;
    std::vector<SpeechUtterance> written_;
    // What each write delivers, end marker or error included.
    std::vector<Result<PcmBuffer>> writeSteps_;
    bool holdWrites_ = false;
    std::vector<BufferHandler> heldWrites_;
    UtteranceID nextId_ = 0;
    bool paused_ = false;
    int stops_ = 0;
};

}  // namespace platform
