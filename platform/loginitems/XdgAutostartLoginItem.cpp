#include "platform/loginitems/LoginItemService.h"

#include <system_error>

#include "platform/values/Files.h"
#include "platform/values/XdgDirs.h"
#include "platform/x11/DesktopEntries.h"

namespace platform {
namespace {
constexpr const char* kDomain = "LoginItem";
}

std::string_view toString(LoginItemStatus status) {
    switch (status) {
        case LoginItemStatus::notRegistered: return "notRegistered";
        case LoginItemStatus::enabled: return "enabled";
        case LoginItemStatus::requiresApproval: return "requiresApproval";
        case LoginItemStatus::notFound: return "notFound";
    }
    return {};
}

XdgAutostartLoginItem::XdgAutostartLoginItem(const Environment& environment, std::filesystem::path executable)
    : path_(XdgDirs(environment).configHome() / "autostart" / std::string(kFileName)),
      executable_(std::move(executable)) {}

std::string XdgAutostartLoginItem::execArgument(const std::string& path) {
    // Exec's reserved characters force quoting; inside quotes a backslash
    // goes before each double quote, backquote, dollar sign and backslash.
    // The value is a desktop-entry string too, where every backslash is
    // itself written twice. A percent sign would start a field code, quoted
    // or not, so it is doubled.
    constexpr std::string_view reserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string plain;
    for (char c : path) {
        plain += c;
        if (c == '%') plain += '%';
    }
    if (path.find_first_of(reserved) == std::string::npos) return plain;
    std::string quoted = "\"";
    for (char c : plain) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    std::string escaped;
    for (char c : quoted) {
        if (c == '\\') escaped += "\\\\";
        else if (c == '\n') escaped += "\\n";
        else if (c == '\t') escaped += "\\t";
        else escaped += c;
    }
    return escaped;
}

std::string XdgAutostartLoginItem::entryText(const std::filesystem::path& executable) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Parlowen\n"
           "Comment=Starts Parlowen in the menu bar when you log in\n"
           "Exec=" + execArgument(executable.string()) + "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

LoginItemStatus XdgAutostartLoginItem::status() {
    // An entry the session would start: present, an application, not hidden.
    return DesktopEntries::read(path_, std::string(kFileName)) ? LoginItemStatus::enabled
                                                               : LoginItemStatus::notRegistered;
}

Status XdgAutostartLoginItem::registerItem() {
    if (executable_.empty() || !executable_.is_absolute())
        return fail(Error::make(kDomain, 1, "executableUnknown", "the program's own path is unknown"));
    return writeFileAtomically(path_, entryText(executable_));
}

Status XdgAutostartLoginItem::unregisterItem() {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
    if (ec)
        return fail(fileError(FileErrorCode::writeFailed, "Cannot remove the autostart entry", path_, ec.message()));
    return ok();
}

LoginItemStatus ScriptedLoginItemService::status() {
    std::lock_guard lock(mutex_);
    ++reads_;
    return status_;
}

Status ScriptedLoginItemService::registerItem() {
    std::lock_guard lock(mutex_);
    ++registrations_;
    if (auto failure = std::exchange(registerFailure_, std::nullopt)) return fail(*failure);
    status_ = requiresApproval_ ? LoginItemStatus::requiresApproval : LoginItemStatus::enabled;
    return ok();
}

Status ScriptedLoginItemService::unregisterItem() {
    std::lock_guard lock(mutex_);
    ++unregistrations_;
    if (auto failure = std::exchange(unregisterFailure_, std::nullopt)) return fail(*failure);
    status_ = LoginItemStatus::notRegistered;
    return ok();
}

void ScriptedLoginItemService::setStatus(LoginItemStatus status) {
    std::lock_guard lock(mutex_);
    status_ = status;
}

void ScriptedLoginItemService::setRequiresApproval(bool required) {
    std::lock_guard lock(mutex_);
    requiresApproval_ = required;
}

void ScriptedLoginItemService::failNextRegistration(Error error) {
    std::lock_guard lock(mutex_);
    registerFailure_ = std::move(error);
}

void ScriptedLoginItemService::failNextUnregistration(Error error) {
    std::lock_guard lock(mutex_);
    unregisterFailure_ = std::move(error);
}

int ScriptedLoginItemService::registrations() const {
    std::lock_guard lock(mutex_);
    return registrations_;
}

int ScriptedLoginItemService::unregistrations() const {
    std::lock_guard lock(mutex_);
    return unregistrations_;
}

int ScriptedLoginItemService::statusReads() const {
    std::lock_guard lock(mutex_);
    return reads_;
}

}  // namespace platform
