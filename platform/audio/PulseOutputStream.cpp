// Playback to a PulseAudio sink. Buffers wait in our queue and are written
// as the server asks for data; a buffer counts as played once the server's
// read position has passed its last frame (checked every 20 ms while buffers
// are out, and at once when the stream runs dry).

#include <pulse/rtclock.h>

#include <deque>
#include <vector>

#include "platform/audio/PulseCore.h"
#include "platform/audio/PulseStreams.h"
#include "platform/audio/AudioError.h"

namespace platform::pulse {

namespace {

constexpr pa_usec_t kCheckInterval = 20 * PA_USEC_PER_MSEC;
// How much the server keeps queued: enough to ride out a busy machine. Pause
// (a cork) and stop (a cork and a flush) act at once whatever is queued.
constexpr pa_usec_t kTargetLatency = 300 * PA_USEC_PER_MSEC;

class PulseOutputStream : public AudioOutputStream {
public:
    PulseOutputStream(std::shared_ptr<Core> core, AudioOutputOptions options)
        : core_(std::move(core)), options_(std::move(options)) {}

    ~PulseOutputStream() override {
        std::vector<Completion> dropped;
        {
            Lock lock(*core_);
            dropStream();
            collectAll(dropped);
        }
        for (auto& c : dropped) c(ScheduledBufferEnd::stopped);
    }

    // Lock held, not on the loop thread.
    Status open() {
        auto ctx = core_->context();
        if (!ctx) return fail(ctx.error());
        if (auto s = connect(); !s) return s;
        if (!waitUntilReady(*core_, stream_)) {
            Error e = core_->lastError("cannot open playback" +
                                       (options_.sinkName ? " on " + *options_.sinkName : std::string()));
            dropStream();
            return fail(e);
        }
        return ok();
    }

    PcmFormat format() const override { return PcmFormat::float32(options_.sampleRate, options_.channels); }

    Status schedule(PcmBuffer buffer, Completion completion) override {
        if (buffer.format().sampleRate != options_.sampleRate || buffer.format().channelCount != options_.channels)
            return fail(toError(AudioError::formatMismatch,
                                buffer.format().description() + " on a stream of " + format().description()));
        Lock lock(*core_);
        if (!stream_) return fail(core_->lastError("playback stream is gone"));
        queue_.push_back({std::move(buffer), std::move(completion), 0});
        if (pa_stream_get_state(stream_) == PA_STREAM_READY) fill(pa_stream_writable_size(stream_));
        return ok();
    }

    Status play() override {
        Lock lock(*core_);
        if (!stream_) return fail(core_->lastError("playback stream is gone"));
        playing_ = true;
        if (pa_stream_get_state(stream_) == PA_STREAM_READY) {
            release(pa_stream_cork(stream_, 0, nullptr, nullptr));
            fill(pa_stream_writable_size(stream_));
            kick();
        }
        return ok();
    }

    void pause() override {
        Lock lock(*core_);
        playing_ = false;
        if (stream_ && pa_stream_get_state(stream_) == PA_STREAM_READY)
            release(pa_stream_cork(stream_, 1, nullptr, nullptr));
    }

    void stop() override {
        std::vector<Completion> dropped;
        {
            Lock lock(*core_);
            const bool wasPlaying = playing_;
            const bool holdsAudio = !queue_.empty() || !written_.empty();
            playing_ = false;
            collectAll(dropped);
            if (!stream_) {
                // The stream went away earlier: a fresh one, connecting in the background.
                if (auto s = connect(); !s) core_->log().error("playback restart failed: {}", s.error().description);
            } else if (pa_stream_get_state(stream_) == PA_STREAM_READY) {
                // Keep the connection: cork, and drop what the server holds only
                // when something of ours is still there. An idle stop costs nothing.
                if (wasPlaying) release(pa_stream_cork(stream_, 1, nullptr, nullptr));
                if (holdsAudio) flushServerBuffer();
            }
            // A stream still connecting has been sent nothing and starts corked.
        }
        for (auto& c : dropped) c(ScheduledBufferEnd::stopped);
    }

    bool isPlaying() const override {
        Lock lock(*core_);
        return playing_;
    }

private:
    struct Queued {
        PcmBuffer buffer;
        Completion completion;
        std::uint32_t written;  // frames of it already handed to the server
    };
    struct Written {
        Completion completion;
        std::uint64_t endFrame;  // the stream position right after its last frame
    };

    static void release(pa_operation* op) {
        if (op) pa_operation_unref(op);
    }

    // Lock held.
    Status connect() {
        pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, static_cast<std::uint32_t>(options_.sampleRate),
                            static_cast<std::uint8_t>(options_.channels)};
        if (options_.sampleRate <= 0 || !pa_sample_spec_valid(&spec))
            return fail(toError(AudioError::invalidFormat, format().description()));
        if (!core_->contextGood()) return fail(core_->lastError("no sound server"));
        pa_context* ctx = *core_->context();
        stream_ = pa_stream_new(ctx, options_.streamName.c_str(), &spec, nullptr);
        if (!stream_) return fail(core_->lastError("cannot create a playback stream"));
        framesOut_ = 0;
        resyncsPending_ = 0;
        pa_stream_set_state_callback(stream_, &PulseOutputStream::onState, this);
        pa_stream_set_write_callback(
            stream_, [](pa_stream*, std::size_t n, void* u) { static_cast<PulseOutputStream*>(u)->onWrite(n); }, this);
        pa_stream_set_underflow_callback(
            stream_, [](pa_stream*, void* u) { static_cast<PulseOutputStream*>(u)->onDrained(); }, this);
        pa_stream_set_latency_update_callback(
            stream_, [](pa_stream*, void* u) { static_cast<PulseOutputStream*>(u)->completePlayed(); }, this);
        pa_buffer_attr attr;
        attr.maxlength = attr.prebuf = attr.minreq = attr.fragsize = static_cast<std::uint32_t>(-1);
        attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(kTargetLatency, &spec));
        auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED);
        const char* sink = options_.sinkName ? options_.sinkName->c_str() : nullptr;
        if (pa_stream_connect_playback(stream_, sink, &attr, flags, nullptr, nullptr) < 0) {
            Error e = core_->lastError("cannot connect the playback stream");
            dropStream();
            return fail(e);
        }
        return ok();
    }

    // Drops what the server holds (lock held, stream ready). The flush moves
    // the server's write position back to its read position, so frames are
    // counted afresh from the position it reports; nothing is written until then.
    void flushServerBuffer() {
        release(pa_stream_flush(stream_, nullptr, nullptr));
        pa_operation* op = pa_stream_update_timing_info(
            stream_, [](pa_stream*, int success, void* u) { static_cast<PulseOutputStream*>(u)->onResynced(success != 0); },
            this);
        if (!op) {
            reconnect("cannot ask the server for its position");
            return;
        }
        ++resyncsPending_;
        release(op);
    }

    // Loop thread. Only the answer to the last request after the last flush is
    // valid; earlier ones come back marked corrupt.
    void onResynced(bool success) {
        if (resyncsPending_ > 0) --resyncsPending_;
        if (!stream_) return;
        const pa_timing_info* t = pa_stream_get_timing_info(stream_);
        if (success && t && !t->write_index_corrupt && t->write_index >= 0) {
            framesOut_ = static_cast<std::uint64_t>(t->write_index) / (sizeof(float) * options_.channels);
            resyncsPending_ = 0;
        } else if (resyncsPending_ > 0) {
            return;  // a later answer is on its way
        } else {
            reconnect("the server did not tell its position");
            return;
        }
        fill(pa_stream_writable_size(stream_));
        kick();
    }

    // Lock held: a fresh stream in place of this one (what waits in our queue stays).
    void reconnect(const char* why) {
        core_->log().error("playback stream replaced: {}", why);
        resyncsPending_ = 0;
        dropStream();
        if (auto s = connect(); !s) core_->log().error("playback restart failed: {}", s.error().description);
    }

    void dropStream() {
        if (timer_) {
            pa_mainloop_api* api = pa_threaded_mainloop_get_api(core_->loop());
            api->time_free(timer_);
            timer_ = nullptr;
        }
        if (!stream_) return;
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_write_callback(stream_, nullptr, nullptr);
        pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
        pa_stream_set_latency_update_callback(stream_, nullptr, nullptr);
        retireStream(*core_, stream_);
        stream_ = nullptr;
    }

    void collectAll(std::vector<Completion>& out) {
        for (auto& w : written_)
            if (w.completion) out.push_back(std::move(w.completion));
        for (auto& q : queue_)
            if (q.completion) out.push_back(std::move(q.completion));
        written_.clear();
        queue_.clear();
    }

    static void onState(pa_stream* s, void* u) {
        auto* self = static_cast<PulseOutputStream*>(u);
        self->core_->signal();
        switch (pa_stream_get_state(s)) {
            case PA_STREAM_READY:
                if (self->playing_) release(pa_stream_cork(s, 0, nullptr, nullptr));
                self->fill(pa_stream_writable_size(s));
                self->kick();
                break;
            case PA_STREAM_FAILED:
            case PA_STREAM_TERMINATED: {
                // The sink or the server went away: nothing will play.
                self->core_->log().error("playback stream ended: {}",
                                         pa_strerror(pa_context_errno(pa_stream_get_context(s))));
                std::vector<Completion> dropped;
                self->collectAll(dropped);
                self->dropStream();
                for (auto& c : dropped) c(ScheduledBufferEnd::stopped);
                break;
            }
            default: break;
        }
    }

    void onWrite(std::size_t bytes) { fill(bytes); }

    // Writes up to `bytes` from the queue (lock held).
    void fill(std::size_t bytes) {
        // After a flush our frame count is unknown until the server tells it.
        if (!stream_ || resyncsPending_ > 0) return;
        const std::uint32_t channels = options_.channels;
        const std::size_t frameBytes = sizeof(float) * channels;
        bool wrote = false;
        while (!queue_.empty() && bytes >= frameBytes) {
            Queued& q = queue_.front();
            const std::uint32_t left = q.buffer.frameLength() - q.written;
            if (left > 0) {
                void* data = nullptr;
                std::size_t size = std::min<std::size_t>(left * frameBytes, bytes);
                if (pa_stream_begin_write(stream_, &data, &size) < 0 || !data) break;
                const std::uint32_t n = static_cast<std::uint32_t>(std::min<std::size_t>(size / frameBytes, left));
                if (n == 0) {
                    pa_stream_cancel_write(stream_);
                    break;
                }
                interleave(q.buffer, q.written, n, static_cast<float*>(data));
                if (pa_stream_write(stream_, data, n * frameBytes, nullptr, 0, PA_SEEK_RELATIVE) < 0) break;
                q.written += n;
                framesOut_ += n;
                bytes -= n * frameBytes;
                wrote = true;
            }
            if (q.written >= q.buffer.frameLength()) {
                written_.push_back({std::move(q.completion), framesOut_});
                queue_.pop_front();
            }
        }
        if (wrote) kick();
        if (!written_.empty()) armTimer();
    }

    // Everything we have is with the server but may be shorter than its
    // prebuffer (the tail of a signal): start playing it anyway.
    void kick() {
        if (stream_ && playing_ && queue_.empty() && !written_.empty())
            release(pa_stream_trigger(stream_, nullptr, nullptr));
    }

    static void interleave(const PcmBuffer& b, std::uint32_t from, std::uint32_t n, float* out) {
        const std::uint32_t channels = b.format().channelCount;
        if (b.hasFloatData() && !b.format().interleaved) {
            for (std::uint32_t c = 0; c < channels; ++c) {
                const float* src = b.floatChannel(c) + from;
                for (std::uint32_t i = 0; i < n; ++i) out[i * channels + c] = src[i];
            }
            return;
        }
        for (std::uint32_t i = 0; i < n; ++i)
            for (std::uint32_t c = 0; c < channels; ++c) out[i * channels + c] = b.sample(c, from + i);
    }

    void armTimer() {
        if (timer_) return;
        pa_context* ctx = pa_stream_get_context(stream_);
        timer_ = pa_context_rttime_new(
            ctx, pa_rtclock_now() + kCheckInterval,
            [](pa_mainloop_api*, pa_time_event*, const timeval*, void* u) {
                auto* self = static_cast<PulseOutputStream*>(u);
                if (self->stream_) release(pa_stream_update_timing_info(self->stream_, nullptr, nullptr));
                if (self->written_.empty() || !self->stream_) {
                    pa_threaded_mainloop_get_api(self->core_->loop())->time_free(self->timer_);
                    self->timer_ = nullptr;
                    return;
                }
                pa_context_rttime_restart(pa_stream_get_context(self->stream_), self->timer_,
                                          pa_rtclock_now() + kCheckInterval);
            },
            this);
    }

    // The server ran dry: everything written has been played.
    void onDrained() { completeUpTo(framesOut_); }

    void completePlayed() {
        if (!stream_) return;
        const pa_timing_info* t = pa_stream_get_timing_info(stream_);
        if (!t || t->read_index_corrupt || t->read_index < 0) return;
        completeUpTo(static_cast<std::uint64_t>(t->read_index) / (sizeof(float) * options_.channels));
    }

    void completeUpTo(std::uint64_t frame) {
        std::vector<Completion> due;
        while (!written_.empty() && written_.front().endFrame <= frame) {
            if (written_.front().completion) due.push_back(std::move(written_.front().completion));
            written_.pop_front();
        }
        // Completions may schedule or stop: the queues are consistent by now.
        for (auto& c : due) c(ScheduledBufferEnd::played);
    }

    std::shared_ptr<Core> core_;
    AudioOutputOptions options_;
    // Guarded by the loop's lock.
    pa_stream* stream_ = nullptr;
    pa_time_event* timer_ = nullptr;
    std::deque<Queued> queue_;
    std::deque<Written> written_;
    std::uint64_t framesOut_ = 0;
    int resyncsPending_ = 0;  // position requests after a flush not yet answered
    bool playing_ = false;
};

}  // namespace

Result<std::unique_ptr<AudioOutputStream>> openOutputStream(std::shared_ptr<Core> core, AudioOutputOptions options) {
    auto stream = std::make_unique<PulseOutputStream>(core, std::move(options));
    Lock lock(*core);
    if (lock.onLoopThread()) return fail(toError(AudioError::wrongThread));
    if (auto s = stream->open(); !s) return fail(s.error());
    return std::unique_ptr<AudioOutputStream>(std::move(stream));
}

}  // namespace platform::pulse
