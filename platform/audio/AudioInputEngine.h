#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/audio/AudioHardware.h"
#include "platform/audio/PcmBuffer.h"
#include "platform/runtime/Error.h"

namespace platform {

// An audio input: a current device, a tap that receives fixed-size buffers on
// the audio thread, and start/stop. One object per owner; the calls other
// than the tap come from one thread (the owner's).
//
// The tap runs on the audio thread. After removeTap() or stop() returns, the
// old tap is not running and is never called again, so a tap may refer to
// its owner without holding it alive.
class AudioInputEngine {
public:
    using TapBlock = std::function<void(const PcmBuffer&)>;

    virtual ~AudioInputEngine() = default;

    // The format buffers arrive in from the current device (planar float32 at
    // the device's rate and channel count); a rate of 0 when no input device
    // is usable.
    virtual PcmFormat inputFormat() = 0;
    // Makes `device` the current input device; 0 on success, else the
    // backend's status code (the device then stays what it was).
    virtual int setCurrentDevice(AudioDeviceID device) = 0;
    // Replaces the tap: `block` receives buffers of exactly `bufferFrames`
    // frames in `format` (which should be inputFormat()).
    virtual void installTap(std::uint32_t bufferFrames, PcmFormat format, TapBlock block) = 0;
    virtual void removeTap() = 0;
    // Starts capturing (nothing when running already).
    virtual Status start() = 0;
    // Stops capturing (nothing when stopped).
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;
};

// The test double. The test sets the input format and the devices it knows,
// can make start fail, and feeds buffers either on its own thread
// (deliver) or from a worker thread (pushFromWorker) to the installed tap.
class FakeAudioInputEngine : public AudioInputEngine {
public:
    explicit FakeAudioInputEngine(PcmFormat format = PcmFormat::float32(48000, 1));
    ~FakeAudioInputEngine() override;

    PcmFormat inputFormat() override;
    int setCurrentDevice(AudioDeviceID device) override;
    void installTap(std::uint32_t bufferFrames, PcmFormat format, TapBlock block) override;
    void removeTap() override;
    Status start() override;
    void stop() override;
    bool isRunning() const override;

    // The format of the device with `id` (the default device's format when
    // none is current). Only known devices can be made current.
    void addDevice(AudioDeviceID id, PcmFormat format);
    void setDefaultFormat(PcmFormat format);
    // The next starts fail with `error` (none: they succeed).
    void failStartWith(std::optional<Error> error);
    // Status setCurrentDevice returns for unknown devices.
    static constexpr int kUnknownDeviceStatus = -10851;

    // Calls the tap with `buffer` on this thread while running and tapped;
    // false when nothing received it.
    bool deliver(const PcmBuffer& buffer);
    // Delivers each buffer in turn from a new worker thread; joinWorker() waits for it.
    void pushFromWorker(std::vector<PcmBuffer> buffers);
    void joinWorker();

    std::optional<AudioDeviceID> currentDevice() const;
    std::uint32_t tapBufferFrames() const;
    std::optional<PcmFormat> tapFormat() const;
    bool hasTap() const;
    int startCount() const;
    int stopCount() const;
    int tapInstallCount() const;

private:
    mutable std::mutex mutex_;
    // Held while the tap runs, so removeTap/stop wait for a running delivery.
    mutable std::recursive_mutex tapMutex_;
    PcmFormat defaultFormat_;
    std::map<AudioDeviceID, PcmFormat> devices_;
    std::optional<AudioDeviceID> current_;
    TapBlock tap_;
    std::uint32_t tapFrames_ = 0;
    std::optional<PcmFormat> tapFormat_;
    std::optional<Error> startError_;
    bool running_ = false;
    int starts_ = 0, stops_ = 0, taps_ = 0;
    std::thread worker_;
};

}  // namespace platform
