#include "Parlowen/dictation/HotkeyManager.h"

#include <algorithm>
#include <string>

#include <fmt/format.h>

#include "platform/log/Log.h"

namespace parlowen {

namespace {

const platform::Logger& hotkeyLog() {
    static const platform::Logger log("com.kelvatrum.Parlowen", "hotkey");
    return log;
}

template <class T, class F>
std::string joined(const std::vector<T>& items, F name) {
    std::string out;
    for (const auto& item : items) {
        if (!out.empty()) out += ", ";
        out += name(item);
    }
    return out;
}

}  // namespace

// ---- HotkeyRouter --------------------------------------------------------------

void HotkeyRouter::registerGestures(std::vector<Hotkey> holds, std::vector<KeyCombo> combos) {
    watchedHolds = std::move(holds);
    watchedCombos = std::move(combos);
    std::erase_if(holdState, [&](const auto& entry) {
        return std::find(watchedHolds.begin(), watchedHolds.end(), entry.first) == watchedHolds.end();
    });
}

std::vector<HoldEdge> HotkeyRouter::edges(std::uint64_t flags) {
    std::vector<HoldEdge> out;
    for (Hotkey key : watchedHolds) {
        bool down = (flags & deviceFlagMask(key)) != 0;
        auto it = holdState.find(key);
        bool previous = it != holdState.end() && it->second;
        if (down == previous) continue;
        holdState[key] = down;
        out.push_back({key, down});
    }
    return out;
}

std::optional<KeyCombo> HotkeyRouter::match(std::uint16_t keyCode, std::uint64_t flags) const {
    std::uint64_t masked = flags & ModifierFlags::comboMask;
    for (const auto& combo : watchedCombos)
        if (combo.keyCode == keyCode && combo.modifiers == masked) return combo;
    return std::nullopt;
}

// ---- HotkeyManager -------------------------------------------------------------

platform::Error HotkeyManager::toError(HotkeyError) {
    return platform::Error::make("HotkeyManager.HotkeyError", 0, "eventTapCreateFailed",
                                 "eventTapCreateFailed");
}

HotkeyManager::HotkeyManager(platform::KeyEventSource& source, platform::Executor& mainExecutor,
                             std::vector<Hotkey> holds, std::vector<KeyCombo> combos)
    : source_(source), main_(mainExecutor), router_(std::move(holds), std::move(combos)) {}

HotkeyManager::~HotkeyManager() {
    // The source first: once it is closed no handler on its thread reads the lifetime.
    if (running_) source_.close();
    lifetime_.end();
}

void HotkeyManager::setOnHoldDown(std::function<void(Hotkey)> f) {
    std::lock_guard lock(callbacksMutex_);
    onHoldDown_ = std::move(f);
}
void HotkeyManager::setOnHoldUp(std::function<void(Hotkey)> f) {
    std::lock_guard lock(callbacksMutex_);
    onHoldUp_ = std::move(f);
}
void HotkeyManager::setOnComboTrigger(std::function<void(KeyCombo)> f) {
    std::lock_guard lock(callbacksMutex_);
    onComboTrigger_ = std::move(f);
}

platform::Status HotkeyManager::start() {
    if (running_) return platform::ok();
    updateSwallowed();
    auto opened = source_.open([this](const platform::KeyEvent& e) { return handleEvent(e); });
    if (!opened) return platform::fail(toError(HotkeyError::eventTapCreateFailed).withUnderlying(opened.error()));
    running_ = true;
    std::string holds, combos;
    {
        std::lock_guard lock(routerMutex_);
        holds = joined(router_.watchedHolds, [](Hotkey h) { return std::string(displayName(h)); });
        combos = joined(router_.watchedCombos, [](const KeyCombo& c) { return c.displayString(); });
    }
    hotkeyLog().info("event tap started; holds=[{}] combos=[{}]", holds, combos);
    return platform::ok();
}

void HotkeyManager::stop() {
    if (running_) source_.close();
    running_ = false;
    std::lock_guard lock(routerMutex_);
    router_.holdState.clear();
}

bool HotkeyManager::isRunning() const { return running_; }

void HotkeyManager::withRouter(const std::function<void(HotkeyRouter&)>& f) {
    {
        std::lock_guard lock(routerMutex_);
        f(router_);
    }
    updateSwallowed();
}

void HotkeyManager::registerGestures(std::vector<Hotkey> holds, std::vector<KeyCombo> combos) {
    withRouter([&](HotkeyRouter& r) { r.registerGestures(std::move(holds), std::move(combos)); });
}

HotkeyRouter HotkeyManager::routerSnapshot() const {
    std::lock_guard lock(routerMutex_);
    return router_;
}

void HotkeyManager::setRecordingMode(bool on) {
    {
        std::lock_guard lock(recordingMutex_);
        recordingMode_ = on;
    }
    updateSwallowed();
}

bool HotkeyManager::recordingMode() const {
    std::lock_guard lock(recordingMutex_);
    return recordingMode_;
}

void HotkeyManager::updateSwallowed() {
    std::vector<platform::KeyChord> chords;
    if (!recordingMode()) {
        std::lock_guard lock(routerMutex_);
        for (const auto& c : router_.watchedCombos) chords.push_back({c.keyCode, c.modifiers});
    }
    // Outside both locks: the source may wait for its own thread.
    source_.setSwallowed(std::move(chords));
}

platform::KeyEventVerdict HotkeyManager::handleEvent(const platform::KeyEvent& event) {
    using platform::KeyEventType;
    using platform::KeyEventVerdict;
    switch (event.type) {
        case KeyEventType::disabledByUserInput:
            source_.setEnabled(true);
            return KeyEventVerdict::pass;
        case KeyEventType::disabledByTimeout:
            hotkeyLog().error("event tap disabled by timeout — re-enabling");
            source_.setEnabled(true);
            return KeyEventVerdict::pass;
        default: break;
    }
    if (recordingMode()) return KeyEventVerdict::pass;

    if (event.type == KeyEventType::keyDown) {
        std::optional<KeyCombo> matched;
        {
            std::lock_guard lock(routerMutex_);
            matched = router_.match(event.keyCode, event.flags);
        }
        if (!matched) return KeyEventVerdict::pass;
        if (event.autorepeat) return KeyEventVerdict::drop;
        main_.post(lifetime_.guard([this, combo = *matched] {
            std::function<void(KeyCombo)> f;
            {
                std::lock_guard lock(callbacksMutex_);
                f = onComboTrigger_;
            }
            if (f) f(combo);
        }));
        return KeyEventVerdict::drop;
    }

    std::vector<HoldEdge> edges;
    {
        std::lock_guard lock(routerMutex_);
        edges = router_.edges(event.flags);
    }
    for (const auto& edge : edges) {
        std::function<void(Hotkey)> f;
        {
            std::lock_guard lock(callbacksMutex_);
            f = edge.down ? onHoldDown_ : onHoldUp_;
        }
        main_.post(lifetime_.guard([f = std::move(f), key = edge.key] {
            if (f) f(key);
        }));
    }
    return KeyEventVerdict::pass;
}

}  // namespace parlowen
