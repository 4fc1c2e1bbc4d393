#include "platform/defaults/JsonFileUserDefaults.h"

#include <cmath>
#include <limits>
#include <sys/stat.h>
#include <time.h>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "platform/values/Files.h"
#include "platform/values/Json.h"

namespace platform {
namespace {

// What identifies one version of the file: a rename gives a new inode, an
// in-place edit a new size or time.
struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    friend bool operator==(const FileStamp& a, const FileStamp& b) {
        if (a.exists != b.exists) return false;
        if (!a.exists) return true;
        return a.device == b.device && a.inode == b.inode && a.size == b.size &&
               a.modified.tv_sec == b.modified.tv_sec && a.modified.tv_nsec == b.modified.tv_nsec &&
               a.changed.tv_sec == b.changed.tv_sec && a.changed.tv_nsec == b.changed.tv_nsec;
    }
};

FileStamp stampOf(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    return FileStamp{true, st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

// File times advance in coarse steps (a clock tick), and a freed inode number is
// soon reused, so a rewrite moments after ours can keep the same stamp. While
// the file is that fresh, its content is compared as well.
bool recentlyModified(const FileStamp& stamp) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    double age = double(now.tv_sec - stamp.modified.tv_sec) + double(now.tv_nsec - stamp.modified.tv_nsec) / 1e9;
    return age < 2.0;
}

// JSON has no NaN or infinity; they are written as texts.
Json encodeFloating(double d) {
    if (std::isnan(d)) return "nan";
    if (std::isinf(d)) return d > 0 ? "inf" : "-inf";
    return d;
}

std::optional<double> decodeFloating(const Json& j) {
    if (j.is_number()) return j.get<double>();
    if (j.is_string()) {
        const auto& s = j.get_ref<const std::string&>();
        if (s == "nan") return std::numeric_limits<double>::quiet_NaN();
        if (s == "inf") return std::numeric_limits<double>::infinity();
        if (s == "-inf") return -std::numeric_limits<double>::infinity();
    }
    return std::nullopt;
}

Json encodeTagged(const DefaultsValue& value) {
    Json payload;
    switch (value.type()) {
        case DefaultsValue::Type::boolean: payload = *value.get<bool>(); break;
        case DefaultsValue::Type::integer: payload = *value.get<std::int64_t>(); break;
        // A float widens to double exactly, so it reads back bit for bit.
        case DefaultsValue::Type::float32: payload = encodeFloating(*value.get<float>()); break;
        case DefaultsValue::Type::float64: payload = encodeFloating(*value.get<double>()); break;
        case DefaultsValue::Type::string: payload = *value.get<std::string>(); break;
        case DefaultsValue::Type::date:
            payload = encodeFloating(value.get<Date>()->timeIntervalSinceReferenceDate());
            break;
        case DefaultsValue::Type::data: payload = base64Encode(*value.get<Bytes>()); break;
        case DefaultsValue::Type::array:
            payload = Json::array();
            for (const auto& element : *value.get<DefaultsArray>()) payload.push_back(encodeTagged(element));
            break;
        case DefaultsValue::Type::dictionary:
            payload = Json::object();
            for (const auto& [key, element] : *value.get<DefaultsDictionary>()) payload[key] = encodeTagged(element);
            break;
    }
    Json tagged = Json::object();
    tagged[std::string(defaultsTypeName(value.type()))] = std::move(payload);
    return tagged;
}

// A tagged value, or the reason it cannot be read.
std::variant<DefaultsValue, std::string> decodeTagged(const Json& j) {
    if (!j.is_object() || j.size() != 1) return std::string("not an object with one type tag");
    const std::string& tag = j.begin().key();
    const Json& v = j.begin().value();
    auto bad = [&] { return std::string(fmt::format("bad {} value", tag)); };
    if (tag == "bool") {
        if (!v.is_boolean()) return bad();
        return DefaultsValue(v.get<bool>());
    }
    if (tag == "integer") {
        auto i = requireInt64(j, tag);
        if (!i) return bad();
        return DefaultsValue(*i);
    }
    if (tag == "float" || tag == "double" || tag == "date") {
        auto d = decodeFloating(v);
        if (!d) return bad();
        if (tag == "float") return DefaultsValue(static_cast<float>(*d));
        if (tag == "double") return DefaultsValue(*d);
        return DefaultsValue(Date::fromTimeIntervalSinceReferenceDate(*d));
    }
    if (tag == "string") {
        if (!v.is_string()) return bad();
        return DefaultsValue(v.get<std::string>());
    }
    if (tag == "data") {
        if (!v.is_string()) return bad();
        auto bytes = base64Decode(v.get_ref<const std::string&>());
        if (!bytes) return bad();
        return DefaultsValue(std::move(*bytes));
    }
    if (tag == "array") {
        if (!v.is_array()) return bad();
        DefaultsArray array;
        for (const auto& element : v) {
            auto decoded = decodeTagged(element);
            if (auto why = std::get_if<std::string>(&decoded)) return fmt::format("array element: {}", *why);
            array.push_back(std::move(std::get<DefaultsValue>(decoded)));
        }
        return DefaultsValue(std::move(array));
    }
    if (tag == "dictionary") {
        if (!v.is_object()) return bad();
        DefaultsDictionary dictionary;
        for (const auto& [key, element] : v.items()) {
            auto decoded = decodeTagged(element);
            if (auto why = std::get_if<std::string>(&decoded)) return fmt::format("member {}: {}", key, *why);
            dictionary.insert_or_assign(key, std::move(std::get<DefaultsValue>(decoded)));
        }
        return DefaultsValue(std::move(dictionary));
    }
    return fmt::format("unknown type tag {}", tag);
}

std::string encodeFile(const DefaultsDictionary& values) {
    Json file = Json::object();
    for (const auto& [key, value] : values) file[key] = encodeTagged(value);
    // Invalid UTF-8 in a text must not make the whole file unwritable.
    return file.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace

struct JsonFileUserDefaults::State {
    DefaultsDictionary values;
    FileStamp stamp;       // the file as last read or written by us
    std::string text;      // its content then
    bool blocked = false;  // an unreadable file could not be moved aside: never write over it
};

// Work collected under the lock and done after it is released.
struct JsonFileUserDefaults::Pending {
    std::vector<std::pair<LogLevel, std::string>> logs;
    DefaultsChange external{{}, true};
    DefaultsChange own;
};

namespace {

struct LoadResult {
    DefaultsDictionary values;
    std::vector<std::string> badEntries;  // "key: reason"
    std::optional<std::string> unreadable;
};

LoadResult parseFile(ByteView bytes) {
    LoadResult result;
    auto json = decodeJson(bytes);
    if (!json) {
        result.unreadable = json.error().description;
        return result;
    }
    if (!json->is_object()) {
        result.unreadable = "the file does not hold a JSON object";
        return result;
    }
    for (const auto& [key, entry] : json->items()) {
        auto decoded = decodeTagged(entry);
        if (auto why = std::get_if<std::string>(&decoded))
            result.badEntries.push_back(fmt::format("{}: {}", key, *why));
        else
            result.values.insert_or_assign(key, std::move(std::get<DefaultsValue>(decoded)));
    }
    return result;
}

}  // namespace

JsonFileUserDefaults::JsonFileUserDefaults(std::filesystem::path file, Logger logger)
    : path_(std::move(file)), logger_(std::move(logger)), state_(std::make_unique<State>()) {
    Pending pending;
    {
        std::lock_guard lock(mutex_);
        load(pending, true);
    }
    // Nobody can be subscribed yet: only the log lines matter.
    pending.external.keys.clear();
    flush(pending);
}

JsonFileUserDefaults::~JsonFileUserDefaults() = default;

std::filesystem::path JsonFileUserDefaults::pathForDomain(const XdgDirs& dirs, std::string_view domain) {
    auto folder = dirs.configHome() / std::string(kFolderName);
    if (domain == kApplicationDomain) return folder / "defaults.json";
    // The domain is a file name: keep it inside the folder whatever it holds.
    std::string name(domain);
    for (char& c : name)
        if (c == '/' || c == '\0') c = '_';
    if (name.empty() || name == "." || name == "..") name = "_";
    return folder / (name + ".json");
}

std::unique_ptr<JsonFileUserDefaults> JsonFileUserDefaults::forDomain(const XdgDirs& dirs, std::string_view domain) {
    return std::make_unique<JsonFileUserDefaults>(pathForDomain(dirs, domain),
                                                  Logger(std::string(kApplicationDomain), "defaults"));
}

void JsonFileUserDefaults::load(Pending& pending, bool force) const {
    State& s = *state_;
    FileStamp stamp = stampOf(path_);
    std::optional<Result<Bytes>> bytes;
    if (!force && stamp == s.stamp) {
        if (!stamp.exists || !recentlyModified(stamp)) return;
        bytes = readFile(path_);
        if (*bytes && toString(**bytes) == s.text) return;
    }

    LoadResult loaded;
    std::string text;
    if (stamp.exists) {
        if (!bytes) bytes = readFile(path_);
        if (*bytes) {
            text = toString(**bytes);
            loaded = parseFile(**bytes);
        } else if ((*bytes).error().is(kFileErrorDomain, static_cast<int>(FileErrorCode::notFound))) {
            stamp = FileStamp{};  // removed between stat and read
        } else {
            loaded.unreadable = (*bytes).error().description;
        }
    }

    if (loaded.unreadable || !loaded.badEntries.empty()) {
        // Keep what could not be read: move the file aside before anything is written in its place.
        std::string reason = loaded.unreadable ? *loaded.unreadable : fmt::format("{}", fmt::join(loaded.badEntries, "; "));
        auto moved = moveAside(path_, corruptSuffix(Date::now()));
        if (!moved) {
            pending.logs.emplace_back(
                LogLevel::fault, fmt::format("defaults file unreadable and not moved aside, changes will not be saved "
                                             "path={} reason={} error={}",
                                             path_.string(), reason, moved.error().description));
            s.blocked = true;
            s.stamp = stamp;
            return;
        }
        pending.logs.emplace_back(LogLevel::error,
                                  fmt::format("defaults file unreadable, moved aside path={} moved_to={} reason={}",
                                              path_.string(), moved->string(), reason));
        s.blocked = false;
        s.stamp = stampOf(path_);
        if (loaded.unreadable) {
            // Nothing usable came in: keep what we hold and put it back on disk.
            if (!s.values.empty()) persist(pending);
            return;
        }
        // The readable entries are taken and written back without the bad ones.
        pending.external.keys = changedKeys(s.values, loaded.values);
        s.values = std::move(loaded.values);
        persist(pending);
        return;
    }

    s.blocked = false;
    auto changed = changedKeys(s.values, loaded.values);
    s.values = std::move(loaded.values);
    s.stamp = stamp;
    s.text = std::move(text);
    pending.external.keys.insert(pending.external.keys.end(), changed.begin(), changed.end());
}

void JsonFileUserDefaults::persist(Pending& pending) const {
    State& s = *state_;
    if (s.blocked) {
        pending.logs.emplace_back(LogLevel::error,
                                  fmt::format("defaults not saved, unreadable file in the way path={}", path_.string()));
        return;
    }
    std::string text = encodeFile(s.values);
    auto written = writeFileAtomically(path_, text);
    if (!written) {
        pending.logs.emplace_back(LogLevel::error, fmt::format("defaults write failed path={} error={}",
                                                               path_.string(), written.error().description));
        return;
    }
    s.stamp = stampOf(path_);
    s.text = std::move(text);
}

void JsonFileUserDefaults::flush(Pending& pending) const {
    for (const auto& [level, message] : pending.logs) logger_.write(level, message);
    if (!pending.external.keys.empty()) notify(pending.external);
    if (!pending.own.keys.empty()) notify(pending.own);
}

std::optional<DefaultsValue> JsonFileUserDefaults::object(const std::string& key) const {
    Pending pending;
    std::optional<DefaultsValue> result;
    {
        std::lock_guard lock(mutex_);
        load(pending, false);
        auto it = state_->values.find(key);
        if (it != state_->values.end()) result = it->second;
    }
    flush(pending);
    return result;
}

std::vector<std::string> JsonFileUserDefaults::keys() const {
    Pending pending;
    std::vector<std::string> result;
    {
        std::lock_guard lock(mutex_);
        load(pending, false);
        for (const auto& entry : state_->values) result.push_back(entry.first);
    }
    flush(pending);
    return result;
}

void JsonFileUserDefaults::set(const std::string& key, DefaultsValue value) {
    Pending pending;
    {
        std::lock_guard lock(mutex_);
        load(pending, false);  // never write over a change made by someone else
        state_->values.insert_or_assign(key, std::move(value));
        persist(pending);
        pending.own.keys = {key};
    }
    flush(pending);
}

void JsonFileUserDefaults::remove(const std::string& key) {
    Pending pending;
    {
        std::lock_guard lock(mutex_);
        load(pending, false);
        if (state_->values.erase(key) != 0) {
            persist(pending);
            pending.own.keys = {key};
        }
    }
    flush(pending);
}

void JsonFileUserDefaults::removeDomain() {
    Pending pending;
    {
        std::lock_guard lock(mutex_);
        load(pending, false);
        for (const auto& entry : state_->values) pending.own.keys.push_back(entry.first);
        state_->values.clear();
        if (state_->blocked) {
            persist(pending);  // logs that nothing can be saved; the unreadable file stays
        } else {
            // An empty domain has no file; the next write makes a new one.
            std::error_code ec;
            std::filesystem::remove(path_, ec);
            if (ec)
                pending.logs.emplace_back(LogLevel::error, fmt::format("defaults domain not removed path={} error={}",
                                                                       path_.string(), ec.message()));
            state_->stamp = stampOf(path_);
            state_->text.clear();
        }
    }
    flush(pending);
}

void JsonFileUserDefaults::reload() {
    Pending pending;
    {
        std::lock_guard lock(mutex_);
        load(pending, true);
    }
    flush(pending);
}

}  // namespace platform
