#pragma once

#include "platform/accessibility/Accessibility.h"
#include "platform/keystrokes/KeystrokePoster.h"
#include "platform/x11/Workspace.h"

namespace parlowen {

// Whether copy and paste go to a terminal, whose Ctrl+C interrupts the
// running program and whose Ctrl+V inserts nothing: the focused element
// says so through its accessibility role, else the frontmost application's
// window class does.
bool isTerminalTarget(platform::AccessibleElement* focused, platform::Workspace& workspace);

// The copy or paste chord for such a target.
platform::SyntheticChord copyChord(bool terminal);
platform::SyntheticChord pasteChord(bool terminal);

}  // namespace parlowen
