#pragma once

// Installed applications as desktop entries, and the one rule that names
// another application: its "bundle identifier" is its desktop-file id.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/Environment.h"

namespace platform {

struct DesktopEntry {
    // The desktop-file id: the path below an "applications" folder with "/"
    // turned into "-" and without ".desktop" ("org.gnome.TextEditor").
    std::string id;
    std::string name;                        // Name=
    std::optional<std::string> startupWMClass;  // StartupWMClass=
    std::string exec;                        // Exec=
    bool noDisplay = false;                  // NoDisplay=true
    std::filesystem::path path;
};

// The application entries of the XDG data folders ($XDG_DATA_HOME, then each
// of $XDG_DATA_DIRS), read once. An id found in an earlier folder hides the
// same id in later ones; an entry with Hidden=true hides it and is dropped.
class DesktopEntries {
public:
    DesktopEntries() = default;
    explicit DesktopEntries(std::vector<DesktopEntry> entries) : entries_(std::move(entries)) {}

    static DesktopEntries scan(const Environment& env);
    // The folders scan() reads, in order.
    static std::vector<std::filesystem::path> applicationFolders(const Environment& env);
    // One file; none when it is not an application entry.
    static std::optional<DesktopEntry> read(const std::filesystem::path& file, std::string id);

    const std::vector<DesktopEntry>& all() const { return entries_; }
    const DesktopEntry* byId(std::string_view id) const;
    // The entry that a window of this WM_CLASS belongs to: StartupWMClass
    // equal to the class (then the instance), else an id equal to the class or
    // the instance (exactly, then ignoring case).
    const DesktopEntry* byWindowClass(std::string_view instance, std::string_view windowClass) const;

private:
    std::vector<DesktopEntry> entries_;
};

// What identifies another application's window.
struct WindowIdentity {
    std::optional<std::string> gtkApplicationId;  // _GTK_APPLICATION_ID
    std::string wmClassInstance;                  // WM_CLASS, first string
    std::string wmClassName;                      // WM_CLASS, second string
};

// The bundle identifier of another application, the one function that
// dictation, read-aloud, per-application rules and the application picker
// all use: _GTK_APPLICATION_ID when the window has one, else the id of the
// desktop entry matched by WM_CLASS, else the WM_CLASS class itself (its
// instance when the class is empty); none when the window says nothing.
std::optional<std::string> bundleIdentifier(const WindowIdentity& window, const DesktopEntries& entries);

// Whether the window belongs to a terminal emulator: its WM_CLASS class or
// instance, or its GTK application id, is one of the common terminals'
// (compared ignoring case).
bool isTerminalWindowClass(const WindowIdentity& window);

}  // namespace platform
