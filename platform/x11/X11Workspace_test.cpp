#include "platform/x11/X11Workspace.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "platform/accessibility/TestTextWindow.h"
#include "platform/testsupport/Services.h"
#include "platform/x11/X11Connection.h"

// Xlib last: its macros must not reach the headers above.
#include <X11/Xlib.h>

namespace platform {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

class X11WorkspaceTest : public ::testing::Test {
protected:
    void writeDesktopEntry(const Environment& env) {
        fs::path apps = fs::path(env.value("XDG_DATA_HOME")) / "applications";
        fs::create_directories(apps);
        std::ofstream(apps / "org.parlowen.TestWindow.desktop")
            << "[Desktop Entry]\nType=Application\nName=Parlowen Test Window\n"
               "Exec=parlowen_test_text_window\nStartupWMClass=parlowen_test_text_window\n";
    }

    std::optional<pid_t> frontmostPid(X11Workspace& workspace) {
        auto app = workspace.frontmostApplication();
        return app ? std::optional<pid_t>(app->processIdentifier) : std::nullopt;
    }
};

TEST_F(X11WorkspaceTest, TellsTheFrontmostApplicationAndActivatesThroughTheWindowManager) {
    testsupport::WindowManager wm;
    PARLOWEN_REQUIRE_OR_SKIP(wm.start());
    Environment env = wm.environment();
    writeDesktopEntry(env);
    X11Workspace workspace(env);

    auto first = testsupport::openTestTextWindow(wm, "first", {"--title", "first"});
    ASSERT_TRUE(first) << first.error().description;
    ASSERT_TRUE(testsupport::waitUntil([&] { return frontmostPid(workspace) == first->process.pid(); }, 5s));
    auto second = testsupport::openTestTextWindow(wm, "second", {"--title", "second"});
    ASSERT_TRUE(second) << second.error().description;
    ASSERT_TRUE(testsupport::waitUntil([&] { return frontmostPid(workspace) == second->process.pid(); }, 5s));

    auto front = workspace.frontmostApplication();
    ASSERT_TRUE(front);
    EXPECT_EQ(front->window, second->window);
    EXPECT_EQ(front->bundleIdentifier, "org.parlowen.TestWindow");
    EXPECT_EQ(front->localizedName, "Parlowen Test Window");
    EXPECT_EQ(front->executablePath, fs::canonical(PARLOWEN_TEST_TEXT_WINDOW).string());
    EXPECT_FALSE(front->isChromiumClass);

    // Activation goes through _NET_ACTIVE_WINDOW, which the window manager answers.
    EXPECT_TRUE(workspace.activate(first->process.pid()));
    EXPECT_TRUE(testsupport::waitUntil([&] { return frontmostPid(workspace) == first->process.pid(); }, 5s));
    auto conn = X11Connection::forThisThread(env);
    ASSERT_TRUE(conn);
    EXPECT_EQ((*conn)->longProperty((*conn)->rootWindow(), "_NET_ACTIVE_WINDOW"), first->window);

    // A GTK application id names the application before WM_CLASS does.
    std::string appId = "org.example.Gtk";
    Display* d = (*conn)->display();
    XChangeProperty(d, second->window, (*conn)->atom("_GTK_APPLICATION_ID"), (*conn)->atom("UTF8_STRING"), 8,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(appId.data()),
                    static_cast<int>(appId.size()));
    (*conn)->sync();
    auto byPid = workspace.runningApplication(second->process.pid());
    ASSERT_TRUE(byPid);
    EXPECT_EQ(byPid->window, second->window);
    EXPECT_EQ(byPid->bundleIdentifier, appId);
    EXPECT_EQ(byPid->localizedName, "parlowen_test_text_window") << "no entry: the window class";

    // A process that has quit is no running application and cannot be activated.
    pid_t gone = second->process.pid();
    second->process.stop();
    EXPECT_EQ(workspace.runningApplication(gone), std::nullopt);
    EXPECT_FALSE(workspace.activate(gone));
}

TEST_F(X11WorkspaceTest, WithoutAWindowManagerTheFocusedWindowIsInFront) {
    testsupport::XvfbDisplay display;
    PARLOWEN_REQUIRE_OR_SKIP(display.start());
    X11Workspace workspace(display.environment());
    EXPECT_EQ(workspace.frontmostApplication(), std::nullopt);

    auto first = testsupport::openTestTextWindow(display, "first", {"--title", "first"});
    ASSERT_TRUE(first) << first.error().description;
    ASSERT_TRUE(testsupport::waitUntil([&] { return frontmostPid(workspace) == first->process.pid(); }, 5s));
    auto second = testsupport::openTestTextWindow(display, "second", {"--title", "second"});
    ASSERT_TRUE(second) << second.error().description;
    ASSERT_TRUE(testsupport::waitUntil([&] { return frontmostPid(workspace) == second->process.pid(); }, 5s));
    EXPECT_EQ(workspace.frontmostApplication()->window, second->window);

    EXPECT_TRUE(workspace.activate(first->process.pid()));
    EXPECT_TRUE(testsupport::waitUntil([&] { return frontmostPid(workspace) == first->process.pid(); }, 5s));
    // No desktop entry: the window class names the application.
    EXPECT_EQ(workspace.frontmostApplication()->bundleIdentifier, "parlowen_test_text_window");
}

TEST(X11WorkspaceWithoutDisplay, AnswersNothingAndOpensURLsOnlyThroughItsOpener) {
    X11Workspace bare(Environment{});
    EXPECT_EQ(bare.frontmostApplication(), std::nullopt);
    EXPECT_FALSE(bare.activate(::getpid()));
    EXPECT_FALSE(bare.openURL("https://example.org/"));
    // Our own process is still a running application, though it has no window.
    auto self = bare.runningApplication(::getpid());
    ASSERT_TRUE(self);
    EXPECT_EQ(self->window, 0u);
    EXPECT_EQ(self->bundleIdentifier, std::nullopt);
    EXPECT_EQ(self->localizedName, "x11_test");

    std::vector<std::string> opened;
    X11Workspace withOpener(Environment{}, [&](const std::string& url) {
        opened.push_back(url);
        return true;
    });
    EXPECT_TRUE(withOpener.openURL("https://example.org/"));
    EXPECT_THAT(opened, ::testing::ElementsAre("https://example.org/"));
}

}  // namespace
}  // namespace platform
