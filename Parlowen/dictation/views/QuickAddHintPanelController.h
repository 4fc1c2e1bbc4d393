#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Parlowen/dictation/QuickAddHint.h"

class QWidget;

namespace platform {
class Executor;
}

namespace parlowen {

class PreferencesStore;
class QuickAddHintView;

// Owns the quick-add panel: a small window that stays above others and takes
// the keyboard (the user types into it), with the panel's content on the
// themed background in the hearth palette until its owner makes it follow
// the selected theme, and the model the content shows. Closing the panel (its
// Cancel button, Escape, the model's dismissal after a confirmation, or the
// window manager) clears the entry and the confirmation. Main thread only.
class QuickAddHintPanelController {
public:
    QuickAddHintPanelController(PreferencesStore& preferences,
                                std::function<std::vector<std::string>()> recentWordsProvider,
                                platform::Executor& mainExecutor);
    ~QuickAddHintPanelController();
    QuickAddHintPanelController(const QuickAddHintPanelController&) = delete;
    QuickAddHintPanelController& operator=(const QuickAddHintPanelController&) = delete;

    // Offers the latest quick-pick words, shows the panel (centred on the
    // screen the first time) and puts the keyboard focus in its entry field.
    void show();
    void close();
    bool isVisible() const;

    // The panel's window, e.g. to follow the selected theme.
    QWidget* panel() const;
    QuickAddHintView* hostingController() const { return view_; }
    QuickAddHintModel& model() { return model_; }

    // The panel is closing: the entry and the confirmation are cleared.
    void windowWillClose();

private:
    class Panel;

    QuickAddHintModel model_;  // outlives the view that shows it
    std::unique_ptr<Panel> panel_;
    QuickAddHintView* view_;
    bool placed_ = false;
};

}  // namespace parlowen
