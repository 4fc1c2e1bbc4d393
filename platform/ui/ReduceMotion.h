#pragma once

// The desktop's "reduce motion" accessibility setting: while it is on, views
// leave out decorative movement (level meters, pulses). This is the user's
// setting, apart from the switch that turns animations off for tests
// (Animations.h). Main thread only; changes reach subscribers on the main
// executor.

#include "platform/runtime/Observable.h"

namespace platform::ui {

class ReduceMotion {
public:
    virtual ~ReduceMotion() = default;
    virtual bool isOn() const = 0;
    // The current value at once, then every change.
    virtual Stream<bool> stream() const = 0;
};

// Test double: a switch the test flips.
class ReduceMotionSwitch final : public ReduceMotion {
public:
    explicit ReduceMotionSwitch(bool on = false) : value_(on) {}
    bool isOn() const override { return value_.get(); }
    Stream<bool> stream() const override { return value_.stream(); }
    void set(bool on) { value_.set(on); }

private:
    Observable<bool> value_;
};

}  // namespace platform::ui
