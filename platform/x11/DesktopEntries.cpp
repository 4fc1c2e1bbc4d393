#include "platform/x11/DesktopEntries.h"

#include <algorithm>
#include <fstream>
#include <set>
#include <system_error>

#include "platform/values/XdgDirs.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

std::string trim(std::string s) {
    auto notSpace = [](unsigned char c) { return c != ' ' && c != '\t' && c != '\r'; };
    s.erase(s.begin(), std::find_if(s.begin(), s.end(), notSpace));
    s.erase(std::find_if(s.rbegin(), s.rend(), notSpace).base(), s.end());
    return s;
}

}  // namespace

std::vector<fs::path> DesktopEntries::applicationFolders(const Environment& env) {
    std::vector<fs::path> folders;
    folders.push_back(XdgDirs(env).dataHome() / "applications");
    std::string dirs = env.value("XDG_DATA_DIRS");
    if (dirs.empty()) dirs = "/usr/local/share:/usr/share";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        fs::path dir = dirs.substr(start, end - start);
        if (dir.is_absolute()) folders.push_back(dir / "applications");
        start = end + 1;
    }
    return folders;
}

std::optional<DesktopEntry> DesktopEntries::read(const fs::path& file, std::string id) {
    std::ifstream in(file);
    if (!in) return std::nullopt;
    DesktopEntry entry;
    entry.id = std::move(id);
    entry.path = file;
    bool inMainGroup = false;
    bool isApplication = false;
    bool hidden = false;
    std::string line;
    while (std::getline(in, line)) {
        line = trim(line);
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup) continue;
        auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = trim(line.substr(0, eq));
        std::string value = trim(line.substr(eq + 1));
        if (key == "Type") isApplication = value == "Application";
        else if (key == "Name") entry.name = value;
        else if (key == "StartupWMClass") entry.startupWMClass = value;
        else if (key == "Exec") entry.exec = value;
        else if (key == "NoDisplay") entry.noDisplay = value == "true";
        else if (key == "Hidden") hidden = value == "true";
    }
    if (hidden || !isApplication) return std::nullopt;
    return entry;
}

DesktopEntries DesktopEntries::scan(const Environment& env) {
    std::vector<DesktopEntry> entries;
    std::set<std::string> seen;  // ids taken (or hidden) by an earlier folder
    for (const fs::path& folder : applicationFolders(env)) {
        std::error_code ec;
        if (!fs::is_directory(folder, ec)) continue;
        std::vector<std::pair<std::string, fs::path>> files;
        for (auto it = fs::recursive_directory_iterator(folder, fs::directory_options::skip_permission_denied, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            const fs::path& p = it->path();
            if (p.extension() != ".desktop" || !it->is_regular_file(ec)) continue;
            std::string rel = fs::relative(p, folder, ec).string();
            if (ec) continue;
            rel.resize(rel.size() - std::string_view(".desktop").size());
            std::replace(rel.begin(), rel.end(), '/', '-');
            files.emplace_back(std::move(rel), p);
        }
        std::sort(files.begin(), files.end());
        for (auto& [id, path] : files) {
            if (!seen.insert(id).second) continue;
            if (auto entry = read(path, id)) entries.push_back(std::move(*entry));
        }
    }
    return DesktopEntries(std::move(entries));
}

const DesktopEntry* DesktopEntries::byId(std::string_view id) const {
    for (const auto& e : entries_)
        if (e.id == id) return &e;
    return nullptr;
}

const DesktopEntry* DesktopEntries::byWindowClass(std::string_view instance, std::string_view windowClass) const {
    for (std::string_view key : {windowClass, instance}) {
        if (key.empty()) continue;
        for (const auto& e : entries_)
            if (e.startupWMClass && *e.startupWMClass == key) return &e;
    }
    for (std::string_view key : {windowClass, instance}) {
        if (key.empty()) continue;
        if (const auto* e = byId(key)) return e;
    }
    for (std::string_view key : {windowClass, instance}) {
        if (key.empty()) continue;
        for (const auto& e : entries_)
            if (equalsIgnoringCase(e.id, key)) return &e;
    }
    return nullptr;
}

std::optional<std::string> bundleIdentifier(const WindowIdentity& window, const DesktopEntries& entries) {
    if (window.gtkApplicationId && !window.gtkApplicationId->empty()) return window.gtkApplicationId;
    if (const auto* entry = entries.byWindowClass(window.wmClassInstance, window.wmClassName)) return entry->id;
    if (!window.wmClassName.empty()) return window.wmClassName;
    if (!window.wmClassInstance.empty()) return window.wmClassInstance;
    return std::nullopt;
}

bool isTerminalWindowClass(const WindowIdentity& window) {
    // WM_CLASS classes, instances and application ids of the terminal
    // emulators that desktops ship; one table for every caller.
    static constexpr std::string_view kTerminals[] = {
        "xterm", "uxterm", "urxvt", "rxvt", "urxvt-unicode", "aterm", "eterm", "st", "st-256color",
        "gnome-terminal", "gnome-terminal-server", "org.gnome.terminal", "org.gnome.console", "kgx",
        "org.gnome.ptyxis", "ptyxis", "konsole", "org.kde.konsole", "yakuake", "xfce4-terminal",
        "mate-terminal", "lxterminal", "qterminal", "terminator", "tilix", "com.gexperts.tilix", "guake",
        "tilda", "sakura", "terminology", "kitty", "alacritty", "org.alacritty", "foot", "footclient",
        "wezterm", "org.wezfurlong.wezterm", "termite", "cool-retro-term", "deepin-terminal",
        "com.raggesilver.blackbox", "contour", "rio", "extraterm", "hyper", "tabby", "cosmic-term",
        "io.elementary.terminal", "pantheon-terminal", "roxterm", "lilyterm", "evilvte", "zutty",
    };
    std::vector<std::string_view> names{window.wmClassName, window.wmClassInstance};
    if (window.gtkApplicationId) names.push_back(*window.gtkApplicationId);
    for (std::string_view name : names) {
        if (name.empty()) continue;
        for (std::string_view terminal : kTerminals)
            if (equalsIgnoringCase(terminal, name)) return true;
    }
    return false;
}

}  // namespace platform
