#pragma once

// The streaming Sortformer diarizer's published model variants and its
// settings record, as plain values. The catalogue of model files needs them
// (variant bundle names, compatibility of a configuration with a bundle);
// the diarizer adds its construction rules and presets on top.

#include <optional>

namespace auralith {

enum class SortformerVariant { fastV2, fastV2_1, balancedV2, balancedV2_1, highContextV2, highContextV2_1 };

struct SortformerConfig {
    std::optional<SortformerVariant> modelVariant;
    int numSpeakers = 4;
    int preEncoderDims = 512;
    int subsamplingFactor = 8;
    int chunkLen = 6;
    int chunkLeftContext = 1;
    int chunkRightContext = 7;
    int fifoLen = 40;
    int spkcacheLen = 188;
    int spkcacheUpdatePeriod = 31;
    int spkcacheSilFramesPerSpk = 0;
    bool debugMode = false;
    int sampleRate = 16000;
    int melWindow = 400;
    int melStride = 160;
    int melFeatures = 128;
    float silenceThreshold = 0.2f;
    float predScoreThreshold = 0.25f;
    float scoresBoostLatest = 0.05f;
    float strongBoostRate = 0.75f;
    float weakBoostRate = 1.5f;
    float minPosScoresRate = 0.5f;
    int maxIndex = 99999;

    friend bool operator==(const SortformerConfig&, const SortformerConfig&) = default;
};

}  // namespace auralith
