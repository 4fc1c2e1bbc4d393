#pragma once

// The outcome of one transcription, as plain values. The recognisers add
// their JSON coding and helpers to these.

#include <optional>
#include <string>
#include <vector>

#include "Auralith/foundation/ASRPerformanceMetrics.h"

namespace auralith {

struct TokenTiming {
    std::string token;
    int tokenId = 0;
    double startTime = 0;
    double endTime = 0;
    float confidence = 0;
    friend bool operator==(const TokenTiming&, const TokenTiming&) = default;
};

struct ASRResult {
    std::string text;
    float confidence = 0;
    double duration = 0;
    double processingTime = 0;
    std::optional<std::vector<TokenTiming>> tokenTimings;
    std::optional<ASRPerformanceMetrics> performanceMetrics;
    std::optional<std::vector<std::string>> ctcDetectedTerms;
    std::optional<std::vector<std::string>> ctcAppliedTerms;
    friend bool operator==(const ASRResult&, const ASRResult&) = default;
};

}  // namespace auralith
