#include "Parlowen/model/Gesture.h"

#include <gtest/gtest.h>

#include <unordered_set>

#include <nlohmann/json.hpp>

#include "platform/values/Json.h"

namespace {

using parlowen::Gesture;
using parlowen::Hotkey;
using parlowen::KeyCombo;
using parlowen::PressStyle;
using platform::Json;

std::string encoded(const Gesture& g) { return *platform::encodeJson(parlowen::toJson(g)); }

platform::Result<Gesture> decodeGesture(std::string_view text) {
    auto json = platform::decodeJson(text);
    EXPECT_TRUE(json.has_value()) << text;
    return parlowen::fromJson<Gesture>(*json);
}

platform::Result<Hotkey> decodeHotkey(std::string_view text) {
    return parlowen::fromJson<Hotkey>(*platform::decodeJson(text));
}

TEST(GestureJson, WritesTheExactCompactForms) {
    EXPECT_EQ(encoded(Gesture::combo(2, 0x120000)), R"({"combo":{"_0":{"keyCode":2,"modifiers":1179648}}})");
    EXPECT_EQ(encoded(Gesture::hold(Hotkey::rightOption)), R"({"hold":{"_0":{"rightOption":{}}}})");
    EXPECT_EQ(*platform::encodeJson(parlowen::toJson(KeyCombo{65535, 0xFFFFFFFFFFFFFFFFull})),
              R"({"keyCode":65535,"modifiers":18446744073709551615})");
    EXPECT_EQ(*platform::encodeJson(parlowen::toJson(PressStyle::holdToTalk)), R"("holdToTalk")");
}

TEST(GestureJson, EveryGestureSurvivesARoundTrip) {
    std::vector<Gesture> all;
    for (int h = 0; h < 6; ++h) all.push_back(Gesture::hold(static_cast<Hotkey>(h)));
    all.push_back(Gesture::combo(0, 0));
    all.push_back(Gesture::combo(65535, 0xFFFFFFFFFFFFFFFFull));
    all.push_back(Gesture::combo(53, 0x180000));
    for (const auto& g : all) {
        auto back = decodeGesture(encoded(g));
        ASSERT_TRUE(back.has_value()) << encoded(g);
        EXPECT_EQ(*back, g) << encoded(g);
    }
}

TEST(GestureJson, ReadingRules) {
    struct Case {
        const char* json;
        std::optional<Gesture> expected;  // nothing: must fail
        const char* message = nullptr;    // the failure's description, when pinned
    };
    const char* kWrongCount = "Invalid number of keys found, expected one.";
    const Case cases[] = {
        {R"({"hold":{"_0":{"rightOption":{}}},"note":1})", Gesture::hold(Hotkey::rightOption)},
        {R"({"hold":{"_0":{"rightOption":{}},"extra":true}})", Gesture::hold(Hotkey::rightOption)},
        {R"({"combo":{"_0":{"modifiers":1179648,"keyCode":2}}})", Gesture::combo(2, 0x120000)},
        {R"({"combo":{"_0":{"keyCode":2.0,"modifiers":1179648}}})", Gesture::combo(2, 0x120000)},
        {R"({"hold":{"_0":{"rightOption":{}}},"combo":{"_0":{"keyCode":2,"modifiers":1179648}}})", std::nullopt,
         kWrongCount},
        {R"({})", std::nullopt, kWrongCount},
        {R"({"Hold":{"_0":{"rightOption":{}}}})", std::nullopt, kWrongCount},
        {R"({"hold":{"_0":{}}})", std::nullopt, kWrongCount},
        {R"({"combo":{"_0":{"keyCode":2}}})", std::nullopt},
        {R"({"combo":{"_0":{"keyCode":65536,"modifiers":0}}})", std::nullopt},
        {R"({"combo":{"_0":{"keyCode":-1,"modifiers":0}}})", std::nullopt},
        {R"({"combo":{"_0":{"keyCode":2.5,"modifiers":0}}})", std::nullopt},
        {R"({"combo":{"_0":{"keyCode":"2","modifiers":0}}})", std::nullopt},
        {R"({"combo":{"keyCode":2,"modifiers":0}})", std::nullopt},
        {R"({"hold":"rightOption"})", std::nullopt},
        {R"("hold")", std::nullopt},
        {R"([])", std::nullopt},
    };
    for (const auto& c : cases) {
        auto got = decodeGesture(c.json);
        if (c.expected) {
            ASSERT_TRUE(got.has_value()) << c.json << ": " << got.error().description;
            EXPECT_EQ(*got, *c.expected) << c.json;
        } else {
            ASSERT_FALSE(got.has_value()) << c.json;
            if (c.message) {
                EXPECT_EQ(got.error().description, c.message) << c.json;
                EXPECT_EQ(got.error().caseName, "typeMismatch") << c.json;
            }
        }
    }
}

TEST(GestureJson, HotkeyReadingRules) {
    auto twoKeys = decodeHotkey(R"({"rightOption":{},"leftOption":{}})");
    ASSERT_FALSE(twoKeys.has_value());
    EXPECT_EQ(twoKeys.error().description, "Invalid number of keys found, expected one.");
    EXPECT_EQ(decodeHotkey(R"({"rightOption":{"x":1}})").value(), Hotkey::rightOption);
    EXPECT_EQ(decodeHotkey(R"({"note":1,"leftCommand":{}})").value(), Hotkey::leftCommand);
    EXPECT_FALSE(decodeHotkey(R"({"rightOption":1})").has_value());
    EXPECT_FALSE(decodeHotkey(R"({"rightShift":{}})").has_value());
}

TEST(GestureJson, PressStyleAcceptsOnlyItsRawValues) {
    EXPECT_EQ(parlowen::fromJson<PressStyle>(Json("tapToToggle")).value(), PressStyle::tapToToggle);
    EXPECT_FALSE(parlowen::fromJson<PressStyle>(Json("TapToToggle")).has_value());
    EXPECT_FALSE(parlowen::fromJson<PressStyle>(Json(1)).has_value());
}

TEST(Hotkey, Table) {
    struct Row {
        Hotkey hotkey;
        const char* display;
        std::uint16_t code;
        std::uint64_t mask;
    };
    const Row rows[] = {
        {Hotkey::leftCommand, "Left Command (⌘)", 55, 0x8},   {Hotkey::leftOption, "Left Option (⌥)", 58, 0x20},
        {Hotkey::leftControl, "Left Control (⌃)", 59, 0x1},   {Hotkey::rightCommand, "Right Command (⌘)", 54, 0x10},
        {Hotkey::rightOption, "Right Option (⌥)", 61, 0x40},  {Hotkey::rightControl, "Right Control (⌃)", 62, 0x2000},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(parlowen::displayName(r.hotkey), r.display);
        EXPECT_EQ(parlowen::keyCode(r.hotkey), r.code);
        EXPECT_EQ(parlowen::deviceFlagMask(r.hotkey), r.mask);
        EXPECT_EQ(parlowen::hotkeyFromKeyCode(r.code), r.hotkey);
    }
    for (std::uint16_t none : {56, 57, 60, 63, 0, 2})
        EXPECT_FALSE(parlowen::hotkeyFromKeyCode(none).has_value()) << none;
    EXPECT_EQ(parlowen::rightHandVariant(Hotkey::leftOption), Hotkey::rightOption);
    EXPECT_EQ(parlowen::rightHandVariant(Hotkey::leftCommand), Hotkey::rightCommand);
    EXPECT_EQ(parlowen::rightHandVariant(Hotkey::leftControl), Hotkey::rightControl);
    EXPECT_EQ(parlowen::rightHandVariant(Hotkey::rightControl), Hotkey::rightControl);
}

TEST(KeyCombo, KeyNames) {
    const std::pair<std::uint16_t, const char*> rows[] = {
        {0, "A"},      {2, "D"},     {45, "N"},    {46, "M"},  {22, "6"},  {23, "5"},   {29, "0"},
        {24, "="},     {42, "\\"},   {50, "`"},    {39, "'"},  {36, "↩"},  {48, "⇥"},   {49, "Space"},
        {51, "⌫"},     {53, "esc"},  {117, "⌦"},   {126, "↑"}, {122, "F1"}, {120, "F2"}, {111, "F12"},
        {10, "0x0A"},  {52, "0x34"}, {200, "0xC8"}, {0xABCD, "0xABCD"},
    };
    for (const auto& [code, name] : rows) EXPECT_EQ(KeyCombo::keyName(code), name) << code;
}

TEST(KeyCombo, DisplayString) {
    const std::tuple<std::uint16_t, std::uint64_t, const char*> rows[] = {
        {2, 0x120000, "⇧⌘D"},  {1, 0x60000, "⌃⇧S"},     {53, 0x180000, "⌥⌘esc"},
        {2, 0x1E0000, "⌃⌥⇧⌘D"}, {10, 0x100000, "⌘0x0A"}, {2, 0x800000 | 0x100000, "⌘D"},
        {49, 0, "Space"},
    };
    for (const auto& [code, mods, text] : rows) EXPECT_EQ((KeyCombo{code, mods}.displayString()), text);
}

TEST(Gesture, DisplayNameAndEquality) {
    EXPECT_EQ(Gesture::hold(Hotkey::rightOption).displayName(), "Hold Right Option (⌥)");
    EXPECT_EQ(Gesture::combo(2, 0x120000).displayName(), "Tap ⇧⌘D");

    EXPECT_EQ(Gesture::combo(2, 0x120000), Gesture::combo(2, 0x120000));
    EXPECT_NE(Gesture::combo(2, 0x120000), Gesture::combo(2, 0x120000 | 0x800000));  // whole word compared
    EXPECT_NE(Gesture::hold(Hotkey::leftOption), Gesture::hold(Hotkey::rightOption));
    // A hold never equals a combination, even one on the hold key's own code.
    EXPECT_NE(Gesture::hold(Hotkey::rightOption), Gesture::combo(61, 0x40));

    std::unordered_set<Gesture> set{Gesture::combo(2, 0x120000), Gesture::combo(2, 0x120000),
                                    Gesture::hold(Hotkey::rightOption)};
    EXPECT_EQ(set.size(), 2u);
}

TEST(Gesture, ValidationRulesInOrder) {
    const std::vector<Gesture> others{Gesture::combo(20, 0x120000), Gesture::combo(0, 0x20000),
                                      Gesture::hold(Hotkey::rightOption)};
    const char* kUsed = "Already used by another Parlowen shortcut.";
    const char* kFunction = "The 🌐 (Function) key can't be used. Try ⌘, ⌥, ⌃, or ⇧.";
    const char* kShift = "Add ⌘, ⌥, or ⌃ — Shift alone isn't enough.";
    const std::pair<Gesture, std::optional<std::string>> rows[] = {
        // rule 1 wins over reserved and over missing modifiers
        {Gesture::combo(20, 0x120000), kUsed},
        {Gesture::combo(0, 0x20000), kUsed},
        {Gesture::hold(Hotkey::rightOption), kUsed},
        // holds need nothing else, left-hand ones included
        {Gesture::hold(Hotkey::leftOption), std::nullopt},
        // Function before missing modifiers
        {Gesture::combo(2, 0x800000), kFunction},
        {Gesture::combo(2, 0x900000), kFunction},
        {Gesture::combo(0, 0), kShift},
        // reserved: exact match only
        {Gesture::combo(21, 0x120000), "⇧⌘4 is reserved by macOS."},
        {Gesture::combo(49, 0x100000), "⌘Space is reserved by macOS."},
        {Gesture::combo(53, 0x180000), "⌥⌘esc is reserved by macOS."},
        {Gesture::combo(20, 0x160000), std::nullopt},
        {Gesture::combo(12, 0x120000), std::nullopt},
        {Gesture::combo(49, 0x140000), std::nullopt},
        {Gesture::combo(20, 0x100000), std::nullopt},
        {Gesture::combo(2, 0x120000), std::nullopt},
    };
    for (const auto& [candidate, expected] : rows)
        EXPECT_EQ(candidate.validationMessage(others), expected) << candidate.displayName();
    // Without the others: ⇧A lacks ⌘/⌥/⌃ and ⇧⌘3 is reserved.
    EXPECT_EQ(Gesture::combo(0, 0x20000).validationMessage({}), kShift);
    EXPECT_EQ(Gesture::combo(20, 0x120000).validationMessage({}), "⇧⌘3 is reserved by macOS.");
}

TEST(Gesture, ReservedCombosInOrder) {
    const std::vector<KeyCombo> expected{
        {49, 0x100000}, {48, 0x100000}, {12, 0x100000}, {13, 0x100000}, {4, 0x100000},
        {46, 0x100000}, {53, 0x180000}, {20, 0x120000}, {21, 0x120000}, {23, 0x120000},
    };
    EXPECT_EQ(Gesture::reservedSystemCombos(), expected);
}

}  // namespace
