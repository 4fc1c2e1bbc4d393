#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QRect>
#include <QWidget>

#include "Parlowen/notepad/views/NotepadContent.h"
#include "platform/log/Log.h"

namespace parlowen {

// The Notepad's one window: 620 × 480, "Quon Notepad", kept above other
// windows, hosting `NotepadContent`. It is hidden, not destroyed, when it
// closes, and closing it closes the coordinator. `show` centres it 40
// points above the middle of the primary screen's available area, raises
// and activates it, and announces it.
class NotepadHUDController {
public:
    // The area to centre in (the primary screen's available geometry), none without a screen.
    using VisibleFrame = std::function<std::optional<QRect>()>;

    NotepadHUDController(NotepadCoordinator& coordinator, PreferencesStore& preferences,
                         NotepadContent::Services services, VisibleFrame visibleFrame = primaryScreenFrame);
    ~NotepadHUDController();

    void show();
    QWidget* window() const { return window_.get(); }
    NotepadContent* content() const { return content_; }

    static std::optional<QRect> primaryScreenFrame();
    // Where the window's frame goes: centred horizontally, its bottom edge 40 points above the middle.
    static QPoint origin(const QRect& visibleFrame, QSize frameSize);

private:
    class Window;
    NotepadCoordinator& coordinator_;
    platform::ui::Announcer& announcer_;
    VisibleFrame visibleFrame_;
    std::unique_ptr<QWidget> window_;
    NotepadContent* content_ = nullptr;
    platform::Logger logger_{"com.kelvatrum.Parlowen", "notepad-hud"};
};

}  // namespace parlowen
