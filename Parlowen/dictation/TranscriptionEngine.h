#pragma once

#include <functional>
#include <string>

#include "platform/audio/PcmBuffer.h"
#include "platform/runtime/Error.h"
#include "platform/runtime/Task.h"

namespace parlowen {

// The one interface through which dictation turns microphone audio into text.
// An engine object serves many sessions, one at a time:
//   set onPartial -> [prepare()] -> start() -> any number of append() -> finish() or cancel().
// start() always begins afresh, dropping whatever an unfinished session left.
// cancel() before any start, or twice, is harmless; finish() without audio
// returns "".
//
// Threads: onPartial, start, finish and cancel are used on the main
// executor (the tasks move their bodies to the background themselves);
// append runs on the audio thread, for every captured buffer, while the
// others may run. It never blocks for long and never fails. onPartial may
// be called on any thread; the receiver moves the text where it needs it.
class TranscriptionEngine {
public:
    using PartialCallback = std::function<void(const std::string&)>;

    virtual ~TranscriptionEngine() = default;

    // "Apple Speech" or "Groq": for display and logs.
    virtual std::string name() const = 0;
    // Receives the whole transcript so far at each new intermediate result.
    // Engines that do not stream never call it. Never used for errors.
    virtual PartialCallback onPartial() const = 0;
    virtual void setOnPartial(PartialCallback callback) = 0;

    // Called on the main executor before capture starts, with the format
    // append() will get, so that an engine can make what its audio path
    // needs beforehand. Engines that need nothing ignore it.
    virtual void prepare(const platform::PcmFormat& captureFormat) { (void)captureFormat; }
    virtual platform::Task<platform::Status> start() = 0;
    // One captured buffer in the microphone's own format.
    virtual void append(const platform::PcmBuffer& buffer) = 0;
    // The final transcript, trimmed of surrounding whitespace; may be empty.
    virtual platform::Task<platform::Result<std::string>> finish() = 0;
    virtual void cancel() = 0;
};

}  // namespace parlowen
