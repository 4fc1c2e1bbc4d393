#pragma once

#include <string>

#include "platform/runtime/Error.h"

namespace auralith {

// The error of the diarization pipeline, of model acquisition, and of the
// aligned-array helpers that feed its models.
struct DiarizerError {
    enum class Case {
        processingFailed,
        notInitialized,
        modelDownloadFailed,
        modelCompilationFailed,
        embeddingExtractionFailed,
        invalidAudioData,
        memoryAllocationFailed,
        invalidArrayBounds,
    };
    Case kind = Case::processingFailed;
    std::string message;  // processingFailed only

    static DiarizerError processingFailed(std::string message) { return {Case::processingFailed, std::move(message)}; }
    static DiarizerError notInitialized() { return {Case::notInitialized, {}}; }
    static DiarizerError modelDownloadFailed() { return {Case::modelDownloadFailed, {}}; }
    static DiarizerError modelCompilationFailed() { return {Case::modelCompilationFailed, {}}; }
    static DiarizerError embeddingExtractionFailed() { return {Case::embeddingExtractionFailed, {}}; }
    static DiarizerError invalidAudioData() { return {Case::invalidAudioData, {}}; }
    static DiarizerError memoryAllocationFailed() { return {Case::memoryAllocationFailed, {}}; }
    static DiarizerError invalidArrayBounds() { return {Case::invalidArrayBounds, {}}; }

    std::string description() const;
    friend bool operator==(const DiarizerError&, const DiarizerError&) = default;
};

inline constexpr const char* kDiarizerErrorDomain = "DiarizerError";

// Domain "DiarizerError", code = the case's position, the description as text.
platform::Error toError(const DiarizerError& error);
// The case of an error made by toError, for callers that match on it.
bool isDiarizerError(const platform::Error& error, DiarizerError::Case kind);

}  // namespace auralith
