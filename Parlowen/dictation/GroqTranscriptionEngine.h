#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Parlowen/dictation/TranscriptionEngine.h"
#include "Parlowen/model/DictationEngine.h"
#include "platform/audio/PcmConverter.h"
#include "platform/http/HttpClient.h"
#include "platform/runtime/Executor.h"

namespace parlowen {

// The cloud engine's failures (domain "GroqTranscriptionEngineError").
struct GroqTranscriptionEngineError {
    static constexpr const char* kDomain = "GroqTranscriptionEngineError";
    enum class Case { api = 1, invalidResponse = 2, recordingTooLong = 3 };

    // "Groq error <status>: <message>"
    static platform::Error api(int status, const std::string& message);
    // "Groq returned an unexpected response shape."
    static platform::Error invalidResponse();
    // Refused before any upload: the WAV file would pass the service's size limit.
    static platform::Error recordingTooLong(std::uint64_t wavBytes, std::uint64_t limitBytes);
};

struct GroqTranscriptionConfig {
    // The service's base URL (deployment configuration); the path is fixed.
    std::string baseURL = "https://api.groq.com";
    // The largest WAV file sent; a longer dictation is refused before upload.
    std::uint64_t maxUploadBytes = 25'000'000;
    // The longest wait with nothing moving.
    platform::Duration timeout = std::chrono::seconds(8);
};

// The cloud TranscriptionEngine: collects the session's audio as 16 kHz mono
// floats, and on finish posts it as one 16-bit WAV file to the transcription
// service with the user's key. No partial results.
//
// The API key is given by the creator (read from the keychain under the
// service "groq") and is never logged.
class GroqTranscriptionEngine : public TranscriptionEngine {
public:
    using Model = GroqTranscriptionModel;

    static constexpr double kTargetSampleRate = 16000;
    // 0.1 s: a recording this short or shorter is not sent.
    static constexpr std::size_t kMinimumSamples = 1601;

    GroqTranscriptionEngine(std::string apiKey, Model model, platform::HttpClient& http,
                            platform::Executor& background, GroqTranscriptionConfig config = {});
    ~GroqTranscriptionEngine() override;

    std::string name() const override { return "Groq"; }
    PartialCallback onPartial() const override;
    void setOnPartial(PartialCallback callback) override;

    // Builds the converter and its scratch for `captureFormat` (and runs
    // it once), so that append() allocates nothing from the first buffer.
    void prepare(const platform::PcmFormat& captureFormat) override;
    platform::Task<platform::Status> start() override;
    void append(const platform::PcmBuffer& buffer) override;
    platform::Task<platform::Result<std::string>> finish() override;
    void cancel() override;

    Model model() const;
    // base URL + "/openai/v1/audio/transcriptions"
    const std::string& endpoint() const;
    const platform::PcmFormat& targetFormat() const;

    // A 44-byte 16-bit mono 16 kHz WAV header and the samples, little-endian.
    static platform::Bytes wavData(std::span<const float> samples);
    // One sample as written: 1 or more is 32767, NaN is 0, else max(x, -1) x 32767 truncated.
    static std::int16_t pcm16(float sample);
    // The multipart/form-data body with the file, the model and response_format=json.
    static platform::Bytes multipartBody(std::string_view boundary, const platform::Bytes& wav, Model model);

    // Everything a session's tasks use: they hold it, so the engine may go
    // (a cached engine replaced mid-request) while a request is in flight.
    struct Core;

private:
    struct Transcription {
        std::string text;
        std::int64_t milliseconds = 0;
    };

    static platform::Task<platform::Status> startImpl(std::shared_ptr<Core> core);
    static platform::Task<platform::Result<std::string>> finishImpl(std::shared_ptr<Core> core);

    std::shared_ptr<Core> core_;
};

}  // namespace parlowen
