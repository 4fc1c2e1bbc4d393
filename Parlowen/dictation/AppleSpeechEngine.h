#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Parlowen/dictation/TranscriptionEngine.h"
#include "platform/runtime/Executor.h"
#include "platform/speech/SpeechRecognizer.h"

namespace parlowen {

// The system recogniser engine's failures (domain "AppleSpeechEngine.AppleSpeechError").
// It has no text of its own: its description is the platform's generic one.
struct AppleSpeechError {
    static constexpr const char* kDomain = "AppleSpeechEngine.AppleSpeechError";
    enum class Case { recognizerUnavailable = 0 };
    static platform::Error recognizerUnavailable();
};

// The default TranscriptionEngine: streams the audio into the system speech
// recogniser and keeps one continuous transcript across its recognition
// tasks. The recogniser ends a task on its own (a final result after a
// pause, an error) or silently throws away its hypothesis and starts over;
// the engine keeps the closed segments and the one in progress, starts a new
// task whenever one ends while the session runs, and joins the segments.
//
// All session state sits behind one mutex that no call out of the engine
// (recogniser, onPartial, logging) is made under. Every task carries its
// generation: results and errors of a task that is no longer the running one
// are ignored. After kMaxConsecutiveFailures tasks in a row that end without
// any text, no new task is started for the rest of the session.
class AppleSpeechEngine : public TranscriptionEngine {
public:
    // The recogniser for a locale, or for the system's default locale when
    // given none; nullptr when there is none.
    using RecognizerFactory =
        std::function<std::shared_ptr<platform::SpeechRecognizer>(const std::optional<std::string>& locale)>;

    static constexpr int kMaxConsecutiveFailures = 3;
    static constexpr platform::Duration kFinishTimeout = std::chrono::seconds(4);
    static constexpr platform::Duration kFinishPollInterval = std::chrono::milliseconds(50);

    // The recogniser for `locale`, else for the default locale, else
    // AppleSpeechError::recognizerUnavailable.
    static platform::Result<std::unique_ptr<AppleSpeechEngine>> make(const std::string& locale,
                                                                     const RecognizerFactory& recognizers,
                                                                     platform::Executor& background);
    AppleSpeechEngine(std::shared_ptr<platform::SpeechRecognizer> recognizer, platform::Executor& background);
    ~AppleSpeechEngine() override;

    std::string name() const override { return "Apple Speech"; }
    PartialCallback onPartial() const override;
    void setOnPartial(PartialCallback callback) override;

    // Recognition hints, set before start(); read each time a task begins.
    std::vector<std::string> contextualStrings() const;
    void setContextualStrings(std::vector<std::string> strings);

    platform::Task<platform::Status> start() override;
    void append(const platform::PcmBuffer& buffer) override;
    platform::Task<platform::Result<std::string>> finish() override;
    void cancel() override;

    // The recogniser threw its hypothesis away: `next` does not continue `previous`.
    static bool isSilentReset(const std::string& previous, const std::string& next);
    static std::string combinedTranscript(const std::vector<std::string>& finalized, const std::string& current);

    struct Core;

private:
    static platform::Task<platform::Status> startImpl(std::shared_ptr<Core> core);
    static platform::Task<platform::Result<std::string>> finishImpl(std::shared_ptr<Core> core);

    std::shared_ptr<Core> core_;
};

}  // namespace parlowen
