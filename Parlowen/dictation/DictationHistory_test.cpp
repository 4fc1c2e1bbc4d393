#include "Parlowen/dictation/DictationHistory.h"

#include <gtest/gtest.h>

#include "platform/log/CaptureSink.h"

namespace {

using parlowen::DictationHistory;
using parlowen::DictationHistoryEntry;

class DictationHistoryTest : public ::testing::Test {
protected:
    platform::ScopedLogCapture logs;
    platform::FixedClock clock{platform::Date::fromTimeIntervalSinceReferenceDate(1000)};
    DictationHistory history{clock};

    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const auto& e : history.entries().get()) out.push_back(e.text);
        return out;
    }
};

TEST_F(DictationHistoryTest, RecordsTrimmedTextNewestFirstAndKeepsFive) {
    history.record("  first \n");
    EXPECT_EQ(texts(), std::vector<std::string>{"first"});
    EXPECT_EQ(history.entries().get()[0].recordedAt, clock.now());
    EXPECT_EQ(logs->messages(), std::vector<std::string>{"recorded 5 chars; depth=1"});

    for (const char* t : {"two", "three", "four", "five", "six"}) {
        clock.advance(1);
        history.record(t);
    }
    EXPECT_EQ(texts(), (std::vector<std::string>{"six", "five", "four", "three", "two"}));
    EXPECT_EQ(logs->messages().back(), "recorded 3 chars; depth=5");
    EXPECT_EQ(history.entries().get()[0].recordedAt.timeIntervalSinceReferenceDate(), 1005);
}

TEST_F(DictationHistoryTest, BlankTextStoresAndLogsNothing) {
    history.record(" \n\t \n");
    history.record("");
    EXPECT_TRUE(history.entries().get().empty());
    EXPECT_TRUE(logs->messages().empty());
}

TEST_F(DictationHistoryTest, CharacterCountIsInUserPerceivedCharacters) {
    history.record("e\u0301t\u00E9 \U0001F468\u200D\U0001F469\u200D\U0001F467");  // "été 👨‍👩‍👧"
    EXPECT_EQ(logs->messages().back(), "recorded 5 chars; depth=1");
}

TEST_F(DictationHistoryTest, SameTextTwiceGivesTwoEntries) {
    history.record("again");
    history.record("again");
    const auto entries = history.entries().get();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_NE(entries[0].id, entries[1].id);
}

TEST_F(DictationHistoryTest, ClearEmptiesAndAlwaysLogs) {
    history.record("a");
    history.record("b");
    std::vector<std::size_t> seen;
    auto sub = history.entries().subscribe([&](const auto& list) { seen.push_back(list.size()); });
    history.clear();
    history.clear();
    EXPECT_TRUE(history.entries().get().empty());
    EXPECT_EQ(seen, (std::vector<std::size_t>{2, 0, 0}));
    const auto messages = logs->messages();
    EXPECT_EQ(messages[messages.size() - 2], "history cleared (was depth=2)");
    EXPECT_EQ(messages.back(), "history cleared (was depth=0)");
    EXPECT_EQ(logs->linesOfCategory("history").size(), messages.size());
}

// `n` copies of `c`, then `tail`.
std::string repeated(char c, std::size_t n, std::string_view tail = {}) {
    std::string s;
    s.reserve(n + tail.size());
    s.append(n, c);
    s.append(tail);
    return s;
}

TEST(DictationHistoryEntry, Preview) {
    const std::pair<std::string, std::string> rows[] = {
        {"one\n\ntwo\tthree", "one two three"},
        {"  spaced   out  ", "spaced out"},
        {repeated('x', 60), repeated('x', 60)},
        {repeated('y', 61), repeated('y', 58, "…")},
        // 61 characters, one of them two scalars long: cut by clusters, not bytes.
        {repeated('a', 59, "e\u0301z"), repeated('a', 58, "…")},
        {repeated('a', 58, "e\u0301z"), repeated('a', 58, "e\u0301z")},
        {"cr\r\nstays", "cr\r stays"},
        {"nbsp\u00A0stays", "nbsp\u00A0stays"},
        {"", ""},
    };
    for (const auto& [text, preview] : rows) {
        DictationHistoryEntry e{platform::Uuid::random(), text, platform::Date()};
        EXPECT_EQ(e.preview(), preview) << text;
    }
}

}  // namespace
