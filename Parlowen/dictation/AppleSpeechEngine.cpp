#include "Parlowen/dictation/AppleSpeechEngine.h"

#include <algorithm>
#include <mutex>

#include "platform/log/Log.h"
#include "platform/text/Unicode.h"

namespace parlowen {

using platform::Error;
using platform::Result;
using platform::SpeechRecognitionResult;
using platform::Status;

namespace {

const platform::Logger& engineLog() {
    static const platform::Logger log("com.kelvatrum.Parlowen", "engine.apple");
    return log;
}

}  // namespace

platform::Error AppleSpeechError::recognizerUnavailable() {
    return Error::make(kDomain, static_cast<int>(Case::recognizerUnavailable), "recognizerUnavailable",
                       "The operation couldn’t be completed. (Parlowen.AppleSpeechEngine.AppleSpeechError error 0.)");
}

struct AppleSpeechEngine::Core : std::enable_shared_from_this<Core> {
    struct SessionState {
        std::shared_ptr<platform::SpeechAudioRequest> request;
        std::shared_ptr<platform::SpeechRecognitionTask> task;
        std::vector<std::string> finalizedSegments;
        std::string currentSegment;
        bool isShuttingDown = false;
        // The generation of the last task started, and of the running one (0: none).
        std::uint64_t lastGeneration = 0;
        std::uint64_t activeGeneration = 0;
        // Tasks in a row that ended without any text; text in the running task.
        int consecutiveFailures = 0;
        bool taskHadText = false;
    };

    Core(std::shared_ptr<platform::SpeechRecognizer> r, platform::Executor& b) : recognizer(std::move(r)), background(b) {}

    void startRecognitionTask();
    void handleRecognition(std::uint64_t generation, const std::optional<SpeechRecognitionResult>& result,
                           const std::optional<Error>& error);
    void cancel();
    // Under the lock: a task ended; whether to start another.
    bool taskEndedLocked(bool& gaveUp);
    // Outside the lock, after a task ended.
    void afterTaskEnded(bool restart, bool gaveUp);

    const std::shared_ptr<platform::SpeechRecognizer> recognizer;
    platform::Executor& background;

    mutable std::mutex mutex;
    SessionState state;
    PartialCallback onPartial;
    std::vector<std::string> contextualStrings;
};

bool AppleSpeechEngine::Core::taskEndedLocked(bool& gaveUp) {
    state.request.reset();
    state.task.reset();
    state.activeGeneration = 0;
    if (state.taskHadText) {
        state.consecutiveFailures = 0;
    } else {
        ++state.consecutiveFailures;
    }
    state.taskHadText = false;
    if (state.isShuttingDown) return false;
    // A recogniser that ends every task at once without text would otherwise be restarted forever.
    if (state.consecutiveFailures >= kMaxConsecutiveFailures) {
        gaveUp = true;
        return false;
    }
    return true;
}

void AppleSpeechEngine::Core::afterTaskEnded(bool restart, bool gaveUp) {
    if (gaveUp)
        engineLog().error("{} recognition tasks in a row ended without text; not starting another",
                          kMaxConsecutiveFailures);
    if (restart) startRecognitionTask();
}

void AppleSpeechEngine::Core::startRecognitionTask() {
    platform::SpeechRequestOptions options;
    options.shouldReportPartialResults = true;
    options.taskHint = platform::SpeechTaskHint::dictation;
    options.requiresOnDeviceRecognition = recognizer->supportsOnDeviceRecognition();
    std::size_t finalizedCount = 0;
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(mutex);
        // A cancel or finish that came in between: the session is over.
        if (state.isShuttingDown) return;
        options.contextualStrings = contextualStrings;
        finalizedCount = state.finalizedSegments.size();
        generation = ++state.lastGeneration;
        state.activeGeneration = generation;
    }
    engineLog().info("starting new recognition task (already finalized: {} segments)", finalizedCount);
    auto request = recognizer->makeRequest(std::move(options));
    std::weak_ptr<Core> weak = weak_from_this();
    auto task = recognizer->recognitionTask(
        request, [weak, generation](const std::optional<SpeechRecognitionResult>& result,
                                    const std::optional<Error>& error) {
            if (auto core = weak.lock()) core->handleRecognition(generation, result, error);
        });
    bool superseded = false;
    {
        std::lock_guard lock(mutex);
        if (state.activeGeneration == generation) {
            state.request = request;
            state.task = task;
        } else {
            superseded = true;  // it ended, or the session ended, before we got here
        }
    }
    if (superseded && task->state() != platform::SpeechTaskState::completed) {
        task->cancel();
        request->endAudio();
    }
}

void AppleSpeechEngine::Core::handleRecognition(std::uint64_t generation,
                                                const std::optional<SpeechRecognitionResult>& result,
                                                const std::optional<Error>& error) {
    if (result) {
        const std::string& text = result->bestTranscription;
        bool stale = false;
        bool restart = false;
        bool gaveUp = false;
        std::optional<std::string> resetSegment;
        std::string combined;
        PartialCallback callback;
        {
            std::lock_guard lock(mutex);
            if (generation != state.activeGeneration) {
                stale = true;
            } else {
                std::string& current = state.currentSegment;
                if (recognizer->resetsTranscriptSilently() && isSilentReset(current, text)) {
                    resetSegment = current;
                    state.finalizedSegments.push_back(current);
                }
                if (!text.empty()) {
                    current = text;
                    state.taskHadText = true;
                }
                combined = combinedTranscript(state.finalizedSegments, current);
                if (result->isFinal) {
                    if (!current.empty()) state.finalizedSegments.push_back(current);
                    current.clear();
                    restart = taskEndedLocked(gaveUp);
                }
                callback = onPartial;
            }
        }
        if (stale) {
            engineLog().debug("ignoring a result of a superseded recognition task");
        } else {
            if (resetSegment)
                engineLog().info("silent reset: finalizing \"{}\" before \"{}\"", platform::priv(*resetSegment),
                                 platform::priv(text));
            engineLog().debug("partial isFinal={} seg=\"{}\" combined=\"{}\"", result->isFinal, platform::priv(text),
                              platform::priv(combined));
            if (callback) callback(combined);
            afterTaskEnded(restart, gaveUp);
        }
    }
    if (error) {
        engineLog().error("recognition task error: {}", error->description);
        bool restart = false;
        bool gaveUp = false;
        {
            std::lock_guard lock(mutex);
            // Errors of an ended or superseded task, or while shutting down, change nothing.
            if (generation == state.activeGeneration && !state.isShuttingDown) {
                if (!state.currentSegment.empty()) state.finalizedSegments.push_back(state.currentSegment);
                state.currentSegment.clear();
                restart = taskEndedLocked(gaveUp);
            }
        }
        afterTaskEnded(restart, gaveUp);
    }
}

void AppleSpeechEngine::Core::cancel() {
    std::shared_ptr<platform::SpeechAudioRequest> request;
    std::shared_ptr<platform::SpeechRecognitionTask> task;
    {
        std::lock_guard lock(mutex);
        state.isShuttingDown = true;
        request = std::move(state.request);
        task = std::move(state.task);
        state.request.reset();
        state.task.reset();
        state.activeGeneration = 0;
        state.finalizedSegments.clear();
        state.currentSegment.clear();
    }
    if (task) task->cancel();
    if (request) request->endAudio();
}

// ------------------------------------------------------------------ engine

platform::Result<std::unique_ptr<AppleSpeechEngine>> AppleSpeechEngine::make(const std::string& locale,
                                                                             const RecognizerFactory& recognizers,
                                                                             platform::Executor& background) {
    auto recognizer = recognizers(locale);
    if (!recognizer) recognizer = recognizers(std::nullopt);
    if (!recognizer) return platform::fail(AppleSpeechError::recognizerUnavailable());
    return std::make_unique<AppleSpeechEngine>(std::move(recognizer), background);
}

AppleSpeechEngine::AppleSpeechEngine(std::shared_ptr<platform::SpeechRecognizer> recognizer,
                                     platform::Executor& background)
    : core_(std::make_shared<Core>(std::move(recognizer), background)) {}

AppleSpeechEngine::~AppleSpeechEngine() { core_->cancel(); }

TranscriptionEngine::PartialCallback AppleSpeechEngine::onPartial() const {
    std::lock_guard lock(core_->mutex);
    return core_->onPartial;
}

void AppleSpeechEngine::setOnPartial(PartialCallback callback) {
    std::lock_guard lock(core_->mutex);
    core_->onPartial = std::move(callback);
}

std::vector<std::string> AppleSpeechEngine::contextualStrings() const {
    std::lock_guard lock(core_->mutex);
    return core_->contextualStrings;
}

void AppleSpeechEngine::setContextualStrings(std::vector<std::string> strings) {
    std::lock_guard lock(core_->mutex);
    core_->contextualStrings = std::move(strings);
}

platform::Task<Status> AppleSpeechEngine::start() { return startImpl(core_); }

platform::Task<Status> AppleSpeechEngine::startImpl(std::shared_ptr<Core> core) {
    co_await platform::resumeOn(core->background);
    core->cancel();  // also drops the segments
    {
        std::lock_guard lock(core->mutex);
        core->state.isShuttingDown = false;
        core->state.consecutiveFailures = 0;
        core->state.taskHadText = false;
    }
    core->startRecognitionTask();
    co_return platform::ok();
}

void AppleSpeechEngine::append(const platform::PcmBuffer& buffer) {
    std::shared_ptr<platform::SpeechAudioRequest> request;
    {
        std::lock_guard lock(core_->mutex);
        request = core_->state.request;
    }
    if (request) request->append(buffer);
}

platform::Task<Result<std::string>> AppleSpeechEngine::finish() { return finishImpl(core_); }

platform::Task<Result<std::string>> AppleSpeechEngine::finishImpl(std::shared_ptr<Core> core) {
    co_await platform::resumeOn(core->background);
    std::shared_ptr<platform::SpeechAudioRequest> request;
    std::shared_ptr<platform::SpeechRecognitionTask> task;
    {
        std::lock_guard lock(core->mutex);
        core->state.isShuttingDown = true;
        request = core->state.request;
        task = core->state.task;
    }
    if (request && task) {
        request->endAudio();
        const platform::TimePoint deadline = core->background.now() + kFinishTimeout;
        while (true) {
            auto taskState = task->state();
            if (taskState == platform::SpeechTaskState::completed ||
                taskState == platform::SpeechTaskState::canceling)
                break;
            if (core->background.now() < deadline) {
                if (auto slept = co_await platform::sleepFor(kFinishPollInterval); !slept)
                    co_return platform::fail(slept.error());
                continue;
            }
            engineLog().error(
                "finish() timed out after 4s waiting for task to finalize; cancelling and returning current partials");
            task->cancel();
            break;
        }
        std::lock_guard lock(core->mutex);
        std::string combined = combinedTranscript(core->state.finalizedSegments, core->state.currentSegment);
        core->state.request.reset();
        core->state.task.reset();
        core->state.activeGeneration = 0;
        co_return combined;
    }
    std::lock_guard lock(core->mutex);
    co_return combinedTranscript(core->state.finalizedSegments, core->state.currentSegment);
}

void AppleSpeechEngine::cancel() { core_->cancel(); }

// ------------------------------------------------------------ segment rule

bool AppleSpeechEngine::isSilentReset(const std::string& previous, const std::string& next) {
    if (previous.empty() || next.empty()) return false;
    auto a = platform::text::graphemeBoundaries(previous);
    auto b = platform::text::graphemeBoundaries(next);
    // Boundaries include both ends: n characters have n + 1 of them.
    const std::size_t lengthA = a.size() - 1;
    const std::size_t lengthB = b.size() - 1;
    std::size_t common = 0;
    while (common < lengthA && common < lengthB) {
        std::string_view ca(previous.data() + a[common], a[common + 1] - a[common]);
        std::string_view cb(next.data() + b[common], b[common + 1] - b[common]);
        if (platform::text::caseInsensitiveCompare(ca, cb) != 0) break;
        ++common;
    }
    return common < std::min<std::size_t>({3, lengthA, lengthB}) && lengthA > 3;
}

std::string AppleSpeechEngine::combinedTranscript(const std::vector<std::string>& finalized,
                                                  const std::string& current) {
    std::string joined;
    bool first = true;
    auto add = [&](const std::string& piece) {
        if (!first) joined += ' ';
        joined += piece;
        first = false;
    };
    for (const auto& segment : finalized) add(segment);
    if (!current.empty()) add(current);
    return platform::text::trim(joined);
}

}  // namespace parlowen
