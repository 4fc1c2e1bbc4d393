#include "platform/clouddb/CloudRecord.h"

namespace platform {

const CloudValue* CloudRecord::value(const std::string& key) const {
    auto it = values_.find(key);
    return it == values_.end() ? nullptr : &it->second;
}

namespace {
template <class T>
std::optional<T> typed(const CloudValue* v) {
    if (!v) return std::nullopt;
    if (const T* p = std::get_if<T>(v)) return *p;
    return std::nullopt;
}
}  // namespace

std::optional<std::string> CloudRecord::string(const std::string& key) const { return typed<std::string>(value(key)); }

std::optional<double> CloudRecord::number(const std::string& key) const {
    const CloudValue* v = value(key);
    if (!v) return std::nullopt;
    if (const double* d = std::get_if<double>(v)) return *d;
    if (const std::int64_t* i = std::get_if<std::int64_t>(v)) return static_cast<double>(*i);
    return std::nullopt;
}

std::optional<std::int64_t> CloudRecord::int64(const std::string& key) const { return typed<std::int64_t>(value(key)); }
std::optional<Date> CloudRecord::date(const std::string& key) const { return typed<Date>(value(key)); }
std::optional<CloudAsset> CloudRecord::asset(const std::string& key) const { return typed<CloudAsset>(value(key)); }

std::vector<std::string> CloudRecord::allKeys() const {
    std::vector<std::string> keys;
    keys.reserve(values_.size());
    for (const auto& [k, v] : values_) keys.push_back(k);
    return keys;
}

}  // namespace platform
