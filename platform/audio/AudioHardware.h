#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/Error.h"
#include "platform/runtime/Observable.h"

namespace platform {

// Identifies an attached device while it stays attached (not across reconnects).
using AudioDeviceID = std::uint32_t;

// How a device is attached.
enum class AudioTransport { builtIn, bluetooth, usb, other };

// The transport a sound server's device properties imply: "device.bus"
// decides for bluetooth and usb; an "internal" "device.form_factor" or a
// bus of the machine itself (pci, platform, isa) is built in; anything
// else, missing properties included, is other.
AudioTransport transportFromProperties(std::string_view bus, std::string_view formFactor);

// One device as the sound server describes it. A device with a card (a USB
// headset, say) is one record with both input and output channels.
struct AudioDeviceRecord {
    AudioDeviceID id = 0;
    std::optional<std::string> uid;   // none when it could not be read
    std::optional<std::string> name;  // none when it could not be read
    AudioTransport transport = AudioTransport::other;
    std::uint32_t inputChannels = 0;
    std::uint32_t outputChannels = 0;

    friend bool operator==(const AudioDeviceRecord&, const AudioDeviceRecord&) = default;
};

enum class AudioScope { input, output };

// The machine's audio devices, read afresh on every call, and a notice of
// every change (hot-plug, default device). Thread-safe; calls block while the
// sound server answers.
class AudioHardware {
public:
    virtual ~AudioHardware() = default;
    // Every device in the server's order. Monitors of outputs are not inputs.
    virtual Result<std::vector<AudioDeviceRecord>> devices() = 0;
    // The UID of the default input or output device, when there is one.
    virtual std::optional<std::string> defaultDeviceUID(AudioScope scope) = 0;
    // `handler` runs on the hardware's own thread after each change, until
    // the token is released. It must not call back into the hardware there.
    [[nodiscard]] virtual Subscription onChange(std::function<void()> handler) = 0;
};

// The test double: devices and defaults a test sets, reads that can fail,
// and changes the test announces.
class FakeAudioHardware : public AudioHardware {
public:
    Result<std::vector<AudioDeviceRecord>> devices() override;
    std::optional<std::string> defaultDeviceUID(AudioScope scope) override;
    Subscription onChange(std::function<void()> handler) override;

    void setDevices(std::vector<AudioDeviceRecord> devices);
    void setDefault(AudioScope scope, std::optional<std::string> uid);
    // While set, devices() fails.
    void setFailing(bool failing);
    // Runs the change handlers on the calling thread.
    void announceChange() const { changes_.send(0); }
    int deviceReads() const;

private:
    mutable std::mutex mutex_;
    std::vector<AudioDeviceRecord> devices_;
    std::optional<std::string> defaultInput_, defaultOutput_;
    bool failing_ = false;
    int reads_ = 0;
    Signal<int> changes_;
};

}  // namespace platform
