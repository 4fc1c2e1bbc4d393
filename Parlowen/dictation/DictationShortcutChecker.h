#pragma once

// The system's own dictation shortcut (symbolic hot key 164 of the
// symbolic-hotkeys preferences) is often a bare modifier key, the very thing
// the hold gestures use: this reads it, describes it, reports which watched
// hold keys share its modifier, can switch it off and can open the keyboard
// settings. It keeps no state: every call reads the preferences anew.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Parlowen/model/Gesture.h"
#include "platform/defaults/DefaultsValue.h"
#include "platform/runtime/Error.h"

namespace platform {
class ForeignPreferences;
class Workspace;
}  // namespace platform

namespace parlowen {

class DictationShortcutChecker {
public:
    static constexpr const char* kDomain = "com.apple.symbolichotkeys";
    static constexpr const char* kHotKeysKey = "AppleSymbolicHotKeys";
    static constexpr const char* kDictationEntry = "164";
    static constexpr const char* kChangedNotification = "com.apple.symbolichotkeys.changed";
    static constexpr const char* kKeyboardSettingsURL =
        "x-apple.systempreferences:com.apple.preference.keyboard?Dictation";

    struct State {
        bool isShortcutEnabled = false;
        std::string boundShortcutDescription;
        std::vector<Hotkey> collidesWith;
        friend bool operator==(const State&, const State&) = default;
    };

    enum class DisableError { entryNotFound, writeFailed };
    static platform::Error toError(DisableError e);

    DictationShortcutChecker(std::function<std::vector<Hotkey>()> watchedHotkeys,
                             platform::ForeignPreferences& preferences, platform::Workspace& workspace);

    std::function<std::vector<Hotkey>()> watchedHotkeys;

    // Never fails: unreadable or unexpected data gives the empty state.
    State currentState() const;
    // Sets entry 164's "enabled" to false, keeping everything else, and
    // asks the system to reload its hot keys.
    platform::Status disableSystemShortcut();
    void openKeyboardSettings();

    // "⌘", "⌃+key", "key", or empty, from an entry's "value" dictionary.
    static std::string describeShortcut(const platform::DefaultsDictionary* value);
    // The bound modifier mask of an entry's "value" dictionary, if any.
    static std::optional<std::uint64_t> boundModifierMask(const platform::DefaultsDictionary* value);
    // "fn", "⌃", "⌥", "⇧", "⌘" for the mask's bits, in that order.
    static std::string symbols(std::uint64_t mask);

private:
    platform::ForeignPreferences& preferences_;
    platform::Workspace& workspace_;
};

}  // namespace parlowen
