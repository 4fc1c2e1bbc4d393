#include "Parlowen/model/Gesture.h"

#include <array>
#include <cmath>
#include <limits>

#include <fmt/core.h>
#include <nlohmann/json.hpp>

namespace parlowen {
namespace {

using platform::Error;
using platform::Json;
using platform::JsonErrorCode;
using platform::Result;

Error notAnObject(const Json& found) {
    return jsonError(JsonErrorCode::typeMismatch,
                     fmt::format("Expected to decode Dictionary<String, Any> but found {} instead.", found.type_name()));
}

Error wrongKeyCount() { return jsonError(JsonErrorCode::typeMismatch, "Invalid number of keys found, expected one."); }

struct HotkeyInfo {
    Hotkey hotkey;
    std::string_view name;
    std::string_view display;
    std::uint16_t keyCode;
    std::uint64_t deviceMask;
};

constexpr std::array<HotkeyInfo, 6> kHotkeys{{
    {Hotkey::leftCommand, "leftCommand", "Left Command (⌘)", 55, 0x8},
    {Hotkey::leftOption, "leftOption", "Left Option (⌥)", 58, 0x20},
    {Hotkey::leftControl, "leftControl", "Left Control (⌃)", 59, 0x1},
    {Hotkey::rightCommand, "rightCommand", "Right Command (⌘)", 54, 0x10},
    {Hotkey::rightOption, "rightOption", "Right Option (⌥)", 61, 0x40},
    {Hotkey::rightControl, "rightControl", "Right Control (⌃)", 62, 0x2000},
}};

const HotkeyInfo& info(Hotkey h) { return kHotkeys[static_cast<std::size_t>(h)]; }

struct KeyNameEntry {
    std::uint16_t code;
    std::string_view name;
};

constexpr KeyNameEntry kKeyNames[] = {
    // letters
    {0, "A"}, {1, "S"}, {2, "D"}, {3, "F"}, {4, "H"}, {5, "G"}, {6, "Z"}, {7, "X"}, {8, "C"}, {9, "V"},
    {11, "B"}, {12, "Q"}, {13, "W"}, {14, "E"}, {15, "R"}, {16, "Y"}, {17, "T"}, {31, "O"}, {32, "U"},
    {34, "I"}, {35, "P"}, {37, "L"}, {38, "J"}, {40, "K"}, {45, "N"}, {46, "M"},
    // digits
    {18, "1"}, {19, "2"}, {20, "3"}, {21, "4"}, {22, "6"}, {23, "5"}, {25, "9"}, {26, "7"}, {28, "8"}, {29, "0"},
    // punctuation
    {24, "="}, {27, "-"}, {30, "]"}, {33, "["}, {39, "'"}, {41, ";"}, {43, ","}, {44, "/"}, {47, "."},
    {42, "\\"}, {50, "`"},
    // special keys
    {36, "↩"}, {48, "⇥"}, {49, "Space"}, {51, "⌫"}, {53, "esc"}, {115, "↖"}, {116, "⇞"}, {117, "⌦"},
    {119, "↘"}, {121, "⇟"}, {123, "←"}, {124, "→"}, {125, "↓"}, {126, "↑"},
    // function keys
    {122, "F1"}, {120, "F2"}, {99, "F3"}, {118, "F4"}, {96, "F5"}, {97, "F6"}, {98, "F7"}, {100, "F8"},
    {101, "F9"}, {109, "F10"}, {103, "F11"}, {111, "F12"},
};

// An unsigned integer member in [0, max]; whole numbers written with a fraction are accepted.
Result<std::uint64_t> unsignedMember(const Json& object, std::string_view key, std::uint64_t max) {
    auto it = object.find(std::string(key));
    if (it == object.end() || it->is_null())
        return platform::fail(jsonError(JsonErrorCode::keyNotFound,
                                        fmt::format("No value associated with key \"{}\".", key)));
    const Json& v = *it;
    std::uint64_t out = 0;
    if (v.is_number_unsigned()) {
        out = v.get<std::uint64_t>();
    } else if (v.is_number_integer()) {
        return platform::fail(jsonError(JsonErrorCode::invalidValue,
                                        fmt::format("Number {} does not fit in \"{}\".", v.dump(), key)));
    } else if (v.is_number_float()) {
        const double d = v.get<double>();
        if (!(d >= 0) || d != std::floor(d) || d >= 18446744073709551616.0)
            return platform::fail(jsonError(JsonErrorCode::invalidValue,
                                            fmt::format("Number {} does not fit in \"{}\".", v.dump(), key)));
        out = static_cast<std::uint64_t>(d);
    } else {
        return platform::fail(jsonError(
            JsonErrorCode::typeMismatch, fmt::format("Member \"{}\" is {}, expected a number", key, v.type_name())));
    }
    if (out > max)
        return platform::fail(
            jsonError(JsonErrorCode::invalidValue, fmt::format("Number {} does not fit in \"{}\".", out, key)));
    return out;
}

// The one member of `object` whose name is among `names`: its index and value.
template <std::size_t N>
Result<std::pair<std::size_t, const Json*>> singleCase(const Json& object, const std::array<std::string_view, N>& names) {
    if (!object.is_object()) return platform::fail(notAnObject(object));
    std::optional<std::pair<std::size_t, const Json*>> found;
    for (auto it = object.begin(); it != object.end(); ++it) {
        for (std::size_t i = 0; i < N; ++i) {
            if (it.key() != names[i]) continue;
            if (found) return platform::fail(wrongKeyCount());
            found = std::pair<std::size_t, const Json*>{i, &it.value()};
        }
    }
    if (!found) return platform::fail(wrongKeyCount());
    if (!found->second->is_object()) return platform::fail(notAnObject(*found->second));
    return *found;
}

}  // namespace

// ---- Hotkey ------------------------------------------------------------------

std::string_view caseName(Hotkey hotkey) { return info(hotkey).name; }
std::string_view displayName(Hotkey hotkey) { return info(hotkey).display; }
std::uint16_t keyCode(Hotkey hotkey) { return info(hotkey).keyCode; }
std::uint64_t deviceFlagMask(Hotkey hotkey) { return info(hotkey).deviceMask; }

std::optional<Hotkey> hotkeyFromKeyCode(std::uint16_t code) {
    for (const auto& h : kHotkeys)
        if (h.keyCode == code) return h.hotkey;
    return std::nullopt;
}

Hotkey rightHandVariant(Hotkey hotkey) {
    switch (hotkey) {
        case Hotkey::leftCommand: return Hotkey::rightCommand;
        case Hotkey::leftOption: return Hotkey::rightOption;
        case Hotkey::leftControl: return Hotkey::rightControl;
        default: return hotkey;
    }
}

// ---- KeyCombo ----------------------------------------------------------------

std::string KeyCombo::keyName(std::uint16_t keyCode) {
    for (const auto& e : kKeyNames)
        if (e.code == keyCode) return std::string(e.name);
    return fmt::format("0x{:02X}", keyCode);
}

std::string KeyCombo::modifierSymbols(std::uint64_t modifiers) {
    std::string out;
    if (modifiers & ModifierFlags::control) out += "⌃";
    if (modifiers & ModifierFlags::option) out += "⌥";
    if (modifiers & ModifierFlags::shift) out += "⇧";
    if (modifiers & ModifierFlags::command) out += "⌘";
    return out;
}

std::string KeyCombo::displayString() const { return modifierSymbols(modifiers) + keyName(keyCode); }

// ---- Gesture -----------------------------------------------------------------

std::optional<Hotkey> Gesture::hotkey() const {
    if (auto h = std::get_if<Hotkey>(&payload_)) return *h;
    return std::nullopt;
}

std::optional<KeyCombo> Gesture::keyCombo() const {
    if (auto c = std::get_if<KeyCombo>(&payload_)) return *c;
    return std::nullopt;
}

std::string Gesture::displayName() const {
    if (auto h = hotkey()) return "Hold " + std::string(parlowen::displayName(*h));
    return "Tap " + keyCombo()->displayString();
}

std::optional<std::string> Gesture::validationMessage(std::span<const Gesture> others) const {
    for (const auto& other : others)
        if (other == *this) return std::string("Already used by another Parlowen shortcut.");
    const auto combo = keyCombo();
    if (!combo) return std::nullopt;
    if (combo->modifiers & ModifierFlags::function)
        return std::string("The 🌐 (Function) key can't be used. Try ⌘, ⌥, ⌃, or ⇧.");
    if ((combo->modifiers & ModifierFlags::requiredMask) == 0)
        return std::string("Add ⌘, ⌥, or ⌃ — Shift alone isn't enough.");
    for (const auto& reserved : reservedSystemCombos())
        if (reserved == *combo) return combo->displayString() + " is reserved by macOS.";
    return std::nullopt;
}

const std::vector<KeyCombo>& Gesture::reservedSystemCombos() {
    static const std::vector<KeyCombo> combos{
        {49, 0x100000}, {48, 0x100000}, {12, 0x100000}, {13, 0x100000}, {4, 0x100000},
        {46, 0x100000}, {53, 0x180000}, {20, 0x120000}, {21, 0x120000}, {23, 0x120000},
    };
    return combos;
}

// ---- JSON --------------------------------------------------------------------

Json JsonCodec<KeyCombo>::encode(const KeyCombo& combo) {
    Json j = Json::object();
    j["keyCode"] = combo.keyCode;
    j["modifiers"] = combo.modifiers;
    return j;
}

Result<KeyCombo> JsonCodec<KeyCombo>::decode(const Json& json) {
    if (!json.is_object()) return platform::fail(notAnObject(json));
    auto code = unsignedMember(json, "keyCode", std::numeric_limits<std::uint16_t>::max());
    if (!code) return platform::fail(code.error());
    auto mods = unsignedMember(json, "modifiers", std::numeric_limits<std::uint64_t>::max());
    if (!mods) return platform::fail(mods.error());
    return KeyCombo{static_cast<std::uint16_t>(*code), *mods};
}

Json JsonCodec<Hotkey>::encode(Hotkey hotkey) {
    Json j = Json::object();
    j[std::string(caseName(hotkey))] = Json::object();
    return j;
}

Result<Hotkey> JsonCodec<Hotkey>::decode(const Json& json) {
    static constexpr std::array<std::string_view, 6> kNames{"leftCommand",  "leftOption",  "leftControl",
                                                             "rightCommand", "rightOption", "rightControl"};
    auto found = singleCase(json, kNames);
    if (!found) return platform::fail(found.error());
    return static_cast<Hotkey>(found->first);
}

Json JsonCodec<Gesture>::encode(const Gesture& gesture) {
    Json inner = Json::object();
    Json j = Json::object();
    if (auto h = gesture.hotkey()) {
        inner["_0"] = toJson(*h);
        j["hold"] = std::move(inner);
    } else {
        inner["_0"] = toJson(*gesture.keyCombo());
        j["combo"] = std::move(inner);
    }
    return j;
}

Result<Gesture> JsonCodec<Gesture>::decode(const Json& json) {
    static constexpr std::array<std::string_view, 2> kNames{"hold", "combo"};
    auto found = singleCase(json, kNames);
    if (!found) return platform::fail(found.error());
    const Json& inner = *found->second;
    auto payload = inner.find("_0");
    if (payload == inner.end() || payload->is_null())
        return platform::fail(jsonError(JsonErrorCode::keyNotFound, "No value associated with key \"_0\"."));
    if (found->first == 0) {
        auto h = fromJson<Hotkey>(*payload);
        if (!h) return platform::fail(h.error());
        return Gesture::hold(*h);
    }
    auto c = fromJson<KeyCombo>(*payload);
    if (!c) return platform::fail(c.error());
    return Gesture::combo(*c);
}

}  // namespace parlowen
