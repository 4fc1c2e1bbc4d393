#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// Keychain status codes the application's texts expect. 0 is success.
namespace keychain_status {
inline constexpr std::int32_t success = 0;
inline constexpr std::int32_t param = -50;
inline constexpr std::int32_t notAvailable = -25291;  // no keychain service reachable
inline constexpr std::int32_t interactionNotAllowed = -25308;  // locked
inline constexpr std::int32_t itemNotFound = -25300;
}  // namespace keychain_status

struct KeychainStatus {
    std::int32_t code = keychain_status::success;
    std::string message;  // the service's own message for a failure, when it has one
    bool ok() const { return code == keychain_status::success; }
};

struct KeychainRead {
    KeychainStatus status;
    std::vector<std::uint8_t> data;
};

// Generic-password items found by account and service. The calls are
// synchronous, like the system keychain they stand in for.
class SecretStore {
public:
    virtual ~SecretStore() = default;
    // The first matching item's data, or itemNotFound.
    virtual KeychainRead copyData(const std::string& account, const std::string& service) = 0;
    // Replaces the data of the matching item; itemNotFound when there is none.
    virtual KeychainStatus update(const std::string& account, const std::string& service,
                                  const std::vector<std::uint8_t>& data) = 0;
    // Adds a new item that is never synchronised off this device.
    virtual KeychainStatus add(const std::string& account, const std::string& service,
                               const std::vector<std::uint8_t>& data) = 0;
    // Deletes the matching items; itemNotFound when there were none.
    virtual KeychainStatus remove(const std::string& account, const std::string& service) = 0;
    // Whether an item matches, asking for no data (no secret leaves the store).
    virtual KeychainStatus find(const std::string& account, const std::string& service) = 0;
};

// The test double: items in memory, with failures a test can inject.
class InMemorySecretStore : public SecretStore {
public:
    KeychainRead copyData(const std::string& account, const std::string& service) override;
    KeychainStatus update(const std::string& account, const std::string& service,
                          const std::vector<std::uint8_t>& data) override;
    KeychainStatus add(const std::string& account, const std::string& service,
                       const std::vector<std::uint8_t>& data) override;
    KeychainStatus remove(const std::string& account, const std::string& service) override;
    KeychainStatus find(const std::string& account, const std::string& service) override;

    // Every later call fails with `status` until cleared (e.g. a locked keychain).
    void failWith(std::optional<KeychainStatus> status);
    // Deleting this one item fails with `status` (the others still work).
    void failRemovalOf(const std::string& account, const std::string& service, KeychainStatus status);
    std::size_t itemCount() const;
    std::size_t addCount() const;
    std::optional<std::vector<std::uint8_t>> item(const std::string& account, const std::string& service) const;

private:
    mutable std::mutex mutex_;
    std::map<std::pair<std::string, std::string>, std::vector<std::uint8_t>> items_;
    std::optional<KeychainStatus> failure_;
    std::map<std::pair<std::string, std::string>, KeychainStatus> removalFailures_;
    std::size_t adds_ = 0;
};

// The Secret Service (GNOME Keyring, KWallet) through libsecret. Items carry
// the attributes "account" and "service" in a schema of our own; there is no
// plaintext fallback when no service answers.
std::unique_ptr<SecretStore> makeLibsecretStore();

}  // namespace platform
