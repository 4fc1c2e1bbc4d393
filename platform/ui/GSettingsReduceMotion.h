#pragma once

#include <memory>

#include "platform/runtime/Executor.h"
#include "platform/ui/ReduceMotion.h"

namespace platform::ui {

// Reduce motion from GSettings: on while the GNOME interface key
// "enable-animations" of "org.gnome.desktop.interface" is false; off where
// the schema (or the key) is not installed. Change notices arrive through
// GLib's default main context, which Qt's event loop runs on the main
// thread; they are handed to subscribers on `main`.
class GSettingsReduceMotion final : public ReduceMotion {
public:
    static constexpr const char* kSchema = "org.gnome.desktop.interface";
    static constexpr const char* kKey = "enable-animations";

    explicit GSettingsReduceMotion(Executor& main);
    ~GSettingsReduceMotion() override;
    GSettingsReduceMotion(const GSettingsReduceMotion&) = delete;
    GSettingsReduceMotion& operator=(const GSettingsReduceMotion&) = delete;

    bool isOn() const override { return value_.get(); }
    Stream<bool> stream() const override { return value_.stream(); }
    // Whether the schema was found (otherwise the value stays off).
    bool hasSchema() const;

private:
    struct Watch;
    Executor& main_;
    Observable<bool> value_{false};
    std::unique_ptr<Watch> watch_;
};

}  // namespace platform::ui
