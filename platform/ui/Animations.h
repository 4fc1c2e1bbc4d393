#pragma once

namespace platform::ui {

// One switch for every animation of the user interface (cross-fades,
// waveform easing, panel fades). Tests turn it off so that what they check
// is on screen at once; it is on by default.
void setAnimationsEnabled(bool enabled);
bool animationsEnabled();

// Turns animations off for its lifetime (tests).
class AnimationsOff {
public:
    AnimationsOff();
    ~AnimationsOff();
    AnimationsOff(const AnimationsOff&) = delete;
    AnimationsOff& operator=(const AnimationsOff&) = delete;

private:
    bool previous_;
};

}  // namespace platform::ui
