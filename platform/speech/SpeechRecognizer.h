#pragma once

// The system speech recogniser: audio goes into a request, a recognition
// task reports partial and final transcripts (or an error) to a handler on
// the recogniser's own thread. The PocketSphinx implementation is in
// PocketSphinxRecognizer.h; the scriptable double in ScriptedSpeechRecognizer.h.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio/PcmBuffer.h"
#include "platform/runtime/Error.h"

namespace platform {

enum class SpeechTaskHint { unspecified, dictation, search, confirmation };

struct SpeechRequestOptions {
    bool shouldReportPartialResults = true;
    SpeechTaskHint taskHint = SpeechTaskHint::unspecified;
    bool requiresOnDeviceRecognition = false;
    // Words and phrases the audio is likely to hold. A recogniser that cannot
    // use hints ignores them.
    std::vector<std::string> contextualStrings;
};

// Where the audio of one recognition goes.
class SpeechAudioRequest {
public:
    virtual ~SpeechAudioRequest() = default;
    // One buffer in any PCM format (the microphone's own). Called on the
    // audio thread: copies the samples and returns; allocates nothing.
    virtual void append(const PcmBuffer& buffer) = 0;
    // No more audio: the task ends with a final result for what it has.
    virtual void endAudio() = 0;
};

enum class SpeechTaskState { starting, running, finishing, canceling, completed };

struct SpeechRecognitionResult {
    std::string bestTranscription;
    bool isFinal = false;
};

// A running recognition. It ends by itself with a final result (after the
// speaker paused, or after endAudio), with an error, or when cancelled.
class SpeechRecognitionTask {
public:
    virtual ~SpeechRecognitionTask() = default;
    virtual SpeechTaskState state() const = 0;
    // Stops recognising; the handler gets a cancellation error unless the task had ended.
    virtual void cancel() = 0;
};

// Called on the recogniser's thread with a result, an error, or both (the
// result first). A task's last call carries a final result or an error.
using SpeechResultHandler =
    std::function<void(const std::optional<SpeechRecognitionResult>& result, const std::optional<Error>& error)>;

class SpeechRecognizer {
public:
    virtual ~SpeechRecognizer() = default;
    // "en-US"
    virtual std::string localeIdentifier() const = 0;
    virtual bool supportsOnDeviceRecognition() const = 0;
    // Whether a task's transcript may start over after a pause without
    // ending the task, dropping what it had said. A recogniser that never
    // does may still revise a partial into text that begins differently:
    // that is a revision, not a new segment.
    virtual bool resetsTranscriptSilently() const { return true; }
    virtual std::shared_ptr<SpeechAudioRequest> makeRequest(SpeechRequestOptions options) = 0;
    // Starts recognising what arrives in `request` (made by this recogniser).
    virtual std::shared_ptr<SpeechRecognitionTask> recognitionTask(std::shared_ptr<SpeechAudioRequest> request,
                                                                   SpeechResultHandler handler) = 0;
};

// Errors of the "SpeechRecognizer" domain.
enum class SpeechRecognizerErrorCode { modelUnavailable = 1, unsupportedAudio = 2 };
Error speechRecognizerError(SpeechRecognizerErrorCode code, std::string description);

}  // namespace platform
