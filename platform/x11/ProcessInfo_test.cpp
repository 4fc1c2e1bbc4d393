#include "platform/x11/ProcessInfo.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "platform/testsupport/TempHome.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

TEST(ProcessInfo, ReadsTheProgramNameAndMappingsOfALiveProcess) {
    pid_t self = ::getpid();
    EXPECT_TRUE(processIsAlive(self));
    EXPECT_EQ(processExecutablePath(self), fs::read_symlink("/proc/self/exe").string());
    EXPECT_EQ(processName(self), "x11_test");
    auto maps = processMappedFiles(self);
    EXPECT_THAT(maps, ::testing::Contains(::testing::HasSubstr("libc.so")));
    EXPECT_EQ(std::count(maps.begin(), maps.end(), maps.front()), 1) << "each file once";
}

TEST(ProcessInfo, AnEndedProcessIsNotAliveEvenBeforeItIsReaped) {
    pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ASSERT_GT(child, 0);
    // A zombie keeps its /proc entry until reaped.
    for (int i = 0; i < 2000 && processIsAlive(child); ++i) ::usleep(1000);
    EXPECT_FALSE(processIsAlive(child));
    ::waitpid(child, nullptr, 0);
    EXPECT_FALSE(processIsAlive(child));
    EXPECT_FALSE(processIsAlive(0));
    EXPECT_FALSE(processIsAlive(-1));
    EXPECT_EQ(processExecutablePath(child), std::nullopt);
}

TEST(ChromiumClassProgram, IsRecognisedByNameLibrariesOrFilesBesideIt) {
    testsupport::TempDir dir;
    auto touch = [&](const fs::path& p) {
        fs::create_directories(p.parent_path());
        std::ofstream(p) << "x";
    };
    touch(dir / "Slack/slack");
    touch(dir / "Slack/v8_context_snapshot.bin");
    touch(dir / "Teams/teams");
    touch(dir / "Teams/resources/electron.asar");
    touch(dir / "Game/game");
    touch(dir / "Game/libcef.so");
    touch(dir / "Plain/editor");
    touch(dir / "Plain/resources/app.txt");

    struct Case {
        std::string exe;
        std::vector<std::string> maps;
        bool expected;
    };
    const Case cases[] = {
        {"/usr/lib/chromium/chromium", {}, true},
        {"/opt/google/chrome/chrome", {}, true},
        {"/opt/brave.com/brave/brave", {}, true},
        {"/usr/lib/electron/electron", {}, true},
        {(dir / "Slack/slack").string(), {}, true},
        {(dir / "Teams/teams").string(), {}, true},
        {(dir / "Game/game").string(), {"/lib/libc.so.6", (dir / "Game/libcef.so").string()}, true},
        {"/usr/bin/steam", {"/home/u/.steam/libcef.so.1"}, true},
        {(dir / "Plain/editor").string(), {"/lib/libc.so.6", "/lib/libcefx.so"}, false},
        {"/usr/bin/chromium-wrapper", {}, false},
        {"", {}, false},
    };
    for (const auto& c : cases) EXPECT_EQ(isChromiumClassProgram(c.exe, c.maps), c.expected) << c.exe;
}

}  // namespace
}  // namespace platform
