#include "Parlowen/shell/PermissionsManager.h"

namespace parlowen {

std::string rawValue(PermissionKind kind) {
    switch (kind) {
        case PermissionKind::microphone: return "microphone";
        case PermissionKind::speech: return "speech";
        case PermissionKind::accessibility: return "accessibility";
        case PermissionKind::inputMonitoring: return "inputMonitoring";
    }
    return {};
}

std::optional<PermissionKind> permissionKindFromRawValue(const std::string& raw) {
    for (auto kind : allPermissionKinds)
        if (rawValue(kind) == raw) return kind;
    return std::nullopt;
}

std::string text(PermissionState state) {
    switch (state) {
        case PermissionState::unknown: return "unknown";
        case PermissionState::granted: return "granted";
        case PermissionState::denied: return "denied";
        case PermissionState::notDetermined: return "notDetermined";
    }
    return {};
}

platform::PermissionSource& PermissionSources::of(PermissionKind kind) const {
    switch (kind) {
        case PermissionKind::microphone: return microphone;
        case PermissionKind::speech: return speech;
        case PermissionKind::accessibility: return accessibility;
        case PermissionKind::inputMonitoring: return inputMonitoring;
    }
    return microphone;
}

PermissionsManager::PermissionsManager(PermissionSources sources, platform::Executor& main)
    : states(PermissionStates{{PermissionKind::microphone, PermissionState::unknown},
                              {PermissionKind::speech, PermissionState::unknown},
                              {PermissionKind::accessibility, PermissionState::unknown},
                              {PermissionKind::inputMonitoring, PermissionState::unknown}}),
      sources_(sources),
      main_(main) {}

PermissionState PermissionsManager::stateFromRaw(PermissionKind kind, std::int64_t raw) {
    switch (kind) {
        case PermissionKind::microphone:
            switch (raw) {
                case 0: return PermissionState::notDetermined;
                case 1:  // restricted
                case 2: return PermissionState::denied;
                case 3: return PermissionState::granted;
                default: return PermissionState::unknown;
            }
        case PermissionKind::speech:
            switch (raw) {
                case 0: return PermissionState::notDetermined;
                case 1:
                case 2:  // restricted
                    return PermissionState::denied;
                case 3: return PermissionState::granted;
                default: return PermissionState::unknown;
            }
        case PermissionKind::accessibility:
            // Trust is yes or no; it is never "not determined".
            return raw != 0 ? PermissionState::granted : PermissionState::denied;
        case PermissionKind::inputMonitoring:
            switch (raw) {
                case 0: return PermissionState::granted;
                case 1: return PermissionState::denied;
                case 2: return PermissionState::notDetermined;
                default: return PermissionState::unknown;
            }
    }
    return PermissionState::unknown;
}

PermissionState PermissionsManager::currentState(PermissionKind kind) const {
    return stateFromRaw(kind, sources_.of(kind).rawStatus());
}

std::vector<std::string> PermissionsManager::refresh() {
    PermissionStates fresh;
    std::vector<std::string> missing;
    for (auto kind : allPermissionKinds) {
        auto state = currentState(kind);
        fresh[kind] = state;
        if (state != PermissionState::granted) missing.push_back(rawValue(kind) + "=" + text(state));
    }
    states.set(std::move(fresh));
    return missing;
}

platform::Task<void> PermissionsManager::refreshAsync() { return refreshAsyncImpl(this); }

platform::Task<void> PermissionsManager::refreshAsyncImpl(PermissionsManager* self) {
    PermissionStates fresh;
    for (auto kind : allPermissionKinds) {
        co_await platform::resumeOn(self->main_);
        fresh[kind] = self->currentState(kind);
    }
    self->states.set(std::move(fresh));
}

platform::Task<void> PermissionsManager::request(PermissionKind kind) { return requestImpl(this, kind); }

platform::Task<void> PermissionsManager::requestImpl(PermissionsManager* self, PermissionKind kind) {
    co_await self->sources_.of(kind).request();
    co_await platform::resumeOn(self->main_);
    auto updated = self->states.get();
    updated[kind] = self->currentState(kind);
    self->states.set(std::move(updated));
}

std::string PermissionsManager::settingsURL(PermissionKind kind) {
    const char* anchor = "";
    switch (kind) {
        case PermissionKind::microphone: anchor = "Privacy_Microphone"; break;
        case PermissionKind::speech: anchor = "Privacy_SpeechRecognition"; break;
        case PermissionKind::accessibility: anchor = "Privacy_Accessibility"; break;
        case PermissionKind::inputMonitoring: anchor = "Privacy_ListenEvent"; break;
    }
    return std::string("x-apple.systempreferences:com.apple.preference.security?") + anchor;
}

std::optional<PermissionKind> PermissionsManager::firstMissingPermission() const {
    if (sources_.microphone.rawStatus() != 3) return PermissionKind::microphone;
    if (sources_.speech.rawStatus() != 3) return PermissionKind::speech;
    if (sources_.accessibility.rawStatus() == 0) return PermissionKind::accessibility;
    if (sources_.inputMonitoring.rawStatus() != 0) return PermissionKind::inputMonitoring;
    return std::nullopt;
}

}  // namespace parlowen
