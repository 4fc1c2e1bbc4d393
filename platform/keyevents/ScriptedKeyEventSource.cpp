#include "platform/keyevents/KeyEventSource.h"

namespace platform {

std::uint64_t modifierKeyFlags(std::uint16_t macKeyCode) {
    using namespace KeyEventFlag;
    switch (macKeyCode) {
        case 0x37: return command | leftCommand;
        case 0x36: return command | rightCommand;
        case 0x3A: return option | leftOption;
        case 0x3D: return option | rightOption;
        case 0x3B: return control | leftControl;
        case 0x3E: return control | rightControl;
        case 0x38: return shift | leftShift;
        case 0x3C: return shift | rightShift;
        default: return 0;
    }
}

Status ScriptedKeyEventSource::open(Handler handler) {
    std::lock_guard lock(mutex_);
    if (failOpen_) return fail(Error::make("keyevents", 1, "cannotOpen", "the key event source cannot be opened"));
    handler_ = std::move(handler);
    open_ = true;
    enabled_ = true;
    ++opens_;
    return ok();
}

void ScriptedKeyEventSource::close() {
    std::lock_guard lock(mutex_);
    open_ = false;
    handler_ = nullptr;
}

bool ScriptedKeyEventSource::isOpen() const {
    std::lock_guard lock(mutex_);
    return open_;
}

void ScriptedKeyEventSource::setEnabled(bool enabled) {
    std::lock_guard lock(mutex_);
    enabled_ = enabled;
    if (enabled) ++enables_;
}

void ScriptedKeyEventSource::setSwallowed(std::vector<KeyChord> chords) {
    std::lock_guard lock(mutex_);
    swallowed_ = std::move(chords);
}

bool ScriptedKeyEventSource::canOpen() {
    std::lock_guard lock(mutex_);
    return !failOpen_;
}

void ScriptedKeyEventSource::failOpen(bool fail) {
    std::lock_guard lock(mutex_);
    failOpen_ = fail;
}

KeyEventVerdict ScriptedKeyEventSource::push(const KeyEvent& event) {
    Handler handler;
    {
        std::lock_guard lock(mutex_);
        // Disable notices reach a disabled source too: they are how it says so.
        bool notice = event.type == KeyEventType::disabledByTimeout || event.type == KeyEventType::disabledByUserInput;
        if (!open_ || (!enabled_ && !notice)) return KeyEventVerdict::pass;
        handler = handler_;
    }
    // The handler runs unlocked, as it would on the real source's thread.
    KeyEventVerdict verdict = handler ? handler(event) : KeyEventVerdict::pass;
    std::lock_guard lock(mutex_);
    decisions_.push_back({event, verdict});
    return verdict;
}

std::vector<ScriptedKeyEventSource::Decision> ScriptedKeyEventSource::decisions() const {
    std::lock_guard lock(mutex_);
    return decisions_;
}
std::vector<KeyChord> ScriptedKeyEventSource::swallowed() const {
    std::lock_guard lock(mutex_);
    return swallowed_;
}
bool ScriptedKeyEventSource::enabled() const {
    std::lock_guard lock(mutex_);
    return enabled_;
}
int ScriptedKeyEventSource::openCount() const {
    std::lock_guard lock(mutex_);
    return opens_;
}
int ScriptedKeyEventSource::enableCount() const {
    std::lock_guard lock(mutex_);
    return enables_;
}

}  // namespace platform
