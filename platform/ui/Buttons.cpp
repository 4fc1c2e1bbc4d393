#include "platform/ui/Buttons.h"

#include <QPainter>
#include <QPainterPath>

#include "platform/ui/Fonts.h"
#include "platform/ui/ThemeScope.h"

namespace platform::ui {
namespace {

constexpr Color kDestructive = Color::rgb8(0xD9, 0x4F, 0x3D);
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

void PushButton::paintEvent(QPaintEvent*) {
    const Palette theme = ThemeScope::resolve(this);
    const Color tint = destructive_ ? kDestructive : tint_.value_or(theme.accent);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) painter.setOpacity(0.45);

    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const double radius = std::min(7.0, r.height() / 2);
    const bool pressed = isDown();
    QPainterPath path;
    path.addRoundedRect(r, radius, radius);
    QColor textColor;

    switch (style_) {
        case ButtonStyle::borderedProminent: {
            QColor fill = toQColor(tint);
            if (pressed) fill = fill.darker(115);
            painter.fillPath(path, fill);
            textColor = toQColor(destructive_ ? Color::white() : theme.accentForeground);
            break;
        }
        case ButtonStyle::bordered: {
            QColor fill = palette().color(QPalette::Button);
            if (pressed) fill = fill.darker(110);
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
