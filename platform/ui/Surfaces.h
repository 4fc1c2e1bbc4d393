#pragma once

// Painted surfaces every window shares: the themed window background, cards
// and capsules, and a divider line. Colours left unset come from the
// enclosing theme scope (ThemeScope.h), so they follow the window's theme.

#include <optional>

#include <QColor>
#include <QMargins>
#include <QWidget>

#include "platform/ui/Color.h"

class QLabel;

namespace platform::ui {

// The common background of themed windows: a vertical gradient from the dim
// surface at the top to the surface background at the bottom, under a soft
// accent glow (accent at 0.18 fading to 0, centred just above the middle of
// the top edge, radii 20 to 320 points). Put a window's content on it.
class ThemedBackground : public QWidget {
public:
    explicit ThemedBackground(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A rounded rectangle behind its content: a fill, and an optional border
// drawn inside the edge (so the card does not grow by the border). As a
// capsule, its corner radius is half its height.
class Card : public QWidget {
public:
    explicit Card(QWidget* parent = nullptr);

    void setCornerRadius(double radius);
    double cornerRadius() const { return radius_; }
    // Half the height, whatever the size.
    void setCapsule(bool capsule);
    bool isCapsule() const { return capsule_; }
    // Empty: the theme's field colour (the Qt palette's base).
    void setFill(std::optional<Color> fill);
    std::optional<Color> fill() const { return fill_; }
    // Empty: no border.
    void setBorder(std::optional<Color> color, double width = 1);
    std::optional<Color> borderColor() const { return border_; }
    double borderWidth() const { return borderWidth_; }

    // Places `content` (reparented) on the card with `padding` around it.
    void setContent(QWidget* content, QMargins padding = {});
    QWidget* content() const { return content_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    // The fill when none is set.
    virtual QColor defaultFill() const;

private:
    double radius_ = 10;
    bool capsule_ = false;
    std::optional<Color> fill_;
    std::optional<Color> border_;
    double borderWidth_ = 1;
    QWidget* content_ = nullptr;
};

// A short text on a capsule (chips, badges). By default the theme's accent
// with the accent foreground colour for the text.
class Capsule : public Card {
public:
    explicit Capsule(const QString& text = {}, QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const;
    // Empty: the theme's accent foreground, or a colour that reads on the fill.
    void setTextColor(std::optional<Color> color);
    QLabel* label() const { return label_; }

protected:
    void changeEvent(QEvent* event) override;
    QColor defaultFill() const override;

private:
    void restyle();
    QLabel* label_;
    std::optional<Color> textColor_;
};

// A one-point separator line in the theme's separator colour, at `opacity`.
class Divider : public QWidget {
public:
    explicit Divider(QWidget* parent = nullptr, Qt::Orientation orientation = Qt::Horizontal);
    void setOpacity(double opacity);
    double opacity() const { return opacity_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Qt::Orientation orientation_;
    double opacity_ = 1;
};

}  // namespace platform::ui
