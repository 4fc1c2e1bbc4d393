#include <gtest/gtest.h>

#include "Parlowen/shell/AppDelegate.h"
#include "Parlowen/shell/SingleInstance.h"
#include "platform/log/CaptureSink.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/testsupport/TempHome.h"
#include "platform/ui/ScriptedAlertPresenter.h"

namespace parlowen {
namespace {

using Status = BundleLocation::Status;

struct CoordinatorCalls {
    int created = 0;
    int started = 0;
    int shutdowns = 0;
    int preferences = 0;
};

class FakeCoordinator final : public DelegateCoordinator {
public:
    explicit FakeCoordinator(CoordinatorCalls& calls) : calls_(calls) {}
    void start() override { ++calls_.started; }
    void shutdown() override { ++calls_.shutdowns; }
    void openGeneralPreferences() override { ++calls_.preferences; }

private:
    CoordinatorCalls& calls_;
};

class AppDelegateTest : public ::testing::Test {
protected:
    AppDelegate makeDelegate(ExecutableLocation location) {
        return AppDelegate({
            .alerts = alerts,
            .terminate = [this] { ++terminations; },
            .location = std::move(location),
            .makeCoordinator =
                [this] {
                    ++calls.created;
                    return std::make_unique<FakeCoordinator>(calls);
                },
            .hideMenuBarIcon = [this] { return hideMenuBarIcon; },
        });
    }

    platform::ScopedLogCapture capture;
    platform::ui::ScriptedAlertPresenter alerts;
    CoordinatorCalls calls;
    int terminations = 0;
    bool hideMenuBarIcon = false;
};

TEST_F(AppDelegateTest, InstalledLaunchLogsTheLocationAndStartsTheCoordinatorWithoutAlert) {
    auto delegate = makeDelegate({"/usr/bin/Parlowen", Status::applications, true});
    EXPECT_EQ(delegate.coordinator(), nullptr);
    delegate.launch();
    delegate.launch();

    EXPECT_TRUE(alerts.shown().empty());
    EXPECT_NE(delegate.coordinator(), nullptr);
    EXPECT_EQ(calls.created, 1);
    EXPECT_EQ(calls.started, 1);
    auto line = capture->find("bundle path=");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->message, "bundle path=/usr/bin/Parlowen status=applications");
    EXPECT_EQ(line->level, platform::LogLevel::info);
    EXPECT_EQ(line->subsystem, "com.kelvatrum.Parlowen");
    EXPECT_EQ(line->category, "lifecycle");
    EXPECT_FALSE(capture->find("non-canonical"));
    EXPECT_FALSE(delegate.applicationShouldTerminateAfterLastWindowClosed());
}

TEST_F(AppDelegateTest, UnexpectedLocationsAlertWithTheirTextAndContinueAnywayGoesOn) {
    const struct {
        Status status;
        const char* path;
        std::string informative;
    } cases[] = {
        {Status::derivedData, "/srv/Build/Products/Parlowen",
         "Parlowen looks like it's running from a development build folder (/srv/Build/Products/Parlowen) other "
         "than the one it was built in. Automatic updates are disabled because they would fail. Run it from its own "
         "build folder, or install Parlowen under /usr, /usr/local, /opt or ~/.local, for normal use."},
        {Status::translocated, "/tmp/AppTranslocation/Parlowen",
         "Parlowen is running from a temporary location (/tmp/AppTranslocation/Parlowen). Automatic updates are "
         "disabled because they would fail. To fix this, install Parlowen under /usr, /usr/local, /opt or ~/.local "
         "and launch it from there."},
        {Status::otherUnknown, "/home/ann/Downloads/Parlowen",
         "Parlowen is running from /home/ann/Downloads/Parlowen, which isn't a normal install location. Automatic "
         "updates are disabled. For normal use, install Parlowen under /usr, /usr/local, /opt or ~/.local, or run "
         "it from the build folder it was built in."},
    };
    for (const auto& c : cases) {
        capture->clear();
        const std::size_t before = alerts.shown().size();
        const int startedBefore = calls.started;
        alerts.answerNext(1);  // "Continue anyway"
        auto delegate = makeDelegate({c.path, c.status, false});
        delegate.launch();

        ASSERT_EQ(alerts.shown().size(), before + 1);
        const auto& alert = alerts.shown().back();
        EXPECT_EQ(alert.messageText, "Parlowen is running from an unexpected location");
        EXPECT_EQ(alert.informativeText, c.informative);
        EXPECT_EQ(alert.style, platform::ui::AlertStyle::informational);
        EXPECT_EQ(alert.buttons, (std::vector<std::string>{"Quit", "Continue anyway"}));

        const std::string name(toString(c.status));
        EXPECT_TRUE(capture->contains("bundle path=" + std::string(c.path) + " status=" + name,
                                      platform::LogLevel::info));
        auto error = capture->find("non-canonical", platform::LogLevel::error);
        ASSERT_TRUE(error) << name;
        EXPECT_TRUE(error->message.ends_with("(" + name + ")")) << error->message;

        EXPECT_EQ(calls.started, startedBefore + 1) << name;
        EXPECT_EQ(terminations, 0);
    }
}

TEST_F(AppDelegateTest, QuitTerminatesAtOnceAndNothingIsCreated) {
    alerts.answerNext(0);  // "Quit"
    auto delegate = makeDelegate({"/home/ann/Downloads/Parlowen", Status::otherUnknown, false});
    delegate.launch();
    EXPECT_EQ(terminations, 1);
    EXPECT_EQ(calls.created, 0);
    EXPECT_EQ(delegate.coordinator(), nullptr);

    // The terminate path then finds no coordinator.
    delegate.applicationWillTerminate();
    EXPECT_EQ(calls.shutdowns, 0);
}

TEST_F(AppDelegateTest, TerminationWhileTheAlertIsUpStopsLaunching) {
    // A signal ends the alert's modal loop with no choice after the terminate path ran.
    class InterruptedAlerts final : public platform::ui::AlertPresenter {
    public:
        AppDelegate* delegate = nullptr;
        int run(const platform::ui::Alert&) override {
            delegate->applicationWillTerminate();
            return -1;
        }
    } interrupted;
    AppDelegate delegate({
        .alerts = interrupted,
        .terminate = [this] { ++terminations; },
        .location = {"/home/ann/Downloads/Parlowen", Status::otherUnknown, false},
        .makeCoordinator = [this] {
            ++calls.created;
            return std::make_unique<FakeCoordinator>(calls);
        },
        .hideMenuBarIcon = {},
    });
    interrupted.delegate = &delegate;
    delegate.launch();
    EXPECT_EQ(calls.created, 0);
    EXPECT_EQ(delegate.coordinator(), nullptr);
}

TEST_F(AppDelegateTest, TerminationBeforeLaunchMeansNoLaunch) {
    auto delegate = makeDelegate({"/usr/bin/Parlowen", Status::applications, true});
    delegate.applicationWillTerminate();
    delegate.launch();
    EXPECT_EQ(calls.created, 0);
}

TEST_F(AppDelegateTest, TerminationShutsTheCoordinatorDown) {
    auto delegate = makeDelegate({"/usr/bin/Parlowen", Status::applications, true});
    delegate.launch();
    delegate.applicationWillTerminate();
    EXPECT_EQ(calls.shutdowns, 1);
}

TEST_F(AppDelegateTest, ReopenOpensGeneralPreferencesOnlyWhileTheStatusItemIsHidden) {
    auto delegate = makeDelegate({"/usr/bin/Parlowen", Status::applications, true});
    hideMenuBarIcon = true;
    EXPECT_TRUE(delegate.applicationShouldHandleReopen(false));  // no coordinator yet
    EXPECT_EQ(calls.preferences, 0);

    delegate.launch();
    hideMenuBarIcon = false;
    EXPECT_TRUE(delegate.applicationShouldHandleReopen(true));
    EXPECT_EQ(calls.preferences, 0);
    hideMenuBarIcon = true;
    EXPECT_TRUE(delegate.applicationShouldHandleReopen(true));
    EXPECT_TRUE(delegate.applicationShouldHandleReopen(false));
    EXPECT_EQ(calls.preferences, 2);
}

TEST_F(AppDelegateTest, ASecondStartHandsItsReopenToTheRunningDelegate) {
    platform::ManualExecutor main;
    testsupport::TempDir runtime;
    const std::string socket =
        SingleInstance::socketPath(platform::Environment().with("XDG_RUNTIME_DIR", runtime.path().string()));
    auto delegate = makeDelegate({"/usr/bin/Parlowen", Status::applications, true});
    // As the program wires it: the reopen requests of later starts reach the delegate.
    std::vector<bool> answers;
    SingleInstance running(socket, main,
                           [&] { answers.push_back(delegate.applicationShouldHandleReopen(false)); });
    ASSERT_EQ(running.role(), SingleInstance::Role::primary);
    delegate.launch();

    hideMenuBarIcon = true;
    EXPECT_EQ(SingleInstance(socket, main, {}).role(), SingleInstance::Role::secondary);
    ASSERT_TRUE(main.runUntil([&] { return answers.size() == 1; }));
    EXPECT_EQ(calls.preferences, 1);

    hideMenuBarIcon = false;
    EXPECT_EQ(SingleInstance(socket, main, {}).role(), SingleInstance::Role::secondary);
    ASSERT_TRUE(main.runUntil([&] { return answers.size() == 2; }));
    EXPECT_EQ(calls.preferences, 1) << "with the status item shown a reopen opens nothing";
    EXPECT_EQ(answers, (std::vector<bool>{true, true}));
}

TEST_F(AppDelegateTest, LaunchCreatesSettingsThenReporterThenCoordinatorThenStarts) {
    for (int choice : {1, 0}) {  // "Continue anyway", then "Quit"
        SCOPED_TRACE(choice);
        std::vector<std::string> order;
        alerts.answerNext(choice);
        class Recording final : public DelegateCoordinator {
        public:
            explicit Recording(std::vector<std::string>& o) : order(o) {}
            void start() override { order.push_back("start"); }
            void shutdown() override {}
            void openGeneralPreferences() override {}
            std::vector<std::string>& order;
        };
        AppDelegate delegate({
            .alerts = alerts,
            .terminate = [&order] { order.push_back("terminate"); },
            .location = {"/home/ann/Downloads/Parlowen", Status::otherUnknown, false},
            .makeCoordinator = [&order]() -> std::unique_ptr<DelegateCoordinator> {
                order.push_back("coordinator");
                return std::make_unique<Recording>(order);
            },
            .hideMenuBarIcon = {},
            .createSettings = [&order] { order.push_back("settings"); },
            .startCrashReporter = [&order] { order.push_back("reporter"); },
        });
        delegate.launch();
        if (choice == 1)
            EXPECT_EQ(order, (std::vector<std::string>{"settings", "reporter", "coordinator", "start"}));
        else
            EXPECT_EQ(order, (std::vector<std::string>{"terminate"}));
    }
}

TEST_F(AppDelegateTest, WithoutACoordinatorFactoryLaunchFinishesWithNone) {
    AppDelegate delegate({
        .alerts = alerts,
        .terminate = {},
        .location = {"/usr/bin/Parlowen", Status::applications, true},
        .makeCoordinator = {},
        .hideMenuBarIcon = {},
    });
    delegate.launch();
    EXPECT_EQ(delegate.coordinator(), nullptr);
    delegate.applicationWillTerminate();
    EXPECT_TRUE(delegate.applicationShouldHandleReopen(false));
}

}  // namespace
}  // namespace parlowen
