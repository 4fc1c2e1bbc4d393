#include "platform/ui/Surfaces.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QVBoxLayout>

#include "platform/ui/Fonts.h"
#include "platform/ui/ThemeScope.h"

namespace platform::ui {

// ---- ThemedBackground --------------------------------------------------------

ThemedBackground::ThemedBackground(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("themedBackground"));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ThemedBackground::paintEvent(QPaintEvent*) {
    const Palette p = ThemeScope::resolve(this);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF r = rect();

    QLinearGradient base(r.topLeft(), r.bottomLeft());
    base.setColorAt(0, toQColor(p.dimSurface));
    base.setColorAt(1, toQColor(p.surfaceBackground));
    painter.fillRect(r, base);

    // Radial glow: accent at 0.18 at radius 20, fading to 0 at radius 320,
    // centred at unit point (0.5, -0.05).
    const QPointF centre(r.width() * 0.5, r.height() * -0.05);
    constexpr double start = 20, end = 320;
    QRadialGradient glow(centre, end);
    glow.setColorAt(0, toQColor(p.accent.opacity(0.18)));
    glow.setColorAt(start / end, toQColor(p.accent.opacity(0.18)));
    glow.setColorAt(1, toQColor(p.accent.opacity(0)));
    painter.fillRect(r, glow);
}

// ---- Card --------------------------------------------------------------------

Card::Card(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_TranslucentBackground, false); }

void Card::setCornerRadius(double radius) {
    radius_ = radius;
    update();
}

void Card::setCapsule(bool capsule) {
    capsule_ = capsule;
    update();
}

void Card::setFill(std::optional<Color> fill) {
    fill_ = fill;
    update();
}

void Card::setBorder(std::optional<Color> color, double width) {
    border_ = color;
    borderWidth_ = width;
    update();
}

void Card::setContent(QWidget* content, QMargins padding) {
    auto* box = qobject_cast<QVBoxLayout*>(layout());
    if (!box) {
        box = new QVBoxLayout(this);
        box->setSpacing(0);
    }
    box->setContentsMargins(padding);
    if (content_) {
        box->removeWidget(content_);
        content_->deleteLater();
    }
    content_ = content;
    if (content_) box->addWidget(content_);
}

void Card::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect());
    const double radius = capsule_ ? std::min(r.width(), r.height()) * 0.5 : radius_;

    QPainterPath shape;
    shape.addRoundedRect(r, radius, radius);
    const QColor fill = fill_ ? toQColor(*fill_) : defaultFill();
    painter.fillPath(shape, fill);

    if (border_ && borderWidth_ > 0) {
        // Inside the edge: inset by half the line width.
        const double half = borderWidth_ * 0.5;
        const QRectF inner = r.adjusted(half, half, -half, -half);
        const double innerRadius = std::max(0.0, radius - half);
        QPen pen(toQColor(*border_), borderWidth_);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(inner, innerRadius, innerRadius);
    }
}

QColor Card::defaultFill() const { return palette().color(QPalette::Base); }

// ---- Capsule -----------------------------------------------------------------

Capsule::Capsule(const QString& text, QWidget* parent) : Card(parent), label_(new QLabel(text)) {
    setObjectName(QStringLiteral("capsule"));
    label_->setObjectName(QStringLiteral("text"));
    label_->setFont(systemFont(TextStyle::caption, QFont::Medium));
    label_->setAlignment(Qt::AlignCenter);
    setCapsule(true);
    setContent(label_, QMargins(10, 4, 10, 4));
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    restyle();
}

void Capsule::setText(const QString& text) { label_->setText(text); }
QString Capsule::text() const { return label_->text(); }

void Capsule::setTextColor(std::optional<Color> color) {
    textColor_ = color;
    restyle();
}

void Capsule::changeEvent(QEvent* event) {
    Card::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ParentChange) restyle();
}

QColor Capsule::defaultFill() const { return toQColor(ThemeScope::resolve(this).accent); }

void Capsule::restyle() {
    QPalette pal = label_->palette();
    const Palette theme = ThemeScope::resolve(this);
    pal.setColor(QPalette::WindowText, toQColor(textColor_.value_or(foregroundOn(theme, fill().value_or(fromQColor(defaultFill()))))));
    label_->setPalette(pal);
}

// ---- Divider -----------------------------------------------------------------

Divider::Divider(QWidget* parent, Qt::Orientation orientation) : QWidget(parent), orientation_(orientation) {
    setObjectName(QStringLiteral("divider"));
    if (orientation_ == Qt::Horizontal)
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    else
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
}

void Divider::setOpacity(double opacity) {
    opacity_ = opacity;
    update();
}

QSize Divider::sizeHint() const { return orientation_ == Qt::Horizontal ? QSize(20, 1) : QSize(1, 20); }

void Divider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const Palette theme = ThemeScope::resolve(this);
    painter.fillRect(rect(), toQColor(systemColors(theme).separator.opacity(opacity_)));
}

}  // namespace platform::ui
