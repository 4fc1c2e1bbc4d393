#pragma once

// Reading X selections (PRIMARY, CLIPBOARD) that other programs own, with a
// bound: a program that does not answer costs at most `timeout`, never a
// toolkit's multi-second clipboard wait. Each read uses a connection of its
// own, so it can run on any thread.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/pasteboard/PrimarySelection.h"
#include "platform/runtime/Environment.h"
#include "platform/runtime/Error.h"

namespace platform {

// Failures of readSelection() (domain "X11Selection"); a lost connection is an "X11" error.
enum class SelectionReadError : int { noOwner = 1, refused = 2, noData = 3, timedOut = 4 };
inline constexpr const char* kSelectionErrorDomain = "X11Selection";

// The window that owns `selection` now (0: nobody).
std::uint64_t selectionOwnerWindow(const std::string& displayName, const std::string& selection);

// The owner's answer for `target` ("UTF8_STRING", "TARGETS", ...): its bytes
// (for TARGETS, the atom names joined by '\n'). Fails when nobody owns the
// selection, the owner refuses the target, sends it in pieces (INCR), or
// does not answer within `timeout`.
Result<std::string> readSelection(const std::string& displayName, const std::string& selection,
                                  const std::string& target, std::chrono::milliseconds timeout);

// The PRIMARY selection on the display that DISPLAY names in `env`.
class X11PrimarySelection : public PrimarySelection {
public:
    explicit X11PrimarySelection(Environment env);

    std::optional<pid_t> ownerProcess() override;
    std::optional<std::string> text(std::chrono::milliseconds timeout) override;

private:
    Environment env_;
};

}  // namespace platform
