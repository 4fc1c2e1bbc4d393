#pragma once

// The live-transcript panel's window on Qt: a floating panel (above other
// windows, never taking the focus) of 540 x 200 with the content filling it.

#include <memory>

#include "Parlowen/dictation/LivePartialHUD.h"

class QObject;

namespace platform::ui {
class FloatingPanel;
class ReduceMotion;
}  // namespace platform::ui

namespace parlowen {

class LivePartialHUDContent;

class LivePartialHUDWindow final : public LivePartialHUDPanel {
public:
    LivePartialHUDWindow(LivePartialHUD& hud, LivePartialHUD::SelectionCallback onSelectInputDevice,
                         platform::ui::ReduceMotion& reduceMotion);
    ~LivePartialHUDWindow() override;

    double width() const override;
    double height() const override;
    void setTopLeft(platform::ui::Point topLeft) override;
    void orderFrontRegardless() override;
    void orderOut() override;
    bool isVisible() const override;
    bool isKeyWindow() const override;
    bool applicationIsActive() const override;
    std::optional<platform::ui::Rect> mainScreenVisibleFrame() const override;

    platform::ui::FloatingPanel& panel() const { return *panel_; }
    LivePartialHUDContent& content() const { return *content_; }
    // The close button's path (also the window manager's close request).
    void close();

private:
    class CloseFilter;
    LivePartialHUD& hud_;
    std::unique_ptr<platform::ui::FloatingPanel> panel_;
    LivePartialHUDContent* content_;
    CloseFilter* closeFilter_;
};

// The factory that gives a LivePartialHUD its Qt window. `reduceMotion`
// must outlive the HUD.
LivePartialHUD::PanelFactory qtLivePartialHUDPanel(platform::ui::ReduceMotion& reduceMotion);

// The Qt window of a HUD made with that factory.
LivePartialHUDWindow& qtWindowOf(LivePartialHUD& hud);

}  // namespace parlowen
