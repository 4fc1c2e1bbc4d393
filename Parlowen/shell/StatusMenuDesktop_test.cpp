// The program's status item on a real tray host: `trayer` on Xvfb embeds
// it, XTest clicks open its menu and keys walk it, and what the entries do
// shows in the settings file.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>

#include "platform/testsupport/Process.h"
#include "platform/testsupport/Services.h"
#include "platform/values/Bytes.h"

namespace parlowen {
namespace {

using namespace std::chrono_literals;

struct Window {
    int x, y, width, height;
};

// Mapped windows of the program, in root coordinates.
std::vector<Window> programWindows(const testsupport::ServiceFixture& display) {
    std::vector<Window> out;
    auto r = display.run({"xwininfo", "-root", "-tree"});
    if (!r.ok()) return out;
    static const std::regex line(
        R"(\("Parlowen" "Parlowen"\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+))");
    for (std::sregex_iterator it(r.out.begin(), r.out.end(), line), end; it != end; ++it)
        out.push_back({std::stoi((*it)[3]), std::stoi((*it)[4]), std::stoi((*it)[1]), std::stoi((*it)[2])});
    return out;
}

// How many of the program's windows are mapped now.
std::size_t visibleProgramWindows(const testsupport::ServiceFixture& display) {
    auto r = display.run({"xdotool", "search", "--onlyvisible", "--class", "Parlowen"});
    return static_cast<std::size_t>(std::count(r.out.begin(), r.out.end(), '\n'));
}

// The settings files' text, with the JSON values stored as data decoded.
std::string settingsText(const std::filesystem::path& folder) {
    std::string all;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        std::ifstream in(entry.path());
        std::stringstream s;
        s << in.rdbuf();
        const std::string text = s.str();
        all += text;
        static const std::regex data(R"re("data"\s*:\s*"([A-Za-z0-9+/=]*)")re");
        for (std::sregex_iterator it(text.begin(), text.end(), data), end; it != end; ++it)
            if (auto decoded = platform::base64Decode((*it)[1].str())) all += "\n" + platform::toString(*decoded);
    }
    return all;
}

// Disabled: under a loaded machine the first click right after start
// sometimes opens no menu (counting the program's mapped windows does not yet
// tell a menu that is still to come from one that never will). It passes on
// a quiet machine; run it with --gtest_also_run_disabled_tests.
TEST(StatusMenuDesktop, DISABLED_MenuOpensTheQuickAddPanelAndTheReport) {
    // No window manager: one would treat the tray as a dock and stretch it.
    testsupport::XvfbDisplay display;
    PARLOWEN_REQUIRE_OR_SKIP(display.start());
    auto tray = display.spawn({"trayer", "--edge", "top", "--align", "right", "--widthtype", "request", "--height", "28"});
    ASSERT_TRUE(tray.has_value()) << tray.error().description;
    const auto env = display.environment();
    auto program = testsupport::Process::spawn({PARLOWEN_EXECUTABLE}, env.with("PARLOWEN_LOG_STDERR", "1"),
                                               {.outputFile = std::filesystem::path(env.value("HOME")) / "parlowen.log"});
    ASSERT_TRUE(program.has_value()) << program.error().description;
    const std::filesystem::path config =
        std::filesystem::path(env.value("XDG_CONFIG_HOME", env.value("HOME") + "/.config")) / "com.kelvatrum.Parlowen";

    // The icon: a small window of the program inside the tray.
    Window icon{};
    ASSERT_TRUE(testsupport::waitUntil([&] {
        for (const auto& w : programWindows(display))
            // Until the tray takes it in, the icon's window sits at the origin;
            // trayer is at the top right.
            if (w.width > 1 && w.width < 64 && w.height < 64 && w.x > 100) {
                icon = w;
                return true;
            }
        return false;
    }, 15s)) << program->output();
    auto clickIcon = [&] {
        const auto before = visibleProgramWindows(display);
        EXPECT_TRUE(display.run({"xdotool", "mousemove", std::to_string(icon.x + icon.width / 2),
                                 std::to_string(icon.y + icon.height / 2), "click", "1"})
                        .ok());
        // The menu is one more mapped window of the program.
        return testsupport::waitUntil([&] { return visibleProgramWindows(display) > before; }, 15s);
    };
    auto keys = [&](std::vector<std::string> names) {
        std::vector<std::string> argv{"xdotool", "key", "--delay", "60"};
        argv.insert(argv.end(), names.begin(), names.end());
        EXPECT_TRUE(display.run(argv).ok());
    };

    // Quon Report, Add Recognition Hint…, Microphone, Preferences…, Check for Updates…, Quit Parlowen.
    const auto initial = visibleProgramWindows(display);
    ASSERT_TRUE(clickIcon()) << program->output();
    const auto withMenu = visibleProgramWindows(display);
    keys({"Down", "Down", "Return"});
    // The menu closes and the panel opens in its place.
    ASSERT_TRUE(testsupport::waitUntil([&] { return visibleProgramWindows(display) == withMenu; }, 15s));
    keys({"K", "u", "b", "e", "r", "n", "e", "t", "e", "s", "Return"});
    EXPECT_TRUE(testsupport::waitUntil([&] { return settingsText(config).find("Kubernetes") != std::string::npos; }, 15s))
        << settingsText(config) << program->output();
    // The panel closes itself a moment after the confirmation.
    ASSERT_TRUE(testsupport::waitUntil([&] { return visibleProgramWindows(display) == initial; }, 15s));

    ASSERT_TRUE(clickIcon()) << program->output();
    keys({"Down", "Return"});
    EXPECT_TRUE(testsupport::waitUntil([&] { return settingsText(config).find("lastQuonReportOpenedAt") != std::string::npos; }, 15s))
        << program->output();
    program->stop();
}

}  // namespace
}  // namespace parlowen
