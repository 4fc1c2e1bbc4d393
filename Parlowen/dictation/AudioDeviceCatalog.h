#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/audio/AudioHardware.h"
#include "platform/audio/AudioInputEngine.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Observable.h"

namespace parlowen {

// The machine's audio inputs and outputs and the default devices, kept
// current: every hardware change refreshes the lists on the main executor.
// One instance, owned by the composition root; main thread only, except
// the two static operations, which touch no catalogue state.
class AudioDeviceCatalog {
public:
    using TransportType = platform::AudioTransport;

    struct Device {
        platform::AudioDeviceID id = 0;
        std::string uid;   // stable across reconnects; what settings store
        std::string name;  // as shown to the user
        TransportType transport = TransportType::other;

        friend bool operator==(const Device&, const Device&) = default;
    };

    // Reads the hardware once and follows its changes. `locale` orders the names.
    AudioDeviceCatalog(platform::AudioHardware& hardware, platform::Executor& main, std::string locale = "");
    AudioDeviceCatalog(const AudioDeviceCatalog&) = delete;
    AudioDeviceCatalog& operator=(const AudioDeviceCatalog&) = delete;

    // Devices with at least one input (output) channel, sorted by name.
    platform::Observable<std::vector<Device>> inputDevices;
    platform::Observable<std::vector<Device>> outputDevices;
    platform::Observable<std::optional<std::string>> systemDefaultInputUID;
    platform::Observable<std::optional<std::string>> systemDefaultOutputUID;

    // Reads everything again and republishes the four properties.
    void refresh();
    // The name of the first device with `uid` among the inputs, then the outputs.
    std::optional<std::string> deviceName(const std::string& uid) const;

    // Asks the hardware afresh (not the published lists): the id of the first
    // device whose UID is `uid`.
    static std::optional<platform::AudioDeviceID> deviceID(platform::AudioHardware& hardware, const std::string& uid);
    // Makes `device` the current device of `node`; a refusal is logged and
    // the node keeps its device.
    static void setCurrentDevice(platform::AudioDeviceID device, platform::AudioInputEngine& node);

private:
    platform::AudioHardware& hardware_;
    platform::Executor& main_;
    std::string locale_;
    platform::Lifetime lifetime_;
    platform::Subscription listener_;
};

std::string rawValue(AudioDeviceCatalog::TransportType transport);
std::optional<AudioDeviceCatalog::TransportType> transportTypeFromRawValue(const std::string& raw);

}  // namespace parlowen
