#include "platform/updater/Updater.h"

#include <gtest/gtest.h>

#include "platform/runtime/ManualExecutor.h"
#include "platform/ui/ScriptedAlertPresenter.h"

namespace platform {
namespace {

using namespace std::chrono_literals;

struct RecordingDelegate : UpdaterDelegate {
    std::vector<std::string> calls;
    void didFindValidUpdate(const UpdateItem& item) override { calls.push_back("found " + item.displayVersionString); }
    void updaterDidNotFindUpdate() override { calls.push_back("not found"); }
    void willInstallUpdate(const UpdateItem&) override { calls.push_back("will install"); }
    bool supportsGentleScheduledUpdateReminders() const override { return false; }
    void standardUserDriverWillShowModalAlert() override { calls.push_back("will show"); }
    void standardUserDriverDidShowModalAlert() override { calls.push_back("did show"); }
};

class PackageManagedUpdaterTest : public ::testing::Test {
protected:
    ManualExecutor main;
    ui::ScriptedAlertPresenter alerts;
    RecordingDelegate delegate;
    PackageManagedUpdater updater{main, alerts, delegate};
};

TEST_F(PackageManagedUpdaterTest, TheUsersCheckFindsNothingAndSaysWhereUpdatesComeFrom) {
    updater.startUpdater();
    updater.checkForUpdates();
    ASSERT_EQ(alerts.shown().size(), 1u);
    EXPECT_EQ(alerts.shown()[0].messageText, "Parlowen is updated through your system's package manager.");
    EXPECT_EQ(alerts.shown()[0].style, ui::AlertStyle::informational);
    EXPECT_EQ(alerts.shown()[0].buttons, std::vector<std::string>{"OK"});
    EXPECT_EQ(delegate.calls, (std::vector<std::string>{"not found", "will show", "did show"}));
}

TEST_F(PackageManagedUpdaterTest, ScheduledChecksRunOnlyWhileStartedWithAutomaticChecksOn) {
    updater.setAutomaticallyChecksForUpdates(true);
    main.advance(48h);
    EXPECT_TRUE(delegate.calls.empty()) << "not started yet";

    updater.startUpdater();
    main.advance(23h);
    EXPECT_TRUE(delegate.calls.empty());
    main.advance(1h);
    main.advance(24h);
    EXPECT_EQ(delegate.calls, (std::vector<std::string>{"not found", "not found"}));
    EXPECT_TRUE(alerts.shown().empty()) << "scheduled checks are silent";

    updater.setAutomaticallyChecksForUpdates(false);
    main.advance(72h);
    EXPECT_EQ(delegate.calls.size(), 2u);
    EXPECT_EQ(main.pendingTimers(), 0u);

    // Automatic downloads are only a flag here: nothing is ever downloaded.
    updater.setAutomaticallyDownloadsUpdates(true);
    EXPECT_TRUE(updater.automaticallyDownloadsUpdates());
    EXPECT_FALSE(updater.automaticallyChecksForUpdates());
}

}  // namespace
}  // namespace platform
