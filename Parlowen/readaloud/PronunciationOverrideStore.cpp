#include "Parlowen/readaloud/PronunciationOverrideStore.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "Parlowen/readaloud/RespellingToIPA.h"
#include "platform/text/Unicode.h"
#include "platform/values/Json.h"

namespace parlowen {

platform::Result<std::string> encodePronunciationOverrides(const std::vector<PronunciationOverride>& entries) {
    platform::Json array = platform::Json::array();
    for (const auto& e : entries) {
        platform::Json object = platform::Json::object();
        object["id"] = e.id.uuidString();
        object["word"] = e.word;
        object["respelling"] = e.respelling;
        array.push_back(std::move(object));
    }
    return platform::encodeJson(array);
}

std::optional<DecodedPronunciationOverrides> decodePronunciationOverrides(platform::ByteView data) {
    auto json = platform::decodeJson(data);
    if (!json || !json->is_array()) return std::nullopt;
    DecodedPronunciationOverrides out;
    for (const auto& item : *json) {
        if (!item.is_object()) {
            ++out.skipped;
            continue;
        }
        auto id = platform::requireUuid(item, "id");
        auto word = platform::requireString(item, "word");
        auto respelling = platform::requireString(item, "respelling");
        if (!id || !word || !respelling) {
            ++out.skipped;
            continue;
        }
        out.entries.push_back({*id, std::move(*word), std::move(*respelling)});
    }
    return out;
}

PronunciationIPAMap pronunciationIPAMap(const std::vector<PronunciationOverride>& entries) {
    PronunciationIPAMap map;
    for (const auto& e : entries) {
        auto ipa = respellingToIPA(e.respelling);
        if (!ipa.empty()) map[platform::text::lowercased(e.word)] = std::move(ipa);
    }
    return map;
}

PronunciationOverrideStore::PronunciationOverrideStore(platform::UserDefaults& defaults, PhonemizerHook phonemizer)
    : defaults_(defaults), phonemizer_(std::move(phonemizer)) {
    // Loading assigns the list directly: nothing is written back, so data that
    // could not be read stays as it was until the next change.
    if (auto data = defaults_.readData(kDefaultsKey)) {
        if (auto decoded = decodePronunciationOverrides(data.value())) {
            if (decoded->skipped > 0)
                log_.error("pronunciation overrides: skipped unreadable entries count={} kept={}", decoded->skipped,
                           decoded->entries.size());
            entries_.set(std::move(decoded->entries));
        } else {
            log_.error("pronunciation overrides: stored data is not a JSON array; starting empty");
        }
    }
    rebuildCache();
    if (phonemizer_) phonemizer_(ipaCache_);
}

void PronunciationOverrideStore::setEntries(std::vector<PronunciationOverride> entries) {
    changeEntries(std::move(entries), CacheState::stale);
}

void PronunciationOverrideStore::addOrUpdate(std::string_view word, std::string_view respelling) {
    auto key = platform::text::lowercased(word);
    auto ipa = respellingToIPA(respelling);
    if (!ipa.empty()) ipaCache_[key] = std::move(ipa);
    else ipaCache_.erase(key);

    auto list = entries_.get();
    auto it = std::find_if(list.begin(), list.end(),
                           [&](const auto& e) { return platform::text::lowercased(e.word) == key; });
    if (it != list.end()) {
        it->word = std::string(word);
        it->respelling = std::string(respelling);
    } else {
        list.push_back({platform::Uuid::random(), std::string(word), std::string(respelling)});
    }
    changeEntries(std::move(list), CacheState::updated);
}

void PronunciationOverrideStore::remove(const platform::Uuid& id) {
    auto list = entries_.get();
    auto it = std::find_if(list.begin(), list.end(), [&](const auto& e) { return e.id == id; });
    if (it == list.end()) return;
    ipaCache_.erase(platform::text::lowercased(it->word));
    std::erase_if(list, [&](const auto& e) { return e.id == id; });
    changeEntries(std::move(list), CacheState::updated);
}

void PronunciationOverrideStore::changeEntries(std::vector<PronunciationOverride> entries, CacheState cache) {
    entries_.set(std::move(entries));
    if (cache == CacheState::stale) rebuildCache();
    save();
    if (phonemizer_) phonemizer_(ipaCache_);
}

void PronunciationOverrideStore::rebuildCache() { ipaCache_ = pronunciationIPAMap(entries_.get()); }

void PronunciationOverrideStore::save() {
    auto text = encodePronunciationOverrides(entries_.get());
    if (!text) {
        log_.error("pronunciation overrides: encode failed: {}", text.error().description);
        return;
    }
    defaults_.set(kDefaultsKey, platform::toBytes(*text));
}

}  // namespace parlowen
