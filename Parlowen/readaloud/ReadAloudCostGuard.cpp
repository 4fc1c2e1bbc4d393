#include "Parlowen/readaloud/ReadAloudCostGuard.h"

#include <fmt/format.h>

#include "platform/log/Log.h"
#include "platform/text/Format.h"

namespace parlowen {

namespace {
const platform::Logger& readAloudLog() {
    static const platform::Logger log("com.kelvatrum.Parlowen", "readaloud");
    return log;
}
}  // namespace

std::optional<ReadAloudCostGuard::Limits> ReadAloudCostGuard::limits(ReadAloudEngineKind kind) {
    switch (kind) {
        case ReadAloudEngineKind::openai: return Limits{5'000, 30'000, 0.015};
        case ReadAloudEngineKind::cartesia:
        case ReadAloudEngineKind::elevenlabs: return Limits{2'000, 10'000, 0.30};
        case ReadAloudEngineKind::appleSpeech:
        case ReadAloudEngineKind::kokoro: break;
    }
    return std::nullopt;
}

ReadAloudCostGuard::ReadAloudCostGuard(platform::ui::AlertPresenter& alerts, std::string locale)
    : alerts_(alerts), locale_(std::move(locale)) {}

std::string ReadAloudCostGuard::formatCost(std::int64_t count, ReadAloudEngineKind kind) {
    auto l = limits(kind);
    if (!l) return "less than a penny";
    const double cost = static_cast<double>(count) / 1000.0 * l->pricePer1000;
    // fmt formats independently of any locale: always a point.
    if (cost >= 0.01) return fmt::format("about ${:.2f}", cost);
    return "less than a penny";
}

std::string ReadAloudCostGuard::tooLargeMessage(std::int64_t count) const {
    return "This selection is huge \u2014 about " + platform::text::formatInteger(count, locale_) +
           " characters. Even Apple Speech would take all night. Try a smaller piece, or use Selection \u2192 "
           "Export to save it as an audio file.";
}

void ReadAloudCostGuard::showTooLarge(const std::string& message) {
    (void)alerts_.run({"That's a lot of text", message, platform::ui::AlertStyle::informational, {"OK"}});
}

ReadAloudCostGuard::Choice ReadAloudCostGuard::confirm(const Context& context) {
    platform::ui::Alert alert;
    alert.style = platform::ui::AlertStyle::informational;
    alert.messageText = "Big read \u2014 " + context.formattedCost + " on " + context.chosenEngineDisplayName;
    alert.informativeText = "That's about " + platform::text::formatInteger(context.charCount, locale_) +
                            " characters. Parlowen can read this with Zoe (free, on-device) or with the " +
                            context.chosenEngineDisplayName + " voice you've picked.";
    alert.buttons = {"Use Zoe (free)", "Use " + context.chosenEngineDisplayName + " anyway", "Cancel"};
    alert.escapeButton = 2;
    switch (alerts_.run(alert)) {
        case 0: return Choice::useZoe;
        case 1: return Choice::useChosenEngine;
        default: return Choice::cancel;
    }
}

void ReadAloudCostGuard::guard(const Request& request, const Outcomes& outcomes) {
    const std::int64_t count = request.charCount;
    if (count > kMaximumCharacters) {
        showTooLarge(tooLargeMessage(count));
        if (outcomes.endReading) outcomes.endReading();
        return;
    }
    auto l = limits(request.kind);
    if (!l || count < l->guardedFrom) {
        if (outcomes.speakWithActiveEngine) outcomes.speakWithActiveEngine();
        return;
    }
    Context context{count, std::string(displayName(request.kind)), request.voiceDisplayName,
                    static_cast<double>(count) / 1000.0 * l->pricePer1000, formatCost(count, request.kind)};
    if (count >= l->automaticFrom && request.autoDowngradeForLargeReads) {
        readAloudLog().info("read-aloud auto-downgraded: {} chars \u2192 Zoe; would have cost {} on {}", count,
                            context.formattedCost, context.chosenEngineDisplayName);
        if (outcomes.speakWithZoe) outcomes.speakWithZoe();
        return;
    }
    switch (confirm(context)) {
        case Choice::useZoe:
            if (outcomes.speakWithZoe) outcomes.speakWithZoe();
            return;
        case Choice::useChosenEngine:
            if (outcomes.speakWithActiveEngine) outcomes.speakWithActiveEngine();
            return;
        case Choice::cancel:
            if (outcomes.endReading) outcomes.endReading();
            return;
    }
}

}  // namespace parlowen
