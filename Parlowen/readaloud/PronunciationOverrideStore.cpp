#include "Parlowen/readaloud/PronunciationOverrideStore.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "Parlowen/readaloud/RespellingToIPA.h"
#include "platform/text/Unicode.h"
#include "platform/values/Json.h"

namespace parlowen {
namespace {

std::optional<PronunciationOverride> decodeEntry(const platform::Json& item) {
    if (!item.is_object()) return std::nullopt;
    auto id = platform::requireUuid(item, "id");
    auto word = platform::requireString(item, "word");
    auto respelling = platform::requireString(item, "respelling");
    if (!id || !word || !respelling) return std::nullopt;
    return PronunciationOverride{*id, std::move(*word), std::move(*respelling)};
}

}  // namespace

platform::Result<std::string> encodePronunciationOverrides(const std::vector<PronunciationOverride>& entries,
                                                           const platform::KeptJsonEntries& kept) {
    std::vector<std::string> elements;
    for (const auto& e : entries) {
        platform::Json object = platform::Json::object();
        object["id"] = e.id.uuidString();
        object["word"] = e.word;
        object["respelling"] = e.respelling;
        auto text = platform::encodeJson(object);
        if (!text) return platform::fail(text.error());
        elements.push_back(std::move(*text));
    }
    return kept.writeArray(elements);
}

std::optional<DecodedPronunciationOverrides> decodePronunciationOverrides(platform::ByteView data) {
    const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    auto json = platform::decodeJson(text);
    if (!json || !json->is_array()) return std::nullopt;
    auto texts = platform::jsonArrayElementTexts(text);
    if (!texts) return std::nullopt;
    DecodedPronunciationOverrides out;
    for (std::size_t i = 0; i < texts->size(); ++i) {
        if (auto entry = decodeEntry((*json)[i])) {
            out.kept.elementRead();
            out.entries.push_back(std::move(*entry));
        } else {
            ++out.skipped;
            out.kept.keepElement((*texts)[i]);
        }
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
            kept_ = std::move(decoded->kept);
        } else {
            log_.error("pronunciation overrides: stored data is not a JSON array; starting empty");
            setAsideFirst_ = true;
        }
    } else if (defaults_.object(kDefaultsKey)) {
        log_.error("pronunciation overrides: stored value is not data; starting empty");
        setAsideFirst_ = true;
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
    auto text = encodePronunciationOverrides(entries_.get(), kept_);
    if (!text) {
        log_.error("pronunciation overrides: encode failed: {}", text.error().description);
        return;
    }
    if (setAsideFirst_) {
        if (auto aside = platform::keepValueAside(defaults_, kDefaultsKey, platform::Date::now()))
            log_.error("pronunciation overrides: the unreadable stored value was kept as {}", *aside);
        setAsideFirst_ = false;
    }
    defaults_.set(kDefaultsKey, platform::toBytes(*text));
}

}  // namespace parlowen
