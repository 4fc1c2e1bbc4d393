#include "Parlowen/readaloud/OpenAITTSEngine.h"

#include <algorithm>
#include <cmath>

#include <nlohmann/json.hpp>

#include "Parlowen/model/ReadAloudEngineKind.h"

namespace parlowen {

using platform::Error;

Error OpenAITTSError::httpStatus(int status, std::string message) {
    return cloud_voice_error::httpStatus(kDomain, status, std::move(message));
}
Error OpenAITTSError::audioInitFailed() { return cloud_voice_error::audioInitFailed(kDomain); }
Error OpenAITTSError::unexpectedResponse() { return cloud_voice_error::unexpectedResponse(kDomain); }
std::optional<cloud_voice_error::HttpStatus> OpenAITTSError::httpStatusOf(const Error& error) {
    return cloud_voice_error::httpStatusOf(kDomain, error);
}

OpenAITTSEngine::OpenAITTSEngine(CloudVoiceServices services, std::string baseURL)
    : CloudVoiceEngine(services, "openai"), baseURL_(std::move(baseURL)) {}

double OpenAITTSEngine::speed(float rate) { return std::min(std::max(2.0 * static_cast<double>(rate), 0.25), 2.0); }

platform::Result<std::string> OpenAITTSEngine::requestBody(std::string_view text, std::string_view voice,
                                                           double speed) {
    nlohmann::ordered_json body = nlohmann::ordered_json::object();
    body["model"] = kModel;
    body["input"] = std::string(text);
    body["voice"] = std::string(voice);
    body["response_format"] = kResponseFormat;
    body["speed"] = speed;
    return serialise(body);
}

std::string OpenAITTSEngine::voiceFor(const SentenceFetch& fetch) { return fetch.voice.value_or(kDefaultVoice); }

platform::Result<platform::HttpRequest> OpenAITTSEngine::sentenceRequest(const SentenceFetch& fetch,
                                                                         const std::string& apiKey) const {
    auto body = requestBody(fetch.text, voiceFor(fetch), speed(fetch.rate));
    if (!body) return platform::fail(body.error());
    platform::HttpRequest request;
    request.url = baseURL_ + kSpeechPath;
    request.headers.add("Authorization", "Bearer " + apiKey);
    request.headers.add("Content-Type", "application/json");
    request.body.assign(body->begin(), body->end());
    return request;
}

bool OpenAITTSEngine::rateChangeMatters(float storedRate, float newRate) const {
    return std::fabs(newRate - storedRate) > 0.001f;
}

Error OpenAITTSEngine::httpStatusError(int status, std::string message) const {
    return OpenAITTSError::httpStatus(status, std::move(message));
}

std::string OpenAITTSEngine::streamStartedDetails(const SentenceFetch& fetch) const {
    return std::string("model=") + kModel + " voice=" + voiceFor(fetch);
}

void OpenAITTSEngine::logStreamFailed(std::int64_t index, const Error& error) const {
    if (auto http = OpenAITTSError::httpStatusOf(error)) {
        logger().error("openai stream failed (sentence {}): HTTP {}: {}", index, http->status,
                       platform::priv(http->message));
        return;
    }
    CloudVoiceEngine::logStreamFailed(index, error);
}

std::string OpenAITTSEngine::voiceDisplayName(const std::optional<std::string>& voiceIdentifier) {
    if (!voiceIdentifier) return "Nova";
    auto voice = fromRawValue<OpenAITTSVoice>(*voiceIdentifier);
    if (!voice) return "Nova";
    std::string_view label = displayLabel(*voice);
    const std::string_view separator = " \u2014";
    auto at = label.find(separator);
    // Everything before the first separator; a label that starts with one has
    // an empty first piece, which the split drops, so the next piece is it.
    std::size_t start = 0;
    while (at == start) {
        start = at + separator.size();
        at = label.find(separator, start);
    }
    if (start >= label.size()) return std::string(label);
    return std::string(label.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
}

platform::Task<void> OpenAITTSEngine::warmUpConnection(platform::HttpClient& http, std::string baseURL) {
    return warmUp(http, baseURL + kModelsPath);
}

platform::Task<ConnectionTestResult> OpenAITTSEngine::testConnection(platform::HttpClient& http, std::string apiKey,
                                                                     std::string baseURL) {
    platform::HttpHeaders headers;
    headers.add("Authorization", "Bearer " + apiKey);
    return testKey(http, baseURL + kModelsPath, std::move(headers));
}

}  // namespace parlowen
