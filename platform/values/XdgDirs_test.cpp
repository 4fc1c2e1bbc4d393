#include "platform/values/XdgDirs.h"

#include <gtest/gtest.h>

#include "platform/testsupport/TempHome.h"
#include "platform/values/Files.h"

namespace {

using platform::Environment;
using platform::XdgDirs;
namespace fs = std::filesystem;

TEST(XdgDirs, DefaultsUnderHome) {
    const XdgDirs dirs(Environment(std::map<std::string, std::string>{{"HOME", "/home/ann"}}));
    EXPECT_EQ(dirs.homeDir(), "/home/ann");
    EXPECT_EQ(dirs.configHome(), "/home/ann/.config");
    EXPECT_EQ(dirs.dataHome(), "/home/ann/.local/share");
    EXPECT_EQ(dirs.cacheHome(), "/home/ann/.cache");
    EXPECT_EQ(dirs.runtimeDir(), std::nullopt);
    EXPECT_EQ(dirs.documentsDir(), "/home/ann/Documents");
}

TEST(XdgDirs, VariablesWinWhenAbsolute) {
    const XdgDirs dirs(Environment(std::map<std::string, std::string>{{"HOME", "/home/ann"},
                                    {"XDG_CONFIG_HOME", "/cfg"},
                                    {"XDG_DATA_HOME", "relative/data"},  // ignored: not absolute
                                    {"XDG_CACHE_HOME", ""},              // ignored: empty
                                    {"XDG_RUNTIME_DIR", "/run/user/1000"},
                                    {"XDG_DOCUMENTS_DIR", "/srv/docs"}}));
    EXPECT_EQ(dirs.configHome(), "/cfg");
    EXPECT_EQ(dirs.dataHome(), "/home/ann/.local/share");
    EXPECT_EQ(dirs.cacheHome(), "/home/ann/.cache");
    EXPECT_EQ(dirs.runtimeDir(), fs::path("/run/user/1000"));
    EXPECT_EQ(dirs.documentsDir(), "/srv/docs");
}

TEST(XdgDirs, DocumentsFromUserDirsFile) {
    testsupport::TempDir home;
    const Environment env(std::map<std::string, std::string>{{"HOME", home.path().string()}});
    const auto userDirs = home / ".config/user-dirs.dirs";

    ASSERT_TRUE(platform::writeFileAtomically(
        userDirs, std::string_view("# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                                   "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n")));
    EXPECT_EQ(XdgDirs(env).documentsDir(), home / "Dokumente");

    ASSERT_TRUE(platform::writeFileAtomically(userDirs, std::string_view("XDG_DOCUMENTS_DIR=\"/data/papers\"\n")));
    EXPECT_EQ(XdgDirs(env).documentsDir(), "/data/papers");

    ASSERT_TRUE(platform::writeFileAtomically(userDirs, std::string_view("XDG_DOCUMENTS_DIR=\"Docs\"\n")));
    EXPECT_EQ(XdgDirs(env).documentsDir(), home / "Documents");  // neither "$HOME/..." nor absolute
}

}  // namespace
