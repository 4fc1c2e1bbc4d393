#pragma once

#include <cstdint>
#include <string>

#include "platform/keychain/SecretStore.h"
#include "platform/runtime/Error.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Task.h"

namespace parlowen {

// The keychain's failures. The description is the text users and logs see.
struct KeychainError {
    enum class Case { unexpectedStatus, missing };
    Case kind = Case::missing;
    std::int32_t status = 0;     // unexpectedStatus only
    std::string systemMessage;   // the keychain's message for `status`, if it has one

    static KeychainError missing() { return {Case::missing, 0, {}}; }
    static KeychainError unexpected(std::int32_t status, std::string message = {}) {
        return {Case::unexpectedStatus, status, std::move(message)};
    }
    std::string description() const;
};

platform::Error toError(const KeychainError& e);
// The keychain error carried by `e`, when it came from the keychain store.
std::optional<KeychainError> keychainError(const platform::Error& e);

// The user's secrets (API keys, the share secret): one generic-password item
// per key, all under the account "Parlowen". Holds no state of its own.
//
// Any call may wait for the user: on a locked keyring the Secret Service
// shows its unlock prompt and the call returns only once it is answered.
// The synchronous calls therefore block their thread and belong off the
// main thread; the main thread uses the `...Async` forms, which run the same
// call on `work` (a strand over the worker pool keeps the calls in order)
// and resume the awaiting task on its own executor.
class KeychainStore {
public:
    enum class Key { openAI, cartesia, elevenLabs, anthropic, groq, googleAIStudio, shareUpload };
    static std::string service(Key key);
    static constexpr const char* account = "Parlowen";

    KeychainStore(platform::SecretStore& store, platform::Executor& work) : store_(store), work_(work) {}

    // The stored text as stored; `missing` when no item exists.
    platform::Result<std::string> read(Key key) const;
    // Stores the text trimmed of white space and line breaks; an empty text is
    // stored as an empty item, not deleted.
    platform::Status write(Key key, const std::string& text) const;
    // Deleting a key that has no item succeeds.
    platform::Status remove(Key key) const;
    // Never fails: a locked keychain or denied access read as absent.
    bool exists(Key key) const;

    // The same, without blocking the awaiting task's thread. A task
    // cancelled while the keychain waits for the user still gets the answer.
    platform::Task<platform::Result<std::string>> readAsync(Key key) const;
    platform::Task<platform::Status> writeAsync(Key key, std::string text) const;
    platform::Task<platform::Status> removeAsync(Key key) const;
    platform::Task<bool> existsAsync(Key key) const;

private:
    platform::SecretStore& store_;
    platform::Executor& work_;
};

}  // namespace parlowen
