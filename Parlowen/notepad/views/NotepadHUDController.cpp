#include "Parlowen/notepad/views/NotepadHUDController.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

#include "platform/ui/Announcer.h"

namespace parlowen {

// Closing (its close button, the window manager, Done) hides the window and
// tells the controller once per closing.
class NotepadHUDController::Window : public QWidget {
public:
    explicit Window(std::function<void()> willClose) : willClose_(std::move(willClose)) {}

protected:
    void closeEvent(QCloseEvent* event) override {
        if (isVisible()) willClose_();
        event->accept();
    }

private:
    std::function<void()> willClose_;
};

NotepadHUDController::NotepadHUDController(NotepadCoordinator& coordinator, PreferencesStore& preferences,
                                           NotepadContent::Services services, VisibleFrame visibleFrame)
    : coordinator_(coordinator), announcer_(services.announcer), visibleFrame_(std::move(visibleFrame)) {
    auto window = std::make_unique<Window>([this] { coordinator_.close(); });
    window->setObjectName(QStringLiteral("notepadWindow"));
    // Above the windows of every application; a standard, resizable window.
    window->setWindowFlags(Qt::Window | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint);
    window->setWindowTitle(QStringLiteral("Quon Notepad"));
    window->setAccessibleName(QStringLiteral("Quon Notepad"));
    window->resize(620, 480);
    auto* layout = new QVBoxLayout(window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    QWidget* raw = window.get();
    content_ = new NotepadContent(coordinator, preferences, std::move(services), [raw] { raw->close(); });
    layout->addWidget(content_);
    window_ = std::move(window);
}

NotepadHUDController::~NotepadHUDController() = default;

std::optional<QRect> NotepadHUDController::primaryScreenFrame() {
    if (QScreen* screen = QGuiApplication::primaryScreen()) return screen->availableGeometry();
    return std::nullopt;
}

QPoint NotepadHUDController::origin(const QRect& frame, QSize size) {
    const double centreX = frame.x() + frame.width() / 2.0;
    const double centreY = frame.y() + frame.height() / 2.0;
    // Top-left coordinates: the bottom edge sits 40 points above the middle.
    return {static_cast<int>(std::lround(centreX - size.width() / 2.0)),
            static_cast<int>(std::lround(centreY - 40 - size.height()))};
}

void NotepadHUDController::show() {
    window_->show();
    // Placed once shown, when the frame around the content is known.
    if (auto frame = visibleFrame_ ? visibleFrame_() : std::nullopt)
        window_->move(origin(*frame, window_->frameGeometry().size()));
    window_->raise();
    window_->activateWindow();
    announcer_.announce("Quon Notepad open. Start speaking or typing.", platform::ui::AnnouncementPriority::high);
    logger_.info("notepad HUD show");
}

}  // namespace parlowen
