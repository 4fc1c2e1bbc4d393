#include "Parlowen/readaloud/KokoroEngine.h"

#include "Parlowen/readaloud/KokoroVoiceCatalog.h"
#include "platform/log/Log.h"

namespace parlowen {

namespace {
const platform::Logger& logger() {
    static const platform::Logger log("com.kelvatrum.Parlowen", "engine.tts.kokoro");
    return log;
}
}  // namespace

platform::Error KokoroEngineError::unavailable() {
    return platform::Error::make(kDomain, 1, "unavailable", "The on-device voice is not available");
}

KokoroEngine::KokoroEngine(platform::Executor& main) : main_(main) {}

KokoroEngine::~KokoroEngine() { lifetime_.end(); }

platform::Task<void> KokoroEngine::prewarm() {
    if (status_ != InitializationStatus::failed) {
        logger().error("kokoro: no on-device runtime in this build; initialization failed");
        setInitializationStatus(InitializationStatus::failed);
    }
    co_return;
}

void KokoroEngine::setInitializationStatus(InitializationStatus status) {
    if (status == status_) return;
    status_ = status;
    if (onInitializationStatusChange) onInitializationStatusChange(status);
}

void KokoroEngine::speak(std::string_view, std::optional<std::string>, float) {
    // Reported in a later turn, like every engine's errors: the owner may
    // replace this engine from the callback.
    main_.post(lifetime_.guard([this] {
        if (onError) onError(KokoroEngineError::unavailable());
    }));
}

void KokoroEngine::stop() { setState(SpeechSynthesisState::idle()); }

std::string KokoroEngine::voiceDisplayName(const std::optional<std::string>& id) {
    if (id)
        if (auto v = KokoroVoiceCatalog::voice(*id)) return std::string(v->displayName);
    return "Heart";
}

}  // namespace parlowen
