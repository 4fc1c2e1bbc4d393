#pragma once

// The Cartesia read-aloud voice: one synthesis request per sentence, played
// while its raw PCM downloads (the shared cloud-voice design). It needs a
// voice id; the speed is a word ("slow", "normal", "fast").

#include <optional>
#include <string>
#include <string_view>

#include "Parlowen/readaloud/CloudVoiceEngine.h"

namespace parlowen {

// The voice's failures (domain "CartesiaTTSError"). Only httpStatus is raised.
struct CartesiaTTSError {
    static constexpr const char* kDomain = "CartesiaTTSError";
    static platform::Error httpStatus(int status, std::string message);
    static platform::Error audioInitFailed();
    static platform::Error unexpectedResponse();
};

class CartesiaTTSEngine final : public CloudVoiceEngine {
public:
    // Scheme and host (and port); the paths are fixed.
    static constexpr const char* kDefaultBaseURL = "https://api.cartesia.ai";
    static constexpr const char* kSynthesisPath = "/tts/bytes";
    static constexpr const char* kVoicesPath = "/voices";
    static constexpr const char* kVersion = "2024-11-13";
    static constexpr const char* kModel = "sonic-3.5";

    explicit CartesiaTTSEngine(CloudVoiceServices services, std::string baseURL = kDefaultBaseURL);

    std::string name() const override { return "Cartesia Sonic"; }

    static platform::Task<void> warmUpConnection(platform::HttpClient& http, std::string baseURL = kDefaultBaseURL);
    static platform::Task<ConnectionTestResult> testConnection(platform::HttpClient& http, std::string apiKey,
                                                               std::string baseURL = kDefaultBaseURL);

    // "slow" below 0.34, "fast" above 0.66, else "normal" (both thresholds are "normal").
    static const char* speedWord(float rate);
    // The six members: model_id, transcript, voice, output_format, language, speed.
    static platform::Result<std::string> requestBody(std::string_view text, std::string_view voiceID,
                                                     std::string_view speed);

protected:
    KeychainStore::Key keyService() const override { return KeychainStore::Key::cartesia; }
    bool requiresVoice() const override { return true; }
    platform::Result<platform::HttpRequest> sentenceRequest(const SentenceFetch& fetch,
                                                            const std::string& apiKey) const override;
    bool rateChangeMatters(float storedRate, float newRate) const override;
    platform::Error httpStatusError(int status, std::string message) const override;
    std::string streamStartedDetails(const SentenceFetch& fetch) const override;

private:
    static platform::HttpHeaders keyHeaders(const std::string& apiKey);

    std::string baseURL_;
};

}  // namespace parlowen
