#pragma once

#include <mutex>

#include "platform/defaults/UserDefaults.h"

namespace platform {

// Test double: the same semantics as the file store, kept in memory. Tests can
// make a change "from another process" and see what was written.
class InMemoryUserDefaults final : public UserDefaults {
public:
    explicit InMemoryUserDefaults(DefaultsDictionary initial = {});

    std::optional<DefaultsValue> object(const std::string& key) const override;
    void set(const std::string& key, DefaultsValue value) override;
    void remove(const std::string& key) override;
    void removeDomain() override;
    std::vector<std::string> keys() const override;
    void reload() override {}

    // Replaces the whole content as another process would; handlers see an
    // external change of the keys that differ.
    void simulateExternalChange(DefaultsDictionary newContents);

    DefaultsDictionary contents() const;
    // Number of set, remove and removeDomain calls so far.
    int writeCount() const;

private:
    mutable std::mutex mutex_;
    DefaultsDictionary values_;
    int writes_ = 0;
};

}  // namespace platform
