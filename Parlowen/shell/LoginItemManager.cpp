#include "Parlowen/shell/LoginItemManager.h"

namespace parlowen {

using platform::LoginItemStatus;

LoginItemManager::LoginItemManager(platform::LoginItemService& service)
    : service_(service), status_(service.status()), isEnabled_(status_.get() == LoginItemStatus::enabled) {}

void LoginItemManager::setIsEnabled(bool enabled) {
    isEnabled_.set(enabled);
    if (!isUpdating_) apply();
}

void LoginItemManager::apply() {
    const bool enable = isEnabled_.get();
    auto result = enable ? service_.registerItem() : service_.unregisterItem();
    if (result)
        log_.write(platform::LogLevel::info, enable ? "login item registered" : "login item unregistered");
    else
        log_.error("login item update failed: {}", result.error().description);
    refresh();
}

void LoginItemManager::refresh() {
    const LoginItemStatus fresh = service_.status();
    const bool enabled = fresh == LoginItemStatus::enabled;
    if (fresh == status_.get() && isEnabled_.get() == enabled) return;
    isUpdating_ = true;
    status_.set(fresh);
    setIsEnabled(enabled);
    isUpdating_ = false;
}

}  // namespace parlowen
