#include <gtest/gtest.h>

#include <stdexcept>

#include <fmt/format.h>

#include "Parlowen/shell/PasteboardArbiter.h"
#include "platform/log/CaptureSink.h"
#include "platform/pasteboard/InMemoryPasteboard.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/testsupport/IgnoringCancellation.h"

using namespace parlowen;
using namespace platform;
using namespace std::chrono_literals;
namespace type = platform::pasteboard_type;

namespace {

constexpr const char* kTimeoutLine = "pasteboard op exceeded 5.000000s — cancelling";

struct Trace {
    ManualExecutor* ex;
    std::vector<std::string> events;
    void add(const std::string& what) {
        events.push_back(fmt::format("{} @{:g}", what, std::chrono::duration<double>(ex->elapsed()).count()));
    }
};

Task<void> sleeper(Trace* t, std::string name, Duration d) {
    t->add(name + " start");
    const Status slept = co_await sleepFor(d);
    t->add(name + (slept ? " end" : (slept.error().isCancellation() ? " cancelled" : " failed")));
}

// Waits without looking at its stop token: work that ignores cancellation.
Task<void> stubborn(Trace* t, std::string name, Duration d) {
    t->add(name + " start");
    Executor& ex = co_await currentExecutor();
    co_await testsupport::WaitIgnoringCancellation{&ex, d};
    t->add(name + " end");
}

Task<void> thrower(Trace* t) {
    t->add("T start");
    (void)co_await sleepFor(1s);
    throw std::runtime_error("boom");
}

struct Fixture {
    ScopedLogCapture log;
    ManualExecutor main;
    PasteboardArbiter arbiter{main};
    Trace trace{&main, {}};

    void enqueueSleeper(std::string name, Duration d) {
        arbiter.enqueue([this, name, d] { return sleeper(&trace, name, d); });
    }
    void enqueueStubborn(std::string name, Duration d) {
        arbiter.enqueue([this, name, d] { return stubborn(&trace, name, d); });
    }
    std::vector<CapturedLogLine> arbiterLines() { return log->linesOfCategory("pasteboard-arbiter"); }
};

TEST(PasteboardArbiter, OperationsRunOneAfterAnotherEvenWhenTheySuspend) {
    Fixture f;
    f.enqueueSleeper("A", 2s);
    f.enqueueSleeper("B", 1s);
    f.enqueueSleeper("C", 0s);
    f.main.runUntilIdle();
    EXPECT_EQ(f.trace.events, std::vector<std::string>{"A start @0"});
    EXPECT_TRUE(f.main.advanceUntilIdle());
    EXPECT_EQ(f.trace.events, (std::vector<std::string>{"A start @0", "A end @2", "B start @2", "B end @3",
                                                        "C start @3", "C end @3"}));
    EXPECT_TRUE(f.arbiterLines().empty());

    // A finished queue takes the next operation at once.
    f.enqueueSleeper("D", 1s);
    f.main.runUntilIdle();
    EXPECT_EQ(f.trace.events.back(), "D start @3");
}

TEST(PasteboardArbiter, TheWatchdogAsksSlowOperationsToStopAtFiveSecondsAndTheQueueWaitsForThem) {
    struct Case {
        const char* what;
        bool ignoresCancellation;
        Duration length;
        bool logs;
        std::vector<std::string> trace;
    };
    const Case cases[] = {
        {"returns within a second", false, 1s, false, {"A start @0", "A end @1", "B start @1", "B end @1"}},
        {"sleeps 8 s, cancellably", false, 8s, true, {"A start @0", "A cancelled @5", "B start @5", "B end @5"}},
        {"runs 8 s, ignoring cancellation", true, 8s, true, {"A start @0", "A end @8", "B start @8", "B end @8"}},
    };
    for (const auto& c : cases) {
        Fixture f;
        if (c.ignoresCancellation)
            f.enqueueStubborn("A", c.length);
        else
            f.enqueueSleeper("A", c.length);
        f.enqueueSleeper("B", 0s);
        f.main.runUntilIdle();
        f.main.advance(5s - 1ms);
        EXPECT_TRUE(f.arbiterLines().empty()) << c.what;
        f.main.advance(1ms);
        EXPECT_TRUE(f.main.advanceUntilIdle()) << c.what;
        EXPECT_EQ(f.trace.events, c.trace) << c.what;
        auto lines = f.arbiterLines();
        if (!c.logs) {
            EXPECT_TRUE(lines.empty()) << c.what;
            continue;
        }
        ASSERT_EQ(lines.size(), 1u) << c.what;
        EXPECT_EQ(lines[0].message, kTimeoutLine);
        EXPECT_EQ(lines[0].level, LogLevel::error);
        EXPECT_EQ(lines[0].subsystem, "com.kelvatrum.Parlowen");
    }
}

TEST(PasteboardArbiter, AnOperationThatThrowsDoesNotStopTheQueue) {
    Fixture f;
    f.arbiter.enqueue([&f] { return thrower(&f.trace); });
    f.enqueueSleeper("B", 1s);
    EXPECT_TRUE(f.main.advanceUntilIdle());
    EXPECT_EQ(f.trace.events, (std::vector<std::string>{"T start @0", "B start @1", "B end @2"}));
    auto lines = f.arbiterLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].message, "pasteboard op failed: boom");
}

// The shape of a paste: save, write, wait, put back unless someone else wrote.
Task<void> borrow(InMemoryPasteboard* pb, std::string text, std::vector<std::string>* seen) {
    seen->push_back(pb->string().value_or("<none>"));
    auto saved = PasteboardArbiter::snapshotItems(*pb);
    pb->clearContents();
    pb->setString(text);
    const auto afterWrite = pb->changeCount();
    (void)co_await sleepFor(500ms);
    if (pb->changeCount() == afterWrite) {
        pb->clearContents();
        pb->writeObjects(saved);
    }
}

TEST(PasteboardArbiter, ABorrowingQueuedDuringAnotherSeesTheRestoredContents) {
    Fixture f;
    InMemoryPasteboard pb;
    pb.writeStringAsAnotherClient("user's");
    std::vector<std::string> seen;
    f.arbiter.enqueue([&] { return borrow(&pb, "dictated", &seen); });
    f.arbiter.enqueue([&] { return borrow(&pb, "selection", &seen); });
    EXPECT_TRUE(f.main.advanceUntilIdle());
    EXPECT_EQ(seen, (std::vector<std::string>{"user's", "user's"}));
    EXPECT_EQ(pb.string(), "user's");
    EXPECT_EQ(pb.changeCount(), 5);
}

PasteboardItem item(std::initializer_list<std::pair<std::string_view, std::string_view>> entries) {
    PasteboardItem i;
    for (auto [t, d] : entries) i.set(t, toBytes(d));
    return i;
}

TEST(PasteboardArbiter, SnapshotOfAnEmptyPasteboardIsEmptyAndRestoresToEmpty) {
    InMemoryPasteboard pb;
    EXPECT_TRUE(PasteboardArbiter::snapshotItems(pb).empty());
    pb.clearContents();
    pb.setString("written meanwhile");
    pb.clearContents();
    pb.writeObjects(PasteboardArbiter::snapshotItems(InMemoryPasteboard{}));
    EXPECT_EQ(pb.itemCount(), 0u);
    EXPECT_EQ(pb.string(), std::nullopt);
}

TEST(PasteboardArbiter, SnapshotKeepsEveryTypeAndSurvivesClearAndOverwrite) {
    InMemoryPasteboard pb;
    const std::vector<PasteboardItem> original = {
        item({{type::plainText, "hello"}, {type::rtf, "{\\rtf1 \\b hello}"}}),
        item({{type::html, "<i>second</i>"}, {"com.example.private", ""}}),
    };
    pb.writeAsAnotherClient(original);
    const auto snapshot = PasteboardArbiter::snapshotItems(pb);
    EXPECT_EQ(snapshot, original);

    pb.clearContents();
    pb.setString("other text");
    EXPECT_EQ(snapshot, original);

    pb.clearContents();
    pb.writeObjects(snapshot);
    EXPECT_EQ(pb.contents(), original);
    EXPECT_EQ(pb.string(type::rtf), "{\\rtf1 \\b hello}");
}

TEST(PasteboardArbiter, SnapshotLeavesOutTypesWhoseDataCannotBeRead) {
    InMemoryPasteboard pb;
    pb.writeAsAnotherClient({item({{type::plainText, "a"}, {type::rtf, "r"}, {type::html, "h"}}),
                             item({{type::rtf, "only rtf"}})});
    pb.failDataFor(std::string(type::rtf));
    EXPECT_EQ(PasteboardArbiter::snapshotItems(pb),
              (std::vector<PasteboardItem>{item({{type::plainText, "a"}, {type::html, "h"}}), PasteboardItem{}}));
}

}  // namespace
