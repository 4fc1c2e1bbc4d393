#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "Parlowen/model/DictationEngine.h"
#include "Parlowen/model/RawEnum.h"
#include "Parlowen/model/ReadAloudEngineKind.h"
#include "platform/values/Uuid.h"

namespace parlowen {

// Different defaults for dictating or reading aloud in one application.
struct PerAppRule {
    platform::Uuid id = platform::Uuid::random();
    std::string bundleId;  // compared exactly (case-sensitive)
    std::string appName;
    std::optional<DictationEngineMode> engineMode;  // none: the global setting
    std::optional<std::string> toneID;
    std::vector<std::string> extraContextualPhrases;
    bool disableCleanUpPill = false;
    std::optional<ReadAloudEngineKind> readAloudEngine;
    std::optional<std::string> readAloudVoiceIdentifier;

    // The first rule, in list order, whose bundleId equals `bundleId`; nothing
    // when there is no identifier or no rule matches.
    static std::optional<PerAppRule> lookup(const std::optional<std::string>& bundleId,
                                            const std::vector<PerAppRule>& rules);

    // The four rules seeded once (Mail, Slack, Messages, Notes), each with a
    // random id; built once per process.
    static const std::vector<PerAppRule>& defaultRules();

    friend bool operator==(const PerAppRule&, const PerAppRule&) = default;
};

// JSON object with members in field order; the optional members are written
// only when present. Reading takes a default for every absent or null member
// (a fresh id for "id") and fails on a wrong JSON type, a malformed UUID or an
// unknown raw value.
template <>
struct JsonCodec<PerAppRule> {
    static platform::Json encode(const PerAppRule& rule);
    static platform::Result<PerAppRule> decode(const platform::Json& json);
};

}  // namespace parlowen

template <>
struct std::hash<parlowen::PerAppRule> {
    std::size_t operator()(const parlowen::PerAppRule& rule) const noexcept;
};
