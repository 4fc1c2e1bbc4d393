#include "Parlowen/shell/SoftwareUpdate.h"

#include "Parlowen/shell/settings/PreferencesStore.h"

namespace parlowen {

UpdaterBridge::UpdaterBridge(UpdateAvailability& availability, PreferencesStore& preferences,
                             platform::Executor& main, Application application)
    : availability_(availability), preferences_(preferences), main_(main), application_(std::move(application)) {
    (void)preferences_;
}

UpdaterBridge::~UpdaterBridge() { lifetime_.end(); }

void UpdaterBridge::didFindValidUpdate(const platform::UpdateItem& item) {
    const std::string version = item.displayVersionString;
    log_.info("update found version={}", version);
    main_.post(lifetime_.guard([this, version] {
        availability_.pendingVersion.set(version);
        availability_.isAvailable.set(true);
    }));
}

void UpdaterBridge::updaterDidNotFindUpdate() { clear(); }

void UpdaterBridge::willInstallUpdate(const platform::UpdateItem&) { clear(); }

void UpdaterBridge::clear() {
    main_.post(lifetime_.guard([this] {
        availability_.pendingVersion.set(std::nullopt);
        availability_.isAvailable.set(false);
    }));
}

void UpdaterBridge::standardUserDriverWillShowModalAlert() {
    if (application_.activateIgnoringOtherApps) application_.activateIgnoringOtherApps();
}

void UpdaterBridge::standardUserDriverDidShowModalAlert() {
    // After the callback has returned and the alert is up.
    main_.post(lifetime_.guard([this] {
        if (application_.raiseKeyWindowToFloatingIfNormal) application_.raiseKeyWindowToFloatingIfNormal();
    }));
}

void applyUpdaterLocationGuard(platform::UpdaterController& controller, BundleLocation::Status location,
                               bool autoUpdateEnabled) {
    const bool installed = isCanonical(location);
    controller.setAutomaticallyChecksForUpdates(installed);
    controller.setAutomaticallyDownloadsUpdates(autoUpdateEnabled && installed);
}

platform::Subscription followAutoUpdateSetting(std::function<platform::UpdaterController&()> controller,
                                               const Setting<bool>& autoUpdateEnabled) {
    return autoUpdateEnabled.subscribe(
        [controller = std::move(controller)](const bool& on) { controller().setAutomaticallyDownloadsUpdates(on); });
}

SoftwareUpdates::SoftwareUpdates(Dependencies dependencies) : d_(std::move(dependencies)) {}

// The controller goes first: it holds the bridge as its delegate.
SoftwareUpdates::~SoftwareUpdates() { controller_.reset(); }

UpdaterBridge& SoftwareUpdates::updaterBridge() {
    if (!bridge_) bridge_ = std::make_unique<UpdaterBridge>(d_.availability, d_.preferences, d_.main, d_.application);
    return *bridge_;
}

platform::UpdaterController& SoftwareUpdates::updaterController() {
    if (!controller_) {
        auto& bridge = updaterBridge();
        controller_ = d_.makeController(bridge);
        controller_->startUpdater();
        applyUpdaterLocationGuard(*controller_, d_.location, d_.preferences.autoUpdateEnabled());
    }
    return *controller_;
}

}  // namespace parlowen
