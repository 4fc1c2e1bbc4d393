#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QToolButton>

#include "Parlowen/dictation/views/MicSelectorButton.h"
#include "Parlowen/notepad/NotepadTestSupport.h"
#include "Parlowen/notepad/views/NotepadContent.h"
#include "Parlowen/notepad/views/NotepadHUDController.h"
#include "Parlowen/shell/views/ThemePalette.h"
#include "Parlowen/shell/views/WaveformBarView.h"
#include "platform/ui/Animations.h"
#include "platform/ui/Finders.h"
#include "platform/ui/RecordingAnnouncer.h"
#include "platform/ui/ReduceMotion.h"
#include "platform/ui/ScreenshotTesting.h"
#include "platform/ui/ScriptedAlertPresenter.h"

namespace parlowen {
namespace {

using namespace notepadtest;
using platform::AudioTransport;
using platform::ui::findNamed;
using platform::ui::isShownWithSize;

const std::filesystem::path kShots = PARLOWEN_SCREENSHOT_DIR;

class NotepadViews : public NotepadFixture {
protected:
    NotepadViews() {
        hardware.setDevices({
            {1, "builtin", "Built-in Microphone", AudioTransport::builtIn, 1, 0},
            {2, "bt", "AirPods Pro", AudioTransport::bluetooth, 1, 2},
        });
        hardware.setDefault(platform::AudioScope::input, "builtin");
        catalog.refresh();
        hud = std::make_unique<NotepadHUDController>(
            *notepad, prefs,
            NotepadContent::Services{catalog, reduceMotion, announcer, alerts, defaults, main,
                                     [this] { return onDeviceAvailable; }},
            [this] { return frame; });
    }

    NotepadContent& content() { return *hud->content(); }
    template <class T = QWidget>
    T* child(std::string_view name) {
        return findNamed<T>(hud->window(), name);
    }
    bool shown(std::string_view name) { return isShownWithSize(child(name)); }
    void settle() {
        main.runUntilIdle();
        platform::ui::testing::settle();
    }
    void showNotepad(bool recording = true) {
        if (recording)
            notepad->open();
        else
            notepad->openWithSeedText("");
        hud->show();
        settle();
    }
    QString text(std::string_view label) { return child<QLabel>(label)->text(); }
    RewriteChip* chip(const std::string& name) { return child<RewriteChip>(name); }

    platform::ui::AnimationsOff noAnimations;
    platform::ui::ReduceMotionSwitch reduceMotion;
    platform::ui::RecordingAnnouncer announcer;
    platform::ui::ScriptedAlertPresenter alerts;
    AudioDeviceCatalog catalog{hardware, main};
    bool onDeviceAvailable = false;
    std::optional<QRect> frame = QRect(0, 0, 1280, 1024);
    std::unique_ptr<NotepadHUDController> hud;
};

TEST_F(NotepadViews, AFloatingWindowCentredFortyPointsAboveTheMiddleOfItsScreen) {
    QWidget* window = hud->window();
    EXPECT_EQ(window->windowTitle(), "Quon Notepad");
    EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(window->isVisible());
    frame = QRect(200, 300, 1000, 700);  // an offset available area
    showNotepad();
    EXPECT_EQ(window->size(), QSize(620, 480));
    const QRect g = window->frameGeometry();
    EXPECT_EQ(g.left() + g.width() / 2, 200 + 500);
    EXPECT_EQ(g.top() + g.height(), 300 + 350 - 40);
    EXPECT_TRUE(logs->contains("notepad HUD show"));
    ASSERT_FALSE(announcer.announcements().empty());
    EXPECT_EQ(announcer.announcements().back().text, "Quon Notepad open. Start speaking or typing.");

    // Moved and resized by the user: the size stays, the place does not.
    window->resize(700, 520);
    window->move(10, 10);
    hud->show();
    settle();
    EXPECT_EQ(window->size(), QSize(700, 520));
    EXPECT_EQ(window->frameGeometry().left() + window->frameGeometry().width() / 2, 700);
    EXPECT_EQ(NotepadHUDController::origin(QRect(100, 50, 800, 600), QSize(620, 480)), QPoint(190, 350 - 40 - 480));
}

TEST_F(NotepadViews, DoneAndTheCloseButtonCloseTheCoordinatorOnce) {
    showNotepad();
    ASSERT_TRUE(notepad->isRecording().get());
    child<QPushButton>("doneButton")->click();
    settle();
    EXPECT_FALSE(hud->window()->isVisible());
    EXPECT_FALSE(notepad->isOpen().get());
    EXPECT_FALSE(notepad->isRecording().get());
    const auto closes = [&] {
        int n = 0;
        for (const auto& line : logs->messages()) n += line == "notepad close";
        return n;
    };
    EXPECT_EQ(closes(), 1);

    // Opened again: the same window; closed by the window manager.
    QWidget* before = hud->window();
    showNotepad();
    EXPECT_EQ(hud->window(), before);
    EXPECT_TRUE(notepad->isOpen().get());
    hud->window()->close();
    settle();
    EXPECT_EQ(closes(), 2);
    hud->window()->close();  // already closed: nothing more
    EXPECT_EQ(closes(), 2);
}

TEST_F(NotepadViews, HeaderFollowsRecordingPolishingAndReduceMotion) {
    showNotepad(false);
    EXPECT_EQ(text("statusWord"), "paused");
    EXPECT_EQ(child("status")->accessibleName(), "Quon Notepad paused");
    EXPECT_EQ(child("recordButton")->toolTip(), "Resume recording");
    EXPECT_EQ(child("recordButton")->property("symbolName").toString(), "play.circle.fill");
    EXPECT_EQ(child("mascot")->accessibleName(), "Quon resting");
    EXPECT_FALSE(shown("meter"));
    EXPECT_FALSE(shown("polishing"));

    child<QToolButton>("recordButton")->click();
    settle();
    EXPECT_TRUE(notepad->isRecording().get());
    EXPECT_EQ(text("statusWord"), "listening");
    EXPECT_EQ(child("recordButton")->accessibleName(), "Pause recording");
    EXPECT_EQ(child("mascot")->accessibleName(), "Quon taking notes");
    EXPECT_EQ(child("mascot")->property("pose").toString().toStdString(), assetName(QuonKind::notetakingTall));
    EXPECT_TRUE(shown("meter"));
    reduceMotion.set(true);
    settle();
    EXPECT_FALSE(shown("meter"));
    EXPECT_TRUE(shown("status"));
    reduceMotion.set(false);

    // A rewrite running while paused: thinking, "polishing…", still "paused".
    child<QToolButton>("recordButton")->click();
    notepad->setDisplayedText("draft");
    settle();
    http.answerOnce("POST", kClaudeUrl, [] {
        auto a = platform::FakeHttpAnswer::text(200, claudeAnswer("Draft."));
        a.delay = std::chrono::seconds(2);
        return a;
    }());
    chip("tone:email")->click();
    settle();
    EXPECT_TRUE(shown("polishing"));
    EXPECT_EQ(child("polishing")->accessibleName(), "Polishing transcript");
    EXPECT_EQ(child("mascot")->accessibleName(), "Quon thinking");
    EXPECT_EQ(text("statusWord"), "paused");
    main.advance(std::chrono::seconds(2));
    settle();
    EXPECT_FALSE(shown("polishing"));
    EXPECT_EQ(content().editor()->toPlainText(), "Draft.");
}

TEST_F(NotepadViews, TheMicrophoneSelectorNamesTheDeviceInUse) {
    struct Case {
        std::optional<std::string> preferred;
        std::string name;
        bool bluetooth;
    };
    const Case cases[] = {
        {std::nullopt, "Built-in Microphone", false},
        {"bt", "AirPods Pro", true},
        {"unplugged-usb", "System default", false},
    };
    showNotepad();
    for (const auto& c : cases) {
        prefs.preferredInputDeviceUID.set(c.preferred);
        settle();
        EXPECT_EQ(content().micSelector()->fields().currentDeviceName, c.name);
        EXPECT_EQ(content().micSelector()->fields().currentIsBluetooth, c.bluetooth);
        EXPECT_EQ(content().micSelector()->fields().style, MicSelectorStyle::button);
    }
    content().micSelector()->fields().onSelect(std::string("bt"));
    EXPECT_EQ(prefs.preferredInputDeviceUID.get(), "bt");
    EXPECT_TRUE(prefs.hasAutoSelectedInputDevice.get());
}

TEST_F(NotepadViews, TheEditorAndTheCoordinatorShareOneText) {
    showNotepad();
    EXPECT_TRUE(shown("placeholder"));
    EXPECT_FALSE(child("copyButton")->isEnabled());
    EXPECT_FALSE(child("saveButton")->isEnabled());
    say("hello world");
    settle();
    EXPECT_EQ(content().editor()->toPlainText(), "hello world");
    EXPECT_FALSE(shown("placeholder"));
    EXPECT_TRUE(child("copyButton")->isEnabled());

    // Typing goes into the coordinator as the user's edit; the next words land after it.
    content().editor()->moveCursor(QTextCursor::End);
    content().editor()->insertPlainText("!");
    settle();
    EXPECT_EQ(notepad->displayedText().get(), "hello world!");
    say("again");
    settle();
    EXPECT_EQ(content().editor()->toPlainText(), "hello world! again");

    child<QPushButton>("copyButton")->click();
    EXPECT_EQ(pasteboard.string(), "hello world! again");
}

TEST_F(NotepadViews, ChipsFollowTheTextThePolishAndTheSuggestion) {
    PerAppRule rule;
    rule.bundleId = "org.gnome.Evolution";
    rule.appName = "Evolution";
    rule.toneID = "professional";
    prefs.perAppRules.set({rule});
    workspace.addApplication({.processIdentifier = 7, .bundleIdentifier = "org.gnome.Evolution"});
    workspace.setFrontmost(7);
    Tone custom{.id = "pirate", .displayName = "Pirate", .symbolName = std::nullopt, .systemPrompt = "Arr.",
                .isBuiltIn = false};
    prefs.customTones.set({custom});
    showNotepad();

    auto names = [&] {
        std::vector<std::string> out;
        for (auto* c : content().chips()) out.push_back(c->objectName().toStdString());
        return out;
    };
    EXPECT_EQ(names(), (std::vector<std::string>{"tone:email", "tone:casual", "tone:professional", "tone:concise",
                                                 "tone:slack", "tone:code-comment", "tone:pirate"}));
    for (auto* c : content().chips()) EXPECT_FALSE(c->isEnabled()) << "empty text";
    EXPECT_EQ(chip("tone:pirate")->symbolName(), "tag");
    EXPECT_TRUE(chip("tone:professional")->isSuggested());
    EXPECT_EQ(chip("tone:professional")->accessibleDescription(), "Suggested for this app");
    EXPECT_EQ(chip("tone:professional")->look().borderWidth, 1.5);
    EXPECT_FALSE(chip("tone:email")->isSuggested());
    EXPECT_EQ(chip("tone:email")->accessibleName(), "Apply tone: Email");

    say("some words");
    settle();
    for (auto* c : content().chips()) EXPECT_TRUE(c->isEnabled());

    child<QPushButton>("agentsSegment")->click();
    settle();
    EXPECT_EQ(content().rewriteKind(), NotepadContent::RewriteKind::agent);
    EXPECT_EQ(text("rewriteHint"), "Click an agent to transform the whole text");
    EXPECT_EQ(names(), (std::vector<std::string>{"agent:summarize", "agent:bulleted-list", "agent:expand",
                                                 "agent:action-items"}));
    EXPECT_EQ(chip("agent:summarize")->toolTip(), "Compress to a single paragraph that captures the main points.");
    EXPECT_EQ(RewriteChip(AgentCommand{.id = "x", .displayName = "X"}, {}).symbolName(), "wand.and.stars");

    // Closing and opening again keeps the chosen row.
    hud->window()->close();
    showNotepad();
    EXPECT_EQ(content().rewriteKind(), NotepadContent::RewriteKind::agent);
    EXPECT_EQ(rawValue(NotepadContent::RewriteKind::tone), "tone");
    EXPECT_EQ(rewriteKindFromRawValue("agent"), NotepadContent::RewriteKind::agent);
    EXPECT_EQ(rewriteKindFromRawValue("Agent"), std::nullopt);
}

TEST_F(NotepadViews, TheModelMenuAsksBeforeACloudModel) {
    prefs.cleanUpModel.set(CleanUpModel::sonnet46);
    showNotepad();
    auto* button = child<QToolButton>("modelMenu");
    EXPECT_EQ(button->text(), "Powered by Claude Sonnet 4.6 · cloud");
    EXPECT_EQ(button->property("symbolName").toString(), "lock.open.fill");
    EXPECT_EQ(button->toolTip(), "Quon Notepad text is sent to Anthropic. Click for details.");
    EXPECT_EQ(button->accessibleName(), "Select cleanup model. Current: Claude Sonnet 4.6");
    auto action = [&](const char* name) { return content().modelMenu()->findChild<QAction*>(QLatin1String(name)); };
    EXPECT_FALSE(action("apple-intelligence")->isEnabled());
    EXPECT_TRUE(action("claude-sonnet-4-6")->isChecked());

    alerts.answerNext(1);  // declined
    action("claude-opus-4-7")->trigger();
    settle();
    EXPECT_EQ(prefs.cleanUpModel.get(), CleanUpModel::sonnet46);
    EXPECT_TRUE(action("claude-sonnet-4-6")->isChecked());
    EXPECT_EQ(alerts.shown().size(), 1u);

    alerts.answerNext(0);  // accepted
    action("claude-opus-4-7")->trigger();
    settle();
    EXPECT_EQ(prefs.cleanUpModel.get(), CleanUpModel::opus47);
    EXPECT_EQ(button->text(), "Powered by Claude Opus 4.7 · cloud");
    action("claude-sonnet-4-6")->trigger();  // chosen in the settings before: asked once here
    action("claude-opus-4-7")->trigger();
    action("claude-sonnet-4-6")->trigger();
    settle();
    EXPECT_EQ(alerts.shown().size(), 3u);  // each acknowledged once, never asked again
    EXPECT_EQ(prefs.cleanUpModel.get(), CleanUpModel::sonnet46);

    onDeviceAvailable = true;
    prefs.cleanUpModel.set(CleanUpModel::appleIntelligence);
    settle();
    EXPECT_EQ(button->text(), "Powered by Apple Intelligence · on-device");
    EXPECT_EQ(button->property("symbolName").toString(), "cpu");
    EXPECT_EQ(button->toolTip(), "Generation runs entirely on your Mac.");
    EXPECT_TRUE(action("apple-intelligence")->isEnabled());
}

TEST_F(NotepadViews, TheFirstSaveExplainsThenSavesAndAnnouncesTheOutcome) {
    showNotepad(false);
    notepad->setDisplayedText("a note");
    settle();
    content().saveToNotes();
    settle();
    ASSERT_TRUE(content().explainer()->isVisible());
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(content().explainer(), &escape);
    settle();
    EXPECT_FALSE(content().explainer()->isVisible());
    EXPECT_EQ(notepad->saveState().get(), SaveState::idle());
    EXPECT_TRUE(notes.scripts().empty());

    child<QPushButton>("saveButton")->click();
    settle();
    ASSERT_TRUE(content().explainer()->isVisible());
    findNamed<QPushButton>(content().explainer(), "allowButton")->click();
    settle();
    EXPECT_FALSE(content().explainer()->isVisible());
    ASSERT_EQ(notes.scripts().size(), 1u);
    EXPECT_TRUE(shown("saved"));
    EXPECT_FALSE(shown("saveButton"));
    EXPECT_EQ(child("saved")->toolTip(), "Saved in Apple Notes → Parlowen folder");
    EXPECT_EQ(announcer.announcements().back().text, "Saved to Apple Notes");
    main.advance(std::chrono::milliseconds(2500));
    settle();
    EXPECT_TRUE(shown("saveButton"));

    // The key is set now: the next save goes straight on, and its failure shows.
    notes.answerNext(platform::NotesScriptOutcome::failed({5, "Input/output error"}));
    child<QPushButton>("saveButton")->click();
    settle();
    EXPECT_FALSE(content().explainer()->isVisible());
    EXPECT_TRUE(shown("saveFailed"));
    EXPECT_EQ(child("saveFailed")->toolTip(), "Notes save failed: Input/output error");
    EXPECT_EQ(announcer.announcements().back().text, "Save to Notes failed: Notes save failed: Input/output error");
}

TEST_F(NotepadViews, ScreenshotsReadInEveryTheme) {
    prefs.cleanUpModel.set(CleanUpModel::sonnet46);
    showNotepad();
    say("hello from the Notepad, where spoken words and typing mix freely");
    for (int i = 0; i < 30; ++i) microphone->deliver([&] {
            platform::PcmBuffer b(microphone->inputFormat(), 1024);
            for (std::uint32_t f = 0; f < 1024; ++f) b.setSample(0, f, 0.02f * static_cast<float>((i * 7) % 10));
            b.setFrameLength(1024);
            return b;
        }());
    main.advance(std::chrono::milliseconds(100));
    settle();
    for (const Theme theme : allCases<Theme>()) {
        const std::string name(rawValue(theme));
        SCOPED_TRACE(name);
        prefs.selectedTheme.set(theme);
        settle();
        platform::ui::testing::expectScreenshot(
            hud->window(), kShots / ("notepad-" + name + ".png"),
            {"mascot", "status/statusWord", "micSelector", "recordButton", "meter", "editor", "tonesSegment",
             "agentsSegment", "rewriteHint", "modelMenu", "tone:email", "copyButton", "saveButton", "doneButton"});
    }
    // The empty, paused Notepad with its placeholder, and the explainer.
    notepad->stopRecording();
    notepad->setDisplayedText("");
    settle();
    platform::ui::testing::expectScreenshot(hud->window(), kShots / "notepad-empty.png",
                                            {"placeholder/placeholderText", "statusWord"});
    content().saveToNotes();
    settle();
    platform::ui::testing::expectScreenshot(content().explainer(), kShots / "notepad-explainer.png",
                                            {"allowButton", "notNowButton", "title"});
}

}  // namespace
}  // namespace parlowen
