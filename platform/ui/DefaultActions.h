#pragma once

// Return and Escape outside dialogs: a window's default action (Return) and
// cancel action (Escape) are buttons anywhere in it. A key the focused
// control uses itself (Return in a multi-line text, Escape in an open menu)
// never reaches them; a key that control leaves alone goes to the first
// visible button of the window marked for it, which is clicked only while
// it is enabled.

#include <functional>

class QAbstractButton;
class QWidget;

namespace platform::ui {

// Marks `button` as the default action of whatever window it is (or will
// be) in. `on` = false removes the mark.
void setDefaultAction(QAbstractButton* button, bool on = true);
void setCancelAction(QAbstractButton* button, bool on = true);
bool isDefaultAction(const QAbstractButton* button);

// Escape in `window` runs `action` when no button is marked as its cancel
// action (for windows that close on Escape).
void setEscapeHandler(QWidget* window, std::function<void()> action);

}  // namespace platform::ui
