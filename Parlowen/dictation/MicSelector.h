#pragma once

// The rules of the microphone picker, apart from its widget
// (views/MicSelectorButton.h): the menu's rows and selection, the label of
// one device, the help text, the accessibility label and the symbol. The
// live-transcript panel, the Notepad and the preferences window share them.

#include <optional>
#include <string>
#include <vector>

#include "Parlowen/dictation/AudioDeviceCatalog.h"

namespace parlowen {

// How the picker is drawn: `chip` is the symbol and the menu only; `button`
// a capsule holding the symbol, the device name and the menu.
enum class MicSelectorStyle { chip, button };

struct MicSelectorRow {
    std::string label;
    // What choosing the row selects; the empty text is the system default.
    std::string value;
    // The device the row stands for (the rows of connected devices).
    std::optional<platform::AudioDeviceID> deviceID;

    friend bool operator==(const MicSelectorRow&, const MicSelectorRow&) = default;
};

struct MicSelector {
    static constexpr const char* kSystemDefault = "System default";
    static constexpr const char* kSavedDevice = "Saved device (not connected)";
    static constexpr const char* kTitle = "Microphone";

    // A device's label: its name, with " — Bluetooth — slower startup" for a
    // Bluetooth device.
    static std::string deviceLabel(const AudioDeviceCatalog::Device& device);

    // "System default", one row per device in list order, and, when the
    // chosen UID matches no device exactly, the saved device so that the
    // choice stays visible.
    static std::vector<MicSelectorRow> rows(const std::optional<std::string>& currentDeviceUID,
                                            const std::vector<AudioDeviceCatalog::Device>& devices);
    // The selected value: the chosen UID, or the empty text for the system default.
    static std::string selection(const std::optional<std::string>& currentDeviceUID);
    // The first row holding `selection`, if any.
    static std::optional<std::size_t> selectedRow(const std::vector<MicSelectorRow>& rows, const std::string& selection);
    // What choosing a row with `value` hands to the owner: no UID for the
    // system default (the empty text).
    static std::optional<std::string> choice(const std::string& value);

    static std::string helpText(bool currentIsBluetooth);
    static std::string accessibilityLabel(const std::string& currentDeviceName);
    // "headphones" for a Bluetooth device, else "mic.fill".
    static std::string symbolName(bool currentIsBluetooth);
};

}  // namespace parlowen
