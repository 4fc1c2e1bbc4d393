#include "Parlowen/shell/SoftwareUpdate.h"

#include <thread>

#include <gtest/gtest.h>

#include "Parlowen/shell/settings/PreferencesStore.h"
#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/log/CaptureSink.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/ui/ScriptedAlertPresenter.h"

namespace parlowen {
namespace {

using Status = BundleLocation::Status;

class UpdaterBridgeTest : public ::testing::Test {
protected:
    platform::ScopedLogCapture logs;
    platform::ManualExecutor main;
    platform::InMemoryUserDefaults defaults;
    PreferencesStore preferences{defaults, {}};
    UpdateAvailability availability;
    std::vector<std::string> appCalls;
    UpdaterBridge bridge{availability, preferences, main,
                         {.activateIgnoringOtherApps = [this] { appCalls.push_back("activate"); },
                          .raiseKeyWindowToFloatingIfNormal = [this] { appCalls.push_back("raise"); }}};
};

TEST_F(UpdaterBridgeTest, AFoundUpdateSetsTheVersionBeforeTheFlagOnTheMainExecutor) {
    std::vector<std::optional<std::string>> versionSeenWithFlag;
    auto sub = availability.isAvailable.stream().dropFirst().subscribe(
        [&](const bool&) { versionSeenWithFlag.push_back(availability.pendingVersion.get()); });

    bridge.didFindValidUpdate({"1.5.0"});
    EXPECT_FALSE(availability.isAvailable.get()) << "nothing changes inside the callback";
    EXPECT_TRUE(logs->contains("update found version=1.5.0"));
    main.runUntilIdle();
    EXPECT_TRUE(availability.isAvailable.get());
    EXPECT_EQ(availability.pendingVersion.get(), "1.5.0");
    EXPECT_EQ(versionSeenWithFlag, (std::vector<std::optional<std::string>>{"1.5.0"}));
}

TEST_F(UpdaterBridgeTest, NotFoundOrAboutToInstallClearsBoth) {
    for (int which = 0; which < 2; ++which) {
        bridge.didFindValidUpdate({"2.0"});
        main.runUntilIdle();
        ASSERT_TRUE(availability.isAvailable.get());
        if (which == 0)
            bridge.updaterDidNotFindUpdate();
        else
            bridge.willInstallUpdate({"2.0"});
        main.runUntilIdle();
        EXPECT_FALSE(availability.isAvailable.get()) << which;
        EXPECT_EQ(availability.pendingVersion.get(), std::nullopt) << which;
    }
    EXPECT_FALSE(bridge.supportsGentleScheduledUpdateReminders());
}

TEST_F(UpdaterBridgeTest, CallbacksFromAnotherThreadLandOnTheMainExecutor) {
    std::thread::id changedOn;
    auto sub = availability.isAvailable.stream().dropFirst().subscribe(
        [&](const bool&) { changedOn = std::this_thread::get_id(); });
    std::thread updaterThread([this] { bridge.didFindValidUpdate({"3.1"}); });
    updaterThread.join();
    ASSERT_TRUE(main.runUntil([&] { return availability.isAvailable.get(); }));
    EXPECT_EQ(changedOn, std::this_thread::get_id());
    EXPECT_EQ(availability.pendingVersion.get(), "3.1");
}

TEST_F(UpdaterBridgeTest, ModalAlertsActivateAtOnceAndRaiseTheKeyWindowAfterTheCallback) {
    bridge.standardUserDriverWillShowModalAlert();
    EXPECT_EQ(appCalls, std::vector<std::string>{"activate"});
    bridge.standardUserDriverDidShowModalAlert();
    EXPECT_EQ(appCalls.size(), 1u);
    main.runUntilIdle();
    EXPECT_EQ(appCalls, (std::vector<std::string>{"activate", "raise"}));
}

TEST_F(UpdaterBridgeTest, TheLinuxUpdatersCheckClearsAWaitingUpdateAndShowsOneAlert) {
    platform::ui::ScriptedAlertPresenter alerts;
    platform::PackageManagedUpdater updater(main, alerts, bridge);
    bridge.didFindValidUpdate({"9.9"});
    main.runUntilIdle();
    updater.startUpdater();
    updater.checkForUpdates();
    main.runUntilIdle();
    ASSERT_EQ(alerts.shown().size(), 1u);
    EXPECT_EQ(alerts.shown()[0].messageText, platform::PackageManagedUpdater::kPackageManagerMessage);
    EXPECT_FALSE(availability.isAvailable.get());
    EXPECT_EQ(appCalls, (std::vector<std::string>{"activate", "raise"}));
}

TEST(UpdaterFlags, AutomaticChecksOnlyFromAnInstallLocationDownloadsAlsoNeedTheSetting) {
    struct Case {
        Status location;
        bool autoUpdate;
        bool checks;
        bool downloads;
    };
    for (const Case& c : {Case{Status::applications, true, true, true},
                          Case{Status::userApplications, true, true, true},
                          Case{Status::applications, false, true, false},
                          Case{Status::derivedData, true, false, false},
                          Case{Status::translocated, true, false, false},
                          Case{Status::otherUnknown, true, false, false}}) {
        platform::ScriptedUpdaterController controller;
        applyUpdaterLocationGuard(controller, c.location, c.autoUpdate);
        EXPECT_EQ(controller.automaticallyChecksForUpdates(), c.checks) << toString(c.location);
        EXPECT_EQ(controller.automaticallyDownloadsUpdates(), c.downloads) << toString(c.location);
    }
}

TEST(UpdaterFlags, TheSettingChangesOnlyTheDownloadFlag) {
    platform::ScopedLogCapture logs;
    platform::InMemoryUserDefaults defaults;
    PreferencesStore preferences(defaults, {});
    platform::ScriptedUpdaterController controller;
    applyUpdaterLocationGuard(controller, Status::otherUnknown, preferences.autoUpdateEnabled());
    auto follow = followAutoUpdateSetting([&]() -> platform::UpdaterController& { return controller; },
                                          preferences.autoUpdateEnabled);
    EXPECT_TRUE(controller.automaticallyDownloadsUpdates()) << "the setting's current value at once, alone";
    preferences.autoUpdateEnabled.set(false);
    EXPECT_FALSE(controller.automaticallyDownloadsUpdates());
    preferences.autoUpdateEnabled.set(true);
    EXPECT_TRUE(controller.automaticallyDownloadsUpdates());
    EXPECT_EQ(controller.checkFlagWrites(), 1);
    EXPECT_FALSE(controller.automaticallyChecksForUpdates()) << "a copy outside the install locations";
    // The user's check still runs.
    controller.checkForUpdates();
    EXPECT_EQ(controller.checkCount(), 1);
}

}  // namespace
}  // namespace parlowen
