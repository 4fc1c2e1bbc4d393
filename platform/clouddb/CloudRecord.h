#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/values/Date.h"
#include "platform/values/Url.h"

namespace platform {

// The zone every record of the application lives in, owned by the signed-in user.
inline constexpr const char* kCloudDefaultZoneName = "_defaultZone";
inline constexpr const char* kCloudCurrentUserDefaultName = "__defaultOwner__";

struct CloudZoneID {
    std::string zoneName = kCloudDefaultZoneName;
    std::string ownerName = kCloudCurrentUserDefaultName;

    // The current user's default zone.
    static CloudZoneID defaultZone() { return {}; }

    friend auto operator<=>(const CloudZoneID&, const CloudZoneID&) = default;
};

struct CloudRecordID {
    std::string recordName;
    CloudZoneID zoneID;

    friend auto operator<=>(const CloudRecordID&, const CloudRecordID&) = default;
};

// A file attached to a record. When saving, the file at `fileURL` is uploaded;
// a fetched record's asset points at a local copy of the uploaded file.
struct CloudAsset {
    Url fileURL;

    friend bool operator==(const CloudAsset&, const CloudAsset&) = default;
};

// The value types a record key can hold.
using CloudValue = std::variant<std::string, double, std::int64_t, Date, CloudAsset>;

// One record of the cloud database: a type, an identifier and typed keys.
// A plain value; the database never shares one with its caller.
class CloudRecord {
public:
    CloudRecord(std::string recordType, CloudRecordID recordID)
        : recordType_(std::move(recordType)), recordID_(std::move(recordID)) {}

    const std::string& recordType() const { return recordType_; }
    const CloudRecordID& recordID() const { return recordID_; }
    const std::string& recordName() const { return recordID_.recordName; }

    void set(const std::string& key, CloudValue value) { values_.insert_or_assign(key, std::move(value)); }
    void remove(const std::string& key) { values_.erase(key); }
    bool contains(const std::string& key) const { return values_.count(key) != 0; }
    // The value under `key`, or nullptr when the key is not set.
    const CloudValue* value(const std::string& key) const;

    // Typed readers: nothing when the key is absent or holds another type.
    std::optional<std::string> string(const std::string& key) const;
    // A number: a double, or an integer read as a double.
    std::optional<double> number(const std::string& key) const;
    std::optional<std::int64_t> int64(const std::string& key) const;
    std::optional<Date> date(const std::string& key) const;
    std::optional<CloudAsset> asset(const std::string& key) const;

    // Keys in lexicographic order.
    std::vector<std::string> allKeys() const;
    const std::map<std::string, CloudValue>& values() const { return values_; }

    friend bool operator==(const CloudRecord&, const CloudRecord&) = default;

private:
    std::string recordType_;
    CloudRecordID recordID_;
    std::map<std::string, CloudValue> values_;
};

}  // namespace platform
