#include "Parlowen/dictation/HotkeyManager.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/log/CaptureSink.h"
#include "platform/runtime/ManualExecutor.h"

namespace parlowen {
namespace {

using platform::KeyEventFlag::capsLock;
using platform::KeyEventVerdict;

constexpr std::uint64_t kRightOption = platform::KeyEventFlag::rightOption | ModifierFlags::option;
constexpr std::uint64_t kLeftOption = platform::KeyEventFlag::leftOption | ModifierFlags::option;
constexpr std::uint64_t kRightCommand = platform::KeyEventFlag::rightCommand | ModifierFlags::command;
constexpr std::uint64_t kLeftControl = platform::KeyEventFlag::leftControl | ModifierFlags::control;
constexpr std::uint16_t kKeyD = 0x02;
const KeyCombo kCmdShiftD{kKeyD, ModifierFlags::command | ModifierFlags::shift};
const KeyCombo kF5{0x60, 0};

// A manager on the scripted source whose callbacks write what reaches the main executor.
struct Tap {
    platform::ManualExecutor main;
    platform::ScriptedKeyEventSource source;
    HotkeyManager manager;
    std::vector<std::string> seen;

    explicit Tap(std::vector<Hotkey> holds, std::vector<KeyCombo> combos = {})
        : manager(source, main, std::move(holds), std::move(combos)) {
        manager.setOnHoldDown([this](Hotkey h) { seen.push_back("down " + std::string(caseName(h))); });
        manager.setOnHoldUp([this](Hotkey h) { seen.push_back("up " + std::string(caseName(h))); });
        manager.setOnComboTrigger([this](KeyCombo c) { seen.push_back("combo " + c.displayString()); });
    }
    std::vector<std::string> drain() {
        main.runUntilIdle();
        return std::exchange(seen, {});
    }
};

using Lines = std::vector<std::string>;

TEST(HotkeyRouter, EdgesFollowEachWatchedKeysOwnBit) {
    struct Case {
        const char* name;
        std::vector<Hotkey> holds;
        std::vector<std::uint64_t> events;
        Lines expected;
    };
    const std::vector<Case> cases{
        {"right option down and up", {Hotkey::rightOption}, {kRightOption, 0}, {"down rightOption", "up rightOption"}},
        {"left option is not watched", {Hotkey::rightOption}, {kLeftOption, 0}, {}},
        {"right option while left option is held", {Hotkey::rightOption, Hotkey::leftOption}, {kLeftOption, kLeftOption | kRightOption},
         {"down leftOption", "down rightOption"}},
        {"two keys in one event come in watched order", {Hotkey::rightCommand, Hotkey::leftControl},
         {kLeftControl | kRightCommand, 0}, {"down rightCommand", "down leftControl", "up rightCommand", "up leftControl"}},
        {"unchanged flags give nothing", {Hotkey::rightOption}, {kRightOption, kRightOption | ModifierFlags::shift},
         {"down rightOption"}},
    };
    for (const auto& c : cases) {
        HotkeyRouter router(c.holds, {});
        Lines got;
        for (auto flags : c.events)
            for (auto e : router.edges(flags)) got.push_back(std::string(e.down ? "down " : "up ") + std::string(caseName(e.key)));
        EXPECT_EQ(got, c.expected) << c.name;
    }
}

TEST(HotkeyRouter, CombinationsMatchExactModifiersOnly) {
    HotkeyRouter router({}, {kCmdShiftD, kF5});
    struct Case {
        std::uint16_t key;
        std::uint64_t flags;
        bool matches;
    };
    const std::vector<Case> cases{
        {kKeyD, kRightCommand | ModifierFlags::shift, true},
        {kKeyD, kRightCommand | ModifierFlags::shift | capsLock, true},     // Caps Lock takes no part
        {kKeyD, kRightCommand | ModifierFlags::shift | 0x800000, true},     // nor fn
        {kKeyD, kRightCommand, false},                                       // a modifier missing
        {kKeyD, kRightCommand | ModifierFlags::shift | kLeftOption, false},  // an extra one
        {0x01, kRightCommand | ModifierFlags::shift, false},                 // another key
        {0x60, 0, true},                                                     // no modifiers: all up
        {0x60, capsLock, true},
        {0x60, ModifierFlags::shift, false},
        {0x60, kLeftControl, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(router.match(c.key, c.flags).has_value(), c.matches) << c.key << " flags=" << std::hex << c.flags;
}

TEST(HotkeyRouter, RegisteringAgainForgetsKeysNoLongerWatched) {
    HotkeyRouter router({Hotkey::rightOption, Hotkey::rightCommand}, {});
    router.edges(kRightOption | kRightCommand);
    router.registerGestures({Hotkey::rightCommand}, {});
    EXPECT_EQ(router.holdState.count(Hotkey::rightOption), 0u);
    EXPECT_TRUE(router.holdState.at(Hotkey::rightCommand));
    // Watched again, it starts from up: the still-held key gives a fresh down edge.
    router.registerGestures({Hotkey::rightCommand, Hotkey::rightOption}, {});
    EXPECT_EQ(router.edges(kRightOption | kRightCommand), (std::vector<HoldEdge>{{Hotkey::rightOption, true}}));
}

TEST(HotkeyManager, HoldEdgesReachTheMainExecutorInOrderAfterTheEvent) {
    Tap tap({Hotkey::rightOption, Hotkey::leftControl});
    ASSERT_TRUE(tap.manager.start());
    EXPECT_EQ(tap.source.pushFlags(kRightOption | kLeftControl), KeyEventVerdict::pass);
    EXPECT_TRUE(tap.seen.empty());  // nothing runs inside the source's callback
    EXPECT_EQ(tap.source.pushFlags(0), KeyEventVerdict::pass);
    EXPECT_EQ(tap.drain(), (Lines{"down rightOption", "down leftControl", "up rightOption", "up leftControl"}));
}

TEST(HotkeyManager, KeyHeldAtStartGivesItsDownEdgeAtTheNextEvent) {
    Tap tap({Hotkey::rightOption});
    ASSERT_TRUE(tap.manager.start());
    // Right option was already down; the first event comes from shift.
    tap.source.pushFlags(kRightOption | ModifierFlags::shift, 0x38);
    EXPECT_EQ(tap.drain(), Lines{"down rightOption"});
    // An ordinary key while it is held changes nothing and passes.
    EXPECT_EQ(tap.source.pushKeyDown(kKeyD, kRightOption), KeyEventVerdict::pass);
    EXPECT_TRUE(tap.drain().empty());
}

TEST(HotkeyManager, ReRegisteringAndStoppingDropHeldKeysWithoutUpEdges) {
    Tap tap({Hotkey::rightOption, Hotkey::rightCommand});
    ASSERT_TRUE(tap.manager.start());
    tap.source.pushFlags(kRightOption | kRightCommand);
    tap.manager.registerGestures({Hotkey::rightCommand}, {});
    tap.source.pushFlags(kRightCommand);
    EXPECT_EQ(tap.drain(), (Lines{"down rightOption", "down rightCommand"}));

    tap.manager.stop();
    EXPECT_FALSE(tap.source.isOpen());
    EXPECT_TRUE(tap.manager.routerSnapshot().holdState.empty());
    ASSERT_TRUE(tap.manager.start());
    tap.source.pushFlags(kRightCommand);  // still held: a fresh down, never an up
    EXPECT_EQ(tap.drain(), Lines{"down rightCommand"});
}

TEST(HotkeyManager, CombinationFirstPressTriggersAndIsDroppedRepeatsDroppedSilently) {
    Tap tap({}, {kCmdShiftD});
    ASSERT_TRUE(tap.manager.start());
    EXPECT_EQ(tap.source.swallowed(), (std::vector<platform::KeyChord>{{kKeyD, kCmdShiftD.modifiers}}));
    const auto flags = kRightCommand | ModifierFlags::shift;
    EXPECT_EQ(tap.source.pushKeyDown(kKeyD, flags), KeyEventVerdict::drop);
    EXPECT_EQ(tap.source.pushKeyDown(kKeyD, flags, true), KeyEventVerdict::drop);
    EXPECT_EQ(tap.source.pushKeyDown(kKeyD, flags | capsLock, true), KeyEventVerdict::drop);
    EXPECT_EQ(tap.source.pushKeyDown(kKeyD, flags | kLeftOption), KeyEventVerdict::pass);
    // A key release is a modifier-free flags event here at most: it passes.
    EXPECT_EQ(tap.source.pushFlags(0), KeyEventVerdict::pass);
    EXPECT_EQ(tap.drain(), Lines{"combo ⇧⌘D"});
}

TEST(HotkeyManager, TriggerCallbackIsReadWhenTheWorkRuns) {
    Tap tap({}, {kF5});
    ASSERT_TRUE(tap.manager.start());
    tap.source.pushKeyDown(0x60, 0);
    Lines late;
    tap.manager.setOnComboTrigger([&](KeyCombo) { late.push_back("late"); });
    tap.main.runUntilIdle();
    EXPECT_EQ(late, Lines{"late"});
    EXPECT_TRUE(tap.seen.empty());
}

TEST(HotkeyManager, RecordingModePassesEverythingAndKeepsState) {
    Tap tap({Hotkey::rightOption}, {kCmdShiftD});
    ASSERT_TRUE(tap.manager.start());
    tap.source.pushFlags(kRightOption);
    tap.manager.setRecordingMode(true);
    EXPECT_TRUE(tap.source.swallowed().empty());  // the recorder must see combinations
    EXPECT_EQ(tap.source.pushKeyDown(kKeyD, kRightCommand | ModifierFlags::shift), KeyEventVerdict::pass);
    EXPECT_EQ(tap.source.pushFlags(0), KeyEventVerdict::pass);  // released while recording
    EXPECT_EQ(tap.drain(), Lines{"down rightOption"});
    tap.manager.setRecordingMode(false);
    EXPECT_EQ(tap.source.swallowed().size(), 1u);
    tap.source.pushFlags(ModifierFlags::shift);  // the up edge comes at the first event after
    EXPECT_EQ(tap.drain(), Lines{"up rightOption"});
}

TEST(HotkeyManager, DisabledSourceIsEnabledAgainAndOnlyTimeoutIsLogged) {
    platform::ScopedLogCapture capture;
    Tap tap({Hotkey::rightOption});
    ASSERT_TRUE(tap.manager.start());
    tap.source.setEnabled(false);
    tap.source.push({platform::KeyEventType::disabledByUserInput});
    EXPECT_TRUE(tap.source.enabled());
    EXPECT_FALSE(capture.sink().contains("disabled"));
    tap.source.setEnabled(false);
    tap.source.push({platform::KeyEventType::disabledByTimeout});
    EXPECT_TRUE(tap.source.enabled());
    auto line = capture.sink().find("event tap disabled by timeout — re-enabling", platform::LogLevel::error);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->category, "hotkey");
}

TEST(HotkeyManager, StartLogsGesturesOnceAndFailsWhenTheSourceCannotOpen) {
    platform::ScopedLogCapture capture;
    Tap tap({Hotkey::rightOption, Hotkey::leftCommand}, {kCmdShiftD, kF5});
    tap.source.failOpen(true);
    auto failed = tap.manager.start();
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().caseName, "eventTapCreateFailed");
    EXPECT_FALSE(tap.manager.isRunning());
    tap.source.failOpen(false);
    ASSERT_TRUE(tap.manager.start());
    ASSERT_TRUE(tap.manager.start());  // no-op
    EXPECT_EQ(tap.source.openCount(), 1);
    EXPECT_EQ(capture.sink().messages(),
              Lines{"event tap started; holds=[Right Option (⌥), Left Command (⌘)] combos=[⇧⌘D, F5]"});
}

TEST(HotkeyManager, DestroyedBeforeQueuedWorkRunsDoesNothing) {
    platform::ManualExecutor main;
    platform::ScriptedKeyEventSource source;
    Lines seen;
    {
        HotkeyManager manager(source, main, {Hotkey::rightOption}, {kF5});
        manager.setOnHoldDown([&](Hotkey) { seen.push_back("down"); });
        manager.setOnComboTrigger([&](KeyCombo) { seen.push_back("combo"); });
        ASSERT_TRUE(manager.start());
        source.pushFlags(kRightOption);
        source.pushKeyDown(0x60, 0);
    }
    EXPECT_FALSE(source.isOpen());  // no event can reach the dead manager
    main.runUntilIdle();
    EXPECT_TRUE(seen.empty());
}

}  // namespace
}  // namespace parlowen
