#include "Parlowen/dictation/FocusSnapshot.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "platform/accessibility/ScriptedAccessibility.h"
#include "platform/log/CaptureSink.h"
#include "platform/testsupport/TempHome.h"

namespace parlowen {
namespace {

namespace fs = std::filesystem;
using platform::LogLevel;
using platform::RunningApplication;
using platform::ScriptedAccessibility;
using platform::ScriptedAccessibleElement;
using platform::ScriptedWorkspace;

class FocusSnapshotTest : public ::testing::Test {
protected:
    FocusSnapshotTest() {
        element->pid = 4242;
        element->text = "Dear ";
        element->selection = {5, 5};
        ax.focused = std::shared_ptr<platform::AccessibleElement>(element);
        workspace.addApplication({.processIdentifier = 4242, .bundleIdentifier = "org.gnome.TextEditor",
                                  .localizedName = "Text Editor"});
        workspace.addApplication({.processIdentifier = 7, .bundleIdentifier = "org.example.Other"});
        workspace.setFrontmost(4242);
    }

    platform::ScopedLogCapture log;
    std::shared_ptr<ScriptedAccessibleElement> element = std::make_shared<ScriptedAccessibleElement>();
    ScriptedAccessibility ax;
    ScriptedWorkspace workspace;
};

TEST_F(FocusSnapshotTest, WithoutTrustNothingIsCaptured) {
    ax.trusted = false;
    EXPECT_EQ(FocusSnapshot::capture(ax, workspace), std::nullopt);
    EXPECT_TRUE(log->contains("capture skipped: AX not trusted", LogLevel::debug));
    EXPECT_EQ(ax.focusQueries, 0);
}

TEST_F(FocusSnapshotTest, CapturesTheFocusedElementItsOwnerAndTheSecureFlag) {
    auto snapshot = FocusSnapshot::capture(ax, workspace);
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->element, element);
    EXPECT_EQ(snapshot->processIdentifier, 4242);
    EXPECT_EQ(snapshot->bundleIdentifier, "org.gnome.TextEditor");
    EXPECT_FALSE(snapshot->isLikelyChromiumApp);
    EXPECT_FALSE(snapshot->isSecureField);
    EXPECT_EQ(ax.timeouts, std::vector<platform::Duration>{std::chrono::milliseconds(500)});
    EXPECT_TRUE(log->contains("captured focus (pid=4242, bundle=org.gnome.TextEditor, isChromium=false, secure=false)",
                              LogLevel::info));

    struct Case {
        platform::Result<std::string> role;
        bool secure;
    };
    const Case cases[] = {
        {std::string("password text"), true},
        {std::string("text"), false},
        {std::string("entry"), false},
        {platform::fail(platform::accessibilityError(platform::AccessibilityErrorCode::noValue, "none")), false},
    };
    for (const auto& c : cases) {
        element->role = c.role;
        EXPECT_EQ(FocusSnapshot::capture(ax, workspace)->isSecureField, c.secure);
    }
}

TEST_F(FocusSnapshotTest, ChromiumClassComesFromTheProgramOrTheBundleIdentifier) {
    struct Case {
        std::optional<std::string> bundle;
        bool chromiumProgram;
        bool expected;
    };
    const Case cases[] = {
        {"org.gnome.TextEditor", false, false},
        {"slack", true, true},                   // an Electron program not in the prefix list
        {"com.Google.Chrome.canary", false, true},  // capitals, another release channel
        {std::nullopt, false, false},
    };
    for (const auto& c : cases) {
        workspace.addApplication({.processIdentifier = 4242, .bundleIdentifier = c.bundle,
                                  .isChromiumClass = c.chromiumProgram});
        auto snapshot = FocusSnapshot::capture(ax, workspace);
        ASSERT_TRUE(snapshot);
        EXPECT_EQ(snapshot->isLikelyChromiumApp, c.expected) << c.bundle.value_or("nil");
        EXPECT_EQ(snapshot->bundleIdentifier, c.bundle);
    }
    // An element whose process has no application record.
    workspace.terminate(4242);
    auto orphan = FocusSnapshot::capture(ax, workspace);
    ASSERT_TRUE(orphan);
    EXPECT_EQ(orphan->bundleIdentifier, std::nullopt);
    EXPECT_FALSE(orphan->isLikelyChromiumApp);
    EXPECT_TRUE(log->contains("bundle=nil"));
}

TEST_F(FocusSnapshotTest, NoElementOrNoOwnerGivesNoSnapshot) {
    ax.focused = std::shared_ptr<platform::AccessibleElement>();
    EXPECT_EQ(FocusSnapshot::capture(ax, workspace), std::nullopt);
    EXPECT_TRUE(log->contains("capture: no focused element (status=0)", LogLevel::debug));

    ax.focused = platform::fail(platform::accessibilityError(platform::AccessibilityErrorCode::cannotComplete, "x"));
    EXPECT_EQ(FocusSnapshot::capture(ax, workspace), std::nullopt);
    EXPECT_TRUE(log->contains("capture: no focused element (status=-25204)", LogLevel::debug));

    ax.focused = std::shared_ptr<platform::AccessibleElement>(element);
    element->pid = platform::fail(platform::accessibilityError(platform::AccessibilityErrorCode::invalidElement, "x"));
    EXPECT_EQ(FocusSnapshot::capture(ax, workspace), std::nullopt);
    EXPECT_TRUE(log->contains("capture: failed to read owning pid", LogLevel::debug));
}

TEST_F(FocusSnapshotTest, InsertsThroughAccessibilityOnlyWhereWritesWork) {
    auto snapshot = *FocusSnapshot::capture(ax, workspace);
    EXPECT_TRUE(snapshot.insertViaAX("Sir"));
    EXPECT_EQ(element->text, "Dear Sir");

    auto chromium = snapshot;
    chromium.isLikelyChromiumApp = true;
    chromium.bundleIdentifier = std::nullopt;
    EXPECT_FALSE(chromium.insertViaAX("x"));
    EXPECT_EQ(element->writes.size(), 1u) << "a Chromium-class element is never written";
    EXPECT_TRUE(log->contains("insertViaAX: skipping captured-focus path — bundle=nil is Chromium-class (AX writes "
                              "silently no-op there); falling through to ⌘V",
                              LogLevel::info));

    element->settable = false;
    EXPECT_FALSE(snapshot.insertViaAX("x"));
    element->settable = platform::fail(platform::accessibilityError(platform::AccessibilityErrorCode::failure, "x"));
    EXPECT_FALSE(snapshot.insertViaAX("x"));
    EXPECT_TRUE(log->contains("insertViaAX: attribute not settable on captured element (bundle=org.gnome.TextEditor)",
                              LogLevel::debug));
    EXPECT_EQ(element->writes.size(), 1u);

    element->settable = true;
    element->setFailure = platform::accessibilityError(platform::AccessibilityErrorCode::cannotComplete, "x");
    EXPECT_FALSE(snapshot.insertViaAX("x"));
    EXPECT_TRUE(log->contains("insertViaAX: set failed status=-25204 bundle=org.gnome.TextEditor", LogLevel::debug));
}

TEST_F(FocusSnapshotTest, ReactivatesTheOwnerUnlessItIsInFrontOrGone) {
    auto snapshot = *FocusSnapshot::capture(ax, workspace);
    EXPECT_TRUE(snapshot.reactivate(workspace));
    EXPECT_TRUE(workspace.activations().empty()) << "already frontmost: nothing to do";

    workspace.setFrontmost(7);
    EXPECT_TRUE(snapshot.reactivate(workspace));
    EXPECT_EQ(workspace.activations(), std::vector<pid_t>{4242});
    EXPECT_TRUE(log->contains("reactivate: pid=4242 bundle=org.gnome.TextEditor didActivate=true", LogLevel::info));

    workspace.setFrontmost(7);
    workspace.setActivationSucceeds(false);
    EXPECT_FALSE(snapshot.reactivate(workspace));

    workspace.terminate(4242);
    EXPECT_FALSE(snapshot.reactivate(workspace));
    EXPECT_TRUE(log->contains("reactivate: original app gone (pid=4242)", LogLevel::debug));
    EXPECT_EQ(workspace.activations().size(), 2u);
}

TEST(FocusSnapshotChromium, FrameworkPathsWalkUpThroughApplicationBundles) {
    auto frameworks = [](const std::string& app) {
        std::vector<fs::path> out;
        for (const char* name : FocusSnapshot::chromiumFrameworkNames) out.push_back(fs::path(app) / "Contents/Frameworks" / name);
        return out;
    };
    EXPECT_EQ(FocusSnapshot::chromiumFrameworkPaths("/Applications/Slack.app"), frameworks("/Applications/Slack.app"));
    EXPECT_EQ(FocusSnapshot::chromiumFrameworkPaths("/Applications/Slack.app/"), frameworks("/Applications/Slack.app"));
    EXPECT_EQ(FocusSnapshot::chromiumFrameworkPaths("/Applications/x/../Slack.app"),
              frameworks("/Applications/Slack.app"));

    // A helper inside the main application's frameworks: its own candidates first, then the host's.
    std::string host = "/Applications/Code.app";
    std::string helper = host + "/Contents/Frameworks/Code Helper.app";
    auto nested = FocusSnapshot::chromiumFrameworkPaths(helper);
    auto expected = frameworks(helper);
    for (auto& p : frameworks(host)) expected.push_back(p);
    EXPECT_EQ(nested, expected);

    EXPECT_TRUE(FocusSnapshot::chromiumFrameworkPaths("/usr/bin/gedit").empty());
    EXPECT_TRUE(FocusSnapshot::chromiumFrameworkPaths("/").empty());
    EXPECT_EQ(FocusSnapshot::chromiumFrameworkNames[0], std::string("Electron Framework.framework"));

    // The bundle itself and at most 11 ancestors are looked at.
    std::string deep = "/Outer.app";
    for (int i = 0; i < 11; ++i) deep += "/d" + std::to_string(i);
    EXPECT_EQ(FocusSnapshot::chromiumFrameworkPaths(deep), frameworks("/Outer.app")) << "the 11th ancestor";
    deep += "/d11";
    EXPECT_TRUE(FocusSnapshot::chromiumFrameworkPaths(deep).empty()) << "the 12th is too far";
}

TEST(FocusSnapshotChromium, FindsFrameworksOnDisk) {
    testsupport::TempDir dir;
    auto make = [&](const fs::path& p, bool asFile = false) {
        fs::create_directories(asFile ? p.parent_path() : p);
        if (asFile) std::ofstream(p) << "x";
    };
    make(dir / "Electron App.app/Contents/Frameworks/Electron Framework.framework");
    make(dir / "Host.app/Contents/Frameworks/Chromium Embedded Framework.framework", true);
    make(dir / "Host.app/Contents/Frameworks/Helper.app/Contents/MacOS");
    make(dir / "Plain.app/Contents/Frameworks/Sparkle.framework");

    EXPECT_TRUE(FocusSnapshot::hasChromiumFramework(dir / "Electron App.app"));
    EXPECT_TRUE(FocusSnapshot::hasChromiumFramework(dir / "Host.app/Contents/Frameworks/Helper.app"));
    EXPECT_FALSE(FocusSnapshot::hasChromiumFramework(dir / "Plain.app"));
    EXPECT_FALSE(FocusSnapshot::hasChromiumFramework(dir / "Missing.app"));
}

TEST(FocusSnapshotChromium, BundleIdentifiersMatchByLowerCasedPrefix) {
    const std::pair<std::optional<std::string>, bool> cases[] = {
        {std::nullopt, false},
        {"com.google.Chrome", true},
        {"com.google.Chrome.beta", true},
        {"Company.TheBrowser.Browser", true},
        {"com.naver.whale", true},
        {"org.mozilla.firefox", false},
        {"com.google", false},
        {"", false},
    };
    for (const auto& [id, expected] : cases)
        EXPECT_EQ(FocusSnapshot::isChromiumBundleIdentifier(id), expected) << id.value_or("nil");
}

}  // namespace
}  // namespace parlowen
