#include "Parlowen/dictation/DictationShortcutChecker.h"

#include <gtest/gtest.h>

#include "platform/defaults/ForeignPreferences.h"
#include "platform/log/CaptureSink.h"
#include "platform/x11/Workspace.h"

namespace parlowen {
namespace {

using platform::DefaultsArray;
using platform::DefaultsDictionary;
using platform::DefaultsValue;
using State = DictationShortcutChecker::State;

DefaultsDictionary entry(std::optional<DefaultsValue> enabled, std::string type, DefaultsArray parameters) {
    DefaultsDictionary e;
    if (enabled) e.emplace("enabled", *enabled);
    e.emplace("value", DefaultsDictionary{{"type", type}, {"parameters", std::move(parameters)}});
    return e;
}

struct Checker {
    platform::ScriptedForeignPreferences prefs;
    platform::ScriptedWorkspace workspace;
    std::vector<Hotkey> watched;
    DictationShortcutChecker checker{[this] { return watched; }, prefs, workspace};

    void setHotKeys(DefaultsDictionary hotKeys) {
        prefs.setValue("com.apple.symbolichotkeys", "AppleSymbolicHotKeys", std::move(hotKeys));
    }
    void setEntry(DefaultsDictionary e) { setHotKeys({{"164", std::move(e)}}); }
};

TEST(DictationShortcutChecker, StateTable) {
    const std::vector<Hotkey> all{Hotkey::leftCommand, Hotkey::leftOption, Hotkey::leftControl,
                                  Hotkey::rightCommand, Hotkey::rightOption, Hotkey::rightControl};
    struct Case {
        const char* name;
        DefaultsDictionary entry;
        std::vector<Hotkey> watched;
        State expected;
    };
    const std::vector<Case> cases{
        {"a bare command key collides with right command only",
         entry(1, "modifier", {0x100000, 0, 0}), {Hotkey::rightCommand, Hotkey::leftOption},
         {true, "⌘", {Hotkey::rightCommand}}},
        {"a key with control", entry(true, "standard", {65535, 2, 0x40000}), all,
         {true, "⌃+key", {Hotkey::leftControl, Hotkey::rightControl}}},
        {"standard with mask 0", entry(1, "standard", {65535, 2, 0}), all, {true, "key", {}}},
        {"standard with too few parameters", entry(1, "standard", {65535, 2}), all, {true, "key", {}}},
        {"two modifiers never collide", entry(1, "modifier", {0x140000}), all, {true, "⌃⌘", {}}},
        {"a missing enabled reads as disabled; collisions are still reported",
         entry(std::nullopt, "modifier", {0x80000}), all, {false, "⌥", {Hotkey::leftOption, Hotkey::rightOption}}},
        {"enabled 0 is disabled", entry(0, "modifier", {0x80000}), {}, {false, "⌥", {}}},
        {"enabled that is text is disabled", entry("yes", "modifier", {0x80000}), {}, {false, "⌥", {}}},
        {"repeated watched keys stay repeated", entry(1, "modifier", {0x80000}),
         {Hotkey::rightOption, Hotkey::leftCommand, Hotkey::rightOption},
         {true, "⌥", {Hotkey::rightOption, Hotkey::rightOption}}},
        {"function and every modifier, in the fixed order", entry(1, "modifier", {0x9E0000}), all,
         {true, "fn⌃⌥⇧⌘", {}}},
        {"an unknown type", entry(1, "mouse", {0x80000}), all, {true, "", {}}},
        {"parameters that are not all numbers", entry(1, "modifier", {0x80000, "x"}), all, {true, "", {}}},
        {"empty parameters", entry(1, "modifier", {}), all, {true, "", {}}},
        {"no value at all", DefaultsDictionary{{"enabled", 1}}, all, {true, "", {}}},
    };
    for (const auto& c : cases) {
        Checker k;
        k.watched = c.watched;
        k.setEntry(c.entry);
        EXPECT_EQ(k.checker.currentState(), c.expected) << c.name;
    }
}

TEST(DictationShortcutChecker, NothingToReadIsTheEmptyStateAndNothingToSwitchOff) {
    platform::ScopedLogCapture logs;
    const std::vector<std::optional<DefaultsDictionary>> hotKeys{
        std::nullopt,                                  // no value at all
        DefaultsDictionary{{"163", DefaultsDictionary{}}},  // no entry 164
        DefaultsDictionary{{"164", 7}},                // an entry that is no dictionary
    };
    for (const auto& h : hotKeys) {
        Checker k;
        k.watched = {Hotkey::rightOption};
        if (h) k.setHotKeys(*h);
        EXPECT_EQ(k.checker.currentState(), State{});
        auto r = k.checker.disableSystemShortcut();
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().caseName, "entryNotFound");
        EXPECT_TRUE(k.prefs.writes().empty());
        EXPECT_TRUE(k.prefs.postedNotifications().empty());
    }
    // A value that is not a dictionary.
    Checker k;
    k.prefs.setValue("com.apple.symbolichotkeys", "AppleSymbolicHotKeys", "text");
    EXPECT_EQ(k.checker.currentState(), State{});
    EXPECT_EQ(k.checker.disableSystemShortcut().error().caseName, "entryNotFound");
    EXPECT_TRUE(logs->messages().empty());
}

TEST(DictationShortcutChecker, SwitchingOffKeepsEverythingElseAndTellsTheSystem) {
    platform::ScopedLogCapture logs;
    Checker k;
    DefaultsDictionary e = entry(1, "modifier", {0x100000, 42});
    e.emplace("extra", "kept");
    const DefaultsDictionary other = entry(1, "standard", {32, 49, 0x100000});
    k.setHotKeys({{"164", e}, {"60", other}});

    ASSERT_TRUE(k.checker.disableSystemShortcut());
    DefaultsDictionary expectedEntry = e;
    expectedEntry.insert_or_assign("enabled", false);
    const DefaultsValue expected(DefaultsDictionary{{"164", expectedEntry}, {"60", other}});
    ASSERT_EQ(k.prefs.writes().size(), 1u);
    EXPECT_EQ(k.prefs.writes()[0].domain, "com.apple.symbolichotkeys");
    EXPECT_EQ(k.prefs.writes()[0].key, "AppleSymbolicHotKeys");
    EXPECT_EQ(k.prefs.writes()[0].value, expected);
    EXPECT_EQ(k.prefs.synchronizedDomains(), std::vector<std::string>{"com.apple.symbolichotkeys"});
    EXPECT_EQ(k.prefs.postedNotifications(), std::vector<std::string>{"com.apple.symbolichotkeys.changed"});
    auto line = logs->find("disabled system dictation shortcut (symbolic hotkey 164)", platform::LogLevel::info);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->category, "dictation-hygiene");
    EXPECT_EQ(line->subsystem, "com.kelvatrum.Parlowen");
    EXPECT_FALSE(k.checker.currentState().isShortcutEnabled);
}

TEST(DictationShortcutChecker, AFailedSynchroniseIsWriteFailedWithNothingPostedOrLogged) {
    platform::ScopedLogCapture logs;
    Checker k;
    k.setEntry(entry(1, "modifier", {0x80000}));
    k.prefs.setSynchronizeSucceeds(false);
    auto r = k.checker.disableSystemShortcut();
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), DictationShortcutChecker::toError(DictationShortcutChecker::DisableError::writeFailed));
    EXPECT_EQ(r.error().caseName, "writeFailed");
    EXPECT_TRUE(k.prefs.postedNotifications().empty());
    EXPECT_TRUE(logs->messages().empty());
}

TEST(DictationShortcutChecker, OnLinuxThereIsNoSystemShortcut) {
    platform::LinuxForeignPreferences prefs;
    platform::ScriptedWorkspace workspace;
    DictationShortcutChecker checker([] { return std::vector<Hotkey>{Hotkey::rightOption}; }, prefs, workspace);
    EXPECT_EQ(checker.currentState(), State{});
    EXPECT_EQ(checker.disableSystemShortcut().error().caseName, "entryNotFound");
    checker.openKeyboardSettings();
    EXPECT_EQ(workspace.openedURLs(),
              std::vector<std::string>{"x-apple.systempreferences:com.apple.preference.keyboard?Dictation"});
}

}  // namespace
}  // namespace parlowen
