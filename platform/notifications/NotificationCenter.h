#pragma once

// User notifications: the authorisation status, the request for it, and
// posting a notification that is shown at once.
//
// Linux: org.freedesktop.Notifications on the session bus
// (DbusNotificationCenter). ScriptedNotificationCenter is the test double.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/Environment.h"
#include "platform/runtime/Error.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Task.h"

namespace platform {

enum class NotificationAuthorizationStatus { notDetermined, denied, authorized, provisional, ephemeral };
std::string_view toString(NotificationAuthorizationStatus status);

struct NotificationContent {
    std::string title;
    std::string body;
    // The notification server's default sound.
    bool defaultSound = false;
};

// Delivered at once. A request with the identifier of an earlier one
// replaces it.
struct NotificationRequest {
    std::string identifier;
    NotificationContent content;
};

class NotificationCenter {
public:
    virtual ~NotificationCenter() = default;
    // The status from the notification settings.
    virtual Task<NotificationAuthorizationStatus> authorizationStatus() = 0;
    // Asks for alerts and sounds; the answer, or the failure of the request.
    virtual Task<Result<bool>> requestAuthorization() = 0;
    virtual Task<Status> add(NotificationRequest request) = 0;
};

// The desktop's notification server over D-Bus. Authorised when a server
// owns the name; not determined when none does, and then the request asks
// the bus to start one (D-Bus activation) and answers whether one answers
// now. A bus that cannot be reached, or any other bus error, is a failure of
// the request. The blocking bus calls run on `background`; each operation
// resumes on the executor it was awaited on. The bus is the session bus of
// `environment` (DBUS_SESSION_BUS_ADDRESS, else $XDG_RUNTIME_DIR/bus).
class DbusNotificationCenter : public NotificationCenter {
public:
    static constexpr const char* kServiceName = "org.freedesktop.Notifications";
    static constexpr const char* kApplicationName = "Parlowen";

    DbusNotificationCenter(Executor& background, Environment environment);
    ~DbusNotificationCenter() override;

    Task<NotificationAuthorizationStatus> authorizationStatus() override;
    Task<Result<bool>> requestAuthorization() override;
    Task<Status> add(NotificationRequest request) override;

    // The blocking forms, on the calling thread.
    NotificationAuthorizationStatus authorizationStatusNow();
    Result<bool> requestAuthorizationNow();
    // The server's id of the notification.
    Result<std::uint32_t> addNow(const NotificationRequest& request);

private:
    Executor& background_;
    Environment environment_;
    std::mutex mutex_;
    // The server's id of each identifier's latest notification, so that a
    // reused identifier replaces it.
    std::map<std::string, std::uint32_t> serverIds_;
};

// The test double: a status and a request answer the test sets; records
// every query, request and posted notification. A request that answers
// sets the status to authorized or denied. Thread-safe.
class ScriptedNotificationCenter : public NotificationCenter {
public:
    explicit ScriptedNotificationCenter(
        NotificationAuthorizationStatus status = NotificationAuthorizationStatus::notDetermined)
        : status_(status) {}

    Task<NotificationAuthorizationStatus> authorizationStatus() override;
    Task<Result<bool>> requestAuthorization() override;
    Task<Status> add(NotificationRequest request) override;

    void setStatus(NotificationAuthorizationStatus status);
    void answerRequestWith(Result<bool> answer);
    void failAddWith(std::optional<Error> error);

    int statusQueries() const;
    int requests() const;
    std::vector<NotificationRequest> added() const;

private:
    mutable std::mutex mutex_;
    NotificationAuthorizationStatus status_;
    Result<bool> answer_ = true;
    std::optional<Error> addFailure_;
    int queries_ = 0;
    int requests_ = 0;
    std::vector<NotificationRequest> added_;
};

}  // namespace platform
