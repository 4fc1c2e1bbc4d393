#pragma once

// The system's on-device language model: whether it can be used, and
// conversations with it. One session per conversation; each carries its own
// instructions and keeps nothing from any other session.

#include <memory>
#include <string>
#include <string_view>

#include "platform/runtime/Error.h"
#include "platform/runtime/Task.h"

namespace platform {

enum class LanguageModelAvailability {
    available,
    systemTooOld,       // this system release has no on-device model framework (nothing else is asked)
    deviceNotEligible,  // the machine cannot run an on-device model
    notEnabled,         // the user has switched the model off
    modelNotReady,      // the model is still downloading or being prepared
};

// "available", "systemTooOld", ... (for logs and test output).
std::string_view caseName(LanguageModelAvailability availability);

// Errors of this layer: domain "languagemodel". A model may also fail with
// errors of its own; cancellation is `Error::cancelled()`.
inline constexpr const char* kLanguageModelErrorDomain = "languagemodel";
enum class LanguageModelError {
    unavailable = 1,  // asked to respond while the model cannot be used
    generation = 2,   // the model refused or could not produce an answer
};
Error toError(LanguageModelError code, std::string detail = {});

class LanguageModelSession {
public:
    virtual ~LanguageModelSession() = default;

    // The model's whole answer to `prompt`, as plain text, with the model's
    // default generation options. Resumes on the awaiting task's executor; a
    // stop request on that task asks the model to stop, which it may honour
    // late or not at all.
    virtual Task<Result<std::string>> respond(std::string prompt) = 0;
};

class LanguageModel {
public:
    virtual ~LanguageModel() = default;

    // Asked afresh on every call; nothing is cached.
    virtual LanguageModelAvailability availability() const = 0;

    // A new conversation with `instructions` as its system instructions and no
    // tools. Shared so a response still running can keep its session alive
    // after the caller has given up on it.
    virtual std::shared_ptr<LanguageModelSession> makeSession(std::string instructions) = 0;
};

// The model of this system. Linux has no on-device system language model: it
// reports `deviceNotEligible`, and its sessions fail with `unavailable`.
std::unique_ptr<LanguageModel> makeSystemLanguageModel();

}  // namespace platform
