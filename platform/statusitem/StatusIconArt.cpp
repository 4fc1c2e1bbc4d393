#include "platform/statusitem/StatusIconArt.h"

#include <algorithm>

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>

#include "platform/ui/IconRegistry.h"

namespace platform {

StatusIconColors StatusIconColors::fromApplicationPalette() {
    StatusIconColors colors;
    colors.label = QGuiApplication::palette().color(QPalette::WindowText);
    colors.secondaryLabel = colors.label;
    colors.secondaryLabel.setAlphaF(0.5f);
    return colors;
}

void registerMenuBarIconArtwork() {
    auto& registry = ui::IconRegistry::shared();
    if (registry.hasPainter(kMenuBarIconName)) return;
    // A speech bubble with three bars of sound in it: any one-colour shape serves.
    registry.registerPainter(kMenuBarIconName, [](QPainter& p, const QRectF& b) {
        p.setRenderHint(QPainter::Antialiasing);
        const qreal w = b.width(), h = b.height();
        QPainterPath bubble;
        bubble.addRoundedRect(QRectF(b.left() + w * 0.06, b.top() + h * 0.10, w * 0.88, h * 0.66), w * 0.18, w * 0.18);
        QPainterPath tail;
        tail.moveTo(b.left() + w * 0.24, b.top() + h * 0.70);
        tail.lineTo(b.left() + w * 0.20, b.top() + h * 0.94);
        tail.lineTo(b.left() + w * 0.46, b.top() + h * 0.72);
        tail.closeSubpath();
        QPainterPath shape = bubble.united(tail);
        for (int i = 0; i < 3; ++i) {
            const qreal barHeight = h * (i == 1 ? 0.40 : 0.24);
            const qreal x = b.left() + w * (0.30 + 0.16 * i);
            QPainterPath bar;
            bar.addRoundedRect(QRectF(x, b.top() + h * 0.43 - barHeight / 2, w * 0.09, barHeight), w * 0.045,
                               w * 0.045);
            shape = shape.subtracted(bar);
        }
        p.fillPath(shape, Qt::black);
    });
}

QImage drawStatusIcon(const StatusIcon& icon, QSize size, const StatusIconColors& colors) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const QImage shape = ui::IconRegistry::shared().image(kMenuBarIconName, size);
    QPainter p(&image);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setRenderHint(QPainter::Antialiasing);

    QColor fill = colors.label;
    if (icon.image == StatusIconImage::permissionBadge) fill = colors.secondaryLabel;
    else if (icon.tint == StatusIconTint::red) fill = colors.red;
    else if (icon.tint == StatusIconTint::blue) fill = colors.blue;

    // The shape in one colour: the icon, then a fill that keeps only where it drew.
    const QRectF bounds(QPointF(0, 0), QSizeF(size));
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.drawImage(bounds, shape);
    p.setCompositionMode(QPainter::CompositionMode_SourceIn);
    p.fillRect(bounds, fill);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);

    const qreal w = bounds.width(), h = bounds.height();
    if (icon.image == StatusIconImage::updateBadge) {
        const qreal d = 0.34 * w;
        p.setPen(Qt::NoPen);
        p.setBrush(colors.orange);
        p.drawEllipse(QRectF(w - d, 0, d, d));  // top right
    } else if (icon.image == StatusIconImage::permissionBadge) {
        const qreal d = 0.42 * w;
        p.setPen(Qt::NoPen);
        p.setBrush(colors.red);
        p.drawEllipse(QRectF(w - d, h - d, d, d));  // bottom right
    }
    return image;
}

QImage fadedStatusIcon(const QImage& image, double alpha) {
    QImage out(image.size(), QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.setOpacity(std::clamp(alpha, 0.0, 1.0));
    p.drawImage(0, 0, image);
    return out;
}

}  // namespace platform
