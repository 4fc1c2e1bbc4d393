#include "Auralith/foundation/SystemInfo.h"

#include <gtest/gtest.h>

#include <regex>

#include "platform/log/CaptureSink.h"
#include "platform/runtime/WorkerPool.h"

namespace auralith {
namespace {

TEST(SystemInfoTest, MemoryFormatting) {
    struct Case {
        std::uint64_t bytes;
        const char* text;
    };
    const Case cases[] = {{17179869184ull, "16 GB"}, {1610612736ull, "1.5 GB"}, {8589934592ull + 85899345ull, "8.08 GB"},
                          {524288000ull, "500 MB"}, {1536ull * 1024, "1.5 MB"},    {2048, "2 KB"},
                          {512, "512 bytes"},     {1, "1 byte"},                  {1099511627776ull, "1 TB"}};
    for (const auto& c : cases) EXPECT_EQ(SystemInfo::formatMemory(c.bytes), c.text) << c.bytes;
}

TEST(SystemInfoTest, ChipFromCpuInfo) {
    EXPECT_EQ(SystemInfo::chipFromCpuInfo("processor\t: 0\nvendor_id\t: GenuineIntel\nmodel name\t: Intel(R) Xeon(R) CPU\n"),
              "Intel(R) Xeon(R) CPU");
    EXPECT_EQ(SystemInfo::chipFromCpuInfo("processor : 0\nHardware : BCM2835\n"), "BCM2835");
    EXPECT_FALSE(SystemInfo::chipFromCpuInfo("processor : 0\nmodel name :\n"));
}

TEST(SystemInfoTest, SummaryKeepsTheKeyNames) {
    EXPECT_EQ(SystemInfo::summaryLine("6.1.0 (Debian GNU/Linux 13)", "UnknownChip", 4, 8, 17179869184ull, false),
              std::string("Linux 6.1.0 (Debian GNU/Linux 13), arch=") + std::string(SystemInfo::architecture()) +
                  ", chip=UnknownChip, cores=4/8, mem=16 GB, rosetta=false");
    const std::regex line(R"(Linux .+, arch=\w+, chip=.+, cores=\d+/\d+, mem=[\d.]+ \w+, rosetta=false)");
    EXPECT_TRUE(std::regex_match(SystemInfo::summary(), line)) << SystemInfo::summary();
    auto rss = SystemInfo::residentMemory();
    auto peak = SystemInfo::peakResidentMemory();
    ASSERT_TRUE(rss && peak);
    EXPECT_GT(*rss, 0u);
    EXPECT_GE(*peak, *rss / 2);
}

TEST(SystemInfoTest, ConcurrentLoadersLogOneHostLine) {
    platform::setRedactPrivate(false);
    platform::ScopedLogCapture capture;
    platform::WorkerPool pool(4);
    SystemInfoReporter reporter(pool);
    AppLogger first("DownloadUtils"), second("KokoroModelSet");
    std::vector<platform::JoinHandle<void>> handles;
    for (int i = 0; i < 16; ++i) handles.push_back(platform::spawn(pool, reporter.logSystemInfo(i % 2 ? first : second)));
    for (auto& h : handles)
        while (!h.done()) std::this_thread::yield();
    platform::setRedactPrivate(true);
    int hostLines = 0;
    for (const auto& l : capture->lines())
        if (l.message.rfind("Host environment: Linux ", 0) == 0) ++hostLines;
    EXPECT_EQ(hostLines, 1);
    EXPECT_EQ(capture->lines().at(0).level, platform::LogLevel::info);
}

}  // namespace
}  // namespace auralith
