#include "platform/loginitems/LoginItemService.h"

#include <fstream>

#include <gtest/gtest.h>

#include "platform/testsupport/Services.h"
#include "platform/values/Files.h"

namespace platform {
namespace {

std::string readText(const std::filesystem::path& p) {
    std::ifstream in(p);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// On a fixture's own HOME, as the desktop session would read it at login.
TEST(XdgAutostartLoginItem, SwitchingOnWritesTheEntryAHiddenEntryIsOffSwitchingOffRemovesIt) {
    testsupport::Sandbox sandbox("autostart");
    Environment env(sandbox.variables());
    XdgAutostartLoginItem item(env, "/usr/bin/Parlowen");
    EXPECT_EQ(item.entryPath(),
              sandbox.home() / ".config" / "autostart" / "com.kelvatrum.Parlowen.desktop");
    EXPECT_EQ(item.status(), LoginItemStatus::notRegistered);

    ASSERT_TRUE(item.registerItem());
    EXPECT_EQ(item.status(), LoginItemStatus::enabled);
    const std::string text = readText(item.entryPath());
    EXPECT_NE(text.find("[Desktop Entry]\nType=Application\n"), std::string::npos);
    EXPECT_NE(text.find("\nExec=/usr/bin/Parlowen\n"), std::string::npos);

    // The user hid it (as desktop settings tools do): not registered; registering again replaces it.
    ASSERT_TRUE(writeFileAtomically(item.entryPath(), text + "Hidden=true\n"));
    EXPECT_EQ(item.status(), LoginItemStatus::notRegistered);
    ASSERT_TRUE(item.registerItem());
    EXPECT_EQ(item.status(), LoginItemStatus::enabled);

    ASSERT_TRUE(item.unregisterItem());
    EXPECT_FALSE(std::filesystem::exists(item.entryPath()));
    EXPECT_EQ(item.status(), LoginItemStatus::notRegistered);
    EXPECT_TRUE(item.unregisterItem()) << "nothing left to remove";
}

TEST(XdgAutostartLoginItem, HonoursXdgConfigHomeAndFailsWithoutAUsableProgramPathOrFolder) {
    testsupport::Sandbox sandbox("autostart-config");
    auto vars = sandbox.variables();
    vars["XDG_CONFIG_HOME"] = (sandbox.root() / "cfg").string();
    XdgAutostartLoginItem item(Environment(vars), "");
    EXPECT_EQ(item.entryPath(), sandbox.root() / "cfg" / "autostart" / "com.kelvatrum.Parlowen.desktop");
    auto unknown = item.registerItem();
    ASSERT_FALSE(unknown);
    EXPECT_EQ(unknown.error().description, "the program's own path is unknown");
    EXPECT_EQ(item.status(), LoginItemStatus::notRegistered);

    // A file where the autostart folder should be: the write fails and says so.
    ASSERT_TRUE(writeFileAtomically(sandbox.root() / "cfg" / "autostart", "not a folder"));
    XdgAutostartLoginItem blocked(Environment(vars), "/usr/bin/Parlowen");
    auto failed = blocked.registerItem();
    ASSERT_FALSE(failed);
    EXPECT_FALSE(failed.error().description.empty());
}

TEST(XdgAutostartLoginItem, ExecArgumentsAreQuotedAndEscapedForBothLayersOfTheFormat) {
    struct Case {
        std::string path, exec;
    };
    for (const Case& c : std::vector<Case>{
             {"/usr/bin/Parlowen", "/usr/bin/Parlowen"},
             {"/opt/My Apps/Parlowen", "\"/opt/My Apps/Parlowen\""},
             {"/opt/a$b/Parlowen", "\"/opt/a\\\\$b/Parlowen\""},
             {"/opt/back\\slash/P", "\"/opt/back\\\\\\\\slash/P\""},
             {"/opt/q\"uote/P", "\"/opt/q\\\\\"uote/P\""},
             {"/opt/100%/P", "/opt/100%%/P"},
             {"/opt/100% sure/P", "\"/opt/100%% sure/P\""},
         })
        EXPECT_EQ(XdgAutostartLoginItem::execArgument(c.path), c.exec) << c.path;
}

TEST(ScriptedLoginItemService, ScriptsApprovalAndFailures) {
    ScriptedLoginItemService service;
    service.setRequiresApproval(true);
    ASSERT_TRUE(service.registerItem());
    EXPECT_EQ(service.status(), LoginItemStatus::requiresApproval);
    service.failNextUnregistration(Error::make("LoginItem", 2, "denied", "denied"));
    EXPECT_FALSE(service.unregisterItem());
    EXPECT_EQ(service.status(), LoginItemStatus::requiresApproval);
    EXPECT_TRUE(service.unregisterItem());
    EXPECT_EQ(service.status(), LoginItemStatus::notRegistered);
    EXPECT_EQ(toString(LoginItemStatus::notFound), "notFound");
}

}  // namespace
}  // namespace platform
