#include "Parlowen/notepad/AppleIntelligenceRefinementClient.h"

#include <chrono>
#include <cmath>
#include <vector>

#include "Parlowen/notepad/PromptEnvelope.h"
#include "platform/log/Log.h"
#include "platform/text/Unicode.h"

namespace parlowen {
namespace {

using platform::Error;
using platform::Result;
using platform::Task;
using Client = AppleIntelligenceRefinementClient;

const platform::Logger& logger() {
    static const platform::Logger log("com.kelvatrum.Parlowen", "apple-intelligence");
    return log;
}

Error make(Client::RefinementError code, const char* caseName, std::string description) {
    return Error::make(Client::kErrorDomain, static_cast<int>(code), caseName, std::move(description));
}

Task<Result<std::string>> timerTask(platform::Duration limit) {
    auto slept = co_await platform::sleepFor(limit);
    if (!slept) co_return platform::fail(slept.error());
    co_return platform::fail(Client::timedOut());
}

// Whole nanoseconds, truncated. Nothing sensible asks for less than nothing,
// and a limit of decades is no limit.
std::optional<platform::Duration> limitFor(double timeout) {
    if (!(timeout > 0)) return platform::Duration::zero();
    if (timeout > 1e9) return std::nullopt;
    return platform::Duration(static_cast<std::int64_t>(timeout * 1e9));
}

}  // namespace

Error Client::unavailable(std::string reason) {
    return make(RefinementError::unavailable, "unavailable", "Apple Intelligence unavailable: " + reason);
}
Error Client::generation(Error underlying) {
    return make(RefinementError::generation, "generation",
                "Apple Intelligence generation failed: " + underlying.description)
        .withUnderlying(std::move(underlying));
}
Error Client::empty() {
    return make(RefinementError::empty, "empty", "Apple Intelligence returned an empty response");
}
Error Client::timedOut() {
    return make(RefinementError::timedOut, "timedOut", "Apple Intelligence request timed out");
}

Task<Result<std::string>> respondWithLanguageModel(std::shared_ptr<platform::LanguageModelSession> session,
                                                   std::string prompt) {
    co_return co_await session->respond(std::move(prompt));
}

Task<Result<std::string>> AppleIntelligenceRefinementClient::refine(std::string text, std::string systemPrompt,
                                                                    double timeout) {
    platform::Executor& executor = co_await platform::currentExecutor();
    auto availability = model_.availability();
    if (availability == platform::LanguageModelAvailability::systemTooOld)
        co_return platform::fail(unavailable(kSystemTooOldReason));
    if (availability != platform::LanguageModelAvailability::available)
        co_return platform::fail(unavailable(kModelUnavailableReason));

    auto start = executor.now();
    auto session = model_.makeSession(std::move(systemPrompt));
    std::string prompt = PromptEnvelope::wrap(text, kEnvelopeInstruction);

    // The first of answer and time limit wins. The loser is asked to stop and
    // is not waited for: a model that keeps going finishes in the background
    // and its answer is dropped.
    std::vector<Task<Result<std::string>>> racers;
    // The model's side owns the session, so it may outlive this call when the
    // model ignores the stop request.
    racers.push_back(respondWithLanguageModel(std::move(session), std::move(prompt)));
    if (auto limit = limitFor(timeout)) racers.push_back(timerTask(*limit));
    auto [index, outcome] = co_await platform::firstOf(std::move(racers));
    (void)index;

    if (!outcome) {
        if (outcome.error().domain == kErrorDomain) co_return platform::fail(outcome.error());
        if ((co_await platform::currentStopToken()).stop_requested()) co_return platform::fail(Error::cancelled());
        co_return platform::fail(generation(outcome.error()));
    }
    std::string answer = platform::text::trim(*outcome);
    if (answer.empty()) co_return platform::fail(empty());
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(executor.now() - start).count();
    logger().info("apple-fm response in {}ms ({} chars)", ms, platform::text::graphemeCount(answer));
    co_return answer;
}

}  // namespace parlowen
