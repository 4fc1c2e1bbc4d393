#include "platform/ui/Buttons.h"

#include <QPainter>
#include <QPainterPath>

#include "platform/ui/Fonts.h"
#include "platform/ui/ThemeScope.h"

namespace platform::ui {
namespace {

constexpr Color kDestructive = Color::rgb8(0xD9, 0x4F, 0x3D);

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
    const QFontMetrics fm(font());
    int width = fm.horizontalAdvance(text()) + 2 * m.padding;
    if (!icon().isNull()) width += iconSize().width() + (text().isEmpty() ? 0 : 6);
    return {std::max(width, m.height), m.height};
}

QSize PushButton::minimumSizeHint() const { return sizeHint(); }

void PushButton::paintEvent(QPaintEvent*) {
    const Palette theme = ThemeScope::resolve(this);
    const Color tint = destructive_ ? kDestructive : tint_.value_or(theme.accent);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) painter.setOpacity(0.45);

    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const double radius = std::min(7.0, r.height() / 2);
    const bool pressed = isDown();
    QColor textColor;

    switch (style_) {
        case ButtonStyle::borderedProminent: {
            QColor fill = toQColor(tint);
            if (pressed) fill = fill.darker(115);
            QPainterPath path;
            path.addRoundedRect(r, radius, radius);
            painter.fillPath(path, fill);
            textColor = toQColor(destructive_ ? Color::white() : theme.accentForeground);
            break;
        }
        case ButtonStyle::bordered: {
            QColor fill = palette().color(QPalette::Button);
            if (pressed) fill = fill.darker(110);
            QPainterPath path;
            path.addRoundedRect(r, radius, radius);
            painter.fillPath(path, fill);
            painter.setPen(QPen(toQColor(theme.primaryText.opacity(0.14)), 1));
            painter.drawPath(path);
            textColor = destructive_ ? toQColor(kDestructive) : toQColor(theme.primaryText);
            break;
        }
        case ButtonStyle::plain:
            textColor = toQColor(pressed ? tint.opacity(0.7) : tint);
            break;
    }
    if (hasFocus() && style_ != ButtonStyle::plain) {
        painter.setPen(QPen(toQColor(theme.accent.opacity(0.6)), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(r.adjusted(1, 1, -1, -1), radius - 1, radius - 1);
    }

    QRectF content = r;
    if (!icon().isNull()) {
        const QSize is = iconSize();
        const QFontMetrics fm(font());
        const double total = is.width() + (text().isEmpty() ? 0 : 6 + fm.horizontalAdvance(text()));
        const double x = r.center().x() - total / 2;
        const QRectF iconRect(x, r.center().y() - is.height() / 2.0, is.width(), is.height());
        icon().paint(&painter, iconRect.toRect());
        content.setLeft(iconRect.right() + 6);
        painter.setPen(textColor);
        painter.drawText(content, Qt::AlignLeft | Qt::AlignVCenter, text());
        return;
    }
    painter.setPen(textColor);
    painter.drawText(content, Qt::AlignCenter, text());
}

}  // namespace platform::ui
