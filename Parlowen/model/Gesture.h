#pragma once

// The global keyboard gestures: a hold of one modifier key, or a key
// combination. Key codes and modifier bits are the stored (macOS-style)
// values; the X11 layer translates them at the edge.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "Parlowen/model/RawEnum.h"

namespace parlowen {

// Device-independent modifier bits of a combination.
namespace ModifierFlags {
inline constexpr std::uint64_t shift = 0x20000;
inline constexpr std::uint64_t control = 0x40000;
inline constexpr std::uint64_t option = 0x80000;
inline constexpr std::uint64_t command = 0x100000;
inline constexpr std::uint64_t function = 0x800000;
// The bits a combination is matched on (Shift, Control, Option, Command).
inline constexpr std::uint64_t comboMask = 0x1E0000;
// A combination needs at least one of these (Control, Option, Command).
inline constexpr std::uint64_t requiredMask = 0x1C0000;
}  // namespace ModifierFlags

// One physical modifier key, named by its side.
enum class Hotkey { leftCommand, leftOption, leftControl, rightCommand, rightOption, rightControl };

// "leftCommand", ...: the member name of its JSON form.
std::string_view caseName(Hotkey hotkey);
// "Left Command (⌘)", ...
std::string_view displayName(Hotkey hotkey);
// The virtual key code a flags-changed event carries for the key.
std::uint16_t keyCode(Hotkey hotkey);
// The device-dependent flag bit that is set while the key is down.
std::uint64_t deviceFlagMask(Hotkey hotkey);
// The hotkey of a key code; nothing for Shift, Caps Lock, Function and any other key.
std::optional<Hotkey> hotkeyFromKeyCode(std::uint16_t keyCode);
// The right-hand key of the same kind (right-hand keys stay).
Hotkey rightHandVariant(Hotkey hotkey);

// A key code plus an exact set of modifier bits.
struct KeyCombo {
    std::uint16_t keyCode = 0;
    std::uint64_t modifiers = 0;

    // The display name of a key code: "D", "Space", "esc", "F5", or "0x%02X" for unknown codes.
    static std::string keyName(std::uint16_t keyCode);
    // The symbols of the Control, Option, Shift and Command bits of `modifiers`, in that order ("⇧⌘").
    static std::string modifierSymbols(std::uint64_t modifiers);
    // Modifier symbols in the order ⌃ ⌥ ⇧ ⌘, then the key name ("⇧⌘D").
    std::string displayString() const;

    friend bool operator==(const KeyCombo&, const KeyCombo&) = default;
};

class Gesture {
public:
    enum class Kind { hold, combo };

    // A placeholder (combination of key code 0 with no modifiers) so gestures
    // can live in default-constructed containers; never a stored default.
    Gesture() : payload_(KeyCombo{}) {}

    static Gesture hold(Hotkey hotkey) { return Gesture(hotkey); }
    static Gesture combo(KeyCombo combo) { return Gesture(combo); }
    static Gesture combo(std::uint16_t keyCode, std::uint64_t modifiers) { return Gesture(KeyCombo{keyCode, modifiers}); }

    Kind kind() const { return std::holds_alternative<Hotkey>(payload_) ? Kind::hold : Kind::combo; }
    bool isHold() const { return kind() == Kind::hold; }
    bool isCombo() const { return kind() == Kind::combo; }
    // The payload of the matching case, else nothing.
    std::optional<Hotkey> hotkey() const;
    std::optional<KeyCombo> keyCombo() const;

    // "Hold Right Option (⌥)" or "Tap ⇧⌘D".
    std::string displayName() const;

    // Nothing when the candidate may be used next to `others`, else the message
    // to show. Rules in order: already used, Function key, no ⌘/⌥/⌃, reserved.
    std::optional<std::string> validationMessage(std::span<const Gesture> others) const;

    // The ten system combinations that may not be taken.
    static const std::vector<KeyCombo>& reservedSystemCombos();

    friend bool operator==(const Gesture&, const Gesture&) = default;

private:
    explicit Gesture(Hotkey h) : payload_(h) {}
    explicit Gesture(KeyCombo c) : payload_(c) {}
    std::variant<Hotkey, KeyCombo> payload_;
};

// How the legacy gestures worked; read only by the settings migration.
enum class PressStyle { tapToToggle, holdToTalk };

template <>
struct EnumCases<PressStyle> {
    static constexpr std::string_view typeName = "PressStyle";
    static constexpr std::array cases{EnumCase{PressStyle::tapToToggle, "tapToToggle"},
                                      EnumCase{PressStyle::holdToTalk, "holdToTalk"}};
};

// JSON forms (written compactly, members in this order; read in any order):
//   KeyCombo  {"keyCode":2,"modifiers":1179648}
//   Hotkey    {"rightOption":{}}
//   Gesture   {"hold":{"_0":{"rightOption":{}}}}  /  {"combo":{"_0":{...}}}
// Hotkey and Gesture need exactly one case-name member; otherwise decoding fails
// with "Invalid number of keys found, expected one.".
template <>
struct JsonCodec<KeyCombo> {
    static platform::Json encode(const KeyCombo& combo);
    static platform::Result<KeyCombo> decode(const platform::Json& json);
};

template <>
struct JsonCodec<Hotkey> {
    static platform::Json encode(Hotkey hotkey);
    static platform::Result<Hotkey> decode(const platform::Json& json);
};

template <>
struct JsonCodec<Gesture> {
    static platform::Json encode(const Gesture& gesture);
    static platform::Result<Gesture> decode(const platform::Json& json);
};

}  // namespace parlowen

template <>
struct std::hash<parlowen::KeyCombo> {
    std::size_t operator()(const parlowen::KeyCombo& c) const noexcept {
        return std::hash<std::uint64_t>{}(c.modifiers * 0x9E3779B97F4A7C15ull ^ c.keyCode);
    }
};
template <>
struct std::hash<parlowen::Gesture> {
    std::size_t operator()(const parlowen::Gesture& g) const noexcept {
        if (auto h = g.hotkey()) return std::hash<int>{}(static_cast<int>(*h)) * 31u;
        return std::hash<parlowen::KeyCombo>{}(*g.keyCombo()) * 31u + 1u;
    }
};
