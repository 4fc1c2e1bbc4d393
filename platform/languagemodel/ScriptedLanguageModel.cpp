#include "platform/languagemodel/ScriptedLanguageModel.h"

#include <utility>

namespace platform {

ScriptedReply ScriptedReply::text(std::string answer, Duration delay) {
    ScriptedReply r;
    r.answer = std::move(answer);
    r.delay = delay;
    return r;
}

ScriptedReply ScriptedReply::failure(Error error, Duration delay) {
    ScriptedReply r;
    r.error = std::move(error);
    r.delay = delay;
    return r;
}

struct ScriptedLanguageModel::State {
    mutable std::mutex mutex;
    LanguageModelAvailability availability = LanguageModelAvailability::available;
    std::deque<ScriptedReply> script;
    ScriptedReply defaultReply = ScriptedReply::failure(toError(LanguageModelError::generation, "no reply scripted"));
    std::size_t queries = 0;
    std::vector<std::string> sessions;
    std::vector<Call> calls;

    std::pair<std::size_t, ScriptedReply> begin(const std::string& instructions, std::string prompt) {
        std::lock_guard lock(mutex);
        ScriptedReply reply = defaultReply;
        if (!script.empty()) {
            reply = std::move(script.front());
            script.pop_front();
        }
        calls.push_back({instructions, std::move(prompt), Outcome::running});
        return {calls.size() - 1, std::move(reply)};
    }
    void finish(std::size_t index, Outcome outcome) {
        std::lock_guard lock(mutex);
        calls[index].outcome = outcome;
    }
};

namespace {

using State = ScriptedLanguageModel::State;
using Outcome = ScriptedLanguageModel::Outcome;

Task<Status> sleepRegardless(Duration delay) { co_return co_await sleepFor(delay); }

Task<Result<std::string>> reply(std::shared_ptr<State> state, std::size_t index, ScriptedReply script) {
    if (script.ignoresCancellation) {
        // A task of its own, with no link to ours, so our stop request cannot end the wait.
        if (script.delay > Duration::zero()) {
            Executor& executor = co_await currentExecutor();
            (void)co_await spawn(executor, sleepRegardless(script.delay));
        }
    } else {
        Status slept = ok();
        if (script.delay > Duration::zero()) {
            slept = co_await sleepFor(script.delay);
        } else if ((co_await currentStopToken()).stop_requested()) {
            slept = fail(Error::cancelled());
        }
        if (!slept) {
            state->finish(index, Outcome::cancelled);
            co_return fail(slept.error());
        }
    }
    if (script.error) {
        state->finish(index, Outcome::failed);
        co_return fail(*script.error);
    }
    state->finish(index, Outcome::answered);
    co_return script.answer.value_or("");
}

class ScriptedSession final : public LanguageModelSession {
public:
    ScriptedSession(std::shared_ptr<State> state, std::string instructions)
        : state_(std::move(state)), instructions_(std::move(instructions)) {}

    Task<Result<std::string>> respond(std::string prompt) override {
        auto [index, script] = state_->begin(instructions_, std::move(prompt));
        return reply(state_, index, std::move(script));
    }

private:
    std::shared_ptr<State> state_;
    std::string instructions_;
};

}  // namespace

ScriptedLanguageModel::ScriptedLanguageModel() : state_(std::make_shared<State>()) {}
ScriptedLanguageModel::~ScriptedLanguageModel() = default;

void ScriptedLanguageModel::setAvailability(LanguageModelAvailability availability) {
    std::lock_guard lock(state_->mutex);
    state_->availability = availability;
}

void ScriptedLanguageModel::replyNext(ScriptedReply reply) {
    std::lock_guard lock(state_->mutex);
    state_->script.push_back(std::move(reply));
}

void ScriptedLanguageModel::setDefaultReply(ScriptedReply reply) {
    std::lock_guard lock(state_->mutex);
    state_->defaultReply = std::move(reply);
}

LanguageModelAvailability ScriptedLanguageModel::availability() const {
    std::lock_guard lock(state_->mutex);
    ++state_->queries;
    return state_->availability;
}

std::shared_ptr<LanguageModelSession> ScriptedLanguageModel::makeSession(std::string instructions) {
    {
        std::lock_guard lock(state_->mutex);
        state_->sessions.push_back(instructions);
    }
    return std::make_shared<ScriptedSession>(state_, std::move(instructions));
}

std::size_t ScriptedLanguageModel::availabilityQueries() const {
    std::lock_guard lock(state_->mutex);
    return state_->queries;
}

std::vector<std::string> ScriptedLanguageModel::sessionInstructions() const {
    std::lock_guard lock(state_->mutex);
    return state_->sessions;
}

std::vector<ScriptedLanguageModel::Call> ScriptedLanguageModel::calls() const {
    std::lock_guard lock(state_->mutex);
    return state_->calls;
}

}  // namespace platform
