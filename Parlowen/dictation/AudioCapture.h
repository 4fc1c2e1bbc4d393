#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "platform/audio/AudioHardware.h"
#include "platform/audio/AudioInputEngine.h"
#include "platform/audio/PcmBuffer.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/runtime/Error.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Observable.h"

namespace parlowen {

enum class AudioCaptureError { engineStartFailed, formatUnavailable };
inline constexpr const char* kAudioCaptureErrorDomain = "AudioCapture.AudioCaptureError";
// engineStartFailed carries the platform's error as the underlying one.
platform::Error toError(AudioCaptureError error, std::optional<platform::Error> underlying = std::nullopt);

// The microphone as a stream of 1024-frame buffers plus a meter level, through
// two callbacks that run on the audio thread. Start, stop and prewarm are
// called on the main executor. Capture goes to the microphone named by
// "preferredInputDeviceUID" when it is attached, else to the system default.
class AudioCapture {
public:
    using BufferCallback = std::function<void(const platform::PcmBuffer&)>;
    using AmplitudeCallback = std::function<void(float)>;

    static constexpr std::uint32_t kTapBufferFrames = 1024;
    static constexpr platform::Duration kPrewarmTeardownDelay = std::chrono::milliseconds(150);
    static constexpr const char* kPreferredInputDeviceKey = "preferredInputDeviceUID";

    AudioCapture(std::unique_ptr<platform::AudioInputEngine> engine, platform::AudioHardware& hardware,
                 platform::UserDefaults& defaults, platform::Executor& main);
    ~AudioCapture();
    AudioCapture(const AudioCapture&) = delete;
    AudioCapture& operator=(const AudioCapture&) = delete;

    // Starts capturing; nothing when running. Takes over an engine a prewarm left running.
    platform::Status start();
    // Stops capturing when running. Keeps the callbacks and a pending prewarm teardown.
    void stop();
    // Runs the engine for 150 ms so that the first real start is quick. Never fails.
    void prewarm();
    bool isRunning() const { return isRunning_; }
    // The format the next start delivers buffers in (the preferred microphone
    // is routed first), so that a consumer can prepare for it; a rate of 0
    // when no input is usable.
    platform::PcmFormat captureFormat();

    // Receives every captured buffer (audio thread). Setting is safe while capturing.
    void setOnBuffer(BufferCallback callback);
    // Receives the meter level of every buffer, 0 to 1 (audio thread).
    void setOnAmplitude(AmplitudeCallback callback);

    // The meter level: -50 dBFS and below is 0, full scale is 1, linear in
    // decibels, from the RMS of the first channel. None without float samples.
    static std::optional<float> level(const platform::PcmBuffer& buffer);

    platform::AudioInputEngine& engine() { return *engine_; }

private:
    void routeInput();
    // The tap (audio thread): allocates nothing of its own.
    void deliver(const platform::PcmBuffer& buffer) const;

    std::unique_ptr<platform::AudioInputEngine> engine_;
    platform::AudioHardware& hardware_;
    platform::UserDefaults& defaults_;
    platform::Executor& main_;
    bool isRunning_ = false;
    platform::TimerHandle prewarmTeardown_;
    // Read by the audio thread without locks; replaced whole by the owner.
    std::atomic<std::shared_ptr<const BufferCallback>> onBuffer_;
    std::atomic<std::shared_ptr<const AmplitudeCallback>> onAmplitude_;
    platform::Lifetime lifetime_;
};

}  // namespace parlowen
