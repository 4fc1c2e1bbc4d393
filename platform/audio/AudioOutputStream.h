#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio/AudioHardware.h"
#include "platform/audio/PcmBuffer.h"
#include "platform/runtime/Error.h"

namespace platform {

// How a scheduled buffer left the stream.
enum class ScheduledBufferEnd {
    played,   // its last frame has been played
    stopped,  // stop() dropped it before it had played out
};

struct AudioOutputOptions {
    // The sink (output device) by its server name; none plays to the default output.
    std::optional<std::string> sinkName;
    double sampleRate = 0;
    std::uint32_t channels = 1;
    // What the sound server shows for the stream.
    std::string streamName = "Parlowen";
    // The output device (an AudioHardware id), used when no sink is named. A
    // device that is gone, or has no output, plays to the default output.
    std::optional<AudioDeviceID> device;
};

// A playback stream: buffers are queued, play in order, and each reports
// when it is done. A new stream is paused until play().
//
// Completions run on the audio system's own thread, one per scheduled
// buffer, in order, and never twice. They must hand off quickly; they may
// schedule more buffers or stop the stream.
class AudioOutputStream {
public:
    using Completion = std::function<void(ScheduledBufferEnd)>;

    virtual ~AudioOutputStream() = default;

    // Planar float32 at the stream's rate and channel count.
    virtual PcmFormat format() const = 0;
    // Queues `buffer` after everything scheduled. Its rate and channel count
    // must be the stream's (float32 or int16, either layout).
    virtual Status schedule(PcmBuffer buffer, Completion completion = {}) = 0;
    // Starts or resumes playback.
    virtual Status play() = 0;
    // Holds playback where it is (the sound server's cork); play() resumes.
    virtual void pause() = 0;
    // Drops what has not played; the pending completions run with `stopped`
    // before stop returns. The stream stays usable and paused.
    virtual void stop() = 0;
    virtual bool isPlaying() const = 0;
};

// Opens playback streams.
class AudioOutput {
public:
    virtual ~AudioOutput() = default;
    virtual Result<std::unique_ptr<AudioOutputStream>> openStream(AudioOutputOptions options) = 0;
};

// The test double: buffers wait until the test plays them out.
class FakeAudioOutputStream : public AudioOutputStream {
public:
    explicit FakeAudioOutputStream(AudioOutputOptions options);

    PcmFormat format() const override;
    Status schedule(PcmBuffer buffer, Completion completion = {}) override;
    Status play() override;
    void pause() override;
    void stop() override;
    bool isPlaying() const override;

    const AudioOutputOptions& options() const { return options_; }
    // Completes the oldest waiting buffer as played (only while playing);
    // false when none was completed.
    bool finishNext();
    // Completes every waiting buffer while playing; returns how many.
    std::size_t finishAll();
    std::size_t pendingCount() const;
    // Every buffer scheduled so far, in order (played or not).
    std::vector<PcmBuffer> scheduledBuffers() const;

private:
    struct Pending {
        PcmBuffer buffer;
        Completion completion;
    };
    AudioOutputOptions options_;
    mutable std::mutex mutex_;
    std::deque<Pending> pending_;
    std::vector<PcmBuffer> history_;
    bool playing_ = false;
};

// Opens FakeAudioOutputStreams and keeps a pointer to each (owned by the
// caller). Thread-safe, so a test may inspect it while another thread opens.
class FakeAudioOutput : public AudioOutput {
public:
    Result<std::unique_ptr<AudioOutputStream>> openStream(AudioOutputOptions options) override;
    // The next opens fail with `error` (none: they succeed).
    void failOpenWith(std::optional<Error> error);
    std::vector<FakeAudioOutputStream*> streams() const;
    // The stream opened last; nullptr before the first.
    FakeAudioOutputStream* lastStream() const;
    // Calls of openStream, failed ones included.
    int openCount() const;

private:
    mutable std::mutex mutex_;
    std::optional<Error> openError_;
    std::vector<FakeAudioOutputStream*> streams_;
    int opens_ = 0;
};

}  // namespace platform
