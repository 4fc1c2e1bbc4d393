#pragma once

// The status item on the Linux desktop: a QSystemTrayIcon (the tray's XEmbed
// or StatusNotifier protocol, whichever Qt finds) with a QMenu that opens on a
// left or a right click. Tray icons have no alpha of their own, so faded
// frames of the current picture stand in for it; each is painted once per
// picture and kept.

#include <memory>

#include "platform/statusitem/StatusItem.h"

class QSystemTrayIcon;
class QMenu;

namespace platform {

class QtStatusItem final : public StatusItem {
public:
    QtStatusItem();
    ~QtStatusItem() override;
    QtStatusItem(const QtStatusItem&) = delete;
    QtStatusItem& operator=(const QtStatusItem&) = delete;

    bool isAvailable() const override;
    void setVisible(bool visible) override;
    bool isVisible() const override;
    void setIcon(const StatusIcon& icon) override;
    void setAlpha(double alpha) override;
    void setMenu(const StatusMenu& menu) override;
    void setOnMenuWillOpen(std::function<void()> handler) override;
    void setOnAction(std::function<void(const StatusMenuItem&)> handler) override;

    // For tests and tools.
    QSystemTrayIcon* trayIcon() const;
    QMenu* menu() const;
    // How many pictures were painted (faded frames included).
    int paintedFrames() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
