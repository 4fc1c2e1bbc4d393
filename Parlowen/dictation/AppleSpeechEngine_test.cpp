#include "Parlowen/dictation/AppleSpeechEngine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <mutex>

#include "platform/log/CaptureSink.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/speech/ScriptedSpeechRecognizer.h"

namespace parlowen {
namespace {

using platform::ManualExecutor;
using platform::ScriptedSpeechRecognizer;
using platform::SpeechTaskState;
using namespace std::chrono_literals;

class AppleSpeechEngineTest : public ::testing::Test {
protected:
    AppleSpeechEngineTest() {
        engine.setOnPartial([this](const std::string& text) {
            std::lock_guard lock(mutex);
            partials.push_back(text);
        });
    }

    void startSession() {
        auto h = platform::spawn(main, engine.start());
        main.runUntilIdle();
        ASSERT_TRUE(h.done());
        ASSERT_TRUE(h.value());
    }
    platform::JoinHandle<platform::Result<std::string>> beginFinish() {
        auto h = platform::spawn(main, engine.finish());
        main.runUntilIdle();
        return h;
    }
    // Finishes when the recogniser has nothing more to say.
    std::string finishNow() {
        if (auto task = recognizer->lastTask()) task->setState(SpeechTaskState::completed);
        auto h = beginFinish();
        EXPECT_TRUE(h.done());
        if (!h.done() || !h.value()) return "<failed>";
        return *h.value();
    }
    // Emits to the running (most recent) task.
    void say(const std::string& text, bool isFinal = false) {
        recognizer->emitResult(recognizer->taskCount() - 1, text, isFinal);
    }
    std::string lastPartial() {
        std::lock_guard lock(mutex);
        return partials.empty() ? "<none>" : partials.back();
    }
    std::size_t partialCount() {
        std::lock_guard lock(mutex);
        return partials.size();
    }

    platform::ScopedLogCapture log;
    ManualExecutor main;
    std::shared_ptr<ScriptedSpeechRecognizer> recognizer = std::make_shared<ScriptedSpeechRecognizer>();
    AppleSpeechEngine engine{recognizer, main};
    std::mutex mutex;
    std::vector<std::string> partials;
};

TEST(AppleSpeechEngineRules, SilentResetAndCombinedTranscript) {
    struct Case {
        std::string previous, next;
        bool reset;
    };
    const Case cases[] = {
        {"hello world", "goodbye", true},  // no common prefix, long enough
        {"Hello", "hello there", false},   // case-insensitive prefix 5
        {"abc", "xyz", false},             // only 3 characters before
        {"hello", "h", false},             // prefix 1 is not below min(3, 5, 1)
        {"hello", "a", true},              // prefix 0 is below 1
        {"hello", "HElp", false},
        {"", "anything", false},
        {"something", "", false},
        {"éclair", "Éclat", false},        // characters, not bytes, and case folded
        {"naïve", "nb", true},             // prefix 1 below min(3, 5, 2)
    };
    for (const auto& c : cases)
        EXPECT_EQ(AppleSpeechEngine::isSilentReset(c.previous, c.next), c.reset) << c.previous << " -> " << c.next;
    EXPECT_EQ(AppleSpeechEngine::isSilentReset("hello", "hex"), true)
        << "prefix 2 is below min(3, 5, 3) = 3";

    EXPECT_EQ(AppleSpeechEngine::combinedTranscript({}, ""), "");
    EXPECT_EQ(AppleSpeechEngine::combinedTranscript({"first part"}, ""), "first part");
    EXPECT_EQ(AppleSpeechEngine::combinedTranscript({"a", "b"}, "c"), "a b c");
    EXPECT_EQ(AppleSpeechEngine::combinedTranscript({" lead"}, "tail\n"), "lead tail");
}

TEST_F(AppleSpeechEngineTest, StitchesSegmentsAcrossResetsAndTasks) {
    struct Step {
        std::string text;
        bool isFinal = false;
    };
    struct Case {
        std::vector<Step> steps;
        std::string combined;
    };
    const Case cases[] = {
        {{{"hello world"}, {"goodbye"}}, "hello world goodbye"},
        {{{"Hello"}, {"hello there"}}, "hello there"},
        {{{"abc"}, {"xyz"}}, "xyz"},
        {{{"hello"}, {"h"}}, "h"},
        {{{"hello"}, {"a"}}, "hello a"},
        {{{"first part", true}, {"second part"}}, "first part second part"},
        {{{"one", true}, {"two", true}, {"three"}}, "one two three"},
        {{{"kept"}, {""}}, "kept"},
        {{{"kept", true}, {"", true}, {"more"}}, "kept more"},
    };
    for (const auto& c : cases) {
        startSession();
        for (const auto& step : c.steps) say(step.text, step.isFinal);
        EXPECT_EQ(lastPartial(), c.combined);
        EXPECT_EQ(finishNow(), c.combined);
        engine.cancel();
    }
}

// A recogniser whose pauses end the task revises its first guess into text
// that begins differently; keeping the guess as a segment repeated words.
TEST_F(AppleSpeechEngineTest, ARevisionIsNoResetWhenTheRecogniserNeverResetsSilently) {
    recognizer->setResetsTranscriptSilently(false);
    startSession();
    say("good");
    say("hello world");
    say("hello world second");
    EXPECT_EQ(lastPartial(), "hello world second");
    say("hello world second sentence", true);
    say("and more");
    EXPECT_EQ(finishNow(), "hello world second sentence and more");
    EXPECT_FALSE(log->contains("silent reset"));
}

TEST_F(AppleSpeechEngineTest, EachTaskAsksForDictationWithTheHintsAndAFinalStartsTheNext) {
    engine.setContextualStrings({"Parlowen", "Auralith"});
    startSession();
    ASSERT_EQ(recognizer->taskCount(), 1);
    const auto& options = recognizer->task(0)->request->options;
    EXPECT_TRUE(options.shouldReportPartialResults);
    EXPECT_EQ(options.taskHint, platform::SpeechTaskHint::dictation);
    EXPECT_TRUE(options.requiresOnDeviceRecognition);
    EXPECT_EQ(options.contextualStrings, (std::vector<std::string>{"Parlowen", "Auralith"}));

    say("first", true);
    ASSERT_EQ(recognizer->taskCount(), 2);
    EXPECT_EQ(recognizer->task(1)->request->options.contextualStrings.size(), 2u);
    EXPECT_TRUE(log->contains("starting new recognition task (already finalized: 1 segments)"));
    // onPartial runs on the recogniser's thread, for every result.
    say("first");
    EXPECT_EQ(partialCount(), 2u);
}

TEST_F(AppleSpeechEngineTest, ATaskErrorKeepsTheTextAndStartsANewTask) {
    startSession();
    say("some words");
    recognizer->emitError(0, platform::Error::make("test", 1, "failed", "network down"));
    EXPECT_TRUE(log->contains("recognition task error: network down", platform::LogLevel::error));
    ASSERT_EQ(recognizer->taskCount(), 2);
    EXPECT_EQ(partialCount(), 1u) << "errors never reach onPartial";
    say("more");
    EXPECT_EQ(lastPartial(), "some words more");
    EXPECT_EQ(finishNow(), "some words more");
}

TEST_F(AppleSpeechEngineTest, FinishBeforeAnyResultOrAfterCancelGivesNothing) {
    auto h = platform::spawn(main, engine.finish());
    main.runUntilIdle();
    ASSERT_TRUE(h.done());
    EXPECT_EQ(h.value(), "") << "finish without start";

    startSession();
    auto waiting = beginFinish();
    EXPECT_TRUE(recognizer->task(0)->request->audioEnded());
    recognizer->emitResult(0, "", true);
    main.advance(50ms);
    ASSERT_TRUE(waiting.done());
    EXPECT_EQ(waiting.value(), "");
    EXPECT_EQ(recognizer->taskCount(), 1) << "no new task while shutting down";

    startSession();
    say("dropped");
    engine.cancel();
    EXPECT_TRUE(recognizer->lastTask()->cancelled());
    EXPECT_TRUE(recognizer->lastTask()->request->audioEnded());
    EXPECT_EQ(finishNow(), "");
    engine.cancel();  // twice: harmless
}

TEST_F(AppleSpeechEngineTest, FinishWaitsForTheFinalResult) {
    startSession();
    say("hello wor");
    auto h = beginFinish();
    EXPECT_FALSE(h.done());
    main.advance(1s);
    EXPECT_FALSE(h.done());
    recognizer->emitResult(0, "hello world", true);
    main.advance(50ms);
    ASSERT_TRUE(h.done());
    EXPECT_EQ(h.value(), "hello world");
    EXPECT_EQ(recognizer->taskCount(), 1);
    EXPECT_FALSE(recognizer->task(0)->cancelled());
}

TEST_F(AppleSpeechEngineTest, FinishGivesUpAfterFourSecondsWithTheTextSoFar) {
    startSession();
    say("first part", true);
    say("the rest so");
    auto h = beginFinish();
    main.advance(3950ms);
    EXPECT_FALSE(h.done());
    main.advance(50ms);
    ASSERT_TRUE(h.done());
    EXPECT_EQ(h.value(), "first part the rest so");
    EXPECT_TRUE(recognizer->task(1)->cancelled());
    EXPECT_TRUE(log->contains(
        "finish() timed out after 4s waiting for task to finalize; cancelling and returning current partials",
        platform::LogLevel::error));
    // A late final of the abandoned task changes nothing.
    recognizer->emitResult(1, "the rest so late", true);
    EXPECT_EQ(recognizer->taskCount(), 2);
    EXPECT_EQ(finishNow(), "first part the rest so");
}

TEST_F(AppleSpeechEngineTest, ACancelledFinishFailsWithCancellation) {
    startSession();
    auto h = beginFinish();
    h.cancel();
    main.runUntilIdle();
    ASSERT_TRUE(h.done());
    ASSERT_FALSE(h.value());
    EXPECT_TRUE(h.value().error().isCancellation());
}

TEST_F(AppleSpeechEngineTest, OnPartialMayCallBackIntoTheEngine) {
    std::vector<std::string> seen;
    engine.setOnPartial([&](const std::string& text) {
        seen.push_back(text);
        // Each of these takes the engine's lock: none may be held here.
        engine.setContextualStrings({text});
        (void)engine.onPartial();
        engine.append(platform::PcmBuffer(platform::PcmFormat::float32(16000, 1), 16));
        if (text.ends_with("stop")) engine.cancel();
    });
    startSession();
    say("hello");
    say("stop");
    EXPECT_EQ(seen, (std::vector<std::string>{"hello", "hello stop"}));
    EXPECT_TRUE(recognizer->task(0)->cancelled());
    EXPECT_EQ(engine.contextualStrings(), std::vector<std::string>{"hello stop"});
}

TEST_F(AppleSpeechEngineTest, AppendFeedsOnlyTheRunningTask) {
    platform::PcmBuffer buffer(platform::PcmFormat::float32(48000, 1), 1024);
    buffer.setFrameLength(1024);
    engine.append(buffer);  // outside a session: dropped
    startSession();
    engine.append(buffer);
    EXPECT_EQ(recognizer->task(0)->request->appendedBuffers(), 1);
    say("next", true);
    engine.append(buffer);
    EXPECT_EQ(recognizer->task(0)->request->appendedBuffers(), 1);
    EXPECT_EQ(recognizer->task(1)->request->appendedBuffers(), 1);
    engine.cancel();
    engine.append(buffer);
    EXPECT_EQ(recognizer->task(1)->request->appendedBuffers(), 1);
}

TEST_F(AppleSpeechEngineTest, ASecondStartDropsTheFirstSessionsText) {
    startSession();
    say("old text");
    startSession();
    EXPECT_TRUE(recognizer->task(0)->cancelled());
    recognizer->emitResult(0, "old text again");  // the old task's late result
    say("new");
    EXPECT_EQ(finishNow(), "new");
}

// Faults mended: a recogniser that fails at once is not restarted without
// end, and nothing from a superseded task reaches the session.
TEST_F(AppleSpeechEngineTest, StopsRestartingAfterThreeFailuresWithoutText) {
    startSession();
    say("kept");
    recognizer->emitError(0, platform::Error::make("test", 1, "x", "boom"));  // had text: no failure
    for (int i = 1; i <= 3; ++i) recognizer->emitError(i, platform::Error::make("test", 1, "x", "boom"));
    EXPECT_EQ(recognizer->taskCount(), 4) << "three empty tasks in a row, then no more";
    EXPECT_TRUE(log->contains("3 recognition tasks in a row ended without text; not starting another"));
    EXPECT_EQ(finishNow(), "kept");

    // Text between failures starts the count again.
    startSession();
    int first = recognizer->taskCount() - 1;
    recognizer->emitError(first, platform::Error::make("test", 1, "x", "boom"));
    recognizer->emitError(first + 1, platform::Error::make("test", 1, "x", "boom"));
    say("words", true);
    recognizer->emitError(first + 3, platform::Error::make("test", 1, "x", "boom"));
    recognizer->emitError(first + 4, platform::Error::make("test", 1, "x", "boom"));
    EXPECT_EQ(recognizer->taskCount(), first + 6);
}

TEST_F(AppleSpeechEngineTest, IgnoresResultsAndErrorsOfSupersededTasks) {
    startSession();
    // A final that comes with an error restarts once, not twice.
    recognizer->emitResultAndError(0, "one", true, platform::Error::make("test", 1, "x", "ended"));
    ASSERT_EQ(recognizer->taskCount(), 2);
    // Late words and errors of the first task change nothing.
    std::size_t before = partialCount();
    recognizer->emitResult(0, "stray words");
    recognizer->emitError(0, platform::Error::make("test", 1, "x", "late"));
    EXPECT_EQ(partialCount(), before);
    EXPECT_EQ(recognizer->taskCount(), 2);
    EXPECT_TRUE(log->contains("ignoring a result of a superseded recognition task"));
    say("two");
    EXPECT_EQ(finishNow(), "one two");
}

TEST(AppleSpeechEngineMake, FallsBackToTheDefaultLocaleThenFails) {
    ManualExecutor main;
    std::vector<std::optional<std::string>> asked;
    auto onlyDefault = [&](const std::optional<std::string>& locale) -> std::shared_ptr<platform::SpeechRecognizer> {
        asked.push_back(locale);
        if (locale) return nullptr;
        return std::make_shared<ScriptedSpeechRecognizer>("en-US");
    };
    auto engine = AppleSpeechEngine::make("xx-YY", onlyDefault, main);
    ASSERT_TRUE(engine);
    EXPECT_EQ((*engine)->name(), "Apple Speech");
    EXPECT_EQ(asked, (std::vector<std::optional<std::string>>{"xx-YY", std::nullopt}));

    auto none = AppleSpeechEngine::make("xx-YY", [](const auto&) { return nullptr; }, main);
    ASSERT_FALSE(none);
    EXPECT_EQ(none.error().domain, "AppleSpeechEngine.AppleSpeechError");
    EXPECT_EQ(none.error().caseName, "recognizerUnavailable");
}

}  // namespace
}  // namespace parlowen
