#include "Auralith/foundation/ASRPerformanceMetrics.h"

#include <nlohmann/json.hpp>

#include <fmt/format.h>

#include "platform/values/Json.h"
#include "platform/values/Number.h"

namespace auralith {

std::string ASRPerformanceMetrics::summary() const {
    return fmt::format(
        "Performance Metrics:\n- Preprocessor: {:.3f}s\n- Encoder: {:.3f}s\n- Decoder: {:.3f}s\n- Total: {:.3f}s\n"
        "- RTFx: {:.1f}x real-time\n- Peak Memory: {:.1f} MB\n- GPU Utilization: {}",
        preprocessorTime, encoderTime, decoderTime, totalProcessingTime, rtfx, peakMemoryMB,
        gpuUtilization ? fmt::format("{:.1f}%", *gpuUtilization) : std::string("N/A"));
}

namespace {
// Single-precision fields are written with their own shortest digits (0.1, not 0.10000000149011612).
double shortestFloat(float v) { return std::stod(platform::formatShortest(v)); }
}  // namespace

nlohmann::ordered_json ASRPerformanceMetrics::toJson() const {
    nlohmann::ordered_json j;
    j["preprocessorTime"] = preprocessorTime;
    j["encoderTime"] = encoderTime;
    j["decoderTime"] = decoderTime;
    j["totalProcessingTime"] = totalProcessingTime;
    j["rtfx"] = shortestFloat(rtfx);
    j["peakMemoryMB"] = shortestFloat(peakMemoryMB);
    if (gpuUtilization) j["gpuUtilization"] = shortestFloat(*gpuUtilization);
    return j;
}

platform::Result<ASRPerformanceMetrics> ASRPerformanceMetrics::fromJson(const nlohmann::ordered_json& json) {
    ASRPerformanceMetrics m;
    for (auto [key, target] : {std::pair{"preprocessorTime", &m.preprocessorTime}, std::pair{"encoderTime", &m.encoderTime},
                               std::pair{"decoderTime", &m.decoderTime},
                               std::pair{"totalProcessingTime", &m.totalProcessingTime}}) {
        auto v = platform::requireDouble(json, key);
        if (!v) return platform::fail(v.error());
        *target = *v;
    }
    auto rtfx = platform::requireDouble(json, "rtfx");
    if (!rtfx) return platform::fail(rtfx.error());
    m.rtfx = static_cast<float>(*rtfx);
    auto peak = platform::requireDouble(json, "peakMemoryMB");
    if (!peak) return platform::fail(peak.error());
    m.peakMemoryMB = static_cast<float>(*peak);
    auto gpu = platform::optionalDouble(json, "gpuUtilization");
    if (!gpu) return platform::fail(gpu.error());
    if (*gpu) m.gpuUtilization = static_cast<float>(**gpu);
    return m;
}

}  // namespace auralith
