#include "Parlowen/notepad/NotepadCoordinator.h"

#include <algorithm>
#include <map>

#include "Parlowen/dictation/VoiceCommands.h"
#include "Parlowen/shell/PermissionsManager.h"
#include "Parlowen/shell/settings/PreferencesStore.h"
#include "platform/text/Unicode.h"

namespace parlowen {

using platform::spawn;

const std::string_view NotepadCoordinator::punctuationPolishPrompt =
    "You are a punctuation and capitalization corrector. The user will send raw dictated text. Return ONLY the "
    "corrected text with punctuation and capitalization fixed. Do not change any words. Do not paraphrase. Do not add "
    "or remove content. Do not wrap your response in quotation marks. If the text is already correct, return it "
    "unchanged.";

NotepadCoordinator::NotepadCoordinator(Dependencies d)
    : preferences_(d.preferences),
      permissions_(d.permissions),
      workspace_(d.workspace),
      pasteboard_(d.pasteboard),
      refinement_(d.refinement),
      audio_(std::move(d.audio)),
      notesExporter_(std::move(d.notesExporter)),
      makeEngine_(std::move(d.makeEngine)),
      main_(d.main),
      vocabularyLearner_(d.preferences) {}

NotepadCoordinator::~NotepadCoordinator() {
    lifetime_.end();
    for (auto* task : {&startTask_, &restartTask_, &polishTask_, &toneTask_}) task->cancel();
    pauseTimer_.cancel();
    audio_->stop();
    audio_->setOnBuffer({});
    audio_->setOnAmplitude({});
    if (auto engine = currentEngine()) engine->cancel();
    setEngine(nullptr);
}

// ---- Text ------------------------------------------------------------------------------

NotepadCoordinator::Merged NotepadCoordinator::mergePartial(std::string_view displayed,
                                                            std::optional<std::size_t> slotStart,
                                                            std::string_view partial) {
    const std::size_t length = platform::text::graphemeCount(displayed);
    if (!slotStart || *slotStart > length) {
        const bool noSeparator =
            displayed.empty() || displayed.back() == ' ' || displayed.back() == '\n' || displayed.back() == '\t';
        std::string base(displayed);
        if (!noSeparator) base += ' ';
        Merged merged{base, platform::text::graphemeCount(base)};
        merged.text += partial;
        return merged;
    }
    return {platform::text::graphemePrefix(displayed, *slotStart) + std::string(partial), *slotStart};
}

namespace {
// Whether a text ending at the slot and a partial starting there meet at a
// character boundary whatever comes before: an ASCII character other than CR
// before and other than LF after (none of them joins a neighbour into one
// character). Only then does the slot keep its byte offset across partials.
bool slotIsCleanBoundary(std::string_view before, std::string_view partial) {
    const bool left = before.empty() || (static_cast<unsigned char>(before.back()) < 0x80 && before.back() != '\r');
    const bool right =
        partial.empty() || (static_cast<unsigned char>(partial.front()) < 0x80 && partial.front() != '\n');
    return left && right;
}
}  // namespace

void NotepadCoordinator::replaceDisplayedText(std::string text) {
    slotByteOffset_.reset();
    expectedDisplayedText_ = text;
    displayedText_.set(std::move(text));
    changeCheck();
}

void NotepadCoordinator::setDisplayedText(std::string text) {
    PARLOWEN_ASSERT_ON(main_);
    slotByteOffset_.reset();
    displayedText_.set(std::move(text));
    changeCheck();
}

void NotepadCoordinator::changeCheck() {
    if (displayedText_.get() != expectedDisplayedText_) handleUserEdit();
}

void NotepadCoordinator::clearPartialSlot() {
    partialSlotStart_.reset();
    latestPartial_.clear();
}

void NotepadCoordinator::handleUserEdit() {
    clearPartialSlot();
    polishTask_.cancel();
    polishTask_ = {};
    isPolishing_.set(false);
    expectedDisplayedText_ = displayedText_.get();
    restartEngineAccumulator("user edit");
    logger_.info("notepad: user edit detected; partial slot invalidated (chars={})",
                 platform::text::graphemeCount(expectedDisplayedText_));
}

// ---- Opening and closing -----------------------------------------------------------------

bool NotepadCoordinator::permissionsGranted() const {
    const PermissionStates states = permissions_.states.get();
    auto granted = [&](PermissionKind kind) {
        auto it = states.find(kind);
        return it != states.end() && it->second == PermissionState::granted;
    };
    return granted(PermissionKind::microphone) && granted(PermissionKind::speech);
}

void NotepadCoordinator::open() {
    PARLOWEN_ASSERT_ON(main_);
    if (isOpen_.get()) return;
    if (!permissionsGranted()) {
        logger_.error("notepad open refused: permissions missing");
        return;
    }
    isOpen_.set(true);
    replaceDisplayedText("");
    clearPartialSlot();
    saveState_.set(SaveState::idle());
    logger_.info("notepad open");
    startRecording();
}

void NotepadCoordinator::openWithSeedText(const std::string& text) {
    PARLOWEN_ASSERT_ON(main_);
    if (isOpen_.get()) {
        logger_.error("notepad openWithSeedText called while already open; appending");
        const std::string current = displayedText_.get();
        // Written as an edit of the user's: the slot is dropped and the
        // recogniser starts over, so the next partial cannot overwrite the seed.
        setDisplayedText(current.empty() ? text : current + "\n\n" + text);
        return;
    }
    if (!permissionsGranted()) {
        logger_.error("notepad openWithSeedText refused: permissions missing");
        return;
    }
    isOpen_.set(true);
    replaceDisplayedText(text);
    clearPartialSlot();
    saveState_.set(SaveState::idle());
    logger_.info("notepad open with seed: {} chars", platform::text::graphemeCount(text));
}

void NotepadCoordinator::close() {
    PARLOWEN_ASSERT_ON(main_);
    if (!isOpen_.get()) return;
    stopRecording();  // cancels the polish too
    toneTask_.cancel();
    vocabularyLearner_.learn(displayedText_.get());
    isOpen_.set(false);
    suggestedToneID_.set(std::nullopt);
    logger_.info("notepad close");
}

// ---- Recording -------------------------------------------------------------------------

std::shared_ptr<TranscriptionEngine> NotepadCoordinator::currentEngine() const {
    std::lock_guard lock(engineSlot_->mutex);
    return engineSlot_->engine;
}

void NotepadCoordinator::setEngine(std::shared_ptr<TranscriptionEngine> engine) {
    std::shared_ptr<TranscriptionEngine> previous;
    {
        std::lock_guard lock(engineSlot_->mutex);
        previous = std::exchange(engineSlot_->engine, std::move(engine));
    }
    ++engineSlot_->run;
    // `previous` is released here, outside the lock.
}

void NotepadCoordinator::startRecording() {
    PARLOWEN_ASSERT_ON(main_);
    // A start still on its way to the microphone counts as recording: a second
    // recogniser would be left running unattended.
    if (isRecording_.get() || startingEngine_) return;

    std::optional<std::string> bundleId;
    if (auto front = workspace_.frontmostApplication()) bundleId = front->bundleIdentifier;
    const std::optional<PerAppRule> rule = PerAppRule::lookup(bundleId, preferences_.perAppRules.get());
    std::vector<std::string> hints = preferences_.dictationContextualPhrases.get();
    if (rule && !rule->extraContextualPhrases.empty()) {
        hints.insert(hints.end(), rule->extraContextualPhrases.begin(), rule->extraContextualPhrases.end());
        std::vector<std::string> unique;  // each phrase keeps its first position
        for (auto& phrase : hints)
            if (std::find(unique.begin(), unique.end(), phrase) == unique.end()) unique.push_back(std::move(phrase));
        hints = std::move(unique);
    }

    auto made = makeEngine_(std::move(hints));
    if (!made || !*made) {
        logger_.error("notepad engine init failed: {}",
                      made ? std::string("no recognizer") : made.error().description);
        return;
    }
    std::shared_ptr<TranscriptionEngine> engine = std::move(*made);

    std::weak_ptr<EngineSlot> slot = engineSlot_;
    std::weak_ptr<void> alive = lifetime_.weak();
    platform::Executor* main = &main_;
    NotepadCoordinator* self = this;
    engine->setOnPartial([slot, alive, main, self](const std::string& text) {
        auto s = slot.lock();
        if (!s) return;
        const std::uint64_t run = s->run.load();
        main->post([slot, alive, self, run, text] {
            auto s = slot.lock();
            if (alive.expired() || !s || s->run.load() != run) return;
            self->handlePartial(text);
        });
    });

    suggestedToneID_.set(rule ? rule->toneID : std::nullopt);
    if (rule) logger_.info("notepad per-app rule active: {} toneID={}", rule->appName, rule->toneID.value_or("(none)"));

    setEngine(engine);
    startingEngine_ = engine;
    startTask_ = spawn(main_, startTask(alive, this, std::move(engine)));
}

platform::Task<void> NotepadCoordinator::startTask(std::weak_ptr<void> alive, NotepadCoordinator* self,
                                                   std::shared_ptr<TranscriptionEngine> engine) {
    if (alive.expired()) co_return;
    platform::Status started = co_await engine->start();
    if (alive.expired()) co_return;
    if (self->startingEngine_ == engine) self->startingEngine_.reset();
    // Stopped (or closed) while the recogniser was starting: leave the microphone off.
    if (self->currentEngine() != engine) co_return;
    if (!started) {
        if (started.error().isCancellation()) co_return;
        self->logger_.error("notepad recording start failed: {}", started.error().description);
        engine->cancel();
        self->setEngine(nullptr);
        co_return;
    }

    std::weak_ptr<EngineSlot> slot = self->engineSlot_;
    // The capture thread: one engine reference taken under the lock, the
    // buffer handed over outside it; nothing allocated.
    self->audio_->setOnBuffer([slot](const platform::PcmBuffer& buffer) {
        auto s = slot.lock();
        if (!s) return;
        std::shared_ptr<TranscriptionEngine> current;
        {
            std::lock_guard lock(s->mutex);
            current = s->engine;
        }
        if (current) current->append(buffer);
    });
    platform::Executor* main = &self->main_;
    self->audio_->setOnAmplitude([alive, main, self](float level) {
        main->post([alive, self, level] {
            if (!alive.expired()) self->handleAmplitude(level);
        });
    });

    engine->prepare(self->audio_->engine().inputFormat());
    platform::Status mic = self->audio_->start();
    if (!mic) {
        self->logger_.error("notepad recording start failed: {}", mic.error().description);
        if (auto current = self->currentEngine()) current->cancel();
        self->setEngine(nullptr);
        co_return;
    }
    self->isRecording_.set(true);
    self->logger_.info("notepad recording started");
}

void NotepadCoordinator::stopRecording() {
    PARLOWEN_ASSERT_ON(main_);
    pauseTimer_.cancel();
    startTask_.cancel();
    startingEngine_.reset();
    restartTask_.cancel();
    if (audio_->isRunning()) audio_->stop();
    audio_->setOnBuffer({});
    audio_->setOnAmplitude({});
    pendingAmplitudes_.assign(kLevelWindow, 0.0f);
    amplitudes_.set(std::vector<float>(kLevelWindow, 0.0f));
    lastAmplitudePublishAt_.reset();
    if (auto engine = currentEngine()) engine->cancel();
    setEngine(nullptr);
    isRecording_.set(false);
    clearPartialSlot();
    polishTask_.cancel();
    polishTask_ = {};
    logger_.info("notepad recording stopped");
}

void NotepadCoordinator::handlePartial(const std::string& partial) {
    if (!isRecording_.get()) return;
    latestPartial_ = applyVoiceCommands(partial, preferences_.enabledVoiceCommands.get());
    const std::string& displayed = displayedText_.get();
    Merged merged;
    std::size_t slotByte = 0;
    if (partialSlotStart_ && slotByteOffset_ && *slotByteOffset_ <= displayed.size() &&
        slotIsCleanBoundary(std::string_view(displayed).substr(0, *slotByteOffset_), latestPartial_)) {
        // The text is what the last partial made of it, so the slot holds
        // the same characters at the same bytes: what mergePartial would
        // give, without counting the whole text.
        slotByte = *slotByteOffset_;
        merged = {displayed.substr(0, slotByte) + latestPartial_, *partialSlotStart_};
    } else {
        merged = mergePartial(displayed, partialSlotStart_, latestPartial_);
        slotByte = merged.text.size() - latestPartial_.size();
    }
    const bool clean = slotIsCleanBoundary(std::string_view(merged.text).substr(0, slotByte), latestPartial_);
    partialSlotStart_ = merged.slotStart;
    replaceDisplayedText(std::move(merged.text));
    if (clean) slotByteOffset_ = slotByte;
    restartPauseTimer();
}

void NotepadCoordinator::restartPauseTimer() {
    // A plain delayed post on the main executor: it also fires while a menu is open.
    pauseTimer_ = main_.postAfter(kPauseInterval, lifetime_.guard([this] { runPausePolish(); }));
}

void NotepadCoordinator::restartEngineAccumulator(std::string_view reason) {
    auto engine = currentEngine();
    if (!isRecording_.get() || !engine) return;
    logger_.info("notepad: restarting engine accumulator ({})", reason);
    engine->cancel();
    ++engineSlot_->run;
    restartTask_ = spawn(main_, restartTask(lifetime_.weak(), this, std::move(engine)));
}

platform::Task<void> NotepadCoordinator::restartTask(std::weak_ptr<void> alive, NotepadCoordinator* self,
                                                     std::shared_ptr<TranscriptionEngine> engine) {
    if (alive.expired() || !self->isRecording_.get() || self->currentEngine() != engine) co_return;
    (void)co_await engine->start();
}

void NotepadCoordinator::handleAmplitude(float level) {
    std::rotate(pendingAmplitudes_.begin(), pendingAmplitudes_.begin() + 1, pendingAmplitudes_.end());
    pendingAmplitudes_.back() = level;
    const platform::TimePoint now = main_.now();
    if (lastAmplitudePublishAt_ && now - *lastAmplitudePublishAt_ < kLevelPublishInterval) return;
    lastAmplitudePublishAt_ = now;
    amplitudes_.set(pendingAmplitudes_);
}

// ---- Copy and save -----------------------------------------------------------------------

void NotepadCoordinator::copyToClipboard() {
    PARLOWEN_ASSERT_ON(main_);
    const std::string text = displayedText_.get();
    pasteboard_.clearContents();
    pasteboard_.setString(text);
    logger_.info("notepad copied {} chars to clipboard", platform::text::graphemeCount(text));
}

platform::Task<void> NotepadCoordinator::saveToAppleNotes() { return saveTask(lifetime_.weak(), this); }

platform::Task<void> NotepadCoordinator::saveTask(std::weak_ptr<void> alive, NotepadCoordinator* self) {
    if (alive.expired()) co_return;
    const std::string text = self->displayedText_.get();
    if (text.empty()) co_return;
    self->saveState_.set(SaveState::saving());
    ExportResult result = co_await self->notesExporter_->saveToNotes(std::nullopt, text);
    if (alive.expired()) co_return;
    if (!result) {
        const std::string message = result.error().description();
        self->saveState_.set(SaveState::failed(message));
        self->logger_.error("notepad save to Notes failed: {}", message);
        spawn(self->main_, resetSaveState(alive, self, kFailedResetDelay, SaveState::Case::failed));
        co_return;
    }
    self->saveState_.set(SaveState::saved());
    self->logger_.info("notepad saved to Apple Notes");
    spawn(self->main_, resetSaveState(alive, self, kSavedResetDelay, SaveState::Case::saved));
}

platform::Task<void> NotepadCoordinator::resetSaveState(std::weak_ptr<void> alive, NotepadCoordinator* self,
                                                        platform::Duration delay, SaveState::Case from) {
    (void)co_await platform::sleepFor(delay);
    if (alive.expired()) co_return;
    if (self->saveState_.get().kind == from) self->saveState_.set(SaveState::idle());
}

// ---- Polish and rewrites -------------------------------------------------------------------

void NotepadCoordinator::endPass(std::uint64_t latest, std::uint64_t generation) {
    if (latest == generation) isPolishing_.set(false);
}

void NotepadCoordinator::runPausePolish() {
    if (latestPartial_.empty()) return;
    if (!preferences_.aiRefinementEnabled.get() || !preferences_.polishPunctuationEnabled.get()) return;
    // On the device only, whatever model the rewrites use.
    std::unique_ptr<RefinementClient> client = onDeviceClient(refinement_);
    if (!client) return;
    polishTask_.cancel();
    isPolishing_.set(true);
    polishTask_ = spawn(main_, polishTask(lifetime_.weak(), this, std::move(client), latestPartial_, partialSlotStart_,
                                          ++polishGeneration_));
}

platform::Task<void> NotepadCoordinator::polishTask(std::weak_ptr<void> alive, NotepadCoordinator* self,
                                                    std::unique_ptr<RefinementClient> client, std::string text,
                                                    std::optional<std::size_t> slotStart, std::uint64_t generation) {
    if (alive.expired()) co_return;
    platform::Result<std::string> answer =
        co_await client->refine(text, std::string(punctuationPolishPrompt), kPolishTimeout);
    if (alive.expired()) co_return;
    const bool cancelled = (co_await platform::currentStopToken()).stop_requested();
    if (!answer) {
        if (!answer.error().isCancellation())
            self->logger_.debug("notepad polish bypassed: {}", answer.error().description);
    } else if (!cancelled && self->latestPartial_ == text && slotStart && self->partialSlotStart_ == slotStart &&
               platform::text::graphemeCount(self->displayedText_.get()) >= *slotStart) {
        self->replaceDisplayedText(platform::text::graphemePrefix(self->displayedText_.get(), *slotStart) + *answer);
        self->clearPartialSlot();
        self->restartEngineAccumulator("pause-boundary polish");
    }
    self->endPass(self->polishGeneration_, generation);
}

void NotepadCoordinator::rewrite(bool isAgent, std::string systemPrompt, std::string label) {
    PARLOWEN_ASSERT_ON(main_);
    const std::string text = displayedText_.get();
    if (text.empty()) return;
    if (!preferences_.aiRefinementEnabled.get()) return;
    const CleanUpModel model = preferences_.cleanUpModel.get();
    std::unique_ptr<RefinementClient> client = rewriteClient(model, isAgent, refinement_);
    if (!client) {
        logger_.error("notepad rewrite skipped ({}): no client for {}", label, rawValue(model));
        return;
    }
    toneTask_.cancel();
    isPolishing_.set(true);
    toneTask_ = spawn(main_, rewriteTask(lifetime_.weak(), this, std::move(client), text, std::move(systemPrompt),
                                         std::move(label), ++rewriteGeneration_));
}

platform::Task<void> NotepadCoordinator::rewriteTask(std::weak_ptr<void> alive, NotepadCoordinator* self,
                                                     std::unique_ptr<RefinementClient> client, std::string text,
                                                     std::string systemPrompt, std::string label,
                                                     std::uint64_t generation) {
    if (alive.expired()) co_return;
    platform::Result<std::string> answer = co_await client->refine(text, std::move(systemPrompt), kRewriteTimeout);
    if (alive.expired()) co_return;
    const bool cancelled = (co_await platform::currentStopToken()).stop_requested();
    if (!answer) {
        if (!answer.error().isCancellation())
            self->logger_.error("notepad rewrite failed ({}): {}", label, answer.error().description);
    } else if (cancelled) {
        // Replaced by a newer rewrite, or the Notepad closed: nothing lands.
    } else if (self->displayedText_.get() != text) {
        // The answer stands for the text that was sent: anything typed or
        // dictated meanwhile would be lost under it, so it is dropped instead.
        self->logger_.info("notepad rewrite dropped ({}): the text changed while it ran", label);
    } else {
        self->clearPartialSlot();
        self->replaceDisplayedText(std::move(*answer));
        // The recogniser starts over, so its next partial does not bring back the words from before.
        self->restartEngineAccumulator("rewrite");
    }
    self->endPass(self->rewriteGeneration_, generation);
}

NotepadCoordinator::EngineFactory NotepadCoordinator::systemRecognizerEngines(
    std::string locale, AppleSpeechEngine::RecognizerFactory recognizers, platform::Executor& background) {
    // One recogniser serves every recording. An engine may end on the
    // recogniser's own thread (its last result handler letting go of it);
    // were the recogniser owned by that engine alone, it would be destroyed
    // on, and wait for, its own thread.
    struct Cache {
        std::mutex mutex;
        std::map<std::optional<std::string>, std::shared_ptr<platform::SpeechRecognizer>> byLocale;
    };
    auto cache = std::make_shared<Cache>();
    AppleSpeechEngine::RecognizerFactory cached = [cache, recognizers = std::move(recognizers)](
                                                      const std::optional<std::string>& wanted) {
        std::lock_guard lock(cache->mutex);
        auto& slot = cache->byLocale[wanted];
        if (!slot) slot = recognizers(wanted);
        return slot;
    };
    return [locale = std::move(locale), cached = std::move(cached),
            &background](std::vector<std::string> hints) -> platform::Result<std::shared_ptr<TranscriptionEngine>> {
        auto engine = AppleSpeechEngine::make(locale, cached, background);
        if (!engine) return platform::fail(engine.error());
        (*engine)->setContextualStrings(std::move(hints));
        return std::shared_ptr<TranscriptionEngine>(std::move(*engine));
    };
}

}  // namespace parlowen
