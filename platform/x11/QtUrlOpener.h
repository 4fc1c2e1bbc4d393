#pragma once

// Opening URLs on the desktop (Qt's desktop services). Kept apart from the
// X11 workspace so that only programs with a Qt application link Qt here.

#include <optional>
#include <string>

namespace platform {

// The desktop settings panel closest to a System Settings URL
// ("x-apple.systempreferences:..."), as a GNOME Settings panel name; none
// when no panel comes close.
std::optional<std::string> settingsPanelForURL(const std::string& url);

// Opens `url` with the desktop's handler. System Settings URLs open their
// panel in GNOME Settings when it is installed, and are otherwise logged and
// left alone. Needs a QGuiApplication. True when something took the URL.
bool openURLOnDesktop(const std::string& url);

}  // namespace platform
