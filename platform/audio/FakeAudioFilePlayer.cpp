#include <algorithm>
#include <chrono>

#include "platform/audio/AudioFilePlayer.h"

namespace platform {

FakeAudioFilePlayer::FakeAudioFilePlayer(Executor& clock, std::filesystem::path path, double duration)
    : clock_(clock), path_(std::move(path)), duration_(duration) {}

bool FakeAudioFilePlayer::prepareToPlay() {
    prepared_ = true;
    return true;
}

double FakeAudioFilePlayer::elapsed() const {
    if (!playing_) return 0;
    const double wall = std::chrono::duration<double>(clock_.now() - startedAt_).count();
    return wall * (rateEnabled_ ? rate_ : 1.0f);
}

double FakeAudioFilePlayer::currentTime() const { return std::min(position_ + elapsed(), duration_); }

bool FakeAudioFilePlayer::play() {
    if (!playing_) {
        startedAt_ = clock_.now();
        playing_ = true;
    }
    ++plays_;
    return true;
}

void FakeAudioFilePlayer::pause() {
    position_ = currentTime();
    playing_ = false;
}

void FakeAudioFilePlayer::stop() { pause(); }

void FakeAudioFilePlayer::setCurrentTime(double seconds) {
    position_ = std::clamp(seconds, 0.0, duration_);
    startedAt_ = clock_.now();
}

void FakeAudioFilePlayer::setRate(float rate) {
    position_ = currentTime();
    startedAt_ = clock_.now();
    rate_ = std::clamp(rate, 0.5f, 2.0f);
}

void FakeAudioFilePlayer::finish(bool successfully) {
    position_ = successfully ? 0 : currentTime();
    playing_ = false;
    if (handler_) handler_(successfully);
}

void FakeAudioFilePlayer::stopSilently() { pause(); }

Result<std::unique_ptr<AudioFilePlayer>> FakeAudioFilePlayerFactory::open(const std::filesystem::path& path) {
    opened_.push_back(path);
    if (auto f = failures_.find(path); f != failures_.end())
        return fail(Error{.domain = "FakeAudioFilePlayer", .code = 1, .caseName = "openFailed", .description = f->second});
    const auto d = durations_.find(path);
    auto player = std::make_unique<FakeAudioFilePlayer>(clock_, path, d == durations_.end() ? 0.0 : d->second);
    last_ = player.get();
    return player;
}

}  // namespace platform
