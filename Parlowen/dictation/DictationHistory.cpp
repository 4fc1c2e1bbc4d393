#include "Parlowen/dictation/DictationHistory.h"

#include "platform/text/Unicode.h"

namespace parlowen {

namespace {
constexpr std::size_t kPreviewLimit = 60;
constexpr std::size_t kPreviewKept = 58;
}  // namespace

std::string DictationHistoryEntry::preview() const {
    // Only line feeds and tabs are folded; other blanks pass through as they are.
    std::string folded = text;
    for (char& c : folded)
        if (c == '\n' || c == '\t') c = ' ';
    std::string oneLine;
    std::size_t pos = 0;
    while (pos < folded.size()) {
        const std::size_t end = std::min(folded.find(' ', pos), folded.size());
        if (end > pos) {
            if (!oneLine.empty()) oneLine += ' ';
            oneLine.append(folded, pos, end - pos);
        }
        pos = end + 1;
    }
    if (platform::text::graphemeCount(oneLine) <= kPreviewLimit) return oneLine;
    return platform::text::graphemePrefix(oneLine, kPreviewKept) + "…";
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
