#pragma once

#include <cstdint>
#include <string>

#include "platform/keychain/SecretStore.h"
#include "platform/runtime/Error.h"

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
class KeychainStore {
public:
    enum class Key { openAI, cartesia, elevenLabs, anthropic, groq, googleAIStudio, shareUpload };
    static std::string service(Key key);
    static constexpr const char* account = "Parlowen";

    explicit KeychainStore(platform::SecretStore& store) : store_(store) {}

    // The stored text as stored; `missing` when no item exists.
    platform::Result<std::string> read(Key key) const;
    // Stores the text trimmed of white space and line breaks; an empty text is
    // stored as an empty item, not deleted.
    platform::Status write(Key key, const std::string& text) const;
    // Deleting a key that has no item succeeds.
    platform::Status remove(Key key) const;
    // Never fails: a locked keychain or denied access read as absent.
    bool exists(Key key) const;

private:
    platform::SecretStore& store_;
};

}  // namespace parlowen
