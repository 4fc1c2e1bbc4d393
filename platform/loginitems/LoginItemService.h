#pragma once

// The application's own registration as a login item: read its status,
// register, unregister. The system keeps the registration; callers only
// mirror it.
//
// Linux: an XDG autostart entry (XdgAutostartLoginItem), registered when it
// exists and is not Hidden=true. Approval is never required there and "not
// found" does not occur; ScriptedLoginItemService (the test double) scripts
// both.

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/runtime/Environment.h"
#include "platform/runtime/Error.h"

namespace platform {

enum class LoginItemStatus { notRegistered, enabled, requiresApproval, notFound };
std::string_view toString(LoginItemStatus status);

class LoginItemService {
public:
    virtual ~LoginItemService() = default;
    virtual LoginItemStatus status() = 0;
    virtual Status registerItem() = 0;
    virtual Status unregisterItem() = 0;
};

// The autostart entry $XDG_CONFIG_HOME/autostart/com.kelvatrum.Parlowen.desktop,
// which runs `executable`.
class XdgAutostartLoginItem : public LoginItemService {
public:
    static constexpr std::string_view kFileName = "com.kelvatrum.Parlowen.desktop";

    XdgAutostartLoginItem(const Environment& environment, std::filesystem::path executable);

    const std::filesystem::path& entryPath() const { return path_; }

    LoginItemStatus status() override;
    // Writes the entry (replacing one the user hid). Fails when the
    // program's own path is unknown or the file cannot be written.
    Status registerItem() override;
    // Removes the entry; an entry that is not there is already unregistered.
    Status unregisterItem() override;

    // The entry's text for `executable`.
    static std::string entryText(const std::filesystem::path& executable);
    // `path` as one Exec= argument: quoted when it holds a reserved
    // character, with the escapes both the Exec rules and the string rules
    // of desktop entries ask for.
    static std::string execArgument(const std::string& path);

private:
    std::filesystem::path path_;
    std::filesystem::path executable_;
};

// The test double: the status a test sets; registering gives `enabled` (or
// `requiresApproval` when scripted so) and unregistering `notRegistered`,
// unless the next call is scripted to fail. Thread-safe.
class ScriptedLoginItemService : public LoginItemService {
public:
    explicit ScriptedLoginItemService(LoginItemStatus initial = LoginItemStatus::notRegistered) : status_(initial) {}

    LoginItemStatus status() override;
    Status registerItem() override;
    Status unregisterItem() override;

    void setStatus(LoginItemStatus status);
    void setRequiresApproval(bool required);
    void failNextRegistration(Error error);
    void failNextUnregistration(Error error);
    int registrations() const;
    int unregistrations() const;
    int statusReads() const;

private:
    mutable std::mutex mutex_;
    LoginItemStatus status_;
    bool requiresApproval_ = false;
    std::optional<Error> registerFailure_;
    std::optional<Error> unregisterFailure_;
    int registrations_ = 0;
    int unregistrations_ = 0;
    int reads_ = 0;
};

}  // namespace platform
