#include "Parlowen/readaloud/CartesiaTTSEngine.h"

#include <cstring>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

namespace parlowen {

using platform::Error;

Error CartesiaTTSError::httpStatus(int status, std::string message) {
    return cloud_voice_error::httpStatus(kDomain, status, std::move(message));
}
Error CartesiaTTSError::audioInitFailed() { return cloud_voice_error::audioInitFailed(kDomain); }
Error CartesiaTTSError::unexpectedResponse() { return cloud_voice_error::unexpectedResponse(kDomain); }

CartesiaTTSEngine::CartesiaTTSEngine(CloudVoiceServices services, std::string baseURL)
    : CloudVoiceEngine(services, "cartesia"), baseURL_(std::move(baseURL)) {}

const char* CartesiaTTSEngine::speedWord(float rate) {
    if (rate < 0.34f) return "slow";
    if (rate > 0.66f) return "fast";
    return "normal";
}

platform::Result<std::string> CartesiaTTSEngine::requestBody(std::string_view text, std::string_view voiceID,
                                                             std::string_view speed) {
    nlohmann::ordered_json body = nlohmann::ordered_json::object();
    body["model_id"] = kModel;
    body["transcript"] = std::string(text);
    body["voice"] = {{"mode", "id"}, {"id", std::string(voiceID)}};
    body["output_format"] = {{"container", "raw"}, {"sample_rate", 24000}, {"encoding", "pcm_s16le"}};
    body["language"] = "en";
    body["speed"] = std::string(speed);
    return serialise(body);
}

platform::HttpHeaders CartesiaTTSEngine::keyHeaders(const std::string& apiKey) {
    platform::HttpHeaders headers;
    headers.add("Authorization", "Bearer " + apiKey);
    headers.add("Cartesia-Version", kVersion);
    return headers;
}

platform::Result<platform::HttpRequest> CartesiaTTSEngine::sentenceRequest(const SentenceFetch& fetch,
                                                                           const std::string& apiKey) const {
    auto body = requestBody(fetch.text, fetch.voice.value_or(""), speedWord(fetch.rate));
    if (!body) return platform::fail(body.error());
    platform::HttpRequest request;
    request.url = baseURL_ + kSynthesisPath;
    request.headers = keyHeaders(apiKey);
    request.headers.add("Content-Type", "application/json");
    request.body.assign(body->begin(), body->end());
    return request;
}

bool CartesiaTTSEngine::rateChangeMatters(float storedRate, float newRate) const {
    return std::strcmp(speedWord(storedRate), speedWord(newRate)) != 0;
}

Error CartesiaTTSEngine::httpStatusError(int status, std::string message) const {
    return CartesiaTTSError::httpStatus(status, std::move(message));
}

std::string CartesiaTTSEngine::streamStartedDetails(const SentenceFetch& fetch) const {
    return fmt::format("voice={} speed={}", shortVoiceID(fetch.voice.value_or("")), speedWord(fetch.rate));
}

platform::Task<void> CartesiaTTSEngine::warmUpConnection(platform::HttpClient& http, std::string baseURL) {
    return warmUp(http, baseURL + kVoicesPath);
}

platform::Task<ConnectionTestResult> CartesiaTTSEngine::testConnection(platform::HttpClient& http, std::string apiKey,
                                                                       std::string baseURL) {
    return testKey(http, baseURL + kVoicesPath, keyHeaders(apiKey));
}

}  // namespace parlowen
