#pragma once

// The user's pronunciation overrides for the on-device voice: words with a
// respelling ("koo-ber-NET-eez"), stored as JSON under "pronunciationOverrides",
// and the word -> IPA map that the voice's phonemizer looks words up in before
// any dictionary. Only the on-device voice uses them.

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/defaults/UserDefaults.h"
#include "platform/log/Log.h"
#include "platform/runtime/Error.h"
#include "platform/runtime/Observable.h"
#include "platform/values/Bytes.h"
#include "platform/values/JsonKept.h"
#include "platform/values/Uuid.h"

namespace parlowen {

struct PronunciationOverride {
    platform::Uuid id;       // kept when the entry is edited
    std::string word;        // as typed; matched case-insensitively
    std::string respelling;  // converted by respellingToIPA

    friend bool operator==(const PronunciationOverride&, const PronunciationOverride&) = default;
};

// Lower-cased word -> IPA text.
using PronunciationIPAMap = std::map<std::string, std::string>;

// The stored format, shared with the phonemizer, which reads the same key
// itself: a compact JSON array of {"id","word","respelling"} objects in list
// order, the id in upper-case canonical form; `kept` entries go back in their
// places. Fails only for text that is not valid UTF-8.
platform::Result<std::string> encodePronunciationOverrides(const std::vector<PronunciationOverride>& entries,
                                                           const platform::KeptJsonEntries& kept = {});

struct DecodedPronunciationOverrides {
    std::vector<PronunciationOverride> entries;
    // Objects that lacked a key, had a wrong type or a malformed id: each is
    // left out on its own, so one bad entry never costs the others.
    std::size_t skipped = 0;
    // Those entries as stored, for writing them back in their places.
    platform::KeptJsonEntries kept;
};
// Nothing when the data is not a JSON array at all.
std::optional<DecodedPronunciationOverrides> decodePronunciationOverrides(platform::ByteView data);

// The phonemizer's map for a list: lower-cased word -> respellingToIPA of its
// respelling, entries with an empty IPA text left out; of two entries with the
// same lower-cased word the later one wins.
PronunciationIPAMap pronunciationIPAMap(const std::vector<PronunciationOverride>& entries);

// One per process, owned by the composition root; main thread only.
class PronunciationOverrideStore {
public:
    static constexpr const char* kDefaultsKey = "pronunciationOverrides";
    // Receives the whole map whenever it may have changed (the on-device
    // voice's phonemizer replaces its override map with it).
    using PhonemizerHook = std::function<void(const PronunciationIPAMap&)>;

    PronunciationOverrideStore(platform::UserDefaults& defaults, PhonemizerHook phonemizer);
    PronunciationOverrideStore(const PronunciationOverrideStore&) = delete;
    PronunciationOverrideStore& operator=(const PronunciationOverrideStore&) = delete;

    std::vector<PronunciationOverride> entries() const { return entries_.get(); }
    // The current list, then every change (the preferences list observes this).
    platform::Stream<std::vector<PronunciationOverride>> entriesStream() const { return entries_.stream(); }
    // Replaces the whole list: full map rebuild, save, hand-over to the phonemizer.
    void setEntries(std::vector<PronunciationOverride> entries);

    // Updates the first entry with the same lower-cased word in place (keeping
    // its id, taking the new letter case) or appends a new one. The caller
    // trims both texts and passes only non-empty ones.
    void addOrUpdate(std::string_view word, std::string_view respelling);
    // Removes the entry with this id; an unknown id changes and writes nothing.
    void remove(const platform::Uuid& id);

    const PronunciationIPAMap& ipaCache() const { return ipaCache_; }

private:
    // A single-entry change patches the map itself; a whole new list rebuilds it.
    enum class CacheState { updated, stale };
    void changeEntries(std::vector<PronunciationOverride> entries, CacheState cache);
    void rebuildCache();
    void save();

    // Entries this version could not read, written back unchanged in their places.
    platform::KeptJsonEntries kept_;
    // The stored value is no JSON array: kept aside before the first save replaces it.
    bool setAsideFirst_ = false;

    platform::UserDefaults& defaults_;
    PhonemizerHook phonemizer_;
    platform::Observable<std::vector<PronunciationOverride>> entries_;
    PronunciationIPAMap ipaCache_;
    platform::Logger log_{"com.kelvatrum.Parlowen", "pronunciation"};
};

}  // namespace parlowen
