#pragma once

#include "platform/permissions/PermissionSource.h"
#include "platform/runtime/Executor.h"
#include "platform/speech/PocketSphinxRecognizer.h"

namespace platform {

// The speech-recognition permission: 3 (authorised) while the speech model
// is installed and, once tried, loads; else 2 (restricted: this machine
// cannot recognise speech). Reading the status only looks at the files; a
// request loads the model once on `background` to find out.
class SpeechPermissionSource : public PermissionSource {
public:
    SpeechPermissionSource(std::optional<PocketSphinxModel> model, Executor& background)
        : model_(std::move(model)), background_(background) {}

    static constexpr std::int64_t kAuthorised = 3;
    static constexpr std::int64_t kRestricted = 2;

    std::int64_t rawStatus() override;
    Task<void> request() override { return requestImpl(this); }

private:
    static Task<void> requestImpl(SpeechPermissionSource* self);
    std::optional<PocketSphinxModel> model_;
    Executor& background_;
};

}  // namespace platform
