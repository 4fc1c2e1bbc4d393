#include "Parlowen/readaloud/ElevenLabsTTSEngine.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "platform/values/Url.h"

namespace parlowen {

using platform::Error;

Error ElevenLabsTTSError::httpStatus(int status, std::string message) {
    return cloud_voice_error::httpStatus(kDomain, status, std::move(message));
}
Error ElevenLabsTTSError::unexpectedResponse() { return cloud_voice_error::unexpectedResponse(kDomain); }

ElevenLabsTTSEngine::ElevenLabsTTSEngine(CloudVoiceServices services, std::string baseURL)
    : CloudVoiceEngine(services, "elevenlabs"), baseURL_(std::move(baseURL)) {}

double ElevenLabsTTSEngine::speed(float rate) {
    const float r = rate > 1.0f ? 1.0f : rate > 0.0f ? rate : 0.0f;
    const double s = r < 0.5f ? 0.7 + 0.6 * static_cast<double>(r) : 1.0 + 0.4 * static_cast<double>(r - 0.5f);
    return std::min(std::max(s, 0.7), 1.2);
}

std::string ElevenLabsTTSEngine::synthesisURL(std::string_view baseURL, std::string_view voiceID) {
    // One path segment whatever the id holds: "/", "?", "#" or a blank cannot
    // change the request's path or query.
    return std::string(baseURL) + kSynthesisPath + "/" +
           platform::percentEncode(voiceID, platform::UrlCharacterSet::unreserved) + kStreamQuery;
}

platform::Result<std::string> ElevenLabsTTSEngine::requestBody(std::string_view text, double speed) {
    nlohmann::ordered_json body = nlohmann::ordered_json::object();
    body["text"] = std::string(text);
    body["model_id"] = kModel;
    body["voice_settings"] = {{"stability", 0.5}, {"similarity_boost", 0.75}, {"speed", speed}};
    return serialise(body);
}

platform::Result<platform::HttpRequest> ElevenLabsTTSEngine::sentenceRequest(const SentenceFetch& fetch,
                                                                             const std::string& apiKey) const {
    auto body = requestBody(fetch.text, speed(fetch.rate));
    if (!body) return platform::fail(body.error());
    platform::HttpRequest request;
    request.url = synthesisURL(baseURL_, fetch.voice.value_or(""));
    request.headers.add("xi-api-key", apiKey);
    request.headers.add("Content-Type", "application/json");
    request.body.assign(body->begin(), body->end());
    return request;
}

bool ElevenLabsTTSEngine::rateChangeMatters(float storedRate, float newRate) const {
    return std::fabs(speed(newRate) - speed(storedRate)) > 0.01;
}

Error ElevenLabsTTSEngine::httpStatusError(int status, std::string message) const {
    return ElevenLabsTTSError::httpStatus(status, std::move(message));
}

std::string ElevenLabsTTSEngine::streamStartedDetails(const SentenceFetch& fetch) const {
    return fmt::format("voice={} speed={:f}", shortVoiceID(fetch.voice.value_or("")), speed(fetch.rate));
}

platform::Task<void> ElevenLabsTTSEngine::warmUpConnection(platform::HttpClient& http, std::string baseURL) {
    return warmUp(http, baseURL + kVoicesPath);
}

platform::Task<ConnectionTestResult> ElevenLabsTTSEngine::testConnection(platform::HttpClient& http,
                                                                         std::string apiKey, std::string baseURL) {
    platform::HttpHeaders headers;
    headers.add("xi-api-key", apiKey);
    return testKey(http, baseURL + kVoicesPath, std::move(headers));
}

}  // namespace parlowen
