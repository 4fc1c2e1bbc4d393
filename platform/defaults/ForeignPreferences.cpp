#include "platform/defaults/ForeignPreferences.h"

namespace platform {

std::optional<DefaultsValue> LinuxForeignPreferences::copyAppValue(const std::string&, const std::string&) {
    return std::nullopt;
}

void LinuxForeignPreferences::setAppValue(const std::string&, std::optional<DefaultsValue>, const std::string&) {}

bool LinuxForeignPreferences::synchronize(const std::string&) { return false; }

void LinuxForeignPreferences::postDistributedNotification(const std::string&) {}

std::optional<DefaultsValue> ScriptedForeignPreferences::copyAppValue(const std::string& key,
                                                                      const std::string& domain) {
    std::lock_guard lock(mutex_);
    auto d = domains_.find(domain);
    if (d == domains_.end()) return std::nullopt;
    auto v = d->second.find(key);
    if (v == d->second.end()) return std::nullopt;
    return v->second;
}

void ScriptedForeignPreferences::setAppValue(const std::string& key, std::optional<DefaultsValue> value,
                                             const std::string& domain) {
    std::lock_guard lock(mutex_);
    writes_.push_back({domain, key, value});
    if (value)
        domains_[domain].insert_or_assign(key, std::move(*value));
    else if (auto d = domains_.find(domain); d != domains_.end())
        d->second.erase(key);
}

bool ScriptedForeignPreferences::synchronize(const std::string& domain) {
    std::lock_guard lock(mutex_);
    synchronized_.push_back(domain);
    return synchronizeSucceeds_;
}

void ScriptedForeignPreferences::postDistributedNotification(const std::string& name) {
    std::lock_guard lock(mutex_);
    posted_.push_back(name);
}

void ScriptedForeignPreferences::setValue(const std::string& domain, const std::string& key, DefaultsValue value) {
    std::lock_guard lock(mutex_);
    domains_[domain].insert_or_assign(key, std::move(value));
}

void ScriptedForeignPreferences::setSynchronizeSucceeds(bool succeeds) {
    std::lock_guard lock(mutex_);
    synchronizeSucceeds_ = succeeds;
}

std::vector<ScriptedForeignPreferences::Write> ScriptedForeignPreferences::writes() const {
    std::lock_guard lock(mutex_);
    return writes_;
}

std::vector<std::string> ScriptedForeignPreferences::synchronizedDomains() const {
    std::lock_guard lock(mutex_);
    return synchronized_;
}

std::vector<std::string> ScriptedForeignPreferences::postedNotifications() const {
    std::lock_guard lock(mutex_);
    return posted_;
}

}  // namespace platform
