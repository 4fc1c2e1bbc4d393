#include "Parlowen/listenlater/render/views/NowPlayingSymbols.h"

#include <algorithm>
#include <cmath>

#include <QPainter>
#include <QPainterPath>

#include "platform/ui/IconRegistry.h"

namespace parlowen {
namespace {

using platform::ui::IconRegistry;

double side(const QRectF& r) { return std::min(r.width(), r.height()); }

// A filled disc with `cutout` (in units of the disc's side, centred on 0) punched out.
void discWithCutout(QPainter& p, const QRectF& r, const QPainterPath& cutout) {
    const double s = side(r);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawEllipse(r.center(), s * 0.48, s * 0.48);
    p.save();
    p.translate(r.center());
    p.scale(s, s);
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.drawPath(cutout);
    p.restore();
}

void paintPlay(QPainter& p, const QRectF& r) {
    QPainterPath t;
    t.moveTo(-0.12, -0.2);
    t.lineTo(0.22, 0);
    t.lineTo(-0.12, 0.2);
    t.closeSubpath();
    discWithCutout(p, r, t);
}

void paintPause(QPainter& p, const QRectF& r) {
    QPainterPath bars;
    bars.addRoundedRect(QRectF(-0.15, -0.19, 0.1, 0.38), 0.03, 0.03);
    bars.addRoundedRect(QRectF(0.05, -0.19, 0.1, 0.38), 0.03, 0.03);
    discWithCutout(p, r, bars);
}

void paintClose(QPainter& p, const QRectF& r) {
    QPainterPath x;
    QPainterPathStroker stroker;
    stroker.setWidth(0.09);
    stroker.setCapStyle(Qt::RoundCap);
    QPainterPath lines;
    lines.moveTo(-0.15, -0.15);
    lines.lineTo(0.15, 0.15);
    lines.moveTo(0.15, -0.15);
    lines.lineTo(-0.15, 0.15);
    discWithCutout(p, r, stroker.createStroke(lines));
}

// A circular arrow around a number: counter-clockwise for back, clockwise for forward.
void paintSkip(QPainter& p, const QRectF& r, const QString& number, bool forward) {
    const double s = side(r);
    const QPointF c = r.center();
    const double radius = s * 0.4;
    const QRectF ring(c.x() - radius, c.y() - radius, 2 * radius, 2 * radius);
    p.setPen(QPen(Qt::black, std::max(1.0, s * 0.08), Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    // The arc leaves a gap at the top, where the arrowhead points into it.
    p.drawArc(ring, (forward ? 60 : 120) * 16, (forward ? -300 : 300) * 16);
    const double angle = (forward ? 60 : 120) * M_PI / 180;
    const QPointF tip(c.x() + radius * std::cos(angle), c.y() - radius * std::sin(angle));
    const double head = s * 0.16;
    const double dir = forward ? 1 : -1;
    QPainterPath arrow;
    arrow.moveTo(tip + QPointF(dir * head, 0));
    arrow.lineTo(tip + QPointF(-dir * head * 0.3, -head * 0.8));
    arrow.lineTo(tip + QPointF(-dir * head * 0.3, head * 0.8));
    arrow.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawPath(arrow);
    QFont font = p.font();
    font.setPixelSize(std::max(5, int(s * 0.34)));
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::black);
    p.drawText(ring, Qt::AlignCenter, number);
}

// Saves the painter and sets it to fill black in a unit square centred on 0.
void beginUnitFill(QPainter& p, const QRectF& r) {
    const double s = side(r);
    p.save();
    p.translate(r.center());
    p.scale(s, s);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
}

void paintTortoise(QPainter& p, const QRectF& r) {
    beginUnitFill(p, r);
    p.drawChord(QRectF(-0.38, -0.3, 0.66, 0.6), 0, 180 * 16);      // shell
    p.drawEllipse(QRectF(0.24, -0.12, 0.2, 0.16));                  // head
    p.drawRect(QRectF(-0.3, 0.0, 0.1, 0.16));                       // legs
    p.drawRect(QRectF(0.1, 0.0, 0.1, 0.16));
    p.restore();
}

void paintHare(QPainter& p, const QRectF& r) {
    beginUnitFill(p, r);
    p.drawEllipse(QRectF(-0.42, -0.08, 0.6, 0.36));   // body
    p.drawEllipse(QRectF(0.1, -0.2, 0.28, 0.24));     // head
    p.save();
    p.translate(0.22, -0.16);
    p.rotate(-20);
    p.drawEllipse(QRectF(-0.05, -0.3, 0.09, 0.32));   // ears
    p.drawEllipse(QRectF(0.06, -0.28, 0.09, 0.3));
    p.restore();
    p.restore();
}

}  // namespace

void ensureNowPlayingSymbols() {
    static const bool registered = [] {
        IconRegistry& icons = IconRegistry::shared();
        auto add = [&](const char* name, IconRegistry::Painter painter) {
            if (!icons.hasPainter(name)) icons.registerPainter(name, std::move(painter));
        };
        add("play.circle.fill", paintPlay);
        add("pause.circle.fill", paintPause);
        add("xmark.circle.fill", paintClose);
        add("gobackward.15", [](QPainter& p, const QRectF& r) { paintSkip(p, r, QStringLiteral("15"), false); });
        add("goforward.30", [](QPainter& p, const QRectF& r) { paintSkip(p, r, QStringLiteral("30"), true); });
        add("tortoise.fill", paintTortoise);
        add("hare.fill", paintHare);
        return true;
    }();
    (void)registered;
}

}  // namespace parlowen
