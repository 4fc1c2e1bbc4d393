// Capture from a PulseAudio source. The read callback runs on the main
// loop's thread (the audio thread here): it copies the server's interleaved
// floats into one buffer made ahead of time and hands that to the tap every
// `bufferFrames` frames, allocating nothing.

#include <algorithm>
#include <cstring>

#include "platform/audio/PulseCore.h"
#include "platform/audio/PulseStreams.h"
#include "platform/audio/AudioError.h"

namespace platform::pulse {

namespace {

class PulseInputEngine : public AudioInputEngine {
public:
    explicit PulseInputEngine(std::shared_ptr<Core> core) : core_(std::move(core)) {}

    ~PulseInputEngine() override {
        Lock lock(*core_);
        dropStream();
        tap_ = nullptr;
    }

    PcmFormat inputFormat() override {
        Lock lock(*core_);
        if (lock.onLoopThread()) return {};
        auto snap = core_->snapshot();
        if (!snap) return {};
        const EndpointInfo* source = routed_ ? snap->source(*routed_) : nullptr;
        if (!source) {
            // The routed device went away: the default input takes over.
            routed_.reset();
            source = snap->source(snap->defaultSource);
        }
        if (!source || source->rate == 0 || source->channels == 0) return {};
        return PcmFormat::float32(source->rate, source->channels);
    }

    int setCurrentDevice(AudioDeviceID device) override {
        Lock lock(*core_);
        if (lock.onLoopThread()) return -PA_ERR_BADSTATE;
        auto snap = core_->snapshot();
        if (!snap) return -PA_ERR_CONNECTIONREFUSED;
        for (const auto& d : resolveDevices(*snap)) {
            if (d.record.id != device || d.sourceName.empty()) continue;
            routed_ = d.sourceName;
            if (stream_ && streamSource_ != d.sourceName) reconnect();
            return 0;
        }
        return -PA_ERR_NOENTITY;
    }

    void installTap(std::uint32_t bufferFrames, PcmFormat format, TapBlock block) override {
        // Made here, on the owner's thread, so the audio thread never allocates.
        PcmBuffer accumulator(PcmFormat::float32(format.sampleRate, format.channelCount), bufferFrames);
        Lock lock(*core_);
        tap_ = std::move(block);
        accumulator_ = std::move(accumulator);
        filled_ = 0;
        tapFormat_ = format;
        if (stream_ && (format.sampleRate != streamFormat_.sampleRate ||
                        format.channelCount != streamFormat_.channelCount))
            reconnect();
    }

    void removeTap() override {
        Lock lock(*core_);
        tap_ = nullptr;
        filled_ = 0;
    }

    Status start() override {
        Lock lock(*core_);
        if (stream_) return ok();
        if (lock.onLoopThread()) return fail(toError(AudioError::wrongThread));
        auto ctx = core_->context();
        if (!ctx) return fail(ctx.error());
        if (auto s = connect(); !s) return s;
        if (!waitUntilReady(*core_, stream_)) {
            Error e = core_->lastError("cannot start capture" +
                                       (streamSource_.empty() ? std::string() : " from " + streamSource_));
            dropStream();
            return fail(e);
        }
        return ok();
    }

    void stop() override {
        Lock lock(*core_);
        dropStream();
    }

    bool isRunning() const override {
        Lock lock(*core_);
        return stream_ != nullptr;
    }

private:
    // Lock held.
    Status connect() {
        PcmFormat format = tapFormat_;
        if (!format.isValid()) format = inputFormatLocked();
        if (!format.isValid()) return fail(toError(AudioError::noDevice, "no capture source"));
        pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, static_cast<std::uint32_t>(format.sampleRate),
                            static_cast<std::uint8_t>(format.channelCount)};
        if (!pa_sample_spec_valid(&spec)) return fail(toError(AudioError::invalidFormat, format.description()));
        pa_context* ctx = core_->contextGood() ? core_->context().value_or(nullptr) : nullptr;
        if (!ctx) return fail(core_->lastError("no sound server"));
        stream_ = pa_stream_new(ctx, "Parlowen capture", &spec, nullptr);
        if (!stream_) return fail(core_->lastError("cannot create a capture stream"));
        streamFormat_ = PcmFormat::float32(format.sampleRate, format.channelCount);
        streamSource_ = routed_.value_or(std::string());
        pa_stream_set_state_callback(
            stream_, [](pa_stream*, void* u) { static_cast<PulseInputEngine*>(u)->core_->signal(); }, this);
        pa_stream_set_read_callback(
            stream_, [](pa_stream* s, std::size_t, void* u) { static_cast<PulseInputEngine*>(u)->onRead(s); }, this);
        const std::uint32_t frames = accumulator_.frameCapacity() ? accumulator_.frameCapacity() : 1024;
        pa_buffer_attr attr;
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.tlength = attr.prebuf = attr.minreq = static_cast<std::uint32_t>(-1);
        attr.fragsize = frames * streamFormat_.bytesPerFrame();
        const char* device = streamSource_.empty() ? nullptr : streamSource_.c_str();
        if (pa_stream_connect_record(stream_, device, &attr, PA_STREAM_ADJUST_LATENCY) < 0) {
            Error e = core_->lastError("cannot connect the capture stream");
            dropStream();
            return fail(e);
        }
        return ok();
    }

    PcmFormat inputFormatLocked() {
        auto snap = core_->snapshot();
        if (!snap) return {};
        const EndpointInfo* source = routed_ ? snap->source(*routed_) : nullptr;
        if (!source) source = snap->source(snap->defaultSource);
        if (!source) return {};
        return PcmFormat::float32(source->rate, source->channels);
    }

    // A running stream on another source or in another format is replaced
    // without waiting; its successor starts delivering once the server is ready.
    void reconnect() {
        dropStream();
        filled_ = 0;
        if (auto s = connect(); !s) core_->log().error("capture restart failed: {}", s.error().description);
    }

    void dropStream() {
        if (!stream_) return;
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_read_callback(stream_, nullptr, nullptr);
        retireStream(*core_, stream_);
        stream_ = nullptr;
        filled_ = 0;
    }

    // On the loop thread, lock held.
    void onRead(pa_stream* s) {
        const std::uint32_t channels = streamFormat_.channelCount;
        const std::size_t frameBytes = streamFormat_.bytesPerFrame();
        const bool usable = accumulator_.frameCapacity() > 0 && accumulator_.format().channelCount == channels;
        while (pa_stream_readable_size(s) > 0) {
            const void* data = nullptr;
            std::size_t bytes = 0;
            if (pa_stream_peek(s, &data, &bytes) < 0 || bytes == 0) break;
            if (usable) consume(static_cast<const float*>(data), bytes / frameBytes, channels);
            pa_stream_drop(s);
        }
    }

    // `data` null is a hole in the stream: silence.
    void consume(const float* data, std::size_t frames, std::uint32_t channels) {
        const std::uint32_t capacity = accumulator_.frameCapacity();
        std::size_t done = 0;
        while (done < frames) {
            const std::size_t n = std::min<std::size_t>(capacity - filled_, frames - done);
            for (std::uint32_t c = 0; c < channels; ++c) {
                float* dst = accumulator_.floatChannel(c) + filled_;
                if (!data) {
                    std::fill_n(dst, n, 0.0f);
                    continue;
                }
                const float* src = data + done * channels + c;
                for (std::size_t i = 0; i < n; ++i) dst[i] = src[i * channels];
            }
            filled_ += static_cast<std::uint32_t>(n);
            done += n;
            if (filled_ == capacity) {
                accumulator_.setFrameLength(capacity);
                filled_ = 0;
                if (tap_) tap_(accumulator_);
            }
        }
    }

    std::shared_ptr<Core> core_;
    // Everything below is guarded by the loop's lock.
    std::optional<std::string> routed_;
    TapBlock tap_;
    PcmFormat tapFormat_{};
    PcmBuffer accumulator_;
    std::uint32_t filled_ = 0;
    pa_stream* stream_ = nullptr;
    PcmFormat streamFormat_{};
    std::string streamSource_;
};

}  // namespace

std::unique_ptr<AudioInputEngine> makeInputEngine(std::shared_ptr<Core> core) {
    return std::make_unique<PulseInputEngine>(std::move(core));
}

}  // namespace platform::pulse
