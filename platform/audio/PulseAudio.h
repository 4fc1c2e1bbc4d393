#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/audio/AudioHardware.h"
#include "platform/audio/AudioInputEngine.h"
#include "platform/audio/AudioError.h"
#include "platform/audio/AudioOutputStream.h"
#include "platform/permissions/PermissionSource.h"
#include "platform/runtime/Environment.h"
#include "platform/runtime/Executor.h"

namespace platform {

namespace pulse {
class Core;
}

// The sound server (PulseAudio, or PipeWire's pulse server) through libpulse's
// threaded main loop: devices, capture, playback and the microphone
// permission. One object per process; the engines and streams it makes keep
// its connection alive. The server comes from PULSE_SERVER in `environment`
// (else libpulse's default). The connection is made on first use and made
// again after the server went away.
//
// Devices: a device with a card is one device named by the card (its UID is
// the card name, so a USB headset has one UID in both lists); sinks and
// sources without a card are devices of their own, named by the server
// name. Monitors of outputs are not inputs.
class PulseAudio : public AudioHardware, public AudioOutput {
public:
    explicit PulseAudio(const Environment& environment, std::string applicationName = "Parlowen");
    ~PulseAudio() override;
    PulseAudio(const PulseAudio&) = delete;
    PulseAudio& operator=(const PulseAudio&) = delete;

    Result<std::vector<AudioDeviceRecord>> devices() override;
    std::optional<std::string> defaultDeviceUID(AudioScope scope) override;
    Subscription onChange(std::function<void()> handler) override;

    Result<std::unique_ptr<AudioOutputStream>> openStream(AudioOutputOptions options) override;

    // A fresh input on the default source until a device is made current.
    std::unique_ptr<AudioInputEngine> makeInputEngine();

    // The microphone permission: authorised (3) while the server has a
    // capture source that is not a monitor, denied (2) otherwise. There is
    // nothing to ask for; a request only reads the state again.
    std::unique_ptr<PermissionSource> makeMicrophonePermission();

    // The server names a device routes to (for tests and diagnostics).
    std::optional<std::string> sourceName(AudioDeviceID device);
    std::optional<std::string> sinkName(AudioDeviceID device);

private:
    std::shared_ptr<pulse::Core> core_;
};

}  // namespace platform
