#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Parlowen/notepad/NotepadTestSupport.h"

namespace parlowen {
namespace {

using namespace notepadtest;
using platform::LogLevel;
using platform::ScriptedReply;
using Merged = NotepadCoordinator::Merged;

TEST(NotepadMergePartial, SlotsAndSeparators) {
    struct Case {
        std::string displayed;
        std::optional<std::size_t> slot;
        std::string partial;
        Merged merged;
    };
    const Case cases[] = {
        {"", std::nullopt, "P", {"P", 0}},
        {"Hello", std::nullopt, "P", {"Hello P", 6}},
        {"Hello ", std::nullopt, "P", {"Hello P", 6}},
        {"Hello\n", std::nullopt, "P", {"Hello\nP", 6}},
        {"Hello\t", std::nullopt, "P", {"Hello\tP", 6}},
        {"Hello world", 6, "P", {"Hello P", 6}},          // replaces the slot
        {"Hello world", 11, "there", {"Hello worldthere", 11}},  // a slot at the very end
        {"Hello world", 12, "P", {"Hello world P", 12}},  // past the end: a new slot
        {"Hi 👍🏽 ok", 5, "P", {"Hi 👍🏽 P", 5}},            // one character for the toned emoji
        {"👨‍👩‍👧", std::nullopt, "P", {"👨‍👩‍👧 P", 2}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NotepadCoordinator::mergePartial(c.displayed, c.slot, c.partial), c.merged)
            << c.displayed << " / " << c.slot.value_or(999);
}

TEST_F(NotepadFixture, OpenStartsRecordingAndOpenWhileOpenChangesNothing) {
    openRecording();
    EXPECT_TRUE(notepad->isOpen().get());
    EXPECT_TRUE(logs->contains("notepad open", LogLevel::info));
    EXPECT_TRUE(logs->contains("notepad recording started", LogLevel::info));
    EXPECT_EQ(engine().prepared, microphone->inputFormat());
    EXPECT_TRUE(microphone->isRunning());
    say("hello");
    notepad->open();
    main.runUntilIdle();
    EXPECT_EQ(text(), "hello");
    EXPECT_EQ(engines.size(), 1u);
    EXPECT_EQ(engine().starts, 1);
}

// Successive partials land exactly where the pure merge puts them, also where
// a partial's first character joins the one before the slot.
TEST_F(NotepadFixture, SuccessivePartialsMergeAsThePureMergeDoes) {
    const std::vector<std::vector<std::string>> runs = {
        {"hello", "hello world", "help", "", "hello again"},
        {"caf", "e\u0301 au lait", "cafe", "\u0301"},           // a combining accent starts a partial
        {"line\r", "\nnext", "line\r\nnext", "\xF0\x9F\x87\xAB"},  // CR then LF; a flag half
        {"\xF0\x9F\x87\xB7", "ok", "\xE2\x80\x8D\xF0\x9F\x91\xA6 x"},  // ZWJ start
    };
    openRecording();
    for (const auto& run : runs) {
        type(text() + "Seed \xF0\x9F\x91\xA9");  // an edit starts a new slot
        std::string expected = text();
        std::optional<std::size_t> slot;
        for (const auto& partial : run) {
            say(partial);
            auto merged = NotepadCoordinator::mergePartial(expected, slot, partial);
            expected = merged.text;
            slot = merged.slotStart;
            ASSERT_EQ(text(), expected) << partial;
        }
    }
}

TEST_F(NotepadFixture, AMissingPermissionKeepsItClosed) {
    speechPermission.setRawStatus(1);  // denied
    permissions.refresh();
    notepad->open();
    notepad->openWithSeedText("seed");
    main.runUntilIdle();
    EXPECT_FALSE(notepad->isOpen().get());
    EXPECT_TRUE(engines.empty());
    EXPECT_TRUE(logs->contains("notepad open refused: permissions missing", LogLevel::error));
    EXPECT_TRUE(logs->contains("notepad openWithSeedText refused: permissions missing", LogLevel::error));
}

TEST_F(NotepadFixture, SeedOpensPausedOrIsAppendedAsAnEdit) {
    notepad->openWithSeedText("first thought");
    main.runUntilIdle();
    EXPECT_TRUE(notepad->isOpen().get());
    EXPECT_FALSE(notepad->isRecording().get());
    EXPECT_EQ(text(), "first thought");
    EXPECT_EQ(notepad->saveState().get(), SaveState::idle());
    EXPECT_TRUE(logs->contains("notepad open with seed: 13 chars"));

    notepad->startRecording();
    main.runUntilIdle();
    say("spoken words");
    EXPECT_EQ(text(), "first thought spoken words");
    // Appended while a partial is on display: the seed is the user's text from now on.
    notepad->openWithSeedText("second");
    main.runUntilIdle();
    EXPECT_EQ(text(), "first thought spoken words\n\nsecond");
    EXPECT_TRUE(logs->contains("notepad openWithSeedText called while already open; appending", LogLevel::error));
    EXPECT_EQ(engine().starts, 2);  // the run started over
    say("more");
    EXPECT_EQ(text(), "first thought spoken words\n\nsecond more");
    EXPECT_TRUE(notepad->isRecording().get());

    notepad->close();
    notepad->open();
    main.runUntilIdle();
    EXPECT_EQ(text(), "");
    notepad->openWithSeedText("alone");
    EXPECT_EQ(text(), "alone");  // an empty text takes the seed without an empty line
}

TEST_F(NotepadFixture, TypingDuringAPartialCancelsThePolishAndTheNextPartialLandsAfterIt) {
    languageModel.replyNext(ScriptedReply::text("Hello world.", 500ms));
    openRecording();
    say("hello world");
    main.advance(1s);  // the pause: the polish starts
    ASSERT_TRUE(polishing());
    type("hello world and typed");
    EXPECT_FALSE(polishing());
    main.runUntilIdle();
    EXPECT_EQ(engine().starts, 2);
    EXPECT_TRUE(logs->contains("notepad: user edit detected; partial slot invalidated (chars=21)"));
    EXPECT_TRUE(logs->contains("notepad: restarting engine accumulator (user edit)"));
    main.advance(1s);
    EXPECT_EQ(text(), "hello world and typed");  // the polish's answer never landed

    say("next");
    say("next words");
    EXPECT_EQ(text(), "hello world and typed next words");
}

TEST_F(NotepadFixture, APartialOfTheRunBeforeAnEditIsDropped) {
    openRecording();
    say("hello");
    engine().say("hello again");  // queued for the main executor, then the user types
    type("hello, typed");
    main.runUntilIdle();
    EXPECT_EQ(text(), "hello, typed");
    say("new run");
    EXPECT_EQ(text(), "hello, typed new run");
}

TEST_F(NotepadFixture, AnAcceptedPolishReplacesFromTheSlotAndRestartsTheRun) {
    languageModel.replyNext(ScriptedReply::text(" Second sentence. ", 300ms));
    notepad->openWithSeedText("First line.");
    notepad->startRecording();
    main.runUntilIdle();
    say("second sentence");
    EXPECT_EQ(text(), "First line. second sentence");
    main.advance(999ms);
    EXPECT_FALSE(polishing());
    main.advance(1ms);
    EXPECT_TRUE(polishing());
    main.advance(300ms);
    EXPECT_EQ(text(), "First line. Second sentence.");
    EXPECT_FALSE(polishing());
    EXPECT_EQ(engine().starts, 2);
    EXPECT_TRUE(logs->contains("notepad: restarting engine accumulator (pause-boundary polish)"));
    ASSERT_EQ(languageModel.calls().size(), 1u);
    EXPECT_THAT(languageModel.calls()[0].prompt, ::testing::HasSubstr("\nsecond sentence\n"));
    EXPECT_EQ(languageModel.calls()[0].instructions, NotepadCoordinator::punctuationPolishPrompt);

    say("third");
    EXPECT_EQ(text(), "First line. Second sentence. third");
}

TEST_F(NotepadFixture, APolishIsDroppedWhenThePartialChangedOrTimesOut) {
    languageModel.replyNext(ScriptedReply::text("Hello.", 500ms));
    openRecording();
    say("hello");
    main.advance(1s);
    say("hello there");  // arrives while the polish runs
    main.advance(500ms);
    EXPECT_EQ(text(), "hello there");
    EXPECT_FALSE(polishing());

    // The next pause polishes the newer partial; this one takes too long.
    languageModel.replyNext(ScriptedReply::text("Hello there.", 3s));
    main.advance(500ms);
    EXPECT_TRUE(polishing());
    main.advance(2500ms);
    EXPECT_FALSE(polishing());
    EXPECT_EQ(text(), "hello there");
    EXPECT_TRUE(logs->contains("notepad polish bypassed:", LogLevel::debug));
    EXPECT_EQ(languageModel.calls().size(), 2u);
}

TEST_F(NotepadFixture, NoPolishWhenStoppedWithinThePauseOrSwitchedOffOrUnavailable) {
    openRecording();
    say("left as heard");
    main.advance(900ms);
    notepad->stopRecording();
    main.advance(5s);
    EXPECT_EQ(text(), "left as heard");
    EXPECT_TRUE(languageModel.calls().empty());
    EXPECT_EQ(engine().cancels, 1);
    EXPECT_FALSE(notepad->hasEngine());
    EXPECT_TRUE(logs->contains("notepad recording stopped"));

    for (int variant = 0; variant < 3; ++variant) {
        prefs.polishPunctuationEnabled.set(variant != 0);
        prefs.aiRefinementEnabled.set(variant != 1);
        languageModel.setAvailability(variant == 2 ? platform::LanguageModelAvailability::deviceNotEligible
                                                   : platform::LanguageModelAvailability::available);
        notepad->startRecording();
        main.runUntilIdle();
        say("words");
        main.advance(2s);
        EXPECT_FALSE(polishing()) << variant;
        notepad->stopRecording();
    }
    EXPECT_TRUE(languageModel.calls().empty());
    // A partial that arrives after the stop is ignored.
    engines.front()->say("late");
    main.runUntilIdle();
    EXPECT_EQ(text().find("late"), std::string::npos);
}

TEST_F(NotepadFixture, LevelsPublishAtMostEvery67Milliseconds) {
    openRecording();
    int publications = 0;
    auto sub = notepad->amplitudes().stream().dropFirst().subscribe([&](const std::vector<float>& levels) {
        ++publications;
        EXPECT_EQ(levels.size(), 30u);
    });
    platform::PcmBuffer loud(microphone->inputFormat(), 1024);
    for (std::uint32_t f = 0; f < 1024; ++f) loud.setSample(0, f, 0.5f);
    loud.setFrameLength(1024);
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(microphone->deliver(loud));
        main.advance(1ms);
    }
    EXPECT_GE(publications, 1);
    EXPECT_LE(publications, 2);
    EXPECT_GT(notepad->amplitudes().get().back(), 0.0f);
    EXPECT_EQ(engine().appended.load(), 100);  // straight from the capture thread

    notepad->stopRecording();
    EXPECT_EQ(notepad->amplitudes().get(), std::vector<float>(30, 0.0f));
    EXPECT_FALSE(microphone->deliver(loud));
}

TEST_F(NotepadFixture, BuffersFromTheCaptureThreadReachTheEngine) {
    openRecording();
    std::vector<platform::PcmBuffer> buffers;
    for (int i = 0; i < 50; ++i) {
        platform::PcmBuffer b(microphone->inputFormat(), 1024);
        b.setFrameLength(1024);
        buffers.push_back(std::move(b));
    }
    microphone->pushFromWorker(std::move(buffers));
    microphone->joinWorker();
    EXPECT_EQ(engine().appended.load(), 50);
    main.runUntilIdle();
}

TEST_F(NotepadFixture, FailuresToStartLeaveItNotRecording) {
    engineInitError = platform::Error::make("AppleSpeechEngine.AppleSpeechError", 0, "recognizerUnavailable",
                                            "The operation couldn't be completed.");
    notepad->open();
    main.runUntilIdle();
    EXPECT_TRUE(notepad->isOpen().get());
    EXPECT_FALSE(notepad->isRecording().get());
    EXPECT_TRUE(logs->contains("notepad engine init failed: The operation couldn't be completed.", LogLevel::error));

    engineInitError.reset();
    microphone->failStartWith(platform::Error::make("audio", 5, "server", "Connection refused"));
    notepad->startRecording();
    main.runUntilIdle();
    EXPECT_FALSE(notepad->isRecording().get());
    EXPECT_FALSE(notepad->hasEngine());
    EXPECT_EQ(engine().cancels, 1);
    EXPECT_TRUE(logs->contains("notepad recording start failed:", LogLevel::error));

    // The next start works.
    microphone->failStartWith(std::nullopt);
    notepad->startRecording();
    main.runUntilIdle();
    EXPECT_TRUE(notepad->isRecording().get());
}

TEST_F(NotepadFixture, AStartThatIsStillPendingRefusesASecondAndAStopLeavesTheMicrophoneOff) {
    nextStartDelay = 200ms;
    notepad->open();
    main.runUntilIdle();
    notepad->startRecording();  // before the first reached the microphone
    main.advance(200ms);
    EXPECT_EQ(engines.size(), 1u);
    EXPECT_TRUE(notepad->isRecording().get());

    notepad->stopRecording();
    notepad->startRecording();
    main.runUntilIdle();
    notepad->stopRecording();  // while the second start is pending
    main.advance(1s);
    EXPECT_FALSE(notepad->isRecording().get());
    EXPECT_FALSE(microphone->isRunning());
    EXPECT_FALSE(notepad->hasEngine());
}

TEST_F(NotepadFixture, ThePerApplicationRuleAddsHintsAndSuggestsItsTone) {
    prefs.dictationContextualPhrases.set({"Parlowen", "Quon"});
    PerAppRule rule;
    rule.bundleId = "org.gnome.Evolution";
    rule.appName = "Evolution";
    rule.toneID = "email";
    rule.extraContextualPhrases = {"Quon", "Kelvatrum", "Kelvatrum"};
    prefs.perAppRules.set({rule});
    workspace.addApplication({.processIdentifier = 42, .bundleIdentifier = "org.gnome.Evolution",
                              .localizedName = "Evolution"});
    workspace.setFrontmost(42);
    openRecording();
    EXPECT_EQ(engine().hints, (std::vector<std::string>{"Parlowen", "Quon", "Kelvatrum"}));
    EXPECT_EQ(notepad->suggestedToneID().get(), "email");
    EXPECT_TRUE(logs->contains("notepad per-app rule active: Evolution toneID=email", LogLevel::info));
    notepad->close();
    EXPECT_EQ(notepad->suggestedToneID().get(), std::nullopt);

    workspace.setFrontmost(std::nullopt);
    notepad->open();
    main.runUntilIdle();
    EXPECT_EQ(engine().hints, (std::vector<std::string>{"Parlowen", "Quon"}));
    EXPECT_EQ(notepad->suggestedToneID().get(), std::nullopt);
}

TEST_F(NotepadFixture, VoiceCommandsApplyToEachPartial) {
    prefs.enabledVoiceCommands.set({VoiceCommand::scratchThat});
    openRecording();
    say("first sentence. second scratch that");
    EXPECT_EQ(text(), "first sentence.");
}

TEST_F(NotepadFixture, CloseLearnsTheTextAndStopsEverything) {
    prefs.learnFromDictation.set(true);
    openRecording();
    say("Kelvatrum Kelvatrum");
    notepad->close();
    EXPECT_FALSE(notepad->isOpen().get());
    EXPECT_FALSE(notepad->isRecording().get());
    EXPECT_FALSE(microphone->isRunning());
    EXPECT_EQ(text(), "Kelvatrum Kelvatrum");  // kept until the next opening
    EXPECT_EQ(prefs.learnedVocabulary.get(), (std::map<std::string, std::int64_t>{{"Kelvatrum", 2}}));
    EXPECT_TRUE(logs->contains("notepad close"));
    logs->clear();
    notepad->close();
    EXPECT_TRUE(logs->lines().empty());
}

TEST_F(NotepadFixture, CopyPutsTheTextOnThePasteboardEvenWhenEmpty) {
    pasteboard.setString("something else");
    notepad->openWithSeedText("");
    notepad->copyToClipboard();
    EXPECT_EQ(pasteboard.string(), "");
    EXPECT_TRUE(logs->contains("notepad copied 0 chars to clipboard"));
    notepad->setDisplayedText("héllo 👍🏽");
    notepad->copyToClipboard();
    EXPECT_EQ(pasteboard.string(), "héllo 👍🏽");
    EXPECT_TRUE(logs->contains("notepad copied 7 chars to clipboard"));
}

TEST_F(NotepadFixture, SaveStatesReturnToIdleAfterTheirTimes) {
    notepad->openWithSeedText("note text");
    std::vector<SaveState> states;
    auto sub = notepad->saveState().stream().dropFirst().subscribe([&](const SaveState& s) { states.push_back(s); });

    auto h = platform::spawn(main, notepad->saveToAppleNotes());
    main.runUntilIdle();
    EXPECT_TRUE(h.done());
    EXPECT_EQ(states, (std::vector<SaveState>{SaveState::saving(), SaveState::saved()}));
    EXPECT_TRUE(logs->contains("notepad saved to Apple Notes"));
    ASSERT_EQ(notes.scripts().size(), 1u);
    EXPECT_NE(notes.scripts()[0].noteHtml.find("<div>note text</div>"), std::string::npos);
    main.advance(2499ms);
    EXPECT_EQ(notepad->saveState().get(), SaveState::saved());
    main.advance(1ms);
    EXPECT_EQ(notepad->saveState().get(), SaveState::idle());

    // A failure stays 4 s; a save started within them is left alone by the pending reset.
    notes.answerNext(platform::NotesScriptOutcome::failed({-1743, "denied"}));
    platform::spawn(main, notepad->saveToAppleNotes());
    main.runUntilIdle();
    const std::string denied = ExportError::permissionDenied().description();
    EXPECT_EQ(notepad->saveState().get(), SaveState::failed(denied));
    EXPECT_TRUE(logs->contains("notepad save to Notes failed: " + denied, LogLevel::error));
    main.advance(3s);
    platform::spawn(main, notepad->saveToAppleNotes());  // succeeds within the 4 s
    main.runUntilIdle();
    EXPECT_EQ(notepad->saveState().get(), SaveState::saved());
    main.advance(1s);  // the failure's reset finds another state and leaves it
    EXPECT_EQ(notepad->saveState().get(), SaveState::saved());
    main.advance(1500ms);
    EXPECT_EQ(notepad->saveState().get(), SaveState::idle());

    notes.answerNext(platform::NotesScriptOutcome::failed({1, "disk full"}));
    platform::spawn(main, notepad->saveToAppleNotes());
    main.runUntilIdle();
    EXPECT_EQ(notepad->saveState().get(), SaveState::failed("Notes save failed: disk full"));
    main.advance(3999ms);
    EXPECT_NE(notepad->saveState().get(), SaveState::idle());
    main.advance(1ms);
    EXPECT_EQ(notepad->saveState().get(), SaveState::idle());

    states.clear();
    notepad->setDisplayedText("");
    platform::spawn(main, notepad->saveToAppleNotes());
    main.runUntilIdle();
    EXPECT_TRUE(states.empty());  // nothing to save
}

}  // namespace
}  // namespace parlowen
