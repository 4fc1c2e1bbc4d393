#pragma once

namespace platform::ui {

// Maps a continuous closed range onto the integer positions of a slider
// control (`steps` + 1 positions, both ends included).
struct SliderScale {
    double minimum = 0;
    double maximum = 1;
    int steps = 1000;

    // Nearest position of `value`; values outside the range go to its ends.
    int position(double value) const;
    // The value at `position` (clamped to 0...steps); the ends are exact.
    double value(int position) const;
};

}  // namespace platform::ui
