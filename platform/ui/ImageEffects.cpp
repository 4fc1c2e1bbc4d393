#include "platform/ui/ImageEffects.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <QPainter>

namespace platform::ui {
namespace {

// One running-sum box pass over rows (horizontal) or columns, on
// premultiplied ARGB, edges clamped.
void boxPass(QImage& img, int r, bool horizontal) {
    const int w = img.width(), h = img.height();
    const int lines = horizontal ? h : w, length = horizontal ? w : h;
    std::vector<std::uint32_t> line(static_cast<std::size_t>(length));
    const int window = 2 * r + 1;
    for (int l = 0; l < lines; ++l) {
        auto at = [&](int i) -> QRgb& {
            const int x = horizontal ? i : l, y = horizontal ? l : i;
            return reinterpret_cast<QRgb*>(img.scanLine(y))[x];
        };
        for (int i = 0; i < length; ++i) line[static_cast<std::size_t>(i)] = at(i);
        auto px = [&](int i) { return line[static_cast<std::size_t>(std::clamp(i, 0, length - 1))]; };
        int sum[4] = {0, 0, 0, 0};
        for (int i = -r; i <= r; ++i) {
            const QRgb p = px(i);
            sum[0] += qAlpha(p), sum[1] += qRed(p), sum[2] += qGreen(p), sum[3] += qBlue(p);
        }
        for (int i = 0; i < length; ++i) {
            at(i) = qRgba(sum[1] / window, sum[2] / window, sum[3] / window, sum[0] / window);
            const QRgb out = px(i - r), in = px(i + r + 1);
            sum[0] += qAlpha(in) - qAlpha(out);
            sum[1] += qRed(in) - qRed(out);
            sum[2] += qGreen(in) - qGreen(out);
            sum[3] += qBlue(in) - qBlue(out);
        }
    }
}

}  // namespace

QImage blurred(const QImage& image, double radius) {
    QImage out = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const double sigma = radius / 2 * image.devicePixelRatio();
    if (sigma < 0.5 || out.isNull()) return out;
    // Three boxes of width w give variance 3 (w^2 - 1) / 12.
    const int r = std::max(1, static_cast<int>(std::lround((std::sqrt(4 * sigma * sigma + 1) - 1) / 2)));
    for (int pass = 0; pass < 3; ++pass) {
        boxPass(out, r, true);
        boxPass(out, r, false);
    }
    return out;
}

QImage tinted(const QImage& image, const QColor& color) {
    QImage out = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter p(&out);
    p.setCompositionMode(QPainter::CompositionMode_SourceIn);
    p.fillRect(QRectF(QPointF(0, 0), QSizeF(out.size()) / out.devicePixelRatio()), color);
    return out;
}

}  // namespace platform::ui
