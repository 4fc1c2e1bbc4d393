#pragma once

// The general pasteboard on the desktop clipboard (QClipboard; the X11
// CLIPBOARD selection under xcb). Main thread only.
//
// The clipboard has no change count, so one is kept here: our
// clearContents() adds one, our writes after it add nothing, and every time
// another program takes the clipboard adds one. Other programs' changes are
// seen once the main loop has handled the window system's notice of them
// (borrowers wait in the loop before they read the count).
//
// An X11 selection holds one set of formats, so the pasteboard has at most
// one item: several written items merge into it, an earlier item's type
// winning over a later one's. Types map to formats: plain text to
// "text/plain", rich text to "text/rtf", HTML to "text/html"; any other type
// name is used as the format name as it is (the clipboard-manager markers).
//
// Given the X display (the Environment constructor), two things more: a
// program that owns the clipboard but does not answer within 0.5 s has its
// contents skipped (read as empty) instead of stalling the main thread for
// Qt's clipboard timeout; and a change that carries the same text as the
// contents before it, within a second, counts as a clipboard manager taking
// them over, not as another writer.

#include <memory>

#include "platform/pasteboard/Pasteboard.h"
#include "platform/runtime/Environment.h"

class QClipboard;

namespace platform {

class QtPasteboard final : public Pasteboard {
public:
    // The application's clipboard; a QGuiApplication must exist.
    QtPasteboard();
    explicit QtPasteboard(QClipboard& clipboard);
    // The application's clipboard on the X display `env` names (see above).
    explicit QtPasteboard(const Environment& env);
    ~QtPasteboard() override;
    QtPasteboard(const QtPasteboard&) = delete;
    QtPasteboard& operator=(const QtPasteboard&) = delete;

    std::int64_t changeCount() const override;
    std::size_t itemCount() const override;
    std::vector<std::string> types(std::size_t item) const override;
    std::optional<Bytes> data(std::size_t item, std::string_view type) const override;
    std::optional<std::string> string(std::string_view type = pasteboard_type::plainText) const override;

    std::int64_t clearContents() override;
    void writeObjects(const std::vector<PasteboardItem>& items) override;
    void setData(const Bytes& data, std::string_view type) override;

    // The clipboard format a type is written as, and the type a format reads as.
    static std::string formatForType(std::string_view type);
    static std::string typeForFormat(std::string_view format);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
