#pragma once

#include <vector>

#include <QWidget>

#include "platform/ui/Color.h"

class QVariantAnimation;

namespace parlowen {

// A row of capsule bars showing recent microphone levels: one bar per
// sample, as a fraction of the view's height (see WaveformLayout.h). Changes
// of the samples ease out over 0.08 s when animations are on. Draws nothing
// without samples and no background of its own.
class WaveformBarView : public QWidget {
public:
    WaveformBarView(std::vector<float> samples, platform::ui::Color accent, double spacing, double minHeight,
                    QWidget* parent = nullptr);

    void setSamples(std::vector<float> samples);
    const std::vector<float>& samples() const { return samples_; }
    void setAccent(platform::ui::Color accent);
    platform::ui::Color accent() const { return accent_; }
    double spacing() const { return spacing_; }
    double minHeight() const { return minHeight_; }

    QSize sizeHint() const override { return {120, 22}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<float> shownSamples() const;

    std::vector<float> samples_;
    std::vector<float> from_;
    double progress_ = 1;
    platform::ui::Color accent_;
    double spacing_;
    double minHeight_;
    QVariantAnimation* animation_;
};

}  // namespace parlowen
