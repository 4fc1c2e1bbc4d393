#include "platform/keychain/SecretStore.h"

namespace platform {

KeychainRead InMemorySecretStore::copyData(const std::string& account, const std::string& service) {
    std::lock_guard lock(mutex_);
    if (failure_) return {*failure_, {}};
    auto it = items_.find({account, service});
    if (it == items_.end()) return {{keychain_status::itemNotFound, {}}, {}};
    return {{}, it->second};
}

KeychainStatus InMemorySecretStore::update(const std::string& account, const std::string& service,
                                           const std::vector<std::uint8_t>& data) {
    std::lock_guard lock(mutex_);
    if (failure_) return *failure_;
    auto it = items_.find({account, service});
    if (it == items_.end()) return {keychain_status::itemNotFound, {}};
    it->second = data;
    return {};
}

KeychainStatus InMemorySecretStore::add(const std::string& account, const std::string& service,
                                        const std::vector<std::uint8_t>& data) {
    std::lock_guard lock(mutex_);
    if (failure_) return *failure_;
    ++adds_;
    items_[{account, service}] = data;
    return {};
}

KeychainStatus InMemorySecretStore::remove(const std::string& account, const std::string& service) {
    std::lock_guard lock(mutex_);
    if (failure_) return *failure_;
    if (auto it = removalFailures_.find({account, service}); it != removalFailures_.end()) return it->second;
    if (items_.erase({account, service}) == 0) return {keychain_status::itemNotFound, {}};
    return {};
}

KeychainStatus InMemorySecretStore::find(const std::string& account, const std::string& service) {
    std::lock_guard lock(mutex_);
    if (failure_) return *failure_;
    return items_.count({account, service}) ? KeychainStatus{} : KeychainStatus{keychain_status::itemNotFound, {}};
}

void InMemorySecretStore::failWith(std::optional<KeychainStatus> status) {
    std::lock_guard lock(mutex_);
    failure_ = std::move(status);
}

void InMemorySecretStore::failRemovalOf(const std::string& account, const std::string& service,
                                        KeychainStatus status) {
    std::lock_guard lock(mutex_);
    removalFailures_[{account, service}] = std::move(status);
}

std::size_t InMemorySecretStore::itemCount() const {
    std::lock_guard lock(mutex_);
    return items_.size();
}

std::size_t InMemorySecretStore::addCount() const {
    std::lock_guard lock(mutex_);
    return adds_;
}

std::optional<std::vector<std::uint8_t>> InMemorySecretStore::item(const std::string& account,
                                                                   const std::string& service) const {
    std::lock_guard lock(mutex_);
    auto it = items_.find({account, service});
    if (it == items_.end()) return std::nullopt;
    return it->second;
}

}  // namespace platform
