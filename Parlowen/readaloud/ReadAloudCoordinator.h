#pragma once

// Drives one reading at a time: the read-aloud gesture (or the
// summarise-and-read gesture) captures the frontmost application's selection,
// turns it into speech text, optionally summarises it on the device, runs the
// size and cost guard and speaks it through the active engine. It owns that
// engine: it makes and replaces it (on a change of the engine setting, a
// per-application rule, a move to the system voice and back, a failed
// on-device voice), chooses voices, and falls back to the system voice once
// per reading after an engine error. After every change it publishes a
// snapshot for the read-aloud panel.
//
// Main thread only. The capture and summary continuations check the state
// when they resume and drop results of a reading that has ended; the engine
// callbacks, the setting subscription and the on-device voice's observers do
// nothing once the coordinator is gone. An engine replaced from inside one of
// its own callbacks is released in a later turn.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Parlowen/model/ReadAloudEngineKind.h"
#include "Parlowen/readaloud/KokoroEngine.h"
#include "Parlowen/readaloud/SpeechMark.h"
#include "Parlowen/readaloud/SpeechSynthesisEngine.h"
#include "Parlowen/readaloud/SpeechTextNormalizer.h"
#include "Parlowen/shell/LookoutClient.h"
#include "Parlowen/shell/PermissionsManager.h"
#include "platform/log/Log.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Observable.h"
#include "platform/runtime/Task.h"
#include "platform/speechsynth/SpeechSynthesizer.h"

namespace platform {
class Workspace;
}

namespace parlowen {

class KeychainStore;
class PreferencesStore;
class ReadAloudCostGuard;
class RefinementClient;

// One entry of the panel's voice picker.
struct VoicePickerEntry {
    std::string id;           // handed to setVoice
    std::string displayName;  // shown in the picker

    friend bool operator==(const VoicePickerEntry&, const VoicePickerEntry&) = default;
};

// The snapshot the read-aloud panel receives.
struct ReadAloudUIState {
    enum class Mode { hidden, summarizing, loading, speaking, paused };

    Mode mode = Mode::hidden;
    std::int64_t sentenceIndex = 0;
    std::int64_t totalSentences = 0;
    std::string currentText;
    std::vector<SpeechMark> currentMarks;
    std::string voiceName;
    std::optional<std::string> voiceIdentifier;
    std::vector<VoicePickerEntry> availableVoices;
    float rate = 0.5f;
    ReadAloudEngineKind activeEngine = ReadAloudEngineKind::appleSpeech;
    std::optional<ReadAloudEngineKind> downgradedFromEngine;
    bool kokoroInitializing = false;
    bool isSummary = false;

    friend bool operator==(const ReadAloudUIState&, const ReadAloudUIState&) = default;
};

// Makes the read-aloud engines. The application's factory makes the real
// voices; tests make fakes.
class ReadAloudEngineFactory {
public:
    virtual ~ReadAloudEngineFactory() = default;
    virtual std::unique_ptr<SpeechSynthesisEngine> makeEngine(ReadAloudEngineKind kind) = 0;
    // Opens a connection to a cloud voice's service ahead of its first
    // request; never fails. Runs on the worker pool.
    virtual platform::Task<void> warmUpConnection(ReadAloudEngineKind kind) = 0;
    // The installed system voices.
    virtual std::vector<platform::SpeechVoice> systemVoices() = 0;
};

class ReadAloudCoordinator {
public:
    enum class State { idle, capturing, summarizing, speaking, userPaused, pausedForArbitration };
    using VoicePickerEntry = parlowen::VoicePickerEntry;

    // The free system voice every move to the system engine uses.
    static constexpr const char* kZoeVoiceIdentifier = "com.apple.voice.premium.en-US.Zoe";
    static constexpr const char* kPreviewText = "Hello. This is what I sound like reading text aloud.";
    static constexpr const char* kNoOnDeviceModelMessage =
        "Summarize & Read needs Apple Intelligence — reading the full selection.";
    static constexpr const char* kSummaryFailedMessage = "Couldn't summarize that — reading the full selection.";
    // Summaries of a reading: characters per model request, and seconds per request.
    static constexpr std::size_t kSummaryBudget = 6000;
    static constexpr double kSummaryTimeoutSeconds = 60;

    struct Dependencies {
        PreferencesStore& preferences;
        PermissionsManager& permissions;
        ReadAloudEngineFactory& engines;
        const KeychainStore& keychain;
        platform::Workspace& workspace;
        ReadAloudCostGuard& costGuard;
        // A crash-reporter breadcrumb (the application's LookoutClient::record).
        std::function<void(LookoutClient::Category, const std::string&, platform::ReportData)> record;
        platform::Executor& main;
        // Runs the cloud warm-up requests.
        platform::Executor& background;
        // The selected text of the frontmost application, or none.
        std::function<platform::Task<std::optional<std::string>>()> captureSelection;
        // A client of the on-device language model, or none when it is unavailable.
        std::function<std::unique_ptr<RefinementClient>()> onDeviceClient;
        // Absent: a reading with a missing permission only logs.
        std::function<void(PermissionKind)> presentPermissionPreScreen;
        // Opens the preferences on their read-aloud page (keys and voice ids);
        // absent: a refused reading only logs.
        std::function<void()> openReadAloudPreferences;
    };

    // Makes the engine for the stored kind and subscribes to the engine setting.
    explicit ReadAloudCoordinator(Dependencies dependencies);
    ~ReadAloudCoordinator();
    ReadAloudCoordinator(const ReadAloudCoordinator&) = delete;
    ReadAloudCoordinator& operator=(const ReadAloudCoordinator&) = delete;

    // Installed by the application coordinator.
    std::function<void(const ReadAloudUIState&)> onUIStateChange;
    std::function<void(const std::string&)> onSpeakStarted;
    std::function<void()> onNoSelection;
    std::function<void(const std::string&)> onSummarizeFallback;

    State state() const { return state_; }
    const SpeechSynthesisState& engineState() const { return engineState_; }
    SpeechSynthesisEngine& engine() { return *engine_; }
    ReadAloudEngineKind activeEngineKind() const { return activeEngineKind_; }
    bool summarizeThisSession() const { return summarizeThisSession_; }
    std::optional<ReadAloudEngineKind> downgradedFromUserEngine() const { return downgradedFromUserEngine_; }
    std::optional<ReadAloudEngineKind> perAppOverriddenFromUserEngine() const { return perAppOverriddenFromUserEngine_; }
    const std::optional<std::string>& perAppOverriddenVoice() const { return perAppOverriddenVoice_; }
    const std::optional<std::string>& lastSpeakText() const { return lastSpeakText_; }
    const std::vector<SpeechMark>& spokenMarks() const { return spokenMarks_; }
    bool didFallbackThisSession() const { return didFallbackThisSession_; }

    // The read-aloud gesture (false) or the summarise-and-read gesture (true).
    void handlePress(bool summarize);
    void stop();
    void cancel();
    void togglePause();
    void pauseForArbitration();
    void resumeAfterArbitration();
    // Speaks the sample text with the current voice; no checks, no usage.
    void previewVoice();

    ReadAloudUIState makeUIState() const;
    std::optional<std::string> currentVoiceIdentifier() const;
    std::vector<VoicePickerEntry> voicePickerEntries() const;
    void setVoice(const std::string& identifier);

    // The engine's callbacks.
    void handleEngineState(const SpeechSynthesisState& state);
    void handleEngineError(const platform::Error& error);

    // The read-aloud rate (0.5 normal) as a system synthesiser rate.
    static float appleRate(float userRate);
    // The 25 system voice names never offered.
    static const std::vector<std::string>& excludedSystemVoiceNames();
    // The system voices for the picker: English, not excluded, best quality
    // first, then by name.
    static std::vector<VoicePickerEntry> systemVoiceEntries(const std::vector<platform::SpeechVoice>& voices);
    // The marks of `marks` inside the first occurrence of `sentence` in `text`.
    static std::vector<SpeechMark> marksOfSentence(const std::vector<SpeechMark>& marks, const std::string& text,
                                                   const std::string& sentence);

private:
    void start();
    // The reading's key and voice id, then the capture.
    static platform::Task<void> checkCredentialsThenCapture(ReadAloudCoordinator* self, std::weak_ptr<void> alive,
                                                           ReadAloudEngineKind kind);
    void beginCapture();
    static platform::Task<void> captureAndRead(ReadAloudCoordinator* self, std::weak_ptr<void> alive);
    static platform::Task<std::optional<std::string>> summarize(ReadAloudCoordinator* self, std::weak_ptr<void> alive,
                                                                std::string text);
    void refuseForMissingCredential(const char* what);
    void guardAndSpeak(const std::string& text);
    void speakWithActiveEngine(const std::string& text);
    void speakWithZoe(const std::string& text);
    void publish();
    void record(LookoutClient::Category category, const std::string& message, platform::ReportData data);

    std::shared_ptr<SpeechSynthesisEngine> makeEngine(ReadAloudEngineKind kind);
    void swapEngine(ReadAloudEngineKind kind);
    void startKokoroPreparation();
    void observeKokoroInitialization();
    void handleKokoroInitFailure(KokoroEngine::InitializationStatus status);
    void applyPerAppOverride();
    void restorePerAppOverride();
    // The end of a reading's records: back from the system voice, then the
    // per-application override.
    void undoReadingOverrides();
    KokoroEngine* kokoroEngine() const;

    PreferencesStore& preferences_;
    PermissionsManager& permissions_;
    ReadAloudEngineFactory& engines_;
    const KeychainStore& keychain_;
    platform::Workspace& workspace_;
    ReadAloudCostGuard& costGuard_;
    std::function<void(LookoutClient::Category, const std::string&, platform::ReportData)> record_;
    platform::Executor& main_;
    platform::Executor& background_;
    std::function<platform::Task<std::optional<std::string>>()> captureSelection_;
    std::function<std::unique_ptr<RefinementClient>()> onDeviceClient_;
    std::function<void(PermissionKind)> presentPermissionPreScreen_;
    std::function<void()> openReadAloudPreferences_;
    platform::Logger log_{"com.kelvatrum.Parlowen", "readaloud"};

    SpeechTextNormalizer normalizer_{SpeechTextNormalizer::Mode::read};
    std::shared_ptr<SpeechSynthesisEngine> engine_;
    // True while engine_'s callbacks reach this coordinator.
    std::shared_ptr<bool> engineLink_;
    ReadAloudEngineKind activeEngineKind_;
    // Replaced engines, released in a later turn (one may be running the
    // callback that replaced it).
    std::vector<std::shared_ptr<SpeechSynthesisEngine>> retired_;
    platform::SubscriptionSet observations_;
    State state_ = State::idle;
    bool summarizeThisSession_ = false;
    SpeechSynthesisState engineState_;
    std::optional<ReadAloudEngineKind> downgradedFromUserEngine_;
    std::optional<ReadAloudEngineKind> perAppOverriddenFromUserEngine_;
    std::optional<std::string> perAppOverriddenVoice_;
    std::optional<std::string> lastSpeakText_;
    std::vector<SpeechMark> spokenMarks_;
    bool didFallbackThisSession_ = false;
    mutable std::optional<std::vector<VoicePickerEntry>> systemVoiceEntries_;
    platform::Lifetime lifetime_;
};

std::string_view caseName(ReadAloudCoordinator::State state);

}  // namespace parlowen
