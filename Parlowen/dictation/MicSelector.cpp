#include "Parlowen/dictation/MicSelector.h"

#include <algorithm>

namespace parlowen {

std::string MicSelector::deviceLabel(const AudioDeviceCatalog::Device& device) {
    if (device.transport == AudioDeviceCatalog::TransportType::bluetooth)
        return device.name + " \u2014 Bluetooth \u2014 slower startup";
    return device.name;
}

std::vector<MicSelectorRow> MicSelector::rows(const std::optional<std::string>& currentDeviceUID,
                                              const std::vector<AudioDeviceCatalog::Device>& devices) {
    std::vector<MicSelectorRow> out;
    out.reserve(devices.size() + 2);
    out.push_back({kSystemDefault, "", std::nullopt});
    for (const auto& d : devices) out.push_back({deviceLabel(d), d.uid, d.id});
    if (currentDeviceUID) {
        const bool connected =
            std::any_of(devices.begin(), devices.end(), [&](const auto& d) { return d.uid == *currentDeviceUID; });
        if (!connected) out.push_back({kSavedDevice, *currentDeviceUID, std::nullopt});
    }
    return out;
}

std::string MicSelector::selection(const std::optional<std::string>& currentDeviceUID) {
    return currentDeviceUID.value_or("");
}

std::optional<std::size_t> MicSelector::selectedRow(const std::vector<MicSelectorRow>& rows,
                                                    const std::string& selection) {
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].value == selection) return i;
    return std::nullopt;
}

std::optional<std::string> MicSelector::choice(const std::string& value) {
    if (value.empty()) return std::nullopt;
    return value;
}

std::string MicSelector::helpText(bool currentIsBluetooth) {
    if (currentIsBluetooth)
        return "Bluetooth mics take ~1s to wake up each session. Pick a wired or built-in mic for instant startup. "
               "Change applies on the next dictation.";
    return "Change applies on the next dictation press.";
}

std::string MicSelector::accessibilityLabel(const std::string& currentDeviceName) {
    return "Select microphone. Current: " + currentDeviceName;
}

std::string MicSelector::symbolName(bool currentIsBluetooth) { return currentIsBluetooth ? "headphones" : "mic.fill"; }

}  // namespace parlowen
