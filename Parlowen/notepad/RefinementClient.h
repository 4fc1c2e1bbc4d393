#pragma once

#include <string>

#include "platform/runtime/Error.h"
#include "platform/runtime/Task.h"

namespace parlowen {

// A language model that rewrites, polishes or summarises text: text and
// instructions in, a time limit, text out. Implementations report failures as
// errors of their own domain whose description is a short English text that
// callers log or show; a call cancelled by its caller ends with
// `platform::Error::cancelled()`.
//
// Start `refine` on the main executor; it suspends while the model works and
// resumes there. Keep the client alive until the call has returned.
class RefinementClient {
public:
    virtual ~RefinementClient() = default;

    // `timeout` in seconds bounds the model call.
    virtual platform::Task<platform::Result<std::string>> refine(std::string text, std::string systemPrompt,
                                                                 double timeout) = 0;
    virtual std::string displayName() const = 0;
    // True when the text never leaves the machine.
    virtual bool isOnDevice() const = 0;
};

}  // namespace parlowen
