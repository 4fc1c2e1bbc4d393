#include "platform/ui/DefaultActions.h"

#include <QAbstractButton>
#include <QEvent>
#include <QKeyEvent>
#include <QWidget>

namespace platform::ui {
namespace {

constexpr const char* kRole = "parlowen.keyAction";
constexpr const char* kFilterName = "parlowen.keyActions";

bool hasRole(const QAbstractButton* button, const char* role) {
    return button && button->property(kRole).toString() == QLatin1String(role);
}

// Sits on a window and sees the keys its controls did not take (Qt hands an
// ignored key event on to the parents, and a window's event filter runs on
// the way).
class KeyActionFilter : public QObject {
public:
    explicit KeyActionFilter(QWidget* window) : QObject(window), window_(window) {
        setObjectName(QLatin1String(kFilterName));
        window->installEventFilter(this);
    }

    std::function<void()> escape;

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != window_ || event->type() != QEvent::KeyPress) return false;
        auto* key = static_cast<QKeyEvent*>(event);
        const auto mods = key->modifiers() & ~Qt::KeypadModifier;
        if (mods != Qt::NoModifier) return false;
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) return press("default");
        if (key->key() == Qt::Key_Escape) {
            if (press("cancel")) return true;
            if (escape) {
                escape();
                return true;
            }
        }
        return false;
    }

private:
    bool press(const char* role) {
        for (auto* button : window_->findChildren<QAbstractButton*>()) {
            if (!hasRole(button, role)) continue;
            if (button->window() != window_ || !button->isVisibleTo(window_)) continue;
            if (!button->isEnabled()) return true;  // the key belongs to it, and it is off
            button->click();
            return true;
        }
        return false;
    }

    QWidget* window_;
};

KeyActionFilter* filterFor(QWidget* window) {
    if (!window) return nullptr;
    if (auto* f = window->findChild<KeyActionFilter*>(QLatin1String(kFilterName), Qt::FindDirectChildrenOnly))
        return f;
    return new KeyActionFilter(window);
}

// Follows a marked button into whatever window it ends up in.
class WindowTracker : public QObject {
public:
    explicit WindowTracker(QAbstractButton* button) : QObject(button), button_(button) {
        setObjectName(QStringLiteral("parlowen.keyActionTracker"));
        button->installEventFilter(this);
        filterFor(button->window());
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == button_ && (event->type() == QEvent::Show || event->type() == QEvent::ParentChange))
            filterFor(button_->window());
        return false;
    }

private:
    QAbstractButton* button_;
};

void mark(QAbstractButton* button, const char* role, bool on) {
    if (!button) return;
    if (!on) {
        if (hasRole(button, role)) button->setProperty(kRole, QVariant());
        return;
    }
    button->setProperty(kRole, QString::fromLatin1(role));
    if (!button->findChild<WindowTracker*>(QString(), Qt::FindDirectChildrenOnly)) new WindowTracker(button);
}

}  // namespace

void setDefaultAction(QAbstractButton* button, bool on) { mark(button, "default", on); }
void setCancelAction(QAbstractButton* button, bool on) { mark(button, "cancel", on); }

bool isDefaultAction(const QAbstractButton* button) { return hasRole(button, "default"); }

void setEscapeHandler(QWidget* window, std::function<void()> action) {
    if (auto* f = filterFor(window)) f->escape = std::move(action);
}

}  // namespace platform::ui
