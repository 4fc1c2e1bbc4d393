#pragma once

// What the application asks of the updater, the delegate through which the
// updater reports back, and the model that tells the status item that an
// update waits and which version it is.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Parlowen/shell/BundleLocation.h"
#include "platform/log/Log.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Observable.h"
#include "platform/updater/Updater.h"

namespace parlowen {

class PreferencesStore;
template <class T>
class Setting;

// One instance, owned by the application coordinator. Main thread only.
class UpdateAvailability {
public:
    platform::Observable<bool> isAvailable{false};
    platform::Observable<std::optional<std::string>> pendingVersion{std::nullopt};
};

// The updater's delegate. Its callbacks may come on any thread; it changes
// `UpdateAvailability` only on the main executor, the version before the
// flag, so observers of the flag already see the version.
class UpdaterBridge : public platform::UpdaterDelegate {
public:
    // What the bridge does to the application around the updater's alerts.
    struct Application {
        // Brings the application to the front, even when others are active.
        std::function<void()> activateIgnoringOtherApps;
        // Raises the key window to the floating level when it is at the normal level.
        std::function<void()> raiseKeyWindowToFloatingIfNormal;
    };

    UpdaterBridge(UpdateAvailability& availability, PreferencesStore& preferences, platform::Executor& main,
                  Application application);
    ~UpdaterBridge() override;
    UpdaterBridge(const UpdaterBridge&) = delete;
    UpdaterBridge& operator=(const UpdaterBridge&) = delete;

    void didFindValidUpdate(const platform::UpdateItem& item) override;
    void updaterDidNotFindUpdate() override;
    void willInstallUpdate(const platform::UpdateItem& item) override;
    bool supportsGentleScheduledUpdateReminders() const override { return false; }
    void standardUserDriverWillShowModalAlert() override;
    void standardUserDriverDidShowModalAlert() override;

private:
    void clear();

    UpdateAvailability& availability_;
    PreferencesStore& preferences_;
    platform::Executor& main_;
    Application application_;
    platform::Lifetime lifetime_;
    platform::Logger log_{"com.kelvatrum.Parlowen", "updates"};
};

// Right after the controller is created: automatic checks only for a copy in
// an install location, automatic downloads when `autoUpdateEnabled` is on as
// well.
void applyUpdaterLocationGuard(platform::UpdaterController& controller, BundleLocation::Status location,
                               bool autoUpdateEnabled);

// Sets automatic downloads to the setting's value, at once and at every
// change, without the location condition; automatic checks are never touched.
// `controller` is read at each delivery, so the first one may create it.
[[nodiscard]] platform::Subscription followAutoUpdateSetting(std::function<platform::UpdaterController&()> controller,
                                                             const Setting<bool>& autoUpdateEnabled);

// The update machinery, built on first use and kept: the bridge, then the
// updater controller with the bridge as its delegate, started at once, then
// the location guard. Main thread only.
class SoftwareUpdates {
public:
    using MakeController =
        std::function<std::unique_ptr<platform::UpdaterController>(platform::UpdaterDelegate& delegate)>;

    struct Dependencies {
        UpdateAvailability& availability;
        PreferencesStore& preferences;
        platform::Executor& main;
        UpdaterBridge::Application application;
        BundleLocation::Status location;
        MakeController makeController;
    };

    explicit SoftwareUpdates(Dependencies dependencies);
    ~SoftwareUpdates();
    SoftwareUpdates(const SoftwareUpdates&) = delete;
    SoftwareUpdates& operator=(const SoftwareUpdates&) = delete;

    UpdaterBridge& updaterBridge();
    platform::UpdaterController& updaterController();

private:
    Dependencies d_;
    std::unique_ptr<UpdaterBridge> bridge_;
    std::unique_ptr<platform::UpdaterController> controller_;
};

}  // namespace parlowen
