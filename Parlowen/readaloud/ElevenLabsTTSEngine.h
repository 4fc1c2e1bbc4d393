#pragma once

// The ElevenLabs read-aloud voice: one streaming request per sentence, played
// while its raw PCM downloads (the shared cloud-voice design). It needs a
// voice id, which goes into the request's path; the speed follows the rate
// piecewise within 0.7-1.2.

#include <optional>
#include <string>
#include <string_view>

#include "Parlowen/readaloud/CloudVoiceEngine.h"

namespace parlowen {

// The voice's failures (domain "ElevenLabsTTSError"). Only httpStatus is raised.
struct ElevenLabsTTSError {
    static constexpr const char* kDomain = "ElevenLabsTTSError";
    static platform::Error httpStatus(int status, std::string message);
    static platform::Error unexpectedResponse();
};

class ElevenLabsTTSEngine final : public CloudVoiceEngine {
public:
    // Scheme and host (and port); the paths and the query are fixed.
    static constexpr const char* kDefaultBaseURL = "https://api.elevenlabs.io";
    static constexpr const char* kSynthesisPath = "/v1/text-to-speech";
    static constexpr const char* kStreamQuery = "/stream?output_format=pcm_24000&optimize_streaming_latency=3";
    static constexpr const char* kVoicesPath = "/v1/voices";
    static constexpr const char* kModel = "eleven_multilingual_v2";

    explicit ElevenLabsTTSEngine(CloudVoiceServices services, std::string baseURL = kDefaultBaseURL);

    std::string name() const override { return "ElevenLabs"; }

    static platform::Task<void> warmUpConnection(platform::HttpClient& http, std::string baseURL = kDefaultBaseURL);
    static platform::Task<ConnectionTestResult> testConnection(platform::HttpClient& http, std::string apiKey,
                                                               std::string baseURL = kDefaultBaseURL);

    // The rate clamped to 0-1; below 0.5: 0.7 + 0.6 r, else 1.0 + 0.4 (r - 0.5); within 0.7-1.2.
    static double speed(float rate);
    // The synthesis URL: the voice id percent-encoded as one path segment.
    static std::string synthesisURL(std::string_view baseURL, std::string_view voiceID);
    // Exactly text, model_id and voice_settings (stability, similarity_boost, speed).
    static platform::Result<std::string> requestBody(std::string_view text, double speed);

protected:
    KeychainStore::Key keyService() const override { return KeychainStore::Key::elevenLabs; }
    bool requiresVoice() const override { return true; }
    platform::Result<platform::HttpRequest> sentenceRequest(const SentenceFetch& fetch,
                                                            const std::string& apiKey) const override;
    bool rateChangeMatters(float storedRate, float newRate) const override;
    platform::Error httpStatusError(int status, std::string message) const override;
    std::string streamStartedDetails(const SentenceFetch& fetch) const override;

private:
    std::string baseURL_;
};

}  // namespace parlowen
