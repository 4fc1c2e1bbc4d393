#pragma once

#include <QWidget>

namespace platform::ui {

// A borderless panel that floats above ordinary windows and is shown
// without taking focus: the application the user works in stays active and
// its window keeps the keyboard. It still takes mouse clicks. Hidden when
// created; kept (not destroyed) when hidden.
class FloatingPanel : public QWidget {
public:
    explicit FloatingPanel(QWidget* parent = nullptr);

    // Resizes the panel's content area (the whole panel; it has no frame).
    void setContentSize(QSize size);
    // Shows the panel at the front without activating it or the application.
    void orderFrontRegardless();
    void orderOut();
    bool isOnScreen() const { return isVisible(); }
};

}  // namespace platform::ui
