#pragma once

// The quick-add panel's logic: picking candidate words out of a dictation,
// and the model behind the panel that appends a word to the recognition hints.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/runtime/Executor.h"
#include "platform/runtime/Observable.h"

namespace parlowen {

class PreferencesStore;

struct QuickAddHint {
    // The words of `text` worth offering as hints: capitalised words first,
    // then words of at least 5 characters, each word once (by lower case, in
    // the spelling of its first occurrence), stop words left out; at most
    // `limit` of them.
    static std::vector<std::string> extractCandidates(std::string_view text, std::ptrdiff_t limit);
};

// Consecutive slices of `size` elements, in order, the last one possibly
// shorter. An empty list gives no slices; a size of 0 or less gives one slice
// holding the whole list.
template <class T>
std::vector<std::vector<T>> chunked(const std::vector<T>& items, std::ptrdiff_t size) {
    std::vector<std::vector<T>> out;
    if (items.empty()) return out;
    if (size <= 0) {
        out.push_back(items);
        return out;
    }
    const auto step = static_cast<std::size_t>(size);
    for (std::size_t i = 0; i < items.size(); i += step)
        out.emplace_back(items.begin() + static_cast<std::ptrdiff_t>(i),
                         items.begin() + static_cast<std::ptrdiff_t>(std::min(items.size(), i + step)));
    return out;
}

// The state of the quick-add panel. Main thread only.
class QuickAddHintModel {
public:
    static constexpr platform::Duration dismissDelayAfterAdding = std::chrono::milliseconds(700);
    static constexpr platform::Duration dismissDelayAfterDuplicate = std::chrono::milliseconds(1000);

    // `mainExecutor` runs the delayed dismissal after a confirmation.
    QuickAddHintModel(PreferencesStore& preferences, std::function<std::vector<std::string>()> recentWordsProvider,
                      platform::Executor& mainExecutor);
    ~QuickAddHintModel();
    QuickAddHintModel(const QuickAddHintModel&) = delete;
    QuickAddHintModel& operator=(const QuickAddHintModel&) = delete;

    PreferencesStore& preferences;
    std::function<std::vector<std::string>()> recentWordsProvider;
    platform::Observable<std::string> entry;                                 // the entry field's text
    platform::Observable<std::vector<std::string>> recentWords;              // quick-pick words
    platform::Observable<std::optional<std::string>> lastAddedConfirmation;  // hidden while absent
    platform::Observable<std::int64_t> focusToken;  // each change moves focus to the entry field
    std::function<void()> onDismiss;                 // closes the panel

    // Appends the trimmed word to the recognition hints unless it is there
    // already; either way shows a confirmation and closes the panel a moment
    // later. True when the word was added; blank text changes nothing.
    bool add(std::string_view text);
    // Whether the Add button is enabled for this entry: it is not blank.
    static bool canAdd(std::string_view entry);

    // The panel is about to be shown: the latest quick-pick words, and the
    // keyboard focus to the entry field.
    void willShow();
    // A quick-pick word was pressed: it goes into the entry field, not yet added.
    void pickRecentWord(const std::string& word);
    // The panel is closing: the entry and the confirmation are cleared, and a
    // dismissal still pending from this showing will not close a later one.
    void panelWillClose();

    // Lower-case words never offered as candidates.
    static const std::unordered_set<std::string>& stopWords();

private:
    void scheduleDismiss(platform::Duration delay);

    platform::Executor& main_;
    std::uint64_t showing_ = 0;  // advances when the panel closes
    platform::Lifetime lifetime_;
};

}  // namespace parlowen
