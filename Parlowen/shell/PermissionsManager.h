#pragma once

#include <array>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/permissions/PermissionSource.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Observable.h"
#include "platform/runtime/Task.h"

namespace parlowen {

enum class PermissionKind { microphone, speech, accessibility, inputMonitoring };

// Every kind, in the order every walk over the kinds uses.
inline constexpr std::array<PermissionKind, 4> allPermissionKinds = {
    PermissionKind::microphone, PermissionKind::speech, PermissionKind::accessibility, PermissionKind::inputMonitoring};

std::string rawValue(PermissionKind kind);
// Only the four exact case names give a kind.
std::optional<PermissionKind> permissionKindFromRawValue(const std::string& raw);

enum class PermissionState { unknown, granted, denied, notDetermined };
std::string text(PermissionState state);

using PermissionStates = std::map<PermissionKind, PermissionState>;

// Where each permission is read from and requested.
struct PermissionSources {
    platform::PermissionSource& microphone;
    platform::PermissionSource& speech;
    platform::PermissionSource& accessibility;
    platform::PermissionSource& inputMonitoring;
    platform::PermissionSource& of(PermissionKind kind) const;
};

// The one place that reads the four permissions from the system, asks for
// them and publishes their states. Main thread only. Nothing is persisted:
// the system is the store of record.
class PermissionsManager {
public:
    PermissionsManager(PermissionSources sources, platform::Executor& main);

    // Every assignment emits, also when nothing changed.
    platform::Observable<PermissionStates> states;

    PermissionState currentState(PermissionKind kind) const;
    // Replaces `states` with a fresh read (one change) and lists each kind
    // that is not granted as "<kind>=<state>".
    std::vector<std::string> refresh();
    // The same map, read with a suspension before each kind, assigned once.
    platform::Task<void> refreshAsync();
    // Asks the system, then stores only that kind's fresh state.
    platform::Task<void> request(PermissionKind kind);
    static std::string settingsURL(PermissionKind kind);
    // Checks the system directly; `states` is neither read nor written.
    std::optional<PermissionKind> firstMissingPermission() const;

    // The platform's raw status value of `kind` as a state.
    static PermissionState stateFromRaw(PermissionKind kind, std::int64_t raw);

private:
    static platform::Task<void> refreshAsyncImpl(PermissionsManager* self);
    static platform::Task<void> requestImpl(PermissionsManager* self, PermissionKind kind);

    PermissionSources sources_;
    platform::Executor& main_;
};

}  // namespace parlowen
