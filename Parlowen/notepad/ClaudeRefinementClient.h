#pragma once

#include <string>
#include <string_view>

#include "Parlowen/model/RawEnum.h"
#include "Parlowen/notepad/RefinementClient.h"
#include "Parlowen/shell/KeychainStore.h"
#include "platform/http/HttpClient.h"

namespace parlowen {

// The cloud client: one Anthropic Messages request per call with the user's
// own key, no streaming, no retry. The text is sent as it is (no envelope).
class ClaudeRefinementClient final : public RefinementClient {
public:
    // The API's model identifiers are the raw values.
    enum class Model { haiku45, sonnet46, opus47 };

    // Failures (domain "ClaudeRefinementClient.RefinementError"). A keychain
    // failure other than a missing key is passed on unchanged.
    enum class RefinementError { network = 1, serverError = 2, badResponse = 3, missingKey = 4, timedOut = 5 };
    static constexpr const char* kErrorDomain = "ClaudeRefinementClient.RefinementError";
    static platform::Error network(platform::Error underlying);            // "Network error: ..."
    static platform::Error serverError(int status, std::string body);     // "Claude API <status>: <body>"
    static platform::Error badResponse(std::string detail);               // "Unexpected Claude response: ..."
    static platform::Error missingKey();                                  // "No Anthropic API key configured"
    static platform::Error timedOut();                                    // "Claude request timed out"

    static constexpr const char* kDefaultBaseUrl = "https://api.anthropic.com";
    static constexpr const char* kMessagesPath = "/v1/messages";
    static constexpr const char* kApiVersion = "2023-06-01";
    static constexpr int kMaxTokens = 4096;
    // Error bodies are carried and logged up to this many characters, then "…".
    static constexpr std::size_t kMaxErrorBodyChars = 500;

    // `keychain` and `http` must outlive the client. `baseUrl` is scheme and
    // host (and port), without a trailing slash.
    ClaudeRefinementClient(Model model, const KeychainStore& keychain, platform::HttpClient& http,
                           std::string baseUrl = kDefaultBaseUrl);

    // Reads the key afresh on every call; with none stored, nothing is sent.
    platform::Task<platform::Result<std::string>> refine(std::string text, std::string systemPrompt,
                                                         double timeout) override;
    std::string displayName() const override { return "Claude"; }
    bool isOnDevice() const override { return false; }

    Model model() const { return model_; }

    // The compact request body: model, max_tokens, one cached system block, one user message.
    static std::string requestBody(Model model, std::string_view systemPrompt, std::string_view text);

private:
    Model model_;
    const KeychainStore& keychain_;
    platform::HttpClient& http_;
    std::string baseUrl_;
};

template <>
struct EnumCases<ClaudeRefinementClient::Model> {
    static constexpr std::string_view typeName = "Model";
    static constexpr std::array cases{
        EnumCase{ClaudeRefinementClient::Model::haiku45, "claude-haiku-4-5-20251001"},
        EnumCase{ClaudeRefinementClient::Model::sonnet46, "claude-sonnet-4-6"},
        EnumCase{ClaudeRefinementClient::Model::opus47, "claude-opus-4-7"},
    };
};

}  // namespace parlowen
