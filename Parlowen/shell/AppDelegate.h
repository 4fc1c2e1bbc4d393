#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Parlowen/shell/BundleLocation.h"
#include "platform/log/Log.h"

namespace platform::ui {
class AlertPresenter;
}

namespace parlowen {

// What the application delegate asks of the application coordinator: start it
// at the end of launching, shut it down at termination, and bring the
// preferences forward when the program is opened again.
class DelegateCoordinator {
public:
    virtual ~DelegateCoordinator() = default;
    virtual void start() = 0;
    virtual void shutdown() = 0;
    // Opens the preferences window on its General tab.
    virtual void openGeneralPreferences() = 0;
};

// Reacts to the application's life-cycle: launch, reopen and termination.
// Everything runs on the main thread.
class AppDelegate {
public:
    struct Services {
        platform::ui::AlertPresenter& alerts;
        // Tells the application object to terminate at once (its terminate
        // path calls `applicationWillTerminate` and then ends the event loop).
        std::function<void()> terminate;
        ExecutableLocation location;
        // Builds the application coordinator at the end of launching; may be
        // empty or return nothing, and then the delegate stays without one.
        std::function<std::unique_ptr<DelegateCoordinator>()> makeCoordinator;
        // The `hideMenuBarIcon` setting; absent means off.
        std::function<bool()> hideMenuBarIcon;
        // Creates the settings model (its first use loads every setting),
        // then starts the crash-reporter configuration with it. Both run only
        // once the location check let launching go on.
        std::function<void()> createSettings;
        std::function<void()> startCrashReporter;
    };

    explicit AppDelegate(Services services);
    ~AppDelegate();

    // The end of launching: checks where the program runs from (which may end
    // it), then creates the coordinator and starts it. Runs once, and not at
    // all once termination has begun.
    void launch();

    // Logs the location and shows the location alert when needed; false when
    // launching must not go on (the user chose to quit, or termination began
    // while the alert was up).
    bool checkBundleLocation();

    void applicationWillTerminate();

    // Closing the last window never ends the program.
    bool applicationShouldTerminateAfterLastWindowClosed() const { return false; }

    // The user opened the program again while it runs. With the status item
    // hidden this is the way back to the settings.
    bool applicationShouldHandleReopen(bool hasVisibleWindows);

    // Null until launching has finished (and after a quit during launch).
    DelegateCoordinator* coordinator() const { return coordinator_.get(); }

private:
    Services services_;
    platform::Logger log_;
    bool launched_ = false;
    bool terminating_ = false;
    std::unique_ptr<DelegateCoordinator> coordinator_;
};

// The informative text of the location alert for a status outside the install
// locations (empty for those).
std::string bundleLocationInformativeText(BundleLocation::Status status, const std::string& path);

}  // namespace parlowen
