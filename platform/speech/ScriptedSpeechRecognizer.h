#pragma once

// The test double of the speech recogniser: records every request and task,
// and lets a test deliver partial results, final results and errors to a
// task's handler from the double's own thread, as a real recogniser does.

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/speech/SpeechRecognizer.h"

namespace platform {

class ScriptedSpeechRecognizer : public SpeechRecognizer {
public:
    struct Request : SpeechAudioRequest {
        explicit Request(SpeechRequestOptions o) : options(std::move(o)) {}
        void append(const PcmBuffer& buffer) override;
        void endAudio() override;
        int appendedBuffers() const;
        std::uint64_t appendedFrames() const;
        bool audioEnded() const;

        const SpeechRequestOptions options;

    private:
        mutable std::mutex mutex_;
        int buffers_ = 0;
        std::uint64_t frames_ = 0;
        bool ended_ = false;
    };

    struct Task : SpeechRecognitionTask {
        SpeechTaskState state() const override;
        void cancel() override;
        bool cancelled() const;
        void setState(SpeechTaskState s);

        std::shared_ptr<Request> request;
        SpeechResultHandler handler;

    private:
        mutable std::mutex mutex_;
        SpeechTaskState state_ = SpeechTaskState::running;
        bool cancelled_ = false;
    };

    explicit ScriptedSpeechRecognizer(std::string locale = "en-US", bool onDevice = true);
    ~ScriptedSpeechRecognizer() override;

    std::string localeIdentifier() const override { return locale_; }
    bool supportsOnDeviceRecognition() const override { return onDevice_; }
    bool resetsTranscriptSilently() const override { return resetsSilently_; }
    void setResetsTranscriptSilently(bool resets) { resetsSilently_ = resets; }
    std::shared_ptr<SpeechAudioRequest> makeRequest(SpeechRequestOptions options) override;
    std::shared_ptr<SpeechRecognitionTask> recognitionTask(std::shared_ptr<SpeechAudioRequest> request,
                                                           SpeechResultHandler handler) override;

    // Tasks in the order they were started.
    int taskCount() const;
    std::shared_ptr<Task> task(int index) const;
    std::shared_ptr<Task> lastTask() const;

    // Delivers to task `index`'s handler on the double's thread and returns
    // once the handler has returned. A final result or an error completes
    // the task first, as the platform's does.
    void emitResult(int index, const std::string& text, bool isFinal = false);
    void emitError(int index, Error error);
    void emitResultAndError(int index, const std::string& text, bool isFinal, Error error);
    // The same, without waiting for the handler (for handlers that block).
    void emitResultLater(int index, const std::string& text, bool isFinal = false);
    // Waits until everything emitted so far has been handled.
    void drain();

private:
    void deliver(int index, std::optional<SpeechRecognitionResult> result, std::optional<Error> error, bool wait);
    void run();

    std::string locale_;
    bool onDevice_;
    bool resetsSilently_ = true;
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<Task>> tasks_;

    std::mutex queueMutex_;
    std::condition_variable queueChanged_;
    std::deque<std::function<void()>> queue_;
    std::uint64_t posted_ = 0;
    std::uint64_t handled_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace platform
