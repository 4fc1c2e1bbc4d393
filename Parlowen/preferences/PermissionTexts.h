#pragma once

// What the Permissions tab and the permission pre-screen say about each
// permission. Shown verbatim (the texts name the macOS prompts and panes the
// product was designed around).

#include <string>

#include "Parlowen/shell/PermissionsManager.h"

namespace parlowen {

// "Microphone", "Speech Recognition", "Accessibility", "Input Monitoring".
std::string title(PermissionKind kind);
// The Permissions tab's line under the title.
std::string permissionExplanation(PermissionKind kind);

// The pre-screen's texts.
struct PermissionPreScreenText {
    static std::string headerSymbol(PermissionKind kind);
    // "<title> — heads up".
    static std::string heading(PermissionKind kind);
    static std::string subtitle();
    static std::string whyText(PermissionKind kind);
    static std::string doesntText(PermissionKind kind);
    // The body of "What you'll see".
    static std::string expectationText(PermissionKind kind, PermissionState state);
    // The primary button: "Got it", "Open Settings" or "Show me the prompt".
    static std::string primaryLabel(PermissionState state);
};

}  // namespace parlowen
