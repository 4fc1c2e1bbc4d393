#include "platform/clouddb/CloudQueryRules.h"

#include <algorithm>
#include <filesystem>

namespace platform {

std::optional<int> compareCloudValues(const CloudValue& a, const CloudValue& b) {
    auto asNumber = [](const CloudValue& v) -> std::optional<double> {
        if (auto d = std::get_if<double>(&v)) return *d;
        if (auto i = std::get_if<std::int64_t>(&v)) return static_cast<double>(*i);
        return std::nullopt;
    };
    auto sign = [](auto x, auto y) { return x < y ? -1 : (y < x ? 1 : 0); };
    if (auto x = asNumber(a), y = asNumber(b); x && y) return sign(*x, *y);
    if (a.index() != b.index()) return std::nullopt;
    if (auto s = std::get_if<std::string>(&a)) return sign(*s, std::get<std::string>(b));
    if (auto d = std::get_if<Date>(&a)) return sign(*d, std::get<Date>(b));
    if (auto f = std::get_if<CloudAsset>(&a))
        return sign(f->fileURL.absoluteString(), std::get<CloudAsset>(b).fileURL.absoluteString());
    return std::nullopt;
}

bool recordMatches(const CloudRecord& record, const CloudQuery& query, const CloudZoneID& zone) {
    if (record.recordType() != query.recordType || record.recordID().zoneID != zone) return false;
    if (!query.predicate) return true;
    const CloudValue* v = record.value(query.predicate->key);
    if (!v) return false;
    auto c = compareCloudValues(*v, query.predicate->value);
    return c && *c == 0;
}

bool recordSortsBefore(const CloudRecord& a, const CloudRecord& b, const std::vector<CloudSortDescriptor>& sort) {
    for (const auto& d : sort) {
        const CloudValue* va = a.value(d.key);
        const CloudValue* vb = b.value(d.key);
        if (!va || !vb) {
            if (va || vb) return va != nullptr;
            continue;
        }
        auto c = compareCloudValues(*va, *vb);
        if (!c || *c == 0) continue;
        return d.ascending ? *c < 0 : *c > 0;
    }
    return false;
}

std::size_t queryBatchLimit(std::size_t batchSize, std::size_t resultsLimit) {
    return resultsLimit == kCloudMaximumResults ? batchSize : std::min(batchSize, resultsLimit);
}

CloudRecord projectRecord(const CloudRecord& record, const std::optional<std::vector<std::string>>& keys) {
    if (!keys) return record;
    CloudRecord out(record.recordType(), record.recordID());
    for (const auto& k : *keys)
        if (const CloudValue* v = record.value(k)) out.set(k, *v);
    return out;
}

std::optional<std::string> missingAssetKey(const CloudRecord& record) {
    for (const auto& [key, value] : record.values()) {
        if (auto a = std::get_if<CloudAsset>(&value)) {
            std::error_code ec;
            if (!a->fileURL.isFileURL() || !std::filesystem::is_regular_file(a->fileURL.filePath(), ec))
                return key;
        }
    }
    return std::nullopt;
}

Error assetFileNotFoundError(const std::string& key) {
    return cloudError(CloudErrorCode::assetFileNotFound, "The file of asset \"" + key + "\" is gone.");
}

}  // namespace platform
