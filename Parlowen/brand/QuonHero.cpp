#include "Parlowen/brand/QuonHero.h"

#include <cmath>

#include <QGraphicsEffect>
#include <QPainter>

#include "Parlowen/brand/BrandColors.h"
#include "Parlowen/brand/MascotArtwork.h"
#include "platform/ui/ImageEffects.h"
#include "platform/ui/ThemeScope.h"

namespace parlowen {

using platform::ui::toQColor;

namespace {
constexpr double kGlowBlur = 22;      // blur radius of the glow
constexpr double kShadowBlur = 12;    // blur radius of the drop shadow
constexpr double kShadowOffsetY = 6;  // the drop shadow falls this far down
// A blur of radius r spreads about 1.5 r (three standard deviations of r / 2).
constexpr double spread(double radius) { return std::ceil(radius * 1.5); }
}  // namespace

// Draws the glow and the shadow around the hero, outside its own rectangle
// where they reach, then the hero itself.
class HeroGlowEffect : public QGraphicsEffect {
public:
    explicit HeroGlowEffect(QuonHero* hero) : QGraphicsEffect(hero), hero_(hero) {}

    QRectF boundingRectFor(const QRectF& rect) const override {
        const double m = hero_->glowReach();
        return rect.adjusted(-m, -m, m, m);
    }

protected:
    void draw(QPainter* painter) override {
        const QRectF source = sourceBoundingRect(Qt::LogicalCoordinates);
        hero_->prepare(painter->device() ? painter->device()->devicePixelRatioF() : 1);
        const QPointF centre = source.center();
        const QSizeF glowSize = QSizeF(hero_->glow_.size()) / hero_->glow_.devicePixelRatio();
        painter->drawImage(QRectF(centre - QPointF(glowSize.width() / 2, glowSize.height() / 2), glowSize), hero_->glow_);
        const QSizeF shadowSize = QSizeF(hero_->shadow_.size()) / hero_->shadow_.devicePixelRatio();
        painter->drawImage(QRectF(centre - QPointF(shadowSize.width() / 2, shadowSize.height() / 2 - kShadowOffsetY),
                                  shadowSize),
                           hero_->shadow_);
        drawSource(painter);
    }

private:
    QuonHero* hero_;
};

QuonHero::QuonHero(QuonKind kind, double size, QWidget* parent) : QWidget(parent), kind_(kind), size_(size) {
    setObjectName(QStringLiteral("quonHero"));
    setFixedSize(sizeHint());
    setAccessibleName(QString::fromUtf8(assetName(kind).data(), qsizetype(assetName(kind).size())));
    setGraphicsEffect(new HeroGlowEffect(this));
}

double QuonHero::glowReach() const { return 0.2 * size_ + spread(kGlowBlur); }

QSize QuonHero::sizeHint() const {
    const int side = static_cast<int>(std::lround(size_));
    return {side, side};
}

void QuonHero::prepare(qreal dpr) const {
    if (dpr <= 0) dpr = 1;
    if (preparedDpr_ == dpr && !image_.isNull()) return;
    preparedDpr_ = dpr;
    const int side = std::max(1, static_cast<int>(std::lround(size_)));
    image_ = mascotPixmap(kind_, {side, side}, dpr).toImage();

    // Shadow: the picture's shape in ink at 0.18, blurred, with room to spread.
    const int pad = static_cast<int>(spread(kShadowBlur));
    QImage canvas(QSize(side + 2 * pad, side + 2 * pad) * dpr, QImage::Format_ARGB32_Premultiplied);
    canvas.setDevicePixelRatio(dpr);
    canvas.fill(Qt::transparent);
    {
        QPainter p(&canvas);
        p.drawImage(QPointF(pad, pad), platform::ui::tinted(image_, toQColor(brandInk().opacity(0.18))));
    }
    shadow_ = platform::ui::blurred(canvas, kShadowBlur);

    // Glow: a circle 1.4 x size across, filled with a radial gradient from
    // amber at 0.28 (radius 8) to amber at 0 (radius 0.75 x size), blurred.
    const double diameter = 1.4 * size_;
    const double margin = spread(kGlowBlur);
    const int glowSide = static_cast<int>(std::ceil(diameter + 2 * margin));
    QImage glow(QSize(glowSide, glowSide) * dpr, QImage::Format_ARGB32_Premultiplied);
    glow.setDevicePixelRatio(dpr);
    glow.fill(Qt::transparent);
    {
        QPainter p(&glow);
        p.setRenderHint(QPainter::Antialiasing);
        const QPointF c(glowSide / 2.0, glowSide / 2.0);
        const double outer = 0.75 * size_;
        QRadialGradient gradient(c, outer);
        gradient.setColorAt(0, toQColor(brandAmber().opacity(0.28)));
        gradient.setColorAt(std::clamp(8.0 / outer, 0.0, 1.0), toQColor(brandAmber().opacity(0.28)));
        gradient.setColorAt(1, toQColor(brandAmber().opacity(0)));
        p.setPen(Qt::NoPen);
        p.setBrush(gradient);
        p.drawEllipse(c, diameter / 2, diameter / 2);
    }
    glow_ = platform::ui::blurred(glow, kGlowBlur);
}

void QuonHero::paintEvent(QPaintEvent*) {
    prepare(devicePixelRatioF());
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(QRectF(QPointF(0, 0), QSizeF(size_, size_)), image_);
}

}  // namespace parlowen
