#include "Parlowen/dictation/SelectionCapture.h"

#include <gtest/gtest.h>

#include "platform/accessibility/ScriptedAccessibility.h"
#include "platform/keystrokes/ScriptedKeystrokePoster.h"
#include "platform/log/CaptureSink.h"
#include "platform/pasteboard/InMemoryPasteboard.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/testsupport/IgnoringCancellation.h"

namespace parlowen {
namespace {

using namespace platform;
using namespace std::chrono_literals;

struct SelectionCaptureTest : ::testing::Test {
    ScopedLogCapture log;
    ManualExecutor main;
    PasteboardArbiter arbiter{main};
    InMemoryPasteboard pb;
    ScriptedAccessibility ax;
    ScriptedKeystrokePoster keys{pb};
    ScriptedWorkspace workspace;
    ScriptedPrimarySelection primary;
    SelectionCapture capture{arbiter, pb, ax, keys, workspace, primary};

    // Runs one capture to its end on virtual time.
    std::optional<std::string> run() {
        auto handle = spawn(main, capture.capture());
        main.advanceUntilIdle();
        EXPECT_TRUE(handle.done());
        return handle.done() ? handle.value() : std::nullopt;
    }
};

TEST_F(SelectionCaptureTest, ChangeCountDecidesTheResultAndTheRestore) {
    struct Case {
        const char* name;
        std::optional<std::string> before;  // what the user had on the pasteboard
        int copyWrites;
        std::string selection;
        std::optional<std::string> result;
        std::optional<std::string> after;   // the pasteboard's text afterwards
        const char* logLine;
    };
    const Case cases[] = {
        {"copy wrote nothing", "user's", 0, "sel", std::nullopt, "user's", "restore: items=1 pbChangeAfter="},
        {"exactly the copy", "user's", 1, " \t whitespace kept\n", " \t whitespace kept\n", "user's",
         "restore: items=1 pbChangeAfter="},
        {"copy of nothing", "user's", 1, "", std::nullopt, "user's", "restore: items=1"},
        {"another writer too", "user's", 2, "sel", std::nullopt, "sel",
         "capture: dropped — clipboard changed by another writer mid-capture"},
        {"empty pasteboard before", std::nullopt, 1, "sel", "sel", "sel", "restore: hadPrev=false (no-op)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        pb = InMemoryPasteboard();
        if (c.before) pb.writeStringAsAnotherClient(*c.before);
        keys.copyWrites = c.copyWrites;
        keys.selection = c.selection;
        keys.posted.clear();
        log->clear();
        const auto startCount = pb.changeCount();
        const auto started = main.elapsed();

        EXPECT_EQ(run(), c.result);
        EXPECT_EQ(pb.string(), c.after);
        EXPECT_EQ(keys.posted, std::vector<SyntheticChord>{SyntheticChord::copy});
        EXPECT_TRUE(log->contains(c.logLine)) << testing::PrintToString(log->messages());
        EXPECT_GE(main.elapsed() - started, capture.copyDelay());
        if (c.copyWrites == 2) {
            EXPECT_TRUE(log->contains("restore: skipped — pasteboard claimed by another writer (expected="
                                      + std::to_string(startCount + 1) + " actual=" + std::to_string(startCount + 2) + ")"));
        }
    }
    EXPECT_TRUE(log->contains("capture: chars=3 pbChangeBefore=0 pbChangeAfter=1"));
}

TEST_F(SelectionCaptureTest, AnEmptyAccessibleSelectionSkipsTheCopy) {
    pb.writeStringAsAnotherClient("user's");
    auto element = std::make_shared<ScriptedAccessibleElement>();
    element->text = "hello";
    element->selection = {3, 3};
    ax.focused = std::shared_ptr<AccessibleElement>(element);
    const auto count = pb.changeCount();

    EXPECT_EQ(run(), std::nullopt);
    EXPECT_TRUE(keys.posted.empty());
    EXPECT_EQ(pb.changeCount(), count);
    EXPECT_EQ(main.elapsed(), 0s);
    EXPECT_TRUE(log->contains("capture: AX reports no selection — skipping ⌘C to avoid system beep", LogLevel::info));
    EXPECT_EQ(ax.timeouts, std::vector<Duration>{500ms});
}

TEST_F(SelectionCaptureTest, WhenAccessibilityCannotTellTheCopyIsStillPosted) {
    auto withRange = std::make_shared<ScriptedAccessibleElement>();
    withRange->text = "hello";
    withRange->selection = {0, 4};
    struct Case {
        const char* name;
        bool trusted;
        Result<std::shared_ptr<AccessibleElement>> focused;
    };
    const Case cases[] = {
        {"no focused element", true, std::shared_ptr<AccessibleElement>()},
        {"focus query fails", true, fail(accessibilityError(AccessibilityErrorCode::cannotComplete, "slow"))},
        {"not trusted", false, std::shared_ptr<AccessibleElement>(withRange)},
        {"a selection", true, std::shared_ptr<AccessibleElement>(withRange)},
    };
    keys.selection = "hell";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ax.trusted = c.trusted;
        ax.focused = c.focused;
        keys.posted.clear();
        EXPECT_EQ(run(), "hell");
        EXPECT_EQ(keys.posted, std::vector<SyntheticChord>{SyntheticChord::copy});
    }
}

// The frontmost process's PRIMARY selection is read without a keystroke;
// otherwise the copy chord goes out, the terminal's own one in a terminal.
TEST_F(SelectionCaptureTest, PrimaryOfTheFrontmostProcessFirstThenTheTargetsOwnCopyChord) {
    auto terminalElement = std::make_shared<ScriptedAccessibleElement>();
    terminalElement->role = std::string("terminal");
    terminalElement->selection = {0, 4};
    struct Case {
        const char* name;
        std::optional<pid_t> primaryOwner;
        std::optional<std::string> primaryText;
        bool terminalClass;   // the frontmost window's class is a terminal's
        bool terminalRole;    // the focused element says it is a terminal
        std::optional<std::string> result;
        std::vector<SyntheticChord> chords;
    };
    const Case cases[] = {
        {"frontmost holds PRIMARY", 10, "from primary", false, false, "from primary", {}},
        {"frontmost terminal holds PRIMARY", 10, "ls -l", true, false, "ls -l", {}},
        {"another process holds PRIMARY", 11, "elsewhere", false, false, "copied", {SyntheticChord::copy}},
        {"PRIMARY without text", 10, std::nullopt, false, false, "copied", {SyntheticChord::copy}},
        {"nobody holds PRIMARY, terminal class", std::nullopt, std::nullopt, true, false, "copied",
         {SyntheticChord::terminalCopy}},
        {"nobody holds PRIMARY, terminal role", std::nullopt, std::nullopt, false, true, "copied",
         {SyntheticChord::terminalCopy}},
    };
    keys.selection = "copied";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        pb = InMemoryPasteboard();
        pb.writeStringAsAnotherClient("user's");
        const auto count = pb.changeCount();
        workspace.addApplication({.processIdentifier = 10, .bundleIdentifier = "front", .isTerminal = c.terminalClass});
        workspace.setFrontmost(10);
        primary.owner = c.primaryOwner;
        primary.selected = c.primaryText;
        ax.focused = c.terminalRole ? std::shared_ptr<AccessibleElement>(terminalElement) : nullptr;
        keys.posted.clear();

        EXPECT_EQ(run(), c.result);
        EXPECT_EQ(keys.posted, c.chords);
        EXPECT_EQ(pb.string(), "user's");
        if (c.chords.empty()) {
            EXPECT_EQ(pb.changeCount(), count) << "the clipboard was borrowed";
        }
    }
}

TEST_F(SelectionCaptureTest, AFailedKeystrokeIsLoggedAndTheCaptureYieldsNothing) {
    pb.writeStringAsAnotherClient("user's");
    keys.failure = keystrokeError(KeystrokeErrorCode::noEventSource, "no display");
    EXPECT_EQ(run(), std::nullopt);
    EXPECT_TRUE(log->contains("failed to create CGEventSource", LogLevel::error));
    EXPECT_EQ(pb.string(), "user's");
    keys.failure = keystrokeError(KeystrokeErrorCode::cannotBuildEvent, "no key");
    EXPECT_EQ(run(), std::nullopt);
    EXPECT_TRUE(log->contains("failed to construct Cmd+C CGEvent", LogLevel::error));
}

// Work that ignores cancellation and holds the arbiter's queue.
Task<void> holdQueue(Duration d) {
    Executor& ex = co_await currentExecutor();
    co_await testsupport::WaitIgnoringCancellation{&ex, d};
}

TEST_F(SelectionCaptureTest, ABlockedQueueTimesOutButTheQueuedCopyStillFinishesFirst) {
    pb.writeStringAsAnotherClient("user's");
    keys.selection = "late selection";
    arbiter.enqueue([] { return holdQueue(7s); });
    auto handle = spawn(main, capture.capture());

    main.advance(5s);
    EXPECT_TRUE(log->contains("capture: timed out after 5.000000s", LogLevel::error));
    EXPECT_FALSE(handle.done()) << "returned before its queued pasteboard work ran";
    EXPECT_TRUE(keys.posted.empty());

    main.advanceUntilIdle();
    ASSERT_TRUE(handle.done());
    EXPECT_EQ(handle.value(), std::nullopt);
    EXPECT_EQ(keys.posted, std::vector<SyntheticChord>{SyntheticChord::copy});
    EXPECT_EQ(pb.string(), "user's");
    EXPECT_EQ(main.elapsed(), 7500ms);
}

TEST_F(SelectionCaptureTest, ACaptureWhoseOwnerIsGoneYieldsNothing) {
    auto owned = std::make_unique<SelectionCapture>(arbiter, pb, ax, keys, workspace, primary);
    arbiter.enqueue([] { return holdQueue(1s); });
    auto handle = spawn(main, owned->capture());
    main.runUntilIdle();
    owned.reset();
    main.advanceUntilIdle();
    ASSERT_TRUE(handle.done());
    EXPECT_EQ(handle.value(), std::nullopt);
    EXPECT_TRUE(keys.posted.empty());
}

}  // namespace
}  // namespace parlowen
