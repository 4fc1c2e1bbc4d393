#pragma once

// The global gesture tap. The router turns key events into hold edges of
// watched modifier keys and triggers of watched combinations; the manager
// runs it on a key event source and hands every edge and trigger to the
// main executor, in the order they happened.

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "Parlowen/model/Gesture.h"
#include "platform/keyevents/KeyEventSource.h"
#include "platform/runtime/Error.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Observable.h"

namespace parlowen {

struct HoldEdge {
    Hotkey key;
    bool down;
    friend bool operator==(const HoldEdge&, const HoldEdge&) = default;
};

class HotkeyRouter {
public:
    HotkeyRouter() = default;
    HotkeyRouter(std::vector<Hotkey> holds, std::vector<KeyCombo> combos)
        : watchedHolds(std::move(holds)), watchedCombos(std::move(combos)) {}

    // Replaces both lists; held keys that are no longer watched are
    // forgotten without an edge.
    void registerGestures(std::vector<Hotkey> holds, std::vector<KeyCombo> combos);
    // The edges of one modifier-change event, in the order of watchedHolds.
    std::vector<HoldEdge> edges(std::uint64_t flags);
    // The first watched combination with this key code and exactly these
    // Shift/Control/Option/Command bits (other bits take no part).
    std::optional<KeyCombo> match(std::uint16_t keyCode, std::uint64_t flags) const;

    std::vector<Hotkey> watchedHolds;
    std::vector<KeyCombo> watchedCombos;
    std::map<Hotkey, bool> holdState;  // absent = up
};

class HotkeyManager {
public:
    enum class HotkeyError { eventTapCreateFailed };
    static platform::Error toError(HotkeyError e);

    HotkeyManager(platform::KeyEventSource& source, platform::Executor& mainExecutor,
                  std::vector<Hotkey> holds = {}, std::vector<KeyCombo> combos = {});
    // Closes the source if still open, so no event reaches a dead manager;
    // work already queued on the main executor then does nothing.
    ~HotkeyManager();
    HotkeyManager(const HotkeyManager&) = delete;
    HotkeyManager& operator=(const HotkeyManager&) = delete;

    // Set by the owner on the main executor; invoked there.
    void setOnHoldDown(std::function<void(Hotkey)> f);
    void setOnHoldUp(std::function<void(Hotkey)> f);
    void setOnComboTrigger(std::function<void(KeyCombo)> f);

    // Opens the source (a second call while running does nothing). Fails
    // with eventTapCreateFailed when the source cannot be opened.
    platform::Status start();
    // Closes the source and forgets every hold state.
    void stop();
    bool isRunning() const;

    // Runs `f` on the router under its lock (the owner's way to register
    // gestures), then tells the source which combinations to swallow.
    void withRouter(const std::function<void(HotkeyRouter&)>& f);
    void registerGestures(std::vector<Hotkey> holds, std::vector<KeyCombo> combos);
    HotkeyRouter routerSnapshot() const;

    // While on, every event passes untouched and no state changes (the
    // shortcut recorder); nothing is swallowed meanwhile.
    void setRecordingMode(bool on);
    bool recordingMode() const;

    // The tap callback: what to do with one event. Called on the source's thread.
    platform::KeyEventVerdict handleEvent(const platform::KeyEvent& event);

private:
    void updateSwallowed();

    platform::KeyEventSource& source_;
    platform::Executor& main_;

    mutable std::mutex callbacksMutex_;
    std::function<void(Hotkey)> onHoldDown_;
    std::function<void(Hotkey)> onHoldUp_;
    std::function<void(KeyCombo)> onComboTrigger_;

    mutable std::mutex routerMutex_;
    HotkeyRouter router_;

    mutable std::mutex recordingMutex_;
    bool recordingMode_ = false;

    bool running_ = false;  // main executor only
    // Queued work does nothing once the manager is gone.
    platform::Lifetime lifetime_;
};

}  // namespace parlowen
