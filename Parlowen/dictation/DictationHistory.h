#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/log/Log.h"
#include "platform/runtime/Observable.h"
#include "platform/values/Date.h"
#include "platform/values/Uuid.h"

namespace parlowen {

// One remembered dictation.
struct DictationHistoryEntry {
    platform::Uuid id;
    std::string text;  // trimmed
    platform::Date recordedAt;

    // One line for menus: line feeds and tabs folded to spaces, runs of spaces
    // collapsed, and at most 60 characters (58 and "…" when longer).
    std::string preview() const;

    friend bool operator==(const DictationHistoryEntry&, const DictationHistoryEntry&) = default;
};

// The last few dictated texts, newest first, kept only in memory for the
// program's life. Main thread only.
class DictationHistory {
public:
    using Entry = DictationHistoryEntry;
    static constexpr std::size_t kCapacity = 5;

    explicit DictationHistory(const platform::Clock& clock);

    // The entries, observable (current value on subscription, then every change).
    const platform::Observable<std::vector<Entry>>& entries() const { return entries_; }

    // Remembers a dictation; text that is empty once trimmed is ignored.
    void record(std::string_view text);
    void clear();

private:
    const platform::Clock& clock_;
    platform::Logger logger_;
    platform::Observable<std::vector<Entry>> entries_;
};

}  // namespace parlowen
