#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Parlowen/dictation/DictationPorts.h"
#include "Parlowen/dictation/FocusSnapshot.h"
#include "Parlowen/shell/PasteboardArbiter.h"
#include "platform/accessibility/Accessibility.h"
#include "platform/keystrokes/KeystrokePoster.h"
#include "platform/pasteboard/Pasteboard.h"
#include "platform/x11/Workspace.h"

namespace parlowen {

// Puts the finished text of a dictation into the field that had the focus
// when it began: through accessibility when it can (the pasteboard stays
// untouched), otherwise by a synthetic paste of the text (the terminal's
// own chord in a terminal), with the clipboard-manager markers, through the
// pasteboard arbiter, after which the user's pasteboard is put back. When the focus has gone elsewhere (or
// into a modal window or dialog), or nothing has the focus, the text goes to
// a callback instead. Main thread only.
class TextInserter : public DictationTextInsertion {
public:
    TextInserter(PasteboardArbiter& arbiter, platform::Pasteboard& pasteboard,
                 platform::Accessibility& accessibility, platform::Workspace& workspace,
                 platform::KeystrokePoster& keystrokes);
    ~TextInserter() override;
    TextInserter(const TextInserter&) = delete;
    TextInserter& operator=(const TextInserter&) = delete;

    // How long the pasted text stays before the pasteboard is put back.
    platform::Duration restoreDelay() const;
    void setOnNoFocusedField(std::function<void(const std::string&)> callback);
    void setOnFocusStolen(std::function<void(const std::string&)> callback);

    // Returns at once; the work runs later as one arbiter operation (nothing
    // is queued for empty text). Reroutes are told only through the callbacks.
    void insert(const std::string& text, std::optional<FocusSnapshot> focus) override;

    struct Core;

private:
    std::shared_ptr<Core> core_;
};

}  // namespace parlowen
