#include "Auralith/diarization/DiarizerError.h"

#include <gtest/gtest.h>

namespace auralith {
namespace {

TEST(DiarizerErrorTest, DescriptionsAndConversion) {
    struct Case {
        DiarizerError error;
        const char* text;
    };
    const Case cases[] = {
        {DiarizerError::processingFailed("Missing segments output from segmentation model"),
         "Processing failed: Missing segments output from segmentation model"},
        {DiarizerError::notInitialized(), "Diarization system not initialized. Call initialize() first."},
        {DiarizerError::modelDownloadFailed(), "Failed to download required models."},
        {DiarizerError::modelCompilationFailed(), "Failed to compile CoreML models."},
        {DiarizerError::embeddingExtractionFailed(), "Failed to extract speaker embedding from audio."},
        {DiarizerError::invalidAudioData(), "Invalid audio data provided."},
        {DiarizerError::memoryAllocationFailed(), "Failed to allocate ANE-aligned memory."},
        {DiarizerError::invalidArrayBounds(), "Array bounds exceeded for zero-copy view."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.error.description(), c.text);
        const auto e = toError(c.error);
        EXPECT_EQ(e.description, c.text);
        EXPECT_TRUE(isDiarizerError(e, c.error.kind));
    }
    EXPECT_EQ(toError(DiarizerError::invalidArrayBounds()).caseName, "invalidArrayBounds");
    EXPECT_FALSE(isDiarizerError(toError(DiarizerError::notInitialized()), DiarizerError::Case::invalidAudioData));
}

}  // namespace
}  // namespace auralith
