#include "platform/speech/SpeechPermissionSource.h"

namespace platform {

std::int64_t SpeechPermissionSource::rawStatus() {
    if (!model_ || !model_->isInstalled()) return kRestricted;
    return model_->knownToLoad().value_or(true) ? kAuthorised : kRestricted;
}

Task<void> SpeechPermissionSource::requestImpl(SpeechPermissionSource* self) {
    if (!self->model_ || !self->model_->isInstalled() || self->model_->knownToLoad()) co_return;
    Executor& caller = co_await currentExecutor();
    co_await resumeOn(self->background_);
    self->model_->loads();
    co_await resumeOn(caller);
}

}  // namespace platform
