#include "platform/keyevents/QtLocalKeyMonitor.h"

#include <set>

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QWidget>
#include <QWindow>

#include "platform/x11/X11Connection.h"
#include "platform/x11/X11Keys.h"

namespace platform {

namespace {

constexpr std::uint16_t kCapsLockKey = 0x39;
constexpr std::uint32_t kX11LockMask = 0x2;  // LockMask of the X state

// The name of the X display the application runs on; empty elsewhere.
// Defined at the end, where Xlib may be included.
std::string applicationDisplayName();

}  // namespace

KeyTranslator x11KeyTranslator(const std::string& displayName) {
    std::shared_ptr<X11KeyTable> table;
    if (!displayName.empty())
        if (auto connection = X11Connection::forThisThread(displayName))
            table = std::make_shared<X11KeyTable>(**connection);
    return [table](std::uint32_t keycode, std::uint32_t keysym) -> std::optional<std::uint16_t> {
        if (table && keycode > 0 && keycode < 256)
            if (auto code = table->macKeyCodeForKeycode(static_cast<std::uint8_t>(keycode))) return code;
        if (keysym == 0) return std::nullopt;
        return macKeyCodeForKeysym(keysym);
    };
}

KeyTranslator applicationKeyTranslator() { return x11KeyTranslator(applicationDisplayName()); }

class QtLocalKeyMonitor::Filter : public QObject {
public:
    Filter(QWidget* window, LocalKeyHandler handler, KeyTranslator translate)
        : window_(window), handler_(std::move(handler)), translate_(std::move(translate)) {}

    void disarm() { armed_ = false; }

protected:
    bool eventFilter(QObject* receiver, QEvent* event) override {
        if (!armed_ || !window_) return false;
        const auto type = event->type();
        if (type == QEvent::WindowDeactivate && receiver == window_) {
            // Releases made elsewhere are never seen: start again from all-up.
            held_.clear();
            return false;
        }
        if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::ShortcutOverride) return false;
        if (!ours(receiver)) return false;
        if (type == QEvent::ShortcutOverride) {
            // The focused control claims the key, so no shortcut or default action runs.
            event->accept();
            return true;
        }
        translate(static_cast<QKeyEvent*>(event));
        return true;
    }

private:
    bool ours(QObject* receiver) const {
        if (auto* widget = qobject_cast<QWidget*>(receiver)) return widget->window() == window_;
        if (auto* window = qobject_cast<QWindow*>(receiver)) return window == window_->windowHandle();
        return false;
    }

    std::uint64_t flags() const {
        std::uint64_t out = capsLocked_ ? KeyEventFlag::capsLock : 0;
        for (auto code : held_) out |= modifierKeyFlags(code);
        return out;
    }

    void translate(QKeyEvent* key) {
        const bool press = key->type() == QEvent::KeyPress;
        auto code = translate_ ? translate_(key->nativeScanCode(), key->nativeVirtualKey()) : std::nullopt;
        if (!code) return;
        capsLocked_ = (key->nativeModifiers() & kX11LockMask) != 0;  // the state before the event
        if (*code == kCapsLockKey || modifierKeyFlags(*code) != 0) {
            if (key->isAutoRepeat()) return;  // a held modifier's repeats change nothing
            if (*code == kCapsLockKey) {
                if (press) capsLocked_ = !capsLocked_;
            } else if (press) {
                held_.insert(*code);
            } else {
                held_.erase(*code);
            }
            deliver({KeyEventType::flagsChanged, *code, flags(), false});
            return;
        }
        if (!press) return;
        // Modifiers held since before the monitor came still count.
        std::uint64_t f = flags();
        const auto mods = key->modifiers();
        if (mods & Qt::ShiftModifier) f |= KeyEventFlag::shift;
        if (mods & Qt::ControlModifier) f |= KeyEventFlag::control;
        if (mods & Qt::AltModifier) f |= KeyEventFlag::option;
        if (mods & Qt::MetaModifier) f |= KeyEventFlag::command;
        deliver({KeyEventType::keyDown, *code, f, key->isAutoRepeat()});
    }

    void deliver(const KeyEvent& event) {
        // A copy: the handler may remove the monitor (and disarm this filter).
        auto handler = handler_;
        if (handler) handler(event);
    }

    QPointer<QWidget> window_;
    LocalKeyHandler handler_;
    KeyTranslator translate_;
    bool armed_ = true;
    bool capsLocked_ = false;
    std::set<std::uint16_t> held_;
};

QtLocalKeyMonitor::QtLocalKeyMonitor(QWidget* window, LocalKeyHandler handler, KeyTranslator translate)
    : filter_(new Filter(window, std::move(handler), std::move(translate))) {
    qApp->installEventFilter(filter_);
}

QtLocalKeyMonitor::~QtLocalKeyMonitor() {
    filter_->disarm();
    if (qApp) qApp->removeEventFilter(filter_);
    filter_->deleteLater();
}

LocalKeyMonitorFactory qtLocalKeyMonitorFactory(QWidget* widget, KeyTranslator translate) {
    QPointer<QWidget> target(widget);
    return [target, translate](LocalKeyHandler handler) -> std::unique_ptr<LocalKeyMonitor> {
        if (!target || !qApp) return nullptr;
        return std::make_unique<QtLocalKeyMonitor>(target->window(), std::move(handler),
                                                   translate ? translate : applicationKeyTranslator());
    };
}

namespace {
QNativeInterface::QX11Application* x11Application() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
    return qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
}
}  // namespace

}  // namespace platform

// Xlib last: its macros must not reach the code above.
#include <X11/Xlib.h>

namespace platform {
namespace {
std::string applicationDisplayName() {
    auto* x11 = x11Application();
    if (!x11 || !x11->display()) return {};
    const char* name = DisplayString(x11->display());
    return name ? name : "";
}
}  // namespace
}  // namespace platform
