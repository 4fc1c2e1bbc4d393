#include "Parlowen/notepad/ClaudeRefinementClient.h"

#include <chrono>

#include <nlohmann/json.hpp>

#include "platform/log/Log.h"
#include "platform/text/Unicode.h"
#include "platform/values/Json.h"

namespace parlowen {
namespace {

using platform::Error;
using platform::Json;
using platform::Result;
using platform::Task;
using Client = ClaudeRefinementClient;

const platform::Logger& logger() {
    static const platform::Logger log("com.kelvatrum.Parlowen", "claude");
    return log;
}

Error make(Client::RefinementError code, const char* caseName, std::string description) {
    return Error::make(Client::kErrorDomain, static_cast<int>(code), caseName, std::move(description));
}

std::string errorBodyText(const platform::Bytes& body) {
    std::string text(body.begin(), body.end());
    if (!platform::text::isValidUtf8(text)) return "(non-utf8 body)";
    if (platform::text::graphemeCount(text) <= Client::kMaxErrorBodyChars) return text;
    return platform::text::graphemePrefix(text, Client::kMaxErrorBodyChars) + "…";
}

// The text blocks joined; one malformed block of any type fails the whole answer.
Result<std::string> answerText(const platform::Bytes& body) {
    auto json = platform::decodeJson(platform::ByteView(body.data(), body.size()));
    if (!json) return platform::fail(json.error());
    auto content = platform::requireArray(*json, "content");
    if (!content) return platform::fail(content.error());
    std::string joined;
    for (const auto& block : **content) {
        auto type = platform::requireString(block, "type");
        if (!type) return platform::fail(type.error());
        auto text = platform::optionalString(block, "text");
        if (!text) return platform::fail(text.error());
        if (*type == "text" && *text) joined += **text;
    }
    return joined;
}

// The request's idle limit. Zero would mean no limit at all, so a limit of
// nothing (or not a number) becomes the shortest one; decades mean none.
platform::Duration transferTimeout(double timeout) {
    if (!(timeout > 0)) return platform::Duration(1);
    if (timeout > 1e9) return platform::Duration::zero();
    return std::max(platform::Duration(1), platform::Duration(static_cast<std::int64_t>(timeout * 1e9)));
}

}  // namespace

Error Client::network(Error underlying) {
    return make(RefinementError::network, "network", "Network error: " + underlying.description)
        .withUnderlying(std::move(underlying));
}
Error Client::serverError(int status, std::string body) {
    return make(RefinementError::serverError, "serverError", "Claude API " + std::to_string(status) + ": " + body);
}
Error Client::badResponse(std::string detail) {
    return make(RefinementError::badResponse, "badResponse", "Unexpected Claude response: " + detail);
}
Error Client::missingKey() { return make(RefinementError::missingKey, "missingKey", "No Anthropic API key configured"); }
Error Client::timedOut() { return make(RefinementError::timedOut, "timedOut", "Claude request timed out"); }

ClaudeRefinementClient::ClaudeRefinementClient(Model model, const KeychainStore& keychain, platform::HttpClient& http,
                                               std::string baseUrl)
    : model_(model), keychain_(keychain), http_(http), baseUrl_(std::move(baseUrl)) {}

std::string ClaudeRefinementClient::requestBody(Model model, std::string_view systemPrompt, std::string_view text) {
    Json systemBlock = Json::object();
    systemBlock["type"] = "text";
    systemBlock["text"] = std::string(systemPrompt);
    systemBlock["cache_control"] = Json::object({{"type", "ephemeral"}});
    Json message = Json::object();
    message["role"] = "user";
    message["content"] = std::string(text);

    Json body = Json::object();
    body["model"] = std::string(rawValue(model));
    body["max_tokens"] = kMaxTokens;
    body["system"] = Json::array({systemBlock});
    body["messages"] = Json::array({message});
    // Text that is not valid UTF-8 goes out with U+FFFD in place of the bad bytes.
    return body.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Task<Result<std::string>> ClaudeRefinementClient::refine(std::string text, std::string systemPrompt, double timeout) {
    platform::Executor& executor = co_await platform::currentExecutor();
    auto key = co_await keychain_.readAsync(KeychainStore::Key::anthropic);
    if (!key) {
        auto keychainFailure = keychainError(key.error());
        if (keychainFailure && keychainFailure->kind == KeychainError::Case::missing)
            co_return platform::fail(missingKey());
        co_return platform::fail(key.error());
    }

    platform::HttpRequest request;
    request.method = "POST";
    request.url = baseUrl_ + kMessagesPath;
    request.headers.add("content-type", "application/json");
    request.headers.add("x-api-key", *key);
    request.headers.add("anthropic-version", kApiVersion);
    std::string body = requestBody(model_, systemPrompt, text);
    request.body.assign(body.begin(), body.end());
    request.timeout = transferTimeout(timeout);

    auto start = executor.now();
    auto response = co_await http_.send(std::move(request));
    if (!response) {
        const Error& e = response.error();
        if (platform::isHttpError(e, platform::HttpError::timedOut)) co_return platform::fail(timedOut());
        if (e.isCancellation() && (co_await platform::currentStopToken()).stop_requested())
            co_return platform::fail(Error::cancelled());
        co_return platform::fail(network(e));
    }
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(executor.now() - start).count();

    if (!response->isSuccess()) {
        std::string shown = errorBodyText(response->body);
        logger().error("claude {} in {}ms: {}", response->status, ms, platform::priv(shown));
        co_return platform::fail(serverError(response->status, std::move(shown)));
    }
    auto answer = answerText(response->body);
    if (!answer) co_return platform::fail(badResponse("decode failed: " + answer.error().description));
    if (answer->empty()) co_return platform::fail(badResponse("empty content"));
    logger().info("claude {} in {}ms ({} chars)", rawValue(model_), ms, platform::text::graphemeCount(*answer));
    co_return std::move(*answer);
}

}  // namespace parlowen
