#pragma once

// The live-transcript panel: while a dictation records, a small floating
// panel at the top right of the screen shows what the recogniser has heard,
// the input level, a countdown to the session cap, a notice when partial
// results are blocked, and a microphone picker. Showing it never takes the
// focus from the application the user dictates into; its close button
// cancels the dictation. One instance lives as long as the application; the
// dictation coordinator drives it. Main thread only.
//
// The window itself is a LivePartialHUDPanel made by a factory (the Qt panel
// in views/LivePartialHUDPanel.h, a scripted one in tests), so everything
// here runs without widgets.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Parlowen/dictation/DictationPorts.h"
#include "Parlowen/dictation/LivePartialHUDModel.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Observable.h"
#include "platform/ui/Coordinates.h"

namespace platform::ui {
class Announcer;
}

namespace parlowen {

class PreferencesStore;

// What the panel needs of the window system.
class LivePartialHUDPanel {
public:
    virtual ~LivePartialHUDPanel() = default;
    // Width and height of the panel.
    virtual double width() const = 0;
    virtual double height() const = 0;
    // Moves the panel's top-left corner (top-left screen coordinates).
    virtual void setTopLeft(platform::ui::Point topLeft) = 0;
    // Puts the panel in front without making it key or activating the application.
    virtual void orderFrontRegardless() = 0;
    virtual void orderOut() = 0;
    virtual bool isVisible() const = 0;
    virtual bool isKeyWindow() const = 0;
    virtual bool applicationIsActive() const = 0;
    // The main screen's available area (top-left coordinates), if there is a screen.
    virtual std::optional<platform::ui::Rect> mainScreenVisibleFrame() const = 0;
};

class LivePartialHUD : public DictationHUD {
public:
    static constexpr double kScreenInset = 24;
    static constexpr double kWidth = 540;
    static constexpr double kHeight = 200;
    static constexpr const char* kListeningAnnouncement = "Quon is listening";

    using SelectionCallback = LivePartialHUDModel::SelectionCallback;

    // What a panel factory receives: the HUD (its model and preferences),
    // and the callback for the picker, which does nothing once the HUD is gone.
    using PanelFactory = std::function<std::unique_ptr<LivePartialHUDPanel>(LivePartialHUD& hud,
                                                                            SelectionCallback onSelectInputDevice)>;

    // Builds the model and the panel (hidden). Both callbacks start empty.
    LivePartialHUD(PreferencesStore& preferences, AudioDeviceCatalog& devices, platform::Executor& main,
                   platform::ui::Announcer& announcer, const PanelFactory& makePanel);
    ~LivePartialHUD() override;
    LivePartialHUD(const LivePartialHUD&) = delete;
    LivePartialHUD& operator=(const LivePartialHUD&) = delete;

    // Installed by the application coordinator: the user picked a microphone
    // in the panel (no UID = system default); the user closed the panel.
    std::function<void(const std::optional<std::string>&)> onSelectInputDevice;
    std::function<void()> onCancel;

    // A recording starts: returns at once; on a later turn of the main
    // executor the session state is reset, the device fields refreshed, the
    // panel placed at the top right and brought to the front, and "Quon is
    // listening" announced.
    void show(std::string engineName) override;
    void updatePartial(std::string partial) override;
    void pushAmplitude(float level) override;
    void showThrottleNotice(std::string_view appName) override;
    void setSessionRemainingSeconds(std::optional<int> seconds) override;
    // Orders the panel out and clears the session state; harmless when hidden.
    void hide() override;
    // The panel's close button: answers yes at once (the panel orders itself
    // out); on a later turn logs and calls `onCancel`. The model is kept.
    bool windowShouldClose();

    LivePartialHUDModel& model() { return model_; }
    const LivePartialHUDModel& model() const { return model_; }
    PreferencesStore& preferences() const { return preferences_; }
    LivePartialHUDPanel& panel() const { return *panel_; }

private:
    void performShow(std::string engineName);
    void refreshInputDevices();

    PreferencesStore& preferences_;
    AudioDeviceCatalog& devices_;
    platform::Executor& main_;
    platform::ui::Announcer& announcer_;
    LivePartialHUDModel model_;
    std::unique_ptr<LivePartialHUDPanel> panel_;
    platform::Lifetime lifetime_;
};

}  // namespace parlowen
