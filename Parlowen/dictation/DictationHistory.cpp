#include "Parlowen/dictation/DictationHistory.h"

#include "platform/text/Unicode.h"

namespace parlowen {

namespace {
constexpr std::size_t kPreviewLimit = 60;
constexpr std::size_t kPreviewKept = 58;
}  // namespace

std::string DictationHistoryEntry::preview() const {
    return platform::text::oneLinePreview(text, kPreviewLimit, kPreviewKept);
}

DictationHistory::DictationHistory(const platform::Clock& clock)
    : clock_(clock), logger_("com.kelvatrum.Parlowen", "history") {}

void DictationHistory::record(std::string_view text) {
    std::string trimmed = platform::text::trim(text, platform::text::CharacterSet::whitespacesAndNewlines);
    if (trimmed.empty()) return;
    const std::size_t characters = platform::text::graphemeCount(trimmed);
    auto list = entries_.get();
    list.insert(list.begin(), Entry{platform::Uuid::random(), std::move(trimmed), clock_.now()});
    if (list.size() > kCapacity) list.resize(kCapacity);
    const std::size_t depth = list.size();
    entries_.set(std::move(list));
    logger_.info("recorded {} chars; depth={}", characters, depth);
}

void DictationHistory::clear() {
    const std::size_t before = entries_.get().size();
    entries_.set({});
    logger_.info("history cleared (was depth={})", before);
}

}  // namespace parlowen
