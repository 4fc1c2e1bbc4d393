#include "Parlowen/shell/AppDelegate.h"

#include "platform/ui/AlertPresenter.h"

namespace parlowen {

// The texts say what a Linux user can do: install under one of the install
// locations, or run a development build from the build folder it was built in.
std::string bundleLocationInformativeText(BundleLocation::Status status, const std::string& path) {
    const std::string install = "install Parlowen under " + installLocationsText();
    switch (status) {
        case BundleLocation::Status::derivedData:
            return "Parlowen looks like it's running from a development build folder (" + path +
                   ") other than the one it was built in. Automatic updates are disabled because they would fail. "
                   "Run it from its own build folder, or " + install + ", for normal use.";
        case BundleLocation::Status::translocated:
            return "Parlowen is running from a temporary location (" + path +
                   "). Automatic updates are disabled because they would fail. To fix this, " + install +
                   " and launch it from there.";
        case BundleLocation::Status::otherUnknown:
            return "Parlowen is running from " + path +
                   ", which isn't a normal install location. Automatic updates are disabled. For normal use, " +
                   install + ", or run it from the build folder it was built in.";
        case BundleLocation::Status::applications:
        case BundleLocation::Status::userApplications:
            break;
    }
    return {};
}

AppDelegate::AppDelegate(Services services)
    : services_(std::move(services)), log_("com.kelvatrum.Parlowen", "lifecycle") {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::launch() {
    if (launched_ || terminating_) return;
    launched_ = true;
    // A program that shows no window has no taskbar entry on Linux, so there
    // is no activation policy to switch to accessory.
    if (!checkBundleLocation()) return;
    if (services_.createSettings) services_.createSettings();
    if (services_.startCrashReporter) services_.startCrashReporter();
    if (services_.makeCoordinator) coordinator_ = services_.makeCoordinator();
    if (coordinator_) coordinator_->start();
}

bool AppDelegate::checkBundleLocation() {
    const ExecutableLocation& location = services_.location;
    log_.info("bundle path={} status={}", location.path, toString(location.status));
    if (location.expected) return true;
    log_.error("running from a non-canonical location; automatic updates disabled ({})", toString(location.status));

    platform::ui::Alert alert;
    alert.messageText = "Parlowen is running from an unexpected location";
    alert.informativeText = bundleLocationInformativeText(location.status, location.path);
    alert.style = platform::ui::AlertStyle::informational;
    alert.buttons = {"Quit", "Continue anyway"};
    const int choice = services_.alerts.run(alert);
    // A termination signal can end the alert's modal loop without a choice;
    // starting the coordinator after its shutdown had run would leave it running.
    if (terminating_) return false;
    if (choice == 0) {
        if (services_.terminate) services_.terminate();
        return false;
    }
    return true;
}

void AppDelegate::applicationWillTerminate() {
    terminating_ = true;
    if (coordinator_) coordinator_->shutdown();
}

bool AppDelegate::applicationShouldHandleReopen(bool /*hasVisibleWindows*/) {
    if (coordinator_ && services_.hideMenuBarIcon && services_.hideMenuBarIcon()) coordinator_->openGeneralPreferences();
    return true;
}

}  // namespace parlowen
