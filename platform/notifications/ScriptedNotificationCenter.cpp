#include "platform/notifications/NotificationCenter.h"

namespace platform {

std::string_view toString(NotificationAuthorizationStatus status) {
    switch (status) {
        case NotificationAuthorizationStatus::notDetermined: return "notDetermined";
        case NotificationAuthorizationStatus::denied: return "denied";
        case NotificationAuthorizationStatus::authorized: return "authorized";
        case NotificationAuthorizationStatus::provisional: return "provisional";
        case NotificationAuthorizationStatus::ephemeral: return "ephemeral";
    }
    return {};
}

Task<NotificationAuthorizationStatus> ScriptedNotificationCenter::authorizationStatus() {
    NotificationAuthorizationStatus status;
    {
        std::lock_guard lock(mutex_);
        ++queries_;
        status = status_;
    }
    co_return status;
}

Task<Result<bool>> ScriptedNotificationCenter::requestAuthorization() {
    Result<bool> answer = false;
    {
        std::lock_guard lock(mutex_);
        ++requests_;
        answer = answer_;
        if (answer)
            status_ = *answer ? NotificationAuthorizationStatus::authorized : NotificationAuthorizationStatus::denied;
    }
    co_return answer;
}

Task<Status> ScriptedNotificationCenter::add(NotificationRequest request) {
    Status result;
    {
        std::lock_guard lock(mutex_);
        if (addFailure_)
            result = fail(*addFailure_);
        else
            added_.push_back(std::move(request));
    }
    co_return result;
}

void ScriptedNotificationCenter::setStatus(NotificationAuthorizationStatus status) {
    std::lock_guard lock(mutex_);
    status_ = status;
}

void ScriptedNotificationCenter::answerRequestWith(Result<bool> answer) {
    std::lock_guard lock(mutex_);
    answer_ = std::move(answer);
}

void ScriptedNotificationCenter::failAddWith(std::optional<Error> error) {
    std::lock_guard lock(mutex_);
    addFailure_ = std::move(error);
}

int ScriptedNotificationCenter::statusQueries() const {
    std::lock_guard lock(mutex_);
    return queries_;
}

int ScriptedNotificationCenter::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<NotificationRequest> ScriptedNotificationCenter::added() const {
    std::lock_guard lock(mutex_);
    return added_;
}

}  // namespace platform
