#pragma once

// Test double: records every chord posted and plays the frontmost
// application on a pasteboard double. On a copy the application takes the
// pasteboard `copyWrites` times (0: it had nothing to copy; 2: a clipboard
// manager or another program wrote right after it), leaving `selection`;
// on a paste it records what the pasteboard held.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/keystrokes/KeystrokePoster.h"
#include "platform/pasteboard/InMemoryPasteboard.h"

namespace platform {

class ScriptedKeystrokePoster : public KeystrokePoster {
public:
    ScriptedKeystrokePoster() = default;
    explicit ScriptedKeystrokePoster(InMemoryPasteboard& pasteboard) : pasteboard_(&pasteboard) {}

    // Records the chord (failed posts too, in `attempts`) and reacts.
    Status post(SyntheticChord chord) override;

    // The chords that were posted, in order.
    std::vector<SyntheticChord> posted;
    // Every call, including those that failed.
    std::vector<SyntheticChord> attempts;
    // post() fails with this error and the application sees nothing.
    std::optional<Error> failure;

    std::string selection;
    int copyWrites = 1;
    // The pasteboard's plain text and types at each paste.
    struct Paste {
        std::optional<std::string> text;
        std::vector<std::string> types;
    };
    std::vector<Paste> pastes;
    // Runs after the built-in reaction, for anything else a test wants to happen.
    std::function<void(SyntheticChord)> reaction;

private:
    InMemoryPasteboard* pasteboard_ = nullptr;
};

}  // namespace platform
