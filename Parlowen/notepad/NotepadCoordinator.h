#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Parlowen/dictation/AppleSpeechEngine.h"
#include "Parlowen/dictation/AudioCapture.h"
#include "Parlowen/dictation/TranscriptionEngine.h"
#include "Parlowen/dictation/VocabularyLearner.h"
#include "Parlowen/notepad/ModelChoice.h"
#include "Parlowen/notepad/NotesExporter.h"
#include "platform/log/Log.h"
#include "platform/pasteboard/Pasteboard.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Observable.h"
#include "platform/runtime/Task.h"
#include "platform/x11/Workspace.h"

namespace parlowen {

class PreferencesStore;
class PermissionsManager;

// The state of the Save-to-Notes action.
struct SaveState {
    enum class Case { idle, saving, saved, failed };
    Case kind = Case::idle;
    std::string message;  // for `failed`

    static SaveState idle() { return {}; }
    static SaveState saving() { return {Case::saving, {}}; }
    static SaveState saved() { return {Case::saved, {}}; }
    static SaveState failed(std::string message) { return {Case::failed, std::move(message)}; }
    friend bool operator==(const SaveState&, const SaveState&) = default;
};

// The Notepad's state and logic: a text the user types into while the
// microphone feeds the system recogniser, whose live partial occupies a slot
// at the end of the text until the user edits the text or a polish settles
// it; copying, saving to notes, and the language-model passes (the pause
// polish on the device, tone and agent rewrites). One per process, main
// executor only; the capture thread only hands buffers to the engine.
//
// Offsets and lengths of text are in user-perceived characters.
class NotepadCoordinator {
public:
    static constexpr std::size_t kLevelWindow = 30;
    static constexpr platform::Duration kLevelPublishInterval = std::chrono::milliseconds(67);
    static constexpr platform::Duration kPauseInterval = std::chrono::seconds(1);
    static constexpr platform::Duration kSavedResetDelay = std::chrono::milliseconds(2500);
    static constexpr platform::Duration kFailedResetDelay = std::chrono::seconds(4);
    static constexpr double kPolishTimeout = 2.5;
    static constexpr double kRewriteTimeout = 14.0;
    static const std::string_view punctuationPolishPrompt;

    // A new recogniser for one recording with its recognition hints, or the
    // reason there is none.
    using EngineFactory =
        std::function<platform::Result<std::shared_ptr<TranscriptionEngine>>(std::vector<std::string> hints)>;

    // The system recogniser for the user's locale (the Notepad always records with it).
    static EngineFactory systemRecognizerEngines(std::string locale, AppleSpeechEngine::RecognizerFactory recognizers,
                                                 platform::Executor& background);

    struct Dependencies {
        PreferencesStore& preferences;
        PermissionsManager& permissions;
        platform::Workspace& workspace;
        platform::Pasteboard& pasteboard;
        RefinementServices refinement;
        std::unique_ptr<AudioCapture> audio;  // the Notepad's own, apart from dictation's
        std::unique_ptr<NotesExporter> notesExporter;
        EngineFactory makeEngine;
        platform::Executor& main;
    };

    explicit NotepadCoordinator(Dependencies dependencies);
    ~NotepadCoordinator();
    NotepadCoordinator(const NotepadCoordinator&) = delete;
    NotepadCoordinator& operator=(const NotepadCoordinator&) = delete;

    // Opens with an empty text and starts recording (nothing when open).
    void open();
    // Opens paused with `text`, or appends it (after an empty line) when open.
    void openWithSeedText(const std::string& text);
    // Stops everything and closes (nothing when closed). The text stays.
    void close();
    void startRecording();
    void stopRecording();
    // The editor's writes: any value the coordinator did not put there itself is a user edit.
    void setDisplayedText(std::string text);
    void copyToClipboard();
    // Completes once the save has finished; the state then shows the outcome for a while.
    platform::Task<void> saveToAppleNotes();
    // Rewrites the whole text with the client the clean-up model selects for the kind.
    void rewrite(bool isAgent, std::string systemPrompt, std::string label);

    // Published state.
    const platform::Observable<bool>& isOpen() const { return isOpen_; }
    const platform::Observable<bool>& isRecording() const { return isRecording_; }
    const platform::Observable<std::string>& displayedText() const { return displayedText_; }
    const platform::Observable<bool>& isPolishing() const { return isPolishing_; }
    const platform::Observable<std::vector<float>>& amplitudes() const { return amplitudes_; }
    const platform::Observable<SaveState>& saveState() const { return saveState_; }
    const platform::Observable<std::optional<std::string>>& suggestedToneID() const { return suggestedToneID_; }
    PreferencesStore& preferences() const { return preferences_; }
    PermissionsManager& permissions() const { return permissions_; }
    AudioCapture& audio() const { return *audio_; }
    bool hasEngine() const { return currentEngine() != nullptr; }

    struct Merged {
        std::string text;
        std::size_t slotStart = 0;
        friend bool operator==(const Merged&, const Merged&) = default;
    };
    // Puts a partial into the text: it replaces the slot when there is one
    // within the text, else opens a new slot at the end, after a blank
    // unless the text is empty or ends with a blank, line feed or tab.
    static Merged mergePartial(std::string_view displayed, std::optional<std::size_t> slotStart,
                               std::string_view partial);

    // The recogniser runs and the capture thread share it (and nothing else).
    struct EngineSlot {
        std::mutex mutex;
        std::shared_ptr<TranscriptionEngine> engine;
        // Moves on every new recognition run: partials of an older run are dropped.
        std::atomic<std::uint64_t> run{0};
    };

private:
    void replaceDisplayedText(std::string text);
    void changeCheck();
    void handleUserEdit();
    void handlePartial(const std::string& partial);
    void handleAmplitude(float level);
    void restartPauseTimer();
    void restartEngineAccumulator(std::string_view reason);
    void runPausePolish();
    // A pass ends: the flag drops unless a newer pass of its kind runs.
    void endPass(std::uint64_t latest, std::uint64_t generation);
    bool permissionsGranted() const;
    std::shared_ptr<TranscriptionEngine> currentEngine() const;
    void setEngine(std::shared_ptr<TranscriptionEngine> engine);
    void clearPartialSlot();

    static platform::Task<void> startTask(std::weak_ptr<void> alive, NotepadCoordinator* self,
                                          std::shared_ptr<TranscriptionEngine> engine);
    static platform::Task<void> restartTask(std::weak_ptr<void> alive, NotepadCoordinator* self,
                                            std::shared_ptr<TranscriptionEngine> engine);
    static platform::Task<void> polishTask(std::weak_ptr<void> alive, NotepadCoordinator* self,
                                           std::unique_ptr<RefinementClient> client, std::string text,
                                           std::optional<std::size_t> slotStart, std::uint64_t generation);
    static platform::Task<void> rewriteTask(std::weak_ptr<void> alive, NotepadCoordinator* self,
                                            std::unique_ptr<RefinementClient> client, std::string text,
                                            std::string systemPrompt, std::string label, std::uint64_t generation);
    static platform::Task<void> saveTask(std::weak_ptr<void> alive, NotepadCoordinator* self);
    static platform::Task<void> resetSaveState(std::weak_ptr<void> alive, NotepadCoordinator* self,
                                               platform::Duration delay, SaveState::Case from);

    PreferencesStore& preferences_;
    PermissionsManager& permissions_;
    platform::Workspace& workspace_;
    platform::Pasteboard& pasteboard_;
    RefinementServices refinement_;
    std::unique_ptr<AudioCapture> audio_;
    std::unique_ptr<NotesExporter> notesExporter_;
    EngineFactory makeEngine_;
    platform::Executor& main_;
    VocabularyLearner vocabularyLearner_;
    platform::Logger logger_{"com.kelvatrum.Parlowen", "notepad"};

    platform::Observable<bool> isOpen_{false};
    platform::Observable<bool> isRecording_{false};
    platform::Observable<std::string> displayedText_;
    std::string expectedDisplayedText_;
    std::optional<std::size_t> partialSlotStart_;
    // The byte offset of the slot in the displayed text, while it is known
    // without counting the text's characters again: set by a partial, dropped
    // by any other change of the text.
    std::optional<std::size_t> slotByteOffset_;
    platform::Observable<bool> isPolishing_{false};
    platform::Observable<std::vector<float>> amplitudes_{std::vector<float>(kLevelWindow, 0.0f)};
    std::optional<platform::TimePoint> lastAmplitudePublishAt_;
    std::vector<float> pendingAmplitudes_ = std::vector<float>(kLevelWindow, 0.0f);
    platform::Observable<SaveState> saveState_;
    platform::Observable<std::optional<std::string>> suggestedToneID_;
    std::shared_ptr<EngineSlot> engineSlot_ = std::make_shared<EngineSlot>();
    // The engine of a start that has not reached the microphone yet.
    std::shared_ptr<TranscriptionEngine> startingEngine_;
    platform::ScopedTimer pauseTimer_;
    std::string latestPartial_;
    platform::JoinHandle<void> startTask_;
    platform::JoinHandle<void> restartTask_;
    platform::JoinHandle<void> polishTask_;
    platform::JoinHandle<void> toneTask_;
    // Which polish and which rewrite are the latest: one that a newer pass of
    // its kind replaced leaves `isPolishing` to the newer one.
    std::uint64_t polishGeneration_ = 0;
    std::uint64_t rewriteGeneration_ = 0;
    platform::Lifetime lifetime_;
};

}  // namespace parlowen
