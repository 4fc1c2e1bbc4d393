#include "Parlowen/shell/views/WaveformBarView.h"

#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>

#include "Parlowen/shell/views/WaveformLayout.h"
#include "platform/ui/Animations.h"
#include "platform/ui/ThemeScope.h"

namespace parlowen {

WaveformBarView::WaveformBarView(std::vector<float> samples, platform::ui::Color accent, double spacing,
                                 double minHeight, QWidget* parent)
    : QWidget(parent),
      samples_(std::move(samples)),
      accent_(accent),
      spacing_(spacing),
      minHeight_(minHeight),
      animation_(new QVariantAnimation(this)) {
    setObjectName(QStringLiteral("waveform"));
    setAttribute(Qt::WA_TranslucentBackground);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    animation_->setStartValue(0.0);
    animation_->setEndValue(1.0);
    animation_->setDuration(80);
    animation_->setEasingCurve(QEasingCurve::OutCubic);
    connect(animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        progress_ = v.toDouble();
        update();
    });
}

void WaveformBarView::setSamples(std::vector<float> samples) {
    const bool ease = platform::ui::animationsEnabled() && isVisible() && samples.size() == samples_.size();
    from_ = ease ? shownSamples() : std::vector<float>{};
    samples_ = std::move(samples);
    animation_->stop();
    if (ease) {
        progress_ = 0;
        animation_->start();
    } else {
        progress_ = 1;
    }
    update();
}

void WaveformBarView::setAccent(platform::ui::Color accent) {
    accent_ = accent;
    update();
}

std::vector<float> WaveformBarView::shownSamples() const {
    if (progress_ >= 1 || from_.size() != samples_.size()) return samples_;
    std::vector<float> out(samples_.size());
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = from_[i] + static_cast<float>(progress_) * (samples_[i] - from_[i]);
    return out;
}

void WaveformBarView::paintEvent(QPaintEvent*) {
    const auto bars = waveformBars(shownSamples(), width(), height(), spacing_, minHeight_);
    if (bars.empty()) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(platform::ui::toQColor(accent_));
    for (const auto& bar : bars) {
        const QRectF r(bar.x, bar.y, bar.width, bar.height);
        const double radius = std::min(r.width(), r.height()) / 2;
        painter.drawRoundedRect(r, radius, radius);
    }
}

}  // namespace parlowen
