#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string_view>

#include "platform/defaults/UserDefaults.h"
#include "platform/log/Log.h"
#include "platform/values/XdgDirs.h"

namespace platform {

// User defaults kept in one JSON file, each entry tagged with its type:
//   {"launches":{"integer":3},"rate":{"float":0.5},"seen":{"date":760000000.0},
//    "blob":{"data":"AAE="},"hints":{"array":[{"string":"Parlowen"}]}}
// Dates are seconds since 2001-01-01 UTC, data is base64, non-finite numbers
// are the texts "nan", "inf" and "-inf".
//
// Every change rewrites the file atomically. The file is read at construction
// and read again whenever its identity (inode, size, modification or change
// time) differs from the last one seen, checked on every access, so changes by
// other processes are picked up and reported. A file that cannot be read is
// moved aside (never overwritten) and logged.
class JsonFileUserDefaults final : public UserDefaults {
public:
    static constexpr std::string_view kFolderName = "com.kelvatrum.Parlowen";
    static constexpr std::string_view kApplicationDomain = "com.kelvatrum.Parlowen";

    explicit JsonFileUserDefaults(std::filesystem::path file,
                                  Logger logger = Logger(std::string(kApplicationDomain), "defaults"));
    ~JsonFileUserDefaults() override;

    // <config home>/com.kelvatrum.Parlowen/defaults.json for the application's
    // domain, "<domain>.json" in the same folder for any other domain.
    static std::filesystem::path pathForDomain(const XdgDirs& dirs, std::string_view domain);
    static std::unique_ptr<JsonFileUserDefaults> forDomain(const XdgDirs& dirs, std::string_view domain);

    const std::filesystem::path& path() const { return path_; }

    std::optional<DefaultsValue> object(const std::string& key) const override;
    void set(const std::string& key, DefaultsValue value) override;
    void remove(const std::string& key) override;
    // Removes every key, and the file with them.
    void removeDomain() override;
    std::vector<std::string> keys() const override;
    void reload() override;

private:
    struct State;
    struct Pending;
    // Reads the file when it changed since we last saw it (always when forced). Needs mutex_.
    void load(Pending& pending, bool force) const;
    // Writes the current values. Needs mutex_.
    void persist(Pending& pending) const;
    void flush(Pending& pending) const;

    std::filesystem::path path_;
    Logger logger_;
    mutable std::mutex mutex_;
    std::unique_ptr<State> state_;
};

}  // namespace platform
