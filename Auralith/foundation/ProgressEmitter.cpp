#include "Auralith/foundation/ProgressEmitter.h"

#include <algorithm>

namespace auralith {

ProgressEmitter::ProgressEmitter(platform::Executor& executor) : strand_(executor) {}

platform::Task<platform::Channel<double>> ProgressEmitter::ensureSession() {
    co_await platform::resumeOn(strand_);
    if (stream_) co_return *stream_;
    stream_.emplace();
    stream_->send(0.0);
    co_return *stream_;
}

platform::Task<void> ProgressEmitter::report(double fraction) {
    co_await platform::resumeOn(strand_);
    if (!stream_) co_return;
    // NaN would pass a plain clamp unchanged; report it as no progress.
    const double value = fraction != fraction ? 0.0 : std::clamp(fraction, 0.0, 1.0);
    stream_->send(value);
}

platform::Task<void> ProgressEmitter::finishSession() {
    co_await platform::resumeOn(strand_);
    if (!stream_) co_return;
    stream_->send(1.0);
    stream_->finish();
    stream_.reset();
}

platform::Task<void> ProgressEmitter::failSession(platform::Error error) {
    co_await platform::resumeOn(strand_);
    if (stream_) stream_->fail(std::move(error));
    stream_.reset();
}

}  // namespace auralith
