#include "Parlowen/shell/settings/PerAppRule.h"

#include <fmt/core.h>
#include <nlohmann/json.hpp>

#include "Parlowen/model/Hashing.h"
#include "platform/text/Unicode.h"

namespace parlowen {
namespace {

using platform::Json;
using platform::Result;

bool isAscii(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

// Text equality up to canonical equivalence, as the platform's string comparison does.
bool sameText(std::string_view a, std::string_view b) {
    if (a == b) return true;
    if (isAscii(a) && isAscii(b)) return false;
    return platform::text::nfc(a) == platform::text::nfc(b);
}

template <class E>
Result<std::optional<E>> optionalEnum(const Json& object, std::string_view key) {
    auto member = platform::optionalMember(object, key);
    if (!member) return platform::fail(member.error());
    if (*member == nullptr || (*member)->is_null()) return std::optional<E>{};
    auto value = fromJson<E>(**member);
    if (!value) return platform::fail(value.error());
    return std::optional<E>{*value};
}

Result<std::vector<std::string>> stringList(const Json& object, std::string_view key) {
    auto member = platform::optionalMember(object, key);
    if (!member) return platform::fail(member.error());
    std::vector<std::string> out;
    if (*member == nullptr || (*member)->is_null()) return out;
    const Json& array = **member;
    if (!array.is_array())
        return platform::fail(jsonError(platform::JsonErrorCode::typeMismatch,
                                        fmt::format("Member \"{}\" is {}, expected an array", key, array.type_name())));
    for (const auto& item : array) {
        if (!item.is_string())
            return platform::fail(
                jsonError(platform::JsonErrorCode::typeMismatch,
                          fmt::format("An element of \"{}\" is {}, expected a string", key, item.type_name())));
        out.push_back(item.get<std::string>());
    }
    return out;
}

PerAppRule seeded(std::string bundleId, std::string appName, std::optional<std::string> toneID, bool noPill) {
    PerAppRule rule;
    rule.bundleId = std::move(bundleId);
    rule.appName = std::move(appName);
    rule.toneID = std::move(toneID);
    rule.disableCleanUpPill = noPill;
    return rule;
}

}  // namespace

std::optional<PerAppRule> PerAppRule::lookup(const std::optional<std::string>& bundleId,
                                             const std::vector<PerAppRule>& rules) {
    if (!bundleId) return std::nullopt;
    for (const auto& rule : rules)
        if (sameText(rule.bundleId, *bundleId)) return rule;
    return std::nullopt;
}

const std::vector<PerAppRule>& PerAppRule::defaultRules() {
    static const std::vector<PerAppRule> rules{
        seeded("com.apple.mail", "Mail", "email", false),
        seeded("com.tinyspeck.slackmacgap", "Slack", "slack", false),
        seeded("com.apple.MobileSMS", "Messages", "casual", false),
        seeded("com.apple.Notes", "Notes", std::nullopt, true),
    };
    return rules;
}

Json JsonCodec<PerAppRule>::encode(const PerAppRule& rule) {
    Json j = Json::object();
    j["id"] = rule.id.uuidString();
    j["bundleId"] = rule.bundleId;
    j["appName"] = rule.appName;
    if (rule.engineMode) j["engineMode"] = toJson(*rule.engineMode);
    if (rule.toneID) j["toneID"] = *rule.toneID;
    j["extraContextualPhrases"] = rule.extraContextualPhrases;
    j["disableCleanUpPill"] = rule.disableCleanUpPill;
    if (rule.readAloudEngine) j["readAloudEngine"] = toJson(*rule.readAloudEngine);
    if (rule.readAloudVoiceIdentifier) j["readAloudVoiceIdentifier"] = *rule.readAloudVoiceIdentifier;
    return j;
}

Result<PerAppRule> JsonCodec<PerAppRule>::decode(const Json& json) {
    if (!json.is_object())
        return platform::fail(jsonError(
            platform::JsonErrorCode::typeMismatch,
            fmt::format("Expected to decode PerAppRule from an object but found {} instead.", json.type_name())));
    PerAppRule rule;
    auto id = platform::optionalUuid(json, "id");
    if (!id) return platform::fail(id.error());
    rule.id = id->value_or(platform::Uuid::random());
    auto bundleId = platform::optionalString(json, "bundleId");
    if (!bundleId) return platform::fail(bundleId.error());
    rule.bundleId = bundleId->value_or("");
    auto appName = platform::optionalString(json, "appName");
    if (!appName) return platform::fail(appName.error());
    rule.appName = appName->value_or("");
    auto engineMode = optionalEnum<DictationEngineMode>(json, "engineMode");
    if (!engineMode) return platform::fail(engineMode.error());
    rule.engineMode = *engineMode;
    auto toneID = platform::optionalString(json, "toneID");
    if (!toneID) return platform::fail(toneID.error());
    rule.toneID = *toneID;
    auto phrases = stringList(json, "extraContextualPhrases");
    if (!phrases) return platform::fail(phrases.error());
    rule.extraContextualPhrases = std::move(*phrases);
    auto noPill = platform::optionalBool(json, "disableCleanUpPill");
    if (!noPill) return platform::fail(noPill.error());
    rule.disableCleanUpPill = noPill->value_or(false);
    auto engine = optionalEnum<ReadAloudEngineKind>(json, "readAloudEngine");
    if (!engine) return platform::fail(engine.error());
    rule.readAloudEngine = *engine;
    auto voice = platform::optionalString(json, "readAloudVoiceIdentifier");
    if (!voice) return platform::fail(voice.error());
    rule.readAloudVoiceIdentifier = *voice;
    return rule;
}

}  // namespace parlowen

std::size_t std::hash<parlowen::PerAppRule>::operator()(const parlowen::PerAppRule& rule) const noexcept {
    using parlowen::hashCombine;
    using parlowen::hashValue;
    std::size_t seed = 0;
    hashValue(seed, rule.id);
    hashValue(seed, rule.bundleId);
    hashValue(seed, rule.appName);
    hashValue(seed, rule.engineMode);
    hashValue(seed, rule.toneID);
    hashCombine(seed, rule.extraContextualPhrases.size());
    for (const auto& p : rule.extraContextualPhrases) hashValue(seed, p);
    hashValue(seed, rule.disableCleanUpPill);
    hashValue(seed, rule.readAloudEngine);
    hashValue(seed, rule.readAloudVoiceIdentifier);
    return seed;
}
