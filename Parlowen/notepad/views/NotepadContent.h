#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QAbstractButton>
#include <QDialog>
#include <QWidget>

#include "Parlowen/brand/QuonKind.h"
#include "Parlowen/dictation/AudioDeviceCatalog.h"
#include "Parlowen/model/Tone.h"
#include "Parlowen/notepad/NotepadCoordinator.h"
#include "platform/runtime/Observable.h"
#include "platform/ui/Palette.h"

class QLabel;
class QPlainTextEdit;
class QHBoxLayout;
class QToolButton;
class QMenu;

namespace platform {
class UserDefaults;
}
namespace platform::ui {
class AlertPresenter;
class Announcer;
class PushButton;
class ReduceMotion;
}  // namespace platform::ui

namespace parlowen {

class MicSelectorButton;
class WaveformBarView;

// One chip of the rewrite bar: a tone or an agent, its symbol and name on a
// capsule whose fill and border follow hover and suggestion. Disabled chips
// are drawn dimmed and take no clicks. Object name: "tone:<id>" or "agent:<id>".
class RewriteChip : public QAbstractButton {
public:
    RewriteChip(const Tone& tone, bool isSuggested, platform::ui::Color accent, QWidget* parent = nullptr);
    RewriteChip(const AgentCommand& agent, platform::ui::Color accent, QWidget* parent = nullptr);

    bool isTone() const { return isTone_; }
    bool isSuggested() const { return suggested_; }
    bool isHovered() const { return hovered_; }
    // The symbol drawn: the item's own, else "tag" (tone) or "wand.and.stars" (agent).
    const std::string& symbolName() const { return symbol_; }
    struct Look {
        platform::ui::Color fill, border;
        double borderWidth = 1;
    };
    Look look() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    bool isTone_;
    bool suggested_ = false;
    bool hovered_ = false;
    std::string symbol_;
    platform::ui::Color accent_;
};

// The one-time explanation before the first save to notes. Return allows
// (and saves), Escape declines. Children: "allowButton", "notNowButton".
class TCCExplainerSheet : public QDialog {
public:
    TCCExplainerSheet(std::function<void()> onAllow, std::function<void()> onCancel, QWidget* parent = nullptr);
    // Draws the symbols in `tint`.
    void setTint(const platform::ui::Color& tint);

private:
    std::vector<std::pair<QLabel*, int>> symbols_;  // label, side
};

// The Notepad window's root view: header (mascot, status, polishing
// indicator, microphone selector, record button), the level meter while
// recording, the writing surface with its placeholder, the rewrite bar
// (tones or agents, model menu) and the footer (Copy, the save area, Done).
// It holds no text of its own: the editor writes into the coordinator.
//
// Children: "mascot", "status" ("statusDot", "statusWord", "statusTitle"),
// "polishing", "micSelector", "recordButton", "meter", "editor",
// "placeholder", "tonesSegment", "agentsSegment", "rewriteHint", "modelMenu",
// "chips" (with the chips), "copyButton", "saveButton", "saving", "saved",
// "saveFailed", "doneButton".
class NotepadContent : public QWidget {
public:
    enum class RewriteKind { tone, agent };

    struct Services {
        AudioDeviceCatalog& audioCatalog;
        platform::ui::ReduceMotion& reduceMotion;
        platform::ui::Announcer& announcer;
        platform::ui::AlertPresenter& alerts;
        platform::UserDefaults& defaults;  // where the notes exporter records the explainer
        platform::Executor& main;
        // Whether the on-device model can be chosen.
        std::function<bool()> isOnDeviceModelAvailable;
    };

    NotepadContent(NotepadCoordinator& coordinator, PreferencesStore& preferences, Services services,
                   std::function<void()> onDone, QWidget* parent = nullptr);
    ~NotepadContent() override;

    static QuonKind headerPose(bool isPolishing, bool isRecording);

    RewriteKind rewriteKind() const { return rewriteKind_; }
    void setRewriteKind(RewriteKind kind);
    std::vector<RewriteChip*> chips() const;
    QPlainTextEdit* editor() const { return editor_; }
    MicSelectorButton* micSelector() const { return mic_; }
    WaveformBarView* meter() const { return meter_; }
    QMenu* modelMenu() const { return modelMenu_; }
    TCCExplainerSheet* explainer() const { return explainer_; }
    // The "Save to Notes" button's action.
    void saveToNotes();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Shown {
        bool recording = false;
        bool polishing = false;
        std::string text;
        SaveState save;
        std::optional<std::string> suggestedTone;
        std::optional<std::string> preferredUID;
        std::optional<std::string> systemDefaultUID;
        std::vector<AudioDeviceCatalog::Device> devices;
        std::vector<Tone> customTones;
        CleanUpModel model = CleanUpModel::sonnet46;
        bool reduceMotion = false;
        platform::ui::Palette palette;
    };

    QWidget* buildHeader();
    QWidget* buildWritingArea();
    QWidget* buildRewriteBar();
    QWidget* buildFooter();
    void applyTheme();
    void showRecording();
    void showPolishing();
    void showText(const std::string& text);
    void showSaveState();
    void showMicSelector();
    void showChips();
    void enableChips();
    void showModelMenu();
    void showMeter();
    void chooseModel(CleanUpModel model);
    void startSave();
    platform::ui::Color accent() const;

    NotepadCoordinator& coordinator_;
    PreferencesStore& preferences_;
    Services services_;
    std::function<void()> onDone_;
    RewriteKind rewriteKind_ = RewriteKind::tone;
    Shown shown_;
    bool applyingText_ = false;

    QLabel* mascot_ = nullptr;
    QWidget* status_ = nullptr;
    QLabel* statusDot_ = nullptr;
    QLabel* statusWord_ = nullptr;
    QLabel* statusTitle_ = nullptr;
    QWidget* polishing_ = nullptr;
    QLabel* polishingText_ = nullptr;
    MicSelectorButton* mic_ = nullptr;
    QToolButton* record_ = nullptr;
    QWidget* meterRow_ = nullptr;
    WaveformBarView* meter_ = nullptr;
    QWidget* writingArea_ = nullptr;
    QPlainTextEdit* editor_ = nullptr;
    QWidget* placeholder_ = nullptr;
    QLabel* placeholderMascot_ = nullptr;
    platform::ui::PushButton* tones_ = nullptr;
    platform::ui::PushButton* agents_ = nullptr;
    QLabel* hint_ = nullptr;
    QToolButton* modelButton_ = nullptr;
    QMenu* modelMenu_ = nullptr;
    QWidget* chipRow_ = nullptr;
    QHBoxLayout* chipLayout_ = nullptr;
    platform::ui::PushButton* copy_ = nullptr;
    platform::ui::PushButton* save_ = nullptr;
    QWidget* saving_ = nullptr;
    QWidget* saved_ = nullptr;
    QWidget* failed_ = nullptr;
    QLabel* failedText_ = nullptr;
    platform::ui::PushButton* done_ = nullptr;
    TCCExplainerSheet* explainer_ = nullptr;
    std::vector<QWidget*> dividers_;
    platform::SubscriptionSet subscriptions_;
};

std::string_view rawValue(NotepadContent::RewriteKind kind);
std::optional<NotepadContent::RewriteKind> rewriteKindFromRawValue(std::string_view raw);

}  // namespace parlowen
