#pragma once

// Drives one dictation at a time, from the gesture that starts it to the
// hand-off of the final text: the session states, the start (permissions,
// engine, focus, panel, engine then microphone), the stop and finalisation,
// cancel, the engine cache and warm-up, and the two watchdogs beside a
// recording (the session cap and the throttle detector).
//
// Main thread only, except the microphone's buffer path (onBuffer copies the
// feed target under its lock and appends outside it) and the engines'
// partial results (any thread; they only post to the main executor). Every
// task a session launches carries the session number, so late results of an
// ended session do nothing to a newer one.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Parlowen/dictation/DictationPorts.h"
#include "Parlowen/dictation/FocusSnapshot.h"
#include "Parlowen/dictation/TextProcessor.h"
#include "Parlowen/dictation/TranscriptionEngine.h"
#include "Parlowen/dictation/VocabularyLearner.h"
#include "Parlowen/model/DictationEngine.h"
#include "Parlowen/model/Gesture.h"
#include "Parlowen/model/LiveDisplayMode.h"
#include "Parlowen/shell/PermissionsManager.h"
#include "platform/runtime/Error.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Observable.h"
#include "platform/runtime/Task.h"

namespace platform {
class Accessibility;
class Workspace;
}  // namespace platform

namespace parlowen {

class AudioCapture;
class KeychainStore;
class PreferencesStore;

// The only failure of engine resolution the session start treats on its own.
enum class EngineResolutionError { groqAPIKeyMissing };
inline constexpr const char* kEngineResolutionErrorDomain = "DictationCoordinator.EngineResolutionError";
platform::Error toError(EngineResolutionError error);

// Builds the transcription engines. The application's factory makes the
// system recogniser engine (AppleSpeechEngine) and the cloud engine
// (GroqTranscriptionEngine); tests make fakes.
class DictationEngineFactory {
public:
    virtual ~DictationEngineFactory() = default;
    // The system recogniser for a locale ("en-US"), or the recogniser's
    // creation error.
    virtual platform::Result<std::shared_ptr<TranscriptionEngine>> makeSystemEngine(const std::string& locale) = 0;
    // The cloud engine with the user's key and model.
    virtual std::shared_ptr<TranscriptionEngine> makeCloudEngine(const std::string& apiKey,
                                                                 GroqTranscriptionModel model) = 0;
    // Recognition hints for a system engine this factory made.
    virtual void setContextualStrings(TranscriptionEngine& systemEngine, std::vector<std::string> strings) = 0;
};

class DictationCoordinator {
public:
    using EngineResolutionError = parlowen::EngineResolutionError;

    static constexpr std::int64_t kShortTapMilliseconds = 600;
    static constexpr platform::Duration kDoubleTapWindow = std::chrono::milliseconds(400);
    static constexpr float kAudibleLevel = 0.15f;
    static constexpr double kSessionCapBaseSeconds = 60;
    static constexpr double kSessionCapLimitSeconds = 59;
    static constexpr platform::Duration kSessionCapPollInterval = std::chrono::milliseconds(250);
    static constexpr platform::Duration kThrottleDetectionDelay = std::chrono::milliseconds(1500);

    static constexpr const char* kGroqKeyMissingNotice =
        "No Groq key found — using Apple Speech. Add your key in Preferences › Dictation.";
    static constexpr const char* kFallbackFailedMessage =
        "Couldn't start dictation. Check microphone access in System Settings › Privacy.";
    static constexpr const char* kResolveFailedPrefix = "Couldn't start dictation: ";
    static constexpr const char* kMicrophoneStartFailedMessage =
        "Couldn't start the microphone. Another app may be using it.";
    static constexpr const char* kFinalizeFailedMessage =
        "Dictation didn't go through — the transcription engine didn't respond. Nothing was pasted; try again.";

    // The four states. A session is active while recording or pendingFinalize.
    struct Idle {};
    struct Recording {
        std::optional<Hotkey> activeKey;  // none: the combination gesture started it
        std::shared_ptr<TranscriptionEngine> engine;
        platform::TimePoint pressTime;
    };
    struct PendingFinalize {
        Hotkey activeKey;
        std::shared_ptr<TranscriptionEngine> engine;
        platform::TimerHandle finalizeWork;
    };
    struct Finishing {};
    using State = std::variant<Idle, Recording, PendingFinalize, Finishing>;

    struct Dependencies {
        PermissionsManager& permissions;
        PreferencesStore& preferences;
        DictationHUD& hud;
        AudioCapture& audio;
        DictationTextInsertion& inserter;
        DictationEngineFactory& engines;
        KeychainStore& keychain;
        platform::Accessibility& accessibility;
        platform::Workspace& workspace;
        platform::Executor& main;
        // The process locale ("en-US") the system recogniser is built for.
        std::string locale = "en-US";
        // Whether this application is active; absent: never.
        std::function<bool()> applicationIsActive;
        // The class name of this application's key window; absent or none: "nil".
        std::function<std::optional<std::string>()> keyWindowClassName;
        // Presents the permission pre-screen for a missing kind; absent: a
        // start with a missing permission only logs.
        std::function<void(PermissionKind)> presentPermissionPreScreen;
    };

    // Installs the settings subscription that warms the engine up when the
    // engine mode changes. The capture's callbacks wait for bindAudioCallbacks.
    explicit DictationCoordinator(Dependencies dependencies);
    ~DictationCoordinator();
    DictationCoordinator(const DictationCoordinator&) = delete;
    DictationCoordinator& operator=(const DictationCoordinator&) = delete;

    // Outcome callbacks, installed by the application coordinator.
    std::function<void(bool)> onActiveStateChange;
    std::function<void(const std::string&)> onStartError;
    std::function<void(const std::string&)> onSessionFinalizedWithText;
    std::function<void(const std::string&)> onFinalizeError;
    std::function<void()> onSessionFinalized;
    std::function<void()> onNotepadRequested;

    // Routes the microphone's buffers to the session's engine and its levels
    // to the panel. Called once.
    void bindAudioCallbacks();

    // The dictation hold gesture went down / up.
    void handleHotkeyPress(Hotkey key);
    void handleHotkeyRelease(Hotkey key);
    // The dictation combination gesture fired.
    void toggle();
    // Another mode takes over: an active session ends normally.
    void finalizeForModeArbitration();
    // Ends the recording of an active session and finalises it.
    void stop();
    // Drops the current session without a result.
    void cancel();
    // Warms up the engine of the current setting unless a session is under way.
    void prewarmEngine();

    // The engine for a mode, from the one-engine cache or newly built. The
    // cloud key is read here, on the main thread.
    platform::Result<std::shared_ptr<TranscriptionEngine>> resolveEngine(DictationEngineMode mode);

    const State& state() const { return state_; }
    bool isIdle() const { return std::holds_alternative<Idle>(state_); }
    bool isRecording() const { return std::holds_alternative<Recording>(state_); }
    bool isPendingFinalize() const { return std::holds_alternative<PendingFinalize>(state_); }
    bool isFinishing() const { return std::holds_alternative<Finishing>(state_); }
    bool isActive() const { return isRecording() || isPendingFinalize(); }

    std::int64_t sessionNumber() const { return sessionNumber_; }
    std::int64_t partialsThisSession() const { return partialsThisSession_; }
    const std::string& lastPartial() const { return lastPartial_; }
    bool audibleAudioDetected() const { return audibleAudioDetected_; }
    const std::optional<FocusSnapshot>& capturedFocus() const { return capturedFocus_; }
    std::shared_ptr<TranscriptionEngine> cachedEngine() const { return cachedEngine_; }
    std::optional<EngineKind> cachedEngineKind() const { return cachedEngineKind_; }
    VocabularyLearner& vocabularyLearner() { return vocabularyLearner_; }
    // The engine microphone buffers go to now (none outside a recording).
    TranscriptionEngine* feedTarget() const;

    // The microphone's buffer path (audio thread): what bindAudioCallbacks installs.
    void onBuffer(const platform::PcmBuffer& buffer) const;

private:
    void start(std::optional<Hotkey> activeKey);
    void setFeedTarget(TranscriptionEngine* engine);
    void startFailureTeardown(const std::shared_ptr<TranscriptionEngine>& engine);
    void finishSession(std::int64_t session);
    void startSessionCap(std::int64_t session);
    void startThrottleDetection(std::int64_t session, std::string appName);
    void handlePartial(std::int64_t session, LiveDisplayMode liveMode, const std::string& text);
    void handleLevel(std::int64_t session, float level);
    void dropCachedEngine();
    platform::Result<std::shared_ptr<TranscriptionEngine>> resolveSystemEngine();
    // `key`: what the keychain read for the cloud key.
    platform::Result<std::shared_ptr<TranscriptionEngine>> resolveCloudEngine(const platform::Result<std::string>& key);
    std::shared_ptr<TranscriptionEngine> activeEngine() const;
    bool applicationIsActive() const;
    std::optional<std::string> frontmostBundleIdentifier() const;

    struct FinalizeInput {
        std::shared_ptr<TranscriptionEngine> engine;
        std::int64_t session = 0;
        std::int64_t partials = 0;
        std::optional<FocusSnapshot> focus;
    };
    static platform::Task<void> runStartCapture(DictationCoordinator* self, std::weak_ptr<void> alive,
                                                std::shared_ptr<TranscriptionEngine> engine, std::int64_t session);
    static platform::Task<void> runFinalize(DictationCoordinator* self, std::weak_ptr<void> alive,
                                            FinalizeInput input);
    static platform::Task<void> runPrewarm(DictationCoordinator* self, std::weak_ptr<void> alive,
                                           std::int64_t sessionAtStart);
    static platform::Task<void> runSessionCap(DictationCoordinator* self, std::weak_ptr<void> alive,
                                              std::int64_t session, platform::TimePoint startTime);
    static platform::Task<void> runThrottleDetection(DictationCoordinator* self, std::weak_ptr<void> alive,
                                                     std::int64_t session, std::string appName);

    PermissionsManager& permissions_;
    PreferencesStore& preferences_;
    DictationHUD& hud_;
    AudioCapture& audio_;
    DictationTextInsertion& inserter_;
    DictationEngineFactory& engines_;
    KeychainStore& keychain_;
    platform::Accessibility& accessibility_;
    platform::Workspace& workspace_;
    platform::Executor& main_;
    std::string locale_;
    std::function<bool()> applicationIsActive_;
    std::function<std::optional<std::string>()> keyWindowClassName_;
    std::function<void(PermissionKind)> presentPermissionPreScreen_;

    TextProcessor processor_;
    VocabularyLearner vocabularyLearner_;

    std::shared_ptr<TranscriptionEngine> cachedEngine_;
    std::optional<EngineKind> cachedEngineKind_;
    // What the cached cloud engine was built with, so a new key or model rebuilds it.
    std::string cachedGroqKey_;
    std::optional<GroqTranscriptionModel> cachedGroqModel_;

    std::optional<FocusSnapshot> capturedFocus_;
    std::string lastPartial_;
    bool audibleAudioDetected_ = false;
    std::optional<platform::JoinHandle<void>> throttleDetectionTask_;
    std::optional<platform::JoinHandle<void>> sessionCapTask_;
    std::int64_t sessionNumber_ = 0;
    std::int64_t partialsThisSession_ = 0;
    State state_;
    platform::SubscriptionSet observations_;

    // The session number as the audio thread reads it, to tag level values.
    std::atomic<std::int64_t> audioSession_{0};
    mutable std::mutex feedMutex_;
    TranscriptionEngine* feedTarget_ = nullptr;  // guarded by feedMutex_

    // Tasks that are only cancelled when the coordinator goes.
    std::vector<platform::JoinHandle<void>> backgroundTasks_;
    bool audioBound_ = false;
    platform::Lifetime lifetime_;
};

}  // namespace parlowen
