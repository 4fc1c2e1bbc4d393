#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/runtime/Error.h"
#include "platform/runtime/Executor.h"

namespace platform {

// Plays one audio file from a position, at a rate from 0.5 to 2.0 with the
// pitch kept. After playing to the end it reports success and its current
// time reads 0.
class AudioFilePlayer {
public:
    // Called once per end of file, on any thread; `true` when the file played
    // to its end, `false` when a read failed on the way.
    using FinishHandler = std::function<void(bool successfully)>;

    virtual ~AudioFilePlayer() = default;

    // Readies decoding and output so that play() starts at once.
    virtual bool prepareToPlay() = 0;
    virtual bool play() = 0;
    virtual void pause() = 0;
    // Stops output; the position stays where it was.
    virtual void stop() = 0;
    virtual bool isPlaying() const = 0;
    // Seconds.
    virtual double duration() const = 0;
    virtual double currentTime() const = 0;
    virtual void setCurrentTime(double seconds) = 0;
    // Rate changes take effect only while enabled.
    virtual void setEnableRate(bool enabled) = 0;
    virtual void setRate(float rate) = 0;
    virtual float rate() const = 0;
    virtual void setFinishHandler(FinishHandler handler) = 0;
};

// Creates players for files; fails with a description of why.
class AudioFilePlayerFactory {
public:
    virtual ~AudioFilePlayerFactory() = default;
    virtual Result<std::unique_ptr<AudioFilePlayer>> open(const std::filesystem::path& path) = 0;
};

// The double: time runs on an executor's clock while playing, scaled by the
// rate when rate changes are enabled, and stops at the duration without a
// report (the test reports ends with finish()).
class FakeAudioFilePlayer : public AudioFilePlayer {
public:
    FakeAudioFilePlayer(Executor& clock, std::filesystem::path path, double duration);

    bool prepareToPlay() override;
    bool play() override;
    void pause() override;
    void stop() override;
    bool isPlaying() const override { return playing_; }
    double duration() const override { return duration_; }
    double currentTime() const override;
    void setCurrentTime(double seconds) override;
    void setEnableRate(bool enabled) override { rateEnabled_ = enabled; }
    void setRate(float rate) override;
    float rate() const override { return rate_; }
    void setFinishHandler(FinishHandler handler) override { handler_ = std::move(handler); }

    const std::filesystem::path& path() const { return path_; }
    bool prepared() const { return prepared_; }
    bool rateEnabled() const { return rateEnabled_; }
    int playCount() const { return plays_; }
    // Ends playback and reports it: success rewinds to 0, failure keeps the position.
    void finish(bool successfully);
    // Stops playing without any report, as a device loss would.
    void stopSilently();

private:
    double elapsed() const;
    Executor& clock_;
    std::filesystem::path path_;
    double duration_;
    double position_ = 0;
    TimePoint startedAt_{};
    bool playing_ = false;
    bool prepared_ = false;
    bool rateEnabled_ = false;
    float rate_ = 1.0f;
    int plays_ = 0;
    FinishHandler handler_;
};

// Opens FakeAudioFilePlayers for files the test registered, keeping a pointer
// to each (owned by the caller while it lives).
class FakeAudioFilePlayerFactory : public AudioFilePlayerFactory {
public:
    explicit FakeAudioFilePlayerFactory(Executor& clock) : clock_(clock) {}

    Result<std::unique_ptr<AudioFilePlayer>> open(const std::filesystem::path& path) override;

    void setDuration(const std::filesystem::path& path, double seconds) { durations_[path] = seconds; }
    // Opening `path` fails with `description`.
    void failOpen(const std::filesystem::path& path, std::string description) { failures_[path] = std::move(description); }
    const std::vector<std::filesystem::path>& opened() const { return opened_; }
    FakeAudioFilePlayer* last() const { return last_; }

private:
    Executor& clock_;
    std::map<std::filesystem::path, double> durations_;
    std::map<std::filesystem::path, std::string> failures_;
    std::vector<std::filesystem::path> opened_;
    FakeAudioFilePlayer* last_ = nullptr;
};

}  // namespace platform
