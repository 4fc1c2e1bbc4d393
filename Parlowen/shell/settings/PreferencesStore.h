#pragma once

// The settings model: every setting the user can change, and a few markers the
// application sets for itself. Each setting is an observable property written
// to the user defaults, under a key equal to its name, the moment it is set.
// One instance per process, owned by the composition root; main thread only.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "Parlowen/model/CleanUpModel.h"
#include "Parlowen/model/DictationEngine.h"
#include "Parlowen/model/Gesture.h"
#include "Parlowen/model/LiveDisplayMode.h"
#include "Parlowen/model/PodcastEngineKind.h"
#include "Parlowen/model/ReadAloudEngineKind.h"
#include "Parlowen/model/Theme.h"
#include "Parlowen/model/Tone.h"
#include "Parlowen/model/VoiceCommand.h"
#include "Parlowen/shell/settings/PerAppRule.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/log/Log.h"
#include "platform/runtime/Observable.h"
#include "platform/values/Date.h"
#include "platform/values/JsonKept.h"

namespace parlowen {

class PreferencesStore;

// What the reading of one stored list could not use: entries kept as stored
// (written back in their places), or a value that is no list at all (kept
// aside under another key before the first write replaces it).
struct StoredEntries {
    platform::KeptJsonEntries kept;
    bool setAside = false;
};

// One setting. Reading gives the current value; `set` runs the write path:
// the store announces the change, subscribers are handed the new value (before
// the setting holds it), then it is stored and written to the user defaults.
// Equal values are delivered and written again.
template <class T>
class Setting {
public:
    Setting(const Setting&) = delete;
    Setting& operator=(const Setting&) = delete;

    const std::string& key() const { return key_; }
    T get() const { return value_.get(); }
    T operator()() const { return value_.get(); }

    void set(T value);

    // The current value at once, then every new value as it is set.
    platform::Stream<T> stream() const { return value_.stream(); }
    [[nodiscard]] platform::Subscription subscribe(platform::Sink<T> sink) const {
        return value_.subscribe(std::move(sink));
    }

private:
    friend class PreferencesStore;
    Setting(PreferencesStore& owner, std::string key, T initial)
        : owner_(owner), key_(std::move(key)), value_(std::move(initial)) {}

    PreferencesStore& owner_;
    std::string key_;
    platform::Observable<T> value_;
    std::function<void(const T&)> afterWrite_;
};

class PreferencesStore {
public:
    struct Dependencies;

private:
    // Declared first: the settings are initialised after these.
    platform::UserDefaults& defaults_;
    std::function<bool()> isOnDeviceModelAvailable_;
    std::function<void()> clearDictationHistory_;
    std::function<std::string()> fullUserName_;
    std::function<std::optional<std::string>()> computerName_;
    platform::Logger logger_;
    platform::Signal<std::string> willChange_;

public:
    struct Dependencies {
        // Empties the dictation history; called when `rememberDictationHistory`
        // is turned off. Absent: nothing to empty.
        std::function<void()> clearDictationHistory;
        // Whether the on-device language model is available; decides the
        // default of `cleanUpModel`. Absent: unavailable (always so on Linux).
        std::function<bool()> isOnDeviceModelAvailable;
        // Sources of the default recognition hints. Absent: empty / no name.
        std::function<std::string()> fullUserName;
        std::function<std::optional<std::string>()> computerName;
    };

    // Reads every setting (absent or unusable values take their defaults),
    // migrates legacy gestures and runs the one-time seeding.
    PreferencesStore(platform::UserDefaults& defaults, Dependencies dependencies);
    ~PreferencesStore();
    PreferencesStore(const PreferencesStore&) = delete;
    PreferencesStore& operator=(const PreferencesStore&) = delete;

    // The settings, in the order in which they are declared and loaded.
    Setting<bool> hasCompletedFirstRun;
    Setting<LiveDisplayMode> liveDisplayMode;
    Setting<Gesture> dictationGesture;
    Setting<Gesture> readAloudGesture;
    Setting<Gesture> notepadGesture;
    Setting<Gesture> summarizeReadAloudGesture;
    Setting<float> readAloudRate;
    Setting<std::optional<std::string>> readAloudVoiceIdentifier;
    Setting<ReadAloudEngineKind> readAloudEngine;
    Setting<std::optional<std::string>> podcastHostAVoiceID;
    Setting<std::optional<std::string>> podcastHostBVoiceID;
    Setting<PodcastEngineKind> podcastEngine;
    Setting<std::optional<std::string>> podcastGeminiHostAVoiceName;
    Setting<std::optional<std::string>> podcastGeminiHostBVoiceName;
    Setting<DictationEngineMode> dictationEngineMode;
    Setting<GroqTranscriptionModel> groqModel;
    Setting<std::set<VoiceCommand>> enabledVoiceCommands;
    Setting<std::vector<PerAppRule>> perAppRules;
    Setting<bool> hasSeededPerAppRules;
    Setting<OpenAITTSVoice> openAIVoice;
    Setting<std::optional<std::string>> cartesiaVoiceId;
    Setting<std::optional<std::string>> elevenLabsVoiceId;
    Setting<std::optional<std::string>> kokoroVoiceIdentifier;
    Setting<bool> aiRefinementEnabled;
    Setting<bool> polishPunctuationEnabled;
    Setting<std::string> defaultToneID;
    Setting<std::vector<Tone>> customTones;
    Setting<CleanUpModel> cleanUpModel;
    Setting<std::vector<std::string>> dictationContextualPhrases;
    Setting<bool> hasSeededContextualPhrases;
    Setting<bool> learnFromDictation;
    Setting<std::map<std::string, std::int64_t>> learnedVocabulary;
    Setting<bool> hasAutoSelectedInputDevice;
    Setting<std::optional<std::string>> preferredInputDeviceUID;
    Setting<std::optional<std::string>> preferredOutputDeviceUID;
    Setting<bool> autoDowngradeForLargeReads;
    Setting<std::set<std::string>> acknowledgedCloudProviders;
    Setting<bool> autoUpdateEnabled;
    Setting<bool> hideMenuBarIcon;
    Setting<std::optional<platform::Date>> lastQuonReportOpenedAt;
    Setting<bool> sendCrashReports;
    Setting<bool> rememberDictationHistory;
    Setting<bool> enableListenLater;
    Setting<Theme> selectedTheme;

    // Announced before any setting changes, with the setting's key (views redraw on it).
    platform::Stream<std::string> objectWillChange() const { return willChange_.stream(); }

    // The voice identifier of the current read-aloud engine.
    std::optional<std::string> activeVoiceIdentifier() const;
    // The stored voice of one read-aloud engine.
    std::optional<std::string> voiceIdentifier(ReadAloudEngineKind kind) const;

    // The default recognition hints for this user and computer.
    std::vector<std::string> defaultContextualPhrases() const;
    // The same from given names: the full name and its words (punctuation
    // trimmed), the first word of the computer name without "'s", and the
    // product names; duplicates collapse, sorted by code points after NFC.
    static std::vector<std::string> defaultContextualPhrasesFor(std::string_view fullName,
                                                                std::optional<std::string_view> computerName);

    // JSON-encodes a value (compactly) and stores the data under `key`; nothing
    // is written when it cannot be encoded. For writers that change a JSON
    // setting in place and store it themselves. Defined for the JSON setting
    // types registered in the .cpp.
    template <class T>
    void persistJSON(const T& value, const std::string& key);

    // The gestures the migration starts from.
    static Gesture dictationDefaultGesture();   // ⌘⇧D
    static Gesture readAloudDefaultGesture();   // ⌃⇧S
    static Gesture notepadDefaultGesture();     // ⌘⇧N
    static Gesture summarizeDefaultGesture();   // ⌃⌥⇧S

    struct MigratedGestures {
        Gesture dictation;
        Gesture readAloud;
        Gesture notepad;
        // Set when the three were rebuilt from legacy keys or defaults.
        bool migrated = false;
    };
    // The three gestures from their keys, or rebuilt from the legacy keys when
    // any of them is absent or does not decode.
    static MigratedGestures migrateLegacyGestures(const platform::UserDefaults& defaults);

private:
    template <class T>
    friend class Setting;

    struct Loader;
    PreferencesStore(platform::UserDefaults& defaults, Dependencies dependencies, Loader&& loader);

    void announce(const std::string& key) { willChange_.send(key); }
    // Writes one value under its key in its storage kind. Instantiated in the
    // .cpp for each setting type: a new type is registered in the list there.
    template <class T>
    void writeValue(const std::string& key, const T& value);
    void runLoadSteps(bool migrated, bool summarizeTookDefault);

    // Lists with unreadable entries or values, by key.
    std::map<std::string, StoredEntries> stored_;
};

template <class T>
void Setting<T>::set(T value) {
    owner_.announce(key_);
    value_.set(std::move(value));
    owner_.writeValue(key_, value_.get());
    if (afterWrite_) afterWrite_(value_.get());
}

}  // namespace parlowen
