#pragma once

// The OpenAI read-aloud voice: one speech request per sentence, played while
// its raw PCM downloads (the shared cloud-voice design). A missing voice is
// "nova"; the speed sent follows the rate (twice it, within 0.25-2.0).

#include <optional>
#include <string>
#include <string_view>

#include "Parlowen/readaloud/CloudVoiceEngine.h"

namespace parlowen {

// The voice's failures (domain "OpenAITTSError"). Only httpStatus is raised.
struct OpenAITTSError {
    static constexpr const char* kDomain = "OpenAITTSError";
    // "HTTP <status>: <message>"
    static platform::Error httpStatus(int status, std::string message);
    // "Audio init / playback failed"
    static platform::Error audioInitFailed();
    // "URLResponse was not HTTPURLResponse"
    static platform::Error unexpectedResponse();

    // The status and message of an httpStatus error.
    static std::optional<cloud_voice_error::HttpStatus> httpStatusOf(const platform::Error& error);
};

class OpenAITTSEngine final : public CloudVoiceEngine {
public:
    // Scheme and host (and port); the paths are fixed.
    static constexpr const char* kDefaultBaseURL = "https://api.openai.com";
    static constexpr const char* kSpeechPath = "/v1/audio/speech";
    static constexpr const char* kModelsPath = "/v1/models";
    static constexpr const char* kModel = "gpt-4o-mini-tts";
    static constexpr const char* kResponseFormat = "pcm";
    static constexpr const char* kDefaultVoice = "nova";

    explicit OpenAITTSEngine(CloudVoiceServices services, std::string baseURL = kDefaultBaseURL);

    std::string name() const override { return "OpenAI TTS"; }
    // The part of the voice's picker label before " —"; "Nova" for no or an unknown voice.
    std::string voiceDisplayName(const std::optional<std::string>& voiceIdentifier) override;

    // Opens a connection ahead of the first sentence; never fails.
    static platform::Task<void> warmUpConnection(platform::HttpClient& http, std::string baseURL = kDefaultBaseURL);
    // Tests `apiKey` (not the stored key) against the models list.
    static platform::Task<ConnectionTestResult> testConnection(platform::HttpClient& http, std::string apiKey,
                                                               std::string baseURL = kDefaultBaseURL);

    // 2 x rate within 0.25-2.0.
    static double speed(float rate);
    // The request body: exactly model, input, voice, response_format and speed.
    static platform::Result<std::string> requestBody(std::string_view text, std::string_view voice, double speed);

protected:
    KeychainStore::Key keyService() const override { return KeychainStore::Key::openAI; }
    bool requiresVoice() const override { return false; }
    platform::Result<platform::HttpRequest> sentenceRequest(const SentenceFetch& fetch,
                                                            const std::string& apiKey) const override;
    bool rateChangeMatters(float storedRate, float newRate) const override;
    platform::Error httpStatusError(int status, std::string message) const override;
    std::string streamStartedDetails(const SentenceFetch& fetch) const override;
    // An HTTP failure's message is private.
    void logStreamFailed(std::int64_t index, const platform::Error& error) const override;

private:
    static std::string voiceFor(const SentenceFetch& fetch);

    std::string baseURL_;
};

}  // namespace parlowen
