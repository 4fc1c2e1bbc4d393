#pragma once

// The local key monitor on Qt: an application event filter that takes the
// key events of one window (whichever of its widgets has the focus), turns
// them into stored key codes and flags, and consumes them. Modifier presses
// and releases become flags-changed events carrying the held keys' side
// bits; Caps Lock adds its bit while locked. There is no Function key here,
// so the Function bit is never set.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/keyevents/LocalKeyMonitor.h"

class QWidget;

namespace platform {

// The macOS key code of an X key: its key code (nativeScanCode) and the
// keysym Qt reports for the event (nativeVirtualKey).
using KeyTranslator = std::function<std::optional<std::uint16_t>(std::uint32_t x11KeyCode, std::uint32_t keysym)>;

// Through the key table of the X display `displayName`: the key code's
// unshifted keysym (as the global tap reads it, so ⇧4 is the 4 key), else
// the event's keysym. An empty or unreachable display: the keysym only.
KeyTranslator x11KeyTranslator(const std::string& displayName);
// The same for the display the application runs on (keysyms only when it
// runs elsewhere, such as offscreen).
KeyTranslator applicationKeyTranslator();

class QtLocalKeyMonitor final : public LocalKeyMonitor {
public:
    QtLocalKeyMonitor(QWidget* window, LocalKeyHandler handler, KeyTranslator translate);
    // Removes the filter; safe inside the handler (the filter goes later).
    ~QtLocalKeyMonitor() override;

private:
    class Filter;
    Filter* filter_;
};

// Installs a monitor on the window `widget` is in at the moment of installing.
LocalKeyMonitorFactory qtLocalKeyMonitorFactory(QWidget* widget, KeyTranslator translate = {});

}  // namespace platform
