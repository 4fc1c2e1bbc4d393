#include "Auralith/foundation/ASRPerformanceMetrics.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace auralith {
namespace {

TEST(ASRPerformanceMetricsTest, SummaryText) {
    ASRPerformanceMetrics m{0.0123, 0.5, 0.25, 1.0, 42.04f, 512.26f, std::nullopt};
    EXPECT_EQ(m.summary(),
              "Performance Metrics:\n- Preprocessor: 0.012s\n- Encoder: 0.500s\n- Decoder: 0.250s\n- Total: 1.000s\n"
              "- RTFx: 42.0x real-time\n- Peak Memory: 512.3 MB\n- GPU Utilization: N/A");
    m.gpuUtilization = 12.34f;
    EXPECT_TRUE(m.summary().ends_with("- GPU Utilization: 12.3%"));
}

TEST(ASRPerformanceMetricsTest, JsonKeysOrderAndOptionalGpu) {
    ASRPerformanceMetrics m{0.5, 1.25, 2, 4, 0.1f, 100.5f, 33.3f};
    EXPECT_EQ(m.toJson().dump(),
              R"({"preprocessorTime":0.5,"encoderTime":1.25,"decoderTime":2.0,"totalProcessingTime":4.0,)"
              R"("rtfx":0.1,"peakMemoryMB":100.5,"gpuUtilization":33.3})");
    auto back = ASRPerformanceMetrics::fromJson(m.toJson());
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, m);

    auto withoutGpu = m.toJson();
    withoutGpu.erase("gpuUtilization");
    auto decoded = ASRPerformanceMetrics::fromJson(withoutGpu);
    ASSERT_TRUE(decoded);
    EXPECT_FALSE(decoded->gpuUtilization);
    EXPECT_FALSE(ASRPerformanceMetrics{}.toJson().contains("gpuUtilization"));

    auto withoutRtfx = m.toJson();
    withoutRtfx.erase("rtfx");
    EXPECT_FALSE(ASRPerformanceMetrics::fromJson(withoutRtfx));
}

TEST(ASRPerformanceMetricsTest, Constants) {
    EXPECT_EQ(ASRConstants::encoderFrameCount(1), 1);
    EXPECT_EQ(ASRConstants::encoderFrameCount(1280), 1);
    EXPECT_EQ(ASRConstants::encoderFrameCount(1281), 2);
    EXPECT_EQ(ASRConstants::encoderFrameCount(0), 0);
    EXPECT_EQ(ASRConstants::minimumSampleCount(16000), 4800);
    EXPECT_EQ(ASRConstants::maxModelSamples, 240000);
}

}  // namespace
}  // namespace auralith
