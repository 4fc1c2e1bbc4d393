#include "platform/defaults/InMemoryUserDefaults.h"

namespace platform {

InMemoryUserDefaults::InMemoryUserDefaults(DefaultsDictionary initial) : values_(std::move(initial)) {}

std::optional<DefaultsValue> InMemoryUserDefaults::object(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

void InMemoryUserDefaults::set(const std::string& key, DefaultsValue value) {
    {
        std::lock_guard lock(mutex_);
        values_.insert_or_assign(key, std::move(value));
        ++writes_;
    }
    notify(DefaultsChange{{key}, false});
}

void InMemoryUserDefaults::remove(const std::string& key) {
    bool existed;
    {
        std::lock_guard lock(mutex_);
        existed = values_.erase(key) != 0;
        ++writes_;
    }
    if (existed) notify(DefaultsChange{{key}, false});
}

void InMemoryUserDefaults::removeDomain() {
    DefaultsChange change;
    {
        std::lock_guard lock(mutex_);
        for (const auto& entry : values_) change.keys.push_back(entry.first);
        values_.clear();
        ++writes_;
    }
    if (!change.keys.empty()) notify(change);
}

std::vector<std::string> InMemoryUserDefaults::keys() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& entry : values_) out.push_back(entry.first);
    return out;
}

void InMemoryUserDefaults::simulateExternalChange(DefaultsDictionary newContents) {
    DefaultsChange change;
    change.external = true;
    {
        std::lock_guard lock(mutex_);
        change.keys = changedKeys(values_, newContents);
        values_ = std::move(newContents);
    }
    if (!change.keys.empty()) notify(change);
}

DefaultsDictionary InMemoryUserDefaults::contents() const {
    std::lock_guard lock(mutex_);
    return values_;
}

int InMemoryUserDefaults::writeCount() const {
    std::lock_guard lock(mutex_);
    return writes_;
}

}  // namespace platform
