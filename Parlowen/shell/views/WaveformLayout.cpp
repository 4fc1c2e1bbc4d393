#include "Parlowen/shell/views/WaveformLayout.h"

#include <algorithm>

namespace parlowen {

std::vector<platform::ui::Rect> waveformBars(const std::vector<float>& samples, double width, double height,
                                             double spacing, double minHeight) {
    std::vector<platform::ui::Rect> bars;
    if (samples.empty()) return bars;
    const auto n = static_cast<double>(samples.size());
    const double barWidth = std::max(0.0, (width - spacing * (n - 1)) / n);
    bars.reserve(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double h = std::max(minHeight, height * static_cast<double>(samples[i]));
        bars.push_back({static_cast<double>(i) * (barWidth + spacing), (height - h) / 2, barWidth, h});
    }
    return bars;
}

}  // namespace parlowen
