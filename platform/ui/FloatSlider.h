#pragma once

#include <QWidget>

#include "platform/ui/SliderScale.h"

class QSlider;

namespace platform::ui {

// A horizontal slider over a closed range of real numbers, without steps
// (1000 positions underneath). A value set from code is kept exactly, even
// between two positions; only a move by the user quantises it.
class FloatSlider : public QWidget {
    Q_OBJECT
public:
    explicit FloatSlider(double minimum = 0, double maximum = 1, QWidget* parent = nullptr);

    void setRange(double minimum, double maximum);
    double minimum() const { return scale_.minimum; }
    double maximum() const { return scale_.maximum; }

    // Clamped to the range; emits nothing.
    void setValue(double value);
    double value() const { return value_; }

    // Moves the handle to `position` (0...1000) as the user would.
    void moveTo(int position);
    QSlider* slider() const { return slider_; }

signals:
    // A value the user set with the mouse or the keyboard.
    void valueEdited(double value);

private:
    void handleMoved(int position);

    QSlider* slider_;
    SliderScale scale_;
    double value_ = 0;
    bool updating_ = false;
};

}  // namespace platform::ui
