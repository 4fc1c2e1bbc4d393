#include "Parlowen/dictation/DictationCoordinator.h"

#include <algorithm>
#include <cmath>

#include "Parlowen/dictation/AudioCapture.h"
#include "Parlowen/dictation/VoiceCommands.h"
#include "Parlowen/shell/KeychainStore.h"
#include "Parlowen/shell/settings/PreferencesStore.h"
#include "platform/accessibility/Accessibility.h"
#include "platform/log/Log.h"
#include "platform/text/Unicode.h"
#include "platform/x11/Workspace.h"

namespace parlowen {

namespace {

const platform::Logger& log() {
    static const platform::Logger logger("com.kelvatrum.Parlowen", "dictation");
    return logger;
}

std::string joined(const std::vector<std::string>& parts, std::string_view separator) {
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i) out += separator;
        out += parts[i];
    }
    return out;
}

// The hints first, then the rule's phrases; the first of equal texts keeps its place.
std::vector<std::string> contextualStringsFor(const std::vector<std::string>& hints,
                                              const std::optional<PerAppRule>& rule) {
    std::vector<std::string> all = hints;
    if (rule) all.insert(all.end(), rule->extraContextualPhrases.begin(), rule->extraContextualPhrases.end());
    std::vector<std::string> out;
    out.reserve(all.size());
    for (auto& s : all)
        if (std::find(out.begin(), out.end(), s) == out.end()) out.push_back(std::move(s));
    return out;
}

void cancelTask(std::optional<platform::JoinHandle<void>>& task) {
    if (task) task->cancel();
    task.reset();
}

void keepRunning(std::vector<platform::JoinHandle<void>>& tasks, platform::JoinHandle<void> task) {
    std::erase_if(tasks, [](const platform::JoinHandle<void>& t) { return t.done(); });
    tasks.push_back(std::move(task));
}

}  // namespace

platform::Error toError(EngineResolutionError) {
    return platform::Error::make(
        kEngineResolutionErrorDomain, 0, "groqAPIKeyMissing",
        "The operation couldn’t be completed. (Parlowen.DictationCoordinator.EngineResolutionError error 0.)");
}

DictationCoordinator::DictationCoordinator(Dependencies d)
    : permissions_(d.permissions),
      preferences_(d.preferences),
      hud_(d.hud),
      audio_(d.audio),
      inserter_(d.inserter),
      engines_(d.engines),
      keychain_(d.keychain),
      accessibility_(d.accessibility),
      workspace_(d.workspace),
      main_(d.main),
      locale_(std::move(d.locale)),
      applicationIsActive_(std::move(d.applicationIsActive)),
      keyWindowClassName_(std::move(d.keyWindowClassName)),
      presentPermissionPreScreen_(std::move(d.presentPermissionPreScreen)),
      vocabularyLearner_(d.preferences) {
    // The value current now is skipped; setting the same value again does nothing.
    observations_ += preferences_.dictationEngineMode.stream().removeDuplicates().dropFirst().subscribe(
        [this, weak = lifetime_.weak()](const DictationEngineMode&) {
            main_.post([this, weak] {
                if (!weak.expired()) prewarmEngine();
            });
        });
}

DictationCoordinator::~DictationCoordinator() {
    lifetime_.end();
    observations_.clear();
    setFeedTarget(nullptr);
    if (audioBound_) {
        audio_.setOnBuffer({});
        audio_.setOnAmplitude({});
    }
    // Stopping waits for a buffer in flight, so nothing reaches this object afterwards.
    audio_.stop();
    if (auto* pending = std::get_if<PendingFinalize>(&state_)) pending->finalizeWork.cancel();
    if (throttleDetectionTask_) throttleDetectionTask_->cancel();
    if (sessionCapTask_) sessionCapTask_->cancel();
    for (auto& task : backgroundTasks_) task.cancel();
}

// ---- Audio

void DictationCoordinator::bindAudioCallbacks() {
    PARLOWEN_ASSERT_ON(main_);
    audioBound_ = true;
    audio_.setOnBuffer([this](const platform::PcmBuffer& buffer) { onBuffer(buffer); });
    audio_.setOnAmplitude([this, weak = lifetime_.weak()](float level) {
        const std::int64_t session = audioSession_.load(std::memory_order_relaxed);
        main_.post([this, weak, session, level] {
            if (!weak.expired()) handleLevel(session, level);
        });
    });
}

void DictationCoordinator::onBuffer(const platform::PcmBuffer& buffer) const {
    TranscriptionEngine* engine;
    {
        std::lock_guard lock(feedMutex_);
        engine = feedTarget_;
    }
    if (engine) engine->append(buffer);
}

TranscriptionEngine* DictationCoordinator::feedTarget() const {
    std::lock_guard lock(feedMutex_);
    return feedTarget_;
}

void DictationCoordinator::setFeedTarget(TranscriptionEngine* engine) {
    std::lock_guard lock(feedMutex_);
    feedTarget_ = engine;
}

void DictationCoordinator::handleLevel(std::int64_t session, float level) {
    if (!isActive() || session != sessionNumber_) return;
    hud_.pushAmplitude(level);
    if (level >= kAudibleLevel) audibleAudioDetected_ = true;
}

// ---- Gestures

void DictationCoordinator::handleHotkeyPress(Hotkey key) {
    PARLOWEN_ASSERT_ON(main_);
    if (isIdle()) {
        start(key);
        return;
    }
    if (auto* pending = std::get_if<PendingFinalize>(&state_); pending && pending->activeKey == key) {
        pending->finalizeWork.cancel();
        stop();
        log().info("double-tap detected (key={}); opening notepad", caseName(key));
        if (onNotepadRequested) onNotepadRequested();
    }
}

void DictationCoordinator::handleHotkeyRelease(Hotkey key) {
    PARLOWEN_ASSERT_ON(main_);
    auto* recording = std::get_if<Recording>(&state_);
    if (!recording || recording->activeKey != key) return;
    const std::int64_t held =
        std::chrono::duration_cast<std::chrono::milliseconds>(main_.now() - recording->pressTime).count();
    if (held > kShortTapMilliseconds) {
        stop();
        return;
    }
    if (partialsThisSession_ >= 1) {
        log().debug("short tap ({}ms) with speech — eager paste, skipping double-tap window", held);
        stop();
        return;
    }
    const std::int64_t session = sessionNumber_;
    auto engine = recording->engine;
    // The work item is cancelled by a double tap, a stop or a cancel; the
    // session check keeps a stray one from ending a later session.
    platform::TimerHandle work =
        main_.postAfter(kDoubleTapWindow, [this, weak = lifetime_.weak(), session] {
            if (weak.expired()) return;
            if (isPendingFinalize() && sessionNumber_ == session) stop();
        });
    state_ = PendingFinalize{key, std::move(engine), work};
    log().debug("short tap ({}ms) silent — waiting {}ms for double-tap", held,
                std::chrono::duration_cast<std::chrono::milliseconds>(kDoubleTapWindow).count());
}

void DictationCoordinator::toggle() {
    PARLOWEN_ASSERT_ON(main_);
    if (isActive()) {
        log().debug("toggle: finalizing active session");
        stop();
    } else if (isIdle()) {
        start(std::nullopt);
    }
}

void DictationCoordinator::finalizeForModeArbitration() {
    PARLOWEN_ASSERT_ON(main_);
    if (!isActive()) return;
    log().info("dictation cancelled by mode arbitration; finalizing");
    stop();
}

// ---- Start

bool DictationCoordinator::applicationIsActive() const { return applicationIsActive_ && applicationIsActive_(); }

std::optional<std::string> DictationCoordinator::frontmostBundleIdentifier() const {
    auto app = workspace_.frontmostApplication();
    return app ? app->bundleIdentifier : std::nullopt;
}

void DictationCoordinator::start(std::optional<Hotkey> activeKey) {
    // 1. A hold on another key is not the dictation gesture.
    if (activeKey) {
        const Gesture gesture = preferences_.dictationGesture.get();
        if (gesture.isHold() && gesture.hotkey() != activeKey) return;
    }

    // 2. Permissions.
    if (auto missing = permissions_.refresh(); !missing.empty()) {
        log().error("hotkey pressed but permissions incomplete: {}; presenting pre-screen", joined(missing, ", "));
        if (auto kind = permissions_.firstMissingPermission(); kind && presentPermissionPreScreen_)
            presentPermissionPreScreen_(*kind);
        return;
    }

    // 3. The frontmost application's rule.
    const auto frontmost = workspace_.frontmostApplication();
    const std::optional<std::string> bundleId = frontmost ? frontmost->bundleIdentifier : std::nullopt;
    const auto rule = PerAppRule::lookup(bundleId, preferences_.perAppRules.get());
    const DictationEngineMode mode =
        rule && rule->engineMode ? *rule->engineMode : preferences_.dictationEngineMode.get();

    // 4. The engine.
    std::shared_ptr<TranscriptionEngine> engine;
    bool systemEngine = false;
    if (auto resolved = resolveEngine(mode)) {
        engine = std::move(*resolved);
        systemEngine = cachedEngineKind_ == EngineKind::appleSpeech;
    } else if (resolved.error().is(kEngineResolutionErrorDomain, 0)) {
        log().error("groq selected but no API key in Keychain; falling back to Apple Speech for this press");
        if (onStartError) onStartError(kGroqKeyMissingNotice);
        auto fallback = engines_.makeSystemEngine(locale_);
        if (!fallback) {
            log().error("fallback AppleSpeechEngine also failed: {}", fallback.error().description);
            if (onStartError) onStartError(kFallbackFailedMessage);
            return;
        }
        engine = std::move(*fallback);
        systemEngine = true;
    } else {
        log().error("failed to resolve engine: {}", resolved.error().description);
        if (onStartError) onStartError(kResolveFailedPrefix + resolved.error().description);
        return;
    }

    // 5. Session wiring. Partial results carry the number this session is about to get.
    const LiveDisplayMode liveMode = preferences_.liveDisplayMode.get();
    const std::int64_t session = sessionNumber_ + 1;
    engine->setOnPartial([this, weak = lifetime_.weak(), main = &main_, session, liveMode](const std::string& text) {
        main->post([this, weak, session, liveMode, text] {
            if (!weak.expired()) handlePartial(session, liveMode, text);
        });
    });
    if (systemEngine)
        engines_.setContextualStrings(*engine,
                                      contextualStringsFor(preferences_.dictationContextualPhrases.get(), rule));

    // 6. Session reset.
    lastPartial_.clear();
    partialsThisSession_ = 0;
    audibleAudioDetected_ = false;
    cancelTask(throttleDetectionTask_);
    sessionNumber_ = session;
    audioSession_.store(session, std::memory_order_relaxed);

    // 7. Focus.
    capturedFocus_ = FocusSnapshot::capture(accessibility_, workspace_);

    // 8. From here on microphone buffers reach the engine.
    setFeedTarget(engine.get());

    // 9.
    state_ = Recording{activeKey, engine, main_.now()};
    if (onActiveStateChange) onActiveStateChange(true);

    // 10.
    log().info(
        "recording start session={} (key={}, engine={}, mode={}, liveMode={}, perAppRule={}) frontmost={} "
        "appActive={}",
        session, activeKey ? std::string(caseName(*activeKey)) : std::string("tap-combo"), engine->name(),
        rawValue(mode), rawValue(liveMode), rule ? rule->appName : std::string("none"),
        bundleId.value_or("nil"), applicationIsActive());

    // 11.
    if (liveMode == LiveDisplayMode::hud) {
        hud_.show(engine->name());
        std::string appName = frontmost && !frontmost->localizedName.empty() ? frontmost->localizedName : "this app";
        startThrottleDetection(session, std::move(appName));
    }

    // 12.
    if (mode == DictationEngineMode::speed) startSessionCap(session);

    // 13.
    keepRunning(backgroundTasks_, platform::spawn(main_, runStartCapture(this, lifetime_.weak(), engine, session)));
}

platform::Task<void> DictationCoordinator::runStartCapture(DictationCoordinator* self, std::weak_ptr<void> alive,
                                                           std::shared_ptr<TranscriptionEngine> engine,
                                                           std::int64_t session) {
    platform::Status started = co_await engine->start();
    if (alive.expired()) co_return;
    const bool current = self->sessionNumber_ == session && self->activeEngine() == engine;
    if (!started) {
        log().error("failed to start recording: {}", started.error().description);
        // A session that has ended meanwhile (or a newer one) is not this task's to tear down.
        if (current) self->startFailureTeardown(engine);
        co_return;
    }
    if (!self->isRecording() || self->sessionNumber_ != session) {
        log().info("session {} ended during engine warm-up; not starting audio", session);
        // A newer session may be recording with the same cached engine.
        if (self->sessionNumber_ == session || self->activeEngine() != engine) engine->cancel();
        co_return;
    }
    const platform::PcmFormat format = self->audio_.captureFormat();
    if (format.sampleRate > 0) engine->prepare(format);
    if (auto mic = self->audio_.start(); !mic) {
        log().error("failed to start recording: {}", mic.error().description);
        self->startFailureTeardown(engine);
    }
}

std::shared_ptr<TranscriptionEngine> DictationCoordinator::activeEngine() const {
    if (auto* r = std::get_if<Recording>(&state_)) return r->engine;
    if (auto* p = std::get_if<PendingFinalize>(&state_)) return p->engine;
    return nullptr;
}

void DictationCoordinator::startFailureTeardown(const std::shared_ptr<TranscriptionEngine>& engine) {
    setFeedTarget(nullptr);
    audio_.stop();
    engine->cancel();
    hud_.hide();
    cancelTask(sessionCapTask_);
    if (auto* pending = std::get_if<PendingFinalize>(&state_)) pending->finalizeWork.cancel();
    state_ = Idle{};
    capturedFocus_.reset();
    if (onActiveStateChange) onActiveStateChange(false);
    if (onStartError) onStartError(kMicrophoneStartFailedMessage);
}

void DictationCoordinator::handlePartial(std::int64_t session, LiveDisplayMode liveMode, const std::string& text) {
    if (!isRecording() || session != sessionNumber_) return;
    if (text == lastPartial_) return;
    lastPartial_ = text;
    ++partialsThisSession_;
    cancelTask(throttleDetectionTask_);
    std::string shown = applyVoiceCommands(text, preferences_.enabledVoiceCommands.get());
    if (liveMode == LiveDisplayMode::hud) hud_.updatePartial(std::move(shown));
}

// ---- Stop, finalisation, cancel

void DictationCoordinator::stop() {
    PARLOWEN_ASSERT_ON(main_);
    if (isIdle() || isFinishing()) return;
    if (auto* pending = std::get_if<PendingFinalize>(&state_)) pending->finalizeWork.cancel();
    auto engine = activeEngine();
    setFeedTarget(nullptr);
    state_ = Finishing{};
    audio_.stop();
    log().info("recording stop — finalizing (engine={})", engine->name());
    // The finalisation keeps the session it belongs to, even when a newer one begins meanwhile.
    FinalizeInput input{engine, sessionNumber_, partialsThisSession_, capturedFocus_};
    keepRunning(backgroundTasks_, platform::spawn(main_, runFinalize(this, lifetime_.weak(), std::move(input))));
}

platform::Task<void> DictationCoordinator::runFinalize(DictationCoordinator* self, std::weak_ptr<void> alive,
                                                       FinalizeInput input) {
    platform::Result<std::string> finished = co_await input.engine->finish();
    if (alive.expired()) co_return;
    if (!finished) {
        log().error("finalize failed: {}", finished.error().description);
        if (self->onFinalizeError) self->onFinalizeError(kFinalizeFailedMessage);
        self->finishSession(input.session);
        co_return;
    }
    const std::string text = self->processor_.process(
        applyVoiceCommands(*finished, self->preferences_.enabledVoiceCommands.get()));
    if (text.empty()) {
        log().info("no speech recognized (partials={})", input.partials);
        self->finishSession(input.session);
        co_return;
    }
    log().info("transcribed {} chars (partials={})", platform::text::graphemeCount(text), input.partials);
    const std::optional<std::string> keyWindow =
        self->keyWindowClassName_ ? self->keyWindowClassName_() : std::nullopt;
    log().info("pre-insert session={} ax={} frontmost={} keyWindow={} appActive={}", input.session,
               self->accessibility_.isTrusted(), self->frontmostBundleIdentifier().value_or("nil"),
               keyWindow.value_or("nil"), self->applicationIsActive());
    const bool secure = input.focus && input.focus->isSecureField;
    self->inserter_.insert(text, std::move(input.focus));
    if (secure) {
        log().info("secure field — skipping vocab + history persistence for dictated text");
    } else {
        self->vocabularyLearner_.learn(text);
        if (self->onSessionFinalizedWithText) self->onSessionFinalizedWithText(text);
    }
    self->finishSession(input.session);
}

void DictationCoordinator::finishSession(std::int64_t session) {
    // A newer session began meanwhile (a cancel while finishing, then a
    // press): its panel, focus, watchdogs and state are not ours to end.
    if (session != sessionNumber_) {
        log().debug("session {} finalized after session {} began; leaving the newer session alone", session,
                    sessionNumber_);
        return;
    }
    hud_.hide();
    lastPartial_.clear();
    cancelTask(throttleDetectionTask_);
    cancelTask(sessionCapTask_);
    capturedFocus_.reset();
    state_ = Idle{};
    if (onActiveStateChange) onActiveStateChange(false);
    if (onSessionFinalized) onSessionFinalized();
}

void DictationCoordinator::cancel() {
    PARLOWEN_ASSERT_ON(main_);
    setFeedTarget(nullptr);
    audio_.stop();
    const bool wasActive = isActive();
    if (auto* recording = std::get_if<Recording>(&state_)) {
        recording->engine->cancel();
    } else if (auto* pending = std::get_if<PendingFinalize>(&state_)) {
        pending->engine->cancel();
        pending->finalizeWork.cancel();
    }
    cancelTask(sessionCapTask_);
    hud_.setSessionRemainingSeconds(std::nullopt);
    state_ = Idle{};
    capturedFocus_.reset();
    if (wasActive && onActiveStateChange) onActiveStateChange(false);
}

// ---- Engine choice and warm-up

void DictationCoordinator::dropCachedEngine() {
    cachedEngine_.reset();
    cachedEngineKind_.reset();
    cachedGroqKey_.clear();
    cachedGroqModel_.reset();
}

platform::Result<std::shared_ptr<TranscriptionEngine>> DictationCoordinator::resolveEngine(DictationEngineMode mode) {
    PARLOWEN_ASSERT_ON(main_);
    if (mode != DictationEngineMode::groq) return resolveSystemEngine();
    // The start of a session has no await point, so this read blocks the
    // main thread while a locked keyring shows its unlock prompt; the
    // warm-up reads the key off the main thread instead.
    return resolveCloudEngine(keychain_.read(KeychainStore::Key::groq));
}

platform::Result<std::shared_ptr<TranscriptionEngine>> DictationCoordinator::resolveSystemEngine() {
    if (cachedEngineKind_ == EngineKind::appleSpeech && cachedEngine_) return cachedEngine_;
    if (cachedEngine_) cachedEngine_->cancel();
    dropCachedEngine();
    auto made = engines_.makeSystemEngine(locale_);
    if (!made) return platform::fail(made.error());
    cachedEngine_ = std::move(*made);
    cachedEngineKind_ = EngineKind::appleSpeech;
    return cachedEngine_;
}

platform::Result<std::shared_ptr<TranscriptionEngine>> DictationCoordinator::resolveCloudEngine(
    const platform::Result<std::string>& key) {
    // The key is read at every resolution: a cloud engine built with another
    // key or model than the stored ones is rebuilt.
    const GroqTranscriptionModel model = preferences_.groqModel.get();
    if (key && !key->empty() && cachedEngineKind_ == EngineKind::groq && cachedEngine_ && cachedGroqKey_ == *key &&
        cachedGroqModel_ == model)
        return cachedEngine_;
    if (cachedEngine_) cachedEngine_->cancel();
    dropCachedEngine();
    if (!key || key->empty()) return platform::fail(toError(EngineResolutionError::groqAPIKeyMissing));
    cachedEngine_ = engines_.makeCloudEngine(*key, model);
    cachedEngineKind_ = EngineKind::groq;
    cachedGroqKey_ = *key;
    cachedGroqModel_ = model;
    return cachedEngine_;
}

void DictationCoordinator::prewarmEngine() {
    PARLOWEN_ASSERT_ON(main_);
    if (!isIdle()) {
        log().debug("prewarmEngine skipped — session active");
        return;
    }
    keepRunning(backgroundTasks_, platform::spawn(main_, runPrewarm(this, lifetime_.weak(), sessionNumber_)));
}

platform::Task<void> DictationCoordinator::runPrewarm(DictationCoordinator* self, std::weak_ptr<void> alive,
                                                      std::int64_t sessionAtStart) {
    const DictationEngineMode mode = self->preferences_.dictationEngineMode.get();
    std::optional<platform::Result<std::string>> groqKey;
    if (mode == DictationEngineMode::groq) {
        groqKey = co_await self->keychain_.readAsync(KeychainStore::Key::groq);
        if (alive.expired()) co_return;
    }
    // A session that began since the warm-up was asked for records with the
    // cached engine: resolving now could cancel it.
    if (!self->isIdle() || self->sessionNumber_ != sessionAtStart) {
        log().debug("prewarmEngine skipped — session active");
        co_return;
    }
    auto resolved = groqKey ? self->resolveCloudEngine(*groqKey) : self->resolveSystemEngine();
    if (!resolved) {
        log().error("engine prewarm failed: {}", resolved.error().description);
        co_return;
    }
    std::shared_ptr<TranscriptionEngine> engine = std::move(*resolved);
    platform::Status started = co_await engine->start();
    if (alive.expired()) co_return;
    if (!started) {
        log().error("engine prewarm failed: {}", started.error().description);
        co_return;
    }
    // Once a session has begun it records with this same cached engine: the
    // warm-up's cancel would end its recognition.
    if (self->isIdle() && self->sessionNumber_ == sessionAtStart) engine->cancel();
    log().info("prewarmed engine ({})", engine->name());
}

// ---- Watchdogs

void DictationCoordinator::startSessionCap(std::int64_t session) {
    if (sessionCapTask_) sessionCapTask_->cancel();
    sessionCapTask_ = platform::spawn(main_, runSessionCap(this, lifetime_.weak(), session, main_.now()));
}

platform::Task<void> DictationCoordinator::runSessionCap(DictationCoordinator* self, std::weak_ptr<void> alive,
                                                         std::int64_t session, platform::TimePoint startTime) {
    for (;;) {
        std::stop_token stop = co_await platform::currentStopToken();
        if (stop.stop_requested() || alive.expired()) co_return;
        if (!self->isRecording() || self->sessionNumber_ != session) co_return;
        const double elapsed = std::chrono::duration<double>(self->main_.now() - startTime).count();
        const int remaining = static_cast<int>(std::max(0.0, std::ceil(kSessionCapBaseSeconds - elapsed)));
        self->hud_.setSessionRemainingSeconds(remaining);
        if (elapsed >= kSessionCapLimitSeconds) {
            log().info("apple-speech cap hit at {:f}s; force-finalizing", elapsed);
            self->stop();
            co_return;
        }
        (void)co_await platform::sleepFor(kSessionCapPollInterval);
    }
}

void DictationCoordinator::startThrottleDetection(std::int64_t session, std::string appName) {
    throttleDetectionTask_ =
        platform::spawn(main_, runThrottleDetection(this, lifetime_.weak(), session, std::move(appName)));
}

platform::Task<void> DictationCoordinator::runThrottleDetection(DictationCoordinator* self, std::weak_ptr<void> alive,
                                                                std::int64_t session, std::string appName) {
    platform::Status slept = co_await platform::sleepFor(kThrottleDetectionDelay);
    if (!slept || alive.expired()) co_return;
    std::stop_token stop = co_await platform::currentStopToken();
    if (stop.stop_requested()) co_return;
    if (self->isRecording() && self->sessionNumber_ == session && self->partialsThisSession_ == 0 &&
        self->audibleAudioDetected_) {
        log().info("throttle detected: 0 partials in 1.5s with audible audio (frontmost={})", appName);
        self->hud_.showThrottleNotice(appName);
    }
}

}  // namespace parlowen
