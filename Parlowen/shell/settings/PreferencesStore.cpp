#include "Parlowen/shell/settings/PreferencesStore.h"

#include <cmath>
#include <limits>
#include <type_traits>

#include <fmt/core.h>
#include <nlohmann/json.hpp>

#include "platform/text/Unicode.h"
#include "platform/values/Files.h"
#include "platform/values/Json.h"

namespace parlowen {
namespace {

using platform::Json;
using platform::Result;
using platform::UserDefaults;

constexpr const char* kSubsystem = "com.kelvatrum.Parlowen";

template <class T>
struct IsVector : std::false_type {};
template <class T>
struct IsVector<std::vector<T>> : std::true_type {};
template <class T>
struct IsSet : std::false_type {};
template <class T>
struct IsSet<std::set<T>> : std::true_type {};

platform::Error typeMismatch(std::string description) {
    return jsonError(platform::JsonErrorCode::typeMismatch, std::move(description));
}

// ---- JSON forms of the setting values ------------------------------------------

template <class T>
Json encodeValue(const T& value) {
    if constexpr (IsVector<T>::value || IsSet<T>::value) {
        Json array = Json::array();
        for (const auto& item : value) array.push_back(encodeValue(item));
        return array;
    } else if constexpr (std::is_same_v<T, std::map<std::string, std::int64_t>>) {
        Json object = Json::object();
        for (const auto& [word, count] : value) object[word] = count;
        return object;
    } else if constexpr (std::is_same_v<T, std::string>) {
        return Json(value);
    } else {
        return toJson(value);
    }
}

template <class T>
Result<T> decodeElement(const Json& json) {
    if constexpr (std::is_same_v<T, std::string>) {
        if (!json.is_string()) return platform::fail(typeMismatch(fmt::format("Expected a string but found {}", json.type_name())));
        return json.get<std::string>();
    } else {
        return fromJson<T>(json);
    }
}

// A whole number that fits a 64-bit signed integer ("3.0" counts, 3.5 does not).
std::optional<std::int64_t> wholeNumber(const Json& json) {
    if (json.is_number_integer()) {
        if (json.is_number_unsigned() && json.get<std::uint64_t>() > std::uint64_t(std::numeric_limits<std::int64_t>::max()))
            return std::nullopt;
        return json.get<std::int64_t>();
    }
    if (json.is_number_float()) {
        const double d = json.get<double>();
        if (std::isfinite(d) && d == std::floor(d) && d >= -9223372036854775808.0 && d < 9223372036854775808.0)
            return static_cast<std::int64_t>(d);
    }
    return std::nullopt;
}

template <class T>
constexpr bool kReadEntryByEntry =
    IsVector<T>::value || IsSet<T>::value || std::is_same_v<T, std::map<std::string, std::int64_t>>;

// Decodes a stored value. Lists the user built up (rules, tones, hints, voice
// commands, providers) and the learned vocabulary are read entry by entry: an
// entry that does not decode is left out of the value and kept in `kept`
// exactly as stored, so one bad entry costs nothing else and the next write
// puts it back in its place.
template <class T>
Result<T> decodeValue(std::string_view text, const Json& json, const std::string& key,
                      const platform::Logger& logger, platform::KeptJsonEntries& kept) {
    if constexpr (IsVector<T>::value || IsSet<T>::value) {
        using Element = typename T::value_type;
        auto texts = platform::jsonArrayElementTexts(text);
        if (!texts) return platform::fail(texts.error());
        T out;
        for (std::size_t index = 0; index < texts->size(); ++index) {
            auto element = decodeElement<Element>(json[index]);
            if (!element) {
                logger.error("{}: entry {} does not decode and is kept as stored: {}", key, index,
                             element.error().description);
                kept.keepElement((*texts)[index]);
                continue;
            }
            kept.elementRead();
            if constexpr (IsVector<T>::value)
                out.push_back(std::move(*element));
            else
                out.insert(std::move(*element));
        }
        return out;
    } else if constexpr (std::is_same_v<T, std::map<std::string, std::int64_t>>) {
        auto members = platform::jsonObjectMemberTexts(text);
        if (!members) return platform::fail(members.error());
        T out;
        for (const auto& member : *members) {
            auto value = platform::decodeJson(member.valueText);
            if (auto n = value ? wholeNumber(*value) : std::nullopt) {
                out[member.key] = *n;
            } else {
                logger.error("{}: entry does not decode and is kept as stored: {}", key, member.valueText);
                kept.keepMember(member);
            }
        }
        return out;
    } else {
        return decodeElement<T>(json);
    }
}

// The value stored as JSON data under `key`; nothing when it is absent, not
// data, or does not decode. For lists, what could not be read goes to `stored`.
template <class T>
std::optional<T> storedJSON(const UserDefaults& defaults, const std::string& key, const platform::Logger& logger,
                            StoredEntries* stored = nullptr) {
    auto value = defaults.object(key);
    if (!value) return std::nullopt;
    std::optional<T> out;
    platform::KeptJsonEntries kept;
    if (const auto* data = value->get<platform::Bytes>()) {
        const std::string_view text(reinterpret_cast<const char*>(data->data()), data->size());
        if (auto parsed = platform::decodeJson(text))
            if (auto decoded = decodeValue<T>(text, *parsed, key, logger, kept)) out = std::move(*decoded);
    }
    if constexpr (kReadEntryByEntry<T>) {
        if (stored) {
            if (!out) {
                // Not a list at all: kept aside before anything replaces it.
                logger.error("{}: the stored value is not readable and is kept aside at the next write", key);
                stored->setAside = true;
            }
            stored->kept = std::move(kept);
        }
    }
    return out;
}

// The list's JSON text with the kept entries back in their places.
template <class T>
std::optional<std::string> keptWritten(const T& value, const platform::KeptJsonEntries& kept) {
    if constexpr (IsVector<T>::value || IsSet<T>::value) {
        std::vector<std::string> elements;
        for (const auto& item : value) {
            auto text = platform::encodeJson(encodeValue(item));
            if (!text) return std::nullopt;
            elements.push_back(std::move(*text));
        }
        return kept.writeArray(elements);
    } else {
        std::vector<std::pair<std::string, std::string>> members;
        for (const auto& [word, count] : value) members.emplace_back(word, std::to_string(count));
        return kept.writeObject(members);
    }
}

// Removes Unicode punctuation from both ends, code point by code point.
std::string trimPunctuation(std::string_view text) {
    std::u32string cps = platform::text::toUtf32(text);
    std::size_t begin = 0, end = cps.size();
    while (begin < end && platform::text::isPunctuation(cps[begin])) ++begin;
    while (end > begin && platform::text::isPunctuation(cps[end - 1])) --end;
    return platform::text::fromUtf32(std::u32string_view(cps).substr(begin, end - begin));
}

}  // namespace

// ---- Reading at creation ---------------------------------------------------------

struct PreferencesStore::Loader {
    explicit Loader(const UserDefaults& d)
        : defaults(d), logger(kSubsystem, "settings"), gestures(migrateLegacyGestures(d)) {
        auto stored = json<std::optional<Gesture>>("summarizeReadAloudGesture");
        summarizeTookDefault = !stored.has_value();
        summarize = stored.value_or(summarizeDefaultGesture());
    }

    bool boolean(const std::string& key) const { return defaults.boolForKey(key); }
    bool booleanTrueWhenAbsent(const std::string& key) const {
        return defaults.object(key) ? defaults.boolForKey(key) : true;
    }
    bool booleanTyped(const std::string& key) const { return defaults.readBool(key).valueOr(true); }
    float number(const std::string& key, float fallback) const {
        const float v = defaults.floatForKey(key);
        return v > 0 ? v : fallback;  // also replaces NaN
    }
    std::string text(const std::string& key, std::string fallback) const {
        return defaults.stringForKey(key).value_or(std::move(fallback));
    }
    std::optional<std::string> optionalText(const std::string& key, std::optional<std::string> fallback = {}) const {
        if (auto s = defaults.stringForKey(key)) return s;
        return fallback;
    }
    std::optional<platform::Date> optionalDate(const std::string& key) const {
        return defaults.readDate(key).optional();
    }
    template <class E>
    E rawText(const std::string& key, E fallback) const {
        if (auto s = defaults.stringForKey(key))
            if (auto e = fromRawValue<E>(*s)) return *e;
        return fallback;
    }
    // The decoded value, or nothing when absent, not data, or undecodable.
    template <class O>
    O json(const std::string& key) const {
        return storedJSON<typename O::value_type>(defaults, key, logger, &stored[key]);
    }
    template <class T>
    T json(const std::string& key, T fallback) const {
        return json<std::optional<T>>(key).value_or(std::move(fallback));
    }

    const UserDefaults& defaults;
    platform::Logger logger;
    // What the lists read entry by entry could not read, by key.
    mutable std::map<std::string, StoredEntries> stored;
    MigratedGestures gestures;
    Gesture summarize;
    bool summarizeTookDefault = false;
};

PreferencesStore::PreferencesStore(UserDefaults& defaults, Dependencies dependencies)
    : PreferencesStore(defaults, std::move(dependencies), Loader(defaults)) {}

PreferencesStore::PreferencesStore(UserDefaults& defaults, Dependencies deps, Loader&& l)
    : defaults_(defaults),
      isOnDeviceModelAvailable_(std::move(deps.isOnDeviceModelAvailable)),
      clearDictationHistory_(std::move(deps.clearDictationHistory)),
      fullUserName_(std::move(deps.fullUserName)),
      computerName_(std::move(deps.computerName)),
      logger_(kSubsystem, "settings"),
      hasCompletedFirstRun(*this, "hasCompletedFirstRun", l.boolean("hasCompletedFirstRun")),
      liveDisplayMode(*this, "liveDisplayMode", l.json("liveDisplayMode", LiveDisplayMode::hud)),
      dictationGesture(*this, "dictationGesture", l.gestures.dictation),
      readAloudGesture(*this, "readAloudGesture", l.gestures.readAloud),
      notepadGesture(*this, "notepadGesture", l.gestures.notepad),
      summarizeReadAloudGesture(*this, "summarizeReadAloudGesture", l.summarize),
      readAloudRate(*this, "readAloudRate", l.number("readAloudRate", 0.5f)),
      readAloudVoiceIdentifier(*this, "readAloudVoiceIdentifier",
                               l.optionalText("readAloudVoiceIdentifier", "com.apple.voice.premium.en-US.Zoe")),
      readAloudEngine(*this, "readAloudEngine",
                      l.json("readAloudEngine", l.boolean("hasCompletedFirstRun") ? ReadAloudEngineKind::appleSpeech
                                                                                  : ReadAloudEngineKind::kokoro)),
      podcastHostAVoiceID(*this, "podcastHostAVoiceID", l.optionalText("podcastHostAVoiceID", "af_heart")),
      podcastHostBVoiceID(*this, "podcastHostBVoiceID", l.optionalText("podcastHostBVoiceID", "am_puck")),
      podcastEngine(*this, "podcastEngine", l.json("podcastEngine", PodcastEngineKind::kokoro)),
      podcastGeminiHostAVoiceName(*this, "podcastGeminiHostAVoiceName", l.optionalText("podcastGeminiHostAVoiceName")),
      podcastGeminiHostBVoiceName(*this, "podcastGeminiHostBVoiceName", l.optionalText("podcastGeminiHostBVoiceName")),
      dictationEngineMode(*this, "dictationEngineMode", l.json("dictationEngineMode", DictationEngineMode::speed)),
      groqModel(*this, "groqModel", l.json("groqModel", GroqTranscriptionModel::largeV3Turbo)),
      enabledVoiceCommands(*this, "enabledVoiceCommands",
                           l.json("enabledVoiceCommands", std::set<VoiceCommand>{})),
      perAppRules(*this, "perAppRules", l.json("perAppRules", std::vector<PerAppRule>{})),
      hasSeededPerAppRules(*this, "hasSeededPerAppRules", l.boolean("hasSeededPerAppRules")),
      openAIVoice(*this, "openAIVoice", l.json("openAIVoice", OpenAITTSVoice::coral)),
      cartesiaVoiceId(*this, "cartesiaVoiceId", l.optionalText("cartesiaVoiceId")),
      elevenLabsVoiceId(*this, "elevenLabsVoiceId", l.optionalText("elevenLabsVoiceId")),
      kokoroVoiceIdentifier(*this, "kokoroVoiceIdentifier", l.optionalText("kokoroVoiceIdentifier")),
      aiRefinementEnabled(*this, "aiRefinementEnabled", l.boolean("aiRefinementEnabled")),
      polishPunctuationEnabled(*this, "polishPunctuationEnabled", l.boolean("polishPunctuationEnabled")),
      defaultToneID(*this, "defaultToneID", l.text("defaultToneID", "email")),
      customTones(*this, "customTones", l.json("customTones", std::vector<Tone>{})),
      cleanUpModel(*this, "cleanUpModel",
                   l.rawText("cleanUpModel", isOnDeviceModelAvailable_ && isOnDeviceModelAvailable_()
                                                 ? CleanUpModel::appleIntelligence
                                                 : CleanUpModel::sonnet46)),
      dictationContextualPhrases(*this, "dictationContextualPhrases",
                                 l.json("dictationContextualPhrases", std::vector<std::string>{})),
      hasSeededContextualPhrases(*this, "hasSeededContextualPhrases", l.boolean("hasSeededContextualPhrases")),
      learnFromDictation(*this, "learnFromDictation", l.booleanTrueWhenAbsent("learnFromDictation")),
      learnedVocabulary(*this, "learnedVocabulary",
                        l.json("learnedVocabulary", std::map<std::string, std::int64_t>{})),
      hasAutoSelectedInputDevice(*this, "hasAutoSelectedInputDevice", l.boolean("hasAutoSelectedInputDevice")),
      preferredInputDeviceUID(*this, "preferredInputDeviceUID", l.optionalText("preferredInputDeviceUID")),
      preferredOutputDeviceUID(*this, "preferredOutputDeviceUID", l.optionalText("preferredOutputDeviceUID")),
      autoDowngradeForLargeReads(*this, "autoDowngradeForLargeReads",
                                 l.booleanTrueWhenAbsent("autoDowngradeForLargeReads")),
      acknowledgedCloudProviders(*this, "acknowledgedCloudProviders",
                                 l.json("acknowledgedCloudProviders", std::set<std::string>{})),
      autoUpdateEnabled(*this, "autoUpdateEnabled", l.booleanTrueWhenAbsent("autoUpdateEnabled")),
      hideMenuBarIcon(*this, "hideMenuBarIcon", l.boolean("hideMenuBarIcon")),
      lastQuonReportOpenedAt(*this, "lastQuonReportOpenedAt", l.optionalDate("lastQuonReportOpenedAt")),
      sendCrashReports(*this, "sendCrashReports", l.boolean("sendCrashReports")),
      rememberDictationHistory(*this, "rememberDictationHistory", l.booleanTyped("rememberDictationHistory")),
      enableListenLater(*this, "enableListenLater", l.boolean("enableListenLater")),
      selectedTheme(*this, "selectedTheme", l.json("selectedTheme", Theme::hearth)) {
    for (auto& [key, entries] : l.stored)
        if (entries.setAside || !entries.kept.empty()) stored_.emplace(key, std::move(entries));
    rememberDictationHistory.afterWrite_ = [this](const bool& remember) {
        if (!remember && clearDictationHistory_) clearDictationHistory_();
    };
    runLoadSteps(l.gestures.migrated, l.summarizeTookDefault);
}

PreferencesStore::~PreferencesStore() = default;

void PreferencesStore::runLoadSteps(bool migrated, bool summarizeTookDefault) {
    // 1. A user who already reads aloud with a cloud voice has accepted that provider.
    if (isCloud(readAloudEngine.get())) {
        auto providers = acknowledgedCloudProviders.get();
        providers.insert(std::string(rawValue(readAloudEngine.get())));
        acknowledgedCloudProviders.set(std::move(providers));
    }
    // 2. Recognition hints, once.
    if (!hasSeededContextualPhrases.get() && dictationContextualPhrases.get().empty()) {
        dictationContextualPhrases.set(defaultContextualPhrases());
        hasSeededContextualPhrases.set(true);
    }
    // 3. and 4. Collisions.
    if (readAloudGesture.get() == dictationGesture.get()) readAloudGesture.set(readAloudDefaultGesture());
    const Gesture summarize = summarizeReadAloudGesture.get();
    if (summarize == dictationGesture.get() || summarize == readAloudGesture.get() || summarize == notepadGesture.get())
        summarizeReadAloudGesture.set(summarizeDefaultGesture());
    // 5. Persist what the migration built.
    if (migrated) {
        persistJSON(dictationGesture.get(), dictationGesture.key());
        persistJSON(readAloudGesture.get(), readAloudGesture.key());
        persistJSON(notepadGesture.get(), notepadGesture.key());
    }
    if (summarizeTookDefault) persistJSON(summarizeReadAloudGesture.get(), summarizeReadAloudGesture.key());
    // 6. Per-application rules, once.
    if (!hasSeededPerAppRules.get() && perAppRules.get().empty()) {
        perAppRules.set(PerAppRule::defaultRules());
        hasSeededPerAppRules.set(true);
    }
}

// ---- Gestures ----------------------------------------------------------------------

Gesture PreferencesStore::dictationDefaultGesture() { return Gesture::combo(2, 0x120000); }
Gesture PreferencesStore::readAloudDefaultGesture() { return Gesture::combo(1, 0x60000); }
Gesture PreferencesStore::notepadDefaultGesture() { return Gesture::combo(45, 0x120000); }
Gesture PreferencesStore::summarizeDefaultGesture() { return Gesture::combo(1, 0xE0000); }

PreferencesStore::MigratedGestures PreferencesStore::migrateLegacyGestures(const UserDefaults& defaults) {
    const platform::Logger logger(kSubsystem, "settings");
    auto read = [&]<class T>(const std::string& key, std::type_identity<T>) {
        return storedJSON<T>(defaults, key, logger);
    };
    using G = std::type_identity<Gesture>;
    auto dictation = read("dictationGesture", G{});
    auto readAloud = read("readAloudGesture", G{});
    auto notepad = read("notepadGesture", G{});
    if (dictation && readAloud && notepad) return {*dictation, *readAloud, *notepad, false};

    auto rightHand = [](std::optional<Hotkey> h) -> std::optional<Hotkey> {
        if (h) return rightHandVariant(*h);
        return std::nullopt;
    };
    const auto dictationHold = rightHand(read("appleSpeechHotkey", std::type_identity<Hotkey>{}));
    const auto readAloudHold = rightHand(read("readAloudHotkey", std::type_identity<Hotkey>{}));
    using C = std::type_identity<KeyCombo>;
    const KeyCombo dictationCombo =
        read("dictationKeyCombo", C{}).value_or(*dictationDefaultGesture().keyCombo());
    const KeyCombo readAloudCombo =
        read("readAloudKeyCombo", C{}).value_or(*readAloudDefaultGesture().keyCombo());
    const KeyCombo notepadCombo = read("notepadKeyCombo", C{}).value_or(*notepadDefaultGesture().keyCombo());
    const auto pressStyle = read("pressStyle", std::type_identity<PressStyle>{});

    MigratedGestures out{Gesture::combo(dictationCombo), Gesture::combo(readAloudCombo), Gesture::combo(notepadCombo),
                         true};
    if (pressStyle == PressStyle::holdToTalk) {
        out.dictation = Gesture::hold(dictationHold.value_or(Hotkey::rightControl));
        out.readAloud = Gesture::hold(readAloudHold.value_or(Hotkey::rightOption));
    } else if (!pressStyle && dictationHold) {
        out.dictation = Gesture::hold(*dictationHold);
        out.readAloud = Gesture::hold(readAloudHold.value_or(Hotkey::rightOption));
    }
    return out;
}

// ---- Derived values ------------------------------------------------------------------

std::optional<std::string> PreferencesStore::activeVoiceIdentifier() const {
    return voiceIdentifier(readAloudEngine.get());
}

std::optional<std::string> PreferencesStore::voiceIdentifier(ReadAloudEngineKind kind) const {
    switch (kind) {
        case ReadAloudEngineKind::appleSpeech: return readAloudVoiceIdentifier.get();
        case ReadAloudEngineKind::kokoro: return kokoroVoiceIdentifier.get();
        case ReadAloudEngineKind::openai: return std::string(rawValue(openAIVoice.get()));
        case ReadAloudEngineKind::cartesia: return cartesiaVoiceId.get();
        case ReadAloudEngineKind::elevenlabs: return elevenLabsVoiceId.get();
    }
    return std::nullopt;
}

std::vector<std::string> PreferencesStore::defaultContextualPhrases() const {
    const std::string fullName = fullUserName_ ? fullUserName_() : std::string();
    const std::optional<std::string> computer = computerName_ ? computerName_() : std::nullopt;
    return defaultContextualPhrasesFor(fullName, computer ? std::optional<std::string_view>(*computer) : std::nullopt);
}

std::vector<std::string> PreferencesStore::defaultContextualPhrasesFor(std::string_view fullName,
                                                                       std::optional<std::string_view> computerName) {
    // Keyed by the canonical form: canonically equal texts collapse, and the
    // map's order is the code-point order of the normalised texts.
    std::map<std::string, std::string> phrases;
    auto add = [&](std::string text) { phrases.try_emplace(platform::text::nfc(text), std::move(text)); };

    if (!fullName.empty()) {
        add(std::string(fullName));
        std::string piece;
        auto flush = [&] {
            std::string trimmed = trimPunctuation(piece);
            if (!trimmed.empty()) add(std::move(trimmed));
            piece.clear();
        };
        for (std::size_t at = 0; at < fullName.size();) {
            const auto cp = platform::text::decodeUtf8(fullName, at);
            if (platform::text::isWhitespaceOrNewline(cp.codePoint))
                flush();
            else
                piece.append(fullName.substr(at, cp.length));
            at += cp.length;
        }
        flush();
    }

    if (computerName) {
        const std::string_view name = *computerName;
        const std::size_t begin = name.find_first_not_of(' ');
        if (begin != std::string_view::npos) {
            const std::string_view first = name.substr(begin, name.find(' ', begin) - begin);
            std::string word;
            for (std::size_t i = 0; i < first.size(); ++i) {
                if (first[i] == '\'' && i + 1 < first.size() && first[i + 1] == 's') {
                    ++i;
                    continue;
                }
                word += first[i];
            }
            if (!word.empty()) add(std::move(word));
        }
    }

    for (const char* fixed : {"Parlowen", "Quon", "Vant and Quon", "VoiceVant"}) add(fixed);

    std::vector<std::string> out;
    out.reserve(phrases.size());
    for (auto& [key, text] : phrases) out.push_back(std::move(text));
    return out;
}

// ---- Writing ---------------------------------------------------------------------------

template <class T>
void PreferencesStore::persistJSON(const T& value, const std::string& key) {
    auto text = platform::encodeJson(encodeValue(value));
    if (!text) return;  // an unencodable value stays in memory only
    auto stored = stored_.find(key);
    if (stored != stored_.end()) {
        if constexpr (kReadEntryByEntry<T>) {
            if (!stored->second.kept.empty()) {
                auto merged = keptWritten(value, stored->second.kept);
                if (!merged) return;
                *text = std::move(*merged);
            }
        }
        if (stored->second.setAside) {
            if (auto aside = platform::keepValueAside(defaults_, key, platform::Date::now()))
                logger_.error("{}: the unreadable stored value was kept as {}", key, *aside);
            stored->second.setAside = false;
        }
    }
    defaults_.set(key, platform::toBytes(*text));
}

template <class T>
void PreferencesStore::writeValue(const std::string& key, const T& value) {
    if constexpr (std::is_same_v<T, bool> || std::is_same_v<T, float> || std::is_same_v<T, std::string>) {
        defaults_.set(key, value);
    } else if constexpr (std::is_same_v<T, std::optional<std::string>> ||
                         std::is_same_v<T, std::optional<platform::Date>>) {
        if (value)
            defaults_.set(key, *value);
        else
            defaults_.remove(key);
    } else if constexpr (std::is_same_v<T, CleanUpModel>) {
        defaults_.set(key, std::string(rawValue(value)));
    } else {
        persistJSON(value, key);
    }
}

// writeValue and persistJSON are defined here and instantiated only for the
// types listed below: a setting of a new type must be added to this list (a
// JSON one with PARLOWEN_JSON_SETTING_TYPE), or linking fails with an undefined
// PreferencesStore::writeValue<T>.
#define PARLOWEN_SETTING_TYPE(T)                                                         \
    template void PreferencesStore::writeValue<T>(const std::string&, const T&);

#define PARLOWEN_JSON_SETTING_TYPE(T) \
    PARLOWEN_SETTING_TYPE(T)          \
    template void PreferencesStore::persistJSON<T>(const T&, const std::string&);

PARLOWEN_SETTING_TYPE(bool)
PARLOWEN_SETTING_TYPE(float)
PARLOWEN_SETTING_TYPE(std::string)
PARLOWEN_SETTING_TYPE(std::optional<std::string>)
PARLOWEN_SETTING_TYPE(std::optional<platform::Date>)
PARLOWEN_SETTING_TYPE(CleanUpModel)
PARLOWEN_JSON_SETTING_TYPE(LiveDisplayMode)
PARLOWEN_JSON_SETTING_TYPE(Gesture)
PARLOWEN_JSON_SETTING_TYPE(ReadAloudEngineKind)
PARLOWEN_JSON_SETTING_TYPE(PodcastEngineKind)
PARLOWEN_JSON_SETTING_TYPE(DictationEngineMode)
PARLOWEN_JSON_SETTING_TYPE(GroqTranscriptionModel)
PARLOWEN_JSON_SETTING_TYPE(std::set<VoiceCommand>)
PARLOWEN_JSON_SETTING_TYPE(std::vector<PerAppRule>)
PARLOWEN_JSON_SETTING_TYPE(OpenAITTSVoice)
PARLOWEN_JSON_SETTING_TYPE(std::vector<Tone>)
PARLOWEN_JSON_SETTING_TYPE(std::vector<std::string>)
using LearnedVocabulary = std::map<std::string, std::int64_t>;
PARLOWEN_JSON_SETTING_TYPE(LearnedVocabulary)
PARLOWEN_JSON_SETTING_TYPE(std::set<std::string>)
PARLOWEN_JSON_SETTING_TYPE(Theme)

#undef PARLOWEN_JSON_SETTING_TYPE
#undef PARLOWEN_SETTING_TYPE

}  // namespace parlowen
