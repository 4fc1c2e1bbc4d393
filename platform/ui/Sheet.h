#pragma once

// A sheet: a window-modal dialog over its parent window, holding one content
// view. Escape cancels (runs the cancel action, which closes it unless the
// action says otherwise) and Return presses the content's default button.
// It is opened without a nested event loop, so tests drive it like any
// other widget.

#include <functional>

#include <QDialog>

namespace platform::ui {

class Sheet : public QDialog {
public:
    // `parent`'s window is the one the sheet blocks.
    Sheet(QWidget* parent, QWidget* content);

    // What Escape (and the window manager's close) does; by default it closes the sheet.
    void setOnCancel(std::function<void()> onCancel) { onCancel_ = std::move(onCancel); }
    QWidget* content() const { return content_; }

    // Shows the sheet window-modally and returns at once.
    void present();
    // Closes the sheet without running the cancel action.
    void dismiss();

    void reject() override;

private:
    QWidget* content_;
    std::function<void()> onCancel_;
    bool dismissing_ = false;
};

}  // namespace platform::ui
