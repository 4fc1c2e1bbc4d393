#include "Parlowen/shell/MemoryMonitor.h"

#include <gtest/gtest.h>

#include "platform/log/CaptureSink.h"
#include "platform/runtime/ManualExecutor.h"

namespace parlowen {
namespace {

using namespace std::chrono_literals;

class MemoryMonitorTest : public ::testing::Test {
protected:
    platform::ScopedLogCapture logs;
    platform::ManualExecutor main;
    platform::ManualExecutor background;
    platform::Result<std::uint64_t> size = std::uint64_t{100} << 20;
    int reads = 0;
    MemoryMonitor monitor{main, background, [this]() -> platform::Result<std::uint64_t> {
                              ++reads;
                              return size;
                          }};

    void settle() {
        while (main.runUntilIdle() + background.runUntilIdle() > 0) {
        }
    }
    void advance(platform::Duration d) {
        main.advance(d);
        settle();
    }
    std::vector<std::string> lines() {
        std::vector<std::string> out;
        for (const auto& l : logs->linesOfCategory("memory")) out.push_back(l.message);
        return out;
    }
};

TEST_F(MemoryMonitorTest, StartingTwiceLogsOneStartupSampleAndRunsOneLoop) {
    monitor.start();
    monitor.start();
    settle();
    EXPECT_EQ(lines(), std::vector<std::string>{"rss=100.0 MB note=startup"});
    EXPECT_EQ(logs->lines().front().level, platform::LogLevel::info);

    advance(59s);
    EXPECT_EQ(lines().size(), 1u);
    advance(1s);
    size = std::uint64_t{84} * 1048576 + 314573;  // 84.3 MB
    advance(60s);
    EXPECT_EQ(lines(), (std::vector<std::string>{"rss=100.0 MB note=startup", "rss=100.0 MB", "rss=84.3 MB"}));
    EXPECT_EQ(reads, 3);
    EXPECT_EQ(main.pendingTimers(), 1u) << "one loop waits";
}

TEST_F(MemoryMonitorTest, StopInsideAWaitEndsTheLoopAndAStoppedMonitorStartsAgain) {
    monitor.start();
    settle();
    advance(30s);
    monitor.stop();
    advance(10min);
    EXPECT_EQ(lines().size(), 1u);
    EXPECT_FALSE(monitor.isRunning());
    EXPECT_EQ(main.pendingTimers(), 0u);

    monitor.start();
    settle();
    advance(60s);
    EXPECT_EQ(lines(), (std::vector<std::string>{"rss=100.0 MB note=startup", "rss=100.0 MB note=startup",
                                                 "rss=100.0 MB"}));
}

TEST_F(MemoryMonitorTest, AStopWhileTheReadingIsUnderWayLogsNothing) {
    monitor.start();
    settle();
    main.advance(60s);  // the wait ends; the reading is queued on the background executor
    monitor.stop();
    settle();
    EXPECT_EQ(lines().size(), 1u);
}

TEST_F(MemoryMonitorTest, AFailedReadingLogsAnErrorAndTheLoopGoesOn) {
    size = platform::fail(platform::Error::make("ResidentMemory", 1, "unreadable", "gone"));
    monitor.start();
    settle();
    advance(60s);
    auto captured = logs->linesOfCategory("memory");
    ASSERT_EQ(captured.size(), 2u);
    for (const auto& l : captured) {
        EXPECT_EQ(l.message, "rss read failed");
        EXPECT_EQ(l.level, platform::LogLevel::error);
    }
}

TEST_F(MemoryMonitorTest, ASampleWithoutANoteOrWithAnEmptyOneHasNoNote) {
    auto a = platform::spawn(main, monitor.sample());
    auto b = platform::spawn(main, monitor.sample(std::string()));
    auto c = platform::spawn(main, monitor.sample(std::string("manual")));
    settle();
    EXPECT_EQ(lines(), (std::vector<std::string>{"rss=100.0 MB", "rss=100.0 MB", "rss=100.0 MB note=manual"}));
}

TEST_F(MemoryMonitorTest, DestroyingARunningMonitorEndsItsLoop) {
    {
        MemoryMonitor other(main, background, [] { return platform::Result<std::uint64_t>(1u << 20); });
        other.start();
        settle();
    }
    advance(5min);
    EXPECT_EQ(lines(), std::vector<std::string>{"rss=1.0 MB note=startup"});
}

}  // namespace
}  // namespace parlowen
