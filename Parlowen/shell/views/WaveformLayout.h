#pragma once

#include <vector>

#include "platform/ui/Coordinates.h"

namespace parlowen {

// Where the bars of a waveform go in a view `width` x `height`: one bar per
// sample in a row, `spacing` apart, sharing the width equally, each
// vertically centred and max(minHeight, height x sample) high. Heights are
// not clamped (a sample above 1 gives a bar taller than the view); no
// samples, no bars.
std::vector<platform::ui::Rect> waveformBars(const std::vector<float>& samples, double width, double height,
                                             double spacing, double minHeight);

}  // namespace parlowen
