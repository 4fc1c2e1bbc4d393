#include "platform/speechsynth/FakeSpeechSynthesizer.h"

#include <iterator>

namespace platform {

FakeSpeechSynthesizer::FakeSpeechSynthesizer()
    : FakeSpeechSynthesizer({{"gmw/en-US", "English (America)", "en-US"},
                             {"gmw/en", "English (Great Britain)", "en-GB"},
                             {"roa/fr", "French (France)", "fr-FR"}},
                            "en-US") {}

FakeSpeechSynthesizer::FakeSpeechSynthesizer(std::vector<SpeechVoice> voices, std::string languageCode)
    : voices_(std::move(voices)), language_(std::move(languageCode)) {
    scriptWrite({});
}

std::vector<SpeechVoice> FakeSpeechSynthesizer::voices() {
    std::lock_guard lock(mutex_);
    return voices_;
}

std::string FakeSpeechSynthesizer::currentLanguageCode() const {
    std::lock_guard lock(mutex_);
    return language_;
}

void FakeSpeechSynthesizer::setEventHandler(EventHandler handler) {
    std::lock_guard lock(handlerMutex_);
    handler_ = std::move(handler);
}

UtteranceID FakeSpeechSynthesizer::speak(SpeechUtterance utterance) {
    std::lock_guard lock(mutex_);
    Spoken s{++nextId_, std::move(utterance)};
    spoken_.push_back(s);
    queue_.push_back(std::move(s));
    return nextId_;
}

void FakeSpeechSynthesizer::stopSpeaking() {
    std::vector<UtteranceID> cancelled;
    {
        std::lock_guard lock(mutex_);
        ++stops_;
        for (auto& s : queue_) cancelled.push_back(s.id);
        queue_.clear();
        paused_ = false;
    }
    for (auto id : cancelled) deliver({SpeechEvent::Kind::cancelled, id, {}});
}

bool FakeSpeechSynthesizer::pauseSpeaking() {
    std::lock_guard lock(mutex_);
    if (queue_.empty() || paused_) return false;
    paused_ = true;
    return true;
}

bool FakeSpeechSynthesizer::continueSpeaking() {
    std::lock_guard lock(mutex_);
    if (!paused_) return false;
    paused_ = false;
    return true;
}

bool FakeSpeechSynthesizer::isSpeaking() const {
    std::lock_guard lock(mutex_);
    return !queue_.empty();
}

bool FakeSpeechSynthesizer::isPaused() const {
    std::lock_guard lock(mutex_);
    return paused_;
}

void FakeSpeechSynthesizer::write(SpeechUtterance utterance, BufferHandler onBuffer) {
    std::vector<Result<PcmBuffer>> steps;
    {
        std::lock_guard lock(mutex_);
        written_.push_back(std::move(utterance));
        if (holdWrites_) {
            heldWrites_.push_back(std::move(onBuffer));
            return;
        }
        steps = writeSteps_;
    }
    for (auto& step : steps) onBuffer(std::move(step));
}

std::vector<FakeSpeechSynthesizer::Spoken> FakeSpeechSynthesizer::spoken() const {
    std::lock_guard lock(mutex_);
    return spoken_;
}

std::optional<FakeSpeechSynthesizer::Spoken> FakeSpeechSynthesizer::current() const {
    std::lock_guard lock(mutex_);
    if (queue_.empty()) return std::nullopt;
    return queue_.front();
}

std::vector<SpeechUtterance> FakeSpeechSynthesizer::written() const {
    std::lock_guard lock(mutex_);
    return written_;
}

int FakeSpeechSynthesizer::stopCount() const {
    std::lock_guard lock(mutex_);
    return stops_;
}

bool FakeSpeechSynthesizer::finishCurrent() { return endCurrent({SpeechEvent::Kind::finished, 0, {}}); }

bool FakeSpeechSynthesizer::failCurrent(Error error) {
    return endCurrent({SpeechEvent::Kind::failed, 0, {}, std::move(error)});
}

bool FakeSpeechSynthesizer::endCurrent(SpeechEvent end) {
    UtteranceID id = 0;
    {
        std::lock_guard lock(mutex_);
        if (queue_.empty()) return false;
        id = queue_.front().id;
        queue_.pop_front();
        if (queue_.empty()) paused_ = false;
    }
    end.utterance = id;
    deliver(end);
    return true;
}

void FakeSpeechSynthesizer::send(SpeechEvent event) { deliver(event); }

void FakeSpeechSynthesizer::scriptWrite(std::vector<PcmBuffer> buffers, std::optional<Error> failure) {
    std::vector<Result<PcmBuffer>> steps(std::make_move_iterator(buffers.begin()),
                                         std::make_move_iterator(buffers.end()));
    if (failure)
        steps.push_back(fail(std::move(*failure)));
    else
        steps.push_back(PcmBuffer(PcmFormat::int16(22050, 1), 0));
    scriptWriteSequence(std::move(steps));
}

void FakeSpeechSynthesizer::scriptWriteSequence(std::vector<Result<PcmBuffer>> steps) {
    std::lock_guard lock(mutex_);
    writeSteps_ = std::move(steps);
}

void FakeSpeechSynthesizer::holdWrites(bool hold) {
    std::lock_guard lock(mutex_);
    holdWrites_ = hold;
}

std::size_t FakeSpeechSynthesizer::heldWriteCount() const {
    std::lock_guard lock(mutex_);
    return heldWrites_.size();
}

SpeechSynthesizer::BufferHandler FakeSpeechSynthesizer::heldWrite(std::size_t index) const {
    std::lock_guard lock(mutex_);
    return heldWrites_.at(index);
}

void FakeSpeechSynthesizer::deliver(const SpeechEvent& e) {
    std::lock_guard lock(handlerMutex_);
    if (handler_) handler_(e);
}

}  // namespace platform
