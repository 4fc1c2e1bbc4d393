#pragma once

#include "platform/log/Log.h"
#include "platform/loginitems/LoginItemService.h"
#include "platform/runtime/Observable.h"

namespace parlowen {

// Mirrors the application's login-item registration, which the system keeps
// (there is no setting of our own), and turns a change of the switch into a
// registration or unregistration. Each user makes its own instance: the
// settings section for its lifetime, the uninstall for its run. Main thread
// only; the registration calls are synchronous.
class LoginItemManager {
public:
    explicit LoginItemManager(platform::LoginItemService& service);

    // The switch: registered and enabled as a login item.
    bool isEnabled() const { return isEnabled_.get(); }
    // Stores the value, then applies it unless the manager itself is writing.
    void setIsEnabled(bool enabled);
    platform::Stream<bool> isEnabledStream() const { return isEnabled_.stream(); }

    platform::LoginItemStatus status() const { return status_.get(); }
    platform::Stream<platform::LoginItemStatus> statusStream() const { return status_.stream(); }

    bool isUpdating() const { return isUpdating_; }

    // Registers or unregisters as `isEnabled` says, logs, then refreshes.
    // Failures are logged only.
    void apply();
    // Reads the status again and brings both properties in line, publishing
    // nothing when neither changes.
    void refresh();

private:
    platform::LoginItemService& service_;
    platform::Observable<platform::LoginItemStatus> status_;
    platform::Observable<bool> isEnabled_;
    bool isUpdating_ = false;
    platform::Logger log_{"com.kelvatrum.Parlowen", "loginitem"};
};

}  // namespace parlowen
