#include "platform/audio/AudioOutputStream.h"

#include "platform/audio/AudioError.h"

namespace platform {

FakeAudioOutputStream::FakeAudioOutputStream(AudioOutputOptions options) : options_(std::move(options)) {}

PcmFormat FakeAudioOutputStream::format() const { return PcmFormat::float32(options_.sampleRate, options_.channels); }

Status FakeAudioOutputStream::schedule(PcmBuffer buffer, Completion completion) {
    if (buffer.format().sampleRate != options_.sampleRate || buffer.format().channelCount != options_.channels)
        return fail(toError(AudioError::formatMismatch, buffer.format().description()));
    std::lock_guard lock(mutex_);
    history_.push_back(buffer);
    pending_.push_back({std::move(buffer), std::move(completion)});
    return ok();
}

Status FakeAudioOutputStream::play() {
    std::lock_guard lock(mutex_);
    playing_ = true;
    return ok();
}

void FakeAudioOutputStream::pause() {
    std::lock_guard lock(mutex_);
    playing_ = false;
}

void FakeAudioOutputStream::stop() {
    std::deque<Pending> dropped;
    {
        std::lock_guard lock(mutex_);
        playing_ = false;
        dropped.swap(pending_);
    }
    for (auto& p : dropped)
        if (p.completion) p.completion(ScheduledBufferEnd::stopped);
}

bool FakeAudioOutputStream::isPlaying() const {
    std::lock_guard lock(mutex_);
    return playing_;
}

bool FakeAudioOutputStream::finishNext() {
    Pending done;
    {
        std::lock_guard lock(mutex_);
        if (!playing_ || pending_.empty()) return false;
        done = std::move(pending_.front());
        pending_.pop_front();
    }
    if (done.completion) done.completion(ScheduledBufferEnd::played);
    return true;
}

std::size_t FakeAudioOutputStream::finishAll() {
    std::size_t n = 0;
    while (finishNext()) ++n;
    return n;
}

std::size_t FakeAudioOutputStream::pendingCount() const {
    std::lock_guard lock(mutex_);
    return pending_.size();
}

std::vector<PcmBuffer> FakeAudioOutputStream::scheduledBuffers() const {
    std::lock_guard lock(mutex_);
    return history_;
}

Result<std::unique_ptr<AudioOutputStream>> FakeAudioOutput::openStream(AudioOutputOptions options) {
    std::lock_guard lock(mutex_);
    ++opens_;
    if (openError_) return fail(*openError_);
    auto stream = std::make_unique<FakeAudioOutputStream>(std::move(options));
    streams_.push_back(stream.get());
    return std::unique_ptr<AudioOutputStream>(std::move(stream));
}

void FakeAudioOutput::failOpenWith(std::optional<Error> error) {
    std::lock_guard lock(mutex_);
    openError_ = std::move(error);
}

std::vector<FakeAudioOutputStream*> FakeAudioOutput::streams() const {
    std::lock_guard lock(mutex_);
    return streams_;
}

FakeAudioOutputStream* FakeAudioOutput::lastStream() const {
    std::lock_guard lock(mutex_);
    return streams_.empty() ? nullptr : streams_.back();
}

int FakeAudioOutput::openCount() const {
    std::lock_guard lock(mutex_);
    return opens_;
}

}  // namespace platform
