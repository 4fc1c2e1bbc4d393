#pragma once

// Software updates: the updater controller the application drives, and the
// delegate through which the updater reports back (from any thread).
//
// Linux installs come from the package manager, so the Linux updater
// (PackageManagedUpdater) has no feed: its scheduled checks and the user's
// check find no update, and the user's check says where updates come from.
// ScriptedUpdaterController is the test double.

#include <memory>
#include <mutex>
#include <string>

#include "platform/runtime/Executor.h"

namespace platform {

namespace ui {
class AlertPresenter;
}

struct UpdateItem {
    std::string displayVersionString;
};

class UpdaterDelegate {
public:
    virtual ~UpdaterDelegate() = default;
    virtual void didFindValidUpdate(const UpdateItem& item) = 0;
    virtual void updaterDidNotFindUpdate() = 0;
    virtual void willInstallUpdate(const UpdateItem& item) = 0;
    // Whether the updater's interface may remind gently of scheduled updates.
    virtual bool supportsGentleScheduledUpdateReminders() const = 0;
    // Around each modal alert of the updater's own interface.
    virtual void standardUserDriverWillShowModalAlert() = 0;
    virtual void standardUserDriverDidShowModalAlert() = 0;
};

class UpdaterController {
public:
    virtual ~UpdaterController() = default;
    virtual void startUpdater() = 0;
    virtual void setAutomaticallyChecksForUpdates(bool on) = 0;
    virtual bool automaticallyChecksForUpdates() const = 0;
    virtual void setAutomaticallyDownloadsUpdates(bool on) = 0;
    virtual bool automaticallyDownloadsUpdates() const = 0;
    // The user-initiated check, with the updater's own progress and result.
    virtual void checkForUpdates() = 0;
};

// The Linux updater. Main thread only.
class PackageManagedUpdater : public UpdaterController {
public:
    // How often a scheduled check runs while automatic checks are on.
    static constexpr Duration kScheduledCheckInterval = std::chrono::hours(24);
    static constexpr const char* kPackageManagerMessage = "Parlowen is updated through your system's package manager.";

    PackageManagedUpdater(Executor& main, ui::AlertPresenter& alerts, UpdaterDelegate& delegate);
    ~PackageManagedUpdater() override;

    void startUpdater() override;
    void setAutomaticallyChecksForUpdates(bool on) override;
    bool automaticallyChecksForUpdates() const override { return checks_; }
    void setAutomaticallyDownloadsUpdates(bool on) override { downloads_ = on; }
    bool automaticallyDownloadsUpdates() const override { return downloads_; }
    // Reports that no update was found and shows kPackageManagerMessage.
    void checkForUpdates() override;

private:
    void schedule();

    Executor& main_;
    ui::AlertPresenter& alerts_;
    UpdaterDelegate& delegate_;
    bool started_ = false;
    bool checks_ = false;
    bool downloads_ = false;
    ScopedTimer scheduled_;
};

// The test double: keeps the flags and counts starts and user checks.
// Thread-safe.
class ScriptedUpdaterController : public UpdaterController {
public:
    void startUpdater() override;
    void setAutomaticallyChecksForUpdates(bool on) override;
    bool automaticallyChecksForUpdates() const override;
    void setAutomaticallyDownloadsUpdates(bool on) override;
    bool automaticallyDownloadsUpdates() const override;
    void checkForUpdates() override;

    int startCount() const;
    int checkCount() const;
    // How many times each flag was set.
    int checkFlagWrites() const;
    int downloadFlagWrites() const;

private:
    mutable std::mutex mutex_;
    bool checks_ = false;
    bool downloads_ = false;
    int starts_ = 0;
    int userChecks_ = 0;
    int checkWrites_ = 0;
    int downloadWrites_ = 0;
};

}  // namespace platform
