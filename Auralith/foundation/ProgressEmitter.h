#pragma once

// The progress stream of a long transcription: fractions from 0 to 1, one
// stream per run. Operations run one at a time on the emitter's own strand.

#include <optional>

#include "platform/runtime/Channel.h"
#include "platform/runtime/Error.h"
#include "platform/runtime/Strand.h"
#include "platform/runtime/Task.h"

namespace auralith {

class ProgressEmitter {
public:
    explicit ProgressEmitter(platform::Executor& executor);

    // The stream of the current run, starting one (and sending 0.0) when none exists.
    platform::Task<platform::Channel<double>> ensureSession();
    // Sends the fraction, clamped to [0, 1], while a run is active.
    platform::Task<void> report(double fraction);
    // Sends 1.0 and ends the stream, when a run is active.
    platform::Task<void> finishSession();
    // Ends the stream with the error (if there is one) and goes inactive.
    platform::Task<void> failSession(platform::Error error);

private:
    platform::Strand strand_;
    // The producer and consumer ends in one; present exactly while a run is active.
    std::optional<platform::Channel<double>> stream_;
};

}  // namespace auralith
