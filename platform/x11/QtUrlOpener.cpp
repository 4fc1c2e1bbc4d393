#include "platform/x11/QtUrlOpener.h"

#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QUrl>

#include "platform/log/Log.h"

namespace platform {

namespace {
constexpr std::string_view kSettingsScheme = "x-apple.systempreferences:";

const Logger& workspaceLog() {
    static const Logger log("com.kelvatrum.Parlowen", "workspace");
    return log;
}
}  // namespace

std::optional<std::string> settingsPanelForURL(const std::string& url) {
    if (!url.starts_with(kSettingsScheme)) return std::nullopt;
    std::string_view rest = std::string_view(url).substr(kSettingsScheme.size());
    struct Mapping {
        std::string_view pane;
        const char* panel;
    };
    // Panes without a desktop counterpart (speech recognition, login items) are absent.
    static constexpr Mapping kPanels[] = {
        {"com.apple.preference.security?Privacy_Microphone", "microphone"},
        {"com.apple.preference.security?Privacy_Accessibility", "universal-access"},
        {"com.apple.preference.security?Privacy_ListenEvent", "keyboard"},
        {"com.apple.preference.keyboard", "keyboard"},
    };
    for (const auto& m : kPanels)
        if (rest.starts_with(m.pane)) return std::string(m.panel);
    return std::nullopt;
}

bool openURLOnDesktop(const std::string& url) {
    if (url.starts_with(kSettingsScheme)) {
        auto panel = settingsPanelForURL(url);
        QString program = QStandardPaths::findExecutable("gnome-control-center");
        if (!panel || program.isEmpty()) {
            workspaceLog().info("openURL: no desktop settings panel for {}", url);
            return false;
        }
        return QProcess::startDetached(program, {QString::fromStdString(*panel)});
    }
    QUrl qurl(QString::fromStdString(url), QUrl::StrictMode);
    if (!qurl.isValid()) {
        workspaceLog().error("openURL: not a URL: {}", url);
        return false;
    }
    bool opened = QDesktopServices::openUrl(qurl);
    if (!opened) workspaceLog().error("openURL: the desktop did not open {}", url);
    return opened;
}

}  // namespace platform
