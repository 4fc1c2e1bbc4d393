#include "Parlowen/dictation/TerminalTarget.h"

namespace parlowen {

bool isTerminalTarget(platform::AccessibleElement* focused, platform::Workspace& workspace) {
    if (focused)
        if (auto role = focused->roleName(); role && *role == "terminal") return true;
    auto front = workspace.frontmostApplication();
    return front && front->isTerminal;
}

platform::SyntheticChord copyChord(bool terminal) {
    return terminal ? platform::SyntheticChord::terminalCopy : platform::SyntheticChord::copy;
}

platform::SyntheticChord pasteChord(bool terminal) {
    return terminal ? platform::SyntheticChord::terminalPaste : platform::SyntheticChord::paste;
}

}  // namespace parlowen
