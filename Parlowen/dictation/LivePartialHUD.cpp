#include "Parlowen/dictation/LivePartialHUD.h"

#include "Parlowen/shell/settings/PreferencesStore.h"
#include "platform/log/Log.h"
#include "platform/ui/Announcer.h"
#include "platform/ui/Placement.h"

namespace parlowen {
namespace {

const platform::Logger& hudLog() {
    static const platform::Logger logger("com.kelvatrum.Parlowen", "hud");
    return logger;
}

}  // namespace

LivePartialHUD::LivePartialHUD(PreferencesStore& preferences, AudioDeviceCatalog& devices, platform::Executor& main,
                               platform::ui::Announcer& announcer, const PanelFactory& makePanel)
    : preferences_(preferences), devices_(devices), main_(main), announcer_(announcer) {
    SelectionCallback forward = lifetime_.guard([this](const std::optional<std::string>& uid) {
        if (onSelectInputDevice) onSelectInputDevice(uid);
    });
    panel_ = makePanel(*this, std::move(forward));
    panel_->orderOut();
}

LivePartialHUD::~LivePartialHUD() {
    lifetime_.end();
    // The panel's content observes the model: it goes first.
    panel_.reset();
}

void LivePartialHUD::show(std::string engineName) {
    PARLOWEN_ASSERT_ON(main_);
    // Later, so that the reset also wipes what callers set in this same turn.
    main_.post(lifetime_.guard([this, name = std::move(engineName)]() mutable { performShow(std::move(name)); }));
}

void LivePartialHUD::performShow(std::string engineName) {
    model_.engineName.set(std::move(engineName));
    model_.resetSession();
    refreshInputDevices();
    if (auto frame = panel_->mainScreenVisibleFrame())
        panel_->setTopLeft(platform::ui::topRightOrigin(*frame, panel_->width(), kScreenInset));
    panel_->orderFrontRegardless();
    announcer_.announce(kListeningAnnouncement, platform::ui::AnnouncementPriority::medium);
    hudLog().info("hud show: panelHasFocus={} appActive={}", panel_->isKeyWindow(), panel_->applicationIsActive());
}

void LivePartialHUD::refreshInputDevices() {
    model_.refreshInputDevices(preferences_.preferredInputDeviceUID.get(), devices_.systemDefaultInputUID.get(),
                               devices_.inputDevices.get());
}

void LivePartialHUD::updatePartial(std::string partial) {
    PARLOWEN_ASSERT_ON(main_);
    model_.updatePartial(std::move(partial));
}

void LivePartialHUD::pushAmplitude(float level) {
    PARLOWEN_ASSERT_ON(main_);
    model_.amplitudes.push(level);
}

void LivePartialHUD::showThrottleNotice(std::string_view appName) {
    PARLOWEN_ASSERT_ON(main_);
    model_.showThrottleNotice(appName);
    announcer_.announce(*model_.throttleNotice.get(), platform::ui::AnnouncementPriority::medium);
}

void LivePartialHUD::setSessionRemainingSeconds(std::optional<int> seconds) {
    PARLOWEN_ASSERT_ON(main_);
    model_.sessionRemainingSeconds.set(seconds);
}

void LivePartialHUD::hide() {
    PARLOWEN_ASSERT_ON(main_);
    const bool wasFocused = panel_->isKeyWindow();
    panel_->orderOut();
    model_.resetSession();
    hudLog().info("hud hide: wasFocused={}", wasFocused);
}

bool LivePartialHUD::windowShouldClose() {
    main_.post(lifetime_.guard([this] {
        hudLog().info("hud close button pressed \u2014 cancelling dictation session");
        if (onCancel) onCancel();
    }));
    return true;
}

}  // namespace parlowen
