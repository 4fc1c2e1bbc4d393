#include "platform/statusitem/QtStatusItem.h"

#include <cmath>
#include <map>

#include <QAction>
#include <QCursor>
#include <QGuiApplication>
#include <QIcon>
#include <QKeySequence>
#include <QMenu>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>

#include "platform/statusitem/StatusIconArt.h"

namespace platform {

namespace {
constexpr int kIconSize = 22;      // device-independent pixels
constexpr int kAlphaSteps = 64;    // faded frames are kept per 1/64 of alpha
}  // namespace

struct QtStatusItem::Impl {
    std::unique_ptr<QMenu> menu = std::make_unique<QMenu>();
    std::unique_ptr<QSystemTrayIcon> tray = std::make_unique<QSystemTrayIcon>();
    std::function<void()> onMenuWillOpen;
    std::function<void(const StatusMenuItem&)> onAction;
    std::map<std::string, StatusMenuItem> items;  // by id, for the chosen action
    bool visible = true;
    StatusIcon icon;
    bool hasIcon = false;
    QImage base;
    std::map<int, QIcon> frames;  // by alpha step, for the current picture
    int shownStep = -1;
    int painted = 0;

    qreal pixelRatio() const {
        auto* screen = QGuiApplication::primaryScreen();
        return screen ? screen->devicePixelRatio() : 1.0;
    }

    void show(int step) {
        if (!hasIcon || step == shownStep) return;
        auto it = frames.find(step);
        if (it == frames.end()) {
            const bool full = step == kAlphaSteps;
            QImage image = full ? base : fadedStatusIcon(base, double(step) / kAlphaSteps);
            if (!full) ++painted;
            QPixmap pixmap = QPixmap::fromImage(image);
            pixmap.setDevicePixelRatio(pixelRatio());
            it = frames.emplace(step, QIcon(pixmap)).first;
        }
        tray->setIcon(it->second);
        shownStep = step;
    }

    void fill(QMenu& target, const StatusMenu& model) {
        for (const StatusMenuItem& entry : model) {
            if (entry.kind == StatusMenuItem::Kind::separator) {
                QAction* s = target.addSeparator();
                s->setObjectName(QString::fromStdString(entry.id));
                s->setVisible(!entry.hidden);
                continue;
            }
            QAction* action = nullptr;
            if (entry.hasSubmenu) {
                auto* sub = new QMenu(QString::fromStdString(entry.submenuTitle), &target);
                sub->setObjectName(QString::fromStdString(entry.id + ".submenu"));
                fill(*sub, entry.submenu);
                action = sub->menuAction();
                action->setText(QString::fromStdString(entry.title));
                target.addAction(action);
            } else {
                action = target.addAction(QString::fromStdString(entry.title));
            }
            action->setObjectName(QString::fromStdString(entry.id));
            action->setVisible(!entry.hidden);
            action->setEnabled(entry.enabled);
            if (entry.checked) {
                action->setCheckable(true);
                action->setChecked(true);
            }
            if (!entry.keyEquivalent.empty()) {
                action->setShortcut(QKeySequence(QString::fromStdString("Ctrl+" + entry.keyEquivalent)));
                action->setShortcutVisibleInContextMenu(true);
            }
            if (!entry.action.empty() && !entry.hasSubmenu) {
                items[entry.id] = entry;
                const std::string id = entry.id;
                // Dispatched from the event loop: the handler may rebuild the
                // menu, which deletes the action that is still emitting.
                QObject::connect(action, &QAction::triggered, menu.get(), [this, id] {
                    QMetaObject::invokeMethod(
                        menu.get(),
                        [this, id] {
                            auto it = items.find(id);
                            if (it != items.end() && onAction) {
                                const StatusMenuItem chosen = it->second;
                                onAction(chosen);
                            }
                        },
                        Qt::QueuedConnection);
                });
            }
        }
    }
};

QtStatusItem::QtStatusItem() : impl_(std::make_unique<Impl>()) {
    auto* impl = impl_.get();
    impl->menu->setObjectName("statusMenu");
    impl->tray->setContextMenu(impl->menu.get());
    QObject::connect(impl->menu.get(), &QMenu::aboutToShow, impl->menu.get(), [impl] {
        if (impl->onMenuWillOpen) impl->onMenuWillOpen();
    });
    // A left click opens the same menu as a right click.
    QObject::connect(impl->tray.get(), &QSystemTrayIcon::activated, impl->menu.get(),
                     [impl](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Trigger && !impl->menu->isVisible())
                             impl->menu->popup(QCursor::pos());
                     });
}

QtStatusItem::~QtStatusItem() {
    impl_->tray->hide();
    impl_->tray->setContextMenu(nullptr);
}

bool QtStatusItem::isAvailable() const { return QSystemTrayIcon::isSystemTrayAvailable(); }

void QtStatusItem::setVisible(bool visible) {
    impl_->visible = visible;
    impl_->tray->setVisible(visible && isAvailable());
}

bool QtStatusItem::isVisible() const { return impl_->tray->isVisible(); }

void QtStatusItem::setIcon(const StatusIcon& icon) {
    if (impl_->hasIcon && icon == impl_->icon) {
        impl_->show(kAlphaSteps);
        return;
    }
    impl_->icon = icon;
    impl_->hasIcon = true;
    const qreal ratio = impl_->pixelRatio();
    const int pixels = static_cast<int>(std::lround(kIconSize * ratio));
    impl_->base = drawStatusIcon(icon, QSize(pixels, pixels), StatusIconColors::fromApplicationPalette());
    ++impl_->painted;
    impl_->frames.clear();
    impl_->shownStep = -1;
    impl_->show(kAlphaSteps);
    impl_->tray->setToolTip(QString::fromStdString(icon.accessibilityDescription));
}

void QtStatusItem::setAlpha(double alpha) {
    const int step = static_cast<int>(std::lround(std::clamp(alpha, 0.0, 1.0) * kAlphaSteps));
    impl_->show(step);
}

void QtStatusItem::setMenu(const StatusMenu& menu) {
    QMenu& top = *impl_->menu;
    // Submenus are the menu's children; the old ones go with their actions.
    for (QMenu* sub : top.findChildren<QMenu*>(QString(), Qt::FindDirectChildrenOnly)) sub->deleteLater();
    top.clear();
    impl_->items.clear();
    impl_->fill(top, menu);
}

void QtStatusItem::setOnMenuWillOpen(std::function<void()> handler) { impl_->onMenuWillOpen = std::move(handler); }

void QtStatusItem::setOnAction(std::function<void(const StatusMenuItem&)> handler) {
    impl_->onAction = std::move(handler);
}

QSystemTrayIcon* QtStatusItem::trayIcon() const { return impl_->tray.get(); }
QMenu* QtStatusItem::menu() const { return impl_->menu.get(); }
int QtStatusItem::paintedFrames() const { return impl_->painted; }

}  // namespace platform
