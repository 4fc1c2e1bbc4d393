#include "platform/audio/OutputAudioFilePlayer.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include <sndfile.h>
#include <soundtouch/SoundTouch.h>

namespace platform {
namespace {

Error openFailed(std::string description) {
    return Error::make("AudioFilePlayer", 1, "openFailed", std::move(description));
}

class OutputAudioFilePlayer final : public AudioFilePlayer {
public:
    OutputAudioFilePlayer(AudioOutput& output, std::string streamName, SNDFILE* file, SF_INFO info)
        : output_(output), streamName_(std::move(streamName)), file_(file), info_(info) {
        touch_.setSampleRate(static_cast<unsigned>(info_.samplerate));
        touch_.setChannels(static_cast<unsigned>(info_.channels));
        touch_.setTempo(1.0);
    }

    ~OutputAudioFilePlayer() override {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wakeFeeder();
        if (feeder_.joinable()) feeder_.join();
        if (stream_) stream_->stop();
        sf_close(file_);
    }

    bool prepareToPlay() override {
        std::lock_guard lock(mutex_);
        return prepareLocked();
    }

    bool play() override {
        std::lock_guard lock(mutex_);
        if (!prepareLocked()) return false;
        if (!stream_->play()) return false;
        playing_ = true;
        wakeFeeder();
        return true;
    }

    void pause() override {
        std::lock_guard lock(mutex_);
        if (stream_) stream_->pause();
        playing_ = false;
    }

    void stop() override { pause(); }

    bool isPlaying() const override { return playing_; }
    double duration() const override { return static_cast<double>(info_.frames) / info_.samplerate; }

    double currentTime() const override { return playedFrames_.load() / info_.samplerate; }

    void setCurrentTime(double seconds) override {
        std::lock_guard lock(mutex_);
        const auto frame = static_cast<sf_count_t>(std::clamp(seconds, 0.0, duration()) * info_.samplerate);
        moveToLocked(frame);
        if (playing_ && stream_) stream_->play();
        wakeFeeder();
    }

    void setEnableRate(bool enabled) override {
        std::lock_guard lock(mutex_);
        rateEnabled_ = enabled;
        touch_.setTempo(effectiveRateLocked());
    }

    void setRate(float rate) override {
        std::lock_guard lock(mutex_);
        rate_ = std::clamp(rate, 0.5f, 2.0f);
        touch_.setTempo(effectiveRateLocked());
    }

    float rate() const override {
        std::lock_guard lock(mutex_);
        return rate_;
    }

    void setFinishHandler(FinishHandler handler) override {
        std::lock_guard lock(mutex_);
        handler_ = std::move(handler);
    }

private:
    // Lock-free and allocation-free: safe on the audio thread.
    void wakeFeeder() {
        wakeups_.fetch_add(1);
        wakeups_.notify_all();
    }

    double effectiveRateLocked() const { return rateEnabled_ ? rate_ : 1.0; }

    bool prepareLocked() {
        if (!stream_) {
            auto opened = output_.openStream({.sampleRate = static_cast<double>(info_.samplerate),
                                              .channels = static_cast<std::uint32_t>(info_.channels),
                                              .streamName = streamName_});
            if (!opened) return false;
            stream_ = std::move(*opened);
        }
        if (!feeder_.joinable()) feeder_ = std::thread([this] { feed(); });
        return true;
    }

    // Drops what is scheduled (its completions report `stopped`) and restarts
    // decoding at `frame`. Called with the lock held.
    void moveToLocked(sf_count_t frame) {
        ++generation_;
        if (stream_) stream_->stop();
        sf_seek(file_, frame, SEEK_SET);
        touch_.clear();
        sourceCursor_ = static_cast<double>(frame);
        playedFrames_ = static_cast<double>(frame);
        decodeDone_ = false;
        lastScheduled_ = false;
        ended_ = false;
    }

    // The feeder thread: keeps buffers scheduled ahead and reports the end.
    void feed() {
        std::unique_lock lock(mutex_);
        while (!quit_) {
            // Taken before looking at the state: a wake after this point ends the wait below at once.
            const std::uint32_t seen = wakeups_.load();
            if (ended_.exchange(false)) {
                const bool successfully = !readFailed_;
                playing_ = false;
                stream_->pause();
                if (successfully) moveToLocked(0);
                readFailed_ = false;
                FinishHandler handler = handler_;
                lock.unlock();
                if (handler) handler(successfully);
                lock.lock();
                continue;
            }
            if (!lastScheduled_ && inFlight_ < kAhead) {
                scheduleNextLocked();
                continue;
            }
            // Completions wake the feeder without the lock (the audio thread never
            // waits for the decoder), so the wait is on the wake count, which cannot miss one.
            lock.unlock();
            wakeups_.wait(seen);
            lock.lock();
        }
    }

    void scheduleNextLocked() {
        const auto channels = static_cast<std::uint32_t>(info_.channels);
        const std::uint32_t want = OutputAudioFilePlayerFactory::kBufferFrames;
        interleaved_.resize(static_cast<std::size_t>(want) * channels);
        // Feed SoundTouch until it has a buffer's worth, or the file ends.
        while (!decodeDone_ && touch_.numSamples() < want) {
            const sf_count_t got = sf_readf_float(file_, interleaved_.data(), want);
            if (got > 0) touch_.putSamples(interleaved_.data(), static_cast<unsigned>(got));
            if (got < static_cast<sf_count_t>(want)) {
                if (sf_error(file_) != SF_ERR_NO_ERROR) readFailed_ = true;
                decodeDone_ = true;
                touch_.flush();
            }
        }
        unsigned out = touch_.receiveSamples(interleaved_.data(), want);
        const bool last = decodeDone_ && touch_.numSamples() == 0;
        if (out == 0) {
            if (!last) return;
            // The end is told by a buffer's completion: one silent frame carries it.
            out = 1;
            std::fill_n(interleaved_.begin(), channels, 0.0f);
        }
        PcmBuffer buffer(PcmFormat::float32(info_.samplerate, channels), out);
        buffer.setFrameLength(out);
        for (std::uint32_t c = 0; c < channels; ++c) {
            float* dst = buffer.floatChannel(c);
            for (unsigned f = 0; f < out; ++f) dst[f] = interleaved_[static_cast<std::size_t>(f) * channels + c];
        }
        sourceCursor_ = std::min(sourceCursor_ + out * effectiveRateLocked(), static_cast<double>(info_.frames));
        const double sourceEnd = last ? static_cast<double>(info_.frames) : sourceCursor_;
        const std::uint64_t generation = generation_;
        lastScheduled_ = last;
        ++inFlight_;
        const Status scheduled =
            stream_->schedule(std::move(buffer), [this, generation, sourceEnd, last](ScheduledBufferEnd end) {
                // The audio thread: atomics and a wake only.
                --inFlight_;
                if (end == ScheduledBufferEnd::played && generation == generation_.load()) {
                    playedFrames_ = sourceEnd;
                    if (last) ended_ = true;
                }
                wakeFeeder();
            });
        if (!scheduled) {
            // Ends as a failed read does: reported once, nothing more offered
            // until a seek starts decoding afresh.
            --inFlight_;
            readFailed_ = true;
            lastScheduled_ = true;
            ended_ = true;
        }
    }

    static constexpr int kAhead = OutputAudioFilePlayerFactory::kBuffersAhead;

    AudioOutput& output_;
    std::string streamName_;
    SNDFILE* file_;
    SF_INFO info_;

    mutable std::mutex mutex_;
    std::unique_ptr<AudioOutputStream> stream_;
    std::thread feeder_;
    soundtouch::SoundTouch touch_;
    std::vector<float> interleaved_;
    FinishHandler handler_;
    float rate_ = 1.0f;
    bool rateEnabled_ = false;
    bool quit_ = false;
    bool decodeDone_ = false;
    bool lastScheduled_ = false;
    bool readFailed_ = false;
    double sourceCursor_ = 0;

    std::atomic<bool> playing_{false};
    std::atomic<bool> ended_{false};
    std::atomic<int> inFlight_{0};
    std::atomic<std::uint64_t> generation_{0};
    std::atomic<std::uint32_t> wakeups_{0};
    std::atomic<double> playedFrames_{0};
};

}  // namespace

Result<std::unique_ptr<AudioFilePlayer>> OutputAudioFilePlayerFactory::open(const std::filesystem::path& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) return fail(openFailed(sf_strerror(nullptr)));
    if (info.samplerate <= 0 || info.channels <= 0) {
        sf_close(file);
        return fail(openFailed("The file has no audio."));
    }
    return std::unique_ptr<AudioFilePlayer>(new OutputAudioFilePlayer(output_, streamName_, file, info));
}

}  // namespace platform
