#pragma once

// Before a cloud reading starts: refuses texts too large for any voice, and
// for large cloud reads asks whether to use the free system voice ("Zoe")
// instead, or moves very large reads there without asking when the user
// allowed it. Keeps no state: the reading's owner calls it with the count,
// the engine kind and what to do for each outcome.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "Parlowen/model/ReadAloudEngineKind.h"
#include "platform/ui/AlertPresenter.h"

namespace parlowen {

class ReadAloudCostGuard {
public:
    struct Context {
        std::int64_t charCount = 0;
        std::string chosenEngineDisplayName;  // "OpenAI", "Cartesia" or "ElevenLabs"
        std::string chosenVoiceDisplayName;   // carried, not shown
        double estimatedCostUSD = 0;          // carried, not shown
        std::string formattedCost;

        friend bool operator==(const Context&, const Context&) = default;
    };

    enum class Choice { useZoe, useChosenEngine, cancel };

    // When a kind is guarded, from which count it moves to the free voice
    // without asking, and its price.
    struct Limits {
        std::int64_t guardedFrom = 0;
        std::int64_t automaticFrom = 0;
        double pricePer1000 = 0;
    };
    // None for the on-device kinds.
    static std::optional<Limits> limits(ReadAloudEngineKind kind);
    // Texts above this are refused with every voice.
    static constexpr std::int64_t kMaximumCharacters = 500'000;

    // `locale` groups the counts in the alerts' texts (the user's locale, e.g. "de_DE").
    ReadAloudCostGuard(platform::ui::AlertPresenter& alerts, std::string locale);

    // What a guarded reading can come to; the owner supplies each.
    struct Outcomes {
        std::function<void()> speakWithZoe;
        std::function<void()> speakWithActiveEngine;
        // Refused as too large, or cancelled by the user: the reading ends.
        std::function<void()> endReading;
    };
    struct Request {
        std::int64_t charCount = 0;
        ReadAloudEngineKind kind = ReadAloudEngineKind::appleSpeech;
        std::string voiceDisplayName;
        bool autoDowngradeForLargeReads = false;
    };
    // Runs the guard for a text about to be read and calls one outcome.
    void guard(const Request& request, const Outcomes& outcomes);

    // The modal question: first button useZoe, second useChosenEngine, anything else cancel.
    Choice confirm(const Context& context);
    void showTooLarge(const std::string& message);
    std::string tooLargeMessage(std::int64_t count) const;
    // "about $0.60", or "less than a penny" below a cent and for on-device kinds.
    static std::string formatCost(std::int64_t count, ReadAloudEngineKind kind);

private:
    platform::ui::AlertPresenter& alerts_;
    std::string locale_;
};

}  // namespace parlowen
