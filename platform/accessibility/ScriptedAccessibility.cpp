#include "platform/accessibility/ScriptedAccessibility.h"

#include <algorithm>

namespace platform {

namespace {
// The byte offset of code point `index` (clamped to the end).
std::size_t byteOffset(const std::string& s, int index) {
    std::size_t i = 0;
    for (int n = 0; n < index && i < s.size(); ++n) {
        ++i;
        while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
    }
    return i;
}
int codePoints(const std::string& s) {
    return static_cast<int>(std::count_if(s.begin(), s.end(),
                                          [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}
}  // namespace

Status ScriptedAccessibleElement::setSelectedText(const std::string& inserted) {
    writes.push_back(inserted);
    if (setFailure) return fail(*setFailure);
    std::size_t from = byteOffset(text, std::min(selection.start, selection.end));
    std::size_t to = byteOffset(text, std::max(selection.start, selection.end));
    int caret = std::min(selection.start, selection.end) + codePoints(inserted);
    text = text.substr(0, from) + inserted + text.substr(to);
    selection = {caret, caret};
    return ok();
}

Result<std::string> ScriptedAccessibleElement::selectedText() {
    std::size_t from = byteOffset(text, std::min(selection.start, selection.end));
    std::size_t to = byteOffset(text, std::max(selection.start, selection.end));
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
