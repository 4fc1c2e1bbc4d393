#include "platform/defaults/UserDefaults.h"

#include <charconv>
#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "platform/values/Files.h"

namespace platform {

UserDefaults::UserDefaults() = default;
UserDefaults::~UserDefaults() = default;

Subscription UserDefaults::onChange(std::function<void(const DefaultsChange&)> handler) {
    return changes_.subscribe(std::move(handler));
}

void UserDefaults::notify(const DefaultsChange& change) const { changes_.send(change); }

std::vector<std::string> UserDefaults::changedKeys(const DefaultsDictionary& before, const DefaultsDictionary& after) {
    std::vector<std::string> keys;
    auto a = before.begin();
    auto b = after.begin();
    while (a != before.end() || b != after.end()) {
        if (b == after.end() || (a != before.end() && a->first < b->first)) {
            keys.push_back(a->first);
            ++a;
        } else if (a == before.end() || b->first < a->first) {
            keys.push_back(b->first);
            ++b;
        } else {
            if (!(a->second == b->second)) keys.push_back(a->first);
            ++a;
            ++b;
        }
    }
    return keys;
}

namespace {

template <class T>
DefaultsRead<T> typedRead(const std::optional<DefaultsValue>& value) {
    if (!value) return DefaultsRead<T>::absent();
    if (const T* v = value->get<T>()) return *v;
    return DefaultsRead<T>::wrongType();
}

std::string_view skipBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\n' || s.front() == '\r' ||
                          s.front() == '\f' || s.front() == '\v'))
        s.remove_prefix(1);
    return s;
}

bool textBool(std::string_view s) {
    s = skipBlanks(s);
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) s.remove_prefix(1);
    while (!s.empty() && s.front() == '0') s.remove_prefix(1);
    if (s.empty()) return false;
    char c = s.front();
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

std::int64_t textInteger(std::string_view s) {
    s = skipBlanks(s);
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    // Accumulate as a negative number so the minimum fits; clamp on overflow.
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    std::int64_t value = 0;
    bool overflow = false;
    for (char c : s) {
        if (c < '0' || c > '9') break;
        int digit = c - '0';
        if (value < (kMin + digit) / 10) {
            overflow = true;
            break;
        }
        value = value * 10 - digit;
    }
    if (overflow) return negative ? kMin : std::numeric_limits<std::int64_t>::max();
    if (negative) return value;
    return value == kMin ? std::numeric_limits<std::int64_t>::max() : -value;
}

template <class F>
F textFloating(std::string_view s) {
    s = skipBlanks(s);
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    F value = 0;
    auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec == std::errc::result_out_of_range) {
        // from_chars leaves the value alone: tell huge from tiny by the exponent sign.
        std::string_view parsed(s.data(), static_cast<size_t>(ptr - s.data()));
        bool tiny = parsed.find("e-") != std::string_view::npos || parsed.find("E-") != std::string_view::npos;
        value = tiny ? F(0) : std::numeric_limits<F>::infinity();
    } else if (ec != std::errc()) {
        return 0;
    }
    return negative ? -value : value;
}

std::int64_t truncateToInt64(double d) {
    if (std::isnan(d)) return 0;
    if (d >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
    if (d < -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(d);
}

}  // namespace

DefaultsRead<bool> UserDefaults::readBool(const std::string& key) const { return typedRead<bool>(object(key)); }
DefaultsRead<std::int64_t> UserDefaults::readInteger(const std::string& key) const {
    return typedRead<std::int64_t>(object(key));
}
DefaultsRead<float> UserDefaults::readFloat(const std::string& key) const { return typedRead<float>(object(key)); }
DefaultsRead<double> UserDefaults::readDouble(const std::string& key) const { return typedRead<double>(object(key)); }
DefaultsRead<std::string> UserDefaults::readString(const std::string& key) const {
    return typedRead<std::string>(object(key));
}
DefaultsRead<Date> UserDefaults::readDate(const std::string& key) const { return typedRead<Date>(object(key)); }
DefaultsRead<Bytes> UserDefaults::readData(const std::string& key) const { return typedRead<Bytes>(object(key)); }
DefaultsRead<DefaultsArray> UserDefaults::readArray(const std::string& key) const {
    return typedRead<DefaultsArray>(object(key));
}
DefaultsRead<DefaultsDictionary> UserDefaults::readDictionary(const std::string& key) const {
    return typedRead<DefaultsDictionary>(object(key));
}

bool UserDefaults::boolForKey(const std::string& key) const {
    auto v = object(key);
    if (!v) return false;
    if (auto b = v->get<bool>()) return *b;
    if (auto i = v->get<std::int64_t>()) return *i != 0;
    if (auto f = v->get<float>()) return *f != 0;
    if (auto d = v->get<double>()) return *d != 0;
    if (auto s = v->get<std::string>()) return textBool(*s);
    return false;
}

std::int64_t UserDefaults::integerForKey(const std::string& key) const {
    auto v = object(key);
    if (!v) return 0;
    if (auto i = v->get<std::int64_t>()) return *i;
    if (auto b = v->get<bool>()) return *b ? 1 : 0;
    if (auto f = v->get<float>()) return truncateToInt64(*f);
    if (auto d = v->get<double>()) return truncateToInt64(*d);
    if (auto s = v->get<std::string>()) return textInteger(*s);
    return 0;
}

double UserDefaults::doubleForKey(const std::string& key) const {
    auto v = object(key);
    if (!v) return 0;
    if (auto d = v->get<double>()) return *d;
    if (auto f = v->get<float>()) return *f;
    if (auto i = v->get<std::int64_t>()) return static_cast<double>(*i);
    if (auto b = v->get<bool>()) return *b ? 1 : 0;
    if (auto s = v->get<std::string>()) return textFloating<double>(*s);
    return 0;
}

float UserDefaults::floatForKey(const std::string& key) const {
    auto v = object(key);
    if (!v) return 0;
    if (auto f = v->get<float>()) return *f;
    if (auto d = v->get<double>()) return static_cast<float>(*d);
    if (auto i = v->get<std::int64_t>()) return static_cast<float>(*i);
    if (auto b = v->get<bool>()) return *b ? 1.0f : 0.0f;
    if (auto s = v->get<std::string>()) return textFloating<float>(*s);
    return 0;
}

std::optional<std::string> UserDefaults::stringForKey(const std::string& key) const {
    auto v = object(key);
    if (!v) return std::nullopt;
    if (auto s = v->get<std::string>()) return *s;
    if (auto b = v->get<bool>()) return std::string(*b ? "1" : "0");
    if (auto i = v->get<std::int64_t>()) return fmt::format("{}", *i);
    if (auto f = v->get<float>()) return fmt::format("{}", *f);
    if (auto d = v->get<double>()) return fmt::format("{}", *d);
    return std::nullopt;
}

std::optional<Bytes> UserDefaults::dataForKey(const std::string& key) const { return readData(key).optional(); }
std::optional<DefaultsArray> UserDefaults::arrayForKey(const std::string& key) const {
    return readArray(key).optional();
}
std::optional<DefaultsDictionary> UserDefaults::dictionaryForKey(const std::string& key) const {
    return readDictionary(key).optional();
}

std::optional<std::vector<std::string>> UserDefaults::stringArrayForKey(const std::string& key) const {
    auto array = arrayForKey(key);
    if (!array) return std::nullopt;
    std::vector<std::string> out;
    out.reserve(array->size());
    for (const auto& element : *array) {
        auto s = element.get<std::string>();
        if (!s) return std::nullopt;
        out.push_back(*s);
    }
    return out;
}

std::optional<std::string> keepValueAside(UserDefaults& defaults, const std::string& key, Date now) {
    auto value = defaults.object(key);
    if (!value) return std::nullopt;
    std::string aside = key + "." + corruptSuffix(now);
    defaults.set(aside, std::move(*value));
    return aside;
}

}  // namespace platform
