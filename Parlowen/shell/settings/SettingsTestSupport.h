#pragma once

// Shared fixture of the settings tests: an in-memory defaults store, a
// history, and injectable system names and model availability.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "Parlowen/dictation/DictationHistory.h"
#include "Parlowen/shell/settings/PreferencesStore.h"
#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/log/CaptureSink.h"

namespace settingstest {

inline platform::Bytes jsonData(std::string_view text) { return platform::toBytes(text); }

// The stored JSON text of a data value; "<absent>" or "<type>" otherwise.
inline std::string storedJson(const platform::UserDefaults& defaults, const std::string& key) {
    auto value = defaults.object(key);
    if (!value) return "<absent>";
    if (auto data = value->get<platform::Bytes>()) return platform::toString(*data);
    return "<" + std::string(platform::defaultsTypeName(value->type())) + ">";
}

class StoreTest : public ::testing::Test {
protected:
    platform::ScopedLogCapture logs;
    platform::FixedClock clock;
    parlowen::DictationHistory history{clock};
    platform::InMemoryUserDefaults defaults;
    bool modelAvailable = false;
    std::string fullName;
    std::optional<std::string> computerName;

    parlowen::PreferencesStore::Dependencies deps() {
        parlowen::PreferencesStore::Dependencies d;
        d.clearDictationHistory = [this] { history.clear(); };
        d.isOnDeviceModelAvailable = [this] { return modelAvailable; };
        d.fullUserName = [this] { return fullName; };
        d.computerName = [this] { return computerName; };
        return d;
    }

    std::unique_ptr<parlowen::PreferencesStore> open(platform::UserDefaults& store) {
        return std::make_unique<parlowen::PreferencesStore>(store, deps());
    }
    std::unique_ptr<parlowen::PreferencesStore> open() { return open(defaults); }
};

}  // namespace settingstest
