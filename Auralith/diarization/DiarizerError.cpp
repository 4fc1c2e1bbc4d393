#include "Auralith/diarization/DiarizerError.h"

namespace auralith {

namespace {
const char* caseName(DiarizerError::Case c) {
    switch (c) {
        case DiarizerError::Case::processingFailed: return "processingFailed";
        case DiarizerError::Case::notInitialized: return "notInitialized";
        case DiarizerError::Case::modelDownloadFailed: return "modelDownloadFailed";
        case DiarizerError::Case::modelCompilationFailed: return "modelCompilationFailed";
        case DiarizerError::Case::embeddingExtractionFailed: return "embeddingExtractionFailed";
        case DiarizerError::Case::invalidAudioData: return "invalidAudioData";
        case DiarizerError::Case::memoryAllocationFailed: return "memoryAllocationFailed";
        case DiarizerError::Case::invalidArrayBounds: return "invalidArrayBounds";
    }
    return "unknown";
}
}  // namespace

std::string DiarizerError::description() const {
    switch (kind) {
        case Case::processingFailed: return "Processing failed: " + message;
        case Case::notInitialized: return "Diarization system not initialized. Call initialize() first.";
        case Case::modelDownloadFailed: return "Failed to download required models.";
        case Case::modelCompilationFailed: return "Failed to compile CoreML models.";
        case Case::embeddingExtractionFailed: return "Failed to extract speaker embedding from audio.";
        case Case::invalidAudioData: return "Invalid audio data provided.";
        case Case::memoryAllocationFailed: return "Failed to allocate ANE-aligned memory.";
        case Case::invalidArrayBounds: return "Array bounds exceeded for zero-copy view.";
    }
    return {};
}

platform::Error toError(const DiarizerError& error) {
    return platform::Error::make(kDiarizerErrorDomain, static_cast<int>(error.kind), caseName(error.kind),
                                 error.description());
}

bool isDiarizerError(const platform::Error& error, DiarizerError::Case kind) {
    return error.is(kDiarizerErrorDomain, static_cast<int>(kind));
}

}  // namespace auralith
