#pragma once

#include <optional>

#include <QPushButton>

#include "platform/ui/Palette.h"

namespace platform::ui {

enum class ButtonStyle {
    bordered,           // a quiet rounded button on the theme's button colour
    borderedProminent,  // filled with the tint (the theme's accent), text in the accent foreground
    plain,              // text only, in the tint
};

enum class ControlSize { small, regular, large };

// A push button drawn in the window's theme. Disabled buttons are drawn
// faded and take no clicks; the keyboard default action is set apart
// (DefaultActions.h).
class PushButton : public QPushButton {
public:
    explicit PushButton(const QString& text = {}, QWidget* parent = nullptr);
    PushButton(const QString& text, ButtonStyle style, ControlSize size = ControlSize::regular,
               QWidget* parent = nullptr);

    void setButtonStyle(ButtonStyle style);
    ButtonStyle buttonStyle() const { return style_; }
    void setControlSize(ControlSize size);
    ControlSize controlSize() const { return size_; }
    // Empty: the theme's accent (and its readable text form for plain buttons).
    void setTint(std::optional<Color> tint);
    // Destructive buttons use the theme's red instead of the tint.
    void setDestructive(bool destructive);
    bool isDestructive() const { return destructive_; }

    // The colour the title is drawn in, readable on the button's fill (or,
    // for plain buttons, on the theme's surfaces).
    QColor textColor() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void applyFont();
    Color fillColor(const Palette& theme) const;
    Color textColorIn(const Palette& theme) const;
    // Text width, plus the icon and its spacing when there is one.
    int contentWidth() const;
    ButtonStyle style_ = ButtonStyle::bordered;
    ControlSize size_ = ControlSize::regular;
    std::optional<Color> tint_;
    bool destructive_ = false;
};

}  // namespace platform::ui
