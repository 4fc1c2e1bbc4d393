#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Parlowen/shell/PasteboardArbiter.h"
#include "platform/accessibility/Accessibility.h"
#include "platform/keystrokes/KeystrokePoster.h"
#include "platform/pasteboard/Pasteboard.h"
#include "platform/pasteboard/PrimarySelection.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Task.h"
#include "platform/x11/Workspace.h"

namespace parlowen {

// The text selected in the frontmost application. Accessibility only tells
// whether the selection is empty (then nothing is copied, so the application
// does not beep). The text comes from the PRIMARY selection when the
// frontmost process holds it; otherwise from a synthetic copy (the
// terminal's own chord in a terminal) read off the pasteboard, after which
// the user's pasteboard is put back. The work is one arbiter operation, so
// it never interleaves with a dictation paste or another capture. Main
// thread only.
class SelectionCapture {
public:
    // Covers the wait in the arbiter's queue as well as the copy itself.
    static constexpr platform::Duration kTimeout = std::chrono::seconds(5);

    SelectionCapture(PasteboardArbiter& arbiter, platform::Pasteboard& pasteboard,
                     platform::Accessibility& accessibility, platform::KeystrokePoster& keystrokes,
                     platform::Workspace& workspace, platform::PrimarySelection& primary);
    ~SelectionCapture();
    SelectionCapture(const SelectionCapture&) = delete;
    SelectionCapture& operator=(const SelectionCapture&) = delete;

    // How long the frontmost application gets to answer the copy.
    platform::Duration copyDelay() const;

    // The selected text (whitespace kept), or nothing: no selection, a copy
    // that changed nothing or that another writer overtook, or the timeout.
    // Returns only once its queued pasteboard work has finished, even when
    // the timeout won.
    platform::Task<std::optional<std::string>> capture();

    struct Core;

private:
    std::shared_ptr<Core> core_;
};

}  // namespace parlowen
