#include "platform/ui/FloatSlider.h"

#include <algorithm>

#include <QHBoxLayout>
#include <QSlider>

namespace platform::ui {

FloatSlider::FloatSlider(double minimum, double maximum, QWidget* parent)
    : QWidget(parent), slider_(new QSlider(Qt::Horizontal)) {
    setObjectName(QStringLiteral("floatSlider"));
    slider_->setObjectName(QStringLiteral("slider"));
    auto* box = new QHBoxLayout(this);
    box->setContentsMargins(0, 0, 0, 0);
    box->addWidget(slider_);
    scale_ = SliderScale{minimum, maximum, 1000};
    slider_->setRange(0, scale_.steps);
    slider_->setSingleStep(10);
    slider_->setPageStep(100);
    value_ = minimum;
    connect(slider_, &QSlider::valueChanged, this, [this](int p) { handleMoved(p); });
}

void FloatSlider::setRange(double minimum, double maximum) {
    scale_.minimum = minimum;
    scale_.maximum = maximum;
    setValue(value_);
}

void FloatSlider::setValue(double value) {
    value_ = std::clamp(value, std::min(scale_.minimum, scale_.maximum), std::max(scale_.minimum, scale_.maximum));
    updating_ = true;
    slider_->setValue(scale_.position(value_));
    updating_ = false;
}

void FloatSlider::moveTo(int position) { slider_->setValue(position); }

void FloatSlider::handleMoved(int position) {
    if (updating_) return;
    value_ = scale_.value(position);
    emit valueEdited(value_);
}

}  // namespace platform::ui
