// The application coordinator's permission poll, activation refresh and
// post-launch task.

#include "Parlowen/notepad/AppleIntelligenceRefinementClient.h"
#include "Parlowen/shell/AppCoordinator.h"
#include "Parlowen/shell/settings/PreferencesStore.h"
#include "platform/languagemodel/LanguageModel.h"

namespace parlowen {

namespace {
constexpr double kPermissionPollInterval = 1.5;
constexpr double kMicrophonePrewarmDelay = 0.5;
constexpr double kEnginePrewarmDelay = 0.4;
}  // namespace

bool AppCoordinator::allPermissionsGranted(const PermissionStates& states) const {
    for (auto kind : allPermissionKinds) {
        auto it = states.find(kind);
        if (it == states.end() || it->second != PermissionState::granted) return false;
    }
    return true;
}

void AppCoordinator::startPermissionPoll() {
    if (permissionPollTimer_.active() || !permissions_) return;
    if (allPermissionsGranted(permissions_->states.get())) return;
    permissionPollTimer_ = main_.repeating(platform::seconds(kPermissionPollInterval), lifetime_.guard([this] {
        platform::spawn(main_, permissionPollTick(this, lifetime_.weak()));
    }));
    log_.info("permission poll: started (1.5Hz until all granted)");
}

platform::Task<void> AppCoordinator::permissionPollTick(AppCoordinator* self, std::weak_ptr<void> alive) {
    co_await self->permissions_->refreshAsync();
    if (alive.expired()) co_return;
    // Overlapping ticks may both see everything granted; the first stops the poll.
    if (!self->permissionPollTimer_.active()) co_return;
    if (!self->allPermissionsGranted(self->permissions_->states.get())) co_return;
    self->permissionPollTimer_.cancel();
    self->log_.info("permission poll: all granted, stopping poller");
}

void AppCoordinator::handleDidBecomeActive() {
    if (permissions_) platform::spawn(main_, activationRefresh(this, lifetime_.weak()));
    if (auto* bridge = listenLaterCloudKit()) main_.post(lifetime_.guard([bridge] { bridge->refreshPendingItems(); }));
}

platform::Task<void> AppCoordinator::activationRefresh(AppCoordinator* self, std::weak_ptr<void> alive) {
    co_await self->permissions_->refreshAsync();
    if (alive.expired()) co_return;
    self->startPermissionPoll();
}

void AppCoordinator::startPostLaunchTasks() {
    if (postLaunch_.valid()) return;
    postLaunch_ = platform::spawn(main_, runPostLaunchTasks(this, lifetime_.weak()));
}

platform::Task<void> AppCoordinator::runPostLaunchTasks(AppCoordinator* self, std::weak_ptr<void> alive) {
    if (self->permissions_) {
        co_await self->permissions_->refreshAsync();
        if (alive.expired()) co_return;
    }
    self->updateStatusIcon();

    const PermissionStates states = self->permissions_ ? self->permissions_->states.get() : PermissionStates{};
    if (self->preferences_.hasCompletedFirstRun()) {
        if (!self->allPermissionsGranted(states)) self->openPreferences(PreferencesTab::permissions);
    } else if (auto* onboarding = self->lazy(self->onboarding_, self->onboardingLazy_, "onboarding window",
                                             [self] { return self->factory_.makeOnboardingWindow(); })) {
        onboarding->resumeAtFirstIncompleteStep();
        self->activateIgnoringOtherApps();
        onboarding->showAndActivate();
    }

    // The waits carry on when cancelled: the prewarms still matter.
    (void)co_await platform::sleepFor(platform::seconds(kMicrophonePrewarmDelay));
    if (alive.expired()) co_return;
    auto granted = [self](PermissionKind kind) {
        return self->permissions_ && self->permissions_->currentState(kind) == PermissionState::granted;
    };
    if (granted(PermissionKind::microphone)) self->dictation().prewarmMicrophone();

    (void)co_await platform::sleepFor(platform::seconds(kEnginePrewarmDelay));
    if (alive.expired()) co_return;
    if (granted(PermissionKind::speech)) self->dictation().prewarmEngine();

    self->warmUpLanguageModel();
}

void AppCoordinator::warmUpLanguageModel() {
    if (warmUpStarted_ || !languageModel_) return;
    warmUpStarted_ = true;
    platform::spawn(background_ ? *background_ : main_, warmUp(this, lifetime_.weak()));
}

platform::Task<void> AppCoordinator::warmUp(AppCoordinator* self, std::weak_ptr<void> alive) {
    platform::LanguageModel& model = *self->languageModel_;
    platform::Executor& main = self->main_;
    if (model.availability() != platform::LanguageModelAvailability::available) co_return;
    co_await platform::resumeOn(main);
    if (alive.expired()) co_return;
    AppleIntelligenceRefinementClient client(model);
    // The answer does not matter: the request only loads the model.
    (void)co_await client.refine("Hi.", "Reply with: ok", 5.0);
}

}  // namespace parlowen
