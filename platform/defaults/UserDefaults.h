#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/defaults/DefaultsValue.h"
#include "platform/runtime/Observable.h"

namespace platform {

// The outcome of a typed read: the key is absent, holds another type, or holds a T.
template <class T>
class DefaultsRead {
public:
    enum class State { absent, wrongType, value };

    static DefaultsRead absent() { return DefaultsRead(State::absent); }
    static DefaultsRead wrongType() { return DefaultsRead(State::wrongType); }
    DefaultsRead(T value) : state_(State::value), value_(std::move(value)) {}

    State state() const { return state_; }
    bool isAbsent() const { return state_ == State::absent; }
    bool isWrongType() const { return state_ == State::wrongType; }
    bool hasValue() const { return state_ == State::value; }
    explicit operator bool() const { return hasValue(); }

    // Only when hasValue().
    const T& value() const { return *value_; }
    T valueOr(T fallback) const { return value_ ? *value_ : std::move(fallback); }
    std::optional<T> optional() const { return value_; }

private:
    explicit DefaultsRead(State s) : state_(s) {}
    State state_;
    std::optional<T> value_;
};

struct DefaultsChange {
    // Keys whose value was set, removed or changed, in key order.
    std::vector<std::string> keys;
    // True when the change was made by someone else (the file changed on disk).
    bool external = false;
};

// The per-user key-value store of one defaults domain. Thread-safe; change
// handlers run on the thread that made or noticed the change, with no lock held.
class UserDefaults {
public:
    UserDefaults();
    virtual ~UserDefaults();
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    virtual std::optional<DefaultsValue> object(const std::string& key) const = 0;
    virtual void set(const std::string& key, DefaultsValue value) = 0;
    virtual void remove(const std::string& key) = 0;
    // Removes every key of the domain.
    virtual void removeDomain() = 0;
    // All keys, sorted.
    virtual std::vector<std::string> keys() const = 0;
    // Reads the backing storage again; differences are reported as external changes.
    virtual void reload() = 0;

    // Called after every change (our own writes and external ones) until the token is released.
    [[nodiscard]] Subscription onChange(std::function<void(const DefaultsChange&)> handler);

    // Typed readers: the value only when it was stored with exactly that type.
    DefaultsRead<bool> readBool(const std::string& key) const;
    DefaultsRead<std::int64_t> readInteger(const std::string& key) const;
    DefaultsRead<float> readFloat(const std::string& key) const;
    DefaultsRead<double> readDouble(const std::string& key) const;
    DefaultsRead<std::string> readString(const std::string& key) const;
    DefaultsRead<Date> readDate(const std::string& key) const;
    DefaultsRead<Bytes> readData(const std::string& key) const;
    DefaultsRead<DefaultsArray> readArray(const std::string& key) const;
    DefaultsRead<DefaultsDictionary> readDictionary(const std::string& key) const;

    // Coercing readers with the conventional user-defaults rules:
    // - boolForKey: a Boolean; a number other than 0; a text starting (after
    //   blanks, a sign and zeros) with Y, y, T, t or a digit 1-9. Else false.
    // - integerForKey: an integer; a float or double truncated toward zero
    //   (clamped, NaN gives 0); a Boolean as 1 or 0; the leading integer of a text. Else 0.
    // - floatForKey / doubleForKey: any number; a Boolean as 1 or 0; the leading
    //   number of a text. Else 0.
    // - stringForKey: a text; a number as its text (a Boolean as "1" or "0").
    // - dataForKey, arrayForKey, dictionaryForKey: only that type.
    // - stringArrayForKey: an array whose elements are all texts.
    bool boolForKey(const std::string& key) const;
    std::int64_t integerForKey(const std::string& key) const;
    float floatForKey(const std::string& key) const;
    double doubleForKey(const std::string& key) const;
    std::optional<std::string> stringForKey(const std::string& key) const;
    std::optional<Bytes> dataForKey(const std::string& key) const;
    std::optional<DefaultsArray> arrayForKey(const std::string& key) const;
    std::optional<DefaultsDictionary> dictionaryForKey(const std::string& key) const;
    std::optional<std::vector<std::string>> stringArrayForKey(const std::string& key) const;

protected:
    // Implementations call this after a change, holding no lock of their own.
    void notify(const DefaultsChange& change) const;

    // Keys whose values differ between two contents, sorted.
    static std::vector<std::string> changedKeys(const DefaultsDictionary& before, const DefaultsDictionary& after);

private:
    Signal<DefaultsChange> changes_;
};

// Copies the value stored under `key` beside it, as "<key>.corrupt-<UTC time>"
// (see corruptSuffix), and returns that key; nothing when `key` holds nothing.
// For a value a reader could not use, before a writer replaces it.
std::optional<std::string> keepValueAside(UserDefaults& defaults, const std::string& key, Date now);

}  // namespace platform
