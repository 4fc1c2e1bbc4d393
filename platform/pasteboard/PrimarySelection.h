#pragma once

// The selection that X11 programs keep beside the clipboard (PRIMARY): the
// text the user selected last, served on request by the program that holds
// it. Reading it borrows nothing and posts no keystroke. The X11
// implementation is X11PrimarySelection (platform/x11/X11Selection.h).

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>

namespace platform {

class PrimarySelection {
public:
    virtual ~PrimarySelection() = default;
    // The process that holds the selection; none when nobody does or it cannot be told.
    virtual std::optional<pid_t> ownerProcess() = 0;
    // The selected text, asked of its owner; none when there is no text or
    // the owner does not answer within `timeout`.
    virtual std::optional<std::string> text(std::chrono::milliseconds timeout) = 0;
};

// The test double: an owner and a text as the test sets them; counts reads.
class ScriptedPrimarySelection : public PrimarySelection {
public:
    std::optional<pid_t> ownerProcess() override { return owner; }
    std::optional<std::string> text(std::chrono::milliseconds) override {
        ++reads;
        return selected;
    }

    std::optional<pid_t> owner;
    std::optional<std::string> selected;
    int reads = 0;
};

}  // namespace platform
