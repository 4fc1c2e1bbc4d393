#include "MacShareExtension/MacShareViewModel.h"

namespace parlowen {
namespace {

// Holds the model until it has called `onComplete`.
platform::Task<void> completeAfter(std::shared_ptr<MacShareViewModel> model, platform::Duration delay) {
    // A cancelled sleep ends early; the request is completed all the same.
    (void)co_await platform::sleepFor(delay);
    model->onComplete();
}

}  // namespace

platform::JoinHandle<void> MacShareViewModel::finish(State next) {
    if (state.get().kind != State::Kind::working || next.kind == State::Kind::working) return {};
    const auto delay = next.kind == State::Kind::success ? kSuccessDelay : kFailureDelay;
    state.set(std::move(next));
    return platform::spawn(main_, completeAfter(shared_from_this(), delay));
}

}  // namespace parlowen
