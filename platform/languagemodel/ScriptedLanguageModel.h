#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/languagemodel/LanguageModel.h"

namespace platform {

// One scripted reply of the double.
struct ScriptedReply {
    std::optional<std::string> answer;  // the answer, unless `error` is set
    std::optional<Error> error;
    // Virtual time on the caller's executor before the reply.
    Duration delay{};
    // Keep working through a stop request and reply at `delay` anyway, as a
    // model that does not check for cancellation would.
    bool ignoresCancellation = false;

    static ScriptedReply text(std::string answer, Duration delay = {});
    static ScriptedReply failure(Error error, Duration delay = {});
};

// The test double: availability as set, replies from a script (in order, then
// the default reply), time on the caller's executor (a ManualExecutor in
// tests), and every session and prompt recorded.
class ScriptedLanguageModel final : public LanguageModel {
public:
    enum class Outcome { running, answered, failed, cancelled };

    struct Call {
        std::string instructions;  // of the session the prompt went to
        std::string prompt;
        Outcome outcome = Outcome::running;
    };

    ScriptedLanguageModel();
    ~ScriptedLanguageModel() override;

    void setAvailability(LanguageModelAvailability availability);
    // Queues the reply to the next prompt (of any session).
    void replyNext(ScriptedReply reply);
    // The reply once the queue is empty (at first: a `generation` failure).
    void setDefaultReply(ScriptedReply reply);

    LanguageModelAvailability availability() const override;
    std::shared_ptr<LanguageModelSession> makeSession(std::string instructions) override;

    std::size_t availabilityQueries() const;
    // The instructions of every session made, in order.
    std::vector<std::string> sessionInstructions() const;
    std::vector<Call> calls() const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace platform
