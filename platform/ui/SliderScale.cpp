#include "platform/ui/SliderScale.h"

#include <algorithm>
#include <cmath>

namespace platform::ui {

int SliderScale::position(double v) const {
    const double span = maximum - minimum;
    if (!(span > 0) || steps <= 0 || std::isnan(v)) return 0;
    const double t = std::clamp((v - minimum) / span, 0.0, 1.0);
    return static_cast<int>(std::lround(t * steps));
}

double SliderScale::value(int pos) const {
    if (steps <= 0) return minimum;
    pos = std::clamp(pos, 0, steps);
    if (pos == steps) return maximum;
    return minimum + (maximum - minimum) * (static_cast<double>(pos) / steps);
}

}  // namespace platform::ui
