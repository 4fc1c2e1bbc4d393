#include "Parlowen/shell/KeychainStore.h"

#include <functional>

#include "platform/text/Unicode.h"

namespace parlowen {
namespace {
constexpr const char* kDomain = "KeychainError";

// Runs `call` on `work` and resumes on the awaiting task's executor.
template <class T>
platform::Task<T> onKeychainWork(platform::Executor& work, std::function<T()> call) {
    platform::Executor& caller = co_await platform::currentExecutor();
    co_await platform::resumeOn(work);
    T result = call();
    co_await platform::resumeOn(caller);
    co_return result;
}
}  // namespace

std::string KeychainError::description() const {
    if (kind == Case::missing) return "Keychain item not found";
    return "Keychain error " + std::to_string(status) + ": " + (systemMessage.empty() ? "unknown" : systemMessage);
}

platform::Error toError(const KeychainError& e) {
    bool missing = e.kind == KeychainError::Case::missing;
    auto err = platform::Error::make(kDomain, missing ? 1 : 0, missing ? "missing" : "unexpectedStatus",
                                     e.description());
    if (!missing)
        err.underlying = std::make_shared<const platform::Error>(
            platform::Error::make("keychain.status", e.status, std::to_string(e.status), e.systemMessage));
    return err;
}

std::optional<KeychainError> keychainError(const platform::Error& e) {
    if (e.domain != kDomain) return std::nullopt;
    if (e.code == 1) return KeychainError::missing();
    if (!e.underlying) return KeychainError::unexpected(0);
    return KeychainError::unexpected(e.underlying->code, e.underlying->description);
}

std::string KeychainStore::service(Key key) {
    switch (key) {
        case Key::openAI: return "openai-tts";
        case Key::cartesia: return "cartesia";
        case Key::elevenLabs: return "elevenlabs";
        case Key::anthropic: return "anthropic";
        case Key::groq: return "groq";
        case Key::googleAIStudio: return "google-ai-studio";
        case Key::shareUpload: return "share-upload";
    }
    return {};
}

platform::Result<std::string> KeychainStore::read(Key key) const {
    auto r = store_.copyData(account, service(key));
    if (r.status.code == platform::keychain_status::itemNotFound) return platform::fail(toError(KeychainError::missing()));
    if (!r.status.ok()) return platform::fail(toError(KeychainError::unexpected(r.status.code, r.status.message)));
    std::string text(r.data.begin(), r.data.end());
    if (!platform::text::isValidUtf8(text)) return platform::fail(toError(KeychainError::unexpected(0)));
    return text;
}

platform::Status KeychainStore::write(Key key, const std::string& text) const {
    std::string trimmed = platform::text::trim(text, platform::text::CharacterSet::whitespacesAndNewlines);
    if (!platform::text::isValidUtf8(trimmed))
        return platform::fail(toError(KeychainError::unexpected(platform::keychain_status::param)));
    std::vector<std::uint8_t> data(trimmed.begin(), trimmed.end());
    auto updated = store_.update(account, service(key), data);
    if (updated.ok()) return platform::ok();
    if (updated.code != platform::keychain_status::itemNotFound)
        return platform::fail(toError(KeychainError::unexpected(updated.code, updated.message)));
    auto added = store_.add(account, service(key), data);
    if (!added.ok()) return platform::fail(toError(KeychainError::unexpected(added.code, added.message)));
    return platform::ok();
}

platform::Status KeychainStore::remove(Key key) const {
    auto s = store_.remove(account, service(key));
    if (s.ok() || s.code == platform::keychain_status::itemNotFound) return platform::ok();
    return platform::fail(toError(KeychainError::unexpected(s.code, s.message)));
}

bool KeychainStore::exists(Key key) const { return store_.find(account, service(key)).ok(); }

platform::Task<platform::Result<std::string>> KeychainStore::readAsync(Key key) const {
    return onKeychainWork<platform::Result<std::string>>(work_, [this, key] { return read(key); });
}

platform::Task<platform::Status> KeychainStore::writeAsync(Key key, std::string text) const {
    return onKeychainWork<platform::Status>(work_, [this, key, text = std::move(text)] { return write(key, text); });
}

platform::Task<platform::Status> KeychainStore::removeAsync(Key key) const {
    return onKeychainWork<platform::Status>(work_, [this, key] { return remove(key); });
}

platform::Task<bool> KeychainStore::existsAsync(Key key) const {
    return onKeychainWork<bool>(work_, [this, key] { return exists(key); });
}

}  // namespace parlowen
