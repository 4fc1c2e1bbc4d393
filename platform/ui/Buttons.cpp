#include "platform/ui/Buttons.h"

#include <QPainter>
#include <QPainterPath>

#include "platform/ui/Contrast.h"
#include "platform/ui/Fonts.h"
#include "platform/ui/ThemeScope.h"

namespace platform::ui {
namespace {

// Between an icon and the text after it.
constexpr int kIconSpacing = 6;

struct Metrics {
    int height;
    int padding;
    double fontSize;
};

Metrics metrics(ControlSize size) {
    switch (size) {
        case ControlSize::small: return {22, 8, 11};
        case ControlSize::regular: return {28, 12, 13};
        case ControlSize::large: return {34, 16, 13};
    }
    return {28, 12, 13};
}

}  // namespace

PushButton::PushButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    setCursor(Qt::PointingHandCursor);
    applyFont();
}

PushButton::PushButton(const QString& text, ButtonStyle style, ControlSize size, QWidget* parent)
    : PushButton(text, parent) {
    style_ = style;
    size_ = size;
    applyFont();
}

void PushButton::setButtonStyle(ButtonStyle style) {
    style_ = style;
    applyFont();
    update();
}

void PushButton::setControlSize(ControlSize size) {
    size_ = size;
    applyFont();
    updateGeometry();
    update();
}

void PushButton::setTint(std::optional<Color> tint) {
    tint_ = tint;
    update();
}

void PushButton::setDestructive(bool destructive) {
    destructive_ = destructive;
    update();
}

void PushButton::applyFont() {
    const Metrics m = metrics(size_);
    setFont(systemFont(m.fontSize, style_ == ButtonStyle::borderedProminent ? QFont::DemiBold : QFont::Normal));
}

QSize PushButton::sizeHint() const {
    const Metrics m = metrics(size_);
    return {std::max(contentWidth() + 2 * m.padding, m.height), m.height};
}

int PushButton::contentWidth() const {
    int width = QFontMetrics(font()).horizontalAdvance(text());
    if (!icon().isNull()) width += iconSize().width() + (text().isEmpty() ? 0 : kIconSpacing);
    return width;
}

QSize PushButton::minimumSizeHint() const { return sizeHint(); }

Color PushButton::fillColor(const Palette& theme) const {
    const SystemColors system = systemColors(theme);
    switch (style_) {
        case ButtonStyle::borderedProminent:
            // White text on the theme's red, darkened until the text reads.
            if (destructive_) return readableOn(system.red, {Color::white()});
            return tint_.value_or(theme.accent);
        case ButtonStyle::bordered: return fromQColor(palette().color(QPalette::Button));
        case ButtonStyle::plain: return theme.surfaceBackground;
    }
    return theme.surfaceBackground;
}

Color PushButton::textColorIn(const Palette& theme) const {
    const SystemColors system = systemColors(theme);
    switch (style_) {
        case ButtonStyle::borderedProminent:
            return destructive_ ? Color::white() : foregroundOn(theme, fillColor(theme));
        case ButtonStyle::bordered:
            return destructive_ ? readableOn(system.red, {fillColor(theme)}) : theme.primaryText;
        case ButtonStyle::plain:
            if (destructive_) return system.red;
            return tint_ ? readableOn(*tint_, surfaces(theme)) : system.accentText;
    }
    return theme.primaryText;
}

QColor PushButton::textColor() const { return toQColor(textColorIn(ThemeScope::resolve(this))); }

void PushButton::paintEvent(QPaintEvent*) {
    const Palette theme = ThemeScope::resolve(this);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) painter.setOpacity(0.45);

    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const double radius = std::min(7.0, r.height() / 2);
    const bool pressed = isDown();
    QPainterPath path;
    path.addRoundedRect(r, radius, radius);
    QColor textColor = toQColor(textColorIn(theme));

    switch (style_) {
        case ButtonStyle::borderedProminent: {
            QColor fill = toQColor(fillColor(theme));
            if (pressed) fill = fill.darker(115);
            painter.fillPath(path, fill);
            break;
        }
        case ButtonStyle::bordered: {
            QColor fill = toQColor(fillColor(theme));
            if (pressed) fill = fill.darker(110);
            painter.fillPath(path, fill);
            painter.setPen(QPen(toQColor(theme.primaryText.opacity(0.14)), 1));
            painter.drawPath(path);
            break;
        }
        case ButtonStyle::plain:
            if (pressed) textColor.setAlphaF(0.7f);
            break;
    }
    if (hasFocus() && style_ != ButtonStyle::plain) {
        painter.setPen(QPen(toQColor(systemColors(theme).focusRing), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(r.adjusted(1, 1, -1, -1), radius - 1, radius - 1);
    }

    QRectF content = r;
    Qt::Alignment alignment = Qt::AlignCenter;
    if (!icon().isNull()) {
        // Icon and text are centred together.
        const QSize is = iconSize();
        const double x = r.center().x() - contentWidth() / 2.0;
        const QRectF iconRect(x, r.center().y() - is.height() / 2.0, is.width(), is.height());
        icon().paint(&painter, iconRect.toRect());
        content.setLeft(iconRect.right() + kIconSpacing);
        alignment = Qt::AlignLeft | Qt::AlignVCenter;
    }
    painter.setPen(textColor);
    painter.drawText(content, alignment, text());
}

}  // namespace platform::ui
