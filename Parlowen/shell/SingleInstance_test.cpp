#include "Parlowen/shell/SingleInstance.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/log/CaptureSink.h"
#include "platform/runtime/ManualExecutor.h"

namespace parlowen {
namespace {

class SingleInstanceTest : public ::testing::Test {
protected:
    platform::ScopedLogCapture logs;
    platform::ManualExecutor main;
    std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                   ("single-instance-" + std::to_string(::getpid()) + "-" +
                                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::string path;
    void SetUp() override {
        std::filesystem::create_directories(folder);
        path = (folder / "com.kelvatrum.Parlowen").string();
    }
    void TearDown() override { std::filesystem::remove_all(folder); }
};

TEST_F(SingleInstanceTest, SecondStartHandsTheRunningOneAReopenRequest) {
    int reopens = 0;
    SingleInstance first(path, main, [&] { ++reopens; });
    ASSERT_EQ(first.role(), SingleInstance::Role::primary);
    {
        SingleInstance second(path, main, [] { FAIL() << "a secondary never listens"; });
        EXPECT_EQ(second.role(), SingleInstance::Role::secondary);
    }
    EXPECT_TRUE(main.runUntil([&] { return reopens == 1; }));
    // The secondary left the primary's socket alone.
    SingleInstance third(path, main, {});
    EXPECT_EQ(third.role(), SingleInstance::Role::secondary);
    EXPECT_TRUE(main.runUntil([&] { return reopens == 2; }));
}

TEST_F(SingleInstanceTest, StaleSocketFileIsReplacedAndRemovedAtExit) {
    {
        // A socket file nobody listens on, as a crashed instance leaves it.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof(address.sun_path), "%s", path.c_str());
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        ::close(fd);
    }
    ASSERT_TRUE(std::filesystem::exists(path));
    {
        SingleInstance instance(path, main, {});
        EXPECT_EQ(instance.role(), SingleInstance::Role::primary);
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(SingleInstanceTest, SocketPathFollowsTheRuntimeFolder) {
    EXPECT_EQ(SingleInstance::socketPath(platform::Environment().with("XDG_RUNTIME_DIR", "/run/user/7")),
              "/run/user/7/com.kelvatrum.Parlowen");
    EXPECT_EQ(SingleInstance::socketPath(platform::Environment()).rfind("/tmp/com.kelvatrum.Parlowen-", 0), 0u);
}

}  // namespace
}  // namespace parlowen
