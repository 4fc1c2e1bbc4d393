#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/runtime/Executor.h"
#include "platform/runtime/Observable.h"
#include "platform/runtime/Task.h"

namespace parlowen {

// What the share panel shows, and what to do once the outcome has been on
// screen long enough. Main thread only.
class MacShareViewModel : public std::enable_shared_from_this<MacShareViewModel> {
public:
    struct State {
        enum class Kind { working, success, failure };
        Kind kind = Kind::working;
        std::string message;  // failure only

        static State working() { return {}; }
        static State success() { return {Kind::success, {}}; }
        static State failure(std::string message) { return {Kind::failure, std::move(message)}; }
        friend bool operator==(const State&, const State&) = default;
    };

    static constexpr platform::Duration kSuccessDelay = std::chrono::milliseconds(1200);
    static constexpr platform::Duration kFailureDelay = std::chrono::milliseconds(2500);

    explicit MacShareViewModel(platform::Executor& main) : main_(main) {}

    platform::Observable<State> state{State::working()};
    std::function<void()> onComplete = [] {};

    // Publishes the final state and calls `onComplete` after its delay (at
    // once when the wait is cancelled). The state leaves `working` only once:
    // a later call is ignored. The returned handle cancels the wait.
    platform::JoinHandle<void> finish(State next);

private:
    platform::Executor& main_;
};

}  // namespace parlowen
