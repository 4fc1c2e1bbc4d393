#include "platform/updater/Updater.h"

#include "platform/ui/AlertPresenter.h"

namespace platform {

PackageManagedUpdater::PackageManagedUpdater(Executor& main, ui::AlertPresenter& alerts, UpdaterDelegate& delegate)
    : main_(main), alerts_(alerts), delegate_(delegate) {}

PackageManagedUpdater::~PackageManagedUpdater() = default;

void PackageManagedUpdater::startUpdater() {
    started_ = true;
    schedule();
}

void PackageManagedUpdater::setAutomaticallyChecksForUpdates(bool on) {
    if (checks_ == on) return;
    checks_ = on;
    schedule();
}

void PackageManagedUpdater::schedule() {
    if (!started_ || !checks_) {
        scheduled_.cancel();
        return;
    }
    if (scheduled_.active()) return;
    // There is no feed to ask: a scheduled check finds nothing.
    scheduled_ = main_.repeating(kScheduledCheckInterval, [this] { delegate_.updaterDidNotFindUpdate(); });
}

void PackageManagedUpdater::checkForUpdates() {
    delegate_.updaterDidNotFindUpdate();
    ui::Alert alert;
    alert.messageText = kPackageManagerMessage;
    alert.style = ui::AlertStyle::informational;
    alert.buttons = {"OK"};
    delegate_.standardUserDriverWillShowModalAlert();
    // The delegate's did-show work is queued; it runs while the alert is up.
    delegate_.standardUserDriverDidShowModalAlert();
    alerts_.run(alert);
}

void ScriptedUpdaterController::startUpdater() {
    std::lock_guard lock(mutex_);
    ++starts_;
}

void ScriptedUpdaterController::setAutomaticallyChecksForUpdates(bool on) {
    std::lock_guard lock(mutex_);
    checks_ = on;
    ++checkWrites_;
}

bool ScriptedUpdaterController::automaticallyChecksForUpdates() const {
    std::lock_guard lock(mutex_);
    return checks_;
}

void ScriptedUpdaterController::setAutomaticallyDownloadsUpdates(bool on) {
    std::lock_guard lock(mutex_);
    downloads_ = on;
    ++downloadWrites_;
}

bool ScriptedUpdaterController::automaticallyDownloadsUpdates() const {
    std::lock_guard lock(mutex_);
    return downloads_;
}

void ScriptedUpdaterController::checkForUpdates() {
    std::lock_guard lock(mutex_);
    ++userChecks_;
}

int ScriptedUpdaterController::startCount() const {
    std::lock_guard lock(mutex_);
    return starts_;
}

int ScriptedUpdaterController::checkCount() const {
    std::lock_guard lock(mutex_);
    return userChecks_;
}

int ScriptedUpdaterController::checkFlagWrites() const {
    std::lock_guard lock(mutex_);
    return checkWrites_;
}

int ScriptedUpdaterController::downloadFlagWrites() const {
    std::lock_guard lock(mutex_);
    return downloadWrites_;
}

}  // namespace platform
