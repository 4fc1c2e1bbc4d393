#include "Parlowen/dictation/views/LivePartialHUDPanel.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QVBoxLayout>

#include "Parlowen/dictation/views/LivePartialHUDContent.h"
#include "Parlowen/shell/views/NoSelectionToast.h"
#include "platform/ui/FloatingPanel.h"

namespace parlowen {

// A close request from the window manager takes the close button's path.
class LivePartialHUDWindow::CloseFilter : public QObject {
public:
    explicit CloseFilter(LivePartialHUDWindow& owner) : owner_(owner) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Close && watched == &owner_.panel()) {
            event->ignore();
            owner_.close();
            return true;
        }
        return false;
    }

private:
    LivePartialHUDWindow& owner_;
};

LivePartialHUDWindow::LivePartialHUDWindow(LivePartialHUD& hud, LivePartialHUD::SelectionCallback onSelectInputDevice,
                                           platform::ui::ReduceMotion& reduceMotion)
    : hud_(hud), panel_(std::make_unique<platform::ui::FloatingPanel>()) {
    panel_->setObjectName(QStringLiteral("livePartialHUD"));
    panel_->setWindowTitle(QStringLiteral("Parlowen"));
    panel_->setContentSize({static_cast<int>(LivePartialHUD::kWidth), static_cast<int>(LivePartialHUD::kHeight)});
    // The content fits itself into the panel, never the other way round.
    panel_->setFixedSize(panel_->size());
    auto* box = new QVBoxLayout(panel_.get());
    box->setContentsMargins(0, 0, 0, 0);
    content_ = new LivePartialHUDContent(hud.model(), hud.preferences(), std::move(onSelectInputDevice), reduceMotion,
                                         [this] { close(); });
    box->addWidget(content_);
    closeFilter_ = new CloseFilter(*this);
    panel_->installEventFilter(closeFilter_);
}

LivePartialHUDWindow::~LivePartialHUDWindow() {
    panel_->removeEventFilter(closeFilter_);
    delete closeFilter_;
}

void LivePartialHUDWindow::close() {
    if (hud_.windowShouldClose()) orderOut();
}

double LivePartialHUDWindow::width() const { return panel_->width(); }
double LivePartialHUDWindow::height() const { return panel_->height(); }

void LivePartialHUDWindow::setTopLeft(platform::ui::Point topLeft) {
    panel_->move(static_cast<int>(std::lround(topLeft.x)), static_cast<int>(std::lround(topLeft.y)));
}

void LivePartialHUDWindow::orderFrontRegardless() { panel_->orderFrontRegardless(); }
void LivePartialHUDWindow::orderOut() { panel_->orderOut(); }
bool LivePartialHUDWindow::isVisible() const { return panel_->isOnScreen(); }
bool LivePartialHUDWindow::isKeyWindow() const { return panel_->isActiveWindow(); }

bool LivePartialHUDWindow::applicationIsActive() const {
    return QGuiApplication::applicationState() == Qt::ApplicationActive;
}

std::optional<platform::ui::Rect> LivePartialHUDWindow::mainScreenVisibleFrame() const {
    static const NoSelectionToast::VisibleFrame frame = NoSelectionToast::primaryScreenVisibleFrame();
    return frame();
}

LivePartialHUD::PanelFactory qtLivePartialHUDPanel(platform::ui::ReduceMotion& reduceMotion) {
    return [&reduceMotion](LivePartialHUD& hud, LivePartialHUD::SelectionCallback onSelect) {
        return std::make_unique<LivePartialHUDWindow>(hud, std::move(onSelect), reduceMotion);
    };
}

LivePartialHUDWindow& qtWindowOf(LivePartialHUD& hud) { return dynamic_cast<LivePartialHUDWindow&>(hud.panel()); }

}  // namespace parlowen
