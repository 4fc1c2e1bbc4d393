#include "platform/accessibility/ScriptedAccessibility.h"

#include <algorithm>
#include <utility>

#include "platform/text/Unicode.h"

namespace platform {

namespace {
// The byte offsets of the selection in `text` (code-point offsets, either order).
std::pair<std::size_t, std::size_t> selectionBytes(const std::string& text, AccessibleTextRange selection) {
    text::TextOffsets offsets(text);
    auto byteAt = [&](int index) { return offsets.byteFromCodePoint(static_cast<std::size_t>(std::max(index, 0))); };
    return {byteAt(std::min(selection.start, selection.end)), byteAt(std::max(selection.start, selection.end))};
}
}  // namespace

Status ScriptedAccessibleElement::setSelectedText(const std::string& inserted) {
    writes.push_back(inserted);
    if (setFailure) return fail(*setFailure);
    auto [from, to] = selectionBytes(text, selection);
    int caret = std::min(selection.start, selection.end) + static_cast<int>(text::codePointCount(inserted));
    text = text.substr(0, from) + inserted + text.substr(to);
    selection = {caret, caret};
    return ok();
}

Result<std::string> ScriptedAccessibleElement::selectedText() {
    auto [from, to] = selectionBytes(text, selection);
    return text.substr(from, to - from);
}

Result<AccessibleTextRange> ScriptedAccessibleElement::selectionRange() { return selection; }

Status ScriptedAccessibility::requestTrust() {
    ++trustRequests;
    trusted = trustAfterRequest;
    return ok();
}

Result<std::shared_ptr<AccessibleElement>> ScriptedAccessibility::focusedElement() {
    ++focusQueries;
    return focused;
}

}  // namespace platform
