#include "Parlowen/dictation/AudioDeviceCatalog.h"

#include <algorithm>

#include "platform/log/Log.h"
#include "platform/text/Unicode.h"

namespace parlowen {

namespace {
const platform::Logger& log() {
    static const platform::Logger logger("com.kelvatrum.Parlowen", "audio.devices");
    return logger;
}
}  // namespace

std::string rawValue(AudioDeviceCatalog::TransportType transport) {
    switch (transport) {
        case AudioDeviceCatalog::TransportType::builtIn: return "builtIn";
        case AudioDeviceCatalog::TransportType::bluetooth: return "bluetooth";
        case AudioDeviceCatalog::TransportType::usb: return "usb";
        case AudioDeviceCatalog::TransportType::other: return "other";
    }
    return "other";
}

std::optional<AudioDeviceCatalog::TransportType> transportTypeFromRawValue(const std::string& raw) {
    for (auto t : {AudioDeviceCatalog::TransportType::builtIn, AudioDeviceCatalog::TransportType::bluetooth,
                   AudioDeviceCatalog::TransportType::usb, AudioDeviceCatalog::TransportType::other})
        if (rawValue(t) == raw) return t;
    return std::nullopt;
}

AudioDeviceCatalog::AudioDeviceCatalog(platform::AudioHardware& hardware, platform::Executor& main, std::string locale)
    : hardware_(hardware), main_(main), locale_(std::move(locale)) {
    refresh();
    // Device-list and default-device changes arrive on the hardware's thread;
    // each one refreshes on the main executor. No coalescing: each is cheap.
    platform::Executor* mainExecutor = &main_;
    listener_ = hardware_.onChange([mainExecutor, weak = lifetime_.weak(), this] {
        mainExecutor->post([weak, this] {
            if (!weak.expired()) refresh();
        });
    });
}

void AudioDeviceCatalog::refresh() {
    PARLOWEN_ASSERT_ON(main_);
    std::vector<Device> inputs, outputs;
    auto records = hardware_.devices();
    if (records) {
        for (const auto& r : *records) {
            // A device whose UID or name cannot be read is listed nowhere.
            if (!r.uid || r.uid->empty() || !r.name || r.name->empty()) continue;
            Device d{r.id, *r.uid, *r.name, r.transport};
            if (r.inputChannels > 0) inputs.push_back(d);
            if (r.outputChannels > 0) outputs.push_back(d);
        }
    }
    auto byName = [this](const Device& a, const Device& b) {
        return platform::text::localizedCaseInsensitiveCompare(a.name, b.name, locale_) < 0;
    };
    std::stable_sort(inputs.begin(), inputs.end(), byName);
    std::stable_sort(outputs.begin(), outputs.end(), byName);
    const std::size_t inputCount = inputs.size(), outputCount = outputs.size();
    // Only a listed input can be the default input (never a monitor of an
    // output, whatever the server names); otherwise there is no input.
    auto defaultInput = hardware_.defaultDeviceUID(platform::AudioScope::input);
    if (defaultInput && std::none_of(inputs.begin(), inputs.end(),
                                     [&](const Device& d) { return d.uid == *defaultInput; }))
        defaultInput.reset();
    inputDevices.set(std::move(inputs));
    outputDevices.set(std::move(outputs));
    systemDefaultInputUID.set(std::move(defaultInput));
    systemDefaultOutputUID.set(hardware_.defaultDeviceUID(platform::AudioScope::output));
    log().debug("refreshed: {} input(s), {} output(s)", inputCount, outputCount);
}

std::optional<std::string> AudioDeviceCatalog::deviceName(const std::string& uid) const {
    for (const auto* list : {&inputDevices, &outputDevices})
        for (const auto& d : list->get())
            if (d.uid == uid) return d.name;
    return std::nullopt;
}

std::optional<platform::AudioDeviceID> AudioDeviceCatalog::deviceID(platform::AudioHardware& hardware,
                                                                    const std::string& uid) {
    auto records = hardware.devices();
    if (!records) return std::nullopt;
    for (const auto& r : *records)
        if (r.uid == uid) return r.id;
    return std::nullopt;
}

void AudioDeviceCatalog::setCurrentDevice(platform::AudioDeviceID device, platform::AudioInputEngine& node) {
    if (int status = node.setCurrentDevice(device); status != 0)
        log().error("AudioUnitSetProperty CurrentDevice failed: {}", status);
}

}  // namespace parlowen
