#pragma once

#include <QImage>
#include <QWidget>

#include "Parlowen/brand/QuonKind.h"

namespace parlowen {

// The mascot in one pose, fitted whole into a square of `size` points, with
// a soft drop shadow, on an amber glow. The hero takes exactly size x size in
// its layout; the glow (1.4 x size across, blurred) and the shadow spill
// past that square without moving its neighbours.
class QuonHero : public QWidget {
public:
    QuonHero(QuonKind kind, double size, QWidget* parent = nullptr);

    QuonKind kind() const { return kind_; }
    double heroSize() const { return size_; }
    // How far the glow can reach past each side of the square.
    double glowReach() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    friend class HeroGlowEffect;
    void prepare(qreal dpr) const;

    QuonKind kind_;
    double size_;
    mutable qreal preparedDpr_ = 0;
    mutable QImage image_;
    mutable QImage shadow_;
    mutable QImage glow_;
};

}  // namespace parlowen
