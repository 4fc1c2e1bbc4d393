#include <systemd/sd-bus.h>

#include <cstring>
#include <filesystem>
#include <type_traits>

#include "platform/notifications/NotificationCenter.h"

namespace platform {
namespace {

constexpr const char* kDomain = "Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr std::uint64_t kCallTimeoutMicroseconds = 25'000'000;

Error busError(int code, const sd_bus_error* error, std::string_view what) {
    std::string detail = error && error->message ? error->message : std::strerror(code < 0 ? -code : code);
    std::string name = error && error->name ? error->name : "errno";
    return Error::make(kDomain, 1, name, std::string(what) + ": " + detail);
}

// Errors that mean nobody serves the name (none is running, or starting one failed).
bool meansNoServer(const sd_bus_error& error) {
    if (!error.name) return false;
    const std::string_view name = error.name;
    return name == SD_BUS_ERROR_SERVICE_UNKNOWN || name == SD_BUS_ERROR_NAME_HAS_NO_OWNER ||
           name.starts_with("org.freedesktop.DBus.Error.Spawn.") || name == SD_BUS_ERROR_NO_REPLY ||
           name == SD_BUS_ERROR_TIMEOUT;
}

struct BusDeleter {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using Bus = std::unique_ptr<sd_bus, BusDeleter>;

struct MessageDeleter {
    void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};
using Message = std::unique_ptr<sd_bus_message, MessageDeleter>;

struct ScopedError {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    ~ScopedError() { sd_bus_error_free(&error); }
};

// A fresh connection to the session bus of `env`. Notifications are rare,
// so nothing is kept open between them.
Result<Bus> connect(const Environment& env) {
    std::string address = env.value("DBUS_SESSION_BUS_ADDRESS");
    if (address.empty()) {
        const std::string runtime = env.value("XDG_RUNTIME_DIR");
        std::error_code ec;
        if (!runtime.empty() && std::filesystem::exists(std::filesystem::path(runtime) / "bus", ec))
            address = "unix:path=" + runtime + "/bus";
    }
    if (address.empty())
        return fail(Error::make(kDomain, 2, "noSessionBus", "no session bus (DBUS_SESSION_BUS_ADDRESS is not set)"));
    sd_bus* raw = nullptr;
    int r = sd_bus_new(&raw);
    if (r < 0) return fail(busError(r, nullptr, "cannot create a bus connection"));
    Bus bus(raw);
    if ((r = sd_bus_set_address(raw, address.c_str())) < 0 || (r = sd_bus_set_bus_client(raw, 1)) < 0 ||
        (r = sd_bus_start(raw)) < 0)
        return fail(busError(r, nullptr, "cannot connect to the session bus"));
    return bus;
}

// Whether the name has an owner, without starting one.
Result<bool> hasOwner(sd_bus* bus) {
    ScopedError error;
    sd_bus_message* raw = nullptr;
    int r = sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                               "NameHasOwner", &error.error, &raw, "s", DbusNotificationCenter::kServiceName);
    Message reply(raw);
    if (r < 0) return fail(busError(r, &error.error, "NameHasOwner failed"));
    int owned = 0;
    if ((r = sd_bus_message_read(raw, "b", &owned)) < 0) return fail(busError(r, nullptr, "bad NameHasOwner reply"));
    return owned != 0;
}

// Runs the blocking `call` on `background`, then resumes on the executor
// the task was awaited on.
template <class Call>
Task<std::invoke_result_t<Call&>> onBackground(Executor& background, Call call) {
    Executor& caller = co_await currentExecutor();
    co_await resumeOn(background);
    auto result = call();
    co_await resumeOn(caller);
    co_return result;
}

}  // namespace

DbusNotificationCenter::DbusNotificationCenter(Executor& background, Environment environment)
    : background_(background), environment_(std::move(environment)) {}

DbusNotificationCenter::~DbusNotificationCenter() = default;

NotificationAuthorizationStatus DbusNotificationCenter::authorizationStatusNow() {
    auto bus = connect(environment_);
    if (!bus) return NotificationAuthorizationStatus::notDetermined;
    auto owned = hasOwner(bus->get());
    return owned && *owned ? NotificationAuthorizationStatus::authorized : NotificationAuthorizationStatus::notDetermined;
}

Result<bool> DbusNotificationCenter::requestAuthorizationNow() {
    auto bus = connect(environment_);
    if (!bus) return fail(bus.error());
    // Any call to the name lets the bus start a server that is installed but
    // not running; its answer says one serves now.
    ScopedError error;
    sd_bus_message* raw = nullptr;
    sd_bus_message* call = nullptr;
    int r = sd_bus_message_new_method_call(bus->get(), &call, kServiceName, kPath, kServiceName, "GetServerInformation");
    Message request(call);
    if (r < 0) return fail(busError(r, nullptr, "cannot ask the notification server"));
    r = sd_bus_call(bus->get(), call, kCallTimeoutMicroseconds, &error.error, &raw);
    Message reply(raw);
    if (r >= 0) return true;
    if (meansNoServer(error.error)) return false;
    return fail(busError(r, &error.error, "the notification server did not answer"));
}

Result<std::uint32_t> DbusNotificationCenter::addNow(const NotificationRequest& request) {
    auto bus = connect(environment_);
    if (!bus) return fail(bus.error());
    std::uint32_t replaces = 0;
    {
        std::lock_guard lock(mutex_);
        if (auto it = serverIds_.find(request.identifier); it != serverIds_.end()) replaces = it->second;
    }
    sd_bus_message* call = nullptr;
    int r = sd_bus_message_new_method_call(bus->get(), &call, kServiceName, kPath, kServiceName, "Notify");
    Message notify(call);
    if (r >= 0)
        r = sd_bus_message_append(call, "susssas", kApplicationName, replaces, "", request.content.title.c_str(),
                                  request.content.body.c_str(), 0);
    // The default sound is the server's own (no hint); without a sound the
    // server is asked to stay silent.
    if (r >= 0 && request.content.defaultSound)
        r = sd_bus_message_append(call, "a{sv}i", 0, -1);
    else if (r >= 0)
        r = sd_bus_message_append(call, "a{sv}i", 1, "suppress-sound", "b", 1, -1);
    if (r < 0) return fail(busError(r, nullptr, "cannot build the notification"));
    ScopedError error;
    sd_bus_message* raw = nullptr;
    r = sd_bus_call(bus->get(), call, kCallTimeoutMicroseconds, &error.error, &raw);
    Message reply(raw);
    if (r < 0) return fail(busError(r, &error.error, "Notify failed"));
    std::uint32_t id = 0;
    if ((r = sd_bus_message_read(raw, "u", &id)) < 0) return fail(busError(r, nullptr, "bad Notify reply"));
    std::lock_guard lock(mutex_);
    serverIds_[request.identifier] = id;
    return id;
}

Task<NotificationAuthorizationStatus> DbusNotificationCenter::authorizationStatus() {
    return onBackground(background_, [this] { return authorizationStatusNow(); });
}

Task<Result<bool>> DbusNotificationCenter::requestAuthorization() {
    return onBackground(background_, [this] { return requestAuthorizationNow(); });
}

Task<Status> DbusNotificationCenter::add(NotificationRequest request) {
    return onBackground(background_, [this, request = std::move(request)]() -> Status {
        auto id = addNow(request);
        if (!id) return fail(id.error());
        return ok();
    });
}

}  // namespace platform
