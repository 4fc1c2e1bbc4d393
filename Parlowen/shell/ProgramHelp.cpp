#include "Parlowen/shell/ProgramHelp.h"

#include <fmt/core.h>

#include "Parlowen/shell/settings/PreferencesStore.h"
#include "platform/defaults/JsonFileUserDefaults.h"

namespace parlowen {
namespace {

// The generic options of QGuiApplication and QApplication.
constexpr platform::PassThroughOption kQtOptions[] = {
    {"platform", true}, {"platformpluginpath", true}, {"platformtheme", true}, {"plugin", true},
    {"qwindowgeometry", true}, {"qwindowicon", true}, {"qwindowtitle", true}, {"session", true},
    {"display", true}, {"style", true}, {"stylesheet", true}, {"reverse", false},
    {"widgetcount", false}, {"nograb", false}, {"dograb", false},
};

}  // namespace

std::span<const platform::PassThroughOption> qtCommandLineOptions() { return kQtOptions; }

std::string linuxKeyNames(const KeyCombo& combo) {
    // Command is Super and Option is Alt on a Linux keyboard; KDE's order.
    std::string out;
    if (combo.modifiers & ModifierFlags::command) out += "Super+";
    if (combo.modifiers & ModifierFlags::control) out += "Ctrl+";
    if (combo.modifiers & ModifierFlags::option) out += "Alt+";
    if (combo.modifiers & ModifierFlags::shift) out += "Shift+";
    return out + KeyCombo::keyName(combo.keyCode);
}

std::string programHelpText(const platform::XdgDirs& dirs) {
    auto gesture = [](std::string_view what, const Gesture& g) {
        const KeyCombo combo = g.keyCombo().value_or(KeyCombo{});
        return fmt::format("  {:<26}{:<18}({})\n", what, linuxKeyNames(combo), combo.displayString());
    };
    const auto settings =
        platform::JsonFileUserDefaults::pathForDomain(dirs, platform::JsonFileUserDefaults::kApplicationDomain);
    const auto data = dirs.dataHome() / "com.kelvatrum.Parlowen";

    std::string text =
        "Usage: Parlowen [--help | --version] [Qt options]\n"
        "\n"
        "Parlowen turns speech into text and text into speech for whatever application\n"
        "you are working in. It runs in the background and has no main window.\n"
        "\n"
        "Gestures (the defaults; each can be changed in the preferences):\n";
    text += gesture("Dictation", PreferencesStore::dictationDefaultGesture());
    text += gesture("Read aloud", PreferencesStore::readAloudDefaultGesture());
    text += gesture("Notepad", PreferencesStore::notepadDefaultGesture());
    text += gesture("Summarise and read aloud", PreferencesStore::summarizeDefaultGesture());
    text += fmt::format(
        "\n"
        "Settings: {}\n"
        "Data:     {}/\n"
        "Log:      the systemd journal (journalctl -t Parlowen); notices and errors\n"
        "          also go to standard error when it is a terminal or when\n"
        "          PARLOWEN_LOG_STDERR=1 is set (scripts/run sets it). Without a\n"
        "          journal the log goes to standard error.\n"
        "Stop:     Ctrl+C in the terminal it runs in, or kill <pid> (SIGTERM); it\n"
        "          saves what is pending before it exits.\n"
        "\n"
        "Options:\n"
        "  -h, --help     show this help and exit\n"
        "      --version  show the version and exit\n"
        "Qt's own options (-platform, -display, -style, ...) are handed on to Qt.\n",
        settings.string(), data.string());
    return text;
}

}  // namespace parlowen
