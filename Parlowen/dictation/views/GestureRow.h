#pragma once

// A gesture row of the preferences: what the gesture is for, the recorder
// pill that shows it and records a new one from the keyboard, and a
// collapsed manual entry for keystrokes that cannot be recorded. Thin
// widgets over GestureFieldModel and ManualGestureEntryModel.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QAbstractButton>
#include <QWidget>

#include "Parlowen/dictation/GestureRecorder.h"
#include "platform/keyevents/LocalKeyMonitor.h"
#include "platform/ui/Property.h"

class QCheckBox;
class QLabel;
class QToolButton;
class QVBoxLayout;

namespace platform::ui {
class Card;
class MenuPicker;
class PushButton;
}  // namespace platform::ui

namespace parlowen {

class HotkeyManager;

// The pill. Children: "idlePill" (with "gestureName" and "pencil"),
// "recordingPill" (with "prompt" and "cancelRecording"), "error".
class GestureField : public QWidget {
public:
    // `monitors` installs the local key monitor; by default one on this
    // field's window, translated through the display's key table.
    GestureField(platform::ui::Property<Gesture> gesture, std::vector<Gesture> otherGestures, HotkeyManager* hotkey,
                 platform::LocalKeyMonitorFactory monitors = {}, QWidget* parent = nullptr);
    ~GestureField() override;

    GestureFieldModel& model() { return model_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void refresh();
    void recolor();

    GestureFieldModel model_;
    Gesture shown_;
    platform::Subscription gestureSubscription_;
    QAbstractButton* idle_;
    QLabel* name_;
    QLabel* pencil_;
    platform::ui::Card* recording_;
    QLabel* prompt_;
    QAbstractButton* cancel_;
    QLabel* error_;
    bool recordingShown_ = false;
};

// The form. Children: "shortcutStyle" (with "comboMode", "holdMode"),
// "comboSection" ("modifiersHeading", "command", "option", "control",
// "shift", "primaryKey", "comboNote"), "holdSection" ("holdKey",
// "holdNote"), "error", "save".
class ManualGestureEntry : public QWidget {
public:
    using Mode = ManualGestureEntryMode;

    ManualGestureEntry(platform::ui::Property<Gesture> gesture, std::vector<Gesture> otherGestures,
                       QWidget* parent = nullptr);

    ManualGestureEntryModel& model() { return model_; }
    // Shows the model's state in the controls.
    void refresh();

protected:
    // Coming on screen (the disclosure opening) loads the form from the gesture.
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void recolor();
    // A labelled menu picker row in `section`; choosing entry i runs `choose(i)`.
    platform::ui::MenuPicker* addPicker(QVBoxLayout* section, const char* name, const QString& title,
                                        const QString& accessibleName, const std::vector<QString>& labels,
                                        std::function<void(std::size_t)> choose);

    ManualGestureEntryModel model_;
    platform::ui::PushButton* comboMode_;
    platform::ui::PushButton* holdMode_;
    QWidget* comboSection_;
    QWidget* holdSection_;
    QCheckBox* command_;
    QCheckBox* option_;
    QCheckBox* control_;
    QCheckBox* shift_;
    platform::ui::MenuPicker* primaryKey_;
    platform::ui::MenuPicker* holdKey_;
    QLabel* error_;
    platform::ui::PushButton* save_;
    bool refreshing_ = false;
};

// Children: "icon", "title", "subtitle", "gestureField", "manualEntryDisclosure",
// "manualEntry".
class GestureRow : public QWidget {
public:
    static constexpr const char* kDisclosureLabel = "Can't record? Enter shortcut manually";
    static constexpr const char* kDisclosureHint =
        "Expand to pick modifier keys and a primary key using regular form controls instead of recording a live "
        "keystroke.";

    GestureRow(std::string icon, const QString& title, const QString& subtitle, platform::ui::Property<Gesture> gesture,
               std::vector<Gesture> otherGestures, HotkeyManager* hotkey,
               platform::LocalKeyMonitorFactory monitors = {}, QWidget* parent = nullptr);

    GestureField* field() const { return field_; }
    ManualGestureEntry* manualEntry() const { return manualEntry_; }
    bool showManualEntry() const { return showManualEntry_; }
    void setShowManualEntry(bool show);

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::string iconName_;
    QLabel* icon_;
    GestureField* field_;
    QToolButton* disclosure_;
    QWidget* manualContainer_;
    ManualGestureEntry* manualEntry_;
    bool showManualEntry_ = false;
};

}  // namespace parlowen
