#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QWidget>

#include "Parlowen/dictation/LivePartialHUDModel.h"
#include "platform/runtime/Observable.h"
#include "platform/ui/Color.h"

class QLabel;
class QScrollArea;
class QToolButton;

namespace platform::ui {
class ReduceMotion;
}

namespace parlowen {

class MicSelectorButton;
class PreferencesStore;
class WaveformBarView;

// The countdown chip: the timer symbol and "42s" on a rounded background
// whose colours follow the seconds left. Children: "symbol", "text".
class CountdownChip : public QWidget {
public:
    explicit CountdownChip(QWidget* parent = nullptr);
    void setState(int seconds, const platform::ui::Color& accent);
    const CountdownChipColors& colors() const { return colors_; }
    QLabel* textLabel() const { return text_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void restyle();
    int seconds_ = 0;
    platform::ui::Color accent_;
    CountdownChipColors colors_;
    QLabel* symbol_;
    QLabel* text_;
};

// What the live-transcript panel shows, on the dark card: the listening
// mascot beside a column of the header (title, microphone picker, countdown,
// character count), the level meter (not while Reduce Motion is on), the
// throttle notice and the transcript, newest text in view. It follows the
// model and the selected theme's accent; it leaves only through the two
// callbacks. Dragging its background moves the window; the close button in
// its top-left corner runs `onClose`.
//
// Children: "mascot", "closeButton", "title", "micSelector", "countdown",
// "characterCount", "meter", "notice" (with "noticeSymbol", "noticeText"),
// "transcript" (with "transcriptText").
class LivePartialHUDContent : public QWidget {
public:
    using SelectionCallback = LivePartialHUDModel::SelectionCallback;

    LivePartialHUDContent(LivePartialHUDModel& model, PreferencesStore& preferences,
                          SelectionCallback onSelectInputDevice, platform::ui::ReduceMotion& reduceMotion,
                          std::function<void()> onClose, QWidget* parent = nullptr);
    ~LivePartialHUDContent() override;

    platform::ui::Color accent() const { return accent_; }
    MicSelectorButton* micSelector() const { return picker_; }
    CountdownChip* countdown() const { return countdown_; }
    WaveformBarView* meter() const { return meter_; }
    QLabel* transcriptLabel() const { return transcript_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // What is on screen; each model field's sink records its new value here
    // (the model stores it only after telling its subscribers).
    struct Shown {
        std::string text;
        std::optional<std::string> notice;
        std::optional<int> remaining;
        std::optional<std::string> deviceUID;
        std::string deviceName;
        bool bluetooth = false;
        std::vector<AudioDeviceCatalog::Device> devices;
    };

    void applyAccent(const platform::ui::Color& accent);
    void showText();
    void showNotice();
    void showCountdown();
    void showPicker();
    void scrollToNewest();

    LivePartialHUDModel& model_;
    SelectionCallback onSelectInputDevice_;
    std::function<void()> onClose_;
    Shown shown_;
    platform::ui::Color accent_;

    QLabel* mascot_;
    QToolButton* close_;
    QLabel* title_;
    MicSelectorButton* picker_;
    CountdownChip* countdown_;
    QLabel* count_;
    WaveformBarView* meter_;
    QWidget* notice_;
    QLabel* noticeSymbol_;
    QLabel* noticeText_;
    QScrollArea* scroll_;
    QLabel* transcript_;

    std::optional<QPoint> dragOffset_;
    platform::SubscriptionSet subscriptions_;
};

}  // namespace parlowen
