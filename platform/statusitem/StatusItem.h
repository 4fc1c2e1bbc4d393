#pragma once

// The application's item in the desktop's status area (the system tray): an
// icon, and a menu that drops from it. The menu is a plain model the owner
// rebuilds and hands over whole; the item shows it and reports which entry
// was chosen. Main thread only.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// One entry of a status menu.
struct StatusMenuItem {
    enum class Kind { item, separator };

    Kind kind = Kind::item;
    // Stable name (for tests and the view's objectName); unique in the whole menu.
    std::string id;
    std::string title;
    // A key shown with the platform's command modifier ("," → Ctrl+,); empty: none.
    std::string keyEquivalent;
    // What choosing the entry sends back to the owner; empty: the entry does nothing.
    std::string action;
    // The text the entry carries to its action; none when it carries nothing.
    std::optional<std::string> representedObject;
    bool hidden = false;
    bool enabled = true;
    bool checked = false;  // the on state (check mark)
    // Entries with a submenu open it instead of sending an action.
    bool hasSubmenu = false;
    std::string submenuTitle;
    std::vector<StatusMenuItem> submenu;

    static StatusMenuItem separator(std::string id) {
        StatusMenuItem s;
        s.kind = Kind::separator;
        s.id = std::move(id);
        return s;
    }
    friend bool operator==(const StatusMenuItem&, const StatusMenuItem&) = default;
};

using StatusMenu = std::vector<StatusMenuItem>;

// The entry with this id anywhere in the menu, or null.
const StatusMenuItem* findStatusMenuItem(const StatusMenu& menu, const std::string& id);
StatusMenuItem* findStatusMenuItem(StatusMenu& menu, const std::string& id);

// Which picture the icon shows.
enum class StatusIconImage {
    icon,             // the application's template icon
    updateBadge,      // the icon with an orange dot at the top right
    permissionBadge,  // the icon with a red dot at the bottom right
};
enum class StatusIconTint { none, red, blue };

struct StatusIcon {
    StatusIconImage image = StatusIconImage::icon;
    StatusIconTint tint = StatusIconTint::none;
    // What assistive technologies say for the icon.
    std::string accessibilityDescription;
    friend bool operator==(const StatusIcon&, const StatusIcon&) = default;
};

class StatusItem {
public:
    virtual ~StatusItem() = default;

    // Whether the desktop has a status area that can show the item at all.
    virtual bool isAvailable() const = 0;
    // Shown or hidden by the owner; without a status area it stays invisible.
    virtual void setVisible(bool visible) = 0;
    virtual bool isVisible() const = 0;

    virtual void setIcon(const StatusIcon& icon) = 0;
    // 0.0 transparent .. 1.0 opaque.
    virtual void setAlpha(double alpha) = 0;

    virtual void setMenu(const StatusMenu& menu) = 0;
    // Called on the main thread just before the menu opens (the owner may
    // hand over a fresh menu from it), and when an entry with an action is
    // chosen.
    virtual void setOnMenuWillOpen(std::function<void()> handler) = 0;
    virtual void setOnAction(std::function<void(const StatusMenuItem& item)> handler) = 0;
};

// Test double: records what the owner set and lets a test open the menu and
// choose entries.
class RecordingStatusItem final : public StatusItem {
public:
    explicit RecordingStatusItem(bool available = true) : available_(available) {}

    bool isAvailable() const override { return available_; }
    void setVisible(bool visible) override { visible_ = visible; }
    bool isVisible() const override { return visible_ && available_; }
    void setIcon(const StatusIcon& icon) override {
        icon_ = icon;
        ++iconChanges_;
    }
    void setAlpha(double alpha) override { alpha_ = alpha; }
    void setMenu(const StatusMenu& menu) override { menu_ = menu; }
    void setOnMenuWillOpen(std::function<void()> handler) override { onMenuWillOpen_ = std::move(handler); }
    void setOnAction(std::function<void(const StatusMenuItem&)> handler) override { onAction_ = std::move(handler); }

    const StatusIcon& icon() const { return icon_; }
    int iconChanges() const { return iconChanges_; }
    double alpha() const { return alpha_; }
    bool visibleFlag() const { return visible_; }
    const StatusMenu& menu() const { return menu_; }
    const StatusMenuItem* item(const std::string& id) const { return findStatusMenuItem(menu_, id); }

    // The user clicks the icon: the menu is about to open.
    void openMenu() {
        if (onMenuWillOpen_) onMenuWillOpen_();
    }
    // The user chooses the entry `id`; false when it is not there, hidden,
    // disabled or has no action.
    bool choose(const std::string& id);

private:
    bool available_;
    bool visible_ = true;
    StatusIcon icon_;
    int iconChanges_ = 0;
    double alpha_ = 1.0;
    StatusMenu menu_;
    std::function<void()> onMenuWillOpen_;
    std::function<void(const StatusMenuItem&)> onAction_;
};

}  // namespace platform
