#include "Parlowen/readaloud/ReadAloudCoordinator.h"

#include <algorithm>
#include <cmath>

#include "Parlowen/notepad/RefinementClient.h"
#include "Parlowen/notepad/Summarizer.h"
#include "Parlowen/readaloud/KokoroVoiceCatalog.h"
#include "Parlowen/readaloud/ReadAloudCostGuard.h"
#include "Parlowen/shell/KeychainStore.h"
#include "Parlowen/shell/LookoutClient.h"
#include "Parlowen/shell/settings/PreferencesStore.h"
#include "platform/text/Unicode.h"
#include "platform/x11/Workspace.h"

namespace parlowen {

namespace {

std::string raw(ReadAloudEngineKind kind) { return std::string(rawValue(kind)); }

std::int64_t charCount(std::string_view text) { return static_cast<std::int64_t>(platform::text::graphemeCount(text)); }

std::string joined(const std::vector<std::string>& parts, std::string_view separator) {
    std::string out;
    for (const auto& p : parts) {
        if (!out.empty()) out += separator;
        out += p;
    }
    return out;
}

std::optional<KeychainStore::Key> keyOf(ReadAloudEngineKind kind) {
    switch (kind) {
        case ReadAloudEngineKind::openai: return KeychainStore::Key::openAI;
        case ReadAloudEngineKind::cartesia: return KeychainStore::Key::cartesia;
        case ReadAloudEngineKind::elevenlabs: return KeychainStore::Key::elevenLabs;
        case ReadAloudEngineKind::appleSpeech:
        case ReadAloudEngineKind::kokoro: return std::nullopt;
    }
    return std::nullopt;
}

int qualityRank(const std::string& quality) {
    if (quality == "premium") return 0;
    if (quality == "enhanced") return 1;
    return 2;
}

}  // namespace

std::string_view caseName(ReadAloudCoordinator::State state) {
    using S = ReadAloudCoordinator::State;
    switch (state) {
        case S::idle: return "idle";
        case S::capturing: return "capturing";
        case S::summarizing: return "summarizing";
        case S::speaking: return "speaking";
        case S::userPaused: return "userPaused";
        case S::pausedForArbitration: return "pausedForArbitration";
    }
    return {};
}

ReadAloudCoordinator::ReadAloudCoordinator(Dependencies d)
    : preferences_(d.preferences),
      permissions_(d.permissions),
      engines_(d.engines),
      keychain_(d.keychain),
      workspace_(d.workspace),
      costGuard_(d.costGuard),
      record_(std::move(d.record)),
      main_(d.main),
      background_(d.background),
      captureSelection_(std::move(d.captureSelection)),
      onDeviceClient_(std::move(d.onDeviceClient)),
      presentPermissionPreScreen_(std::move(d.presentPermissionPreScreen)),
      openReadAloudPreferences_(std::move(d.openReadAloudPreferences)),
      activeEngineKind_(d.preferences.readAloudEngine.get()) {
    engine_ = makeEngine(activeEngineKind_);
    if (activeEngineKind_ == ReadAloudEngineKind::kokoro) startKokoroPreparation();
    observeKokoroInitialization();
    // The value at subscription is the engine just made; picking the same one again changes nothing.
    observations_ += preferences_.readAloudEngine.stream().removeDuplicates().dropFirst().subscribe(
        lifetime_.guard([this](ReadAloudEngineKind kind) { swapEngine(kind); }));
}

ReadAloudCoordinator::~ReadAloudCoordinator() {
    lifetime_.end();
    observations_.clear();
    *engineLink_ = false;
}

// ---- Gestures and controls

void ReadAloudCoordinator::handlePress(bool summarize) {
    switch (state_) {
        case State::summarizing:
        case State::speaking:
        case State::userPaused:
        case State::pausedForArbitration: stop(); return;
        case State::idle:
            summarizeThisSession_ = summarize;
            start();
            return;
        case State::capturing: log_.debug("press ignored: capture in flight"); return;
    }
}

void ReadAloudCoordinator::stop() {
    engine_->stop();
    state_ = State::idle;
    lastSpeakText_.reset();
    summarizeThisSession_ = false;
    undoReadingOverrides();
    publish();
}

void ReadAloudCoordinator::cancel() {
    if (state_ == State::idle) return;
    log_.info("read-aloud cancelled");
    stop();
}

void ReadAloudCoordinator::togglePause() {
    if (state_ == State::speaking) {
        engine_->pause();
        state_ = State::userPaused;
        log_.info("read-aloud user-paused");
        publish();
    } else if (state_ == State::userPaused) {
        engine_->resume();
        state_ = State::speaking;
        log_.info("read-aloud user-resumed");
        publish();
    }
}

void ReadAloudCoordinator::pauseForArbitration() {
    if (state_ != State::speaking) return;
    engine_->pause();
    state_ = State::pausedForArbitration;
    log_.info("read-aloud paused for arbitration");
    publish();
}

void ReadAloudCoordinator::resumeAfterArbitration() {
    if (state_ != State::pausedForArbitration) return;
    engine_->resume();
    state_ = State::speaking;
    log_.info("read-aloud resumed from arbitration");
    publish();
}

void ReadAloudCoordinator::previewVoice() {
    if (state_ != State::idle) stop();
    log_.info("read-aloud preview via {}", raw(activeEngineKind_));
    state_ = State::speaking;
    lastSpeakText_.reset();
    engine_->speak(kPreviewText, currentVoiceIdentifier(), preferences_.readAloudRate.get());
}

// ---- Starting a reading

void ReadAloudCoordinator::start() {
    // A reading refused for a missing key, or ended by an engine error
    // without fallback, can leave its overrides behind; left in place, the
    // next override would take the overriding engine for the user's own.
    if (downgradedFromUserEngine_ || perAppOverriddenFromUserEngine_ || perAppOverriddenVoice_)
        undoReadingOverrides();

    if (auto missing = permissions_.refresh(); !missing.empty()) {
        log_.error("read-aloud pressed but permissions incomplete: {}; presenting pre-screen", joined(missing, ", "));
        if (auto kind = permissions_.firstMissingPermission()) {
            if (presentPermissionPreScreen_)
                presentPermissionPreScreen_(*kind);
            else
                log_.info("permission pre-screen is not available in this build");
        }
        return;
    }

    applyPerAppOverride();

    // The key is read off the main thread (the keychain may wait for an
    // unlock); the reading counts as capturing meanwhile, so a second press
    // is ignored.
    state_ = State::capturing;
    if (isCloud(activeEngineKind_)) {
        (void)platform::spawn(main_, checkCredentialsThenCapture(this, lifetime_.weak(), activeEngineKind_));
        return;
    }
    beginCapture();
}

platform::Task<void> ReadAloudCoordinator::checkCredentialsThenCapture(ReadAloudCoordinator* self,
                                                                       std::weak_ptr<void> alive,
                                                                       ReadAloudEngineKind kind) {
    const bool hasKey = co_await self->keychain_.existsAsync(*keyOf(kind));
    if (alive.expired()) co_return;
    if (self->state_ != State::capturing || self->activeEngineKind_ != kind) {
        self->log_.info("read-aloud: state changed during capture; discarding");
        co_return;
    }
    if (!hasKey) {
        self->refuseForMissingCredential("credential");
        co_return;
    }
    // The voices that need a voice id would otherwise end the reading at once.
    if (kind == ReadAloudEngineKind::cartesia || kind == ReadAloudEngineKind::elevenlabs) {
        const auto voice = self->currentVoiceIdentifier();
        if (!voice || voice->empty()) {
            self->refuseForMissingCredential("voice id");
            co_return;
        }
    }
    self->beginCapture();
}

void ReadAloudCoordinator::refuseForMissingCredential(const char* what) {
    state_ = State::idle;
    log_.error("read-aloud pressed but {} is missing its {}; opening prefs", raw(activeEngineKind_), what);
    if (openReadAloudPreferences_)
        openReadAloudPreferences_();
    else
        log_.info("preferences window is not available in this build");
}

void ReadAloudCoordinator::beginCapture() {
    state_ = State::capturing;
    log_.info("read-aloud start: capturing selection");
    if (isCloud(activeEngineKind_)) (void)platform::spawn(background_, engines_.warmUpConnection(activeEngineKind_));
    (void)platform::spawn(main_, captureAndRead(this, lifetime_.weak()));
}

platform::Task<void> ReadAloudCoordinator::captureAndRead(ReadAloudCoordinator* self, std::weak_ptr<void> alive) {
    std::optional<std::string> captured;
    if (self->captureSelection_) captured = co_await self->captureSelection_();
    if (alive.expired()) co_return;

    if (!captured || captured->empty()) {
        self->log_.info("read-aloud: no selection captured");
        self->state_ = State::idle;
        self->publish();
        if (self->onNoSelection) self->onNoSelection();
        co_return;
    }
    if (self->state_ != State::capturing) {
        self->log_.info("read-aloud: state changed during capture; discarding");
        co_return;
    }

    NormalizedSpeech speech = self->normalizer_.normalize(*captured);
    if (speech.text.empty()) {
        self->log_.info("read-aloud: nothing to speak after normalization");
        self->state_ = State::idle;
        self->publish();
        if (self->onNoSelection) self->onNoSelection();
        co_return;
    }

    if (self->summarizeThisSession_) {
        self->state_ = State::summarizing;
        self->publish();
        std::optional<std::string> summary = co_await summarize(self, alive, speech.text);
        if (alive.expired()) co_return;
        if (self->state_ != State::summarizing) {
            self->log_.info("read-aloud: cancelled during summarize; discarding");
            co_return;
        }
        if (summary) {
            self->spokenMarks_.clear();
            self->guardAndSpeak(*summary);
        } else {
            self->spokenMarks_ = std::move(speech.marks);
            self->guardAndSpeak(speech.text);
        }
        co_return;
    }

    self->spokenMarks_ = std::move(speech.marks);
    self->guardAndSpeak(speech.text);
}

platform::Task<std::optional<std::string>> ReadAloudCoordinator::summarize(ReadAloudCoordinator* self,
                                                                           std::weak_ptr<void> alive,
                                                                           std::string text) {
    std::unique_ptr<RefinementClient> client = self->onDeviceClient_ ? self->onDeviceClient_() : nullptr;
    if (!client) {
        self->log_.info("summarize-read: Apple Intelligence unavailable; reading full text");
        if (self->onSummarizeFallback) self->onSummarizeFallback(kNoOnDeviceModelMessage);
        co_return std::nullopt;
    }
    const std::int64_t before = charCount(text);
    auto summary = co_await ChunkedSummarizer{}.summarize(std::move(text), SummaryLength::short_,
                                                          modelCallFor(*client), kSummaryBudget,
                                                          kSummaryTimeoutSeconds);
    if (alive.expired()) co_return std::nullopt;
    if (summary) {
        self->log_.info("summarize-read: {} → {} chars on-device", before, charCount(*summary));
        co_return std::move(*summary);
    }
    self->log_.error("summarize-read failed: {}; reading full text", summary.error().description);
    // A reading stopped meanwhile reads nothing, so there is nothing to announce.
    if (self->state_ == State::summarizing && self->onSummarizeFallback)
        self->onSummarizeFallback(kSummaryFailedMessage);
    co_return std::nullopt;
}

void ReadAloudCoordinator::guardAndSpeak(const std::string& text) {
    const std::int64_t count = charCount(text);
    log_.info("read-aloud: speaking {} chars via {}", count, raw(activeEngineKind_));
    const std::string voiceName = engine_->voiceDisplayName(currentVoiceIdentifier());
    ReadAloudCostGuard::Outcomes outcomes{
        .speakWithZoe = [this, &text] { speakWithZoe(text); },
        .speakWithActiveEngine = [this, &text] { speakWithActiveEngine(text); },
        .endReading =
            [this] {
                state_ = State::idle;
                publish();
            },
    };
    costGuard_.guard({.charCount = count, .kind = activeEngineKind_, .voiceDisplayName = voiceName,
                      .autoDowngradeForLargeReads = preferences_.autoDowngradeForLargeReads.get()},
                     outcomes);
}

void ReadAloudCoordinator::speakWithActiveEngine(const std::string& text) {
    state_ = State::speaking;
    if (onSpeakStarted) onSpeakStarted(text);
    lastSpeakText_ = text;
    didFallbackThisSession_ = false;
    engine_->speak(text, currentVoiceIdentifier(), preferences_.readAloudRate.get());
}

void ReadAloudCoordinator::speakWithZoe(const std::string& text) {
    downgradedFromUserEngine_ = activeEngineKind_;
    swapEngine(ReadAloudEngineKind::appleSpeech);
    state_ = State::speaking;
    if (onSpeakStarted) onSpeakStarted(text);
    lastSpeakText_ = text;
    didFallbackThisSession_ = false;
    engine_->speak(text, std::string(kZoeVoiceIdentifier), appleRate(preferences_.readAloudRate.get()));
}

// ---- Engine callbacks

void ReadAloudCoordinator::handleEngineState(const SpeechSynthesisState& state) {
    engineState_ = state;
    if (state.kind == SpeechSynthesisState::Case::finished) {
        log_.info("read-aloud finished naturally");
        state_ = State::idle;
        lastSpeakText_.reset();
        spokenMarks_.clear();
        summarizeThisSession_ = false;
        undoReadingOverrides();
    }
    publish();
}

void ReadAloudCoordinator::handleEngineError(const platform::Error& error) {
    log_.error("read-aloud engine error: {} — engine={} didFallback={}", error.description, raw(activeEngineKind_),
               didFallbackThisSession_);
    record(LookoutClient::Category::readAloudError, "engine error",
                    platform::ReportData{{"engine", raw(activeEngineKind_)},
                                         {"did_fallback", std::string(didFallbackThisSession_ ? "true" : "false")},
                                         {"error", error.description}});

    if (activeEngineKind_ != ReadAloudEngineKind::appleSpeech && !didFallbackThisSession_ && lastSpeakText_) {
        const ReadAloudEngineKind failed = activeEngineKind_;
        const std::string text = *lastSpeakText_;
        didFallbackThisSession_ = true;
        downgradedFromUserEngine_ = failed;
        swapEngine(ReadAloudEngineKind::appleSpeech);
        log_.info("read-aloud auto-fallback: {} → appleSpeech after engine error; re-speaking {} chars", raw(failed),
                  charCount(text));
        state_ = State::speaking;
        lastSpeakText_ = text;
        if (onSpeakStarted) onSpeakStarted(text);
        engine_->speak(text, std::string(kZoeVoiceIdentifier), appleRate(preferences_.readAloudRate.get()));
        return;
    }
    state_ = State::idle;
    engineState_ = SpeechSynthesisState::idle();
    lastSpeakText_.reset();
    publish();
}

// ---- The panel's snapshot

void ReadAloudCoordinator::record(LookoutClient::Category category, const std::string& message,
                                  platform::ReportData data) {
    if (record_) record_(category, message, std::move(data));
}

void ReadAloudCoordinator::publish() {
    if (onUIStateChange) onUIStateChange(makeUIState());
}

ReadAloudUIState ReadAloudCoordinator::makeUIState() const {
    using Mode = ReadAloudUIState::Mode;
    ReadAloudUIState ui;
    if (engineState_.kind == SpeechSynthesisState::Case::loading) {
        ui.mode = Mode::loading;
    } else {
        switch (state_) {
            case State::idle:
            case State::capturing: ui.mode = Mode::hidden; break;
            case State::summarizing: ui.mode = Mode::summarizing; break;
            case State::speaking: ui.mode = Mode::speaking; break;
            case State::userPaused:
            case State::pausedForArbitration: ui.mode = Mode::paused; break;
        }
    }
    if (engineState_.hasSentence()) {
        ui.sentenceIndex = engineState_.sentenceIndex;
        ui.totalSentences = engineState_.totalSentences;
        ui.currentText = engineState_.currentText;
    }
    ui.currentMarks = marksOfSentence(spokenMarks_, lastSpeakText_.value_or(std::string()), ui.currentText);
    ui.voiceIdentifier = currentVoiceIdentifier();
    ui.voiceName = engine_->voiceDisplayName(ui.voiceIdentifier);
    ui.availableVoices = voicePickerEntries();
    ui.rate = preferences_.readAloudRate.get();
    ui.activeEngine = activeEngineKind_;
    ui.downgradedFromEngine = downgradedFromUserEngine_;
    if (activeEngineKind_ == ReadAloudEngineKind::kokoro)
        if (auto* kokoro = kokoroEngine()) {
            const auto status = kokoro->initializationStatus();
            ui.kokoroInitializing = status == KokoroEngine::InitializationStatus::notStarted ||
                                    status == KokoroEngine::InitializationStatus::downloading;
        }
    ui.isSummary = summarizeThisSession_;
    return ui;
}

std::vector<SpeechMark> ReadAloudCoordinator::marksOfSentence(const std::vector<SpeechMark>& marks,
                                                              const std::string& text, const std::string& sentence) {
    if (marks.empty() || sentence.empty()) return {};
    const std::size_t at = text.find(sentence);
    if (at == std::string::npos) return {};
    const std::int64_t start = charCount(std::string_view(text).substr(0, at));
    const std::int64_t end = start + charCount(sentence);
    std::vector<SpeechMark> out;
    for (const auto& mark : marks)
        if (mark.range.lowerBound >= start && mark.range.upperBound <= end) out.push_back(mark);
    return out;
}

// ---- Engines

std::shared_ptr<SpeechSynthesisEngine> ReadAloudCoordinator::makeEngine(ReadAloudEngineKind kind) {
    std::shared_ptr<SpeechSynthesisEngine> engine = engines_.makeEngine(kind);
    // Disconnecting flips the link rather than emptying the callbacks: the
    // engine may be inside one of them when it is replaced.
    engineLink_ = std::make_shared<bool>(true);
    engine->onStateChange = lifetime_.guard([this, link = engineLink_](const SpeechSynthesisState& s) {
        if (*link) handleEngineState(s);
    });
    engine->onError = lifetime_.guard([this, link = engineLink_](const platform::Error& e) {
        if (*link) handleEngineError(e);
    });
    return engine;
}

void ReadAloudCoordinator::swapEngine(ReadAloudEngineKind kind) {
    if (kind == activeEngineKind_) return;
    log_.info("read-aloud engine swap: {} → {}", raw(activeEngineKind_), raw(kind));
    record(LookoutClient::Category::engineSelected, "read-aloud engine swap",
                    platform::ReportData{{"previous_engine", raw(activeEngineKind_)}, {"engine", raw(kind)}});

    std::shared_ptr<SpeechSynthesisEngine> old = engine_;
    old->stop();  // its idle report still arrives
    *engineLink_ = false;
    retired_.push_back(std::move(old));
    main_.post(lifetime_.guard([this] { retired_.clear(); }));

    engine_ = makeEngine(kind);
    activeEngineKind_ = kind;
    state_ = State::idle;
    engineState_ = SpeechSynthesisState::idle();
    publish();
    if (kind == ReadAloudEngineKind::kokoro) startKokoroPreparation();
    observeKokoroInitialization();
}

KokoroEngine* ReadAloudCoordinator::kokoroEngine() const { return dynamic_cast<KokoroEngine*>(engine_.get()); }

namespace {
platform::Task<void> prewarmIfAlive(std::weak_ptr<KokoroEngine> weak) {
    if (auto engine = weak.lock()) co_await engine->prewarm();
}
}  // namespace

void ReadAloudCoordinator::startKokoroPreparation() {
    if (!kokoroEngine()) return;
    std::weak_ptr<KokoroEngine> weak = std::dynamic_pointer_cast<KokoroEngine>(engine_);
    (void)platform::spawn(main_, prewarmIfAlive(std::move(weak)));
}

void ReadAloudCoordinator::observeKokoroInitialization() {
    auto* kokoro = kokoroEngine();
    if (!kokoro) return;
    // May be called on any thread: only the hop to the main executor happens here.
    kokoro->onInitializationStatusChange = [this, alive = lifetime_.weak(),
                                            &main = main_](KokoroEngine::InitializationStatus status) {
        main.post([this, alive, status] {
            if (!alive.expired()) handleKokoroInitFailure(status);
        });
    };
}

void ReadAloudCoordinator::handleKokoroInitFailure(KokoroEngine::InitializationStatus status) {
    publish();
    if (status != KokoroEngine::InitializationStatus::failed || activeEngineKind_ != ReadAloudEngineKind::kokoro)
        return;
    log_.error(
        "read-aloud: kokoro init failed; auto-falling back to Apple Speech for this session (preference unchanged, "
        "retries next launch)");
    record(LookoutClient::Category::kokoroDownloadFailed,
                    "kokoro initialization failed; auto-fallback to Apple Speech",
                    platform::ReportData{{"failure_reason", std::string("huggingface_unreachable")}});
    swapEngine(ReadAloudEngineKind::appleSpeech);
}

// ---- Per-application overrides and moves to the system voice

void ReadAloudCoordinator::applyPerAppOverride() {
    const auto frontmost = workspace_.frontmostApplication();
    const auto rule =
        PerAppRule::lookup(frontmost ? frontmost->bundleIdentifier : std::nullopt, preferences_.perAppRules.get());
    if (!rule) return;
    if (rule->readAloudEngine && *rule->readAloudEngine != activeEngineKind_) {
        log_.info("read-aloud per-app override: {} wants engine {} (saved is {})", rule->appName,
                  raw(*rule->readAloudEngine), raw(activeEngineKind_));
        perAppOverriddenFromUserEngine_ = activeEngineKind_;
        swapEngine(*rule->readAloudEngine);
    }
    if (rule->readAloudVoiceIdentifier && !rule->readAloudVoiceIdentifier->empty()) {
        log_.info("read-aloud per-app override: {} wants voice {}", rule->appName, *rule->readAloudVoiceIdentifier);
        perAppOverriddenVoice_ = rule->readAloudVoiceIdentifier;
    }
}

void ReadAloudCoordinator::restorePerAppOverride() {
    perAppOverriddenVoice_.reset();
    if (auto user = perAppOverriddenFromUserEngine_) {
        perAppOverriddenFromUserEngine_.reset();
        if (*user != activeEngineKind_) swapEngine(*user);
    }
}

void ReadAloudCoordinator::undoReadingOverrides() {
    if (auto user = downgradedFromUserEngine_) {
        downgradedFromUserEngine_.reset();
        if (*user != ReadAloudEngineKind::appleSpeech) swapEngine(*user);
    }
    restorePerAppOverride();
}

// ---- Voices

std::optional<std::string> ReadAloudCoordinator::currentVoiceIdentifier() const {
    if (perAppOverriddenVoice_) return perAppOverriddenVoice_;
    return preferences_.voiceIdentifier(activeEngineKind_);
}

void ReadAloudCoordinator::setVoice(const std::string& identifier) {
    record(LookoutClient::Category::voiceChanged, "read-aloud voice changed",
                    platform::ReportData{{"engine", raw(activeEngineKind_)}, {"voice", identifier}});
    switch (activeEngineKind_) {
        case ReadAloudEngineKind::appleSpeech: preferences_.readAloudVoiceIdentifier.set(identifier); break;
        case ReadAloudEngineKind::kokoro:
            preferences_.kokoroVoiceIdentifier.set(identifier);
            if (auto* kokoro = kokoroEngine(); kokoro && kokoro->voiceIdentifier != identifier) {
                kokoro->voiceIdentifier = identifier;
                kokoro->cancelPendingSyntheses();
            }
            break;
        case ReadAloudEngineKind::openai:
            if (auto voice = fromRawValue<OpenAITTSVoice>(identifier)) preferences_.openAIVoice.set(*voice);
            break;
        case ReadAloudEngineKind::cartesia:
        case ReadAloudEngineKind::elevenlabs: return;
    }
    publish();
}

const std::vector<std::string>& ReadAloudCoordinator::excludedSystemVoiceNames() {
    static const std::vector<std::string> names{
        "Albert", "Bad News", "Bahh",    "Bells",   "Boing",   "Bubbles", "Cellos",   "Deranged", "Good News",
        "Hysterical", "Jester", "Junior", "Kathy", "Organ", "Pipe Organ", "Princess", "Ralph", "Trinoids",
        "Whisper", "Wobble", "Zarvox", "Grandma", "Grandpa", "Rocko", "Superstar"};
    return names;
}

std::vector<VoicePickerEntry> ReadAloudCoordinator::systemVoiceEntries(
    const std::vector<platform::SpeechVoice>& voices) {
    const auto& excluded = excludedSystemVoiceNames();
    std::vector<platform::SpeechVoice> kept;
    for (const auto& v : voices)
        if (v.language.starts_with("en") && std::find(excluded.begin(), excluded.end(), v.name) == excluded.end())
            kept.push_back(v);
    std::stable_sort(kept.begin(), kept.end(), [](const auto& a, const auto& b) {
        const int qa = qualityRank(a.quality), qb = qualityRank(b.quality);
        return qa != qb ? qa < qb : a.name < b.name;
    });
    std::vector<VoicePickerEntry> out;
    for (const auto& v : kept) {
        std::string name = v.name;
        if (v.quality == "premium")
            name += " (Premium)";
        else if (v.quality == "enhanced")
            name += " (Enhanced)";
        out.push_back({v.identifier, std::move(name)});
    }
    return out;
}

std::vector<VoicePickerEntry> ReadAloudCoordinator::voicePickerEntries() const {
    switch (activeEngineKind_) {
        case ReadAloudEngineKind::appleSpeech:
            if (!systemVoiceEntries_) systemVoiceEntries_ = systemVoiceEntries(engines_.systemVoices());
            return *systemVoiceEntries_;
        case ReadAloudEngineKind::kokoro: {
            std::vector<VoicePickerEntry> out;
            for (const auto& v : KokoroVoiceCatalog::voices())
                out.push_back({std::string(v.id), std::string(v.displayName) +
                                                      (v.accent == KokoroVoiceCatalog::Accent::british ? " (UK)" : "")});
            return out;
        }
        case ReadAloudEngineKind::openai: {
            std::vector<VoicePickerEntry> out;
            for (auto voice : allCases<OpenAITTSVoice>())
                out.push_back({std::string(rawValue(voice)), std::string(displayLabel(voice))});
            return out;
        }
        case ReadAloudEngineKind::cartesia:
        case ReadAloudEngineKind::elevenlabs: return {};
    }
    return {};
}

float ReadAloudCoordinator::appleRate(float userRate) {
    const float d = platform::kSpeechDefaultRate;
    const float m = 2 * userRate;
    float rate;
    if (!(m >= 0.5f))
        rate = d * 0.5f;
    else if (m <= 1)
        rate = d * m;
    else if (m < 2)
        rate = d + (m - 1) * 0.07f;
    else
        rate = d + 0.07f;
    return std::clamp(rate, platform::kSpeechMinimumRate, platform::kSpeechMaximumRate);
}

}  // namespace parlowen
