#include "Parlowen/dictation/views/QuickAddHintPanelController.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

#include "Parlowen/dictation/views/QuickAddHintView.h"
#include "Parlowen/shell/views/ThemePalette.h"
#include "platform/ui/Surfaces.h"

namespace parlowen {

class QuickAddHintPanelController::Panel : public platform::ui::ThemedBackground {
public:
    explicit Panel(QuickAddHintPanelController& owner) : owner_(owner) {
        setObjectName(QStringLiteral("quickAddHintPanel"));
        setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint);
        setWindowTitle(QStringLiteral("Teach Quon a Word"));
    }

protected:
    void closeEvent(QCloseEvent* event) override {
        owner_.windowWillClose();
        platform::ui::ThemedBackground::closeEvent(event);
    }

private:
    QuickAddHintPanelController& owner_;
};

QuickAddHintPanelController::QuickAddHintPanelController(PreferencesStore& preferences,
                                                         std::function<std::vector<std::string>()> recentWordsProvider,
                                                         platform::Executor& mainExecutor)
    : model_(preferences, std::move(recentWordsProvider), mainExecutor), panel_(std::make_unique<Panel>(*this)) {
    auto* layout = new QVBoxLayout(panel_.get());
    layout->setContentsMargins(0, 0, 0, 0);
    view_ = new QuickAddHintView(model_, panel_.get());
    layout->addWidget(view_);
    model_.onDismiss = [this] { close(); };
    // The default theme's palette until the owner has the panel follow the
    // selected theme (followTheme on panel()).
    setThemePalette(panel_.get(), hearthPalette());
}

QuickAddHintPanelController::~QuickAddHintPanelController() = default;

void QuickAddHintPanelController::show() {
    model_.willShow();
    if (!placed_) {
        panel_->resize(panel_->sizeHint());
        if (auto* screen = QGuiApplication::primaryScreen()) {
            QRect frame({}, panel_->size());
            frame.moveCenter(screen->availableGeometry().center());
            panel_->move(frame.topLeft());
        }
        placed_ = true;
    }
    panel_->show();
    panel_->raise();
    panel_->activateWindow();
}

void QuickAddHintPanelController::close() { panel_->close(); }

bool QuickAddHintPanelController::isVisible() const { return panel_->isVisible(); }

QWidget* QuickAddHintPanelController::panel() const { return panel_.get(); }

void QuickAddHintPanelController::windowWillClose() { model_.panelWillClose(); }

}  // namespace parlowen
