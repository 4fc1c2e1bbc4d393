#pragma once

// Another application's preferences: read, write and synchronise one value
// of a foreign domain, and post a distributed notification so that the
// owner reloads. The desktop here has no such shared domains (nothing like
// the system's symbolic hot keys exists), so the Linux implementation finds
// no domain at all; the double holds domains in memory for tests.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/defaults/DefaultsValue.h"

namespace platform {

class ForeignPreferences {
public:
    virtual ~ForeignPreferences() = default;

    // The value of `key` in `domain`; none when the domain or the key is missing.
    virtual std::optional<DefaultsValue> copyAppValue(const std::string& key, const std::string& domain) = 0;
    // Sets (or, with none, removes) `key` in `domain`; takes effect on synchronize.
    virtual void setAppValue(const std::string& key, std::optional<DefaultsValue> value,
                             const std::string& domain) = 0;
    // Writes pending changes of `domain` out. False when that failed.
    virtual bool synchronize(const std::string& domain) = 0;
    // Tells every interested process that `name` happened (no object, no
    // user information, delivered at once).
    virtual void postDistributedNotification(const std::string& name) = 0;
};

// No foreign domain exists here: every read finds nothing, writes are
// dropped, synchronising fails and posting reaches nobody.
class LinuxForeignPreferences final : public ForeignPreferences {
public:
    std::optional<DefaultsValue> copyAppValue(const std::string& key, const std::string& domain) override;
    void setAppValue(const std::string& key, std::optional<DefaultsValue> value, const std::string& domain) override;
    bool synchronize(const std::string& domain) override;
    void postDistributedNotification(const std::string& name) override;
};

// The test double: domains of values a test sets, a scriptable synchronise
// result, and a record of every write, synchronisation and post.
class ScriptedForeignPreferences final : public ForeignPreferences {
public:
    struct Write {
        std::string domain;
        std::string key;
        std::optional<DefaultsValue> value;
        friend bool operator==(const Write&, const Write&) = default;
    };

    std::optional<DefaultsValue> copyAppValue(const std::string& key, const std::string& domain) override;
    void setAppValue(const std::string& key, std::optional<DefaultsValue> value, const std::string& domain) override;
    bool synchronize(const std::string& domain) override;
    void postDistributedNotification(const std::string& name) override;

    // Sets a value as the owning application would (not recorded as a write).
    void setValue(const std::string& domain, const std::string& key, DefaultsValue value);
    // What synchronize answers from now on (true at first).
    void setSynchronizeSucceeds(bool succeeds);

    std::vector<Write> writes() const;
    std::vector<std::string> synchronizedDomains() const;
    std::vector<std::string> postedNotifications() const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, DefaultsDictionary> domains_;
    bool synchronizeSucceeds_ = true;
    std::vector<Write> writes_;
    std::vector<std::string> synchronized_;
    std::vector<std::string> posted_;
};

}  // namespace platform
