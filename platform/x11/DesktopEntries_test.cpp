#include "platform/x11/DesktopEntries.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "platform/testsupport/TempHome.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

void writeFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

std::string entry(const std::string& name, const std::string& extra = {}) {
    return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=/usr/bin/x\n" + extra +
           "\n[Desktop Action New]\nName=Not the entry's name\n";
}

class DesktopEntriesTest : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    Environment env = Environment()
                          .with("HOME", (dir / "home").string())
                          .with("XDG_DATA_HOME", (dir / "data").string())
                          .with("XDG_DATA_DIRS", (dir / "sys1").string() + ":relative:" + (dir / "sys2").string());
};

TEST_F(DesktopEntriesTest, ScansUserThenSystemFoldersAndEarlierIdsWin) {
    writeFile(dir / "data/applications/org.example.Editor.desktop", entry("User Editor"));
    writeFile(dir / "sys1/applications/org.example.Editor.desktop", entry("System Editor"));
    writeFile(dir / "sys1/applications/vendor/tool.desktop", entry("Vendor Tool", "StartupWMClass=VTool"));
    writeFile(dir / "sys1/applications/gone.desktop", entry("Gone"));
    writeFile(dir / "data/applications/gone.desktop", entry("Gone", "Hidden=true"));
    writeFile(dir / "sys2/applications/link.desktop", "[Desktop Entry]\nType=Link\nName=Link\n");
    writeFile(dir / "sys2/applications/hidden-menu.desktop", entry("Quiet", "NoDisplay=true"));
    writeFile(dir / "sys2/applications/readme.txt", "not an entry");

    EXPECT_THAT(DesktopEntries::applicationFolders(env),
                ::testing::ElementsAre(dir / "data/applications", dir / "sys1/applications",
                                       dir / "sys2/applications"));
    auto entries = DesktopEntries::scan(env);
    std::vector<std::string> ids;
    for (const auto& e : entries.all()) ids.push_back(e.id);
    EXPECT_THAT(ids, ::testing::UnorderedElementsAre("org.example.Editor", "vendor-tool", "hidden-menu"));
    EXPECT_EQ(entries.byId("org.example.Editor")->name, "User Editor");
    EXPECT_EQ(entries.byId("vendor-tool")->startupWMClass, "VTool");
    EXPECT_TRUE(entries.byId("hidden-menu")->noDisplay);
    EXPECT_EQ(entries.byId("gone"), nullptr);
}

TEST(BundleIdentifier, NamesAnApplicationByItsDesktopFileId) {
    DesktopEntries entries({
        {.id = "org.gnome.TextEditor", .name = "Text Editor"},
        {.id = "code", .name = "Visual Studio Code", .startupWMClass = "Code"},
        {.id = "firefox-esr", .name = "Firefox ESR"},
        {.id = "org.example.Mixed", .name = "Mixed"},
    });
    struct Case {
        const char* what;
        WindowIdentity window;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"GTK application id wins", {"org.gnome.TextEditor", "gnome-text-editor", "Gnome-text-editor"},
         "org.gnome.TextEditor"},
        {"GTK id with no entry is still the id", {"org.example.Unlisted", "x", "X"}, "org.example.Unlisted"},
        {"StartupWMClass matches the class", {std::nullopt, "code", "Code"}, "code"},
        {"instance equals an id", {std::nullopt, "firefox-esr", "Firefox-esr"}, "firefox-esr"},
        {"id matched ignoring case", {std::nullopt, "mixed", "ORG.EXAMPLE.MIXED"}, "org.example.Mixed"},
        {"no entry: the class itself", {std::nullopt, "xterm", "XTerm"}, "XTerm"},
        {"no class: the instance", {std::nullopt, "lonely", ""}, "lonely"},
        {"empty GTK id is ignored", {std::string(), "xterm", "XTerm"}, "XTerm"},
        {"nothing known", {std::nullopt, "", ""}, std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(bundleIdentifier(c.window, entries), c.expected) << c.what;
}

TEST(TerminalWindowClass, CommonTerminalsByClassInstanceOrApplicationId) {
    struct Case {
        WindowIdentity window;
        bool terminal;
    };
    const Case cases[] = {
        {{std::nullopt, "xterm", "XTerm"}, true},
        {{std::nullopt, "gnome-terminal-server", "Gnome-terminal"}, true},
        {{"org.gnome.Console", "kgx", "Kgx"}, true},
        {{std::nullopt, "konsole", "konsole"}, true},
        {{std::nullopt, "Alacritty", "Alacritty"}, true},
        {{std::nullopt, "kitty", "kitty"}, true},
        {{std::nullopt, "", "URxvt"}, true},
        {{"org.gnome.TextEditor", "gnome-text-editor", "Gnome-text-editor"}, false},
        {{std::nullopt, "parlowen_test_text_window", "parlowen_test_text_window"}, false},
        {{std::nullopt, "", ""}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isTerminalWindowClass(c.window), c.terminal) << c.window.wmClassName;
}

}  // namespace
}  // namespace platform
