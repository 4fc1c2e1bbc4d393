#include "Parlowen/dictation/views/DictationSymbols.h"

#include <algorithm>

#include <QPainter>
#include <QPainterPath>

#include "platform/ui/IconRegistry.h"

namespace parlowen {
namespace {

// A square of side `s` centred in `r`.
QRectF square(const QRectF& r) {
    const double s = std::min(r.width(), r.height());
    return {r.center().x() - s / 2, r.center().y() - s / 2, s, s};
}

// Round-capped strokes `width` wide, nothing filled.
void strokeWith(QPainter& p, double width) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
}

// Symbols are drawn in black and tinted afterwards.
void fillWith(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
}

void paintMicrophone(QPainter& p, const QRectF& bounds) {
    const QRectF r = square(bounds);
    const double s = r.width();
    fillWith(p);
    // The capsule of the microphone.
    p.drawRoundedRect(QRectF(r.left() + s * 0.34, r.top() + s * 0.04, s * 0.32, s * 0.56), s * 0.16, s * 0.16);
    // Its cradle and stand.
    strokeWith(p, s * 0.08);
    QPainterPath cradle;
    cradle.moveTo(r.left() + s * 0.22, r.top() + s * 0.42);
    cradle.cubicTo(r.left() + s * 0.22, r.top() + s * 0.86, r.left() + s * 0.78, r.top() + s * 0.86,
                   r.left() + s * 0.78, r.top() + s * 0.42);
    p.drawPath(cradle);
    p.drawLine(QPointF(r.center().x(), r.top() + s * 0.76), QPointF(r.center().x(), r.top() + s * 0.94));
}

void paintHeadphones(QPainter& p, const QRectF& bounds) {
    const QRectF r = square(bounds);
    const double s = r.width();
    strokeWith(p, s * 0.09);
    p.drawArc(QRectF(r.left() + s * 0.12, r.top() + s * 0.1, s * 0.76, s * 0.76), 0, 180 * 16);
    p.drawLine(QPointF(r.left() + s * 0.12, r.top() + s * 0.48), QPointF(r.left() + s * 0.12, r.top() + s * 0.7));
    p.drawLine(QPointF(r.right() - s * 0.12, r.top() + s * 0.48), QPointF(r.right() - s * 0.12, r.top() + s * 0.7));
    fillWith(p);
    p.drawRoundedRect(QRectF(r.left() + s * 0.08, r.top() + s * 0.52, s * 0.22, s * 0.38), s * 0.07, s * 0.07);
    p.drawRoundedRect(QRectF(r.right() - s * 0.30, r.top() + s * 0.52, s * 0.22, s * 0.38), s * 0.07, s * 0.07);
}

void paintTimer(QPainter& p, const QRectF& bounds) {
    const QRectF r = square(bounds);
    const double s = r.width();
    strokeWith(p, s * 0.09);
    const QRectF dial(r.left() + s * 0.1, r.top() + s * 0.1, s * 0.8, s * 0.8);
    // An open dial (a gap at the top) with a hand from the centre.
    p.drawArc(dial, 100 * 16, 340 * 16);
    p.drawLine(dial.center(), QPointF(dial.center().x() - s * 0.14, dial.center().y() - s * 0.2));
    p.drawLine(QPointF(dial.center().x(), r.top() + s * 0.1), QPointF(dial.center().x(), r.top() + s * 0.26));
}

void paintInfoCircle(QPainter& p, const QRectF& bounds) {
    const QRectF r = square(bounds);
    const double s = r.width();
    fillWith(p);
    p.drawEllipse(r);
    // The "i" is cut out, so the tint fills only the circle around it.
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.drawEllipse(QPointF(r.center().x(), r.top() + s * 0.28), s * 0.07, s * 0.07);
    p.drawRoundedRect(QRectF(r.center().x() - s * 0.06, r.top() + s * 0.42, s * 0.12, s * 0.36), s * 0.04, s * 0.04);
}

}  // namespace

void ensureDictationSymbols() {
    auto& icons = platform::ui::IconRegistry::shared();
    const std::pair<const char*, void (*)(QPainter&, const QRectF&)> symbols[] = {
        {"mic.fill", paintMicrophone},
        {"headphones", paintHeadphones},
        {"timer", paintTimer},
        {"info.circle.fill", paintInfoCircle},
    };
    for (const auto& [name, paint] : symbols)
        if (!icons.hasPainter(name)) icons.registerPainter(name, paint);
}

QPixmap dictationSymbol(const std::string& name, int side, const QColor& tint, qreal devicePixelRatio) {
    ensureDictationSymbols();
    return platform::ui::IconRegistry::shared().templatePixmap(name, {side, side}, tint, devicePixelRatio);
}

}  // namespace parlowen
